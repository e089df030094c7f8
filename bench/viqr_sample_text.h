// A VIQR text of Vietnamese for the decoder's benchmarks: a few ordinary sentences,
// repeated to the size wanted.
#pragma once

#include <cstddef>
#include <string>

namespace toneshift::bench {

inline constexpr const char* kViqrSentences =
    "Vie^.t Nam la` mo^.t quo^'c gia na(`m o+? phi'a ddo^ng ba'n dda?o DDo^ng Du+o+ng. "
    "Thu? ddo^ la` Ha` No^.i, co`n tha`nh pho^' lo+'n nha^'t la` tha`nh pho^' Ho^` Chi' "
    "Minh.\n"
    "Mu`a xua^n, hoa dda`o no+? kha('p no+i tre^n nhu+~ng con ddu+o+`ng nho? cu?a pho^' "
    "co^?.\n"
    "Ngu+o+`i da^n o+? dda^y ra^'t tho^n thie^.n va` hie^'u kha'ch; ho. thu+o+`ng mo+`i "
    "kha'ch uo^'ng tra` va` a(n ba'nh chu+ng.\n"
    "Tie^'ng Vie^.t co' sa'u thanh ddie^.u, vi` va^.y mo^.t chu+~ vie^'t sai da^'u co' the^? "
    "mang nghi~a kha'c ha(?n.\n"
    "Na(m nay chu'ng to^i se~ ddi du li.ch Hue^\\. Ai cu~ng no'i: \"DDe.p qua'!\"\n";

// The sentences repeated until the text is at least size bytes long.
inline std::string viqr_sample_text(std::size_t size) {
    std::string text;
    text.reserve(size + 1024);
    while (text.size() < size) text += kViqrSentences;
    return text;
}

}  // namespace toneshift::bench
