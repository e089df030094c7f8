#include "documents/xml.h"

#include <expat.h>

#include <algorithm>
#include <cstring>

namespace toneshift::documents {

std::string apply_edits(std::string_view original, std::vector<Edit>& edits) {
    std::sort(edits.begin(), edits.end(),
              [](const Edit& a, const Edit& b) { return a.begin < b.begin; });
    std::string out;
    std::size_t size = original.size();
    for (const Edit& e : edits) size += e.text.size();
    out.reserve(size);
    std::size_t at = 0;
    for (const Edit& e : edits) {
        if (e.begin < at || e.end < e.begin || e.end > original.size()) continue;
        out.append(original.substr(at, e.begin - at));
        out += e.text;
        at = e.end;
    }
    out.append(original.substr(at));
    return out;
}

namespace {

// `s` with & and < escaped, and then > in text or both quotes in an attribute value. A
// carriage return, and in an attribute value a tab or line feed too, is written as a
// reference: a parser reads it written as it is as a line feed or a space.
std::string escaped(std::string_view s, bool in_attribute) {
    std::string out;
    out.reserve(s.size());
    for (char c : s) {
        if (c == '&') {
            out += "&amp;";
        } else if (c == '<') {
            out += "&lt;";
        } else if (c == '>' && !in_attribute) {
            out += "&gt;";
        } else if (c == '"' && in_attribute) {
            out += "&quot;";
        } else if (c == '\'' && in_attribute) {
            out += "&apos;";
        } else if (c == '\r') {
            out += "&#13;";
        } else if ((c == '\t' || c == '\n') && in_attribute) {
            out += c == '\t' ? "&#9;" : "&#10;";
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace

std::string escape_text(std::string_view text) {
    return escaped(text, false);
}

std::string escape_attribute(std::string_view value) {
    return escaped(value, true);
}

std::string_view local_name(std::string_view qualified) {
    const std::size_t colon = qualified.rfind(':');
    return colon == std::string_view::npos ? qualified : qualified.substr(colon + 1);
}

bool find_attribute(std::string_view tag, std::string_view local, std::size_t& begin,
                    std::size_t& end) {
    const auto space = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    std::size_t i = 1;
    while (i < tag.size() && !space(tag[i]) && tag[i] != '>' && tag[i] != '/') ++i;  // the name
    for (;;) {
        while (i < tag.size() && space(tag[i])) ++i;
        if (i >= tag.size() || tag[i] == '>' || tag[i] == '/') return false;
        const std::size_t name_begin = i;
        while (i < tag.size() && !space(tag[i]) && tag[i] != '=') ++i;
        const std::string_view name = tag.substr(name_begin, i - name_begin);
        while (i < tag.size() && space(tag[i])) ++i;
        if (i >= tag.size() || tag[i] != '=') return false;
        ++i;
        while (i < tag.size() && space(tag[i])) ++i;
        if (i >= tag.size() || (tag[i] != '"' && tag[i] != '\'')) return false;
        const char quote = tag[i++];
        const std::size_t value_begin = i;
        while (i < tag.size() && tag[i] != quote) ++i;
        if (i >= tag.size()) return false;
        if (local_name(name) == local && name.substr(0, 6) != "xmlns:" && name != "xmlns") {
            begin = value_begin;
            end = i;
            return true;
        }
        ++i;
    }
}

const char* attribute(const char** attributes, std::string_view local) {
    for (const char** a = attributes; a != nullptr && *a != nullptr; a += 2)
        if (local_name(a[0]) == local && std::strncmp(a[0], "xmlns", 5) != 0) return a[1];
    return nullptr;
}

namespace {

struct ParseState {
    XML_Parser parser = nullptr;
    XmlHandler* handler = nullptr;
    bool doctype = false;
};

void on_start(void* data, const XML_Char* name, const XML_Char** attributes) {
    auto* s = static_cast<ParseState*>(data);
    const auto begin = std::size_t(XML_GetCurrentByteIndex(s->parser));
    const auto count = std::size_t(XML_GetCurrentByteCount(s->parser));
    s->handler->start(name, attributes, begin, begin + count);
}

void on_end(void* data, const XML_Char* name) {
    auto* s = static_cast<ParseState*>(data);
    const auto at = std::size_t(XML_GetCurrentByteIndex(s->parser));
    s->handler->end(name, at);
}

void on_text(void* data, const XML_Char* text, int size) {
    auto* s = static_cast<ParseState*>(data);
    const auto begin = std::size_t(XML_GetCurrentByteIndex(s->parser));
    const auto count = std::size_t(XML_GetCurrentByteCount(s->parser));
    s->handler->text_at(std::string_view(text, std::size_t(size)), begin, begin + count);
}

void on_doctype(void* data, const XML_Char*, const XML_Char*, const XML_Char*, int) {
    auto* s = static_cast<ParseState*>(data);
    s->doctype = true;
    XML_StopParser(s->parser, XML_FALSE);
}

}  // namespace

bool read_xml(std::string_view part, XmlHandler& handler, std::string& error) {
    ParseState state;
    state.parser = XML_ParserCreate("UTF-8");
    if (state.parser == nullptr) {
        error = "out of memory";
        return false;
    }
    state.handler = &handler;
    XML_SetUserData(state.parser, &state);
    XML_SetElementHandler(state.parser, on_start, on_end);
    XML_SetCharacterDataHandler(state.parser, on_text);
    XML_SetStartDoctypeDeclHandler(state.parser, on_doctype);
    // Offsets are relative to the start of the part: it is given whole, in one call. Parts
    // past what an int can hold are not read.
    bool ok = part.size() < std::size_t(1) << 30;
    if (!ok) {
        error = "part too large";
    } else if (XML_Parse(state.parser, part.data(), int(part.size()), XML_TRUE) != XML_STATUS_OK) {
        ok = false;
        if (state.doctype) {
            error = "it has a document type declaration";
        } else {
            error = std::string(XML_ErrorString(XML_GetErrorCode(state.parser))) + " at line " +
                    std::to_string(XML_GetCurrentLineNumber(state.parser));
        }
    }
    XML_ParserFree(state.parser);
    return ok;
}

}  // namespace toneshift::documents
