#include "viqr/decoder/composer.h"

#include <cstdint>
#include <cstring>

#include "viqr/decoder/class_tables.h"
#include "viqr/decoder/viqr_decoder.h"

namespace toneshift {

namespace {

// Reports an outcome as viqr_compose's result and flags.
struct flag_reporter {
    unsigned char ch;
    int* held;
    int* composed;

    int report(int byte, int is_held, int is_composed) const {
        *held = is_held;
        *composed = is_composed;
        return byte;
    }
    int no_letter() const { return report(ch, 0, 0); }
    int opens() const { return report(ch, 1, 0); }
    int shape(std::uint8_t r) const { return report(r, 1, 1); }
    int finished(std::uint8_t r) const { return report(r, 0, 1); }
};

}  // namespace

int viqr_compose(viqr_record* record, unsigned char ch, int* held, int* composed) {
    return detail::compose_step(*record, ch, flag_reporter{ch, held, composed});
}

void viqr_reset(viqr_record* record) {
    record->phase = 0;
    build_class_tables();
    std::memcpy(record->mark_chars, default_mark_chars, kMarkSlotCount);
}

}  // namespace toneshift
