// Reading an XML part with the byte offsets of what it holds, and changing only chosen byte
// ranges of it: every byte outside them stays as it was.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace toneshift::documents {

// One byte range of a part and what takes its place.
struct Edit {
    std::size_t begin = 0;
    std::size_t end = 0;
    std::string text;
};

// `original` with `edits` made (sorted here by their start; they must not overlap).
std::string apply_edits(std::string_view original, std::vector<Edit>& edits);

// Character data and attribute values escaped as XML needs them: & and < always, > in
// text (after "]]"), and the double quote in attribute values (which this code writes in
// the quotes the value had: both quotes are escaped). A carriage return, and in attribute
// values a tab or line feed, is written as a character reference: written as it is, a parser
// would read it as a line feed or a space.
std::string escape_text(std::string_view text);
std::string escape_attribute(std::string_view value);

// The name after its prefix: "w:ascii" is "ascii".
std::string_view local_name(std::string_view qualified);

// In the start tag `tag` ("<w:rFonts w:ascii=\".VnTime\"/>"), the value of the attribute
// whose local name is `local`, as the byte range inside its quotes (offsets into `tag`).
bool find_attribute(std::string_view tag, std::string_view local, std::size_t& begin,
                    std::size_t& end);

// What a reader is told, with byte offsets into the part.
class XmlHandler {
  public:
    virtual ~XmlHandler() = default;
    // A start tag: its qualified name, its attributes as expat gives them (name, value, ...,
    // nullptr), and its bytes [begin, end).
    virtual void start(std::string_view name, const char** attributes, std::size_t begin,
                       std::size_t end) = 0;
    // An end tag, or the end of an empty element, at byte `at` (for an empty element: its
    // start tag's end).
    virtual void end(std::string_view name, std::size_t at) = 0;
    // Character data (entities and character references decoded), in pieces.
    virtual void text(std::string_view data) = 0;
    // The same, with the bytes [begin, end) of the part that each piece was read from (a
    // reference such as "&amp;" is a piece of its own). By default, text().
    virtual void text_at(std::string_view data, std::size_t, std::size_t) { text(data); }
};

// Parses `part` as UTF-8 XML, without a document type declaration (office parts have none;
// refusing them keeps entity expansion out). False with `error` set when it is not such XML.
bool read_xml(std::string_view part, XmlHandler& handler, std::string& error);

// The value of attribute `local` (by local name) among expat's attributes, or nullptr.
const char* attribute(const char** attributes, std::string_view local);

}  // namespace toneshift::documents
