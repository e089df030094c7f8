#include "viqr/decoder/class_tables.h"

#include <cstring>

#include "viqr/decoder/viqr_decoder.h"

namespace toneshift {

void build_class_tables() {
    default_class_table.fill(kClassNone);
    for (std::size_t k = 1; k < kClassCount; ++k)
        if (default_class_chars[k] != 0)
            default_class_table[default_class_chars[k]] = static_cast<std::uint8_t>(k);
    std::memcpy(active_class_table.data(), default_class_table.data(), active_class_table.size());
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
