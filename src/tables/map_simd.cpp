// map_in_place in vectors. A 256-byte map is sixteen rows of 16 bytes, one per high nibble;
// each row that differs from the identity is looked up with a byte shuffle indexed by the low
// nibble, and its results replace the bytes whose high nibble selects that row. Compiled once
// for every instruction set that Highway targets; the best one the CPU offers is chosen at
// each call (simd_dispatch.h).
// clang-format off
#include "tables/simd_dispatch.h"  // before Highway's headers
// clang-format on

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>

#include "tables/recode.h"

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "tables/map_simd.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

HWY_BEFORE_NAMESPACE();
namespace toneshift::HWY_NAMESPACE {
namespace {

namespace hn = hwy::HWY_NAMESPACE;

// Every byte of row r is r << 4 here, for comparing high nibbles with one load.
alignas(64) constexpr auto kRowHighs = [] {
    std::array<std::array<std::uint8_t, 64>, 16> highs{};
    for (std::size_t r = 0; r < 16; ++r) highs[r].fill(std::uint8_t(r << 4));
    return highs;
}();

void map_bytes_scalar(const std::uint8_t* HWY_RESTRICT map, const std::uint8_t* from,
                      std::uint8_t* to, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) to[i] = map[from[i]];
}

// Maps n >= Lanes bytes from `from` to `to` (the same place, or places that do not overlap)
// with `rows` rows of the map to look up. The last, possibly partial, vector is computed
// first from the unmapped bytes and stored last, over bytes that the loop has already
// mapped, so no byte is mapped twice.
template <std::size_t rows>
HWY_ATTR void map_bytes(const std::uint8_t* HWY_RESTRICT map, const std::uint8_t* row_of,
                        const std::uint8_t* from, std::uint8_t* to, std::size_t n) {
    const hn::ScalableTag<std::uint8_t> d;
    using V = hn::Vec<decltype(d)>;
    const std::size_t lanes = hn::Lanes(d);
    const V low_nibble = hn::Set(d, 0x0F);
    const V high_nibble = hn::Set(d, 0xF0);
#if HWY_HAVE_SCALABLE
    // Vectors of unknown size cannot be held in arrays: the rows are loaded where used.
    auto map_vector = [&](V v) {
        const V low = hn::And(v, low_nibble), high = hn::And(v, high_nibble);
        V r = v;
        for (std::size_t j = 0; j < rows; ++j) {
            const auto selected = hn::Eq(high, hn::Set(d, std::uint8_t(row_of[j] << 4)));
            const V table = hn::LoadDup128(d, map + 16 * row_of[j]);
            r = hn::IfThenElse(selected, hn::TableLookupBytes(table, low), r);
        }
        return r;
    };
#else
    V tables[rows];
    V highs[rows];
    for (std::size_t j = 0; j < rows; ++j) {
        tables[j] = hn::LoadDup128(d, map + 16 * row_of[j]);
        highs[j] = hn::LoadU(d, kRowHighs[row_of[j]].data());
    }
    auto map_vector = [&](V v) HWY_ATTR {
        const V low = hn::And(v, low_nibble), high = hn::And(v, high_nibble);
        V r = v;
        for (std::size_t j = 0; j < rows; ++j)
            r = hn::IfThenElse(hn::Eq(high, highs[j]), hn::TableLookupBytes(tables[j], low), r);
        return r;
    };
#endif
    const V last = map_vector(hn::LoadU(d, from + n - lanes));
    for (std::size_t i = 0; i + lanes <= n; i += lanes)
        hn::StoreU(map_vector(hn::LoadU(d, from + i)), d, to + i);
    hn::StoreU(last, d, to + n - lanes);
}

template <std::size_t... counts>
void map_with_plan(const std::uint8_t* map, const NibblePlan& plan, const std::uint8_t* from,
                   std::uint8_t* to, std::size_t n, std::index_sequence<counts...>) {
    // One instantiation per number of rows, so that each keeps its rows in registers.
    using Kernel = void (*)(const std::uint8_t*, const std::uint8_t*, const std::uint8_t*,
                            std::uint8_t*, std::size_t);
    static constexpr Kernel kernels[] = {&map_bytes<counts + 1>...};
    kernels[plan.count - 1](map, plan.rows, from, to, n);
}

}  // namespace

void MapInto(const ByteMap& map, const NibblePlan& plan, const unsigned char* from,
             unsigned char* to, std::size_t n) {
    if (plan.count == 0) {  // the identity
        if (from != to && n != 0) std::memcpy(to, from, n);
        return;
    }
    // A one-lane vector holds no 16-byte row; short inputs fill no vector.
    if (HWY_TARGET == HWY_SCALAR || n < hn::Lanes(hn::ScalableTag<std::uint8_t>())) {
        map_bytes_scalar(map.data(), from, to, n);
        return;
    }
    map_with_plan(map.data(), plan, from, to, n, std::make_index_sequence<16>());
}

const char* MapInPlaceTarget() {
    return hwy::TargetName(HWY_TARGET);
}

}  // namespace toneshift::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace toneshift {

void map_into(const ByteMap& map, const NibblePlan& plan, const unsigned char* from,
              unsigned char* to, std::size_t n) {
    using Function = void (*)(const ByteMap&, const NibblePlan&, const unsigned char*,
                              unsigned char*, std::size_t);
    static constexpr simd::Variant<Function> variants[] = TONESHIFT_SIMD_VARIANTS(MapInto);
    static simd::Choice<Function> choice;
    choice.get(variants)(map, plan, from, to, n);
}

const char* detail::map_in_place_target() {
    using Function = const char* (*)();
    static constexpr simd::Variant<Function> variants[] = TONESHIFT_SIMD_VARIANTS(MapInPlaceTarget);
    return simd::choose(variants)();
}

}  // namespace toneshift
#endif
