// Word documents (Office Open XML word processing).
//
// Which font draws a character is decided as Word decides it for text that is not East
// Asian or complex script: the font of w:rFonts/@w:ascii (or @w:asciiTheme, which wins
// over it) for U+0000..U+007F, and the font of @w:hAnsi (or @w:hAnsiTheme) for every other
// character, where a legacy font's letters lie. Each of the two is taken from the first
// place in this chain that gives it: the run's own properties, its character style and the
// styles it is based on, its paragraph's style (or the default paragraph style) and theirs,
// the document defaults. Theme names ("minorHAnsi", "majorAscii") are the theme's minor or
// major Latin font.
//
// Text is that of w:t and w:delText in every part that holds a story: the body (with its
// tables and the text boxes inside it), headers, footers, footnotes, endnotes and comments.
// The pieces of one paragraph in one encoding are converted as one text, so that a letter
// whose bytes two runs share is read whole.
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

struct Theme {
    std::string major;
    std::string minor;
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

// A handler that keeps the local names of the open elements.
class NamedHandler : public XmlHandler {
  protected:
    std::string_view parent(std::size_t up = 1) const {
        return stack_.size() > up ? std::string_view(stack_[stack_.size() - 1 - up])
                                  : std::string_view();
    }
    void push(std::string_view name) { stack_.emplace_back(local_name(name)); }
    void pop() {
        if (!stack_.empty()) stack_.pop_back();
    }
    std::vector<std::string> stack_;
};

class ThemeReader : public NamedHandler {
  public:
    Theme theme;
    void start(std::string_view name, const char** attributes, std::size_t, std::size_t) override {
        push(name);
        if (stack_.back() != "latin") return;
        const char* face = attribute(attributes, "typeface");
        if (face == nullptr) return;
        if (parent() == "majorFont") theme.major = face;
        if (parent() == "minorFont") theme.minor = face;
    }
    void end(std::string_view, std::size_t) override { pop(); }
    void text(std::string_view) override {}
};

struct Style {
    std::string based_on;
    FontSpec fonts;
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
};

class StylesReader : public NamedHandler {
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
        } else if (local == "basedOn" && parent() == "style") {
            const char* v = attribute(attributes, "val");
            if (v != nullptr) styles_.by_id[current_].based_on = v;
        } else if (local == "rFonts" && parent() == "rPr") {
            const FontSpec s = spec_of(attributes, theme_);
            if (parent(2) == "style") {
                styles_.by_id[current_].fonts = s;
            } else if (parent(2) == "rPrDefault") {
                styles_.defaults = s;
            }
        }
    }
    void end(std::string_view, std::size_t) override { pop(); }
    void text(std::string_view) override {}

  private:
    Styles& styles_;
    const Theme& theme_;
    std::string current_;
};

// Replaces the legacy font names of every w:rFonts (styles.xml) or a:latin (the theme).
class FontNameRewriter : public NamedHandler {
  public:
    FontNameRewriter(std::string_view part, FontCache& fonts, std::vector<Edit>& edits)
        : part_(part), fonts_(fonts), edits_(edits) {}
    void start(std::string_view name, const char**, std::size_t begin, std::size_t end) override {
        push(name);
        Edit e;
        const std::string_view local = stack_.back();
        if (local == "rFonts") {
            for (std::string_view a : kFontAttributes)
                if (font_attribute_edit(part_, begin, end, a, fonts_, e)) edits_.push_back(e);
        } else if (local == "latin" || local == "ea" || local == "cs" || local == "font") {
            if (font_attribute_edit(part_, begin, end, "typeface", fonts_, e)) edits_.push_back(e);
        }
    }
    void end(std::string_view, std::size_t) override { pop(); }
    void text(std::string_view) override {}

  private:
    std::string_view part_;
    FontCache& fonts_;
    std::vector<Edit>& edits_;
};

// One story part: its text converted and the legacy font names of its runs replaced.
class StoryRewriter : public NamedHandler {
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
        const std::string local = stack_.empty() ? std::string() : stack_.back();
        pop();
        if (capturing_ && (local == "t" || local == "delText")) {
            capturing_ = false;
            add_slot(capture_begin_, at);
        } else if (local == "rStyle" && rstyle_run_ != nullptr) {
            // rFonts follows rStyle in a run's properties.
            rstyle_run_->fonts_at = at == rstyle_tag_end_ ? at : end_of(at);
            rstyle_run_ = nullptr;
        } else if (local == "r") {
            if (!open_runs_.empty()) open_runs_.pop_back();
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
    struct Piece {
        std::string text;
        int format = -1;
        std::string font;
        std::size_t run = 0;
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
        std::vector<std::size_t> runs;
        std::vector<Slot> slots;
        std::vector<Piece> pieces;
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
        const std::optional<std::string>& d =
            ascii ? styles_.defaults.ascii : styles_.defaults.hansi;
        return d ? *d : std::string();
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
                Piece p;
                p.format = is_ascii ? ascii_format : hansi_format;
                p.font = is_ascii ? ascii_font : hansi_font;
                p.run = run_index;
                para.pieces.push_back(std::move(p));
                ++slot.piece_count;
            }
            last_ascii = is_ascii;
            para.pieces.back().text.append(captured_, at, i - at);
        }
        para.slots.push_back(std::move(slot));
    }

    void finish_paragraph(Para& para) {
        const TextPlace where{part_name_, "paragraph " + std::to_string(para.number)};
        std::vector<std::string> chain;
        for (std::size_t k = 0; k < para.pieces.size();) {
            const int format = para.pieces[k].format;
            std::size_t next = k + 1;
            // Pieces of one encoding that follow one another, in one font or several.
            while (next < para.pieces.size() && para.pieces[next].format == format) ++next;
            if (format < 0 || refused_) {
                k = next;
                continue;
            }
            chain.clear();
            for (std::size_t j = k; j < next; ++j) chain.push_back(para.pieces[j].text);
            switch (text_.convert(format, para.pieces[k].font, chain, where)) {
                case TextConverter::Outcome::kConverted:
                    for (std::size_t j = k; j < next; ++j)
                        para.pieces[j].text = std::move(chain[j - k]);
                    break;
                case TextConverter::Outcome::kLeft:
                    for (std::size_t j = k; j < next; ++j) runs_[para.pieces[j].run].left = true;
                    break;
                case TextConverter::Outcome::kRefused:
                    refused_ = true;
                    break;
            }
            k = next;
        }
        if (refused_) return;
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
    Run* rstyle_run_ = nullptr;  // the run whose rStyle is open
    std::size_t rstyle_tag_end_ = 0;
    int para_count_ = 0;
    bool capturing_ = false;
    std::size_t capture_begin_ = 0;
    std::string captured_;
    bool refused_ = false;
};

bool ends_with(std::string_view s, std::string_view tail) {
    return s.size() >= tail.size() && s.substr(s.size() - tail.size()) == tail;
}

bool is_story_type(std::string_view type) {
    if (type.find("wordprocessingml") == std::string_view::npos &&
        type.find("ms-word") == std::string_view::npos)
        return false;
    return ends_with(type, "main+xml") || ends_with(type, "header+xml") ||
           ends_with(type, "footer+xml") || ends_with(type, "footnotes+xml") ||
           ends_with(type, "endnotes+xml") || ends_with(type, "comments+xml");
}

}  // namespace

void convert_word(Package& package, std::string_view, FontCache& fonts, TextConverter& text,
                  DocumentResult& result) {
    using Status = DocumentResult::Status;
    std::map<std::string, std::string> types;
    std::string error;
    if (!content_types(package, types, error)) {
        result.status = Status::kBroken;
        result.error = error;
        return;
    }
    const auto broken = [&](const std::string& part, const std::string& why) {
        result.status = Status::kBroken;
        result.error = part + ": " + why;
    };
    // The theme and the styles first: the stories' fonts are resolved through them.
    Theme theme;
    std::string theme_name, styles_name;
    std::vector<std::string> font_parts;  // parts whose only change is their font names
    for (const auto& [name, type] : types) {
        if (ends_with(type, "theme+xml") && theme_name.empty() && name.starts_with("word/"))
            theme_name = name;
        if (ends_with(type, "wordprocessingml.styles+xml")) styles_name = name;
        if (ends_with(type, "stylesWithEffects+xml") || ends_with(type, "numbering+xml"))
            font_parts.push_back(name);
    }
    std::string theme_xml, styles_xml;
    if (!theme_name.empty() && package.has(theme_name)) {
        ThemeReader reader;
        if (!package.read(theme_name, theme_xml, error) || !read_xml(theme_xml, reader, error))
            return broken(theme_name, error);
        theme = reader.theme;
    }
    Styles styles;
    if (!styles_name.empty() && package.has(styles_name)) {
        StylesReader reader(styles, theme);
        if (!package.read(styles_name, styles_xml, error) || !read_xml(styles_xml, reader, error))
            return broken(styles_name, error);
    }

    std::string part;
    std::vector<Edit> edits;
    for (const auto& [name, type] : types) {
        if (!is_story_type(type) || !package.has(name)) continue;
        if (!package.read(name, part, error)) return broken(name, error);
        edits.clear();
        StoryRewriter rewriter(name, part, styles, theme, fonts, text, edits);
        if (!read_xml(part, rewriter, error)) return broken(name, error);
        if (rewriter.refused()) {
            result.status = Status::kRefused;
            return;
        }
        if (edits.empty()) continue;
        if (!package.replace(name, apply_edits(part, edits), error)) return broken(name, error);
        ++result.parts_changed;
    }
    // The font names of the styles, the theme, and the parts that name fonts beside them.
    if (!styles_name.empty()) font_parts.push_back(styles_name);
    if (!theme_name.empty()) font_parts.push_back(theme_name);
    std::string xml;
    for (const std::string& name : font_parts) {
        if (!package.has(name)) continue;
        if (!package.read(name, xml, error)) return broken(name, error);
        edits.clear();
        FontNameRewriter rewriter(xml, fonts, edits);
        if (!read_xml(xml, rewriter, error)) return broken(name, error);
        if (edits.empty()) continue;
        if (!package.replace(name, apply_edits(xml, edits), error)) return broken(name, error);
        ++result.parts_changed;
    }
    if (!package.write(result.output, error)) broken("the package", error);
}

}  // namespace toneshift::documents::detail
