// The readers of each kind of document, behind convert_document().
#pragma once

#include <map>
#include <span>
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

// A handler that keeps the names of the open elements: their local names ("w:p" is "p"), or
// with `qualified`, the names as written (OpenDocument's prefixes are fixed in practice). An
// end tag pops its name and character data is passed over, unless a reader says otherwise.
class ElementStack : public XmlHandler {
  public:
    void end(std::string_view, std::size_t) override { pop(); }
    void text(std::string_view) override {}

  protected:
    explicit ElementStack(bool qualified = false) : qualified_(qualified) {}
    // The name `up` levels above the innermost open element (0: that element), or "".
    std::string_view parent(std::size_t up = 1) const {
        return stack_.size() > up ? std::string_view(stack_[stack_.size() - 1 - up])
                                  : std::string_view();
    }
    bool inside(std::string_view name) const {
        for (const std::string& s : stack_)
            if (s == name) return true;
        return false;
    }
    void push(std::string_view name) { stack_.emplace_back(qualified_ ? name : local_name(name)); }
    // The innermost name, taken off ("" when none is open).
    std::string pop() {
        if (stack_.empty()) return {};
        std::string last = std::move(stack_.back());
        stack_.pop_back();
        return last;
    }
    std::vector<std::string> stack_;

  private:
    bool qualified_;
};

// The Latin fonts of an Office theme: the typefaces of a:majorFont's and a:minorFont's a:latin.
struct Theme {
    std::string major;
    std::string minor;
};

class ThemeReader : public ElementStack {
  public:
    Theme theme;
    void start(std::string_view name, const char** attributes, std::size_t, std::size_t) override;
};

// The edit that puts `font`'s Unicode replacement in place of the attribute `local` of the
// start tag at part[begin, end), when that attribute names a legacy font.
bool font_attribute_edit(std::string_view part, std::size_t begin, std::size_t end,
                         std::string_view local, FontCache& fonts, Edit& edit);

// The local names of the attributes of element `local` (inside `parent`) that name fonts,
// none for an element that names none.
using FontAttributesOf = std::span<const std::string_view> (*)(std::string_view local,
                                                               std::string_view parent);

// The edits that replace the legacy font names of a part (see font_attribute_edit()) in the
// attributes `which` names.
class FontNameEdits : public ElementStack {
  public:
    FontNameEdits(std::string_view part, FontAttributesOf which, FontCache& fonts,
                  std::vector<Edit>& edits)
        : part_(part), which_(which), fonts_(fonts), edits_(edits) {}
    void start(std::string_view name, const char** attributes, std::size_t begin,
               std::size_t end) override;

  private:
    std::string_view part_;
    FontAttributesOf which_;
    FontCache& fonts_;
    std::vector<Edit>& edits_;
};

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

// A stretch of character data, the bytes [begin, end) of its part, that one font draws.
struct TextSlot {
    std::size_t begin = 0;
    std::size_t end = 0;
    std::string text;
    std::string font;
};

// Converts the slots of one paragraph as convert_pieces() does, adding an edit for each slot
// whose text changes. False when the policy refused an undefined byte (no edit is added).
bool convert_slots(const std::vector<TextSlot>& slots, FontCache& fonts, TextConverter& text,
                   const TextPlace& where, std::vector<Edit>& edits);

// Reads part `name` into `xml` and gives it to `handler`. False with `error` set when the
// part cannot be read or is not XML.
bool read_part(Package& package, const std::string& name, std::string& xml, XmlHandler& handler,
               std::string& error);

// Puts `xml` with `edits` made in place of part `name` and counts it in
// result.parts_changed; with no edits, nothing. False with `error` set when the package
// refuses the part.
bool replace_part(Package& package, const std::string& name, std::string_view xml,
                  std::vector<Edit>& edits, DocumentResult& result, std::string& error);

// Marks `result` broken: `why`, after the part's name when there is one.
void set_broken(DocumentResult& result, const std::string& part, const std::string& why);

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
