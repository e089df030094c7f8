#include <gtest/gtest.h>
#include <zip.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "documents/document.h"
#include "documents/fonts.h"
#include "documents/package.h"
#include "documents/test_package.h"
#include "documents/text.h"
#include "documents/xml.h"

namespace toneshift::documents {
namespace {

// The bytes of an entry as stored (compressed), not inflated.
std::string stored_entry(const std::string& zip_data, const std::string& name) {
    zip_error_t e;
    zip_error_init(&e);
    zip_source_t* src = zip_source_buffer_create(zip_data.data(), zip_data.size(), 0, &e);
    zip_t* z = zip_open_from_source(src, ZIP_RDONLY, &e);
    zip_file_t* f = zip_fopen(z, name.c_str(), ZIP_FL_COMPRESSED);
    std::string out;
    char buf[4096];
    for (zip_int64_t n; f != nullptr && (n = zip_fread(f, buf, sizeof buf)) > 0;)
        out.append(buf, std::size_t(n));
    if (f != nullptr) zip_fclose(f);
    zip_discard(z);
    zip_error_fini(&e);
    return out;
}

// The opening words of the national motto in VNI for Windows, stored one character a byte.
const std::string kRepublicVni =
    "Co\xC3\xA4ng ho\xC3\xB8"
    "a xa\xC3\xB5 ho\xC3\xA4i chu\xC3\xBB "
    "ngh\xC3\xAE"
    "a Vie\xC3\xA4t Nam, \xC3\xB1o\xC3\xA4"
    "c la\xC3\xA4p";

std::string entry(std::string_view zip_data, const std::string& name) {
    Package p;
    std::string error, out;
    EXPECT_TRUE(p.open(zip_data, error)) << error;
    EXPECT_TRUE(p.read(name, out, error)) << error;
    return out;
}

TEST(FontTable, BuiltInNamesAndTheMostSpecificPatternWins) {
    const FontTable table;
    const struct {
        const char* font;
        int format;
        const char* replacement;
    } cases[] = {
        {".VnTime", kTcvn3, "Times New Roman"},
        {".vntime", kTcvn3, "Times New Roman"},  // case is ignored
        {".VnTimeH", kTcvn3Caps, "Times New Roman"},
        {".VnArialH", kTcvn3Caps, "Arial"},
        {".VnCourier New", kTcvn3, "Courier New"},
        {"VNI-Times", kVniWin, "Times New Roman"},
        {"VNI-Helve", kVniWin, "Arial"},
        {"VPS Times", 1, "Times New Roman"},
        {"Times New Roman", -1, ""},
        {"Wingdings", -1, ""},
        {"Symbol", -1, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.font);
        const FontInfo info = table.lookup(c.font);
        EXPECT_EQ(info.format, c.format);
        EXPECT_EQ(info.replacement, c.replacement);
    }
}

TEST(FontTable, UserEntriesWinAndTheirMistakesAreNamedByLine) {
    FontTable table;
    std::string error;
    ASSERT_TRUE(
        table.add_map("# my fonts\n"
                      "\".VnTime\" vni-win \"Cambria\"   # wrongly named\n"
                      "MyCaps* tcvn3-vncaps\n"
                      ".VnArial* unicode\n",
                      error))
        << error;
    EXPECT_EQ(table.lookup(".VnTime").format, kVniWin);
    EXPECT_EQ(table.lookup(".VnTime").replacement, "Cambria");
    EXPECT_EQ(table.lookup("mycapsfont").format, kTcvn3VnCaps);
    // A user's pattern beats a more specific built-in one.
    EXPECT_EQ(table.lookup(".VnArialH").format, -1);
    EXPECT_EQ(table.lookup(".VnTimeH").format, kTcvn3Caps);

    for (const char* bad :
         {"x\n.VnTime\n", "a utf-8\n", "a tcvn3 b c\n", "\"a tcvn3\n", "a nonsense\n"}) {
        SCOPED_TRACE(bad);
        FontTable t;
        EXPECT_FALSE(t.add_map(bad, error));
        EXPECT_EQ(error.substr(0, 5), "line ");
    }
    FontTable t;
    EXPECT_FALSE(t.add_map("ok tcvn3\n\nbroken\n", error));
    EXPECT_EQ(error.substr(0, 7), "line 3:");
    EXPECT_EQ(t.lookup("ok").format, -1);  // nothing of a map that fails is taken
}

TEST(FontTable, PatternsMatchAnyRunForAStar) {
    EXPECT_TRUE(font_matches("*", ""));
    EXPECT_TRUE(font_matches(".Vn*H", ".VnTimeH"));
    EXPECT_FALSE(font_matches(".Vn*H", ".VnTime"));
    EXPECT_TRUE(font_matches("a*b*c", "aXXbYbZc"));
    EXPECT_FALSE(font_matches("a*b*c", "aXXbYbZ"));
    EXPECT_EQ(specificity(".Vn*H"), 4u);
}

// Each length of UTF-8 at its bounds, and what UTF-8 cannot hold (a malformed RTF \\uN) as
// U+FFFD; each reads back through next_code_point().
TEST(Utf8, CodePointsAtEachLengthsBoundsAndPastTheLastOne) {
    const struct {
        char32_t c;
        std::string bytes;
    } cases[] = {
        {0x00, std::string(1, '\0')},
        {0x7F, "\x7F"},
        {0x80, "\xC2\x80"},
        {0x7FF, "\xDF\xBF"},
        {0x800, "\xE0\xA0\x80"},
        {0xFFFF, "\xEF\xBF\xBF"},
        {0x10000, "\xF0\x90\x80\x80"},
        {0x10FFFF, "\xF4\x8F\xBF\xBF"},
        {0x110000, "\xEF\xBF\xBD"},
        {0x1E8480, "\xEF\xBF\xBD"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(std::uint32_t(c.c)));
        std::string out = "x";
        append_utf8(out, c.c);
        EXPECT_EQ(out, "x" + c.bytes);
        std::size_t i = 1;
        EXPECT_EQ(next_code_point(out, i), c.c > 0x10FFFF ? 0xFFFD : c.c);
        EXPECT_EQ(i, out.size());
    }
}

// Office programs keep a legacy font's bytes as characters; each way reads back.
TEST(TextConverter, StoredCharactersReadBackToTheFontsBytes) {
    TextConverter text(TextOptions{});
    // "Cộng hòa" in .VnTime: C 0xE9 n g, h 0xDF a; the 0x93 0x94 quotes as Windows keeps them
    // and 0xE9 as a symbol font's private use character.
    std::vector<std::string> pieces{
        "\xE2\x80\x9C"
        "C\xC3\xA9ng h\xC3\x9F"
        "a\xE2\x80\x9D C\xEF\x83\xA9ng"};
    ASSERT_EQ(text.convert(kTcvn3, ".VnTime", pieces, {}), TextConverter::Outcome::kConverted);
    EXPECT_EQ(pieces[0],
              "\xE2\x80\x9C"
              "C\xE1\xBB\x99ng h\xC3\xB2"
              "a\xE2\x80\x9D C\xE1\xBB\x99ng");
}

TEST(TextConverter, ALetterSplitBetweenTwoPiecesIsReadWhole) {
    TextConverter text(TextOptions{});
    // VNI for Windows: "o" then the mark byte 0xE4 (dot below and circumflex: "ộ").
    std::vector<std::string> pieces{"Co", "\xC3\xA4ng"};
    ASSERT_EQ(text.convert(kVniWin, "VNI-Times", pieces, {}), TextConverter::Outcome::kConverted);
    EXPECT_EQ(pieces[0] + pieces[1], "C\xE1\xBB\x99ng");
}

TEST(TextConverter, CapitalsFontsGiveRealCapitalsAndOtherCharactersStay) {
    TextConverter text(TextOptions{});
    std::vector<std::string> pieces{"c\xC3\xA9ng \xE1\xBB\x87"};  // ệ is no byte: kept
    ASSERT_EQ(text.convert(kTcvn3Caps, ".VnTimeH", pieces, {}), TextConverter::Outcome::kConverted);
    EXPECT_EQ(pieces[0], "C\xE1\xBB\x98NG \xE1\xBB\x87");
}

TEST(TextConverter, UndefinedBytesUnderEachPolicy) {
    const TextPlace where{"word/document.xml", "paragraph 2"};
    {
        TextConverter text(TextOptions{});
        std::vector<std::string> pieces{
            "a\xC2\x81"
            "b"};  // 0x81: undefined in TCVN3
        EXPECT_EQ(text.convert(kTcvn3, ".VnTime", pieces, where), TextConverter::Outcome::kRefused);
        ASSERT_EQ(text.problems().size(), 1u);
        EXPECT_EQ(text.problems()[0].where.place, "paragraph 2");
        EXPECT_EQ(text.problems()[0].problem.bytes[0], 0x81);
    }
    TextOptions replace;
    replace.policy = LossPolicy::kReplace;
    TextConverter text(replace);
    std::vector<std::string> pieces{
        "a\xC2\x81"
        "b\xC2\x81"};
    EXPECT_EQ(text.convert(kTcvn3, ".VnTime", pieces, where), TextConverter::Outcome::kConverted);
    EXPECT_EQ(pieces[0],
              "a\xEF\xBF\xBD"
              "b\xEF\xBF\xBD");
    EXPECT_EQ(text.problem_count(), 2u);
}

// Text escapes what ends or starts markup; an attribute value also both quotes, whichever
// it was written in, and leaves > as it is.
TEST(Xml, TextAndAttributeValuesEscapeTheirOwnCharacters) {
    const std::string all = "a&b<c>d\"e'f";
    EXPECT_EQ(escape_text(all), "a&amp;b&lt;c&gt;d\"e'f");
    EXPECT_EQ(escape_attribute(all), "a&amp;b&lt;c>d&quot;e&apos;f");
    EXPECT_EQ(escape_text(""), "");
    EXPECT_EQ(escape_attribute("Times New Roman"), "Times New Roman");
}

// A parser reads a carriage return as a line feed, and a tab or line feed in an attribute
// value as a space: written as they are, they came back as other characters.
TEST(Xml, WhiteSpaceAParserWouldChangeIsWrittenAsReferences) {
    EXPECT_EQ(escape_text("a\tb\nc\rd"), "a\tb\nc&#13;d");
    EXPECT_EQ(escape_attribute("a\tb\nc\rd"), "a&#9;b&#10;c&#13;d");
}

TEST(Xml, EditsChangeOnlyTheirRanges) {
    const std::string part = "<a x='1'>one &amp; two<b/></a>";
    std::size_t from = 0, to = 0;
    ASSERT_TRUE(find_attribute("<a  p:x = '1' y=\"2\">", "y", from, to));
    EXPECT_EQ(std::string_view("<a  p:x = '1' y=\"2\">").substr(from, to - from), "2");
    EXPECT_FALSE(find_attribute("<a xmlns:y='u'>", "y", from, to));
    std::vector<Edit> edits{{22, 22, "!"}, {9, 22, escape_text("1 < 2 & 3")}};
    EXPECT_EQ(apply_edits(part, edits), "<a x='1'>1 &lt; 2 &amp; 3!<b/></a>");
}

// A minimal Word document: the given body paragraphs, styles, theme and numbering (the
// content of w:numbering).
std::string word_document(const std::string& body, const std::string& styles,
                          const std::string& theme = "", const std::string& numbering = "") {
    const std::string w =
        "xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\"";
    std::string types =
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
        "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
        "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
        "<Override PartName=\"/word/document.xml\" ContentType=\"application/"
        "vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml\"/>"
        "<Override PartName=\"/word/styles.xml\" ContentType=\"application/"
        "vnd.openxmlformats-officedocument.wordprocessingml.styles+xml\"/>";
    if (!theme.empty())
        types +=
            "<Override PartName=\"/word/theme/theme1.xml\" ContentType=\"application/"
            "vnd.openxmlformats-officedocument.theme+xml\"/>";
    if (!numbering.empty())
        types +=
            "<Override PartName=\"/word/numbering.xml\" ContentType=\"application/"
            "vnd.openxmlformats-officedocument.wordprocessingml.numbering+xml\"/>";
    types += "</Types>";
    std::vector<std::pair<std::string, std::string>> entries{
        {"[Content_Types].xml", types},
        {"word/document.xml", "<?xml version=\"1.0\"?>\n<w:document " + w + "><w:body>" + body +
                                  "</w:body></w:document>"},
        {"word/styles.xml", "<w:styles " + w + ">" + styles + "</w:styles>"},
        {"docProps/app.xml", "<Properties>unchanged</Properties>"}};
    if (!theme.empty()) entries.push_back({"word/theme/theme1.xml", theme});
    if (!numbering.empty())
        entries.push_back(
            {"word/numbering.xml", "<w:numbering " + w + ">" + numbering + "</w:numbering>"});
    return make_zip(entries);
}

// Word puts the package's relationships before its document: the rewritten part is not the
// first entry, and libzip split the buffer the package was read from and freed a piece of it
// (a double free that aborted every such conversion).
TEST(Word, ARewrittenPartAfterUnchangedEntriesConverts) {
    const std::string w =
        "xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\"";
    const std::string document =
        "<?xml version=\"1.0\"?><w:document " + w +
        "><w:body><w:p><w:r><w:rPr><w:rFonts w:ascii=\".VnTime\" w:hAnsi=\".VnTime\"/>"
        "</w:rPr><w:t>C\xC3\xA9ng</w:t></w:r></w:p></w:body></w:document>";
    const std::string docx = make_zip(
        {{"[Content_Types].xml",
          "<?xml version=\"1.0\"?><Types xmlns=\"http://schemas.openxmlformats.org/package/"
          "2006/content-types\"><Default Extension=\"xml\" ContentType=\"application/xml\"/>"
          "<Override PartName=\"/word/document.xml\" ContentType=\"application/"
          "vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml\"/></Types>"},
         {"_rels/.rels",
          "<?xml version=\"1.0\"?><Relationships xmlns=\"http://schemas.openxmlformats.org/"
          "package/2006/relationships\"><Relationship Id=\"rId1\" Type=\"http://"
          "schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument\" "
          "Target=\"word/document.xml\"/></Relationships>"},
         {"word/document.xml", document}});
    const DocumentResult r = convert_document(docx, DocumentOptions{});
    ASSERT_EQ(r.status, DocumentResult::Status::kConverted) << r.error;
    EXPECT_NE(entry(r.output, "word/document.xml").find("<w:t>C\xE1\xBB\x99ng</w:t>"),
              std::string::npos);
    EXPECT_EQ(entry(r.output, "_rels/.rels"), entry(docx, "_rels/.rels"));
}

TEST(Word, RunsConvertByTheirFontsFromRunStyleDefaultsAndTheme) {
    const std::string styles =
        "<w:docDefaults><w:rPrDefault><w:rPr><w:rFonts w:asciiTheme=\"minorHAnsi\" "
        "w:hAnsiTheme=\"minorHAnsi\"/></w:rPr></w:rPrDefault></w:docDefaults>"
        "<w:style w:type=\"paragraph\" w:default=\"1\" w:styleId=\"Normal\"/>"
        "<w:style w:type=\"paragraph\" w:styleId=\"Caps\"><w:basedOn w:val=\"Normal\"/>"
        "<w:rPr><w:rFonts w:ascii=\".VnTimeH\" w:hAnsi=\".VnTimeH\"/></w:rPr></w:style>";
    const std::string theme =
        "<a:theme xmlns:a=\"x\"><a:themeElements><a:fontScheme><a:majorFont><a:latin "
        "typeface=\"Cambria\"/></a:majorFont><a:minorFont><a:latin typeface=\".VnTime\"/>"
        "</a:minorFont></a:fontScheme></a:themeElements></a:theme>";
    const std::string body =
        // The theme's minor font (.VnTime) by the document defaults.
        "<w:p><w:r><w:t>C\xC3\xA9ng h\xC3\x9F"
        "a</w:t></w:r></w:p>"
        // The paragraph style, based on Normal: a capitals font.
        "<w:p><w:pPr><w:pStyle w:val=\"Caps\"/></w:pPr><w:r><w:t>c\xC3\xA9ng</w:t></w:r></w:p>"
        // The run's own font, VNI, split in two runs; and a Unicode font left alone.
        "<w:p><w:r><w:rPr><w:rFonts w:ascii=\"VNI-Times\" w:hAnsi=\"VNI-Times\"/></w:rPr>"
        "<w:t>Co</w:t></w:r><w:r><w:rPr><w:rFonts w:ascii=\"VNI-Times\" w:hAnsi=\"VNI-Times\"/>"
        "</w:rPr><w:t xml:space=\"preserve\">\xC3\xA4ng </w:t></w:r>"
        "<w:r><w:rPr><w:rFonts w:ascii=\"Arial\" "
        "w:hAnsi=\"Arial\"/></w:rPr><w:t>\xC3\xA9</w:t></w:r></w:p>";
    const std::string doc = word_document(body, styles, theme);
    ASSERT_EQ(document_kind(doc), DocumentKind::kWord);
    const DocumentResult r = convert_document(doc, DocumentOptions{});
    ASSERT_EQ(r.status, DocumentResult::Status::kConverted) << r.error;
    const std::string out = entry(r.output, "word/document.xml");
    EXPECT_NE(out.find("<w:t>C\xE1\xBB\x99ng h\xC3\xB2"
                       "a</w:t>"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("<w:t>C\xE1\xBB\x98NG</w:t>"), std::string::npos) << out;
    EXPECT_NE(out.find("<w:t>C</w:t>"), std::string::npos) << out;
    EXPECT_NE(out.find("<w:t xml:space=\"preserve\">\xE1\xBB\x99ng </w:t>"), std::string::npos)
        << out;
    EXPECT_NE(out.find("w:ascii=\"Times New Roman\" w:hAnsi=\"Times New Roman\""),
              std::string::npos);
    EXPECT_NE(out.find("<w:t>\xC3\xA9</w:t>"), std::string::npos);  // Arial: left alone
    EXPECT_EQ(out.find("VNI-Times"), std::string::npos);
    EXPECT_NE(entry(r.output, "word/styles.xml").find("w:ascii=\"Times New Roman\""),
              std::string::npos);
    EXPECT_NE(entry(r.output, "word/theme/theme1.xml").find("typeface=\"Times New Roman\""),
              std::string::npos);
    EXPECT_EQ(entry(r.output, "docProps/app.xml"), "<Properties>unchanged</Properties>");
    const std::string stored = stored_entry(doc, "docProps/app.xml");
    EXPECT_FALSE(stored.empty());
    EXPECT_EQ(stored_entry(r.output, "docProps/app.xml"), stored);
}

TEST(Word, TextWhoseBytesReadClearlyAsAnotherEncodingIsLeftWithItsFont) {
    // VNI for Windows text in a .VnTime run.
    const std::string& vni = kRepublicVni;
    const std::string body =
        "<w:p><w:r><w:rPr><w:rFonts w:ascii=\".VnTime\" w:hAnsi=\".VnTime\"/></w:rPr><w:t>" + vni +
        "</w:t></w:r></w:p>";
    const DocumentResult r = convert_document(word_document(body, ""), DocumentOptions{});
    ASSERT_EQ(r.status, DocumentResult::Status::kConverted) << r.error;
    ASSERT_EQ(r.left.size(), 1u);
    EXPECT_EQ(r.left[0].reads_as, kVniWin);
    const std::string out = entry(r.output, "word/document.xml");
    EXPECT_NE(out.find(vni), std::string::npos);
    EXPECT_NE(out.find(".VnTime"), std::string::npos);
}

TEST(Word, AsciiAndHAnsiFontsEachDrawTheirOwnCharacters) {
    // Only hAnsi is a capitals font: ASCII letters stay as typed, the rest become capitals.
    const std::string body =
        "<w:p><w:r><w:rPr><w:rFonts w:ascii=\"Times New Roman\" w:hAnsi=\".VnTimeH\"/></w:rPr>"
        "<w:t>c\xC3\xA9ng</w:t></w:r></w:p>";
    const DocumentResult r = convert_document(word_document(body, ""), DocumentOptions{});
    ASSERT_EQ(r.status, DocumentResult::Status::kConverted) << r.error;
    EXPECT_NE(entry(r.output, "word/document.xml").find("<w:t>c\xE1\xBB\x98ng</w:t>"),
              std::string::npos);
}

TEST(Word, UntouchedPartsAreCopiedAsStoredAndAnUnchangedDocumentIsItsOwnBytes) {
    const std::string doc = word_document("<w:p><w:r><w:t>plain</w:t></w:r></w:p>", "");
    const DocumentResult r = convert_document(doc, DocumentOptions{});
    ASSERT_EQ(r.status, DocumentResult::Status::kConverted);
    EXPECT_EQ(r.output, doc);
}

TEST(Word, AnUndefinedByteRefusesTheDocumentWithItsPlace) {
    const std::string body =
        "<w:p/><w:p><w:r><w:rPr><w:rFonts w:ascii=\".VnTime\" w:hAnsi=\".VnTime\"/></w:rPr>"
        "<w:t>a\xC2\x81</w:t></w:r></w:p>";
    const DocumentResult r = convert_document(word_document(body, ""), DocumentOptions{});
    EXPECT_EQ(r.status, DocumentResult::Status::kRefused);
    ASSERT_FALSE(r.problems.empty());
    EXPECT_EQ(r.problems[0].where.part, "word/document.xml");
    EXPECT_EQ(r.problems[0].where.place, "paragraph 2");
    EXPECT_TRUE(r.output.empty());
}

TEST(Documents, KindsAreKnownByContent) {
    EXPECT_EQ(document_kind("{\\rtf1\\ansi x}"), DocumentKind::kRtf);
    EXPECT_EQ(document_kind("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1...."), DocumentKind::kOldBinary);
    EXPECT_EQ(document_kind("plain text"), DocumentKind::kNone);
    EXPECT_EQ(document_kind(make_zip({{"a.txt", "x"}})), DocumentKind::kOtherPackage);
    EXPECT_EQ(document_kind(make_zip({{"mimetype", "application/vnd.oasis.opendocument.text"}})),
              DocumentKind::kOdfText);
    EXPECT_EQ(document_kind("PK\x03\x04 broken"), DocumentKind::kOtherPackage);
}

std::string convert_rtf_text(const std::string& rtf, LossPolicy policy = LossPolicy::kRefuse) {
    DocumentOptions options;
    options.text.policy = policy;
    const DocumentResult r = convert_document(rtf, options);
    EXPECT_EQ(r.status, DocumentResult::Status::kConverted) << r.error;
    return r.output;
}

TEST(Rtf, EscapesUnicodeAndLiteralBytesOfLegacyFontsConvertAndNothingElseChanges) {
    const struct {
        const char* name;
        std::string rtf;
        std::string expected;
    } cases[] = {
        {"\\'hh, a literal byte and \\uN with its fallback; the font name replaced",
         "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0 Arial;}{\\f1\\fnil .VnTime{\\*\\falt V};}}"
         "\\f1 C\\'e9ng h\xDF"
         "a x\\u183\\'b7\\par\\f0 \\'e9}",
         "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0 Arial;}{\\f1\\fnil Times New Roman{\\*\\falt V};}}"
         "\\f1 C\\u7897?ng h\\u242?a x\\u227?\\par\\f0 \\'e9}"},
        {"\\uc2 gives two fallback characters; a group inherits the font",
         "{\\rtf1{\\fonttbl{\\f3 .VnTime;}}\\uc2\\f3{\\b \\u233\\'3f\\'3f}\\par}",
         "{\\rtf1{\\fonttbl{\\f3 Times New Roman;}}\\uc2\\f3{\\b \\u7897??}\\par}"},
        {"fonts without groups of their own, the default font, escaped braces",
         "{\\rtf1\\deff1{\\fonttbl\\f0\\fswiss Helvetica;\\f1 VNI-Times;}Co\\'e4ng \\{x\\}}",
         "{\\rtf1\\deff1{\\fonttbl\\f0\\fswiss Helvetica;\\f1 Times New Roman;}C\\u7897?ng "
         "\\{x\\}}"},
        {"a digit after a control word with no space keeps the word's number",
         "{\\rtf1{\\fonttbl{\\f1 .VnTime;}}\\f1\\'31}",
         "{\\rtf1{\\fonttbl{\\f1 Times New Roman;}}\\f1 1}"},
        {"binary data is passed over whole, braces and all",
         "{\\rtf1{\\fonttbl{\\f1 .VnTime;}}\\f1{\\pict\\bin3 }{}}\\'e9}",
         "{\\rtf1{\\fonttbl{\\f1 Times New Roman;}}\\f1{\\pict\\bin3 }{}}\\u7897?}"},
        {"a \\uN past U+10FFFF is one replacement character",
         "{\\rtf1{\\fonttbl{\\f1 .VnTime;}}\\f1 \\u2000000?x}",
         "{\\rtf1{\\fonttbl{\\f1 Times New Roman;}}\\f1 \\u-3?x}"},
        {"skipped destinations and Unicode fonts stay",
         "{\\rtf1{\\fonttbl{\\f1 .VnTime;}}{\\*\\generator \\'e9;}{\\info{\\title \\'e9}}x}",
         "{\\rtf1{\\fonttbl{\\f1 Times New Roman;}}{\\*\\generator \\'e9;}{\\info{\\title "
         "\\'e9}}x}"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(convert_rtf_text(c.rtf), c.expected);
    }
}

TEST(Rtf, AnUndefinedByteIsNamedByParagraphAndDeepGroupsAreRefused) {
    const DocumentResult r = convert_document(
        "{\\rtf1{\\fonttbl{\\f1 .VnTime;}}\\f1 a\\par b\\'81\\par}", DocumentOptions{});
    EXPECT_EQ(r.status, DocumentResult::Status::kRefused);
    ASSERT_FALSE(r.problems.empty());
    EXPECT_EQ(r.problems[0].where.place, "paragraph 2");
    const DocumentResult deep =
        convert_document("{\\rtf1" + std::string(5000, '{') + "}", DocumentOptions{});
    EXPECT_EQ(deep.status, DocumentResult::Status::kBroken);
}

TEST(Word, CommentsEndnotesAndTextBoxesAreStoriesToo) {
    const std::string w =
        "xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\"";
    const std::string type = "application/vnd.openxmlformats-officedocument.wordprocessingml.";
    const std::string run =
        "<w:r><w:rPr><w:rFonts w:ascii=\".VnTime\" w:hAnsi=\".VnTime\"/></w:rPr>"
        "<w:t>B\xC2\xB8o</w:t></w:r>";
    const std::string doc = make_zip(
        {{"[Content_Types].xml",
          "<Types><Override PartName=\"/word/document.xml\" ContentType=\"" + type +
              "document.main+xml\"/><Override PartName=\"/word/comments.xml\" ContentType=\"" +
              type + "comments+xml\"/><Override PartName=\"/word/endnotes.xml\" ContentType=\"" +
              type + "endnotes+xml\"/><Override PartName=\"/word/settings.xml\" ContentType=\"" +
              type + "settings+xml\"/></Types>"},
         // A text box inside a run of a paragraph: its paragraph is one of its own.
         {"word/document.xml",
          "<w:document " + w + "><w:body><w:p>" + run + "<w:r><w:pict><w:txbxContent><w:p>" + run +
              "</w:p></w:txbxContent></w:pict></w:r>" + run + "</w:p></w:body></w:document>"},
         {"word/comments.xml", "<w:comments " + w + "><w:comment w:id=\"0\"><w:p>" + run +
                                   "</w:p></w:comment></w:comments>"},
         {"word/endnotes.xml", "<w:endnotes " + w + "><w:endnote w:id=\"1\"><w:p>" + run +
                                   "</w:p></w:endnote></w:endnotes>"},
         {"word/settings.xml", "<w:settings " + w + "><w:t>B\xC2\xB8o</w:t></w:settings>"}});
    const DocumentResult r = convert_document(doc, DocumentOptions{});
    ASSERT_EQ(r.status, DocumentResult::Status::kConverted) << r.error;
    const auto count = [](const std::string& text, const std::string& what) {
        std::size_t n = 0;
        for (std::size_t at = text.find(what); at != std::string::npos;
             at = text.find(what, at + 1))
            ++n;
        return n;
    };
    const std::string report = "B\xC3\xA1o";
    EXPECT_EQ(count(entry(r.output, "word/document.xml"), report), 3u);
    EXPECT_EQ(count(entry(r.output, "word/comments.xml"), report), 1u);
    EXPECT_EQ(count(entry(r.output, "word/endnotes.xml"), report), 1u);
    EXPECT_EQ(entry(r.output, "word/settings.xml"), entry(doc, "word/settings.xml"));
}

// A run typed in VNI whose font, .VnTime, comes from its character style: the style's font
// is replaced, so the run left as it was keeps .VnTime as its own font.
TEST(Word, ALeftRunWhoseFontCameFromAStyleKeepsThatFont) {
    const std::string& vni = kRepublicVni;
    const std::string styles =
        "<w:style w:type=\"character\" w:styleId=\"Old\"><w:rPr><w:rFonts w:ascii=\".VnTime\" "
        "w:hAnsi=\".VnTime\"/></w:rPr></w:style><w:style w:type=\"paragraph\" "
        "w:default=\"1\" w:styleId=\"Normal\"><w:rPr><w:rFonts w:ascii=\".VnTime\" "
        "w:hAnsi=\".VnTime\"/></w:rPr></w:style>";
    const std::string fonts = "<w:rFonts w:ascii=\".VnTime\" w:hAnsi=\".VnTime\"/>";
    const struct {
        const char* name;
        std::string run, expected;
    } cases[] = {
        {"with a style",
         "<w:r><w:rPr><w:rStyle w:val=\"Old\"/><w:b/></w:rPr><w:t>" + vni + "</w:t></w:r>",
         "<w:r><w:rPr><w:rStyle w:val=\"Old\"/><w:rFonts w:ascii=\".VnTime\" "
         "w:hAnsi=\".VnTime\"/><w:b/></w:rPr><w:t>" +
             vni + "</w:t></w:r>"},
        {"properties without a style", "<w:r><w:rPr><w:b/></w:rPr><w:t>" + vni + "</w:t></w:r>",
         "<w:r><w:rPr>" + fonts + "<w:b/></w:rPr><w:t>" + vni + "</w:t></w:r>"},
        {"no properties", "<w:r w:rsidR=\"1\"><w:t>" + vni + "</w:t></w:r>",
         "<w:r w:rsidR=\"1\"><w:rPr>" + fonts + "</w:rPr><w:t>" + vni + "</w:t></w:r>"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const DocumentResult r =
            convert_document(word_document("<w:p>" + c.run + "</w:p>", styles), DocumentOptions{});
        ASSERT_EQ(r.status, DocumentResult::Status::kConverted) << r.error;
        ASSERT_EQ(r.left.size(), 1u);
        EXPECT_NE(entry(r.output, "word/document.xml").find(c.expected), std::string::npos)
            << entry(r.output, "word/document.xml");
        EXPECT_EQ(entry(r.output, "word/styles.xml").find(".VnTime"), std::string::npos);
    }
}

// Table style "Legacy" takes .VnTime from the style it is based on; the document defaults
// give a Unicode font. A paragraph style wins over the table style, and text after the
// table (or in a text box inside it) is not styled by it.
TEST(Word, RunsInATableTakeTheirFontsFromItsStyleUnderTheParagraphStyle) {
    const std::string styles =
        "<w:docDefaults><w:rPrDefault><w:rPr><w:rFonts w:ascii=\"Times New Roman\" "
        "w:hAnsi=\"Times New Roman\"/></w:rPr></w:rPrDefault></w:docDefaults>"
        "<w:style w:type=\"paragraph\" w:default=\"1\" w:styleId=\"Normal\"/>"
        "<w:style w:type=\"paragraph\" w:styleId=\"Plain\"><w:rPr><w:rFonts w:ascii=\"Arial\" "
        "w:hAnsi=\"Arial\"/></w:rPr></w:style>"
        "<w:style w:type=\"table\" w:styleId=\"LegacyBase\"><w:rPr><w:rFonts "
        "w:ascii=\".VnTime\" w:hAnsi=\".VnTime\"/></w:rPr></w:style>"
        "<w:style w:type=\"table\" w:styleId=\"Legacy\"><w:basedOn w:val=\"LegacyBase\"/>"
        "</w:style>";
    const std::string tcvn3 = "C\xC3\xA9ng";
    const std::string para = "<w:p><w:r><w:t>" + tcvn3 + "</w:t></w:r></w:p>";
    const std::string body =
        "<w:tbl><w:tblPr><w:tblStyle w:val=\"Legacy\"/></w:tblPr><w:tr><w:tc>" + para +
        "<w:p><w:pPr><w:pStyle w:val=\"Plain\"/></w:pPr><w:r><w:t>" + tcvn3 +
        "</w:t></w:r></w:p><w:p><w:r><w:pict><w:txbxContent>" + para +
        "</w:txbxContent></w:pict></w:r></w:p></w:tc></w:tr></w:tbl>" + para;
    const DocumentResult r = convert_document(word_document(body, styles), DocumentOptions{});
    ASSERT_EQ(r.status, DocumentResult::Status::kConverted) << r.error;
    const std::string out = entry(r.output, "word/document.xml");
    const std::string left = "<w:t>" + tcvn3 + "</w:t>";
    const std::size_t converted = out.find("<w:t>C\xE1\xBB\x99ng</w:t>");
    ASSERT_NE(converted, std::string::npos) << out;
    // Only the first paragraph of the cell converts; the three others are left as typed.
    EXPECT_EQ(out.find("<w:t>C\xE1\xBB\x99ng</w:t>", converted + 1), std::string::npos) << out;
    std::size_t n = 0;
    for (std::size_t at = out.find(left); at != std::string::npos; at = out.find(left, at + 1)) ++n;
    EXPECT_EQ(n, 3u) << out;
    const std::string styles_out = entry(r.output, "word/styles.xml");
    EXPECT_EQ(styles_out.find(".VnTime"), std::string::npos) << styles_out;
    EXPECT_NE(styles_out.find("w:ascii=\"Times New Roman\" w:hAnsi=\"Times New Roman\"/></w:rPr>"
                              "</w:style><w:style w:type=\"table\" w:styleId=\"Legacy\">"),
              std::string::npos)
        << styles_out;
}

// A table style's conditional formats name the fonts of the cells they apply to, chosen by
// the table's w:tblLook and each cell's place, or by the w:cnfStyle Word recorded. A header
// row whose capitals font came only from the style's firstRow was read as the plain font.
TEST(Word, RunsInATableTakeTheirFontsFromTheConditionalFormatsOfTheirCells) {
    const auto fonts = [](const std::string& name) {
        return "<w:rPr><w:rFonts w:ascii=\"" + name + "\" w:hAnsi=\"" + name + "\"/></w:rPr>";
    };
    const auto condition = [&](const std::string& type, const std::string& font) {
        return "<w:tblStylePr w:type=\"" + type + "\">" + fonts(font) + "</w:tblStylePr>";
    };
    const std::string styles =
        "<w:docDefaults><w:rPrDefault>" + fonts("Times New Roman") +
        "</w:rPrDefault></w:docDefaults>"
        "<w:style w:type=\"paragraph\" w:default=\"1\" w:styleId=\"Normal\"/>"
        "<w:style w:type=\"table\" w:styleId=\"GridBase\">" +
        fonts("Arial") + condition("firstRow", ".VnTimeH") + condition("lastRow", ".VnTimeH") +
        condition("lastCol", "Arial") +
        "</w:style><w:style w:type=\"table\" w:styleId=\"Grid\"><w:basedOn w:val=\"GridBase\"/>" +
        condition("wholeTable", ".VnTime") + "</w:style>";
    const std::string typed = "C\xC3\xA9ng";
    const std::string plain = "C\xE1\xBB\x99ng";  // read as .VnTime
    const std::string caps = "C\xE1\xBB\x98NG";   // read as .VnTimeH
    const std::string left = typed;               // in Arial: not a legacy font
    const auto cell = [&](const std::string& before, const std::string& paragraph_properties) {
        return "<w:tc>" + before + "<w:p>" + paragraph_properties + "<w:r><w:t>" + typed +
               "</w:t></w:r></w:p></w:tc>";
    };
    const auto table = [&](const std::string& look, const std::string& rows) {
        return "<w:tbl><w:tblPr><w:tblStyle w:val=\"Grid\"/>" + look +
               "</w:tblPr><w:tblGrid><w:gridCol/><w:gridCol/></w:tblGrid>" + rows + "</w:tbl>";
    };
    const std::string plain_row = "<w:tr>" + cell("", "") + cell("", "") + "</w:tr>";
    const std::string nested =
        "<w:tbl><w:tr><w:tc><w:p/></w:tc></w:tr><w:tr><w:tc><w:p/></w:tc></w:tr></w:tbl>";
    struct Case {
        const char* name;
        std::string body;
        std::vector<std::string> texts;  // of the cells, row by row
    };
    const Case cases[] = {
        {"first row and last column on; the first row wins over the last column",
         table("<w:tblLook w:firstRow=\"1\" w:lastColumn=\"1\" w:noVBand=\"1\"/>",
               plain_row + plain_row),
         {caps, caps, plain, left}},
        {"the older bitmask: first row only",
         table("<w:tblLook w:val=\"0020\"/>", plain_row + plain_row),
         {caps, caps, plain, plain}},
        {"first row off",
         table("<w:tblLook w:firstRow=\"0\" w:lastColumn=\"0\"/>", plain_row + plain_row),
         {plain, plain, plain, plain}},
        {"no look: only the whole table",
         table("", plain_row + plain_row),
         {plain, plain, plain, plain}},
        {"the last row, the rows of a table inside a cell not counted",
         table("<w:tblLook w:lastRow=\"1\"/>",
               "<w:tr>" + cell(nested, "") + cell("", "") + "</w:tr>" + plain_row),
         {plain, plain, caps, caps}},
        {"a row's and a paragraph's cnfStyle win over the look and the place",
         table("<w:tblLook w:firstRow=\"1\"/>",
               "<w:tr>" + cell("", "<w:pPr><w:cnfStyle w:val=\"000100000000\"/></w:pPr>") +
                   cell("", "") + "</w:tr><w:tr><w:trPr><w:cnfStyle w:firstRow=\"1\"/></w:trPr>" +
                   cell("", "") + cell("", "") + "</w:tr>"),
         {left, caps, caps, caps}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const DocumentResult r = convert_document(word_document(c.body, styles), DocumentOptions{});
        ASSERT_EQ(r.status, DocumentResult::Status::kConverted) << r.error;
        const std::string out = entry(r.output, "word/document.xml");
        std::vector<std::string> texts;
        for (std::size_t at = out.find("<w:t>"); at != std::string::npos;
             at = out.find("<w:t>", at + 1))
            texts.push_back(out.substr(at + 5, out.find("</w:t>", at) - at - 5));
        EXPECT_EQ(texts, c.texts) << out;
        const std::string styles_out = entry(r.output, "word/styles.xml");
        EXPECT_EQ(styles_out.find(".VnTime"), std::string::npos) << styles_out;
    }
}

// A presentation whose text box (no placeholder) gets its font only from the presentation's
// default text style: the master's other style names none and the theme's minor font is a
// Unicode one. Level 1 names .VnTime, level 3 the theme's major font (a capitals font), and
// level 2 none, so a:defPPr's VNI-Times.
TEST(Presentation, TextTakesTheDefaultTextStyleWhenTheMasterNamesNoFont) {
    const std::string ns =
        "xmlns:a=\"http://schemas.openxmlformats.org/drawingml/2006/main\" "
        "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\" "
        "xmlns:p=\"http://schemas.openxmlformats.org/presentationml/2006/main\"";
    const std::string type = "application/vnd.openxmlformats-officedocument.";
    const std::string rels = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";
    const auto level = [](const std::string& element, const std::string& face) {
        return "<a:" + element + "><a:defRPr><a:latin typeface=\"" + face + "\"/><a:ea " +
               "typeface=\"" + face + "\"/></a:defRPr></a:" + element + ">";
    };
    const auto para = [](const std::string& lvl, const std::string& text) {
        return "<a:p><a:pPr lvl=\"" + lvl + "\"/><a:r><a:rPr lang=\"vi-VN\"/><a:t>" + text +
               "</a:t></a:r></a:p>";
    };
    const std::string doc = make_zip(
        {{"[Content_Types].xml",
          "<Types><Override PartName=\"/ppt/presentation.xml\" ContentType=\"" + type +
              "presentationml.presentation.main+xml\"/><Override "
              "PartName=\"/ppt/slides/slide1.xml\" ContentType=\"" +
              type +
              "presentationml.slide+xml\"/><Override PartName=\"/ppt/slideMasters/"
              "slideMaster1.xml\" ContentType=\"" +
              type +
              "presentationml.slideMaster+xml\"/><Override PartName=\"/ppt/theme/theme1.xml\" "
              "ContentType=\"" +
              type + "theme+xml\"/></Types>"},
         {"ppt/presentation.xml", "<p:presentation " + ns + "><p:defaultTextStyle>" +
                                      level("defPPr", "VNI-Times") + level("lvl1pPr", ".VnTime") +
                                      level("lvl3pPr", "+mj-lt") +
                                      "</p:defaultTextStyle></p:presentation>"},
         {"ppt/slides/slide1.xml",
          "<p:sld " + ns +
              "><p:cSld><p:spTree><p:sp><p:nvSpPr><p:nvPr/></p:nvSpPr><p:txBody><a:bodyPr/>"
              "<a:lstStyle/>" +
              para("0", "C\xC3\xA9ng") + para("1", "Co\xC3\xA4ng") + para("2", "c\xC3\xA9ng") +
              "</p:txBody></p:sp></p:spTree></p:cSld></p:sld>"},
         {"ppt/slides/_rels/slide1.xml.rels",
          "<Relationships><Relationship Id=\"rId1\" Type=\"" + rels +
              "slideMaster\" Target=\"../slideMasters/slideMaster1.xml\"/></Relationships>"},
         {"ppt/slideMasters/slideMaster1.xml",
          "<p:sldMaster " + ns +
              "><p:txStyles><p:titleStyle/><p:bodyStyle/><p:otherStyle><a:lvl1pPr><a:defRPr "
              "sz=\"1800\"/></a:lvl1pPr></p:otherStyle></p:txStyles></p:sldMaster>"},
         {"ppt/slideMasters/_rels/slideMaster1.xml.rels",
          "<Relationships><Relationship Id=\"rId1\" Type=\"" + rels +
              "theme\" Target=\"../theme/theme1.xml\"/></Relationships>"},
         {"ppt/theme/theme1.xml",
          "<a:theme " + ns +
              "><a:themeElements><a:fontScheme><a:majorFont><a:latin typeface=\".VnTimeH\"/>"
              "</a:majorFont><a:minorFont><a:latin typeface=\"Arial\"/></a:minorFont>"
              "</a:fontScheme></a:themeElements></a:theme>"}});
    ASSERT_EQ(document_kind(doc), DocumentKind::kPresentation);
    const DocumentResult r = convert_document(doc, DocumentOptions{});
    ASSERT_EQ(r.status, DocumentResult::Status::kConverted) << r.error;
    EXPECT_TRUE(r.left.empty());
    const std::string slide = entry(r.output, "ppt/slides/slide1.xml");
    const auto count = [&slide](const std::string& what) {
        std::size_t n = 0;
        for (std::size_t at = slide.find(what); at != std::string::npos;
             at = slide.find(what, at + 1))
            ++n;
        return n;
    };
    EXPECT_EQ(count("<a:t>C\xE1\xBB\x99ng</a:t>"), 2u) << slide;  // levels 1 and 2
    EXPECT_EQ(count("<a:t>C\xE1\xBB\x98NG</a:t>"), 1u) << slide;  // level 3
    const std::string presentation = entry(r.output, "ppt/presentation.xml");
    EXPECT_EQ(presentation.find(".VnTime"), std::string::npos) << presentation;
    EXPECT_EQ(presentation.find("VNI-Times"), std::string::npos) << presentation;
    EXPECT_NE(presentation.find("<a:latin typeface=\"Times New Roman\"/><a:ea typeface=\"Times "
                                "New Roman\"/>"),
              std::string::npos)
        << presentation;
}

// A field's result is runs like any other and converts; its instructions are code, and stay
// byte for byte even where they hold bytes a legacy font would draw.
TEST(Word, FieldResultsConvertAndTheirInstructionsStay) {
    const std::string font = "<w:rPr><w:rFonts w:ascii=\".VnTime\" w:hAnsi=\".VnTime\"/></w:rPr>";
    const std::string instruction = " MERGEFIELD B\xC2\xB8o \\* MERGEFORMAT ";
    const std::string body =
        // A complex field: begin, instructions, separate, result, end.
        "<w:p><w:r>" + font + "<w:fldChar w:fldCharType=\"begin\"/></w:r><w:r>" + font +
        "<w:instrText xml:space=\"preserve\">" + instruction + "</w:instrText></w:r><w:r>" + font +
        "<w:fldChar w:fldCharType=\"separate\"/></w:r><w:r>" + font +
        "<w:t>B\xC2\xB8o c\xC2\xB8o</w:t></w:r><w:r>" + font +
        "<w:fldChar w:fldCharType=\"end\"/></w:r></w:p>"
        // A simple field: its instructions an attribute, its result the runs inside it.
        "<w:p><w:fldSimple w:instr=\"" +
        instruction + "\"><w:r>" + font + "<w:t>C\xC3\xA9ng</w:t></w:r></w:fldSimple></w:p>";
    const DocumentResult r = convert_document(word_document(body, ""), DocumentOptions{});
    ASSERT_EQ(r.status, DocumentResult::Status::kConverted) << r.error;
    const std::string out = entry(r.output, "word/document.xml");
    EXPECT_NE(out.find("<w:t>B\xC3\xA1o c\xC3\xA1o</w:t>"), std::string::npos) << out;
    EXPECT_NE(out.find("<w:t>C\xE1\xBB\x99ng</w:t>"), std::string::npos) << out;
    EXPECT_NE(out.find("<w:instrText xml:space=\"preserve\">" + instruction + "</w:instrText>"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("<w:fldSimple w:instr=\"" + instruction + "\">"), std::string::npos) << out;
    EXPECT_EQ(out.find(".VnTime"), std::string::npos) << out;
}

// The text of list levels, in the level's own font or, failing that, the font of the
// paragraph style the level is linked to, the default paragraph style, or the document
// defaults; the %N that stand for numbers are no text.
TEST(Word, ListLevelTextConvertsInTheLevelsFont) {
    const std::string styles =
        "<w:docDefaults><w:rPrDefault><w:rPr><w:rFonts w:ascii=\".VnTime\" "
        "w:hAnsi=\".VnTime\"/></w:rPr></w:rPrDefault></w:docDefaults>"
        "<w:style w:type=\"paragraph\" w:default=\"1\" w:styleId=\"Normal\"><w:rPr><w:rFonts "
        "w:ascii=\"VNI-Times\" w:hAnsi=\"VNI-Times\"/></w:rPr></w:style>"
        "<w:style w:type=\"paragraph\" w:styleId=\"Caps\"><w:rPr><w:rFonts w:ascii=\".VnTimeH\" "
        "w:hAnsi=\".VnTimeH\"/></w:rPr></w:style>"
        "<w:style w:type=\"paragraph\" w:styleId=\"Plain\"/>";
    const auto level = [](const std::string& inside) {
        return "<w:abstractNum w:abstractNumId=\"0\"><w:lvl w:ilvl=\"0\"><w:start w:val=\"1\"/>" +
               inside + "</w:lvl></w:abstractNum>";
    };
    const std::string own =
        "<w:rPr><w:rFonts w:ascii=\".VnTime\" w:hAnsi=\".VnTime\" w:hint=\"default\"/></w:rPr>";
    const struct {
        const char* name;
        std::string numbering, expected;
    } cases[] = {
        {"the level's own font, a character reference among the text",
         level("<w:lvlText w:val=\"B&#xB8;o %1.%2 c\xC2\xB8o\"/>" + own),
         level("<w:lvlText w:val=\"B\xC3\xA1o %1.%2 c\xC3\xA1o\"/><w:rPr><w:rFonts "
               "w:ascii=\"Times New Roman\" w:hAnsi=\"Times New Roman\" w:hint=\"default\"/>"
               "</w:rPr>")},
        {"a tab among the text stays a tab", level("<w:lvlText w:val=\"%1&#9;B\xC2\xB8o\"/>" + own),
         level("<w:lvlText w:val=\"%1&#9;B\xC3\xA1o\"/><w:rPr><w:rFonts w:ascii=\"Times New "
               "Roman\" w:hAnsi=\"Times New Roman\" w:hint=\"default\"/></w:rPr>")},
        {"the default paragraph style's font", level("<w:lvlText w:val=\"Vie\xC3\xA4t %1)\"/>"),
         level("<w:lvlText w:val=\"Vi\xE1\xBB\x87t %1)\"/>")},
        {"a linked paragraph style's font, a capitals font",
         level("<w:pStyle w:val=\"Caps\"/><w:lvlText w:val=\"c\xC3\xA9ng %1\"/>"),
         level("<w:pStyle w:val=\"Caps\"/><w:lvlText w:val=\"C\xE1\xBB\x98NG %1\"/>")},
        {"a linked style that names no font: the document defaults",
         level("<w:pStyle w:val=\"Plain\"/><w:lvlText w:val=\"%1 c\xC3\xA9ng\"/>"),
         level("<w:pStyle w:val=\"Plain\"/><w:lvlText w:val=\"%1 c\xE1\xBB\x99ng\"/>")},
        {"a bullet in a symbol font",
         level("<w:lvlText w:val=\"\xEF\x82\xB7\"/><w:rPr><w:rFonts w:ascii=\"Symbol\" "
               "w:hAnsi=\"Symbol\"/></w:rPr>"),
         level("<w:lvlText w:val=\"\xEF\x82\xB7\"/><w:rPr><w:rFonts w:ascii=\"Symbol\" "
               "w:hAnsi=\"Symbol\"/></w:rPr>")},
        {"a list's override of a level",
         "<w:num w:numId=\"1\"><w:abstractNumId w:val=\"0\"/><w:lvlOverride w:ilvl=\"0\"><w:lvl "
         "w:ilvl=\"0\"><w:lvlText w:val=\"&#x2013; \xC2\xB8\"/>" +
             own + "</w:lvl></w:lvlOverride></w:num>",
         "<w:num w:numId=\"1\"><w:abstractNumId w:val=\"0\"/><w:lvlOverride w:ilvl=\"0\"><w:lvl "
         "w:ilvl=\"0\"><w:lvlText w:val=\"\xE2\x80\x93 \xC3\xA1\"/><w:rPr><w:rFonts "
         "w:ascii=\"Times New Roman\" w:hAnsi=\"Times New Roman\" w:hint=\"default\"/></w:rPr>"
         "</w:lvl></w:lvlOverride></w:num>"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const DocumentResult r =
            convert_document(word_document("<w:p/>", styles, "", c.numbering), DocumentOptions{});
        ASSERT_EQ(r.status, DocumentResult::Status::kConverted) << r.error;
        const std::string out = entry(r.output, "word/numbering.xml");
        EXPECT_NE(out.find(c.expected), std::string::npos) << out;
    }

    // An undefined byte (0x81 is none of TCVN3's) refuses the document, naming the level.
    const DocumentResult r = convert_document(
        word_document("<w:p/>", styles, "",
                      level("<w:lvlText w:val=\"a\xC2\x81 %1\"/>" + own) +
                          "<w:num w:numId=\"3\"><w:lvlOverride w:ilvl=\"2\"><w:lvl w:ilvl=\"2\">"
                          "<w:lvlText w:val=\"a\xC2\x81\"/>" +
                          own + "</w:lvl></w:lvlOverride></w:num>"),
        DocumentOptions{});
    EXPECT_EQ(r.status, DocumentResult::Status::kRefused);
    ASSERT_FALSE(r.problems.empty());
    EXPECT_EQ(r.problems[0].where.part, "word/numbering.xml");
    EXPECT_EQ(r.problems[0].where.place, "abstract list 0, level 1");
}

// A level's text typed in VNI under .VnTime from the default paragraph style: left as it was,
// and since the style's font is replaced, the level is given .VnTime as its own.
TEST(Word, ALeftListLevelKeepsItsFontFromTheStyles) {
    const std::string styles =
        "<w:style w:type=\"paragraph\" w:default=\"1\" w:styleId=\"Normal\"><w:rPr><w:rFonts "
        "w:ascii=\".VnTime\" w:hAnsi=\".VnTime\"/></w:rPr></w:style>";
    const std::string text = "<w:lvlText w:val=\"" + kRepublicVni + " %1\"/>";
    const std::string fonts = "<w:rFonts w:ascii=\".VnTime\" w:hAnsi=\".VnTime\"/>";
    const struct {
        const char* name;
        std::string level, expected;
    } cases[] = {
        {"properties without fonts", text + "<w:rPr><w:b/></w:rPr>",
         text + "<w:rPr>" + fonts + "<w:b/></w:rPr>"},
        {"empty properties", text + "<w:rPr/>", text + "<w:rPr>" + fonts + "</w:rPr>"},
        {"no properties", text, text + "<w:rPr>" + fonts + "</w:rPr>"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const DocumentResult r = convert_document(
            word_document("<w:p/>", styles, "",
                          "<w:abstractNum w:abstractNumId=\"0\"><w:lvl w:ilvl=\"0\">" + c.level +
                              "</w:lvl></w:abstractNum>"),
            DocumentOptions{});
        ASSERT_EQ(r.status, DocumentResult::Status::kConverted) << r.error;
        ASSERT_EQ(r.left.size(), 1u);
        EXPECT_EQ(r.left[0].where.place, "abstract list 0, level 1");
        EXPECT_NE(entry(r.output, "word/numbering.xml").find(c.expected + "</w:lvl>"),
                  std::string::npos)
            << entry(r.output, "word/numbering.xml");
        EXPECT_EQ(entry(r.output, "word/styles.xml").find(".VnTime"), std::string::npos);
    }
}

// A minimal workbook: one sheet, "Data", of `cells` (the content of a row); cell formats 0
// (Calibri), 1 (.VnTime) and 2 (Arial).
std::string workbook(const std::string& cells) {
    const std::string main = "xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"";
    const std::string type = "application/vnd.openxmlformats-officedocument.spreadsheetml.";
    return make_zip(
        {{"[Content_Types].xml",
          "<Types><Override PartName=\"/xl/workbook.xml\" ContentType=\"" + type +
              "sheet.main+xml\"/><Override PartName=\"/xl/styles.xml\" ContentType=\"" + type +
              "styles+xml\"/><Override PartName=\"/xl/worksheets/sheet1.xml\" ContentType=\"" +
              type + "worksheet+xml\"/></Types>"},
         {"xl/workbook.xml",
          "<workbook " + main +
              " xmlns:r=\"r\"><sheets><sheet name=\"Data\" sheetId=\"1\" r:id=\"rId1\"/>"
              "</sheets></workbook>"},
         {"xl/_rels/workbook.xml.rels",
          "<Relationships><Relationship Id=\"rId1\" Target=\"worksheets/sheet1.xml\"/>"
          "</Relationships>"},
         {"xl/styles.xml",
          "<styleSheet " + main +
              "><fonts><font><name val=\"Calibri\"/></font><font><name val=\".VnTime\"/></font>"
              "<font><name val=\"Arial\"/></font></fonts><cellXfs><xf fontId=\"0\"/><xf "
              "fontId=\"1\"/><xf fontId=\"2\"/></cellXfs></styleSheet>"},
         {"xl/worksheets/sheet1.xml", "<worksheet " + main + "><sheetData><row r=\"1\">" + cells +
                                          "</row></sheetData></worksheet>"}});
}

// A formula's string result shows in its cell's font and converts; the formula, code, stays
// byte for byte, and so do results of other types.
TEST(Spreadsheet, AFormulasStringResultConvertsInItsCellsFont) {
    const std::string formula = "<f>\"B\xC2\xB8o \"&amp;A2</f>";
    const std::string cells = "<c r=\"A1\" s=\"1\" t=\"str\">" + formula +
                              "<v>B\xC2\xB8o c&amp;\xC2\xB8o</v></c>"
                              "<c r=\"B1\" s=\"2\" t=\"str\">" +
                              formula +
                              "<v>B\xC2\xB8o</v></c>"
                              "<c r=\"C1\" s=\"1\" t=\"e\"><f>1/0</f><v>#DIV/0!</v></c>"
                              "<c r=\"D1\" s=\"1\">" +
                              formula + "<v>12</v></c>";
    const std::string book = workbook(cells);
    const DocumentResult r = convert_document(book, DocumentOptions{});
    ASSERT_EQ(r.status, DocumentResult::Status::kConverted) << r.error;
    const std::string sheet = entry(r.output, "xl/worksheets/sheet1.xml");
    const std::string expected = "<c r=\"A1\" s=\"1\" t=\"str\">" + formula +
                                 "<v>B\xC3\xA1o c&amp;\xC3\xA1o</v></c>"
                                 "<c r=\"B1\" s=\"2\" t=\"str\">" +
                                 formula +
                                 "<v>B\xC2\xB8o</v></c>"
                                 "<c r=\"C1\" s=\"1\" t=\"e\"><f>1/0</f><v>#DIV/0!</v></c>"
                                 "<c r=\"D1\" s=\"1\">" +
                                 formula + "<v>12</v></c>";
    EXPECT_NE(sheet.find(expected), std::string::npos) << sheet;
    EXPECT_EQ(entry(r.output, "xl/styles.xml").find(".VnTime"), std::string::npos);

    const DocumentResult refused = convert_document(
        workbook("<c r=\"C4\" s=\"1\" t=\"str\"><f>A1</f><v>a\xC2\x81</v></c>"), DocumentOptions{});
    EXPECT_EQ(refused.status, DocumentResult::Status::kRefused);
    ASSERT_FALSE(refused.problems.empty());
    EXPECT_EQ(refused.problems[0].where.place, "sheet Data, cell C4");
}

// A minimal OpenDocument text: `body` in office:text, with automatic styles P1 (paragraph,
// .VnTime) and T1 (text, VNI-Times).
std::string open_text(const std::string& body) {
    const std::string ns =
        "xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
        "xmlns:style=\"urn:oasis:names:tc:opendocument:xmlns:style:1.0\" "
        "xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\" "
        "xmlns:script=\"urn:oasis:names:tc:opendocument:xmlns:script:1.0\" "
        "xmlns:svg=\"urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0\"";
    return make_zip(
        {{"mimetype", "application/vnd.oasis.opendocument.text"},
         {"content.xml",
          "<office:document-content " + ns +
              "><office:font-face-decls><style:font-face style:name=\"V\" "
              "svg:font-family=\".VnTime\"/><style:font-face style:name=\"N\" "
              "svg:font-family=\"VNI-Times\"/></office:font-face-decls><office:automatic-styles>"
              "<style:style style:name=\"P1\" style:family=\"paragraph\"><style:text-properties "
              "style:font-name=\"V\"/></style:style><style:style style:name=\"T1\" "
              "style:family=\"text\"><style:text-properties style:font-name=\"N\"/>"
              "</style:style></office:automatic-styles><office:body><office:text>" +
              body + "</office:text></office:body></office:document-content>"}});
}

// Fields show their content in the font of the span or paragraph around them; their
// attributes, a script's code and a note's citation stay as they are.
TEST(Odf, FieldTextConvertsInTheFontAroundItAndItsAttributesStay) {
    const std::string report = "B\xC2\xB8o c\xC2\xB8o";
    const std::string body =
        "<text:p text:style-name=\"P1\"><text:text-input text:description=\"" + report + "\">" +
        report +
        "</text:text-input> <text:chapter text:display=\"name\" "
        "text:outline-level=\"1\">C\xC3\xA9ng</text:chapter> <text:span "
        "text:style-name=\"T1\"><text:sequence text:name=\"H\" text:formula=\"ooow:H+1\" "
        "style:num-format=\"1\">Vie\xC3\xA4t</text:sequence></text:span> <text:script "
        "script:language=\"x\">" +
        report +
        "</text:script><text:note><text:note-citation text:label=\"\xC2\xB8\">\xC2\xB8"
        "</text:note-citation><text:note-body/></text:note></text:p>";
    const DocumentResult r = convert_document(open_text(body), DocumentOptions{});
    ASSERT_EQ(r.status, DocumentResult::Status::kConverted) << r.error;
    const std::string converted = "B\xC3\xA1o c\xC3\xA1o";
    const std::string expected =
        "<text:p text:style-name=\"P1\"><text:text-input text:description=\"" + report + "\">" +
        converted +
        "</text:text-input> <text:chapter text:display=\"name\" "
        "text:outline-level=\"1\">C\xE1\xBB\x99ng</text:chapter> <text:span "
        "text:style-name=\"T1\"><text:sequence text:name=\"H\" text:formula=\"ooow:H+1\" "
        "style:num-format=\"1\">Vi\xE1\xBB\x87t</text:sequence></text:span> <text:script "
        "script:language=\"x\">" +
        report +
        "</text:script><text:note><text:note-citation text:label=\"\xC2\xB8\">\xC2\xB8"
        "</text:note-citation><text:note-body/></text:note></text:p>";
    const std::string out = entry(r.output, "content.xml");
    EXPECT_NE(out.find(expected), std::string::npos) << out;
}

}  // namespace
}  // namespace toneshift::documents
