#include "documents/document.h"

#include <exception>
#include <vector>

#include "documents/formats.h"

namespace toneshift::documents {

namespace detail {

namespace {

class ContentTypesReader : public XmlHandler {
  public:
    explicit ContentTypesReader(std::map<std::string, std::string>& types) : types_(types) {}
    void start(std::string_view name, const char** attributes, std::size_t, std::size_t) override {
        if (local_name(name) != "Override") return;
        const char* part = attribute(attributes, "PartName");
        const char* type = attribute(attributes, "ContentType");
        if (part == nullptr || type == nullptr) return;
        std::string_view p = part;
        if (!p.empty() && p[0] == '/') p.remove_prefix(1);
        types_[std::string(p)] = type;
    }
    void end(std::string_view, std::size_t) override {}
    void text(std::string_view) override {}

  private:
    std::map<std::string, std::string>& types_;
};

class RelationshipsReader : public XmlHandler {
  public:
    explicit RelationshipsReader(std::map<std::string, std::string>& targets) : targets_(targets) {}
    void start(std::string_view name, const char** attributes, std::size_t, std::size_t) override {
        if (local_name(name) != "Relationship") return;
        const char* id = attribute(attributes, "Id");
        const char* target = attribute(attributes, "Target");
        const char* mode = attribute(attributes, "TargetMode");
        if (id == nullptr || target == nullptr) return;
        if (mode != nullptr && std::string_view(mode) == "External") return;
        targets_[id] = target;
    }
    void end(std::string_view, std::size_t) override {}
    void text(std::string_view) override {}

  private:
    std::map<std::string, std::string>& targets_;
};

// `target` relative to `folder` ("ppt/slides/"), with "." and ".." resolved.
std::string resolve_path(const std::string& folder, const std::string& target) {
    std::vector<std::string> parts;
    const std::string whole = target.starts_with("/") ? target.substr(1) : folder + target;
    std::size_t start = 0;
    while (start <= whole.size()) {
        const std::size_t slash = whole.find('/', start);
        const std::string piece =
            whole.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
        if (piece == "..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!piece.empty() && piece != ".") {
            parts.push_back(piece);
        }
        if (slash == std::string::npos) break;
        start = slash + 1;
    }
    std::string out;
    for (const std::string& p : parts) out += (out.empty() ? "" : "/") + p;
    return out;
}

}  // namespace

bool relationships(Package& package, const std::string& part,
                   std::map<std::string, std::string>& targets, std::string& error) {
    targets.clear();
    const std::size_t slash = part.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : part.substr(0, slash + 1);
    const std::string name = folder + "_rels/" + part.substr(folder.size()) + ".rels";
    if (!package.has(name)) return true;
    std::string xml;
    std::map<std::string, std::string> raw;
    RelationshipsReader reader(raw);
    if (!package.read(name, xml, error, std::uint64_t(64) << 20) || !read_xml(xml, reader, error))
        return false;
    for (const auto& [id, target] : raw) targets[id] = resolve_path(folder, target);
    return true;
}

bool content_types(Package& package, std::map<std::string, std::string>& types,
                   std::string& error) {
    std::string xml;
    if (!package.read("[Content_Types].xml", xml, error, std::uint64_t(16) << 20)) return false;
    ContentTypesReader reader(types);
    if (!read_xml(xml, reader, error)) {
        error = "[Content_Types].xml: " + error;
        return false;
    }
    return true;
}

bool font_attribute_edit(std::string_view part, std::size_t begin, std::size_t end,
                         std::string_view local, FontCache& fonts, Edit& edit) {
    std::size_t from = 0, to = 0;
    const std::string_view tag = part.substr(begin, end - begin);
    if (!find_attribute(tag, local, from, to)) return false;
    // Font names hold no markup in practice; one that does is compared as written.
    const std::string name(tag.substr(from, to - from));
    const FontInfo& info = fonts.info(name);
    if (info.format < 0) return false;
    edit.begin = begin + from;
    edit.end = begin + to;
    edit.text = escape_attribute(info.replacement);
    return true;
}

void ThemeReader::start(std::string_view name, const char** attributes, std::size_t, std::size_t) {
    push(name);
    if (stack_.back() != "latin") return;
    const char* face = attribute(attributes, "typeface");
    if (face == nullptr) return;
    if (parent() == "majorFont") theme.major = face;
    if (parent() == "minorFont") theme.minor = face;
}

void FontNameEdits::start(std::string_view name, const char**, std::size_t begin, std::size_t end) {
    push(name);
    Edit e;
    for (std::string_view a : which_(stack_.back(), parent()))
        if (font_attribute_edit(part_, begin, end, a, fonts_, e)) edits_.push_back(e);
}

bool convert_pieces(std::vector<TextPiece>& pieces, TextConverter& text, const TextPlace& where) {
    std::vector<std::string> chain;
    for (std::size_t k = 0; k < pieces.size();) {
        std::size_t next = k + 1;
        while (next < pieces.size() && pieces[next].format == pieces[k].format) ++next;
        if (pieces[k].format < 0) {
            k = next;
            continue;
        }
        chain.clear();
        for (std::size_t j = k; j < next; ++j) chain.push_back(pieces[j].text);
        switch (text.convert(pieces[k].format, pieces[k].font, chain, where)) {
            case TextConverter::Outcome::kConverted:
                for (std::size_t j = k; j < next; ++j) pieces[j].text = std::move(chain[j - k]);
                break;
            case TextConverter::Outcome::kLeft:
                for (std::size_t j = k; j < next; ++j) pieces[j].left = true;
                break;
            case TextConverter::Outcome::kRefused:
                return false;
        }
        k = next;
    }
    return true;
}

bool convert_slots(const std::vector<TextSlot>& slots, FontCache& fonts, TextConverter& text,
                   const TextPlace& where, std::vector<Edit>& edits) {
    if (slots.empty()) return true;
    std::vector<TextPiece> pieces;
    for (const TextSlot& s : slots) {
        TextPiece p;
        p.text = s.text;
        p.font = s.font;
        p.format = fonts.info(s.font).format;
        pieces.push_back(std::move(p));
    }
    if (!convert_pieces(pieces, text, where)) return false;
    for (std::size_t k = 0; k < pieces.size(); ++k)
        if (!pieces[k].left && pieces[k].text != slots[k].text)
            edits.push_back(Edit{slots[k].begin, slots[k].end, escape_text(pieces[k].text)});
    return true;
}

bool read_part(Package& package, const std::string& name, std::string& xml, XmlHandler& handler,
               std::string& error) {
    return package.read(name, xml, error) && read_xml(xml, handler, error);
}

bool replace_part(Package& package, const std::string& name, std::string_view xml,
                  std::vector<Edit>& edits, DocumentResult& result, std::string& error) {
    if (edits.empty()) return true;
    if (!package.replace(name, apply_edits(xml, edits), error)) return false;
    ++result.parts_changed;
    return true;
}

void set_broken(DocumentResult& result, const std::string& part, const std::string& why) {
    result.status = DocumentResult::Status::kBroken;
    result.error = part.empty() ? why : part + ": " + why;
}

}  // namespace detail

namespace {

bool contains(std::string_view s, std::string_view part) {
    return s.find(part) != std::string_view::npos;
}

DocumentKind package_kind(documents::Package& package) {
    if (package.has("[Content_Types].xml")) {
        std::map<std::string, std::string> types;
        std::string error;
        if (!detail::content_types(package, types, error)) return DocumentKind::kOtherPackage;
        for (const auto& [name, type] : types) {
            if (!type.ends_with("main+xml")) continue;
            if (contains(type, "wordprocessingml") || contains(type, "ms-word"))
                return DocumentKind::kWord;
            if (contains(type, "spreadsheetml") || contains(type, "ms-excel"))
                return DocumentKind::kSpreadsheet;
            if (contains(type, "presentationml") || contains(type, "ms-powerpoint"))
                return DocumentKind::kPresentation;
        }
        return DocumentKind::kOtherPackage;
    }
    if (package.has("mimetype")) {
        std::string type;
        std::string error;
        if (!package.read("mimetype", type, error, 256)) return DocumentKind::kOtherPackage;
        if (type.starts_with("application/vnd.oasis.opendocument.text"))
            return DocumentKind::kOdfText;
        if (type.starts_with("application/vnd.oasis.opendocument.spreadsheet"))
            return DocumentKind::kOdfSpreadsheet;
        if (type.starts_with("application/vnd.oasis.opendocument.presentation"))
            return DocumentKind::kOdfPresentation;
    }
    return DocumentKind::kOtherPackage;
}

constexpr std::string_view kCompoundSignature = "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1";

}  // namespace

bool may_be_document(std::string_view start) {
    return looks_like_zip(start) || start.starts_with("{\\rtf") ||
           start.starts_with(kCompoundSignature);
}

DocumentKind document_kind(std::string_view data) {
    if (data.starts_with("{\\rtf")) return DocumentKind::kRtf;
    if (data.starts_with(kCompoundSignature)) return DocumentKind::kOldBinary;
    if (!looks_like_zip(data)) return DocumentKind::kNone;
    Package package;
    std::string error;
    if (!package.open(data, error)) return DocumentKind::kOtherPackage;
    return package_kind(package);
}

std::string_view kind_name(DocumentKind kind) {
    switch (kind) {
        case DocumentKind::kNone:
            return "text";
        case DocumentKind::kWord:
            return "Word document";
        case DocumentKind::kSpreadsheet:
            return "Excel workbook";
        case DocumentKind::kPresentation:
            return "PowerPoint presentation";
        case DocumentKind::kOdfText:
            return "OpenDocument text";
        case DocumentKind::kOdfSpreadsheet:
            return "OpenDocument spreadsheet";
        case DocumentKind::kOdfPresentation:
            return "OpenDocument presentation";
        case DocumentKind::kOtherPackage:
            return "zip archive that is no Office or OpenDocument document";
        case DocumentKind::kRtf:
            return "RTF document";
        case DocumentKind::kOldBinary:
            return "binary Office document (.doc, .xls or .ppt)";
    }
    return "document";
}

bool kind_is_supported(DocumentKind kind) {
    return kind == DocumentKind::kWord || kind == DocumentKind::kRtf ||
           kind == DocumentKind::kSpreadsheet || kind == DocumentKind::kOdfText ||
           kind == DocumentKind::kOdfSpreadsheet || kind == DocumentKind::kOdfPresentation ||
           kind == DocumentKind::kPresentation;
}

namespace {

DocumentResult convert_known_document(std::string_view data, const DocumentOptions& options) {
    DocumentResult result;
    static const FontTable kNoUserEntries;
    detail::FontCache fonts(options.fonts != nullptr ? *options.fonts : kNoUserEntries);
    TextConverter text(options.text);
    result.kind = document_kind(data);
    if (!kind_is_supported(result.kind)) {
        result.status = DocumentResult::Status::kUnsupported;
        result.error = std::string(kind_name(result.kind)) + ": not converted by this version";
        return result;
    }
    if (result.kind == DocumentKind::kRtf) {
        detail::convert_rtf(data, fonts, text, result);
    } else {
        Package package;
        std::string error;
        if (!package.open(data, error)) {
            result.status = DocumentResult::Status::kBroken;
            result.error = error;
            return result;
        }
        if (result.kind == DocumentKind::kOdfText || result.kind == DocumentKind::kOdfSpreadsheet ||
            result.kind == DocumentKind::kOdfPresentation) {
            detail::convert_opendocument(package, fonts, text, result);
        } else if (result.kind == DocumentKind::kPresentation) {
            detail::convert_presentation(package, fonts, text, result);
        } else if (result.kind == DocumentKind::kSpreadsheet) {
            detail::convert_spreadsheet(package, fonts, text, result);
        } else {
            detail::convert_word(package, data, fonts, text, result);
        }
    }
    result.problems = text.problems();
    result.problem_count = text.problem_count();
    result.left = text.left();
    result.fonts = text.fonts();
    if (result.status == DocumentResult::Status::kConverted && result.problem_count != 0 &&
        options.text.policy == LossPolicy::kRefuse)
        result.status = DocumentResult::Status::kRefused;
    if (result.status != DocumentResult::Status::kConverted) result.output.clear();
    return result;
}

}  // namespace

DocumentResult convert_document(std::string_view data, const DocumentOptions& options) {
    // What a malformed document makes a library or a reader throw (out of memory, a range
    // a broken part points past) is its being unreadable, not the end of the program.
    try {
        return convert_known_document(data, options);
    } catch (const std::exception& e) {
        DocumentResult result;
        result.status = DocumentResult::Status::kBroken;
        result.error = std::string("cannot be read (") + e.what() + ")";
        return result;
    }
}

}  // namespace toneshift::documents
