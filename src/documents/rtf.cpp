// RTF, read only as far as the fonts and the text need: groups, the font table, \fN,
// \plain, \deffN, \ucN, \uN with its fallback, \'hh and literal bytes. Everything else is
// passed through untouched; so is every destination whose text is not the document's
// (\*..., the style sheet, pictures, field instructions, ...).
//
// Which font draws a character: the font of its group's last \fN (\plain and the start of
// the document: \deffN). A legacy font's bytes are its \'hh escapes and literal bytes as
// they stand, and its \uN characters read back as office programs store the bytes (U+00E9
// is 0xE9, U+201C is 0x93, U+F0E9 is 0xE9). Converted text is written back as ASCII and
// \uN with as many '?' for fallback as the group's \ucN asks.
#include <cstdlib>
#include <map>
#include <vector>

#include "documents/formats.h"

namespace toneshift::documents::detail {

namespace {

constexpr int kMaxDepth = 4096;

struct GroupState {
    int font = -1;
    int uc = 1;
    bool skip = false;  // a destination whose text is not the document's
    bool font_table = false;
};

struct FontEntry {
    std::string name;
    std::size_t name_begin = 0;
    std::size_t name_end = 0;
};

class RtfReader {
  public:
    RtfReader(std::string_view data, FontCache& fonts, TextConverter& text)
        : data_(data), fonts_(fonts), text_(text) {}

    bool refused() const { return refused_; }
    std::vector<Edit>& edits() { return edits_; }

    // False when the RTF is malformed beyond reading (groups nested past kMaxDepth).
    bool read(std::string& error) {
        std::vector<GroupState> stack{GroupState{}};
        std::size_t i = 0;
        bool last_was_word = false;  // the token before ended a control word with no delimiter
        std::size_t skip_fallback = 0;
        while (i < data_.size()) {
            GroupState& g = stack.back();
            const char c = data_[i];
            if (c == '{') {
                if (stack.size() >= kMaxDepth) {
                    error = "groups nested too deep";
                    return false;
                }
                stack.push_back(stack.back());
                ++i;
                last_was_word = false;
                group_start_ = true;
                continue;
            }
            if (c == '}') {
                if (stack.back().font_table && int(stack.size()) == ft_depth_) end_font();
                if (int(stack.size()) == ft_depth_) ft_depth_ = -1;
                if (stack.size() > 1) stack.pop_back();
                ++i;
                last_was_word = false;
                group_start_ = false;
                skip_fallback = 0;
                continue;
            }
            if (c == '\r' || c == '\n') {
                ++i;
                continue;
            }
            if (c == '\\' && i + 1 < data_.size()) {
                const char n = data_[i + 1];
                const bool first_in_group = group_start_;
                group_start_ = false;
                if (n == '\'') {
                    // \'hh: one byte.
                    const std::size_t begin = i;
                    int value = -1;
                    if (i + 4 <= data_.size()) {
                        const char hex[3] = {data_[i + 2], data_[i + 3], '\0'};
                        char* end = nullptr;
                        const long v = std::strtol(hex, &end, 16);
                        if (end == hex + 2) value = int(v);
                    }
                    i = std::min(data_.size(), i + 4);
                    if (skip_fallback > 0) {
                        --skip_fallback;
                    } else if (value >= 0) {
                        text_token(g, char32_t(value), begin, i, last_was_word, int(stack.size()));
                    }
                    last_was_word = false;
                    continue;
                }
                if (!is_letter(n)) {
                    // A control symbol: \\ \{ \} are text; \* marks a destination to skip.
                    const std::size_t begin = i;
                    i += 2;
                    if (n == '*') {
                        g.skip = true;
                    } else if (n == '\\' || n == '{' || n == '}') {
                        if (skip_fallback > 0) {
                            --skip_fallback;
                        } else {
                            text_token(g, char32_t(n), begin, i, last_was_word, int(stack.size()));
                        }
                    } else {
                        end_piece();
                        if (skip_fallback > 0) --skip_fallback;
                    }
                    last_was_word = false;
                    continue;
                }
                // A control word: letters, an optional signed number, an optional space.
                std::size_t k = i + 1;
                while (k < data_.size() && is_letter(data_[k])) ++k;
                const std::string_view word = data_.substr(i + 1, k - i - 1);
                bool has_number = false;
                long number = 0;
                bool negative = false;
                if (k < data_.size() && data_[k] == '-' && k + 1 < data_.size() &&
                    is_digit(data_[k + 1])) {
                    negative = true;
                    ++k;
                }
                std::size_t digits = 0;
                while (k < data_.size() && is_digit(data_[k])) {
                    if (digits < 10) number = number * 10 + (data_[k] - '0');
                    ++digits;
                    ++k;
                }
                has_number = digits > 0;
                if (negative) number = -number;
                bool delimited = false;
                if (k < data_.size() && data_[k] == ' ') {
                    ++k;
                    delimited = true;
                }
                const std::size_t begin = i;
                i = k;
                if (skip_fallback > 0) {
                    --skip_fallback;
                    last_was_word = !delimited;
                    continue;
                }
                if (word == "bin" && has_number) {
                    // \binN: N bytes of binary data follow, which are neither text nor
                    // markup (braces among them close no group).
                    end_piece();
                    const std::size_t skip = number > 0 ? std::size_t(number) : 0;
                    i = std::min(data_.size(), i + skip);
                    last_was_word = false;
                    continue;
                }
                if (word == "u" && has_number) {
                    const char32_t ch = char32_t(number < 0 ? number + 65536 : number);
                    const std::size_t uc = std::size_t(std::max(0, g.uc));
                    // The fallback follows; it belongs to the same piece of text.
                    std::size_t end = i;
                    std::size_t skipped = 0;
                    while (skipped < uc && end < data_.size()) {
                        const char f = data_[end];
                        if (f == '{' || f == '}') break;
                        if (f == '\\') {
                            if (end + 1 < data_.size() && data_[end + 1] == '\'') {
                                end = std::min(data_.size(), end + 4);
                            } else if (end + 1 < data_.size() && !is_letter(data_[end + 1])) {
                                end += 2;
                            } else {
                                break;  // a control word: the fallback ends early
                            }
                        } else if (f == '\r' || f == '\n') {
                            ++end;
                            continue;
                        } else {
                            ++end;
                        }
                        ++skipped;
                    }
                    i = end;
                    text_token(g, ch, begin, i, last_was_word, int(stack.size()));
                    last_was_word = false;
                    continue;
                }
                control_word(stack, word, has_number, number, first_in_group);
                last_was_word = !delimited;
                continue;
            }
            if (c == '\\') {  // a lone backslash at the end
                ++i;
                continue;
            }
            const std::size_t begin = i;
            ++i;
            if (skip_fallback > 0) {
                --skip_fallback;
            } else {
                text_token(g, char32_t(static_cast<unsigned char>(c)), begin, i, last_was_word,
                           int(stack.size()));
            }
            last_was_word = false;
        }
        finish_paragraph();
        // The font names of the legacy fonts in the font table.
        for (const auto& [number, f] : font_table_) {
            const FontInfo& info = fonts_.info(f.name);
            if (info.format < 0 || f.name_end <= f.name_begin) continue;
            edits_.push_back(Edit{f.name_begin, f.name_end, escape_rtf(info.replacement, 1)});
        }
        return true;
    }

  private:
    struct Piece {
        std::size_t begin = 0;
        std::size_t end = 0;
        std::string text;  // as stored: UTF-8 of the characters that stand for the bytes
        int format = -1;
        std::string font;
        int uc = 1;
        bool after_word = false;
    };

    static bool is_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
    static bool is_digit(char c) { return c >= '0' && c <= '9'; }

    // Converted text as RTF: ASCII as it is (\, { and } escaped), the rest as \uN with `uc`
    // question marks for fallback.
    static std::string escape_rtf(std::string_view text, int uc) {
        std::string out;
        for (std::size_t i = 0; i < text.size();) {
            const char32_t c = next_code_point(text, i);
            if (c == '\\' || c == '{' || c == '}') {
                out += '\\';
                out += char(c);
            } else if (c >= 0x20 && c < 0x80) {
                out += char(c);
            } else if (c < 0x20) {
                out += c == '\t' ? "\\tab " : "";
            } else {
                const long v = c > 0xFFFF ? 0xFFFD : long(c);
                out += "\\u" + std::to_string(v > 32767 ? v - 65536 : v);
                if (uc <= 0) {
                    out += ' ';
                } else {
                    out.append(std::size_t(uc), '?');
                }
            }
        }
        return out;
    }

    // The end of one font's entry: its name is what came before its ';'.
    void end_font() {
        if (ft_number_ >= 0) {
            std::string n = ft_name_;
            std::size_t begin = ft_begin_, end = ft_end_;
            while (!n.empty() && n.back() == ' ') {
                n.pop_back();
                --end;
            }
            while (!n.empty() && n.front() == ' ') {
                n.erase(0, 1);
                ++begin;
            }
            if (ft_escaped_) begin = end = 0;  // a name spelled with escapes: never replaced
            if (font_table_.find(ft_number_) == font_table_.end())
                font_table_[ft_number_] = FontEntry{n, begin, end};
        }
        ft_number_ = -1;
        ft_name_.clear();
        ft_escaped_ = false;
        ft_done_ = false;
    }

    void text_token(const GroupState& g, char32_t c, std::size_t begin, std::size_t end,
                    bool after_word, int depth) {
        if (g.font_table) {
            if (ft_number_ < 0 || ft_done_ || g.skip || depth != ft_depth_) return;
            if (c == ';') {
                // The name is complete; the entry ends with its group, or here where fonts
                // have no groups of their own.
                ft_done_ = true;
                const bool own_group = ft_depth_ > fonttbl_depth_;
                if (!own_group) end_font();
                return;
            }
            if (ft_name_.empty()) ft_begin_ = begin;
            ft_name_ += char(c < 0x80 ? c : '?');
            ft_end_ = end;
            if (end - begin != 1) ft_escaped_ = true;
            return;
        }
        if (g.skip) return;
        const auto it = font_table_.find(g.font);
        const std::string& font = it == font_table_.end() ? empty_ : it->second.name;
        const int format = font.empty() ? -1 : fonts_.info(font).format;
        if (format < 0) {
            end_piece();
            return;
        }
        if (!para_.empty() && para_.back().end == begin && para_.back().format == format &&
            para_.back().font == font && open_piece_) {
            append_utf8(para_.back().text, c);
            para_.back().end = end;
            return;
        }
        Piece p;
        p.begin = begin;
        p.end = end;
        p.format = format;
        p.font = font;
        p.uc = g.uc;
        p.after_word = after_word;
        append_utf8(p.text, c);
        para_.push_back(std::move(p));
        open_piece_ = true;
    }

    void end_piece() { open_piece_ = false; }

    void control_word(std::vector<GroupState>& stack, std::string_view word, bool has_number,
                      long number, bool first_in_group) {
        GroupState& g = stack.back();
        end_piece();
        if (word == "f" && has_number) {
            if (g.font_table) {
                if (ft_number_ >= 0 && int(stack.size()) == ft_depth_ &&
                    ft_depth_ == fonttbl_depth_)
                    end_font();
                if (ft_number_ < 0) {
                    ft_depth_ = int(stack.size());
                    ft_number_ = int(number);
                    ft_name_.clear();
                }
            } else {
                g.font = int(number);
            }
        } else if (word == "deff" && has_number) {
            default_font_ = int(number);
            if (g.font < 0) g.font = int(number);
        } else if (word == "plain") {
            g.font = default_font_;
        } else if (word == "uc" && has_number) {
            g.uc = int(number);
        } else if (word == "fonttbl") {
            g.font_table = true;
            fonttbl_depth_ = int(stack.size());
        } else if (word == "par" || word == "sect" || word == "page" || word == "cell" ||
                   word == "row" || word == "nestcell" || word == "nestrow") {
            finish_paragraph();
            ++paragraph_;
        } else if (first_in_group &&
                   (word == "colortbl" || word == "stylesheet" || word == "info" ||
                    word == "pict" || word == "object" || word == "themedata" ||
                    word == "datastore" || word == "latentstyles" || word == "listtable" ||
                    word == "listoverridetable" || word == "rsidtbl" || word == "fldinst" ||
                    word == "generator" || word == "xmlnstbl" || word == "mmathPr" ||
                    word == "filetbl" || word == "revtbl" || word == "bkmkstart" ||
                    word == "bkmkend" || word == "falt" || word == "panose" || word == "fontemb" ||
                    word == "fontfile" || word == "listtext" || word == "pntext" ||
                    word == "template" || word == "colorschememapping")) {
            g.skip = true;
        }
    }

    void finish_paragraph() {
        end_piece();
        if (para_.empty()) return;
        const TextPlace where{"RTF", "paragraph " + std::to_string(paragraph_)};
        std::vector<std::string> chain;
        for (std::size_t k = 0; k < para_.size() && !refused_;) {
            std::size_t next = k + 1;
            while (next < para_.size() && para_[next].format == para_[k].format) ++next;
            chain.clear();
            for (std::size_t j = k; j < next; ++j) chain.push_back(para_[j].text);
            switch (text_.convert(para_[k].format, para_[k].font, chain, where)) {
                case TextConverter::Outcome::kConverted:
                    for (std::size_t j = k; j < next; ++j) {
                        const Piece& p = para_[j];
                        std::string out = escape_rtf(chain[j - k], p.uc);
                        if (p.after_word) out.insert(0, 1, ' ');
                        edits_.push_back(Edit{p.begin, p.end, std::move(out)});
                    }
                    break;
                case TextConverter::Outcome::kLeft:
                    break;
                case TextConverter::Outcome::kRefused:
                    refused_ = true;
                    break;
            }
            k = next;
        }
        para_.clear();
    }

    std::string_view data_;
    FontCache& fonts_;
    TextConverter& text_;
    std::map<int, FontEntry> font_table_;
    std::vector<Piece> para_;
    std::vector<Edit> edits_;
    std::string empty_;
    int default_font_ = -1;
    // The font table entry being read: its group's depth, number, name and where it lies.
    int fonttbl_depth_ = -1;
    int ft_depth_ = -1;
    int ft_number_ = -1;
    std::string ft_name_;
    std::size_t ft_begin_ = 0;
    std::size_t ft_end_ = 0;
    bool ft_escaped_ = false;
    bool ft_done_ = false;
    int paragraph_ = 1;
    bool open_piece_ = false;
    bool group_start_ = false;
    bool refused_ = false;
};

}  // namespace

void convert_rtf(std::string_view data, FontCache& fonts, TextConverter& text,
                 DocumentResult& result) {
    RtfReader reader(data, fonts, text);
    std::string error;
    if (!reader.read(error)) {
        result.status = DocumentResult::Status::kBroken;
        result.error = error;
        return;
    }
    if (reader.refused()) {
        result.status = DocumentResult::Status::kRefused;
        return;
    }
    result.output = apply_edits(data, reader.edits());
    result.parts_changed = reader.edits().empty() ? 0 : 1;
}

}  // namespace toneshift::documents::detail
