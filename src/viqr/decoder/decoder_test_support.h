// Helpers shared by the decoder's tests.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>

#include "viqr/decoder/contexts.h"
#include "viqr/decoder/viqr_decoder.h"

namespace toneshift::testing_support {

inline std::string bytes(std::initializer_list<int> values) {
    std::string s;
    for (int v : values) s += static_cast<char>(v);
    return s;
}

// Every test starts with all slots free and freshly built class tables, whatever the tests
// before it left in the shared state.
class DecoderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        for (int ctx = 0; ctx < 3; ++ctx) viqr_close(ctx, nullptr, nullptr);
        viqr_record scratch{};
        viqr_reset(&scratch);
    }

    static detail::decoder_context& slot(int ctx) {
        return detail::context_slots[static_cast<std::size_t>(ctx)];
    }

    // Whether every field of every slot equals its value in a copy taken earlier.
    static bool same_slots(const std::array<detail::decoder_context, 3>& was) {
        for (std::size_t i = 0; i < 3; ++i) {
            const detail::decoder_context& a = detail::context_slots[i];
            const detail::decoder_context& b = was[i];
            if (a.in_use != b.in_use || a.state != b.state || a.escape_char != b.escape_char ||
                a.erase_char != b.erase_char || a.deferred != b.deferred ||
                a.pending_char != b.pending_char || a.resume_state != b.resume_state ||
                std::memcmp(&a.record, &b.record, sizeof a.record) != 0)
                return false;
        }
        return true;
    }

    // The dialogue's context: compose mode, "\\", backspace; deferred mode where asked.
    static int open_dialogue_context(bool deferred) {
        const int ctx = viqr_open(VIQR_MODE_COMPOSE, '\\', 0x08);
        EXPECT_GE(ctx, 0);
        if (deferred) viqr_set(ctx, 1, VIQR_DEFERRED);
        return ctx;
    }

    // Feeds every byte of input, one viqr_step call each, and returns all bytes written.
    static std::string feed(int ctx, const std::string& input, int* last_state = nullptr) {
        std::string written;
        for (char ch : input) {
            unsigned char out[2] = {0xEE, 0xEE};
            int count = -1;
            const int state = viqr_step(ctx, static_cast<unsigned char>(ch), out, &count);
            EXPECT_GE(count, 0);
            EXPECT_LE(count, 2);
            EXPECT_EQ(state, slot(ctx).state);
            if (count >= 0 && count <= 2)
                written.append(reinterpret_cast<const char*>(out), static_cast<std::size_t>(count));
            if (last_state != nullptr) *last_state = state;
        }
        return written;
    }

    static std::string flush(int ctx) {
        unsigned char out[2] = {0xEE, 0xEE};
        int count = -1;
        viqr_flush(ctx, out, &count);
        EXPECT_GE(count, 0);
        EXPECT_LE(count, 2);
        if (count < 0 || count > 2) return "<bad count>";
        return std::string(reinterpret_cast<const char*>(out), static_cast<std::size_t>(count));
    }
};

}  // namespace toneshift::testing_support
