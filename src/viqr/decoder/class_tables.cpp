#include "viqr/decoder/class_tables.h"

#include <array>
#include <cstring>

#include "viqr/decoder/viqr_decoder.h"

namespace toneshift {

std::atomic<bool> detail::class_table_changed{true};

void build_class_tables() noexcept {
    std::array<std::uint8_t, 256> built;
    built.fill(kClassNone);
    for (std::size_t k = 1; k < kClassCount; ++k)
        if (default_class_chars[k] != 0)
            built[default_class_chars[k]] = static_cast<std::uint8_t>(k);
    // Written only where they differ: once built, the tables are only read, by readers in any
    // thread, unless a mark is moved.
    if (std::memcmp(default_class_table.data(), built.data(), built.size()) != 0)
        std::memcpy(default_class_table.data(), built.data(), built.size());
    if (std::memcmp(active_class_table.data(), built.data(), built.size()) != 0)
        std::memcpy(active_class_table.data(), built.data(), built.size());
    if (detail::class_table_changed.load(std::memory_order_relaxed))
        detail::class_table_changed.store(false, std::memory_order_relaxed);
}

int viqr_set_mark(int mark, unsigned char new_char, viqr_record* record) {
    std::size_t slot = 0;
    while (slot < kMarkSlotCount && mark != static_cast<unsigned char>(default_mark_chars[slot]))
        ++slot;
    if (slot == kMarkSlotCount) return 0;
    const unsigned char old_char = record->mark_chars[slot];
    if (new_char == old_char) return 1;
    // The new character takes the class that the old one has now; the old one falls back to
    // its default class.
    detail::class_table_changed.store(true, std::memory_order_relaxed);
    active_class_table[new_char] = active_class_table[old_char];
    active_class_table[old_char] = default_class_table[old_char];
    record->mark_chars[slot] = new_char;
    return 1;
}

}  // namespace toneshift
