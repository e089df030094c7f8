// The syllables that carry most running Vietnamese text (function words and everyday
// words), written in VIQR notation. A reading that turns a text into these is more likely
// than one that turns it into rare syllables; the detector uses this only to break ties
// between readings that are both valid.
#pragma once

#include <string_view>

namespace toneshift::detect {

inline constexpr std::string_view kCommonSyllables =
    // function words
    "va` cu?a la` co' kho^ng ddu+o+.c ca'c nhu+~ng mo^.t trong cho dda~ vo+'i na`y dde^? "
    "khi tu+` thi` dde^'n ra ve^` se~ nhu+ cu~ng ddo' ma` ho+n nha^'t ne^'u hoa(.c hay vi` "
    "ro^`i vie^.c ta.i o+? tre^n va`o le^n ra^'t nhu+ng co`n bi. bo+?i the^' na`o gi` "
    "ddi dde^`u chi? va^~n dda^y a^'y ra(`ng cu`ng ba(`ng dda(ng mo^~i mo.i ta^'t ca? "
    "ca^`n pha?i ne^n kha'c nhau giu+~a sau tru+o+'c du+o+'i ngoa`i "
    // pronouns and people
    "to^i chu'ng ho. mi`nh ba.n anh em chi. o^ng ba` ngu+o+`i con ta "
    // everyday nouns, verbs and adjectives
    "na(m nga`y gio+` la^`n tho+`i gian nu+o+'c nha` ddu+o+`ng ta^.p tie^'ng "
    "vie^.t no'i bie^'t la`m ddo.c vie^'t xem ca'ch dda^`u cuo^'i mo+'i cu~ hai ba so^' "
    "lo+'n nho? to^'t ddu'ng sai the^m bo? qua tie^'p gio^'ng thu+? du`ng ta.o mo+? "
    "ddo'ng ha^'t muo^'n thu+o+`ng tha^'y kie^?u pha^`n ti'nh ddi.nh ha`nh ho.c "
    "to+'i no+i sao hie^.n dda(.t da.ng nha^.n chi'nh quan tro.ng pha't trie^?n "
    "kinh te^' xa~ ho^.i phu? quo^'c gia da^n to^.c co^ng ty thi. ddie^`u "
    "kie^.n ke^'t qua? su+. tha^.t ha`ng ta^m ly' do ho^`i ngay "
    "ddi.a phu+o+ng tha`nh pho^' mie^`n nam ba'c trung ddo^ng ta^y ddie^?m bie^?u "
    "ho^m sa'ng chie^`u to^'i ddu' mo^i ddi`nh tre? lo+'p "
    "ddo^`ng tie^`n gia' ba'n mua ddo^? ddo'i ho?i tra? lo+`i y' nghi~a ti`m "
    "ga^`n xa cao tha^'p nhanh cha^.m de^~ kho' ma.nh ye^'u chung rie^ng";

}  // namespace toneshift::detect
