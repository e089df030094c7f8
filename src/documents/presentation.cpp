// PowerPoint presentations (Office Open XML).
//
// Which font draws a character: the first of these that names one. The run's a:rPr/a:latin;
// the shape's own list style at the paragraph's level (a:lstStyle/a:lvlNpPr/a:defRPr/a:latin);
// for a placeholder, the list style of the placeholder of the same type (or index) on the
// slide's layout, then on its master; the master's text styles (titleStyle for titles,
// bodyStyle for other placeholders, otherStyle for other shapes) at that level; the theme's
// minor font. "+mn-lt" and "+mj-lt" name the theme's minor and major Latin fonts. Slides,
// notes, layouts and masters are converted; every legacy a:latin typeface is replaced.
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

struct Theme {
    std::string major;
    std::string minor;
    std::string resolve(const std::string& face) const {
        if (face.starts_with("+mj")) return major;
        if (face.starts_with("+mn")) return minor;
        return face;
    }
};

class Named : public XmlHandler {
  protected:
    std::string_view parent(std::size_t up = 1) const {
        return stack_.size() > up ? std::string_view(stack_[stack_.size() - 1 - up])
                                  : std::string_view();
    }
    bool inside(std::string_view local) const {
        for (const std::string& s : stack_)
            if (s == local) return true;
        return false;
    }
    void push(std::string_view name) { stack_.emplace_back(local_name(name)); }
    std::string pop() {
        std::string last = stack_.empty() ? std::string() : stack_.back();
        if (!stack_.empty()) stack_.pop_back();
        return last;
    }
    std::vector<std::string> stack_;
};

class ThemeReader : public Named {
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

class TemplateReader : public Named {
  public:
    explicit TemplateReader(Template& t) : t_(t) {}
    void start(std::string_view name, const char** attributes, std::size_t, std::size_t) override {
        push(name);
        const std::string_view local = stack_.back();
        if (local == "sp") {
            type_.clear();
            index_.clear();
            levels_ = Levels{};
        } else if (local == "ph") {
            type_ = placeholder_type(attributes);
            if (const char* i = attribute(attributes, "idx")) index_ = i;
        } else if (local == "latin" && parent() == "defRPr") {
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
    void text(std::string_view) override {}

  private:
    Template& t_;
    std::string type_, index_;
    Levels levels_;
};

// Replaces every legacy a:latin (and a:ea, a:cs, a:sym) typeface.
class FontNames : public Named {
  public:
    FontNames(std::string_view part, FontCache& fonts, std::vector<Edit>& edits)
        : part_(part), fonts_(fonts), edits_(edits) {}
    void start(std::string_view name, const char**, std::size_t begin, std::size_t end) override {
        push(name);
        const std::string_view local = stack_.back();
        Edit e;
        if ((local == "latin" || local == "ea" || local == "cs" || local == "sym") &&
            font_attribute_edit(part_, begin, end, "typeface", fonts_, e))
            edits_.push_back(e);
    }
    void end(std::string_view, std::size_t) override { pop(); }
    void text(std::string_view) override {}

  private:
    std::string_view part_;
    FontCache& fonts_;
    std::vector<Edit>& edits_;
};

class SlideRewriter : public Named {
  public:
    SlideRewriter(std::string part_name, const Template* layout, const Template* master,
                  const Theme& theme, FontCache& fonts, TextConverter& text,
                  std::vector<Edit>& edits)
        : part_name_(std::move(part_name)),
          layout_(layout),
          master_(master),
          theme_(theme),
          fonts_(fonts),
          text_(text),
          edits_(edits) {}
    bool refused() const { return refused_; }

    void start(std::string_view name, const char** attributes, std::size_t,
               std::size_t end) override {
        push(name);
        const std::string_view local = stack_.back();
        if (local == "sp") {
            type_.clear();
            index_.clear();
            own_ = Levels{};
        } else if (local == "ph") {
            type_ = placeholder_type(attributes);
            if (const char* i = attribute(attributes, "idx")) index_ = i;
        } else if (local == "latin" && parent() == "defRPr" && inside("lstStyle")) {
            const int level = level_of(parent(2));
            if (const char* face = attribute(attributes, "typeface"); level >= 0 && face)
                own_[std::size_t(level)] = face;
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
            Slot s{capture_begin_, at, captured_, font(paras_.back().level)};
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
    struct Slot {
        std::size_t begin = 0;
        std::size_t end = 0;
        std::string text;
        std::string font;
    };
    struct Para {
        int number = 0;
        std::size_t level = 0;
        std::vector<Slot> slots;
    };

    std::string font(std::size_t level) const {
        if (run_font_) return theme_.resolve(*run_font_);
        if (own_[level]) return theme_.resolve(*own_[level]);
        if (!type_.empty()) {
            for (const Template* t : {layout_, master_}) {
                if (t == nullptr) continue;
                if (const Levels* l = t->find(type_, index_); l != nullptr && (*l)[level])
                    return theme_.resolve(*(*l)[level]);
            }
        }
        if (master_ != nullptr) {
            const Levels& styles = type_.empty()      ? master_->other
                                   : type_ == "title" ? master_->title
                                                      : master_->body;
            if (styles[level]) return theme_.resolve(*styles[level]);
        }
        return theme_.minor;
    }

    void finish(Para& para) {
        if (refused_ || para.slots.empty()) return;
        std::vector<TextPiece> pieces;
        for (const Slot& s : para.slots) {
            TextPiece p;
            p.text = s.text;
            p.font = s.font;
            p.format = fonts_.info(s.font).format;
            pieces.push_back(std::move(p));
        }
        if (!convert_pieces(pieces, text_,
                            TextPlace{part_name_, "paragraph " + std::to_string(para.number)})) {
            refused_ = true;
            return;
        }
        for (std::size_t k = 0; k < pieces.size(); ++k)
            if (!pieces[k].left && pieces[k].text != para.slots[k].text)
                edits_.push_back(
                    Edit{para.slots[k].begin, para.slots[k].end, escape_text(pieces[k].text)});
    }

    std::string part_name_;
    const Template* layout_;
    const Template* master_;
    const Theme& theme_;
    FontCache& fonts_;
    TextConverter& text_;
    std::vector<Edit>& edits_;
    std::string type_, index_;
    Levels own_;
    std::optional<std::string> run_font_;
    std::vector<Para> paras_;
    int para_count_ = 0;
    bool capturing_ = false;
    std::size_t capture_begin_ = 0;
    std::string captured_;
    bool refused_ = false;
};

bool ends_with(std::string_view s, std::string_view tail) {
    return s.size() >= tail.size() && s.substr(s.size() - tail.size()) == tail;
}

// The first target of `part`'s relationships whose target path holds `kind`.
std::string related(const std::map<std::string, std::string>& targets, std::string_view kind) {
    for (const auto& [id, target] : targets)
        if (target.find(kind) != std::string::npos) return target;
    return {};
}

}  // namespace

void convert_presentation(Package& package, FontCache& fonts, TextConverter& text,
                          DocumentResult& result) {
    using Status = DocumentResult::Status;
    std::map<std::string, std::string> types;
    std::string error;
    const auto broken = [&](const std::string& part, const std::string& why) {
        result.status = Status::kBroken;
        result.error = part.empty() ? why : part + ": " + why;
    };
    if (!content_types(package, types, error)) return broken("", error);
    std::vector<std::string> text_parts, theme_parts;
    for (const auto& [name, type] : types) {
        if (ends_with(type, "presentationml.slide+xml") || ends_with(type, "notesSlide+xml") ||
            ends_with(type, "slideLayout+xml") || ends_with(type, "slideMaster+xml") ||
            ends_with(type, "notesMaster+xml"))
            text_parts.push_back(name);
        if (ends_with(type, "theme+xml")) theme_parts.push_back(name);
    }
    std::map<std::string, Template> templates;  // by part: layouts and masters
    std::map<std::string, Theme> themes;        // by part
    const auto load_template = [&](const std::string& name) -> const Template* {
        if (name.empty() || !package.has(name)) return nullptr;
        if (const auto it = templates.find(name); it != templates.end()) return &it->second;
        std::string xml;
        Template t;
        TemplateReader reader(t);
        if (!package.read(name, xml, error) || !read_xml(xml, reader, error)) return nullptr;
        return &templates.emplace(name, std::move(t)).first->second;
    };
    const auto load_theme = [&](const std::string& name) -> Theme {
        if (name.empty() || !package.has(name)) return {};
        if (const auto it = themes.find(name); it != themes.end()) return it->second;
        std::string xml;
        ThemeReader reader;
        if (!package.read(name, xml, error) || !read_xml(xml, reader, error)) return {};
        return themes.emplace(name, reader.theme).first->second;
    };

    std::string xml;
    for (const std::string& name : text_parts) {
        if (!package.has(name)) continue;
        std::map<std::string, std::string> rels;
        if (!relationships(package, name, rels, error)) return broken(name, error);
        // A slide's layout and its master; a layout's master; a master's theme.
        std::string layout_name, master_name = related(rels, "slideMaster");
        if (master_name.empty()) master_name = related(rels, "notesMaster");
        layout_name = related(rels, "slideLayout");
        if (!layout_name.empty() && master_name.empty()) {
            std::map<std::string, std::string> layout_rels;
            if (relationships(package, layout_name, layout_rels, error))
                master_name = related(layout_rels, "slideMaster");
        }
        if (ends_with(name, ".xml") && (name.find("slideMaster") != std::string::npos ||
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
        if (!package.read(name, xml, error)) return broken(name, error);
        std::vector<Edit> edits;
        SlideRewriter rewriter(name, layout, master, theme, fonts, text, edits);
        if (!read_xml(xml, rewriter, error)) return broken(name, error);
        if (rewriter.refused()) {
            result.status = Status::kRefused;
            return;
        }
        FontNames names(xml, fonts, edits);
        if (!read_xml(xml, names, error)) return broken(name, error);
        if (edits.empty()) continue;
        if (!package.replace(name, apply_edits(xml, edits), error)) return broken(name, error);
        ++result.parts_changed;
    }
    for (const std::string& name : theme_parts) {
        if (!package.has(name) || !package.read(name, xml, error)) continue;
        std::vector<Edit> edits;
        FontNames names(xml, fonts, edits);
        if (!read_xml(xml, names, error)) return broken(name, error);
        if (edits.empty()) continue;
        if (!package.replace(name, apply_edits(xml, edits), error)) return broken(name, error);
        ++result.parts_changed;
    }
    if (!package.write(result.output, error)) broken("the package", error);
}

}  // namespace toneshift::documents::detail
