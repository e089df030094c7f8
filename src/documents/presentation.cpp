// PowerPoint presentations (Office Open XML).
//
// Which font draws a character: the first of these that names one. The run's a:rPr/a:latin;
// the shape's own list style at the paragraph's level (a:lstStyle/a:lvlNpPr/a:defRPr/a:latin);
// for a placeholder, the list style of the placeholder of the same type (or index) on the
// slide's layout, then on its master; the master's text styles (titleStyle for titles,
// bodyStyle for other placeholders, otherStyle for other shapes) at that level; the
// presentation's default text style (p:defaultTextStyle in the presentation part) at that
// level, or its a:defPPr; the theme's minor font. "+mn-lt" and "+mj-lt" name the theme's minor and
// major Latin fonts. Slides, notes, layouts and masters are converted; every legacy a:latin
// typeface is replaced.
#include <array>
#include <cstdlib>
#include <map>
#include <optional>
#include <vector>

#include "documents/formats.h"

namespace toneshift::documents::detail {

namespace {

constexpr std::size_t kLevels = 9;
using Levels = std::array<std::optional<std::string>, kLevels>;

// A typeface as it names a font: "+mj-lt" and "+mn-lt" are the theme's major and minor.
std::string resolve(const Theme& theme, const std::string& face) {
    if (face.starts_with("+mj")) return theme.major;
    if (face.starts_with("+mn")) return theme.minor;
    return face;
}

// The level (0..8) of an a:lvlNpPr element, or -1.
int level_of(std::string_view local) {
    if (local.size() == 7 && local.starts_with("lvl") && local.ends_with("pPr") &&
        local[3] >= '1' && local[3] <= '9')
        return local[3] - '1';
    return -1;
}

// A placeholder's key: its type ("title", "body", ...; none is "body"), or "idx:N".
std::string placeholder_type(const char** attributes) {
    const char* type = attribute(attributes, "type");
    std::string t = type != nullptr ? type : "body";
    if (t == "ctrTitle") t = "title";
    if (t == "subTitle" || t == "obj") t = "body";
    return t;
}

// The list styles of a layout's or master's placeholders, and a master's text styles.
struct Template {
    std::map<std::string, Levels> by_type;
    std::map<std::string, Levels> by_index;
    Levels title, body, other;  // a master's p:txStyles
    const Levels* find(const std::string& type, const std::string& index) const {
        if (!index.empty())
            if (const auto it = by_index.find(index); it != by_index.end()) return &it->second;
        const auto it = by_type.find(type);
        return it != by_type.end() ? &it->second : nullptr;
    }
};

// A reader of shapes: the placeholder of the shape open (none: `type_` empty) and the fonts of
// its own list style, by level.
class ShapeReader : public ElementStack {
  protected:
    // Starts a shape at p:sp, reads its p:ph; false for any other element.
    bool shape_element(std::string_view local, const char** attributes) {
        if (local == "sp") {
            type_.clear();
            index_.clear();
            levels_ = Levels{};
        } else if (local == "ph") {
            type_ = placeholder_type(attributes);
            if (const char* i = attribute(attributes, "idx")) index_ = i;
        } else {
            return false;
        }
        return true;
    }
    std::string type_, index_;
    Levels levels_;
};

class TemplateReader : public ShapeReader {
  public:
    explicit TemplateReader(Template& t) : t_(t) {}
    void start(std::string_view name, const char** attributes, std::size_t, std::size_t) override {
        push(name);
        const std::string_view local = stack_.back();
        if (shape_element(local, attributes)) return;
        if (local == "latin" && parent() == "defRPr") {
            const int level = level_of(parent(2));
            const char* face = attribute(attributes, "typeface");
            if (level < 0 || face == nullptr) return;
            Levels* target = nullptr;
            if (inside("txStyles")) {
                target = inside("titleStyle")  ? &t_.title
                         : inside("bodyStyle") ? &t_.body
                                               : &t_.other;
            } else if (inside("lstStyle") && inside("sp")) {
                target = &levels_;
            }
            if (target != nullptr) (*target)[std::size_t(level)] = face;
        }
    }
    void end(std::string_view, std::size_t) override {
        if (pop() != "sp" || type_.empty()) return;
        t_.by_type[type_] = levels_;
        if (!index_.empty()) t_.by_index[index_] = levels_;
    }

  private:
    Template& t_;
};

// The presentation's default text style: the a:latin of each level's a:defRPr, a level that
// names none taking that of a:defPPr.
class DefaultStyleReader : public ElementStack {
  public:
    Levels levels;
    void start(std::string_view name, const char** attributes, std::size_t, std::size_t) override {
        push(name);
        if (stack_.back() != "latin" || parent() != "defRPr" || parent(3) != "defaultTextStyle")
            return;
        const char* face = attribute(attributes, "typeface");
        if (face == nullptr) return;
        if (const int level = level_of(parent(2)); level >= 0) {
            levels[std::size_t(level)] = face;
        } else if (parent(2) == "defPPr") {
            base_ = face;
        }
    }
    // Gives the levels that name no font that of a:defPPr; call once the part is read.
    void finish() {
        if (!base_) return;
        for (std::optional<std::string>& l : levels)
            if (!l) l = base_;
    }

  private:
    std::optional<std::string> base_;
};

// Every a:latin (and a:ea, a:cs, a:sym) typeface.
std::span<const std::string_view> font_attributes(std::string_view local, std::string_view) {
    static constexpr std::string_view kTypeface[] = {"typeface"};
    if (local == "latin" || local == "ea" || local == "cs" || local == "sym") return kTypeface;
    return {};
}

class SlideRewriter : public ShapeReader {
  public:
    SlideRewriter(std::string part_name, const Template* layout, const Template* master,
                  const Levels& defaults, const Theme& theme, FontCache& fonts, TextConverter& text,
                  std::vector<Edit>& edits)
        : part_name_(std::move(part_name)),
          layout_(layout),
          master_(master),
          defaults_(defaults),
          theme_(theme),
          fonts_(fonts),
          text_(text),
          edits_(edits) {}
    bool refused() const { return refused_; }

    void start(std::string_view name, const char** attributes, std::size_t,
               std::size_t end) override {
        push(name);
        const std::string_view local = stack_.back();
        if (shape_element(local, attributes)) return;
        if (local == "latin" && parent() == "defRPr" && inside("lstStyle")) {
            const int level = level_of(parent(2));
            if (const char* face = attribute(attributes, "typeface"); level >= 0 && face)
                levels_[std::size_t(level)] = face;
        } else if (local == "p" && parent() == "txBody") {
            paras_.emplace_back();
            paras_.back().number = ++para_count_;
        } else if (local == "pPr" && parent() == "p" && !paras_.empty()) {
            if (const char* l = attribute(attributes, "lvl"))
                paras_.back().level =
                    std::min<std::size_t>(std::strtoul(l, nullptr, 10), kLevels - 1);
        } else if (local == "r" && parent() == "p") {
            run_font_.reset();
        } else if (local == "latin" && parent() == "rPr" && parent(2) == "r") {
            if (const char* face = attribute(attributes, "typeface")) run_font_ = face;
        } else if (local == "t" && parent() == "r" && !paras_.empty()) {
            capturing_ = true;
            capture_begin_ = end;
            captured_.clear();
        }
    }
    void end(std::string_view, std::size_t at) override {
        const std::string local = pop();
        if (local == "t" && capturing_) {
            capturing_ = false;
            TextSlot s{capture_begin_, at, captured_, font(paras_.back().level)};
            paras_.back().slots.push_back(std::move(s));
        } else if (local == "p" && !paras_.empty() && parent(0) == "txBody") {
            finish(paras_.back());
            paras_.pop_back();
        }
    }
    void text(std::string_view data) override {
        if (capturing_) captured_ += data;
    }

  private:
    struct Para {
        int number = 0;
        std::size_t level = 0;
        std::vector<TextSlot> slots;
    };

    std::string font(std::size_t level) const {
        if (run_font_) return resolve(theme_, *run_font_);
        if (levels_[level]) return resolve(theme_, *levels_[level]);
        if (!type_.empty()) {
            for (const Template* t : {layout_, master_}) {
                if (t == nullptr) continue;
                if (const Levels* l = t->find(type_, index_); l != nullptr && (*l)[level])
                    return resolve(theme_, *(*l)[level]);
            }
        }
        if (master_ != nullptr) {
            const Levels& styles = type_.empty()      ? master_->other
                                   : type_ == "title" ? master_->title
                                                      : master_->body;
            if (styles[level]) return resolve(theme_, *styles[level]);
        }
        if (defaults_[level]) return resolve(theme_, *defaults_[level]);
        return theme_.minor;
    }

    void finish(const Para& para) {
        if (refused_) return;
        const TextPlace where{part_name_, "paragraph " + std::to_string(para.number)};
        refused_ = !convert_slots(para.slots, fonts_, text_, where, edits_);
    }

    std::string part_name_;
    const Template* layout_;
    const Template* master_;
    const Levels& defaults_;  // the presentation's default text style
    const Theme& theme_;
    FontCache& fonts_;
    TextConverter& text_;
    std::vector<Edit>& edits_;
    std::optional<std::string> run_font_;
    std::vector<Para> paras_;
    int para_count_ = 0;
    bool capturing_ = false;
    std::size_t capture_begin_ = 0;
    std::string captured_;
    bool refused_ = false;
};

// The first target of `part`'s relationships whose target path holds `kind`.
std::string related(const std::map<std::string, std::string>& targets, std::string_view kind) {
    for (const auto& [id, target] : targets)
        if (target.find(kind) != std::string::npos) return target;
    return {};
}

}  // namespace

void convert_presentation(Package& package, FontCache& fonts, TextConverter& text,
                          DocumentResult& result) {
    std::map<std::string, std::string> types;
    std::string error;
    if (!content_types(package, types, error)) return set_broken(result, "", error);
    std::vector<std::string> text_parts, theme_parts;
    std::string presentation_name;
    for (const auto& [name, type] : types) {
        if (type.ends_with("main+xml") && (type.find("presentationml") != std::string::npos ||
                                           type.find("ms-powerpoint") != std::string::npos))
            presentation_name = name;
        if (type.ends_with("presentationml.slide+xml") || type.ends_with("notesSlide+xml") ||
            type.ends_with("slideLayout+xml") || type.ends_with("slideMaster+xml") ||
            type.ends_with("notesMaster+xml"))
            text_parts.push_back(name);
        if (type.ends_with("theme+xml")) theme_parts.push_back(name);
    }
    std::map<std::string, Template> templates;  // by part: layouts and masters
    std::map<std::string, Theme> themes;        // by part
    const auto load_template = [&](const std::string& name) -> const Template* {
        if (name.empty() || !package.has(name)) return nullptr;
        if (const auto it = templates.find(name); it != templates.end()) return &it->second;
        std::string xml;
        Template t;
        TemplateReader reader(t);
        if (!read_part(package, name, xml, reader, error)) return nullptr;
        return &templates.emplace(name, std::move(t)).first->second;
    };
    const auto load_theme = [&](const std::string& name) -> Theme {
        if (name.empty() || !package.has(name)) return {};
        if (const auto it = themes.find(name); it != themes.end()) return it->second;
        std::string xml;
        ThemeReader reader;
        if (!read_part(package, name, xml, reader, error)) return {};
        return themes.emplace(name, reader.theme).first->second;
    };

    std::string xml;
    Levels defaults;
    if (!presentation_name.empty() && package.has(presentation_name)) {
        DefaultStyleReader reader;
        if (!read_part(package, presentation_name, xml, reader, error))
            return set_broken(result, presentation_name, error);
        reader.finish();
        defaults = reader.levels;
        // Its typefaces are replaced with those of the themes.
        theme_parts.push_back(presentation_name);
    }
    for (const std::string& name : text_parts) {
        if (!package.has(name)) continue;
        std::map<std::string, std::string> rels;
        if (!relationships(package, name, rels, error)) return set_broken(result, name, error);
        // A slide's layout and its master; a layout's master; a master's theme.
        std::string layout_name, master_name = related(rels, "slideMaster");
        if (master_name.empty()) master_name = related(rels, "notesMaster");
        layout_name = related(rels, "slideLayout");
        if (!layout_name.empty() && master_name.empty()) {
            std::map<std::string, std::string> layout_rels;
            if (relationships(package, layout_name, layout_rels, error))
                master_name = related(layout_rels, "slideMaster");
        }
        if (name.ends_with(".xml") && (name.find("slideMaster") != std::string::npos ||
                                       name.find("notesMaster") != std::string::npos))
            master_name = name;
        std::string theme_name = related(rels, "theme");
        if (theme_name.empty() && !master_name.empty()) {
            std::map<std::string, std::string> master_rels;
            if (relationships(package, master_name, master_rels, error))
                theme_name = related(master_rels, "theme");
        }
        const Template* layout = load_template(layout_name);
        const Template* master = load_template(master_name);
        const Theme theme = load_theme(theme_name);
        std::vector<Edit> edits;
        SlideRewriter rewriter(name, layout, master, defaults, theme, fonts, text, edits);
        if (!read_part(package, name, xml, rewriter, error)) return set_broken(result, name, error);
        if (rewriter.refused()) {
            result.status = DocumentResult::Status::kRefused;
            return;
        }
        FontNameEdits names(xml, font_attributes, fonts, edits);
        if (!read_xml(xml, names, error) || !replace_part(package, name, xml, edits, result, error))
            return set_broken(result, name, error);
    }
    for (const std::string& name : theme_parts) {
        if (!package.has(name) || !package.read(name, xml, error)) continue;
        std::vector<Edit> edits;
        FontNameEdits names(xml, font_attributes, fonts, edits);
        if (!read_xml(xml, names, error) || !replace_part(package, name, xml, edits, result, error))
            return set_broken(result, name, error);
    }
    if (!package.write(result.output, error)) set_broken(result, "the package", error);
}

}  // namespace toneshift::documents::detail
