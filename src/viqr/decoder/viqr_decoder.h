// The VIQR decoder: VIQR text into VISCII, one byte at a time, in up to three contexts.
// This is the whole interface of the decoder; callers include this header alone.
#pragma once

#include <cstddef>

#include "viqr/decoder/decoder_types.h"  // IWYU pragma: export

namespace toneshift {

// Contexts.
int viqr_open(int state, unsigned char escape_char, unsigned char erase_char);
void viqr_get(int ctx, void* out, int flag);
void viqr_set(int ctx, int value, int flag);
// Defined inline below, so that a decoding loop runs it without a call.
inline int viqr_step(int ctx, unsigned char ch, unsigned char* out, int* count);
// viqr_step for each of the n bytes at `in`, in order, appending what each writes at `out`;
// returns the number of bytes written (at most 2n). The same bytes and the same context
// afterwards as n calls of viqr_step, in fewer instructions: for feeding whole chunks.
std::size_t viqr_decode_run(int ctx, const unsigned char* in, std::size_t n, unsigned char* out);
void viqr_flush(int ctx, unsigned char* out, int* count);
void viqr_close(int ctx, unsigned char* out, int* count);
// The end of one input: writes what the context holds (at most two bytes), as viqr_flush
// does, except that a lone escape character waiting in literal mode is written once, where
// viqr_flush would drop it.
void viqr_finish(int ctx, unsigned char* out, int* count);

// Everything a context holds, to go back to: a reader that decodes ahead and finds that it
// must decode again more carefully saves the context before and restores it after.
struct viqr_snapshot {
    alignas(8) unsigned char bytes[40];
};
void viqr_save(int ctx, viqr_snapshot* snapshot);
void viqr_restore(int ctx, const viqr_snapshot* snapshot);

// Contexts kept outside the three slots: a reader in any thread keeps its context in a
// snapshot and borrows a slot only while it decodes, so that any number of readers decode
// at once. viqr_open_waiting is viqr_open that waits for a slot instead of failing;
// viqr_borrow waits for a slot and restores `snapshot` into it; viqr_give_back saves the
// slot into `snapshot` and frees it. Opening, closing, borrowing and giving back are safe
// from separate threads; a thread that holds all three slots must not wait for a fourth.
int viqr_open_waiting(int state, unsigned char escape_char, unsigned char erase_char);
int viqr_borrow(const viqr_snapshot* snapshot);
void viqr_give_back(int ctx, viqr_snapshot* snapshot);

// Composition records owned by the caller, and the mark characters.
int viqr_compose(viqr_record* record, unsigned char ch, int* held, int* composed);
void viqr_reset(viqr_record* record);
int viqr_set_mark(int mark, unsigned char new_char, viqr_record* record);

}  // namespace toneshift

#include "viqr/decoder/stream_step.h"  // IWYU pragma: export
