// The converter's fast loops, compiled once for every instruction set that Highway targets;
// the best one the CPU offers is chosen at each call (simd_dispatch.h). Vectors of 16 bytes
// suffice: in Vietnamese text a run of printable ASCII is about ten bytes long.
// clang-format off
#include "tables/simd_dispatch.h"  // before Highway's headers
// clang-format on

#include "convert/fast_runs.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "convert/characters.h"
#include "tables/letter_unicode.h"

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "convert/fast_runs.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include "tables/simd_mask-inl.h"

HWY_BEFORE_NAMESPACE();
namespace toneshift::convert_detail::HWY_NAMESPACE {
namespace {

namespace hn = hwy::HWY_NAMESPACE;

#if HWY_TARGET == HWY_SCALAR
// Eight bytes at a time, in a 64-bit word.
constexpr std::size_t kWidth = 8;

// Copies the next kWidth bytes to w and says how many of them lead as printable ASCII.
inline std::size_t copy_printable(const unsigned char* in, unsigned char* w) {
    constexpr std::uint64_t kHigh = 0x8080808080808080, kSpaces = 0x2020202020202020;
    std::uint64_t eight;
    std::memcpy(&eight, in, 8);
    std::memcpy(w, &eight, 8);
    // In memory order, up to the first byte at or above 0x80 or below 0x20, whose high bit
    // this sets.
    const std::uint64_t stops = (eight | ((eight - kSpaces) & ~eight)) & kHigh;
    return stops == 0 ? 8 : std::size_t(__builtin_ctzll(stops)) / 8;
}
#else
constexpr std::size_t kWidth = 16;

// Copies the next kWidth bytes to w and says how many of them lead as printable ASCII.
HWY_ATTR inline std::size_t copy_printable(const unsigned char* in, unsigned char* w) {
    const hn::FixedTag<std::uint8_t, 16> d;
    const hn::FixedTag<std::int8_t, 16> di;
    const auto v = hn::LoadU(d, in);
    hn::StoreU(v, d, w);
    // As signed bytes, those at or above 0x80 are negative: one comparison finds both ends.
    // (The mask's bits, counted, cost fewer instructions here than FindFirstTrue.)
    std::uint8_t bits[8] = {};
    hn::StoreMaskBits(di, hn::Lt(hn::BitCast(di, v), hn::Set(di, 0x20)), bits);
    const unsigned stops = unsigned(bits[0]) | unsigned(bits[1]) << 8;
    return stops == 0 ? kWidth : std::size_t(__builtin_ctz(stops));
}
#endif

// A byte that begins a character of the UTF-8 loop's text: not a continuation byte, nor the
// lead of a combining mark, which there is always part of a letter.
constexpr bool begins_character(unsigned char b) {
    return (b & 0xC0) != 0x80 && (b & 0xFE) != 0xCC;
}

// Writes in[i..end) as their units one byte at a time, up to the first that is a problem,
// counting line feeds on from `lines` and the line that began at `line_start`.
inline RunEnd expand_bytes(const std::uint32_t* units, const unsigned char* in, std::size_t i,
                           std::size_t end, unsigned char* w, std::uint64_t lines,
                           std::size_t line_start) {
    for (; i < end; ++i) {
        const unsigned char b = in[i];
        const std::uint32_t u = units[b];
        if ((u & kShortProblem) != 0) break;
        std::memcpy(w, &u, 4);
        w += u >> 24;
        if (b == '\n') {
            ++lines;
            line_start = i + 1;
        }
    }
    return {i, w, lines, i - line_start};
}

#if HWY_TARGET == HWY_SCALAR
HWY_ATTR RunEnd expand(const RunTables& t, const unsigned char* in, std::size_t i, std::size_t end,
                       unsigned char* w) {
    return expand_bytes(t.short_units, in, i, end, w, 0, i);
}
#else
using simd::HWY_NAMESPACE::mask_bits;

HWY_ATTR RunEnd expand(const RunTables& t, const unsigned char* in, std::size_t i, std::size_t end,
                       unsigned char* w) {
    // Up to 32 bytes at a time: this loop writes into the caller's buffer, which has room.
    const hn::CappedTag<std::uint8_t, 32> d;
    const hn::RebindToSigned<decltype(d)> di;
    const std::size_t lanes = hn::Lanes(d);
    // In locals: the compiler cannot tell that the output never overwrites them.
    const std::uint32_t* const units = t.short_units;
    std::uint64_t lines = 0;
    std::size_t line_start = i;  // where the current line began, or the run
    // A block at a time: printable ASCII and line feeds are copied, each other byte written
    // as its unit. The copies read up to a block past the one in hand.
    while (i + 2 * lanes <= end) {
        const auto v = hn::LoadU(d, in + i);
        hn::StoreU(v, d, w);
        // As signed bytes, those at or above 0x80 are negative: one comparison finds both
        // ends of printable ASCII.
        const auto newline = hn::Eq(v, hn::Set(d, '\n'));
        const auto outside = hn::RebindMask(d, hn::Lt(hn::BitCast(di, v), hn::Set(di, 0x20)));
        std::uint64_t bits = mask_bits(d, hn::AndNot(newline, outside));
        std::uint64_t newlines = mask_bits(d, newline);
        std::size_t done = 0;      // the block's bytes written
        std::size_t stop = lanes;  // the block's end, or its first problem
        while (bits != 0) {
            const std::size_t p = std::size_t(__builtin_ctzll(bits));
            hn::StoreU(hn::LoadU(d, in + i + done), d, w);
            w += p - done;
            const unsigned char b = in[i + p];
            const std::uint32_t u = units[b];
            if ((u & kShortProblem) != 0) {
                stop = p;
                newlines &= (std::uint64_t(1) << p) - 1;
                break;
            }
            std::memcpy(w, &u, 4);
            w += u >> 24;
            done = p + 1;
            bits &= bits - 1;
        }
        if (newlines != 0) {
            lines += std::uint64_t(__builtin_popcountll(newlines));
            line_start = i + std::size_t(63 - __builtin_clzll(newlines)) + 1;
        }
        if (stop != lanes) return {i + stop, w, lines, i + stop - line_start};
        if (done != 0) {
            hn::StoreU(hn::LoadU(d, in + i + done), d, w);
            w -= done;
        }
        w += lanes;
        i += lanes;
    }
    return expand_bytes(units, in, i, end, w, lines, line_start);
}
#endif

// One character of a byte encoding at in[i] through t's units (i < n); false where the
// general path must take it. kInside: at least two bytes follow in[i].
template <bool kInside>
inline bool codec_character(const CodecTables& t, const unsigned char* in, std::size_t& i,
                            std::size_t n, unsigned char*& w, std::uint64_t& lines,
                            std::uint64_t& column) {
    const unsigned char b = in[i];
    if (!kInside && t.takes_second[b] && i + 1 >= n) return false;  // its mark may follow
    const std::uint8_t slot = t.takes_second[b] ? t.second_slot[in[i + 1]] : 0;
    const bool pair = t.spells[b][slot];
    const ByteUnit& u = pair ? t.pairs[b][slot] : t.units[b];
    const std::size_t used = pair ? 2 : 1;
    if (u.problem) return false;
    if (kInside ? t.joins[in[i + used]] : i + used >= n ? t.has_joins : t.joins[in[i + used]])
        return false;
    std::memcpy(w, &u, sizeof u);
    w += u.size;
    if (b == '\n') {
        ++lines;
        column = 0;
    } else {
        ++column;
    }
    i += used;
    return true;
}

HWY_ATTR RunEnd codec_units(const CodecTables& t, const unsigned char* in, std::size_t i,
                            std::size_t n, unsigned char* w) {
    std::uint64_t lines = 0;
    std::uint64_t column = 0;
    if (t.ascii_alone) {
        // Printable ASCII a vector at a time. The last byte of a run may take the byte after
        // it as its mark, so it goes with that byte, a character at a time.
        auto printable = [](unsigned char b) { return b >= 0x20 && b < 0x80; };
        while (i + kWidth < n) {  // two bytes after any character it takes
            // Vectors for runs of two or more; one character at a time between them.
            if (printable(in[i]) && printable(in[i + 1])) {
                const std::size_t k = copy_printable(in + i, w);
                w += k - 1;
                i += k - 1;
                column += k - 1;
                if (k == kWidth) continue;
            }
            if (!codec_character<true>(t, in, i, n, w, lines, column)) return {i, w, lines, column};
        }
    }
    while (i < n)
        if (!codec_character<false>(t, in, i, n, w, lines, column)) break;
    return {i, w, lines, column};
}

template <RunTarget kTarget>
HWY_ATTR RunEnd utf8(const RunTables& t, const unsigned char* in, std::size_t i, std::size_t n,
                     unsigned char* w, unsigned char* w_limit) {
    const std::size_t run_start = i;
    // Where the output of the last character began (kUtf8, kSpelled).
    unsigned char* last_w = w;
    bool take_back = true;  // whether the last character still waits for what follows
    std::uint64_t lines = 0;
    std::uint64_t column = 0;
    // In locals: the compiler cannot tell that the output never overwrites them.
    const bool ascii_passes = t.ascii_passes;
    const std::uint16_t* const low_targets = t.low_targets;
    const std::uint16_t* const additional_targets = t.additional_targets;
    const std::uint32_t* const low_spellings = t.low_spellings;
    const std::uint32_t* const additional_spellings = t.additional_spellings;
    // Every read below stays within the text: the last bytes go the general way.
    const std::size_t fast_end = n > 5 ? n - 5 : 0;
    // Takes the character at i (not printable ASCII, or one of the last few bytes); false
    // where the loop must stop, with take_back set.
    auto character = [&]() HWY_ATTR __attribute__((always_inline))->bool {
        const unsigned char b = in[i];
        std::uint32_t target;  // the byte (kBytes, kStaged), or the spelling (kSpelled)
        std::size_t length;
        if (b < 0x80) {
            target = kTarget == RunTarget::kSpelled ? low_spellings[b] : low_targets[b];
            length = 1;
        } else if (b >= 0xC2 && b <= 0xCB && (in[i + 1] & 0xC0) == 0x80) {
            const char32_t c = char32_t(b & 0x1F) << 6 | (in[i + 1] & 0x3F);
            target = kTarget == RunTarget::kSpelled ? low_spellings[c] : low_targets[c];
            length = 2;
        } else if (b == 0xE1 && (in[i + 2] & 0xC0) == 0x80 &&
                   ((in[i + 1] == 0xBA && in[i + 2] >= 0xA0) ||
                    (in[i + 1] == 0xBB && in[i + 2] <= 0xB9))) {
            const std::size_t k = std::size_t(in[i + 1] - 0xBA) * 64 + (in[i + 2] & 0x3F) -
                                  (toneshift::detail::kAdditionalFirst & 0x3F);
            target =
                kTarget == RunTarget::kSpelled ? additional_spellings[k] : additional_targets[k];
            length = 3;
        } else if ((b & 0xFE) == 0xCC && i > run_start && in[i - 1] < 0x80 &&
                   (in[i + 1] & 0xC0) == 0x80) {
            // One or two marks after the ASCII letter written last: a decomposed letter takes
            // its place.
            const char32_t m1 = char32_t(b & 0x1F) << 6 | (in[i + 1] & 0x3F);
            char32_t m2 = 0;
            length = 2;
            if ((in[i + 2] & 0xFE) == 0xCC && (in[i + 3] & 0xC0) == 0x80) {
                m2 = char32_t(in[i + 2] & 0x1F) << 6 | (in[i + 3] & 0x3F);
                length = 4;
            }
            const int p = letter_of_decomposition(in[i - 1], m1, m2);
            if (p < 0) return false;
            const char32_t letter = letter_code_points[std::size_t(p)];
            if constexpr (kTarget == RunTarget::kUtf8) {
                w = last_w + put_utf8(letter, last_w);
            } else if constexpr (kTarget == RunTarget::kSpelled) {
                const std::uint32_t spelling =
                    letter < 0x300
                        ? low_spellings[letter]
                        : additional_spellings[letter - toneshift::detail::kAdditionalFirst];
                // The ASCII letter went out as one byte, which the letter's spelling replaces.
                if (spelling == 0 || w != last_w + 1) return false;
                std::memcpy(last_w, &spelling, 4);
                w = last_w + (spelling >> 24);
            } else {
                const std::uint16_t lt =
                    letter < 0x300
                        ? low_targets[letter]
                        : additional_targets[letter - toneshift::detail::kAdditionalFirst];
                if (lt == kSlowChar) return false;
                w[-1] = static_cast<unsigned char>(lt);
            }
            i += length;
            return true;
        } else {
            // Below U+0300 nothing joins what comes before; beyond it, maybe.
            take_back = b >= 0xCC;
            return false;
        }
        if constexpr (kTarget == RunTarget::kUtf8) {
            last_w = w;
            std::memcpy(w, in + i, 4);
            w += length;
        } else if constexpr (kTarget == RunTarget::kSpelled) {
            if (target == 0) {
                take_back = false;
                return false;
            }
            last_w = w;
            std::memcpy(w, &target, 4);
            w += target >> 24;
        } else {
            if (target == kSlowChar) {
                take_back = false;
                return false;
            }
            *w++ = static_cast<unsigned char>(target);
        }
        i += length;
        if (b == '\n') {
            ++lines;
            column = 0;
        } else {
            ++column;
        }
        return kTarget != RunTarget::kStaged || w < w_limit;
    };
    // Runs of printable ASCII a vector at a time, each with the character after it (unless
    // the vector was all of it), while a vector and the character's bytes stay in the text.
    if (ascii_passes) {
        while (i + kWidth + 5 <= n) {
            const std::size_t k = copy_printable(in + i, w);
            if constexpr (kTarget == RunTarget::kUtf8 || kTarget == RunTarget::kSpelled)
                if (k != 0) last_w = w + k - 1;
            w += k;
            i += k;
            column += k;
            if (kTarget == RunTarget::kStaged && w >= w_limit) goto ran_out;
            if (k == kWidth) continue;
            if (!character()) goto ran_out;
        }
    }
    while (i < fast_end)
        if (!character()) break;
ran_out:
    // Where the loop ran out, the next character decides about the last one.
    if (i >= fast_end) take_back = i >= n || in[i] >= 0xCC;
    if (take_back && i > run_start) {
        // The last character goes to the general path with what follows it: back to its
        // first byte, past any marks of a decomposed letter.
        std::size_t last = i;
        do {
            --last;
            while (last > run_start && (in[last] & 0xC0) == 0x80) --last;
        } while (last > run_start && (in[last] & 0xFE) == 0xCC);
        w = kTarget == RunTarget::kUtf8 || kTarget == RunTarget::kSpelled ? last_w : w - 1;
        i = last;
        if (in[last] == '\n') {
            // The line before it comes back: count its characters again.
            --lines;
            const auto* newline =
                static_cast<const unsigned char*>(memrchr(in + run_start, '\n', last - run_start));
            column = 0;
            for (const unsigned char* p = newline != nullptr ? newline + 1 : in + run_start;
                 p < in + last; ++p)
                column += begins_character(*p) ? 1 : 0;
        } else {
            --column;
        }
    }
    return {i, w, lines, column};
}

#if HWY_TARGET == HWY_SCALAR
bool has_control_letter(const unsigned char* in, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i)
        if (is_viscii_control_letter(in[i])) return true;
    return false;
}
#else
// Each byte's low nibble and high nibble look up a bit each, and the byte is one of the six
// where the two share a bit: bit h of kLowBits[l] stands for byte h * 16 + l, which all six
// are below 0x20.
static_assert([] {
    for (unsigned char c : kVisciiControlLetters)
        if (c >= 0x20) return false;
    return true;
}());
alignas(16) constexpr auto kLowBits = [] {
    std::array<std::uint8_t, 16> bits{};
    for (unsigned char c : kVisciiControlLetters)
        bits[c & 15] = static_cast<std::uint8_t>(bits[c & 15] | 1u << (c >> 4));
    return bits;
}();
alignas(16) constexpr std::uint8_t kHighBits[16] = {1, 2};

HWY_ATTR bool has_control_letter(const unsigned char* in, std::size_t n) {
    const hn::ScalableTag<std::uint8_t> d;
    const std::size_t lanes = hn::Lanes(d);
    const auto low_bits = hn::LoadDup128(d, kLowBits.data());
    const auto high_bits = hn::LoadDup128(d, kHighBits);
    const auto nibble = hn::Set(d, 0x0F);
    auto found = hn::Zero(d);
    std::size_t i = 0;
    for (; i + lanes <= n; i += lanes) {
        const auto v = hn::LoadU(d, in + i);
        const auto high =
            hn::And(hn::ShiftRight<4>(hn::BitCast(hn::RepartitionToWide<decltype(d)>(), v)),
                    hn::BitCast(hn::RepartitionToWide<decltype(d)>(), nibble));
        found = hn::Or(found, hn::And(hn::TableLookupBytes(low_bits, hn::And(v, nibble)),
                                      hn::TableLookupBytes(high_bits, hn::BitCast(d, high))));
    }
    if (!hn::AllTrue(d, hn::Eq(found, hn::Zero(d)))) return true;
    for (; i < n; ++i)
        if (is_viscii_control_letter(in[i])) return true;
    return false;
}
#endif

#if HWY_TARGET == HWY_SCALAR
std::uint64_t newlines_in(const unsigned char* in, std::size_t n) {
    std::uint64_t count = 0;
    for (std::size_t i = 0; i < n; ++i) count += in[i] == '\n' ? 1 : 0;
    return count;
}
#else
HWY_ATTR std::uint64_t newlines_in(const unsigned char* in, std::size_t n) {
    const hn::ScalableTag<std::uint8_t> d;
    const hn::Repartition<std::uint64_t, decltype(d)> d64;
    const std::size_t lanes = hn::Lanes(d);
    const auto newline = hn::Set(d, '\n');
    std::uint64_t count = 0;
    std::size_t i = 0;
    while (i + lanes <= n) {
        // Up to 255 vectors counted in byte lanes (a match is 0xFF, taken away), then summed.
        const std::size_t vectors = std::min<std::size_t>((n - i) / lanes, 255);
        auto counts = hn::Zero(d);
        for (std::size_t k = 0; k < vectors; ++k, i += lanes)
            counts = hn::Sub(counts, hn::VecFromMask(d, hn::Eq(hn::LoadU(d, in + i), newline)));
        count += hn::GetLane(hn::SumOfLanes(d64, hn::SumsOf8(counts)));
    }
    for (; i < n; ++i) count += in[i] == '\n' ? 1 : 0;
    return count;
}
#endif

}  // namespace

std::uint64_t CountNewlines(const unsigned char* in, std::size_t n) {
    return newlines_in(in, n);
}

bool HasControlLetter(const unsigned char* in, std::size_t n) {
    return has_control_letter(in, n);
}

RunEnd ExpandUnits(const RunTables& t, const unsigned char* in, std::size_t i, std::size_t end,
                   unsigned char* w) {
    return expand(t, in, i, end, w);
}

RunEnd CodecUnits(const CodecTables& t, const unsigned char* in, std::size_t i, std::size_t n,
                  unsigned char* w) {
    return codec_units(t, in, i, n, w);
}

RunEnd Utf8RunBytes(const RunTables& t, const unsigned char* in, std::size_t i, std::size_t n,
                    unsigned char* w, unsigned char* w_limit) {
    return utf8<RunTarget::kBytes>(t, in, i, n, w, w_limit);
}

RunEnd Utf8RunStaged(const RunTables& t, const unsigned char* in, std::size_t i, std::size_t n,
                     unsigned char* w, unsigned char* w_limit) {
    return utf8<RunTarget::kStaged>(t, in, i, n, w, w_limit);
}

RunEnd Utf8RunSpelled(const RunTables& t, const unsigned char* in, std::size_t i, std::size_t n,
                      unsigned char* w, unsigned char* w_limit) {
    return utf8<RunTarget::kSpelled>(t, in, i, n, w, w_limit);
}

RunEnd Utf8RunUtf8(const RunTables& t, const unsigned char* in, std::size_t i, std::size_t n,
                   unsigned char* w, unsigned char* w_limit) {
    return utf8<RunTarget::kUtf8>(t, in, i, n, w, w_limit);
}

const char* FastRunsTarget() {
    return hwy::TargetName(HWY_TARGET);
}

}  // namespace toneshift::convert_detail::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace toneshift::convert_detail {

RunEnd expand_units(const RunTables& t, const unsigned char* in, std::size_t i, std::size_t end,
                    unsigned char* w) {
    using Function = RunEnd (*)(const RunTables&, const unsigned char*, std::size_t, std::size_t,
                                unsigned char*);
    static constexpr simd::Variant<Function> variants[] = TONESHIFT_SIMD_VARIANTS(ExpandUnits);
    static simd::Choice<Function> choice;
    return choice.get(variants)(t, in, i, end, w);
}

RunEnd codec_units_run(const CodecTables& t, const unsigned char* in, std::size_t i, std::size_t n,
                       unsigned char* w) {
    using Function = RunEnd (*)(const CodecTables&, const unsigned char*, std::size_t, std::size_t,
                                unsigned char*);
    static constexpr simd::Variant<Function> variants[] = TONESHIFT_SIMD_VARIANTS(CodecUnits);
    static simd::Choice<Function> choice;
    return choice.get(variants)(t, in, i, n, w);
}

RunEnd utf8_run(RunTarget target, const RunTables& t, const unsigned char* in, std::size_t i,
                std::size_t n, unsigned char* w, unsigned char* w_limit) {
    using Function = RunEnd (*)(const RunTables&, const unsigned char*, std::size_t, std::size_t,
                                unsigned char*, unsigned char*);
    static constexpr simd::Variant<Function> bytes[] = TONESHIFT_SIMD_VARIANTS(Utf8RunBytes);
    static constexpr simd::Variant<Function> staged[] = TONESHIFT_SIMD_VARIANTS(Utf8RunStaged);
    static constexpr simd::Variant<Function> utf8[] = TONESHIFT_SIMD_VARIANTS(Utf8RunUtf8);
    static constexpr simd::Variant<Function> spelled[] = TONESHIFT_SIMD_VARIANTS(Utf8RunSpelled);
    static simd::Choice<Function> choices[4];
    const Function f = target == RunTarget::kBytes    ? choices[0].get(bytes)
                       : target == RunTarget::kStaged ? choices[1].get(staged)
                       : target == RunTarget::kUtf8   ? choices[2].get(utf8)
                                                      : choices[3].get(spelled);
    return f(t, in, i, n, w, w_limit);
}

bool has_viscii_control_letter(const unsigned char* in, std::size_t n) {
    using Function = bool (*)(const unsigned char*, std::size_t);
    static constexpr simd::Variant<Function> variants[] = TONESHIFT_SIMD_VARIANTS(HasControlLetter);
    static simd::Choice<Function> choice;
    return choice.get(variants)(in, n);
}

std::uint64_t count_newlines(const unsigned char* in, std::size_t n) {
    using Function = std::uint64_t (*)(const unsigned char*, std::size_t);
    static constexpr simd::Variant<Function> variants[] = TONESHIFT_SIMD_VARIANTS(CountNewlines);
    static simd::Choice<Function> choice;
    return choice.get(variants)(in, n);
}

const char* fast_runs_target() {
    using Function = const char* (*)();
    static constexpr simd::Variant<Function> variants[] = TONESHIFT_SIMD_VARIANTS(FastRunsTarget);
    return simd::choose(variants)();
}

}  // namespace toneshift::convert_detail
#endif
