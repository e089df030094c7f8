// Real Vietnamese text for the benchmarks, read at run time from the Vietnamese manual pages
// (Debian's manpages-vi): the running text of every page, roff requests and font escapes
// dropped, in VISCII (typographic punctuation transliterated), repeated to the size wanted.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "convert/converter.h"

namespace toneshift::bench {

// Converts all of `text` from one format to another, replacing what the target lacks.
inline std::string convert_text(const std::string& text, int from, int to, bool nfd = false) {
    Converter c({from, to, LossPolicy::kTransliterate, nfd});
    std::vector<unsigned char> out(kConvertGrowth * text.size() + kConvertSlack);
    const ConvertResult r = c.convert(reinterpret_cast<const unsigned char*>(text.data()),
                                      text.size(), out.data(), out.size(), true);
    return std::string(reinterpret_cast<const char*>(out.data()), r.written);
}

// The manual pages' text in UTF-8, once; empty when manpages-vi is not installed.
inline std::string manual_page_text() {
    std::string text;
    FILE* pipe = ::popen("zcat /usr/share/man/vi/man*/*.gz 2>/dev/null", "r");
    if (pipe == nullptr) return text;
    char line[8192];
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
        if (line[0] == '.' || line[0] == '\'') continue;  // a request or a comment
        for (const char* p = line; *p != '\0'; ++p) {
            if (p[0] == '\\' && p[1] == 'f' && p[2] != '\0') {
                p += 2;  // a font change
            } else if (p[0] == '\\' && (p[1] == '-' || p[1] == ',' || p[1] == '/')) {
                if (p[1] == '-') text += '-';
                ++p;
            } else {
                text += *p;
            }
        }
    }
    ::pclose(pipe);
    return text;
}

inline std::string vietnamese_viscii(std::size_t size) {
    const std::string once = convert_text(manual_page_text(), kUtf8, kViscii);
    if (once.empty()) {
        std::fprintf(stderr, "no Vietnamese text: install manpages-vi\n");
        std::exit(1);
    }
    std::string text;
    text.reserve(size + once.size());
    while (text.size() < size) text += once;
    text.resize(size);
    return text;
}

}  // namespace toneshift::bench
