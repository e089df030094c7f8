#include "viqr/decoder/composer.h"

#include <cstring>

#include "viqr/decoder/class_tables.h"
#include "viqr/decoder/viqr_decoder.h"

namespace toneshift {

int viqr_compose(viqr_record* record, unsigned char ch, int* held, int* composed) {
    const detail::compose_outcome r = detail::compose_step(*record, ch);
    *held = r.held ? 1 : 0;
    *composed = r.composed ? 1 : 0;
    return r.byte;
}

void viqr_reset(viqr_record* record) {
    record->phase = 0;
    build_class_tables();
    std::memcpy(record->mark_chars, default_mark_chars, kMarkSlotCount);
}

}  // namespace toneshift
