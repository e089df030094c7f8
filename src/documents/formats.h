// The readers of each kind of document, behind convert_document().
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "documents/document.h"
#include "documents/package.h"
#include "documents/xml.h"

namespace toneshift::documents::detail {

// The font table's answer for each font name, looked up once.
class FontCache {
  public:
    explicit FontCache(const FontTable& table) : table_(table) {}
    const FontInfo& info(const std::string& name) {
        const auto it = cache_.find(name);
        if (it != cache_.end()) return it->second;
        return cache_.emplace(name, table_.lookup(name)).first->second;
    }
    bool legacy(const std::string& name) { return info(name).format >= 0; }

  private:
    const FontTable& table_;
    std::map<std::string, FontInfo, std::less<>> cache_;
};

// The edit that puts `font`'s Unicode replacement in place of the attribute `local` of the
// start tag at part[begin, end), when that attribute names a legacy font.
bool font_attribute_edit(std::string_view part, std::size_t begin, std::size_t end,
                         std::string_view local, FontCache& fonts, Edit& edit);

// One piece of a paragraph's text as stored, in its font; after convert_pieces(), its
// Unicode text, or `left` when its text reads clearly as another encoding.
struct TextPiece {
    std::string text;
    int format = -1;  // -1: a Unicode font, left alone
    std::string font;
    bool left = false;
};

// Converts the pieces of one paragraph: those of one encoding that follow one another as one
// text. False when the policy refused an undefined byte.
bool convert_pieces(std::vector<TextPiece>& pieces, TextConverter& text, const TextPlace& where);

// Each reader fills `result` (status, output, error) from an open package or the RTF text.
void convert_word(Package& package, std::string_view data, FontCache& fonts, TextConverter& text,
                  DocumentResult& result);
void convert_spreadsheet(Package& package, FontCache& fonts, TextConverter& text,
                         DocumentResult& result);
void convert_opendocument(Package& package, FontCache& fonts, TextConverter& text,
                          DocumentResult& result);
void convert_presentation(Package& package, FontCache& fonts, TextConverter& text,
                          DocumentResult& result);
void convert_rtf(std::string_view data, FontCache& fonts, TextConverter& text,
                 DocumentResult& result);

// The content types of the parts of an Office Open XML package: part name (without the
// leading '/') to content type, from [Content_Types].xml's Override elements.
bool content_types(Package& package, std::map<std::string, std::string>& types, std::string& error);

// The relationships of part `part` (from its folder's _rels/NAME.rels): relationship id to
// the part it names, as a path in the package ("../slideLayouts/x.xml" resolved). A part
// without relationships has none; false only when they cannot be read.
bool relationships(Package& package, const std::string& part,
                   std::map<std::string, std::string>& targets, std::string& error);

}  // namespace toneshift::documents::detail
