// TONESHIFT: converts Vietnamese text files between ten 8-bit encodings and VIQR.
// Arguments and environment are ignored; everything is asked for on the terminal.
#include <cstdio>

#include "dialogue/dialogue.h"

int main() {
    return toneshift::run_dialogue(stdin, stdout, stderr);
}
