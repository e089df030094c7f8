#include "viqr/decoder/class_tables.h"

#include <array>

#include "viqr/decoder/viqr_decoder.h"

namespace toneshift {

void build_class_tables() {
    std::array<std::uint8_t, 256> built;
    built.fill(kClassNone);
    for (std::size_t k = 1; k < kClassCount; ++k)
        if (default_class_chars[k] != 0)
            built[default_class_chars[k]] = static_cast<std::uint8_t>(k);
    // Only the entries that differ are written: once built, the tables are only read, by
    // readers in any thread, unless a mark is moved.
    for (std::size_t b = 0; b < built.size(); ++b) {
        if (default_class_table[b] != built[b]) default_class_table[b] = built[b];
        if (active_class_table[b] != built[b]) active_class_table[b] = built[b];
    }
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
    active_class_table[new_char] = active_class_table[old_char];
    active_class_table[old_char] = default_class_table[old_char];
    record->mark_chars[slot] = new_char;
    return 1;
}

}  // namespace toneshift
