// The document reader on arbitrary input. The first byte chooses what the rest becomes: a
// file as it is (a zip package, RTF, anything), RTF, or one part of a Word document (its
// body, which is also read as its numbering part), an Excel workbook (its shared strings or
// its sheet), an OpenDocument text or a presentation slide, zipped here into a package whose
// other parts are fixed and name legacy fonts.
// - Nothing crashes, and memory stays bounded (libFuzzer's -rss_limit_mb).
// - A document converted under --replace and converted again is unchanged by the second
//   conversion: every legacy font it used has been replaced, and nothing else changes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "documents/document.h"
#include "documents/test_package.h"
#include "fuzz_check.h"

namespace toneshift {
namespace {

using fuzzing::check;

using documents::make_zip;

std::string types(const std::string& overrides) {
    return "<Types>" + overrides + "</Types>";
}
std::string override_of(const std::string& part, const std::string& type) {
    return "<Override PartName=\"/" + part +
           "\" ContentType=\"application/vnd.openxmlformats-officedocument." + type + "\"/>";
}

const std::string kWordStyles =
    "<w:styles xmlns:w=\"w\"><w:docDefaults><w:rPrDefault><w:rPr><w:rFonts w:ascii=\".VnTime\" "
    "w:hAnsi=\".VnTime\"/></w:rPr></w:rPrDefault></w:docDefaults><w:style w:styleId=\"H\">"
    "<w:basedOn w:val=\"H\"/><w:rPr><w:rFonts w:ascii=\"VNI-Times\" w:hAnsi=\".VnTimeH\"/>"
    "</w:rPr></w:style></w:styles>";

std::string build(unsigned char mode, const std::string& rest) {
    switch (mode % 7) {
        case 0:
            return rest;
        case 1:
            return "{\\rtf1{\\fonttbl{\\f0 .VnTime;}{\\f1 VNI-Times;}{\\f2 Arial;}}" + rest;
        case 2:
            return make_zip(
                {{"[Content_Types].xml",
                  types(override_of("word/document.xml", "wordprocessingml.document.main+xml") +
                        override_of("word/styles.xml", "wordprocessingml.styles+xml") +
                        override_of("word/numbering.xml", "wordprocessingml.numbering+xml"))},
                 {"word/document.xml", rest},
                 {"word/styles.xml", kWordStyles},
                 {"word/numbering.xml", rest}});
        case 3:
            return make_zip(
                {{"[Content_Types].xml",
                  types(override_of("xl/workbook.xml", "spreadsheetml.sheet.main+xml") +
                        override_of("xl/sharedStrings.xml", "spreadsheetml.sharedStrings+xml") +
                        override_of("xl/styles.xml", "spreadsheetml.styles+xml") +
                        override_of("xl/worksheets/sheet1.xml", "spreadsheetml.worksheet+xml"))},
                 {"xl/workbook.xml", "<workbook/>"},
                 {"xl/sharedStrings.xml", rest},
                 {"xl/styles.xml",
                  "<styleSheet><fonts><font><name val=\".VnTime\"/></font><font><name "
                  "val=\"VNI-Times\"/></font></fonts><cellXfs><xf fontId=\"0\"/><xf "
                  "fontId=\"1\"/></cellXfs></styleSheet>"},
                 {"xl/worksheets/sheet1.xml",
                  "<worksheet><sheetData><row><c r=\"A1\" t=\"s\"><v>0</v></c><c r=\"A2\" s=\"1\" "
                  "t=\"s\"><v>0</v></c><c r=\"A3\" s=\"1\" t=\"s\"><v>1</v></c></row></sheetData>"
                  "</worksheet>"}});
        case 4:
            return make_zip(
                {{"[Content_Types].xml",
                  types(override_of("xl/workbook.xml", "spreadsheetml.sheet.main+xml") +
                        override_of("xl/styles.xml", "spreadsheetml.styles+xml") +
                        override_of("xl/worksheets/sheet1.xml", "spreadsheetml.worksheet+xml"))},
                 {"xl/styles.xml",
                  "<styleSheet><fonts><font><name val=\".VnTime\"/></font></fonts><cellXfs>"
                  "<xf fontId=\"0\"/></cellXfs></styleSheet>"},
                 {"xl/worksheets/sheet1.xml", rest}});
        case 5:
            return make_zip({{"mimetype", "application/vnd.oasis.opendocument.text"},
                             {"content.xml", rest},
                             {"styles.xml",
                              "<office:document-styles><office:font-face-decls><style:font-face "
                              "style:name=\"V\" svg:font-family=\"'.VnTime'\"/>"
                              "</office:font-face-decls><office:styles><style:default-style "
                              "style:family=\"paragraph\"><style:text-properties "
                              "style:font-name=\"V\"/></style:default-style></office:styles>"
                              "</office:document-styles>"}});
        default:
            return make_zip(
                {{"[Content_Types].xml",
                  types(
                      override_of("ppt/presentation.xml", "presentationml.presentation.main+xml") +
                      override_of("ppt/slides/slide1.xml", "presentationml.slide+xml") +
                      override_of("ppt/theme/theme1.xml", "theme+xml"))},
                 {"ppt/slides/slide1.xml", rest},
                 {"ppt/slides/_rels/slide1.xml.rels",
                  "<Relationships><Relationship Id=\"r\" Target=\"../theme/theme1.xml\"/>"
                  "</Relationships>"},
                 {"ppt/theme/theme1.xml",
                  "<a:theme><a:minorFont><a:latin typeface=\".VnTime\"/></a:minorFont>"
                  "</a:theme>"}});
    }
}

}  // namespace
}  // namespace toneshift

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace toneshift;
    if (size == 0) return 0;
    const std::string rest(reinterpret_cast<const char*>(data + 1), size - 1);
    const std::string document = build(data[0], rest);
    documents::DocumentOptions options;
    options.text.policy = LossPolicy::kReplace;
    options.text.guard = false;
    const documents::DocumentResult first = documents::convert_document(document, options);
    if (first.status != documents::DocumentResult::Status::kConverted) return 0;
    const documents::DocumentResult second = documents::convert_document(first.output, options);
    fuzzing::check(second.status == documents::DocumentResult::Status::kConverted,
                   "a converted document reads again");
    fuzzing::check(second.output == first.output, "a converted document converts to itself");
    return 0;
}
