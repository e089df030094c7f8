// OpenDocument text, spreadsheets and presentations (content.xml and styles.xml).
//
// Which font draws a character: the first font found from the innermost element out. Each
// text:span's text style, each text:p or text:h's paragraph style, a spreadsheet cell's
// style (its own, or its row's or column's default cell style), a drawing frame's or shape's
// graphic or presentation style; each style through its parent styles; then the default
// style of the paragraph family. A style's font is its text properties' style:font-name (a
// font face of office:font-face-decls, whose svg:font-family is the font) or fo:font-family.
// Text is the character data of text:p, text:h, text:span, text:a and the fields (see
// is_field()), in content.xml (the body, notes, frames, annotations, cells, slides) and
// styles.xml (headers, footers, master pages); note citations are left as they are.
#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <map>
#include <optional>
#include <tuple>
#include <vector>

#include "documents/formats.h"

namespace toneshift::documents::detail {

namespace {

constexpr int kMaxStyleDepth = 32;

std::string unquoted(std::string_view family) {
    // svg:font-family and fo:font-family may quote a name: "'Times New Roman'"; a list keeps
    // its first name.
    std::string_view f = family;
    const std::size_t comma = f.find(',');
    if (comma != std::string_view::npos && f.front() != '\'' && f.front() != '"')
        f = f.substr(0, comma);
    while (!f.empty() && f.front() == ' ') f.remove_prefix(1);
    while (!f.empty() && f.back() == ' ') f.remove_suffix(1);
    if (f.size() >= 2 && (f.front() == '\'' || f.front() == '"') && f.back() == f.front())
        f = f.substr(1, f.size() - 2);
    return std::string(f);
}

struct Style {
    std::string parent;
    std::optional<std::string> font_face;  // style:font-name
    std::optional<std::string> family;     // fo:font-family
};

struct Styles {
    std::map<std::string, std::string> faces;  // font face name: font family
    std::map<std::string, Style> common;       // "family/name"
    std::map<std::string, Style> automatic;    // of the part being read
    std::map<std::string, Style> defaults;     // family: default style

    const Style* find(const std::string& key) const {
        if (const auto it = automatic.find(key); it != automatic.end()) return &it->second;
        if (const auto it = common.find(key); it != common.end()) return &it->second;
        return nullptr;
    }
    std::optional<std::string> font_of(const Style& s) const {
        if (s.font_face) {
            const auto it = faces.find(*s.font_face);
            return it != faces.end() ? it->second : *s.font_face;
        }
        if (s.family) return unquoted(*s.family);
        return std::nullopt;
    }
    // The font of style `name` of `family`, through its parents.
    std::optional<std::string> font(const std::string& family, std::string name) const {
        for (int depth = 0; depth < kMaxStyleDepth && !name.empty(); ++depth) {
            const Style* s = find(family + "/" + name);
            if (s == nullptr) return std::nullopt;
            if (auto f = font_of(*s)) return f;
            name = s->parent;
        }
        return std::nullopt;
    }
};

// Element names are kept qualified: ODF's prefixes are fixed in practice.
class Named : public ElementStack {
  protected:
    Named() : ElementStack(true) {}
};

// Reads font faces and styles; `automatic` says where office:automatic-styles go.
class StylesReader : public Named {
  public:
    StylesReader(Styles& styles, std::map<std::string, Style>& automatic)
        : styles_(styles), automatic_(automatic) {}
    void start(std::string_view name, const char** attributes, std::size_t, std::size_t) override {
        push(name);
        if (name == "style:font-face") {
            const char* n = attribute(attributes, "name");
            const char* f = attribute(attributes, "font-family");
            if (n != nullptr && f != nullptr) styles_.faces[n] = unquoted(f);
        } else if (name == "style:style" || name == "style:default-style") {
            const char* family = attribute(attributes, "family");
            const char* n = attribute(attributes, "name");
            const char* p = attribute(attributes, "parent-style-name");
            current_ = Style{};
            if (p != nullptr) current_.parent = p;
            key_ = std::string(family != nullptr ? family : "") + "/" + (n != nullptr ? n : "");
            is_default_ = name == "style:default-style";
            default_family_ = family != nullptr ? family : "";
            in_style_ = true;
        } else if (name == "style:text-properties" && in_style_) {
            if (const char* f = attribute(attributes, "font-name")) current_.font_face = f;
            for (const char** a = attributes; a != nullptr && *a != nullptr; a += 2)
                if (std::string_view(a[0]) == "fo:font-family") current_.family = a[1];
        }
    }
    void end(std::string_view, std::size_t) override {
        const std::string name = pop();
        if ((name == "style:style" || name == "style:default-style") && in_style_) {
            in_style_ = false;
            if (is_default_) {
                styles_.defaults[default_family_] = current_;
            } else {
                const bool automatic = std::find(stack_.begin(), stack_.end(),
                                                 "office:automatic-styles") != stack_.end();
                (automatic ? automatic_ : styles_.common)[key_] = current_;
            }
        }
    }

  private:
    Styles& styles_;
    std::map<std::string, Style>& automatic_;
    Style current_;
    std::string key_;
    std::string default_family_;
    bool is_default_ = false;
    bool in_style_ = false;
};

// Replaces legacy font names: svg:font-family of font faces, fo:font-family of text
// properties.
class FontNames : public Named {
  public:
    FontNames(std::string_view part, FontCache& fonts, std::vector<Edit>& edits)
        : part_(part), fonts_(fonts), edits_(edits) {}
    void start(std::string_view name, const char** attributes, std::size_t begin,
               std::size_t end) override {
        push(name);
        const bool face = name == "style:font-face";
        if (!face && name != "style:text-properties") return;
        const char* value = attribute(attributes, "font-family");
        if (value == nullptr) return;
        const FontInfo& info = fonts_.info(unquoted(value));
        if (info.format < 0) return;
        std::size_t from = 0, to = 0;
        const std::string_view tag = part_.substr(begin, end - begin);
        if (!find_attribute(tag, "font-family", from, to)) return;
        const bool quote = info.replacement.find(' ') != std::string::npos;
        edits_.push_back(
            Edit{begin + from, begin + to,
                 escape_attribute(quote ? "'" + info.replacement + "'" : info.replacement)});
    }

  private:
    std::string_view part_;
    FontCache& fonts_;
    std::vector<Edit>& edits_;
};

bool is_paragraph(std::string_view name) {
    return name == "text:p" || name == "text:h";
}
// The fields whose content is the text they show: generated (a date, a page number, a
// chapter's title, a sequence's number, the document's title or author) or typed (an input
// field, a variable's value). They have no text style of their own: the span or paragraph
// around them gives their font. Their attributes (a formula, a fixed value, a name) are left
// as they are; so is text:script, whose content is code, and a note's citation.
bool is_field(std::string_view name) {
    static constexpr std::string_view kFields[] = {
        "text:author-initials",
        "text:author-name",
        "text:bookmark-ref",
        "text:chapter",
        "text:character-count",
        "text:conditional-text",
        "text:creation-date",
        "text:creation-time",
        "text:creator",
        "text:database-display",
        "text:database-name",
        "text:database-row-number",
        "text:date",
        "text:dde-connection",
        "text:description",
        "text:drop-down",
        "text:editing-cycles",
        "text:editing-duration",
        "text:execute-macro",
        "text:expression",
        "text:file-name",
        "text:hidden-text",
        "text:image-count",
        "text:initial-creator",
        "text:keywords",
        "text:measure",
        "text:modification-date",
        "text:modification-time",
        "text:note-ref",
        "text:object-count",
        "text:page-continuation",
        "text:page-count",
        "text:page-number",
        "text:page-variable-get",
        "text:paragraph-count",
        "text:placeholder",
        "text:print-date",
        "text:print-time",
        "text:printed-by",
        "text:reference-ref",
        "text:sender-city",
        "text:sender-company",
        "text:sender-country",
        "text:sender-email",
        "text:sender-fax",
        "text:sender-firstname",
        "text:sender-initials",
        "text:sender-lastname",
        "text:sender-phone-private",
        "text:sender-phone-work",
        "text:sender-position",
        "text:sender-postal-code",
        "text:sender-state-or-province",
        "text:sender-street",
        "text:sender-title",
        "text:sequence",
        "text:sequence-ref",
        "text:sheet-name",
        "text:subject",
        "text:table-count",
        "text:table-formula",
        "text:template-name",
        "text:text-input",
        "text:time",
        "text:title",
        "text:user-defined",
        "text:user-field-get",
        "text:user-field-input",
        "text:variable-get",
        "text:variable-input",
        "text:variable-set",
        "text:word-count",
    };
    static_assert(std::is_sorted(std::begin(kFields), std::end(kFields)));
    return std::binary_search(std::begin(kFields), std::end(kFields), name);
}

bool holds_text(std::string_view name) {
    return is_paragraph(name) || name == "text:span" || name == "text:a" || is_field(name);
}

class TextRewriter : public Named {
  public:
    TextRewriter(std::string_view part_name, const Styles& styles, FontCache& fonts,
                 TextConverter& text, std::vector<Edit>& edits)
        : part_name_(part_name), styles_(styles), fonts_(fonts), text_(text), edits_(edits) {}
    bool refused() const { return refused_; }

    void start(std::string_view name, const char** attributes, std::size_t, std::size_t) override {
        push(name);
        Frame f;
        if (name == "text:span" || name == "text:a") {
            if (const char* s = attribute(attributes, "style-name"))
                f.style = "text/" + std::string(s);
        } else if (is_paragraph(name)) {
            if (const char* s = attribute(attributes, "style-name"))
                f.style = "paragraph/" + std::string(s);
            paras_.emplace_back();
            paras_.back().number = ++para_count_;
        } else if (name == "table:table") {
            columns_.clear();
        } else if (name == "table:table-column") {
            const char* d = attribute(attributes, "default-cell-style-name");
            const char* r = attribute(attributes, "number-columns-repeated");
            const unsigned long n = r != nullptr ? std::strtoul(r, nullptr, 10) : 1;
            for (unsigned long k = 0; k < n && columns_.size() < kMaxColumns; ++k)
                columns_.emplace_back(d != nullptr ? d : "");
        } else if (name == "table:table-row") {
            const char* d = attribute(attributes, "default-cell-style-name");
            row_default_ = d != nullptr ? d : "";
            column_ = 0;
        } else if (name == "table:table-cell" || name == "table:covered-table-cell") {
            const char* s = attribute(attributes, "style-name");
            std::string style = s != nullptr ? s : "";
            if (style.empty()) style = row_default_;
            if (style.empty() && column_ < columns_.size()) style = columns_[column_];
            if (!style.empty()) f.style = "table-cell/" + style;
            const char* r = attribute(attributes, "number-columns-repeated");
            column_ += r != nullptr ? std::strtoul(r, nullptr, 10) : 1;
        } else if (name == "draw:frame" || name == "draw:custom-shape" || name == "draw:rect" ||
                   name == "draw:text-box") {
            const char* p = attribute(attributes, "presentation:style-name");
            const char* g = attribute(attributes, "draw:style-name");
            for (const char** a = attributes; a != nullptr && *a != nullptr; a += 2) {
                if (std::string_view(a[0]) == "presentation:style-name") p = a[1];
                if (std::string_view(a[0]) == "draw:style-name") g = a[1];
            }
            if (p != nullptr)
                f.style = "presentation/" + std::string(p);
            else if (g != nullptr)
                f.style = "graphic/" + std::string(g);
        }
        frames_.push_back(std::move(f));
        run_open_ = false;
    }

    void end(std::string_view, std::size_t) override {
        const std::string name = pop();
        if (!frames_.empty()) frames_.pop_back();
        run_open_ = false;
        if (is_paragraph(name) && !paras_.empty()) {
            finish(paras_.back());
            paras_.pop_back();
        }
    }

    void text(std::string_view) override {}
    void text_at(std::string_view data, std::size_t begin, std::size_t end) override {
        if (stack_.empty() || !holds_text(stack_.back()) || paras_.empty()) return;
        Para& para = paras_.back();
        if (run_open_ && !para.slots.empty() && para.slots.back().end == begin) {
            para.slots.back().end = end;
            para.slots.back().text += data;
            return;
        }
        TextSlot slot;
        slot.begin = begin;
        slot.end = end;
        slot.text = data;
        slot.font = font();
        para.slots.push_back(std::move(slot));
        run_open_ = true;
    }

  private:
    static constexpr std::size_t kMaxColumns = 16384;

    struct Frame {
        std::string style;  // "family/name", or empty
    };
    struct Para {
        int number = 0;
        std::vector<TextSlot> slots;
    };

    std::string font() const {
        for (auto it = frames_.rbegin(); it != frames_.rend(); ++it) {
            if (it->style.empty()) continue;
            const std::size_t slash = it->style.find('/');
            if (auto f = styles_.font(it->style.substr(0, slash), it->style.substr(slash + 1)))
                return *f;
        }
        for (const char* family : {"paragraph", "table-cell", "graphic"}) {
            const auto it = styles_.defaults.find(family);
            if (it == styles_.defaults.end()) continue;
            if (auto f = styles_.font_of(it->second)) return *f;
        }
        return {};
    }

    void finish(const Para& para) {
        if (refused_) return;
        const TextPlace where{part_name_, "paragraph " + std::to_string(para.number)};
        refused_ = !convert_slots(para.slots, fonts_, text_, where, edits_);
    }

    std::string part_name_;
    const Styles& styles_;
    FontCache& fonts_;
    TextConverter& text_;
    std::vector<Edit>& edits_;
    std::vector<Frame> frames_;
    std::vector<Para> paras_;
    std::vector<std::string> columns_;
    std::string row_default_;
    std::size_t column_ = 0;
    int para_count_ = 0;
    bool run_open_ = false;
    bool refused_ = false;
};

}  // namespace

void convert_opendocument(Package& package, FontCache& fonts, TextConverter& text,
                          DocumentResult& result) {
    std::string error;
    Styles styles;
    std::map<std::string, Style> styles_automatic, content_automatic;
    std::string styles_xml, content_xml;
    if (package.has("styles.xml")) {
        StylesReader reader(styles, styles_automatic);
        if (!read_part(package, "styles.xml", styles_xml, reader, error))
            return set_broken(result, "styles.xml", error);
    }
    if (package.has("content.xml")) {
        StylesReader reader(styles, content_automatic);
        if (!read_part(package, "content.xml", content_xml, reader, error))
            return set_broken(result, "content.xml", error);
    }
    for (auto& [name, xml, automatic] :
         {std::tuple<std::string, std::string&, std::map<std::string, Style>&>{
              "content.xml", content_xml, content_automatic},
          {"styles.xml", styles_xml, styles_automatic}}) {
        if (xml.empty()) continue;
        styles.automatic = automatic;
        std::vector<Edit> edits;
        TextRewriter rewriter(name, styles, fonts, text, edits);
        if (!read_xml(xml, rewriter, error)) return set_broken(result, name, error);
        if (rewriter.refused()) {
            result.status = DocumentResult::Status::kRefused;
            return;
        }
        FontNames names(xml, fonts, edits);
        if (!read_xml(xml, names, error) || !replace_part(package, name, xml, edits, result, error))
            return set_broken(result, name, error);
    }
    if (!package.write(result.output, error)) set_broken(result, "the package", error);
}

}  // namespace toneshift::documents::detail
