// expand_units, on every instruction set, against its definition: each byte's unit in turn,
// up to the first that is a problem, with the line feeds and the characters after the last.
#include "convert/fast_runs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <ostream>
#include <random>
#include <vector>

#include "convert/characters.h"
#include "tables/letter_table.h"
#include "tables/simd_test_support.h"

namespace toneshift::convert_detail {
namespace {

using Bytes = std::vector<unsigned char>;

struct Expanded {
    Bytes output;
    std::size_t next = 0;
    std::uint64_t lines = 0;
    std::uint64_t column = 0;
    bool operator==(const Expanded&) const = default;
};

void PrintTo(const Expanded& e, std::ostream* os) {
    *os << e.output.size() << " bytes written, stopped at " << e.next << " after " << e.lines
        << " line feeds, column " << e.column;
}

// The definition, one byte at a time.
Expanded expand_slowly(const std::array<std::uint32_t, 256>& units, const Bytes& in,
                       std::size_t from) {
    Expanded e;
    std::size_t i = from;
    for (; i < in.size(); ++i) {
        const std::uint32_t u = units[in[i]];
        if ((u & kShortProblem) != 0) break;
        for (std::uint32_t k = 0; k < u >> 24; ++k) e.output.push_back((u >> (8 * k)) & 0xFF);
        if (in[i] == '\n') {
            ++e.lines;
            e.column = 0;
        } else {
            ++e.column;
        }
    }
    e.next = i;
    return e;
}

Expanded expand_fast(const std::array<std::uint32_t, 256>& units, const Bytes& in,
                     std::size_t from) {
    RunTables t;
    t.short_units = units.data();
    Bytes out(3 * in.size() + 64, 0xEE);
    const RunEnd r = expand_units(t, in.data(), from, in.size(), out.data());
    Expanded e;
    e.output.assign(out.data(), r.written);
    e.next = r.next;
    e.lines = r.lines;
    e.column = r.column;
    return e;
}

TEST(ExpandUnits, EqualsEachByteInTurnOnEveryInstructionSet) {
    // VISCII's letters in UTF-8, with two bytes made problems (never printable ASCII, which
    // passes as itself): units of one, two and three
    // bytes, and stops anywhere in a vector.
    std::array<std::uint32_t, 256> units{};
    for (int b = 0; b < 256; ++b) {
        const ByteUnit u = byte_unit(kViscii, kUtf8, false, static_cast<unsigned char>(b));
        units[std::size_t(b)] = std::uint32_t(u.bytes[0]) | std::uint32_t(u.bytes[1]) << 8 |
                                std::uint32_t(u.bytes[2]) << 16 | std::uint32_t(u.size) << 24;
    }
    units[0x1F] = kShortProblem;
    units[0xFF] = kShortProblem;
    std::mt19937 rng(17);
    std::vector<Bytes> texts;
    for (int k = 0; k < 300; ++k) {
        Bytes t(rng() % 200);
        const unsigned density = 1 + rng() % 8;  // one in `density` is no printable ASCII
        for (unsigned char& b : t) {
            const unsigned r = unsigned(rng());
            b = r % density != 0 ? static_cast<unsigned char>('a' + r % 26)
                : r % 5 == 0     ? '\n'
                                 : letter_table[0][r % kLetterCount];
        }
        if (!t.empty() && k % 3 == 0) t[rng() % t.size()] = k % 2 ? 0x1F : 0xFF;
        texts.push_back(t);
    }
    const int ran = simd::for_each_supported_target([&] {
        for (const Bytes& t : texts)
            for (std::size_t from : {std::size_t(0), std::size_t(1), t.size() / 2})
                if (from <= t.size()) {
                    ASSERT_EQ(expand_fast(units, t, from), expand_slowly(units, t, from))
                        << "length " << t.size() << " from " << from;
                }
    });
    EXPECT_GE(ran, 1);
}

TEST(Scans, ControlLettersAndLineFeedsOnEveryInstructionSet) {
    // Every byte value once at every place of a short text, then long texts (past the 255
    // vectors that the line feeds are counted in at a time) with a line feed in three.
    std::mt19937 rng(23);
    const int ran = simd::for_each_supported_target([&] {
        for (std::size_t size : {1, 15, 16, 17, 33, 70}) {
            Bytes text(size, 'a');
            for (int b = 0; b < 256; ++b) {
                for (std::size_t at = 0; at < size; ++at) {
                    text[at] = static_cast<unsigned char>(b);
                    const bool control =
                        b == 0x02 || b == 0x05 || b == 0x06 || b == 0x14 || b == 0x19 || b == 0x1E;
                    ASSERT_EQ(has_viscii_control_letter(text.data(), size), control)
                        << "byte " << b << " at " << at << " of " << size;
                    ASSERT_EQ(count_newlines(text.data(), size), b == '\n' ? 1u : 0u);
                    text[at] = 'a';
                }
            }
        }
        for (std::size_t size : {0, 100, 8191, 20000}) {
            Bytes text(size);
            for (unsigned char& b : text)
                b = rng() % 3 == 0 ? '\n' : static_cast<unsigned char>(rng());
            EXPECT_EQ(count_newlines(text.data(), size),
                      std::uint64_t(std::count(text.begin(), text.end(), '\n')));
        }
    });
    EXPECT_GE(ran, 1);
}

}  // namespace
}  // namespace toneshift::convert_detail
