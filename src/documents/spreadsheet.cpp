// Excel workbooks (Office Open XML spreadsheets).
//
// Which font draws a character: a cell's font is the font of its cell format (the s
// attribute's entry of cellXfs, 0 when it has none). A rich text run with an rFont of its
// own is drawn in that font, every other piece of a string in the cell's font. Shared strings
// are stored once and used by any number of cells: a string whose cells differ in font is
// converted once for each font, the cells of the first keeping the string and those of each
// other font given a copy of it, appended to the shared strings, converted for theirs.
// Inline strings are converted where they are, and so is the cached result of a formula
// whose result is a string (t="str"), which the cell shows in its font; the formula itself is
// code and stays as it is, and so do sheet names and the cached results of other types.
#include <cstdlib>
#include <map>
#include <optional>
#include <vector>

#include "documents/formats.h"

namespace toneshift::documents::detail {

namespace {

// The end of the element whose end tag begins at `at`.
std::size_t end_of_tag(std::string_view part, std::size_t at) {
    const std::size_t close = part.find('>', at);
    return close == std::string_view::npos ? part.size() : close + 1;
}

struct Styles {
    std::vector<std::string> fonts;    // <fonts>: each font's name
    std::vector<std::size_t> xf_font;  // <cellXfs>: each format's fontId
    std::string font_of(std::size_t xf) const {
        if (xf >= xf_font.size() || xf_font[xf] >= fonts.size()) return {};
        return fonts[xf_font[xf]];
    }
};

class StylesReader : public ElementStack {
  public:
    explicit StylesReader(Styles& styles) : styles_(styles) {}
    void start(std::string_view name, const char** attributes, std::size_t, std::size_t) override {
        push(name);
        const std::string_view local = stack_.back();
        if (local == "font" && parent() == "fonts") {
            styles_.fonts.emplace_back();
        } else if (local == "name" && parent() == "font" && parent(2) == "fonts" &&
                   !styles_.fonts.empty()) {
            if (const char* v = attribute(attributes, "val")) styles_.fonts.back() = v;
        } else if (local == "xf" && parent() == "cellXfs") {
            const char* id = attribute(attributes, "fontId");
            styles_.xf_font.push_back(id != nullptr ? std::size_t(std::strtoul(id, nullptr, 10))
                                                    : 0);
        }
    }

  private:
    Styles& styles_;
};

// The font names of <font><name val=...> (styles) and <rFont val=...>.
std::span<const std::string_view> font_attributes(std::string_view local, std::string_view parent) {
    static constexpr std::string_view kVal[] = {"val"};
    if ((local == "name" && parent == "font") || local == "rFont") return kVal;
    return {};
}

// One text element of a string: its content's bytes, its text, and the run font it has.
struct StringText {
    std::size_t begin = 0;
    std::size_t end = 0;
    std::string text;
    bool has_font = false;
    std::string font;
    std::size_t font_begin = 0;  // the rFont val's bytes, when it has one
    std::size_t font_end = 0;
};

// A string: a shared string's <si>, or an inline <is>.
struct RichString {
    std::size_t begin = 0;  // the element's bytes, tags included
    std::size_t end = 0;
    std::vector<StringText> texts;
};

// Reads the strings of <si> or <is> elements: plain <t>, rich runs <r> with <rPr><rFont>,
// phonetic runs <rPh> skipped.
class StringCollector {
  public:
    void start(std::string_view local, std::string_view parent, std::string_view grandparent,
               const char** attributes, std::string_view part, std::size_t begin, std::size_t end) {
        if (local == "rPh") ++phonetic_;
        if (phonetic_ > 0 || current_ == nullptr) return;
        if (local == "r") {
            run_font_.reset();
        } else if (local == "rFont" && parent == "rPr" && grandparent == "r") {
            std::size_t from = 0, to = 0;
            const std::string_view tag = part.substr(begin, end - begin);
            if (const char* v = attribute(attributes, "val");
                v != nullptr && find_attribute(tag, "val", from, to)) {
                run_font_ = StringText{};
                run_font_->has_font = true;
                run_font_->font = v;
                run_font_->font_begin = begin + from;
                run_font_->font_end = begin + to;
            }
        } else if (local == "t" && (parent == "r" || parent == "si" || parent == "is")) {
            StringText t = parent == "r" && run_font_ ? *run_font_ : StringText{};
            t.begin = end;
            current_->texts.push_back(std::move(t));
            capturing_ = true;
        }
    }
    void end(std::string_view local, std::size_t at) {
        if (local == "rPh" && phonetic_ > 0) --phonetic_;
        if (local == "t" && capturing_) {
            capturing_ = false;
            current_->texts.back().end = at;
        }
    }
    void text(std::string_view data) {
        if (capturing_) current_->texts.back().text += data;
    }
    void begin_string(RichString* s) {
        current_ = s;
        phonetic_ = 0;
        capturing_ = false;
        run_font_.reset();
    }
    void end_string() { current_ = nullptr; }

  private:
    RichString* current_ = nullptr;
    int phonetic_ = 0;
    bool capturing_ = false;
    std::optional<StringText> run_font_;
};

class SharedStringsReader : public ElementStack {
  public:
    explicit SharedStringsReader(std::string_view part) : part_(part) {}
    std::vector<RichString> strings;
    std::size_t sst_begin = 0, sst_end = 0;          // the <sst> start tag
    std::size_t sst_close = std::string_view::npos;  // where </sst> begins

    void start(std::string_view name, const char** attributes, std::size_t begin,
               std::size_t end) override {
        push(name);
        const std::string_view local = stack_.back();
        if (local == "sst") {
            sst_begin = begin;
            sst_end = end;
        } else if (local == "si" && parent() == "sst") {
            strings.emplace_back();
            strings.back().begin = begin;
            collector_.begin_string(&strings.back());
        } else {
            collector_.start(local, parent(), parent(2), attributes, part_, begin, end);
        }
    }
    void end(std::string_view, std::size_t at) override {
        const std::string local = pop();
        collector_.end(local, at);
        if (local == "si" && parent(0) == "sst" && !strings.empty()) {
            strings.back().end = end_of_tag(part_, at);
            collector_.end_string();
        } else if (local == "sst") {
            sst_close = at;
        }
    }
    void text(std::string_view data) override { collector_.text(data); }

  private:
    std::string_view part_;
    StringCollector collector_;
};

// Where a cell is, for messages.
std::string cell_place(const std::string& sheet, const std::string& cell) {
    return "sheet " + sheet + ", cell " + cell;
}

// The edits that convert `s` drawn in `cell_font` (offsets relative to `base`): its text and
// its legacy run fonts. False when refused.
bool convert_string(const RichString& s, const std::string& cell_font, FontCache& fonts,
                    TextConverter& text, const TextPlace& where, std::size_t base,
                    std::vector<Edit>& edits) {
    std::vector<TextPiece> pieces;
    for (const StringText& t : s.texts) {
        TextPiece p;
        p.text = t.text;
        p.font = t.has_font ? t.font : cell_font;
        p.format = fonts.info(p.font).format;
        pieces.push_back(std::move(p));
    }
    if (!convert_pieces(pieces, text, where)) return false;
    for (std::size_t k = 0; k < pieces.size(); ++k) {
        const StringText& t = s.texts[k];
        if (pieces[k].left) continue;
        if (pieces[k].text != t.text)
            edits.push_back(Edit{t.begin - base, t.end - base, escape_text(pieces[k].text)});
        Edit e;
        if (t.has_font && pieces[k].format >= 0) {
            e.begin = t.font_begin - base;
            e.end = t.font_end - base;
            e.text = escape_attribute(fonts.info(t.font).replacement);
            edits.push_back(std::move(e));
        }
    }
    return true;
}

// One use of a shared string by a cell.
struct Use {
    std::size_t sheet = 0;  // index into the sheets
    std::size_t v_begin = 0;
    std::size_t v_end = 0;
    std::string font;
    std::string place;
};

class SheetReader : public ElementStack {
  public:
    SheetReader(std::string_view part, std::size_t sheet_index, const std::string& sheet_name,
                const Styles& styles, std::size_t shared_count, FontCache& fonts,
                TextConverter& text, const std::string& part_name,
                std::vector<std::vector<Use>>& uses, std::vector<Edit>& edits)
        : part_(part),
          sheet_index_(sheet_index),
          sheet_name_(sheet_name),
          styles_(styles),
          shared_count_(shared_count),
          fonts_(fonts),
          text_(text),
          part_name_(part_name),
          uses_(uses),
          edits_(edits) {}
    bool refused() const { return refused_; }

    void start(std::string_view name, const char** attributes, std::size_t begin,
               std::size_t end) override {
        push(name);
        const std::string_view local = stack_.back();
        if (local == "c") {
            const char* r = attribute(attributes, "r");
            const char* s = attribute(attributes, "s");
            const char* t = attribute(attributes, "t");
            cell_ = r != nullptr ? r : "";
            cell_font_ = styles_.font_of(s != nullptr ? std::strtoul(s, nullptr, 10) : 0);
            type_ = t != nullptr ? t : "";
        } else if (local == "v" && parent() == "c" && (type_ == "s" || type_ == "str")) {
            capturing_v_ = true;
            v_begin_ = end;
            v_text_.clear();
        } else if (local == "is" && parent() == "c") {
            inline_ = RichString{};
            inline_.begin = begin;
            collector_.begin_string(&inline_);
        } else {
            collector_.start(local, parent(), parent(2), attributes, part_, begin, end);
        }
    }
    void end(std::string_view, std::size_t at) override {
        const std::string local = pop();
        collector_.end(local, at);
        if (local == "v" && capturing_v_ && type_ == "str") {
            // A formula's string result, shown in the cell's font.
            capturing_v_ = false;
            RichString result;
            result.texts.push_back(StringText{v_begin_, at, v_text_, false, {}, 0, 0});
            if (!refused_ &&
                !convert_string(result, cell_font_, fonts_, text_,
                                TextPlace{part_name_, cell_place(sheet_name_, cell_)}, 0, edits_))
                refused_ = true;
        } else if (local == "v" && capturing_v_) {
            capturing_v_ = false;
            const std::size_t index = std::strtoul(v_text_.c_str(), nullptr, 10);
            if (index < shared_count_)
                uses_[index].push_back(
                    Use{sheet_index_, v_begin_, at, cell_font_, cell_place(sheet_name_, cell_)});
        } else if (local == "is") {
            collector_.end_string();
            if (!refused_ &&
                !convert_string(inline_, cell_font_, fonts_, text_,
                                TextPlace{part_name_, cell_place(sheet_name_, cell_)}, 0, edits_))
                refused_ = true;
        }
    }
    void text(std::string_view data) override {
        if (capturing_v_) v_text_ += data;
        collector_.text(data);
    }

  private:
    std::string_view part_;
    std::size_t sheet_index_;
    std::string sheet_name_;
    const Styles& styles_;
    std::size_t shared_count_;
    FontCache& fonts_;
    TextConverter& text_;
    std::string part_name_;
    std::vector<std::vector<Use>>& uses_;
    std::vector<Edit>& edits_;
    std::string cell_, cell_font_, type_;
    bool capturing_v_ = false;
    std::size_t v_begin_ = 0;
    std::string v_text_;
    RichString inline_;
    StringCollector collector_;
    bool refused_ = false;
};

// Sheet names by part: workbook.xml's <sheet name r:id> through the workbook's relationships.
class WorkbookReader : public ElementStack {
  public:
    std::vector<std::pair<std::string, std::string>> sheets;  // name, relationship id
    void start(std::string_view name, const char** attributes, std::size_t, std::size_t) override {
        push(name);
        if (stack_.back() != "sheet") return;
        const char* n = attribute(attributes, "name");
        const char* id = attribute(attributes, "id");
        if (n != nullptr && id != nullptr) sheets.emplace_back(n, id);
    }
};

class RelationshipsReader : public ElementStack {
  public:
    std::map<std::string, std::string> targets;
    void start(std::string_view name, const char** attributes, std::size_t, std::size_t) override {
        push(name);
        if (stack_.back() != "Relationship") return;
        const char* id = attribute(attributes, "Id");
        const char* target = attribute(attributes, "Target");
        if (id != nullptr && target != nullptr) targets[id] = target;
    }
};

}  // namespace

void convert_spreadsheet(Package& package, FontCache& fonts, TextConverter& text,
                         DocumentResult& result) {
    using Status = DocumentResult::Status;
    std::map<std::string, std::string> types;
    std::string error;
    if (!content_types(package, types, error)) return set_broken(result, "", error);
    std::string workbook_name, styles_name, shared_name;
    std::vector<std::string> sheet_parts;
    for (const auto& [name, type] : types) {
        if (type.ends_with("main+xml")) workbook_name = name;
        if (type.ends_with("spreadsheetml.styles+xml")) styles_name = name;
        if (type.ends_with("spreadsheetml.sharedStrings+xml")) shared_name = name;
        if (type.ends_with("spreadsheetml.worksheet+xml")) sheet_parts.push_back(name);
    }
    // Sheet names, for messages.
    std::map<std::string, std::string> sheet_names;
    if (!workbook_name.empty() && package.has(workbook_name)) {
        std::string xml;
        WorkbookReader workbook;
        if (!read_part(package, workbook_name, xml, workbook, error))
            return set_broken(result, workbook_name, error);
        const std::size_t slash = workbook_name.rfind('/');
        const std::string folder =
            slash == std::string::npos ? "" : workbook_name.substr(0, slash + 1);
        const std::string rels_name =
            folder + "_rels/" + workbook_name.substr(folder.size()) + ".rels";
        RelationshipsReader rels;
        if (package.has(rels_name)) {
            if (!read_part(package, rels_name, xml, rels, error))
                return set_broken(result, rels_name, error);
        }
        for (const auto& [name, id] : workbook.sheets) {
            const auto it = rels.targets.find(id);
            if (it == rels.targets.end()) continue;
            const std::string& target = it->second;
            sheet_names[target.starts_with("/") ? target.substr(1) : folder + target] = name;
        }
    }
    Styles styles;
    std::string styles_xml;
    if (!styles_name.empty() && package.has(styles_name)) {
        StylesReader reader(styles);
        if (!read_part(package, styles_name, styles_xml, reader, error))
            return set_broken(result, styles_name, error);
    }
    std::string shared_xml;
    if (!shared_name.empty() && package.has(shared_name) &&
        !package.read(shared_name, shared_xml, error))
        return set_broken(result, shared_name, error);
    SharedStringsReader shared(shared_xml);
    if (!shared_xml.empty() && !read_xml(shared_xml, shared, error))
        return set_broken(result, shared_name, error);

    // The sheets: inline strings converted, shared strings' uses gathered.
    std::vector<std::vector<Use>> uses(shared.strings.size());
    std::vector<std::string> sheet_xml(sheet_parts.size());
    std::vector<std::vector<Edit>> sheet_edits(sheet_parts.size());
    for (std::size_t i = 0; i < sheet_parts.size(); ++i) {
        const std::string& name = sheet_parts[i];
        if (!package.has(name)) continue;
        if (!package.read(name, sheet_xml[i], error)) return set_broken(result, name, error);
        const auto n = sheet_names.find(name);
        SheetReader reader(sheet_xml[i], i, n != sheet_names.end() ? n->second : name, styles,
                           shared.strings.size(), fonts, text, name, uses, sheet_edits[i]);
        if (!read_xml(sheet_xml[i], reader, error)) return set_broken(result, name, error);
        if (reader.refused()) {
            result.status = Status::kRefused;
            return;
        }
    }

    // The shared strings, once per font of the cells that use them.
    std::vector<Edit> shared_edits;
    std::string appended;
    std::size_t added = 0;
    const std::string default_font = styles.font_of(0);
    for (std::size_t k = 0; k < shared.strings.size(); ++k) {
        const RichString& s = shared.strings[k];
        bool needs_cell_font = false;
        for (const StringText& t : s.texts) needs_cell_font = needs_cell_font || !t.has_font;
        // The fonts of its cells, in the order met; with no cell, the default font.
        std::vector<std::string> cell_fonts;
        for (const Use& u : uses[k]) {
            bool known = false;
            for (const std::string& f : cell_fonts) known = known || f == u.font;
            if (!known) cell_fonts.push_back(u.font);
        }
        if (cell_fonts.empty()) cell_fonts.push_back(default_font);
        if (!needs_cell_font) cell_fonts.resize(1);
        for (std::size_t f = 0; f < cell_fonts.size(); ++f) {
            std::string place = "shared string " + std::to_string(k + 1);
            for (const Use& u : uses[k]) {
                if (!needs_cell_font || u.font == cell_fonts[f]) {
                    place = u.place;
                    break;
                }
            }
            const TextPlace where{shared_name, place};
            if (f == 0) {
                if (!convert_string(s, cell_fonts[f], fonts, text, where, 0, shared_edits)) {
                    result.status = Status::kRefused;
                    return;
                }
                continue;
            }
            // A copy for the cells of another font.
            std::vector<Edit> copy_edits;
            if (!convert_string(s, cell_fonts[f], fonts, text, where, s.begin, copy_edits)) {
                result.status = Status::kRefused;
                return;
            }
            appended += apply_edits(std::string_view(shared_xml).substr(s.begin, s.end - s.begin),
                                    copy_edits);
            const std::size_t index = shared.strings.size() + added++;
            for (const Use& u : uses[k])
                if (u.font == cell_fonts[f])
                    sheet_edits[u.sheet].push_back(Edit{u.v_begin, u.v_end, std::to_string(index)});
        }
    }
    if (added != 0 && shared.sst_close != std::string::npos) {
        shared_edits.push_back(Edit{shared.sst_close, shared.sst_close, appended});
        std::size_t from = 0, to = 0;
        const std::string_view tag =
            std::string_view(shared_xml)
                .substr(shared.sst_begin, shared.sst_end - shared.sst_begin);
        if (find_attribute(tag, "uniqueCount", from, to)) {
            const std::size_t before =
                std::strtoul(std::string(tag.substr(from, to - from)).c_str(), nullptr, 10);
            shared_edits.push_back(Edit{shared.sst_begin + from, shared.sst_begin + to,
                                        std::to_string(before + added)});
        }
    }

    const auto replace = [&](const std::string& name, const std::string& xml,
                             std::vector<Edit>& edits) {
        if (replace_part(package, name, xml, edits, result, error)) return true;
        set_broken(result, name, error);
        return false;
    };
    if (!replace(shared_name, shared_xml, shared_edits)) return;
    for (std::size_t i = 0; i < sheet_parts.size(); ++i)
        if (!replace(sheet_parts[i], sheet_xml[i], sheet_edits[i])) return;
    if (!styles_xml.empty()) {
        std::vector<Edit> edits;
        FontNameEdits names(styles_xml, font_attributes, fonts, edits);
        if (!read_xml(styles_xml, names, error)) return set_broken(result, styles_name, error);
        if (!replace(styles_name, styles_xml, edits)) return;
    }
    if (!package.write(result.output, error)) set_broken(result, "the package", error);
}

}  // namespace toneshift::documents::detail
