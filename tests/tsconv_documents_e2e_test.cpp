// tsconv end to end on documents: Word documents built here, converted by the built tsconv,
// and read back by LibreOffice (where it is installed), the real client, through its flat
// XML export, which keeps headers, footnotes and text boxes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <unistd.h>
#include <zip.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "documents/test_package.h"
#include "program.h"
#include "tsconv_program.h"

namespace toneshift::testing {
namespace {

namespace fs = std::filesystem;

using documents::make_zip;

// The inflated bytes of entry `name` of a zip file.
std::string entry_of(const fs::path& file, const std::string& name) {
    int error = 0;
    zip_t* z = zip_open(file.c_str(), ZIP_RDONLY, &error);
    if (z == nullptr) return "(no zip)";
    std::string out;
    if (zip_file_t* f = zip_fopen(z, name.c_str(), 0)) {
        char buffer[4096];
        for (zip_int64_t n; (n = zip_fread(f, buffer, sizeof buffer)) > 0;)
            out.append(buffer, std::size_t(n));
        zip_fclose(f);
    }
    zip_discard(z);
    return out;
}

// A run of `text` in `font` (none: the font its styles give).
std::string run(const std::string& font, const std::string& text, const std::string& style = "") {
    std::string props;
    if (!style.empty()) props += "<w:rStyle w:val=\"" + style + "\"/>";
    if (!font.empty()) props += "<w:rFonts w:ascii=\"" + font + "\" w:hAnsi=\"" + font + "\"/>";
    if (!props.empty()) props = "<w:rPr>" + props + "</w:rPr>";
    return "<w:r>" + props + "<w:t xml:space=\"preserve\">" + text + "</w:t></w:r>";
}

std::string paragraph(const std::string& runs, const std::string& style = "") {
    return "<w:p>" + (style.empty() ? "" : "<w:pPr><w:pStyle w:val=\"" + style + "\"/></w:pPr>") +
           runs + "</w:p>";
}

const std::string kXml = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";
const std::string kW =
    "xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\" "
    "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\" "
    "xmlns:v=\"urn:schemas-microsoft-com:vml\"";
const std::string kRel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";
const std::string kType = "application/vnd.openxmlformats-officedocument.";

std::string override_of(const std::string& part, const std::string& type) {
    return "<Override PartName=\"/" + part + "\" ContentType=\"" + kType + type + "\"/>";
}
std::string relationship(const std::string& id, const std::string& type,
                         const std::string& target) {
    return "<Relationship Id=\"" + id + "\" Type=\"" + kRel + type + "\" Target=\"" + target +
           "\"/>";
}

// An Office package's [Content_Types].xml: its relationships and other XML by extension,
// then `overrides`.
std::string content_types_of(const std::string& overrides) {
    return kXml +
           "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
           "<Default Extension=\"rels\" ContentType=\"application/"
           "vnd.openxmlformats-package.relationships+xml\"/>"
           "<Default Extension=\"xml\" ContentType=\"application/xml\"/>" +
           overrides + "</Types>";
}

// A relationships part holding `relationships`.
std::string relationships_of(const std::string& relationships) {
    return kXml +
           "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/"
           "relationships\">" +
           relationships + "</Relationships>";
}

// A Word document LibreOffice opens: `body` (paragraphs), a header paragraph, a footnote
// paragraph (referred to from the body by footnote 1) and, when given, the numbering part's
// definitions. The document defaults take the theme's
// minor font, .VnTime; paragraph style "Heading" gives the capitals font .VnTimeH and "Title"
// inherits it; character style "Cell" gives .VnTime; table style "OldTable" gives VNI-Times
// through the table style it is based on.
std::string word_document(const std::string& body, const std::string& header,
                          const std::string& footnote, const std::string& numbering = "") {
    const std::string types = content_types_of(
        override_of("word/document.xml", "wordprocessingml.document.main+xml") +
        override_of("word/styles.xml", "wordprocessingml.styles+xml") +
        override_of("word/theme/theme1.xml", "theme+xml") +
        override_of("word/header1.xml", "wordprocessingml.header+xml") +
        override_of("word/footnotes.xml", "wordprocessingml.footnotes+xml") +
        (numbering.empty() ? ""
                           : override_of("word/numbering.xml", "wordprocessingml.numbering+xml")));
    const std::string package_rels =
        relationships_of(relationship("rId1", "officeDocument", "word/document.xml"));
    const std::string document_rels = relationships_of(
        relationship("rId1", "styles", "styles.xml") +
        relationship("rId2", "theme", "theme/theme1.xml") +
        relationship("rId3", "header", "header1.xml") +
        relationship("rId4", "footnotes", "footnotes.xml") +
        (numbering.empty() ? "" : relationship("rId5", "numbering", "numbering.xml")));
    const std::string styles =
        kXml + "<w:styles " + kW +
        "><w:docDefaults><w:rPrDefault><w:rPr><w:rFonts w:asciiTheme=\"minorHAnsi\" "
        "w:hAnsiTheme=\"minorHAnsi\"/></w:rPr></w:rPrDefault></w:docDefaults>"
        "<w:style w:type=\"paragraph\" w:default=\"1\" w:styleId=\"Normal\"><w:name "
        "w:val=\"Normal\"/></w:style>"
        "<w:style w:type=\"paragraph\" w:styleId=\"Heading\"><w:name w:val=\"Heading\"/>"
        "<w:basedOn w:val=\"Normal\"/><w:rPr><w:rFonts w:ascii=\".VnTimeH\" "
        "w:hAnsi=\".VnTimeH\"/></w:rPr></w:style>"
        "<w:style w:type=\"paragraph\" w:styleId=\"Title\"><w:name w:val=\"Title\"/>"
        "<w:basedOn w:val=\"Heading\"/></w:style>"
        "<w:style w:type=\"character\" w:styleId=\"Cell\"><w:name w:val=\"Cell\"/><w:rPr>"
        "<w:rFonts w:ascii=\".VnTime\" w:hAnsi=\".VnTime\"/></w:rPr></w:style>"
        "<w:style w:type=\"table\" w:styleId=\"OldGrid\"><w:name w:val=\"Old Grid\"/><w:rPr>"
        "<w:rFonts w:ascii=\"VNI-Times\" w:hAnsi=\"VNI-Times\"/></w:rPr></w:style>"
        "<w:style w:type=\"table\" w:styleId=\"OldTable\"><w:name w:val=\"Old Table\"/>"
        "<w:basedOn w:val=\"OldGrid\"/></w:style></w:styles>";
    const std::string theme =
        kXml +
        "<a:theme xmlns:a=\"http://schemas.openxmlformats.org/drawingml/2006/main\" "
        "name=\"T\"><a:themeElements><a:fontScheme name=\"F\"><a:majorFont><a:latin "
        "typeface=\"Cambria\"/><a:ea typeface=\"\"/><a:cs typeface=\"\"/></a:majorFont>"
        "<a:minorFont><a:latin typeface=\".VnTime\"/><a:ea typeface=\"\"/><a:cs "
        "typeface=\"\"/></a:minorFont></a:fontScheme></a:themeElements></a:theme>";
    const std::string document =
        kXml + "<w:document " + kW + "><w:body>" + body +
        "<w:sectPr><w:headerReference w:type=\"default\" r:id=\"rId3\"/></w:sectPr>"
        "</w:body></w:document>";
    const std::string header_part = kXml + "<w:hdr " + kW + ">" + header + "</w:hdr>";
    const std::string footnotes =
        kXml + "<w:footnotes " + kW +
        "><w:footnote w:type=\"separator\" w:id=\"-1\"><w:p><w:r><w:separator/></w:r></w:p>"
        "</w:footnote><w:footnote w:type=\"continuationSeparator\" w:id=\"0\"><w:p><w:r>"
        "<w:continuationSeparator/></w:r></w:p></w:footnote><w:footnote w:id=\"1\">" +
        footnote + "</w:footnote></w:footnotes>";
    std::vector<std::pair<std::string, std::string>> entries{
        {"[Content_Types].xml", types},    {"_rels/.rels", package_rels},
        {"word/document.xml", document},   {"word/_rels/document.xml.rels", document_rels},
        {"word/styles.xml", styles},       {"word/theme/theme1.xml", theme},
        {"word/header1.xml", header_part}, {"word/footnotes.xml", footnotes}};
    if (!numbering.empty())
        entries.push_back({"word/numbering.xml",
                           kXml + "<w:numbering " + kW + ">" + numbering + "</w:numbering>"});
    return make_zip(entries);
}

// The TCVN3 and VNI bytes of the tests, as Word keeps them (one character a byte), and
// what they read as.
const std::string kRepublicTcvn3 =  // Cộng hòa xã hội chủ nghĩa Việt Nam
    "C\xC3\xA9ng h\xC3\x9F"
    "a x\xC2\xB7 h\xC3\xA9i ch\xC3\xB1 ngh\xC3\x9C"
    "a Vi\xC3\x96t Nam";
const std::string kRepublic =
    "C\xE1\xBB\x99ng h\xC3\xB2"
    "a x\xC3\xA3 h\xE1\xBB\x99i ch\xE1\xBB\xA7 ngh\xC4\xA9"
    "a "
    "Vi\xE1\xBB\x87t Nam";
const std::string kIndependenceCaps =
    "\xC2\xA7\xC3\xA9"
    "c l\xC3\x8Bp";  // in .VnTimeH
const std::string kIndependence =
    "\xC4\x90\xE1\xBB\x98"
    "C L\xE1\xBA\xACP";  // ĐỘC LẬP
const std::string kFreedomVni =
    "T\xC3\xB6\xC3\xAF do - Ha\xC3\xAFnh phu\xC3\xB9"
    "c";
const std::string kFreedom =
    "T\xE1\xBB\xB1 do - H\xE1\xBA\xA1nh ph\xC3\xBA"
    "c";
const std::string kReportTcvn3 = "B\xC2\xB8o c\xC2\xB8o";
const std::string kReport = "B\xC3\xA1o c\xC3\xA1o";
const std::string kBoxTcvn3 = "H\xC3\xA9p v\xC2\xA8n b\xC2\xB6n";
const std::string kBox = "H\xE1\xBB\x99p v\xC4\x83n b\xE1\xBA\xA3n";
const std::string kHeaderTcvn3 = "Trang \xC2\xAE\xC3\x87u";
const std::string kHeader = "Trang \xC4\x91\xE1\xBA\xA7u";
const std::string kNoteTcvn3 = "Ghi ch\xC3\xB3";
const std::string kNote = "Ghi ch\xC3\xBA";
const std::string kLowerIndependenceVni =
    "\xC3\xB1o\xC3\xA4"
    "c la\xC3\xA4p";
const std::string kLowerIndependence =
    "\xC4\x91\xE1\xBB\x99"
    "c l\xE1\xBA\xAD"
    "p";                                                      // độc lập
const std::string kUnicodeText = "Xin ch\xC3\xA0o \xC3\xA9";  // in Arial: left alone

// Every kind of place and every way to a font.
std::string full_document() {
    const std::string text_box =
        "<w:r><w:pict><v:shape id=\"box\" type=\"#_x0000_t202\" "
        "style=\"width:200pt;height:60pt\"><v:textbox><w:txbxContent>" +
        paragraph(run(".VnArial", kBoxTcvn3)) +
        "</w:txbxContent></v:textbox></v:shape></w:pict></w:r>";
    const std::string table =
        "<w:tbl><w:tblGrid><w:gridCol w:w=\"4000\"/></w:tblGrid><w:tr><w:tc>" +
        paragraph(run("", kReportTcvn3, "Cell")) + "</w:tc></w:tr></w:tbl>";
    const std::string body =
        paragraph(run("", kRepublicTcvn3) + "<w:r><w:footnoteReference w:id=\"1\"/></w:r>") +
        paragraph(run("", kIndependenceCaps), "Title") +
        // One VNI letter split between two runs: "T" "ö" | "ï" ...
        paragraph(run("VNI-Times", kFreedomVni.substr(0, 3)) +
                  run("VNI-Times", kFreedomVni.substr(3))) +
        paragraph(run("Arial", kUnicodeText)) + table + paragraph(text_box);
    return word_document(body, paragraph(run("", kHeaderTcvn3)),
                         paragraph(run(".VnTime", kNoteTcvn3)));
}

// LibreOffice's flat XML export of `document` (`format`: fodt, fods, fodp); empty when
// LibreOffice is not installed.
std::string libreoffice_xml(const fs::path& document, const std::string& format) {
    const fs::path dir = document.parent_path();
    const std::string command = "soffice -env:UserInstallation=file://" +
                                (dir / "lo-profile").string() + " --headless --convert-to " +
                                format + " --outdir '" + (dir / "lo").string() + "' '" +
                                document.string() + "' >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) return "";
    return read_file(dir / "lo" / (document.stem().string() + "." + format));
}

// LibreOffice's text of `document`, its flat XML export with every tag taken out.
std::string libreoffice_text(const fs::path& document, const std::string& format) {
    const std::string xml = libreoffice_xml(document, format);
    std::string text;
    bool in_tag = false;
    for (char c : xml) {
        if (c == '<') in_tag = true;
        if (!in_tag) text += c;
        if (c == '>') in_tag = false;
    }
    return text;
}

TsconvSetup in(const ScratchDir& dir) {
    TsconvSetup setup;
    setup.dir = dir.path();
    return setup;
}

bool have_libreoffice() {
    return std::system("command -v soffice >/dev/null 2>&1") == 0;
}

TEST(TsconvDocuments, AWordDocumentConvertsEverywhereAndLibreOfficeShowsItsText) {
    ScratchDir dir;
    write_file(dir / "in.docx", full_document());
    const ProgramRun r = run_tsconv({"-t", "utf-8", "in.docx", "-o", "out.docx"}, in(dir));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    // The parts as written, whatever the client.
    const std::string body = entry_of(dir / "out.docx", "word/document.xml");
    for (const std::string& expected : {kRepublic, kIndependence, kReport, kBox, kUnicodeText})
        EXPECT_NE(body.find(expected), std::string::npos) << expected << "\n" << body;
    EXPECT_NE(body.find(kFreedom.substr(0, 1)), std::string::npos);
    EXPECT_EQ(body.find("VNI-Times"), std::string::npos);
    EXPECT_NE(entry_of(dir / "out.docx", "word/header1.xml").find(kHeader), std::string::npos);
    EXPECT_NE(entry_of(dir / "out.docx", "word/footnotes.xml").find(kNote), std::string::npos);
    EXPECT_EQ(entry_of(dir / "out.docx", "word/styles.xml").find(".Vn"), std::string::npos);
    EXPECT_EQ(entry_of(dir / "out.docx", "word/theme/theme1.xml").find(".Vn"), std::string::npos);
    EXPECT_EQ(entry_of(dir / "out.docx", "_rels/.rels"), entry_of(dir / "in.docx", "_rels/.rels"));

    if (!have_libreoffice()) GTEST_SKIP() << "LibreOffice (soffice) is not installed";
    const std::string shown = libreoffice_text(dir / "out.docx", "fodt");
    ASSERT_FALSE(shown.empty());
    for (const std::string& expected :
         {kRepublic, kIndependence, kFreedom, kReport, kBox, kHeader, kNote, kUnicodeText})
        EXPECT_NE(shown.find(expected), std::string::npos) << expected;
}

// A numbered list whose level 1 text is "Phần %1." in .VnTime (its own font) and whose level
// 2 bullet "á" takes .VnTime from the document defaults; a FILLIN field's result and a
// MERGEFIELD's, both in .VnTime. The numbering's font names were replaced and its text left
// as stored, which LibreOffice drew as other letters.
TEST(TsconvDocuments, ListNumbersAndFieldResultsConvertAndLibreOfficeShowsThem) {
    ScratchDir dir;
    const std::string font = "<w:rPr><w:rFonts w:ascii=\".VnTime\" w:hAnsi=\".VnTime\"/></w:rPr>";
    const auto level = [](int n, const std::string& format, const std::string& text,
                          const std::string& properties) {
        return "<w:lvl w:ilvl=\"" + std::to_string(n) +
               "\"><w:start w:val=\"1\"/><w:numFmt w:val=\"" + format + "\"/><w:lvlText w:val=\"" +
               text + "\"/><w:lvlJc w:val=\"left\"/>" + properties + "</w:lvl>";
    };
    const std::string numbering =
        "<w:abstractNum w:abstractNumId=\"0\">" + level(0, "decimal", "Ph\xC3\x87n %1.", font) +
        level(1, "bullet", "\xC2\xB8", "") +
        "</w:abstractNum><w:num w:numId=\"1\"><w:abstractNumId w:val=\"0\"/></w:num>";
    const auto item = [](int n, const std::string& text) {
        return "<w:p><w:pPr><w:numPr><w:ilvl w:val=\"" + std::to_string(n) +
               "\"/><w:numId w:val=\"1\"/></w:numPr></w:pPr>" + run("", text) + "</w:p>";
    };
    const std::string instruction = " FILLIN \"H\xC2\xB8i\" ";
    const std::string body =
        item(0, "one") + item(1, "two") + "<w:p><w:r><w:fldChar w:fldCharType=\"begin\"/></w:r>" +
        "<w:r><w:instrText xml:space=\"preserve\">" + instruction +
        "</w:instrText></w:r><w:r><w:fldChar w:fldCharType=\"separate\"/></w:r>" +
        run(".VnTime", kReportTcvn3) + "<w:r><w:fldChar w:fldCharType=\"end\"/></w:r></w:p>" +
        "<w:p><w:fldSimple w:instr=\" MERGEFIELD Ten \">" + run(".VnTime", kNoteTcvn3) +
        "</w:fldSimple></w:p>";
    write_file(dir / "in.docx", word_document(body, "<w:p/>", "<w:p/>", numbering));
    const ProgramRun r = run_tsconv({"-t", "utf-8", "in.docx", "-o", "out.docx"}, in(dir));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const std::string phan = "Ph\xE1\xBA\xA7n";  // Phần
    const std::string numbering_part = entry_of(dir / "out.docx", "word/numbering.xml");
    EXPECT_NE(numbering_part.find("<w:lvlText w:val=\"" + phan + " %1.\"/>"), std::string::npos)
        << numbering_part;
    EXPECT_NE(numbering_part.find("<w:lvlText w:val=\"\xC3\xA1\"/>"), std::string::npos)
        << numbering_part;
    EXPECT_EQ(numbering_part.find(".VnTime"), std::string::npos) << numbering_part;
    const std::string document = entry_of(dir / "out.docx", "word/document.xml");
    EXPECT_NE(document.find(instruction), std::string::npos) << document;

    if (!have_libreoffice()) GTEST_SKIP() << "LibreOffice (soffice) is not installed";
    const std::string shown = libreoffice_xml(dir / "out.docx", "fodt");
    ASSERT_FALSE(shown.empty());
    // A level's text is in the attributes of its list level style.
    EXPECT_NE(shown.find("style:num-prefix=\"" + phan + " \""), std::string::npos) << shown;
    EXPECT_NE(shown.find("text:bullet-char=\"\xC3\xA1\""), std::string::npos) << shown;
    EXPECT_NE(shown.find(kReport + "</text:text-input>"), std::string::npos) << shown;
    EXPECT_NE(shown.find(kNote + "</text:database-display>"), std::string::npos) << shown;
}

TEST(TsconvDocuments, AnRtfDocumentConvertsAndLibreOfficeShowsItsText) {
    ScratchDir dir;
    // TCVN3 as escapes, literal bytes and \uN; VNI-Times with a letter split by a group; a
    // capitals font; a Unicode font left alone.
    write_file(dir / "in.rtf",
               "{\\rtf1\\ansi\\ansicpg1252\\deff0{\\fonttbl{\\f0\\froman Times New Roman;}"
               "{\\f1\\froman .VnTime;}{\\f2\\froman VNI-Times;}{\\f3\\froman .VnTimeH;}}\n"
               "\\pard\\plain\\f1 C\\'e9ng h\xDF"
               "a x\\u183\\'b7 h\\'e9i ch\\'f1 ngh\\'dc"
               "a "
               "Vi\\'d6t Nam\\par\n"
               "\\f3 \\'a7\\'e9"
               "c l\\'cbp\\par\n"
               "\\f2 T\\'f6{\\b \\'ef} do - Ha\\'efnh phu\\'f9"
               "c\\par\n"
               "\\f0 Xin ch\\'e0o\\par}");
    const ProgramRun r = run_tsconv({"-t", "utf-8", "in.rtf", "-o", "out.rtf"}, in(dir));
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string out = read_file(dir / "out.rtf");
    EXPECT_EQ(out.find(".Vn"), std::string::npos);
    EXPECT_NE(out.find("{\\f0\\froman Times New Roman;}"), std::string::npos);
    if (!have_libreoffice()) GTEST_SKIP() << "LibreOffice (soffice) is not installed";
    const std::string shown = libreoffice_text(dir / "out.rtf", "fodt");
    ASSERT_FALSE(shown.empty());
    for (const std::string& expected :
         {kRepublic, kIndependence, kFreedom, std::string("Xin ch\xC3\xA0o")})
        EXPECT_NE(shown.find(expected), std::string::npos) << expected;
}

// A workbook LibreOffice opens: sheet "Tong hop" uses shared string 0 (plain) in a .VnTime
// cell (A1), an Arial cell (A2) and a .VnTimeH cell (A3); B1 holds a rich string whose runs
// are VNI-Times and .VnTime; sheet "Two" holds an inline string in a .VnTime cell, then
// `more_cells`. The workbook says Excel wrote it, so LibreOffice shows the formulas' cached
// results rather than computing them again.
std::string workbook(const std::string& more_cells = "") {
    const std::string sheet_type = "spreadsheetml.worksheet+xml";
    const std::string types =
        content_types_of(override_of("xl/workbook.xml", "spreadsheetml.sheet.main+xml") +
                         override_of("xl/worksheets/sheet1.xml", sheet_type) +
                         override_of("xl/worksheets/sheet2.xml", sheet_type) +
                         override_of("xl/styles.xml", "spreadsheetml.styles+xml") +
                         override_of("xl/sharedStrings.xml", "spreadsheetml.sharedStrings+xml") +
                         override_of("docProps/app.xml", "extended-properties+xml"));
    const std::string main = "xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"";
    const std::string book =
        kXml + "<workbook " + main +
        " xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\">"
        "<sheets><sheet name=\"Tong hop\" sheetId=\"1\" r:id=\"rId1\"/><sheet name=\"Two\" "
        "sheetId=\"2\" r:id=\"rId2\"/></sheets></workbook>";
    const std::string book_rels =
        relationships_of(relationship("rId1", "worksheet", "worksheets/sheet1.xml") +
                         relationship("rId2", "worksheet", "worksheets/sheet2.xml") +
                         relationship("rId3", "styles", "styles.xml") +
                         relationship("rId4", "sharedStrings", "sharedStrings.xml"));
    const std::string styles =
        kXml + "<styleSheet " + main +
        "><fonts count=\"4\"><font><sz val=\"11\"/><name val=\"Calibri\"/></font>"
        "<font><sz val=\"11\"/><name val=\".VnTime\"/></font><font><sz val=\"11\"/><name "
        "val=\"Arial\"/></font><font><sz val=\"11\"/><name val=\".VnTimeH\"/></font></fonts>"
        "<fills count=\"1\"><fill><patternFill patternType=\"none\"/></fill></fills>"
        "<borders count=\"1\"><border/></borders><cellStyleXfs count=\"1\"><xf fontId=\"0\"/>"
        "</cellStyleXfs><cellXfs count=\"4\"><xf fontId=\"0\"/><xf fontId=\"1\" "
        "applyFont=\"1\"/><xf fontId=\"2\" applyFont=\"1\"/><xf fontId=\"3\" applyFont=\"1\"/>"
        "</cellXfs></styleSheet>";
    const std::string shared =
        kXml + "<sst " + main + " count=\"4\" uniqueCount=\"2\"><si><t>" + kRepublicTcvn3 +
        "</t></si><si><r><rPr><rFont val=\"VNI-Times\"/></rPr><t>" + kFreedomVni +
        "</t></r><r><rPr><b/><rFont val=\".VnTime\"/></rPr><t xml:space=\"preserve\"> " +
        kReportTcvn3 + "</t></r></si></sst>";
    const std::string sheet1 =
        kXml + "<worksheet " + main +
        "><sheetData><row r=\"1\"><c r=\"A1\" s=\"1\" t=\"s\"><v>0</v></c><c r=\"B1\" s=\"2\" "
        "t=\"s\"><v>1</v></c></row><row r=\"2\"><c r=\"A2\" s=\"2\" t=\"s\"><v>0</v></c></row>"
        "<row r=\"3\"><c r=\"A3\" s=\"3\" t=\"s\"><v>0</v></c></row></sheetData></worksheet>";
    const std::string sheet2 = kXml + "<worksheet " + main +
                               "><sheetData><row r=\"1\"><c r=\"C1\" s=\"1\" "
                               "t=\"inlineStr\"><is><t>" +
                               kBoxTcvn3 + "</t></is></c>" + more_cells +
                               "</row></sheetData></worksheet>";
    const std::string app =
        kXml +
        "<Properties xmlns=\"http://schemas.openxmlformats.org/officeDocument/2006/"
        "extended-properties\"><Application>Microsoft Excel</Application></Properties>";
    return make_zip(
        {{"[Content_Types].xml", types},
         {"_rels/.rels",
          relationships_of(relationship("rId1", "officeDocument", "xl/workbook.xml") +
                           relationship("rId2", "extended-properties", "docProps/app.xml"))},
         {"docProps/app.xml", app},
         {"xl/workbook.xml", book},
         {"xl/_rels/workbook.xml.rels", book_rels},
         {"xl/styles.xml", styles},
         {"xl/sharedStrings.xml", shared},
         {"xl/worksheets/sheet1.xml", sheet1},
         {"xl/worksheets/sheet2.xml", sheet2}});
}

TEST(TsconvDocuments, AWorkbookConvertsEachCellInItsOwnFont) {
    ScratchDir dir;
    write_file(dir / "in.xlsx", workbook());
    const ProgramRun r = run_tsconv({"-t", "utf-8", "in.xlsx", "-o", "out.xlsx"}, in(dir));
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string shared = entry_of(dir / "out.xlsx", "xl/sharedStrings.xml");
    // String 0 converted for A1, a copy (index 2) in capitals for A3; A2 keeps nothing: it
    // is Arial, and gets a copy left as stored.
    EXPECT_NE(shared.find("uniqueCount=\"4\""), std::string::npos) << shared;
    const std::string sheet = entry_of(dir / "out.xlsx", "xl/worksheets/sheet1.xml");
    EXPECT_NE(sheet.find("<c r=\"A1\" s=\"1\" t=\"s\"><v>0</v>"), std::string::npos) << sheet;
    EXPECT_NE(sheet.find("<c r=\"A2\" s=\"2\" t=\"s\"><v>2</v>"), std::string::npos) << sheet;
    EXPECT_NE(sheet.find("<c r=\"A3\" s=\"3\" t=\"s\"><v>3</v>"), std::string::npos) << sheet;
    EXPECT_EQ(entry_of(dir / "out.xlsx", "xl/styles.xml").find(".Vn"), std::string::npos);
    EXPECT_EQ(shared.find("VNI-Times"), std::string::npos);

    if (!have_libreoffice()) GTEST_SKIP() << "LibreOffice (soffice) is not installed";
    const std::string shown = libreoffice_text(dir / "out.xlsx", "fods");
    ASSERT_FALSE(shown.empty());
    const std::string republic_caps =  // CỘNG HÒA XÃ HỘI CHỦ NGHĨA VIỆT NAM
        "C\xE1\xBB\x98NG H\xC3\x92"
        "A X\xC3\x83 H\xE1\xBB\x98I CH\xE1\xBB\xA6 NGH\xC4\xA8"
        "A "
        "VI\xE1\xBB\x86T NAM";
    for (const std::string& expected :
         {kRepublic, kRepublicTcvn3, republic_caps, kFreedom, kReport, kBox})
        EXPECT_NE(shown.find(expected), std::string::npos) << expected;
}

// A formula's string result (its cached value, which LibreOffice shows for a workbook Excel
// wrote) in a .VnTime cell: it was left as stored, in a font replaced by Times New Roman.
TEST(TsconvDocuments, AFormulasStringResultConvertsAndLibreOfficeShowsIt) {
    ScratchDir dir;
    const std::string formula = "<f>\"x\"&amp;\"y\"</f>";
    write_file(dir / "in.xlsx", workbook("<c r=\"D1\" s=\"1\" t=\"str\">" + formula + "<v>" +
                                         kNoteTcvn3 + "</v></c>"));
    const ProgramRun r = run_tsconv({"-t", "utf-8", "in.xlsx", "-o", "out.xlsx"}, in(dir));
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string sheet = entry_of(dir / "out.xlsx", "xl/worksheets/sheet2.xml");
    EXPECT_NE(sheet.find(formula + "<v>" + kNote + "</v>"), std::string::npos) << sheet;
    if (!have_libreoffice()) GTEST_SKIP() << "LibreOffice (soffice) is not installed";
    const std::string shown = libreoffice_text(dir / "out.xlsx", "fods");
    ASSERT_FALSE(shown.empty());
    EXPECT_NE(shown.find(kNote), std::string::npos) << shown;
}

// An OpenDocument of `type` (text, spreadsheet, presentation) whose body is `body`: font
// faces for .VnTime, .VnTimeH and VNI-Times; automatic styles P1 (paragraph, .VnTime),
// T1 (text, VNI-Times), ce1 (cell, .VnTime), ce2 (cell, VNI-Times: a column's default),
// pr1 (presentation, .VnTime); in styles.xml the common paragraph style "Heading" (.VnTimeH)
// and a header in it on the master page.
std::string open_document(const std::string& type, const std::string& body) {
    const std::string ns =
        "xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
        "xmlns:style=\"urn:oasis:names:tc:opendocument:xmlns:style:1.0\" "
        "xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\" "
        "xmlns:table=\"urn:oasis:names:tc:opendocument:xmlns:table:1.0\" "
        "xmlns:draw=\"urn:oasis:names:tc:opendocument:xmlns:drawing:1.0\" "
        "xmlns:presentation=\"urn:oasis:names:tc:opendocument:xmlns:presentation:1.0\" "
        "xmlns:fo=\"urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0\" "
        "xmlns:svg=\"urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0\" "
        "office:version=\"1.2\"";
    const std::string faces =
        "<office:font-face-decls><style:font-face style:name=\"VnTime\" "
        "svg:font-family=\"'.VnTime'\"/><style:font-face style:name=\"VnTimeH\" "
        "svg:font-family=\".VnTimeH\"/><style:font-face style:name=\"VNI\" "
        "svg:font-family=\"VNI-Times\"/></office:font-face-decls>";
    const std::string mime = "application/vnd.oasis.opendocument." + type;
    const std::string content =
        kXml + "<office:document-content " + ns + ">" + faces +
        "<office:automatic-styles>"
        "<style:style style:name=\"P1\" style:family=\"paragraph\"><style:text-properties "
        "style:font-name=\"VnTime\"/></style:style>"
        "<style:style style:name=\"T1\" style:family=\"text\"><style:text-properties "
        "style:font-name=\"VNI\"/></style:style>"
        "<style:style style:name=\"ce1\" style:family=\"table-cell\"><style:text-properties "
        "style:font-name=\"VnTime\"/></style:style>"
        "<style:style style:name=\"ce2\" style:family=\"table-cell\"><style:text-properties "
        "style:font-name=\"VNI\"/></style:style>"
        "<style:style style:name=\"pr1\" style:family=\"presentation\"><style:text-properties "
        "style:font-name=\"VnTime\"/></style:style>"
        "</office:automatic-styles><office:body><office:" +
        type + ">" + body + "</office:" + type + "></office:body></office:document-content>";
    const std::string styles =
        kXml + "<office:document-styles " + ns + ">" + faces +
        "<office:styles><style:style style:name=\"Heading\" style:family=\"paragraph\">"
        "<style:text-properties style:font-name=\"VnTimeH\"/></style:style></office:styles>"
        "<office:automatic-styles><style:page-layout style:name=\"pm1\"/>"
        "</office:automatic-styles><office:master-styles><style:master-page "
        "style:name=\"Standard\" style:page-layout-name=\"pm1\"><style:header><text:p "
        "text:style-name=\"Heading\">" +
        kIndependenceCaps +
        "</text:p></style:header>"
        "</style:master-page></office:master-styles></office:document-styles>";
    const std::string manifest =
        kXml +
        "<manifest:manifest "
        "xmlns:manifest=\"urn:oasis:names:tc:opendocument:xmlns:manifest:1.0\" "
        "manifest:version=\"1.2\"><manifest:file-entry manifest:full-path=\"/\" "
        "manifest:media-type=\"" +
        mime +
        "\"/><manifest:file-entry "
        "manifest:full-path=\"content.xml\" manifest:media-type=\"text/xml\"/>"
        "<manifest:file-entry manifest:full-path=\"styles.xml\" "
        "manifest:media-type=\"text/xml\"/></manifest:manifest>";
    return make_zip({{"mimetype", mime},
                     {"META-INF/manifest.xml", manifest},
                     {"content.xml", content},
                     {"styles.xml", styles}});
}

TEST(TsconvDocuments, OpenDocumentsConvertByTheirStylesAndLibreOfficeShowsThem) {
    const std::string text_body =
        "<text:p text:style-name=\"P1\">" + kRepublicTcvn3 +
        "<text:note text:id=\"n1\" text:note-class=\"footnote\"><text:note-citation>1"
        "</text:note-citation><text:note-body><text:p text:style-name=\"P1\">" +
        kNoteTcvn3 +
        "</text:p></text:note-body></text:note></text:p>"
        "<text:p text:style-name=\"P1\">" +
        kReportTcvn3 + " <text:span text:style-name=\"T1\">" + kFreedomVni +
        "</text:span></text:p>"
        // An input field, whose text is the paragraph's font's.
        "<text:p text:style-name=\"P1\"><text:text-input text:description=\"x\">" +
        kHeaderTcvn3 + "</text:text-input></text:p>";
    const std::string sheet_body =
        "<table:table table:name=\"Tong\"><table:table-column "
        "table:default-cell-style-name=\"ce2\" table:number-columns-repeated=\"2\"/>"
        "<table:table-row><table:table-cell table:style-name=\"ce1\" office:value-type=\"string\">"
        "<text:p>" +
        kRepublicTcvn3 +
        "</text:p></table:table-cell><table:table-cell "
        "office:value-type=\"string\"><text:p>" +
        kFreedomVni + "</text:p></table:table-cell></table:table-row></table:table>";
    const std::string slides_body =
        "<draw:page draw:name=\"p1\" draw:master-page-name=\"Standard\"><draw:frame "
        "presentation:style-name=\"pr1\" svg:width=\"20cm\" svg:height=\"5cm\" svg:x=\"1cm\" "
        "svg:y=\"1cm\"><draw:text-box><text:p>" +
        kRepublicTcvn3 +
        "</text:p><text:p><text:span "
        "text:style-name=\"T1\">" +
        kFreedomVni +
        "</text:span></text:p></draw:text-box>"
        "</draw:frame></draw:page>";
    const struct {
        std::string type, extension, flat;
        std::string body;
        std::vector<std::string> expected;
    } cases[] = {
        {"text",
         "odt",
         "fodt",
         text_body,
         {kRepublic, kNote, kReport, kFreedom, kIndependence, kHeader}},
        {"spreadsheet", "ods", "fods", sheet_body, {kRepublic, kFreedom}},
        {"presentation", "odp", "fodp", slides_body, {kRepublic, kFreedom}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.extension);
        ScratchDir dir;
        write_file(dir / ("in." + c.extension), open_document(c.type, c.body));
        const ProgramRun r =
            run_tsconv({"-t", "utf-8", "in." + c.extension, "-o", "out." + c.extension}, in(dir));
        ASSERT_EQ(r.status, 0) << r.err;
        const std::string content = entry_of(dir / ("out." + c.extension), "content.xml");
        EXPECT_NE(content.find(kRepublic), std::string::npos) << content;
        EXPECT_EQ(content.find("font-family=\"'.Vn"), std::string::npos);
        EXPECT_EQ(entry_of(dir / ("out." + c.extension), "mimetype"),
                  "application/vnd.oasis.opendocument." + c.type);
        if (!have_libreoffice()) continue;
        const std::string shown = libreoffice_text(dir / ("out." + c.extension), c.flat);
        ASSERT_FALSE(shown.empty());
        for (const std::string& expected : c.expected)
            EXPECT_NE(shown.find(expected), std::string::npos) << expected;
    }
}

// A presentation LibreOffice opens: one slide whose title placeholder takes the master's
// title style (.VnTimeH), whose body placeholder has a VNI-Times run, and whose text box
// takes the master's other style, the theme's minor font (.VnTime). With
// `box_by_default_style`, the master's other style names no font and the text box, in VNI,
// takes VNI-Times from the presentation's default text style.
std::string presentation(bool box_by_default_style = false) {
    const std::string a = "xmlns:a=\"http://schemas.openxmlformats.org/drawingml/2006/main\"";
    const std::string pns = a +
                            " xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/"
                            "relationships\" xmlns:p=\"http://schemas.openxmlformats.org/"
                            "presentationml/2006/main\"";
    const std::string types = content_types_of(
        override_of("ppt/presentation.xml", "presentationml.presentation.main+xml") +
        override_of("ppt/slides/slide1.xml", "presentationml.slide+xml") +
        override_of("ppt/slideLayouts/slideLayout1.xml", "presentationml.slideLayout+xml") +
        override_of("ppt/slideMasters/slideMaster1.xml", "presentationml.slideMaster+xml") +
        override_of("ppt/theme/theme1.xml", "theme+xml"));
    const std::string shape_tree_start =
        "<p:cSld><p:spTree><p:nvGrpSpPr><p:cNvPr id=\"1\" name=\"\"/><p:cNvGrpSpPr/><p:nvPr/>"
        "</p:nvGrpSpPr><p:grpSpPr/>";
    const auto shape = [&](int id, const std::string& ph, const std::string& paragraphs, int y) {
        return "<p:sp><p:nvSpPr><p:cNvPr id=\"" + std::to_string(id) + "\" name=\"s" +
               std::to_string(id) + "\"/><p:cNvSpPr/><p:nvPr>" + ph +
               "</p:nvPr></p:nvSpPr>"
               "<p:spPr><a:xfrm><a:off x=\"457200\" y=\"" +
               std::to_string(y) +
               "\"/><a:ext cx=\"8229600\" cy=\"1143000\"/></a:xfrm><a:prstGeom prst=\"rect\">"
               "<a:avLst/></a:prstGeom></p:spPr><p:txBody><a:bodyPr/><a:lstStyle/>" +
               paragraphs + "</p:txBody></p:sp>";
    };
    const auto para = [](const std::string& text, const std::string& font = "") {
        return "<a:p><a:r><a:rPr lang=\"vi-VN\">" +
               (font.empty() ? std::string() : "<a:latin typeface=\"" + font + "\"/>") +
               "</a:rPr><a:t>" + text + "</a:t></a:r></a:p>";
    };
    const std::string level = "<a:lvl1pPr><a:defRPr sz=\"2400\"><a:latin typeface=\"";
    const std::string master =
        kXml + "<p:sldMaster " + pns + ">" + shape_tree_start +
        shape(2, "<p:ph type=\"title\"/>", "<a:p><a:endParaRPr/></a:p>", 274638) +
        shape(3, "<p:ph type=\"body\" idx=\"1\"/>", "<a:p><a:endParaRPr/></a:p>", 1600200) +
        "</p:spTree></p:cSld><p:clrMap bg1=\"lt1\" tx1=\"dk1\" bg2=\"lt2\" tx2=\"dk2\" "
        "accent1=\"accent1\" accent2=\"accent2\" accent3=\"accent3\" accent4=\"accent4\" "
        "accent5=\"accent5\" accent6=\"accent6\" hlink=\"hlink\" folHlink=\"folHlink\"/>"
        "<p:sldLayoutIdLst><p:sldLayoutId id=\"2147483649\" r:id=\"rId1\"/></p:sldLayoutIdLst>"
        "<p:txStyles><p:titleStyle>" +
        level +
        ".VnTimeH\"/></a:defRPr></a:lvl1pPr>"
        "</p:titleStyle><p:bodyStyle>" +
        level +
        "+mn-lt\"/></a:defRPr></a:lvl1pPr>"
        "</p:bodyStyle><p:otherStyle>" +
        (box_by_default_style ? std::string("<a:lvl1pPr><a:defRPr sz=\"2400\"/></a:lvl1pPr>")
                              : level + "+mn-lt\"/></a:defRPr></a:lvl1pPr>") +
        "</p:otherStyle></p:txStyles></p:sldMaster>";
    const std::string layout =
        kXml + "<p:sldLayout " + pns + " type=\"obj\">" + shape_tree_start +
        shape(2, "<p:ph type=\"title\"/>", "<a:p><a:endParaRPr/></a:p>", 274638) +
        shape(3, "<p:ph idx=\"1\"/>", "<a:p><a:endParaRPr/></a:p>", 1600200) +
        "</p:spTree></p:cSld></p:sldLayout>";
    const std::string slide =
        kXml + "<p:sld " + pns + ">" + shape_tree_start +
        shape(2, "<p:ph type=\"title\"/>", para(kIndependenceCaps), 274638) +
        shape(3, "<p:ph idx=\"1\"/>", para(kFreedomVni, "VNI-Times"), 1600200) +
        shape(4, "", para(box_by_default_style ? kLowerIndependenceVni : kRepublicTcvn3), 3600000) +
        "</p:spTree></p:cSld></p:sld>";
    const std::string theme =
        kXml + "<a:theme " + a +
        " name=\"T\"><a:themeElements><a:clrScheme name=\"C\">"
        "<a:dk1><a:srgbClr val=\"000000\"/></a:dk1><a:lt1><a:srgbClr val=\"FFFFFF\"/></a:lt1>"
        "<a:dk2><a:srgbClr val=\"1F497D\"/></a:dk2><a:lt2><a:srgbClr val=\"EEECE1\"/></a:lt2>"
        "<a:accent1><a:srgbClr val=\"4F81BD\"/></a:accent1><a:accent2><a:srgbClr "
        "val=\"C0504D\"/></a:accent2><a:accent3><a:srgbClr val=\"9BBB59\"/></a:accent3>"
        "<a:accent4><a:srgbClr val=\"8064A2\"/></a:accent4><a:accent5><a:srgbClr "
        "val=\"4BACC6\"/></a:accent5><a:accent6><a:srgbClr val=\"F79646\"/></a:accent6>"
        "<a:hlink><a:srgbClr val=\"0000FF\"/></a:hlink><a:folHlink><a:srgbClr "
        "val=\"800080\"/></a:folHlink></a:clrScheme><a:fontScheme name=\"F\"><a:majorFont>"
        "<a:latin typeface=\"Cambria\"/><a:ea typeface=\"\"/><a:cs typeface=\"\"/>"
        "</a:majorFont><a:minorFont><a:latin typeface=\".VnTime\"/><a:ea typeface=\"\"/><a:cs "
        "typeface=\"\"/></a:minorFont></a:fontScheme><a:fmtScheme name=\"S\"><a:fillStyleLst>"
        "<a:solidFill><a:schemeClr val=\"phClr\"/></a:solidFill><a:solidFill><a:schemeClr "
        "val=\"phClr\"/></a:solidFill><a:solidFill><a:schemeClr val=\"phClr\"/></a:solidFill>"
        "</a:fillStyleLst><a:lnStyleLst><a:ln><a:noFill/></a:ln><a:ln><a:noFill/></a:ln><a:ln>"
        "<a:noFill/></a:ln></a:lnStyleLst><a:effectStyleLst><a:effectStyle><a:effectLst/>"
        "</a:effectStyle><a:effectStyle><a:effectLst/></a:effectStyle><a:effectStyle>"
        "<a:effectLst/></a:effectStyle></a:effectStyleLst><a:bgFillStyleLst><a:solidFill>"
        "<a:schemeClr val=\"phClr\"/></a:solidFill><a:solidFill><a:schemeClr val=\"phClr\"/>"
        "</a:solidFill><a:solidFill><a:schemeClr val=\"phClr\"/></a:solidFill>"
        "</a:bgFillStyleLst></a:fmtScheme></a:themeElements></a:theme>";
    const std::string presentation_part =
        kXml + "<p:presentation " + pns +
        "><p:sldMasterIdLst><p:sldMasterId "
        "id=\"2147483648\" r:id=\"rId1\"/></p:sldMasterIdLst><p:sldIdLst><p:sldId id=\"256\" "
        "r:id=\"rId2\"/></p:sldIdLst><p:sldSz cx=\"9144000\" cy=\"6858000\"/><p:notesSz "
        "cx=\"6858000\" cy=\"9144000\"/>" +
        (box_by_default_style ? "<p:defaultTextStyle>" + level +
                                    "VNI-Times\"/></a:defRPr></a:lvl1pPr>" + "</p:defaultTextStyle>"
                              : std::string()) +
        "</p:presentation>";
    return make_zip(
        {{"[Content_Types].xml", types},
         {"_rels/.rels",
          relationships_of(relationship("rId1", "officeDocument", "ppt/presentation.xml"))},
         {"ppt/presentation.xml", presentation_part},
         {"ppt/_rels/presentation.xml.rels",
          relationships_of(relationship("rId1", "slideMaster", "slideMasters/slideMaster1.xml") +
                           relationship("rId2", "slide", "slides/slide1.xml") +
                           relationship("rId3", "theme", "theme/theme1.xml"))},
         {"ppt/slides/slide1.xml", slide},
         {"ppt/slides/_rels/slide1.xml.rels",
          relationships_of(
              relationship("rId1", "slideLayout", "../slideLayouts/slideLayout1.xml"))},
         {"ppt/slideLayouts/slideLayout1.xml", layout},
         {"ppt/slideLayouts/_rels/slideLayout1.xml.rels",
          relationships_of(
              relationship("rId1", "slideMaster", "../slideMasters/slideMaster1.xml"))},
         {"ppt/slideMasters/slideMaster1.xml", master},
         {"ppt/slideMasters/_rels/slideMaster1.xml.rels",
          relationships_of(relationship("rId1", "slideLayout", "../slideLayouts/slideLayout1.xml") +
                           relationship("rId2", "theme", "../theme/theme1.xml"))},
         {"ppt/theme/theme1.xml", theme}});
}

TEST(TsconvDocuments, APresentationConvertsByItsMastersAndTheme) {
    ScratchDir dir;
    write_file(dir / "in.pptx", presentation());
    const ProgramRun r = run_tsconv({"-t", "utf-8", "in.pptx", "-o", "out.pptx"}, in(dir));
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string slide = entry_of(dir / "out.pptx", "ppt/slides/slide1.xml");
    for (const std::string& expected : {kIndependence, kFreedom, kRepublic})
        EXPECT_NE(slide.find(expected), std::string::npos) << expected << "\n" << slide;
    EXPECT_EQ(slide.find("VNI-Times"), std::string::npos);
    EXPECT_EQ(entry_of(dir / "out.pptx", "ppt/slideMasters/slideMaster1.xml").find(".Vn"),
              std::string::npos);
    EXPECT_EQ(entry_of(dir / "out.pptx", "ppt/theme/theme1.xml").find(".Vn"), std::string::npos);
    if (!have_libreoffice()) GTEST_SKIP() << "LibreOffice (soffice) is not installed";
    const std::string shown = libreoffice_text(dir / "out.pptx", "fodp");
    ASSERT_FALSE(shown.empty());
    for (const std::string& expected : {kIndependence, kFreedom, kRepublic})
        EXPECT_NE(shown.find(expected), std::string::npos) << expected;
}

// VNI text in a table whose style alone names its font, beside .VnTime text outside it.
TEST(TsconvDocuments, TextInATableTakesTheTableStylesFontAndLibreOfficeShowsIt) {
    ScratchDir dir;
    const std::string body =
        "<w:tbl><w:tblPr><w:tblStyle w:val=\"OldTable\"/></w:tblPr><w:tblGrid><w:gridCol "
        "w:w=\"4000\"/></w:tblGrid><w:tr><w:tc>" +
        paragraph(run("", kLowerIndependenceVni)) + "</w:tc></w:tr></w:tbl>" +
        paragraph(run("", kRepublicTcvn3));
    write_file(dir / "in.docx", word_document(body, paragraph(run("", kHeaderTcvn3)),
                                              paragraph(run(".VnTime", kNoteTcvn3))));
    const ProgramRun r = run_tsconv({"-t", "utf-8", "in.docx", "-o", "out.docx"}, in(dir));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const std::string document = entry_of(dir / "out.docx", "word/document.xml");
    for (const std::string& expected : {kLowerIndependence, kRepublic})
        EXPECT_NE(document.find(expected), std::string::npos) << expected << "\n" << document;
    const std::string styles = entry_of(dir / "out.docx", "word/styles.xml");
    EXPECT_EQ(styles.find("VNI-Times"), std::string::npos) << styles;
    if (!have_libreoffice()) GTEST_SKIP() << "LibreOffice (soffice) is not installed";
    const std::string shown = libreoffice_text(dir / "out.docx", "fodt");
    ASSERT_FALSE(shown.empty());
    for (const std::string& expected : {kLowerIndependence, kRepublic})
        EXPECT_NE(shown.find(expected), std::string::npos) << expected;
}

TEST(TsconvDocuments, AShapeWhoseMasterNamesNoFontTakesThePresentationsDefaultTextStyle) {
    ScratchDir dir;
    write_file(dir / "in.pptx", presentation(true));
    const ProgramRun r = run_tsconv({"-t", "utf-8", "in.pptx", "-o", "out.pptx"}, in(dir));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const std::string slide = entry_of(dir / "out.pptx", "ppt/slides/slide1.xml");
    for (const std::string& expected : {kIndependence, kFreedom, kLowerIndependence})
        EXPECT_NE(slide.find(expected), std::string::npos) << expected << "\n" << slide;
    const std::string presentation_part = entry_of(dir / "out.pptx", "ppt/presentation.xml");
    EXPECT_EQ(presentation_part.find("VNI-Times"), std::string::npos) << presentation_part;
    if (!have_libreoffice()) GTEST_SKIP() << "LibreOffice (soffice) is not installed";
    const std::string shown = libreoffice_text(dir / "out.pptx", "fodp");
    ASSERT_FALSE(shown.empty());
    for (const std::string& expected : {kIndependence, kFreedom, kLowerIndependence})
        EXPECT_NE(shown.find(expected), std::string::npos) << expected;
}

// A binary Word document: the full document saved as .doc by LibreOffice.
TEST(TsconvDocuments, ABinaryDocumentIsReadThroughLibreOfficeAndWrittenBesideIt) {
    ScratchDir dir;
    write_file(dir / "source.docx", full_document());
    // Without LibreOffice on the PATH: what to install.
    write_file(dir / "old.doc", std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) +
                                    std::string("W\0o\0r\0d\0D\0o\0c\0u\0m\0e\0n\0t\0", 24));
    const char* path = std::getenv("PATH");
    const std::string saved = path != nullptr ? path : "";
    ::setenv("PATH", "/nonexistent", 1);
    ProgramRun r = run_tsconv({"-t", "utf-8", "-i", "old.doc"}, in(dir));
    ::setenv("PATH", saved.c_str(), 1);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("apt-get install libreoffice-writer-nogui"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(dir / "old.docx"));

    if (!have_libreoffice()) GTEST_SKIP() << "LibreOffice (soffice) is not installed";
    const std::string command =
        "cd '" + dir.path().string() + "' && soffice -env:UserInstallation=file://" +
        (dir / "profile").string() + " --headless --convert-to doc source.docx >/dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0);
    fs::rename(dir / "source.doc", dir / "made.doc");
    const std::string original = read_file(dir / "made.doc");
    r = run_tsconv({"-t", "utf-8", "-i", "made.doc"}, in(dir));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("made.doc: written as made.docx beside it"), std::string::npos) << r.err;
    EXPECT_EQ(read_file(dir / "made.doc"), original);
    const std::string shown = libreoffice_text(dir / "made.docx", "fodt");
    for (const std::string& expected : {kRepublic, kIndependence, kFreedom, kReport, kHeader})
        EXPECT_NE(shown.find(expected), std::string::npos) << expected;
    // A second -i would replace that output: refused.
    r = run_tsconv({"-t", "utf-8", "-i", "made.doc"}, in(dir));
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("made.docx exists already"), std::string::npos) << r.err;
}

// A picture's binary data in RTF holds any bytes, braces and legacy-looking bytes among them:
// read as markup, they closed groups and had "text" converted inside the picture.
TEST(TsconvDocuments, RtfBinaryDataComesThroughByteForByte) {
    ScratchDir dir;
    const std::string picture = std::string("}\xE9{\\'e9\0}", 8);
    const std::string rtf =
        "{\\rtf1{\\fonttbl{\\f1 .VnTime;}}\\f1 {\\pict\\bin8 " + picture + "}C\\'e9ng}";
    write_file(dir / "in.rtf", rtf);
    const ProgramRun r = run_tsconv({"-t", "utf-8", "in.rtf", "-o", "out.rtf"}, in(dir));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(
        read_file(dir / "out.rtf"),
        "{\\rtf1{\\fonttbl{\\f1 Times New Roman;}}\\f1 {\\pict\\bin8 " + picture + "}C\\u7897?ng}");
}

TEST(TsconvDocuments, AnUndefinedByteUnderEachPolicy) {
    // 0x81 is no byte of TCVN3: Word keeps it as U+0081.
    const std::string doc = word_document(
        paragraph(run("", "a")) + paragraph(run("", "x\xC2\x81y " + kReportTcvn3)), "", "<w:p/>");
    ScratchDir dir;
    write_file(dir / "in.docx", doc);
    write_file(dir / "keep.docx", doc);

    ProgramRun r = run_tsconv({"-t", "utf-8", "-i", "keep.docx"}, in(dir));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("keep.docx: word/document.xml, paragraph 2: undefined byte 0x81"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("keep.docx left as it was"), std::string::npos) << r.err;
    EXPECT_EQ(read_file(dir / "keep.docx"), doc);  // byte for byte
    EXPECT_EQ(names_in(dir.path()), (std::vector<std::string>{"in.docx", "keep.docx"}));

    r = run_tsconv({"-t", "utf-8", "--check", "in.docx"}, in(dir));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("would not convert exactly"), std::string::npos) << r.err;

    for (const char* policy : {"--replace", "--translit"}) {
        SCOPED_TRACE(policy);
        r = run_tsconv({"-t", "utf-8", policy, "in.docx", "-o", "out.docx"}, in(dir));
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.err.find("1 character not converted exactly"), std::string::npos) << r.err;
        EXPECT_NE(entry_of(dir / "out.docx", "word/document.xml").find("x\xEF\xBF\xBDy " + kReport),
                  std::string::npos);
    }
}

TEST(TsconvDocuments, TextWhoseFontWasChangedByHandIsLeftAndReported) {
    // A sentence typed in VNI and later given .VnTime: its bytes read clearly as VNI.
    const std::string vni =
        "Co\xC3\xA4ng ho\xC3\xB8"
        "a xa\xC3\xB5 ho\xC3\xA4i chu\xC3\xBB ngh\xC3\xAE"
        "a "
        "Vie\xC3\xA4t Nam, \xC3\xB1o\xC3\xA4"
        "c la\xC3\xA4p, tu\xC3\xB8 do";
    const std::string doc = word_document(
        paragraph(run("", kReportTcvn3)) + paragraph(run(".VnTime", vni)), "", "<w:p/>");
    ScratchDir dir;
    write_file(dir / "in.docx", doc);
    ProgramRun r = run_tsconv({"-t", "utf-8", "in.docx", "-o", "out.docx"}, in(dir));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("paragraph 2: the text in .VnTime reads as vni-win, not as tcvn3"),
              std::string::npos)
        << r.err;
    EXPECT_FALSE(fs::exists(dir / "out.docx"));
    r = run_tsconv({"-t", "utf-8", "--replace", "in.docx", "-o", "out.docx"}, in(dir));
    EXPECT_EQ(r.status, 1);
    const std::string body = entry_of(dir / "out.docx", "word/document.xml");
    EXPECT_NE(body.find(kReport), std::string::npos);
    EXPECT_NE(body.find(vni), std::string::npos);  // left as it is, in its font
    EXPECT_NE(body.find(".VnTime"), std::string::npos);
}

TEST(TsconvDocuments, DocumentsAndTextAreToldApart) {
    ScratchDir dir;
    write_file(dir / "in.docx", full_document());
    write_file(dir / "text.txt",
               "C\xE9ng h\xDF"
               "a\n");
    write_file(dir / "unused.pptx",
               make_zip({{"[Content_Types].xml",
                          "<Types><Override PartName=\"/ppt/presentation.xml\" ContentType=\"" +
                              kType + "presentationml.presentation.main+xml\"/></Types>"}}));
    write_file(dir / "drawing.odg",
               make_zip({{"mimetype", "application/vnd.oasis.opendocument.graphics"}}));
    const struct {
        std::vector<std::string> arguments;
        int status;
        std::string message;
    } cases[] = {
        {{"-f", "tcvn3", "-t", "utf-8", "in.docx", "-o", "x"},
         2,
         "in.docx is a Word document: each piece of its text is read in the encoding its font "
         "names, and -f is not used for documents"},
        {{"-f", "tcvn3", "-t", "utf-8", "-d", "d", "in.docx"}, 2, "-f is not used for documents"},
        {{"-t", "utf-8", "text.txt", "-o", "x"},
         2,
         "text.txt is no Word, Excel, PowerPoint, OpenDocument or RTF document (and text needs -f "
         "FROM)"},
        {{"-f", "vni-win", "-t", "utf-8", "unused.pptx", "-o", "x"},
         2,
         "unused.pptx is a PowerPoint presentation: each piece of its text"},
        {{"-t", "utf-8", "drawing.odg", "-o", "x"},
         2,
         "drawing.odg is no Word, Excel, PowerPoint, OpenDocument or RTF document"},
        {{"-t", "utf-8", "in.docx", "text.txt", "-o", "x"}, 2, "one output takes one document"},
    };
    fs::create_directory(dir / "d");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        const ProgramRun r = run_tsconv(c.arguments, in(dir));
        EXPECT_EQ(r.status, c.status);
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_FALSE(fs::exists(dir / "x"));
    }
    EXPECT_TRUE(fs::is_empty(dir / "d"));

    // -d and -i write documents of the same kind; --detect names the fonts.
    ProgramRun r = run_tsconv({"-t", "utf-8", "-d", "d", "in.docx"}, in(dir));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(entry_of(dir / "d" / "in.docx", "word/document.xml").find(kRepublic),
              std::string::npos);
    r = run_tsconv({"--detect", "in.docx"}, in(dir));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.substr(0, 25), "in.docx: Word document; f");
    EXPECT_NE(r.out.find(".VnTime tcvn3 "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(".VnTimeH tcvn3-caps 7 characters"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("VNI-Times vni-win"), std::string::npos) << r.out;
    r = run_tsconv({"-t", "utf-8", "-i", "in.docx"}, in(dir));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(entry_of(dir / "in.docx", "word/header1.xml").find(kHeader), std::string::npos);
}

TEST(TsconvDocuments, FoldersOfDocumentsConvertUnderRecursion) {
    ScratchDir dir;
    fs::create_directories(dir / "in" / "2001");
    fs::create_directories(dir / "out");
    write_file(dir / "in" / "2001" / "a.docx", full_document());
    write_file(dir / "in" / "b.rtf", "{\\rtf1{\\fonttbl{\\f1 .VnTime;}}\\f1 C\\'e9ng}");
    write_file(dir / "in" / "notes.txt", "text");
    const ProgramRun r = run_tsconv(
        {"-t", "utf-8", "-r", "--exclude", "*.txt", "-j", "2", "-d", "out", "in"}, in(dir));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(entry_of(dir / "out" / "2001" / "a.docx", "word/document.xml").find(kRepublic),
              std::string::npos);
    EXPECT_EQ(read_file(dir / "out" / "b.rtf"),
              "{\\rtf1{\\fonttbl{\\f1 Times New Roman;}}\\f1 C\\u7897?ng}");
    EXPECT_FALSE(fs::exists(dir / "out" / "notes.txt"));
}

TEST(TsconvDocuments, ADocumentIsNotWrittenToATerminal) {
    ScratchDir dir;
    write_file(dir / "in.docx", full_document());
    int master = -1, slave = -1;
    ASSERT_EQ(::openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    const int err = ::open((dir / "err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const pid_t pid = spawn_tsconv({"-t", "utf-8", "in.docx"}, in(dir), -1, slave, err);
    ::close(slave);
    ::close(err);
    ProgramRun r;
    wait_for(pid, 30, r);
    ::close(master);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(read_file(dir / "err").find("which is not written to a terminal; give -o FILE"),
              std::string::npos);
}

TEST(TsconvDocuments, AFontMapNamesEncodingsAndUnicodeFonts) {
    ScratchDir dir;
    // "Legacy Serif" is no known font: the map says it holds TCVN3 and takes Cambria's place.
    const std::string doc =
        word_document(paragraph(run("Legacy Serif", kReportTcvn3)), "", "<w:p/>");
    write_file(dir / "in.docx", doc);
    write_file(dir / "fonts.map", "# mine\n\"Legacy *\" tcvn3 Cambria\n");
    ProgramRun r = run_tsconv(
        {"-t", "utf-8", "--font-map", "fonts.map", "in.docx", "-o", "out.docx"}, in(dir));
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string body = entry_of(dir / "out.docx", "word/document.xml");
    EXPECT_NE(body.find(kReport), std::string::npos);
    EXPECT_NE(body.find("w:ascii=\"Cambria\""), std::string::npos);
    write_file(dir / "bad.map", "ok tcvn3\nLegacy nonsense\n");
    r = run_tsconv({"-t", "utf-8", "--font-map", "bad.map", "in.docx", "-o", "out2.docx"}, in(dir));
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("the font map bad.map, line 2: \"nonsense\" is no legacy font encoding"),
              std::string::npos)
        << r.err;
    EXPECT_FALSE(fs::exists(dir / "out2.docx"));
}

}  // namespace
}  // namespace toneshift::testing
