// Word documents (Office Open XML word processing).
//
// Which font draws a character is decided as Word decides it for text that is not East
// Asian or complex script: the font of w:rFonts/@w:ascii (or @w:asciiTheme, which wins
// over it) for U+0000..U+007F, and the font of @w:hAnsi (or @w:hAnsiTheme) for every other
// character, where a legacy font's letters lie. Each of the two is taken from the first
// place in this chain that gives it: the run's own properties, its character style and the
// styles it is based on, its paragraph's style (or the default paragraph style) and theirs,
// the style of the innermost table that holds the paragraph (w:tblPr/w:tblStyle) and the
// styles it is based on, the document defaults. Between the paragraph style and the table
// style's own properties come the table style's conditional formats (w:tblStylePr) that apply
// to the run's cell, later ones in TableCondition's order overriding earlier ones. Which
// apply is what Word recorded in w:cnfStyle (of the paragraph, else of the cell and row)
// where it did; otherwise it follows from the table's w:tblLook and the cell's row and
// column (banding one row or column at a time). A text box is a story of its own: a table
// around the run that holds it does not style its text. Theme names ("minorHAnsi", "majorAscii")
// are the theme's minor or major Latin font.
//
// Text is that of w:t and w:delText in every part that holds a story: the body (with its
// tables and the text boxes inside it), headers, footers, footnotes, endnotes and comments.
// A field's result is such runs (between a complex field's "separate" and "end" marks, or
// inside w:fldSimple) and converts with them; its instructions (w:instrText, w:instr) are
// code, never text. The pieces of one paragraph in one encoding are converted as one text, so
// that a letter whose bytes two runs share is read whole. The text of list numbers and
// bullets is that of the numbering part's levels (see NumberingRewriter).
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

#include "documents/formats.h"

namespace toneshift::documents::detail {

namespace {

constexpr int kMaxStyleDepth = 32;
constexpr std::string_view kFontAttributes[] = {"ascii", "hAnsi", "cs", "eastAsia"};

struct FontSpec {
    std::optional<std::string> ascii;
    std::optional<std::string> hansi;
};

std::string theme_font(const Theme& theme, std::string_view value) {
    return value.substr(0, 5) == "major" ? theme.major : theme.minor;
}

FontSpec spec_of(const char** attributes, const Theme& theme) {
    FontSpec s;
    if (const char* t = attribute(attributes, "asciiTheme")) {
        s.ascii = theme_font(theme, t);
    } else if (const char* v = attribute(attributes, "ascii")) {
        s.ascii = v;
    }
    if (const char* t = attribute(attributes, "hAnsiTheme")) {
        s.hansi = theme_font(theme, t);
    } else if (const char* v = attribute(attributes, "hAnsi")) {
        s.hansi = v;
    }
    return s;
}

// A table style's conditional formats, in the order Word applies them: each overrides the
// ones before it.
enum TableCondition : int {
    kWholeTable,
    kBand1Vert,
    kBand2Vert,
    kBand1Horz,
    kBand2Horz,
    kFirstCol,
    kLastCol,
    kFirstRow,
    kLastRow,
    kNeCell,
    kNwCell,
    kSeCell,
    kSwCell,
    kConditionCount
};
constexpr std::string_view kConditionNames[kConditionCount] = {
    "wholeTable", "band1Vert", "band2Vert", "band1Horz", "band2Horz", "firstCol", "lastCol",
    "firstRow",   "lastRow",   "neCell",    "nwCell",    "seCell",    "swCell"};
constexpr unsigned condition_bit(int c) {
    return 1u << c;
}

int condition_of(std::string_view name) {
    for (int c = 0; c < kConditionCount; ++c)
        if (kConditionNames[c] == name) return c;
    return -1;
}

// The conditions a w:cnfStyle names: the twelve-digit w:val (firstRow, lastRow, firstColumn,
// lastColumn, oddVBand, evenVBand, oddHBand, evenHBand, then the corners nw, ne, sw, se) and
// the attributes of the same names, which win over it.
unsigned conditions_of_cnf(const char** attributes) {
    static constexpr int kByDigit[] = {kFirstRow,  kLastRow,   kFirstCol,  kLastCol,
                                       kBand1Vert, kBand2Vert, kBand1Horz, kBand2Horz,
                                       kNwCell,    kNeCell,    kSwCell,    kSeCell};
    static constexpr const char* kByAttribute[] = {"firstRow",
                                                   "lastRow",
                                                   "firstColumn",
                                                   "lastColumn",
                                                   "oddVBand",
                                                   "evenVBand",
                                                   "oddHBand",
                                                   "evenHBand",
                                                   "firstRowFirstColumn",
                                                   "firstRowLastColumn",
                                                   "lastRowFirstColumn",
                                                   "lastRowLastColumn"};
    unsigned mask = 0;
    if (const char* v = attribute(attributes, "val")) {
        const std::size_t n = std::min<std::size_t>(std::strlen(v), 12);
        for (std::size_t i = 0; i < n; ++i)
            if (v[i] == '1') mask |= condition_bit(kByDigit[i]);
    }
    for (std::size_t i = 0; i < 12; ++i) {
        const char* v = attribute(attributes, kByAttribute[i]);
        if (v == nullptr) continue;
        const std::string_view on(v);
        if (on == "1" || on == "true" || on == "on")
            mask |= condition_bit(kByDigit[i]);
        else
            mask &= ~condition_bit(kByDigit[i]);
    }
    return mask;
}

struct Style {
    std::string based_on;
    FontSpec fonts;
    std::vector<std::pair<int, FontSpec>> conditional;  // a table style's, by condition
};

struct Styles {
    std::map<std::string, Style, std::less<>> by_id;
    FontSpec defaults;
    std::string default_paragraph;

    // The font of the chain from style `id` on, for ASCII or the rest.
    std::optional<std::string> font(std::string_view id, bool ascii) const {
        for (int depth = 0; depth < kMaxStyleDepth && !id.empty(); ++depth) {
            const auto it = by_id.find(id);
            if (it == by_id.end()) break;
            const std::optional<std::string>& f =
                ascii ? it->second.fonts.ascii : it->second.fonts.hansi;
            if (f) return f;
            id = it->second.based_on;
        }
        return std::nullopt;
    }

    // The font the conditional formats of table style `id` (and those it is based on) give
    // for `conditions` (a set of condition_bit), the last condition in order that gives one
    // winning.
    std::optional<std::string> conditional_font(std::string_view table_style, unsigned conditions,
                                                bool ascii) const {
        if (conditions == 0) return std::nullopt;
        for (int c = kConditionCount - 1; c >= 0; --c) {
            if ((conditions & condition_bit(c)) == 0) continue;
            std::string_view id = table_style;
            for (int depth = 0; depth < kMaxStyleDepth && !id.empty(); ++depth) {
                const auto it = by_id.find(id);
                if (it == by_id.end()) break;
                for (const auto& [condition, fonts] : it->second.conditional) {
                    const std::optional<std::string>& f = ascii ? fonts.ascii : fonts.hansi;
                    if (condition == c && f) return f;
                }
                id = it->second.based_on;
            }
        }
        return std::nullopt;
    }
};

class StylesReader : public ElementStack {
  public:
    StylesReader(Styles& styles, const Theme& theme) : styles_(styles), theme_(theme) {}
    void start(std::string_view name, const char** attributes, std::size_t, std::size_t) override {
        push(name);
        const std::string_view local = stack_.back();
        if (local == "style") {
            const char* id = attribute(attributes, "styleId");
            current_ = id != nullptr ? id : "";
            const char* type = attribute(attributes, "type");
            const char* is_default = attribute(attributes, "default");
            if (type != nullptr && std::string_view(type) == "paragraph" && is_default != nullptr &&
                (std::string_view(is_default) == "1" || std::string_view(is_default) == "true"))
                styles_.default_paragraph = current_;
            styles_.by_id[current_];
        } else if (local == "tblStylePr" && parent() == "style") {
            const char* type = attribute(attributes, "type");
            condition_ = type != nullptr ? condition_of(type) : -1;
        } else if (local == "basedOn" && parent() == "style") {
            const char* v = attribute(attributes, "val");
            if (v != nullptr) styles_.by_id[current_].based_on = v;
        } else if (local == "rFonts" && parent() == "rPr") {
            const FontSpec s = spec_of(attributes, theme_);
            if (parent(2) == "style") {
                styles_.by_id[current_].fonts = s;
            } else if (parent(2) == "rPrDefault") {
                styles_.defaults = s;
            } else if (parent(2) == "tblStylePr" && parent(3) == "style" && condition_ >= 0) {
                styles_.by_id[current_].conditional.emplace_back(condition_, s);
            }
        }
    }

  private:
    Styles& styles_;
    const Theme& theme_;
    std::string current_;
    int condition_ = -1;  // of the open w:tblStylePr, if Word knows its type
};

// The font names of every w:rFonts (styles.xml) and a:latin (the theme).
std::span<const std::string_view> font_attributes(std::string_view local, std::string_view) {
    static constexpr std::string_view kTypeface[] = {"typeface"};
    if (local == "rFonts") return kFontAttributes;
    if (local == "latin" || local == "ea" || local == "cs" || local == "font") return kTypeface;
    return {};
}

// One story part: its text converted and the legacy font names of its runs replaced.
class StoryRewriter : public ElementStack {
  public:
    StoryRewriter(std::string_view part_name, std::string_view part, const Styles& styles,
                  const Theme& theme, FontCache& fonts, TextConverter& text,
                  std::vector<Edit>& edits)
        : part_name_(part_name),
          part_(part),
          styles_(styles),
          theme_(theme),
          fonts_(fonts),
          text_(text),
          edits_(edits) {}

    bool refused() const { return refused_; }

    void start(std::string_view name, const char** attributes, std::size_t begin,
               std::size_t end) override {
        push(name);
        const std::string_view local = stack_.back();
        if (local == "p") {
            paras_.push_back(Para{});
            paras_.back().number = ++para_count_;
            if (!tables_.empty()) {
                paras_.back().table_style = tables_.back().style;
                paras_.back().conditions = tables_.back().conditions();
            }
        } else if (local == "tbl" || local == "txbxContent") {
            tables_.emplace_back();
            if (local == "tbl") tables_.back().rows = count_rows(name, end);
        } else if (!tables_.empty() && parent() == "tblPr" && parent(2) == "tbl") {
            table_property(local, attributes);
        } else if (!tables_.empty() &&
                   (local == "gridCol" && parent() == "tblGrid" && parent(2) == "tbl")) {
            ++tables_.back().grid_columns;
        } else if (!tables_.empty() && local == "tr") {
            Table& t = tables_.back();
            ++t.row;
            t.next_column = 0;
            t.row_cnf = t.cell_cnf = std::nullopt;
        } else if (!tables_.empty() && local == "tc") {
            Table& t = tables_.back();
            t.column = t.next_column;
            t.span = 1;
            ++t.next_column;
            t.cell_cnf = std::nullopt;
            t.in_cell = true;
        } else if (!tables_.empty() && local == "gridSpan" && parent() == "tcPr") {
            Table& t = tables_.back();
            const char* v = attribute(attributes, "val");
            const long n = v != nullptr ? std::strtol(v, nullptr, 10) : 1;
            if (n > 1 && n < 10000) {
                t.span = int(n);
                t.next_column = t.column + t.span;
            }
        } else if (!tables_.empty() && local == "gridBefore" && parent() == "trPr") {
            const char* v = attribute(attributes, "val");
            const long n = v != nullptr ? std::strtol(v, nullptr, 10) : 0;
            if (n > 0 && n < 10000) tables_.back().next_column += int(n);
        } else if (local == "cnfStyle") {
            const unsigned mask = conditions_of_cnf(attributes);
            if (parent() == "pPr" && parent(2) == "p" && !paras_.empty()) {
                paras_.back().conditions = mask | condition_bit(kWholeTable);
            } else if (!tables_.empty() && parent() == "tcPr") {
                tables_.back().cell_cnf = mask;
            } else if (!tables_.empty() && parent() == "trPr") {
                tables_.back().row_cnf = mask;
            }
        } else if (local == "pStyle" && parent() == "pPr" && !paras_.empty()) {
            const char* v = attribute(attributes, "val");
            if (v != nullptr) paras_.back().style = v;
        } else if (local == "r") {
            if (paras_.empty()) {
                open_runs_.push_back(kNoRun);
            } else {
                runs_.push_back(Run{});
                Run& run = runs_.back();
                run.fonts_at = end;
                const std::size_t colon = name.rfind(':');
                if (colon != std::string_view::npos) run.prefix = name.substr(0, colon + 1);
                paras_.back().runs.push_back(runs_.size() - 1);
                open_runs_.push_back(runs_.size() - 1);
            }
        } else if (local == "rPr" && parent() == "r" && current_run()) {
            current_run()->fonts_at = end;
            current_run()->needs_properties = false;
        } else if (local == "rStyle" && parent() == "rPr" && parent(2) == "r" && current_run()) {
            const char* v = attribute(attributes, "val");
            if (v != nullptr) current_run()->style = v;
            rstyle_run_ = current_run();
            rstyle_tag_end_ = end;
        } else if (local == "rFonts") {
            Run* run = parent() == "rPr" && parent(2) == "r" ? current_run() : nullptr;
            if (run != nullptr) {
                run->fonts = spec_of(attributes, theme_);
                run->own_fonts = true;
            }
            Edit e;
            for (std::string_view a : kFontAttributes) {
                if (!font_attribute_edit(part_, begin, end, a, fonts_, e)) continue;
                (run != nullptr ? run->font_edits : edits_).push_back(e);
            }
        } else if ((local == "t" || local == "delText") && parent() == "r" && current_run()) {
            capturing_ = true;
            capture_begin_ = end;
            captured_.clear();
        }
    }

    void end(std::string_view, std::size_t at) override {
        const std::string local = pop();
        if (capturing_ && (local == "t" || local == "delText")) {
            capturing_ = false;
            add_slot(capture_begin_, at);
        } else if (local == "rStyle" && rstyle_run_ != nullptr) {
            // rFonts follows rStyle in a run's properties.
            rstyle_run_->fonts_at = at == rstyle_tag_end_ ? at : end_of(at);
            rstyle_run_ = nullptr;
        } else if (local == "r") {
            if (!open_runs_.empty()) open_runs_.pop_back();
        } else if ((local == "tbl" || local == "txbxContent") && !tables_.empty()) {
            tables_.pop_back();
        } else if (local == "tc" && !tables_.empty()) {
            tables_.back().in_cell = false;
        } else if (local == "p" && !paras_.empty()) {
            finish_paragraph(paras_.back());
            paras_.pop_back();
        }
    }

    void text(std::string_view data) override {
        if (capturing_) captured_ += data;
    }

  private:
    static constexpr std::size_t kNoRun = std::size_t(-1);

    struct Run {
        FontSpec fonts;
        std::string style;
        std::vector<Edit> font_edits;
        bool left = false;
        bool own_fonts = false;  // it has an rFonts of its own
        // Where an rFonts of its own would go: after its rStyle, after <w:rPr>, or (with no
        // rPr) after its start tag, which then needs the rPr around it.
        std::size_t fonts_at = 0;
        bool needs_properties = true;
        std::string prefix;                  // the run's namespace prefix, with its colon
        std::string ascii_font, hansi_font;  // as resolved for its text
    };
    struct Slot {
        std::size_t begin = 0;
        std::size_t end = 0;
        std::string original;
        std::size_t first_piece = 0;
        std::size_t piece_count = 0;
    };
    struct Para {
        int number = 0;
        std::string style;
        std::string table_style;  // of the innermost table around it, if any
        unsigned conditions = 0;  // the table style's conditional formats that apply to it
        std::vector<std::size_t> runs;
        std::vector<Slot> slots;
        std::vector<TextPiece> pieces;
        std::vector<std::size_t> piece_runs;  // the run of each piece
    };

    Run* current_run() {
        if (open_runs_.empty() || open_runs_.back() == kNoRun) return nullptr;
        return &runs_[open_runs_.back()];
    }

    std::string resolve(const Run& run, const Para& para, bool ascii) const {
        const std::optional<std::string>& own = ascii ? run.fonts.ascii : run.fonts.hansi;
        if (own) return *own;
        if (auto f = styles_.font(run.style, ascii)) return *f;
        if (auto f = styles_.font(para.style.empty() ? std::string_view(styles_.default_paragraph)
                                                     : std::string_view(para.style),
                                  ascii))
            return *f;
        if (auto f = styles_.conditional_font(para.table_style, para.conditions, ascii)) return *f;
        if (auto f = styles_.font(para.table_style, ascii)) return *f;
        const std::optional<std::string>& d =
            ascii ? styles_.defaults.ascii : styles_.defaults.hansi;
        return d ? *d : std::string();
    }

    // A table's w:tblStyle and w:tblLook: the older w:val bitmask, and the attributes that
    // win over it.
    void table_property(std::string_view local, const char** attributes) {
        Table& t = tables_.back();
        if (local == "tblStyle") {
            if (const char* v = attribute(attributes, "val")) t.style = v;
        } else if (local == "tblLook") {
            if (const char* v = attribute(attributes, "val")) {
                const unsigned long bits = std::strtoul(v, nullptr, 16);
                t.first_row = (bits & 0x0020) != 0;
                t.last_row = (bits & 0x0040) != 0;
                t.first_column = (bits & 0x0080) != 0;
                t.last_column = (bits & 0x0100) != 0;
                t.row_bands = (bits & 0x0200) == 0;
                t.column_bands = (bits & 0x0400) == 0;
            }
            const auto flag = [&](const char* name, bool& to, bool inverted) {
                const char* v = attribute(attributes, name);
                if (v == nullptr) return;
                const std::string_view on(v);
                to = (on == "1" || on == "true" || on == "on") != inverted;
            };
            flag("firstRow", t.first_row, false);
            flag("lastRow", t.last_row, false);
            flag("firstColumn", t.first_column, false);
            flag("lastColumn", t.last_column, false);
            flag("noHBand", t.row_bands, true);
            flag("noVBand", t.column_bands, true);
        }
    }

    // The rows of the table whose start tag (element `name`) ends at `from`: its w:tr start
    // tags up to its own end tag, those of the tables inside it not counted. Only the last
    // row's conditional formats need it, before that row is read.
    int count_rows(std::string_view name, std::size_t from) const {
        const std::size_t colon = name.rfind(':');
        const std::string_view prefix =
            colon == std::string_view::npos ? std::string_view() : name.substr(0, colon + 1);
        const auto is_tag = [&](std::size_t at, std::string_view local) {
            if (part_.compare(at, prefix.size(), prefix) != 0) return false;
            at += prefix.size();
            if (part_.compare(at, local.size(), local) != 0) return false;
            at += local.size();
            return at < part_.size() &&
                   std::string_view(" \t\r\n/>").find(part_[at]) != std::string_view::npos;
        };
        int rows = 0, depth = 0;
        for (std::size_t at = part_.find('<', from); at != std::string_view::npos;
             at = part_.find('<', at + 1)) {
            if (at + 1 >= part_.size()) break;
            if (part_[at + 1] == '/') {
                if (is_tag(at + 2, "tbl") && depth-- == 0) break;
            } else if (is_tag(at + 1, "tbl")) {
                const std::size_t close = part_.find('>', at);
                if (close == std::string_view::npos || part_[close - 1] != '/') ++depth;
            } else if (depth == 0 && is_tag(at + 1, "tr")) {
                ++rows;
            }
        }
        return rows;
    }

    void add_slot(std::size_t begin, std::size_t end) {
        if (paras_.empty() || open_runs_.empty() || open_runs_.back() == kNoRun) return;
        Para& para = paras_.back();
        const std::size_t run_index = open_runs_.back();
        const Run& run = runs_[run_index];
        const std::string ascii_font = resolve(run, para, true);
        const std::string hansi_font = resolve(run, para, false);
        runs_[run_index].ascii_font = ascii_font;
        runs_[run_index].hansi_font = hansi_font;
        const int ascii_format = fonts_.info(ascii_font).format;
        const int hansi_format = fonts_.info(hansi_font).format;
        Slot slot;
        slot.begin = begin;
        slot.end = end;
        slot.original = captured_;
        slot.first_piece = para.pieces.size();
        bool last_ascii = false;
        for (std::size_t i = 0; i < captured_.size();) {
            const std::size_t at = i;
            const bool is_ascii = static_cast<unsigned char>(captured_[i]) < 0x80;
            next_code_point(captured_, i);
            if (at == 0 || is_ascii != last_ascii) {
                TextPiece p;
                p.format = is_ascii ? ascii_format : hansi_format;
                p.font = is_ascii ? ascii_font : hansi_font;
                para.pieces.push_back(std::move(p));
                para.piece_runs.push_back(run_index);
                ++slot.piece_count;
            }
            last_ascii = is_ascii;
            para.pieces.back().text.append(captured_, at, i - at);
        }
        para.slots.push_back(std::move(slot));
    }

    void finish_paragraph(Para& para) {
        if (refused_) return;
        const TextPlace where{part_name_, "paragraph " + std::to_string(para.number)};
        if (!convert_pieces(para.pieces, text_, where)) {
            refused_ = true;
            return;
        }
        for (std::size_t j = 0; j < para.pieces.size(); ++j)
            if (para.pieces[j].left) runs_[para.piece_runs[j]].left = true;
        for (const Slot& slot : para.slots) {
            std::string now;
            for (std::size_t j = 0; j < slot.piece_count; ++j)
                now += para.pieces[slot.first_piece + j].text;
            if (now != slot.original)
                edits_.push_back(Edit{slot.begin, slot.end, escape_text(now)});
        }
        for (std::size_t r : para.runs) {
            Run& run = runs_[r];
            if (!run.left)
                for (Edit& e : run.font_edits) edits_.push_back(std::move(e));
            run.font_edits.clear();
            if (run.left && !run.own_fonts) keep_fonts(run);
        }
    }

    // The end of the end tag that begins at `at`.
    std::size_t end_of(std::size_t at) const {
        const std::size_t close = part_.find('>', at);
        return close == std::string_view::npos ? part_.size() : close + 1;
    }

    // A left run whose fonts came from its styles: the styles' legacy fonts are replaced, so
    // the run is given them as its own, and shows as it did.
    void keep_fonts(const Run& run) {
        if (!fonts_.legacy(run.ascii_font) && !fonts_.legacy(run.hansi_font)) return;
        const std::string& p = run.prefix;
        std::string fonts = "<" + p + "rFonts " + p + "ascii=\"" +
                            escape_attribute(run.ascii_font) + "\" " + p + "hAnsi=\"" +
                            escape_attribute(run.hansi_font) + "\"/>";
        if (run.needs_properties) fonts = "<" + p + "rPr>" + fonts + "</" + p + "rPr>";
        edits_.push_back(Edit{run.fonts_at, run.fonts_at, fonts});
    }

    std::string part_name_;
    std::string_view part_;
    const Styles& styles_;
    const Theme& theme_;
    FontCache& fonts_;
    TextConverter& text_;
    std::vector<Edit>& edits_;
    std::vector<Para> paras_;
    std::vector<Run> runs_;
    std::vector<std::size_t> open_runs_;
    // Each open table, innermost last; a text box opens one without a style or cells.
    struct Table {
        std::string style;
        bool first_row = false, last_row = false, first_column = false, last_column = false;
        bool row_bands = true, column_bands = true;
        int rows = 0;                               // in all
        int grid_columns = 0;                       // of its grid
        int row = -1;                               // the open row, from 0
        int column = 0, span = 1, next_column = 0;  // the open cell's grid columns
        bool in_cell = false;
        std::optional<unsigned> row_cnf, cell_cnf;

        // The conditional formats of its style that apply to the open cell.
        unsigned conditions() const {
            if (style.empty() || !in_cell) return 0;
            if (row_cnf || cell_cnf)
                return row_cnf.value_or(0) | cell_cnf.value_or(0) | condition_bit(kWholeTable);
            unsigned m = condition_bit(kWholeTable);
            const bool top = first_row && row == 0;
            const bool bottom = last_row && row == rows - 1;
            const bool left = first_column && column == 0;
            const bool right = last_column && grid_columns > 0 && column + span >= grid_columns;
            if (column_bands && !left && !right)
                m |= condition_bit((column - (first_column ? 1 : 0)) % 2 == 0 ? kBand1Vert
                                                                              : kBand2Vert);
            if (row_bands && !top && !bottom)
                m |= condition_bit((row - (first_row ? 1 : 0)) % 2 == 0 ? kBand1Horz : kBand2Horz);
            if (left) m |= condition_bit(kFirstCol);
            if (right) m |= condition_bit(kLastCol);
            if (top) m |= condition_bit(kFirstRow);
            if (bottom) m |= condition_bit(kLastRow);
            if (top && right) m |= condition_bit(kNeCell);
            if (top && left) m |= condition_bit(kNwCell);
            if (bottom && right) m |= condition_bit(kSeCell);
            if (bottom && left) m |= condition_bit(kSwCell);
            return m;
        }
    };
    std::vector<Table> tables_;
    Run* rstyle_run_ = nullptr;  // the run whose rStyle is open
    std::size_t rstyle_tag_end_ = 0;
    int para_count_ = 0;
    bool capturing_ = false;
    std::size_t capture_begin_ = 0;
    std::string captured_;
    bool refused_ = false;
};

// The numbering part: each list level's w:lvlText, the text of its number or bullet, is
// drawn in the level's fonts. A level's w:rPr/w:rFonts gives them; what it does not give
// comes, as for a run, from the paragraph style the level is linked to (w:pStyle) or else the
// default paragraph style, and the document defaults. The "%1".."%9" of the text stand for
// the numbers of the levels and are not characters of any font; the literal characters
// around them are converted, and the legacy font names of the levels replaced as in a story.
// A level whose text reads clearly as another encoding keeps its fonts (given to it as its
// own when they came from styles).
class NumberingRewriter : public ElementStack {
  public:
    NumberingRewriter(std::string_view part_name, std::string_view part, const Styles& styles,
                      const Theme& theme, FontCache& fonts, TextConverter& text,
                      std::vector<Edit>& edits)
        : part_name_(part_name),
          part_(part),
          styles_(styles),
          theme_(theme),
          fonts_(fonts),
          text_(text),
          edits_(edits) {}

    bool refused() const { return refused_; }

    void start(std::string_view name, const char** attributes, std::size_t begin,
               std::size_t end) override {
        push(name);
        const std::string_view local = stack_.back();
        if (local == "abstractNum" || local == "num") {
            const char* id = attribute(attributes, local == "num" ? "numId" : "abstractNumId");
            list_ = std::string(local == "num" ? "list " : "abstract list ") +
                    (id != nullptr ? id : "?");
        } else if (local == "lvl") {
            level_ = Level{};
            in_level_ = true;
            const char* ilvl = attribute(attributes, "ilvl");
            const long n = ilvl != nullptr ? std::strtol(ilvl, nullptr, 10) : 0;
            level_.number = n >= 0 && n < 1000 ? int(n) + 1 : 0;
            const std::size_t colon = name.rfind(':');
            if (colon != std::string_view::npos) level_.prefix = name.substr(0, colon + 1);
        } else if (!in_level_) {
            if (local == "rFonts") add_font_edits(begin, end, edits_);
        } else if (local == "lvlText" && parent() == "lvl") {
            std::size_t from = 0, to = 0;
            const char* v = attribute(attributes, "val");
            if (v != nullptr && find_attribute(part_.substr(begin, end - begin), "val", from, to)) {
                level_.has_text = true;
                level_.text = v;
                level_.text_begin = begin + from;
                level_.text_end = begin + to;
            }
        } else if (local == "pStyle" && parent() == "lvl") {
            if (const char* v = attribute(attributes, "val")) level_.style = v;
        } else if (local == "rPr" && parent() == "lvl") {
            level_.properties_begin = begin;
            level_.properties_end = end;
            level_.has_properties = true;
        } else if (local == "rFonts") {
            if (parent() == "rPr" && parent(2) == "lvl") {
                level_.fonts = spec_of(attributes, theme_);
                level_.own_fonts = true;
            }
            add_font_edits(begin, end, level_.font_edits);
        }
    }

    void end(std::string_view, std::size_t at) override {
        const std::string local = pop();
        if (local == "lvl" && in_level_) {
            in_level_ = false;
            finish_level(at);
        }
    }

  private:
    struct Level {
        int number = 1;      // from 1, as Word shows it; 0 when w:ilvl is no level
        std::string prefix;  // the level's namespace prefix, with its colon
        std::string style;
        FontSpec fonts;
        bool own_fonts = false;
        bool has_text = false;
        std::string text;  // w:lvlText's value, references decoded
        std::size_t text_begin = 0, text_end = 0;
        bool has_properties = false;  // its w:rPr start tag
        std::size_t properties_begin = 0, properties_end = 0;
        std::vector<Edit> font_edits;
    };

    void add_font_edits(std::size_t begin, std::size_t end, std::vector<Edit>& to) {
        Edit e;
        for (std::string_view a : kFontAttributes)
            if (font_attribute_edit(part_, begin, end, a, fonts_, e)) to.push_back(e);
    }

    std::string resolve(bool ascii) const {
        const std::optional<std::string>& own = ascii ? level_.fonts.ascii : level_.fonts.hansi;
        if (own) return *own;
        if (auto f = styles_.font(level_.style.empty() ? std::string_view(styles_.default_paragraph)
                                                       : std::string_view(level_.style),
                                  ascii))
            return *f;
        const std::optional<std::string>& d =
            ascii ? styles_.defaults.ascii : styles_.defaults.hansi;
        return d ? *d : std::string();
    }

    static bool is_placeholder(std::string_view text, std::size_t i) {
        return text[i] == '%' && i + 1 < text.size() && text[i + 1] >= '1' && text[i + 1] <= '9';
    }

    void finish_level(std::size_t at) {
        if (refused_) return;
        std::vector<Edit>& font_edits = level_.font_edits;
        if (!level_.has_text) {
            for (Edit& e : font_edits) edits_.push_back(std::move(e));
            return;
        }
        const std::string ascii_font = resolve(true);
        const std::string hansi_font = resolve(false);
        const int ascii_format = fonts_.info(ascii_font).format;
        const int hansi_format = fonts_.info(hansi_font).format;
        // The pieces of the text: a placeholder is one of no font, which also keeps the
        // characters on either side of it from being read as one text.
        std::vector<TextPiece> pieces;
        const std::string& text = level_.text;
        enum class Kind { kNone, kPlaceholder, kAscii, kOther } last = Kind::kNone;
        for (std::size_t i = 0; i < text.size();) {
            const std::size_t from = i;
            Kind kind;
            if (is_placeholder(text, i)) {
                kind = Kind::kPlaceholder;
                i += 2;
            } else {
                kind = static_cast<unsigned char>(text[i]) < 0x80 ? Kind::kAscii : Kind::kOther;
                next_code_point(text, i);
            }
            if (kind != last || kind == Kind::kPlaceholder) {
                TextPiece p;
                if (kind != Kind::kPlaceholder) {
                    p.format = kind == Kind::kAscii ? ascii_format : hansi_format;
                    p.font = kind == Kind::kAscii ? ascii_font : hansi_font;
                }
                pieces.push_back(std::move(p));
            }
            last = kind;
            pieces.back().text.append(text, from, i - from);
        }
        const TextPlace where{
            part_name_,
            list_ + ", level " + (level_.number > 0 ? std::to_string(level_.number) : "?")};
        if (!convert_pieces(pieces, text_, where)) {
            refused_ = true;
            return;
        }
        bool left = false;
        std::string now;
        for (const TextPiece& p : pieces) {
            left = left || p.left;
            now += p.text;
        }
        if (left) {
            if (!level_.own_fonts) keep_fonts(ascii_font, hansi_font, at);
            return;
        }
        if (now != text)
            edits_.push_back(Edit{level_.text_begin, level_.text_end, escape_attribute(now)});
        for (Edit& e : font_edits) edits_.push_back(std::move(e));
    }

    // A left level whose fonts came from styles, whose legacy fonts are replaced: the level is
    // given them as its own, in its w:rPr (the last of a level's properties), made when it
    // has none.
    void keep_fonts(const std::string& ascii_font, const std::string& hansi_font,
                    std::size_t level_end) {
        if (!fonts_.legacy(ascii_font) && !fonts_.legacy(hansi_font)) return;
        const std::string& p = level_.prefix;
        const std::string fonts = "<" + p + "rFonts " + p + "ascii=\"" +
                                  escape_attribute(ascii_font) + "\" " + p + "hAnsi=\"" +
                                  escape_attribute(hansi_font) + "\"/>";
        const std::string_view tag =
            part_.substr(level_.properties_begin, level_.properties_end - level_.properties_begin);
        if (!level_.has_properties) {
            edits_.push_back(
                Edit{level_end, level_end, "<" + p + "rPr>" + fonts + "</" + p + "rPr>"});
        } else if (tag.ends_with("/>")) {
            edits_.push_back(Edit{level_.properties_begin, level_.properties_end,
                                  "<" + p + "rPr>" + fonts + "</" + p + "rPr>"});
        } else {
            edits_.push_back(Edit{level_.properties_end, level_.properties_end, fonts});
        }
    }

    std::string part_name_;
    std::string_view part_;
    const Styles& styles_;
    const Theme& theme_;
    FontCache& fonts_;
    TextConverter& text_;
    std::vector<Edit>& edits_;
    std::string list_;
    Level level_;
    bool in_level_ = false;
    bool refused_ = false;
};

bool is_story_type(std::string_view type) {
    if (type.find("wordprocessingml") == std::string_view::npos &&
        type.find("ms-word") == std::string_view::npos)
        return false;
    return type.ends_with("main+xml") || type.ends_with("header+xml") ||
           type.ends_with("footer+xml") || type.ends_with("footnotes+xml") ||
           type.ends_with("endnotes+xml") || type.ends_with("comments+xml");
}

}  // namespace

void convert_word(Package& package, std::string_view, FontCache& fonts, TextConverter& text,
                  DocumentResult& result) {
    std::map<std::string, std::string> types;
    std::string error;
    if (!content_types(package, types, error)) return set_broken(result, "", error);
    // The theme and the styles first: the stories' fonts are resolved through them.
    Theme theme;
    std::string theme_name, styles_name;
    std::vector<std::string> font_parts;  // parts whose only change is their font names
    std::vector<std::string> numbering_parts;
    for (const auto& [name, type] : types) {
        if (type.ends_with("theme+xml") && theme_name.empty() && name.starts_with("word/"))
            theme_name = name;
        if (type.ends_with("wordprocessingml.styles+xml")) styles_name = name;
        if (type.ends_with("stylesWithEffects+xml")) font_parts.push_back(name);
        if (type.ends_with("wordprocessingml.numbering+xml")) numbering_parts.push_back(name);
    }
    std::string theme_xml, styles_xml;
    if (!theme_name.empty() && package.has(theme_name)) {
        ThemeReader reader;
        if (!read_part(package, theme_name, theme_xml, reader, error))
            return set_broken(result, theme_name, error);
        theme = reader.theme;
    }
    Styles styles;
    if (!styles_name.empty() && package.has(styles_name)) {
        StylesReader reader(styles, theme);
        if (!read_part(package, styles_name, styles_xml, reader, error))
            return set_broken(result, styles_name, error);
    }

    std::string part;
    std::vector<Edit> edits;
    for (const auto& [name, type] : types) {
        if (!is_story_type(type) || !package.has(name)) continue;
        if (!package.read(name, part, error)) return set_broken(result, name, error);
        edits.clear();
        StoryRewriter rewriter(name, part, styles, theme, fonts, text, edits);
        if (!read_xml(part, rewriter, error)) return set_broken(result, name, error);
        if (rewriter.refused()) {
            result.status = DocumentResult::Status::kRefused;
            return;
        }
        if (!replace_part(package, name, part, edits, result, error))
            return set_broken(result, name, error);
    }
    for (const std::string& name : numbering_parts) {
        if (!package.has(name)) continue;
        if (!package.read(name, part, error)) return set_broken(result, name, error);
        edits.clear();
        NumberingRewriter rewriter(name, part, styles, theme, fonts, text, edits);
        if (!read_xml(part, rewriter, error)) return set_broken(result, name, error);
        if (rewriter.refused()) {
            result.status = DocumentResult::Status::kRefused;
            return;
        }
        if (!replace_part(package, name, part, edits, result, error))
            return set_broken(result, name, error);
    }
    // The font names of the styles, the theme, and the parts that name fonts beside them.
    if (!styles_name.empty()) font_parts.push_back(styles_name);
    if (!theme_name.empty()) font_parts.push_back(theme_name);
    std::string xml;
    for (const std::string& name : font_parts) {
        if (!package.has(name)) continue;
        if (!package.read(name, xml, error)) return set_broken(result, name, error);
        edits.clear();
        FontNameEdits rewriter(xml, font_attributes, fonts, edits);
        if (!read_xml(xml, rewriter, error) ||
            !replace_part(package, name, xml, edits, result, error))
            return set_broken(result, name, error);
    }
    if (!package.write(result.output, error)) set_broken(result, "the package", error);
}

}  // namespace toneshift::documents::detail
