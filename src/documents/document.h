// Documents whose encoding follows the font: what kind a file is, and its conversion to a
// document of the same kind whose legacy text is Unicode.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "documents/fonts.h"
#include "documents/text.h"

namespace toneshift::documents {

enum class DocumentKind {
    kNone,          // no document: text
    kWord,          // Office Open XML word processing (.docx, .docm, .dotx, .dotm)
    kSpreadsheet,   // Office Open XML spreadsheet (.xlsx, ...)
    kPresentation,  // Office Open XML presentation (.pptx, ...)
    kOdfText,       // OpenDocument (.odt, .ods, .odp)
    kOdfSpreadsheet,
    kOdfPresentation,
    kOtherPackage,  // a zip archive of another kind, or an OpenDocument of another kind
    kRtf,
    kOldBinary,  // a compound file: .doc, .xls, .ppt
};

// What kind `data` is, by its content: a zip package with [Content_Types].xml and its main
// part, or with an OpenDocument "mimetype"; "{\rtf"; a compound file's signature. For a zip
// package the whole file is needed; otherwise its first bytes are enough.
DocumentKind document_kind(std::string_view data);
// Whether the first bytes of a file (at least 8 of them where it has them) say it may be a
// document: a zip archive, RTF or a compound file. Text never begins so.
bool may_be_document(std::string_view start);
// "Word document", "RTF document", ...
std::string_view kind_name(DocumentKind kind);
// Whether this build converts documents of `kind`.
bool kind_is_supported(DocumentKind kind);

struct DocumentOptions {
    TextOptions text;
    const FontTable* fonts = nullptr;
};

struct DocumentResult {
    enum class Status {
        kConverted,    // `output` is the converted document (left text aside: see `left`)
        kRefused,      // undefined input under LossPolicy::kRefuse: see `problems`
        kUnsupported,  // a kind this build does not convert: `error` says which
        kBroken,       // not a readable document of its kind: `error` says why
    };
    Status status = Status::kConverted;
    DocumentKind kind = DocumentKind::kNone;
    std::string output;
    std::string error;
    std::vector<TextProblem> problems;  // the first problems (all under kReplace they count)
    std::uint64_t problem_count = 0;
    std::vector<LeftText> left;  // pieces whose bytes read clearly as another encoding
    std::vector<FontUse> fonts;  // every legacy font met, with what it held
    std::uint64_t parts_changed = 0;
};

// Converts every piece of text in a legacy font to Unicode and puts Unicode fonts in the
// legacy fonts' place; everything else stays byte for byte.
DocumentResult convert_document(std::string_view data, const DocumentOptions& options);

}  // namespace toneshift::documents
