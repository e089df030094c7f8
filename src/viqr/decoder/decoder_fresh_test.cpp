// What holds in a program that has not yet opened a context or reset a record. Each check
// runs in a newly started process of its own (a death test in the "threadsafe" style
// re-executes the test binary), so no other test's use of the shared state can reach it.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "viqr/decoder/class_tables.h"
#include "viqr/decoder/contexts.h"
#include "viqr/decoder/viqr_decoder.h"

namespace toneshift {
namespace {

// Runs check in a fresh process; the process reports the first fact that failed.
template <typename Check>
void in_fresh_process(Check check) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            const std::string failure = check();
            if (!failure.empty()) std::fprintf(stderr, "%s\n", failure.c_str());
            std::_Exit(failure.empty() ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(FreshProgram, EveryByteHasClassZeroAndComposesToItself) {
    in_fresh_process([]() -> std::string {
        for (int b = 0; b < 256; ++b)
            if (default_class_table[std::size_t(b)] != 0 || active_class_table[std::size_t(b)] != 0)
                return "byte " + std::to_string(b) + " has a class";
        viqr_record record{};
        for (int b = 0; b < 256; ++b) {
            int held = -1;
            int composed = -1;
            const int r = viqr_compose(&record, static_cast<unsigned char>(b), &held, &composed);
            if (r != b || held != 0 || composed != 0)
                return "byte " + std::to_string(b) + " did not pass unchanged";
        }
        return "";
    });
}

TEST(FreshProgram, AContextOpenedInState3ReturnsToComposeMode) {
    in_fresh_process([]() -> std::string {
        for (const detail::decoder_context& c : detail::context_slots)
            if (c.in_use != 0 || c.state != 0 || c.resume_state != 0 || c.pending_char != 0)
                return "a slot is not zero";
        const int ctx = viqr_open(VIQR_AFTER_ESCAPE, '\\', 0x08);
        if (ctx != 0) return "open gave " + std::to_string(ctx);
        unsigned char out[2] = {0, 0};
        int count = -1;
        const int state = viqr_step(ctx, '\\', out, &count);
        if (count != 1 || out[0] != 0x5C) return "the escape character was not written once";
        if (state != VIQR_MODE_COMPOSE) return "state " + std::to_string(state);
        return "";
    });
}

}  // namespace
}  // namespace toneshift
