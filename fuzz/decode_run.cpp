// viqr_decode_run against viqr_step byte by byte. The input starts with a header: the start
// state, the escape character, a byte of switches, then the number of run lengths (with a
// moved mark) and the lengths (a run of 1 + 8 x its byte, so that runs reach past the size
// at which the vector code copies out its buffer); the rest is the text. Two contexts with
// the same parameters are fed the text, one in runs of those lengths and one a byte at a
// time; after every run the bytes written and every field of the two contexts must agree.
//
// The switches: bit 0 deferred mode, bits 1-3 the instruction set the vector code runs on
// (the best one where the CPU lacks it), bits 5-7 which mark to move when bit 7 of the
// fourth byte asks for it; bits 4-6 of that byte choose the byte the mark moves to.
#include <hwy/targets.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz_check.h"
#include "tables/simd_dispatch.h"
#include "viqr/decoder/contexts.h"
#include "viqr/decoder/viqr_decoder.h"

namespace toneshift {
namespace {

using fuzzing::Bytes;
using fuzzing::check;

bool same_context(const detail::decoder_context& a, const detail::decoder_context& b) {
    return a.state == b.state && a.escape_char == b.escape_char && a.erase_char == b.erase_char &&
           a.deferred == b.deferred && a.pending_char == b.pending_char &&
           a.resume_state == b.resume_state &&
           std::memcmp(&a.record, &b.record, sizeof a.record) == 0;
}

void run(const std::uint8_t* data, std::size_t size) {
    if (size < 4) return;
    const int state = data[0] % 6;
    const unsigned char escape = data[1];
    const bool deferred = data[2] % 2 != 0;
    const std::int64_t targets[] = {0,        HWY_AVX2,   HWY_SSE4,   HWY_SSSE3,
                                    HWY_NEON, HWY_EMU128, HWY_SCALAR, 0};
    const std::int64_t target = targets[data[2] >> 1 & 7];
    simd::restrict_targets_for_test(0);
    simd::restrict_targets_for_test((simd::supported_targets() & target) != 0 ? target : 0);
    std::size_t header = 4 + data[3] % 16;
    if (header > size) header = size;
    const Bytes lengths(data + 4, data + header);
    const std::uint8_t* text = data + header;
    const std::size_t n = size - header;

    for (int ctx = 0; ctx < 3; ++ctx) viqr_close(ctx, nullptr, nullptr);
    const int fast = viqr_open(state, escape, 0x08);
    const int reference = viqr_open(state, escape, 0x08);
    check(fast >= 0 && reference >= 0, "two contexts open");
    viqr_set(fast, deferred, VIQR_DEFERRED);
    viqr_set(reference, deferred, VIQR_DEFERRED);
    if ((data[3] & 0x80) != 0) {  // a mark moved, in the class table that both share
        const unsigned char moved_to[] = {'x', 'a', 'd', 0xE2, '\\', 0, 'V', '-'};
        viqr_record scratch{};
        viqr_reset(&scratch);
        viqr_set_mark("(^+'`?~."[data[2] >> 5], moved_to[data[3] >> 4 & 7], &scratch);
    }
    // Open leaves some fields as the slot's last user left them: start from equal contexts.
    detail::context_slots[std::size_t(reference)] = detail::context_slots[std::size_t(fast)];

    Bytes out, expected;
    for (std::size_t from = 0, k = 0; from < n; ++k) {
        std::size_t length = lengths.empty() ? n : 1 + lengths[k % lengths.size()] * 8u;
        if (length > n - from) length = n - from;
        out.assign(2 * length + 1, 0xA5);
        const std::size_t m = viqr_decode_run(fast, text + from, length, out.data());
        check(m <= 2 * length, "at most two bytes per byte");
        for (std::size_t j = m; j < out.size(); ++j)
            check(out[j] == 0xA5, "nothing past the count");
        expected.clear();
        for (std::size_t i = from; i < from + length; ++i) {
            unsigned char two[2];
            int count = 0;
            viqr_step(reference, text[i], two, &count);
            expected.insert(expected.end(), two, two + count);
        }
        check(Bytes(out.begin(), out.begin() + long(m)) == expected, "the same bytes written");
        check(same_context(detail::context_slots[std::size_t(fast)],
                           detail::context_slots[std::size_t(reference)]),
              "the same context afterwards");
        from += length;
    }
}

}  // namespace
}  // namespace toneshift

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    toneshift::run(data, size);
    return 0;
}
