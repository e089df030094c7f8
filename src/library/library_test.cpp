// The C interface, as a C caller uses it: statuses, buffers owned by the caller or by the
// library, and independent objects in independent threads.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "documents/test_package.h"
#include "toneshift/toneshift.h"

namespace {

// "Cộng hòa xã hội chủ nghĩa Việt Nam" in UTF-8, TCVN3 and VIQR.
const std::string kUtf8 =
    "C\xE1\xBB\x99ng h\xC3\xB2"
    "a x\xC3\xA3 h\xE1\xBB\x99i ch\xE1\xBB\xA7 ngh\xC4\xA9"
    "a Vi\xE1\xBB\x87t Nam\n";
const std::string kTcvn3 =
    "C\xE9ng h\xDF"
    "a x\xB7 h\xE9i ch\xF1 ngh\xDC"
    "a Vi\xD6t Nam\n";
const std::string kViqr = "Co^.ng ho`a xa~ ho^.i chu? nghi~a Vie^.t Nam\n";

// The whole of `in` through ts_convert_buffer; the status, and the output in `out`.
int convert(int from, int to, const std::string& in, std::string& out, int policy = TS_STRICT,
            ts_problem* problem = nullptr, uint64_t* count = nullptr) {
    ts_options o;
    ts_options_init(&o, from, to);
    o.policy = policy;
    char* data = nullptr;
    size_t size = 0;
    const int s = ts_convert_buffer(&o, in.data(), in.size(), &data, &size, problem, count);
    out.assign(data != nullptr ? data : "", size);
    ts_free(data);
    return s;
}

// The whole of `in` through a streaming converter, fed `piece` bytes at a time into an
// output buffer of `room` bytes; the status.
int stream(const ts_options& o, const std::string& in, std::size_t piece, std::size_t room,
           std::string& out) {
    ts_converter* c = nullptr;
    if (const int s = ts_converter_new(&o, &c); s != TS_OK) return s;
    std::vector<char> buffer(room);
    std::size_t at = 0;
    int status = TS_OK;
    for (;;) {
        const std::size_t n = std::min(piece, in.size() - at);
        const int last = at + n == in.size();
        std::size_t consumed = 0, written = 0;
        int stop = -1;
        status = ts_convert(c, in.data() + at, n, buffer.data(), buffer.size(), last, &consumed,
                            &written, &stop);
        out.append(buffer.data(), written);
        at += consumed;
        if (status != TS_OK) break;
        if (last && consumed == n && stop == TS_STOP_INPUT_USED) break;
    }
    ts_converter_free(c);
    return status;
}

TEST(Formats, NamesNumbersAndAliasesAgree) {
    ASSERT_EQ(ts_format_count(), TS_NCR + 1);
    for (int f = 0; f < ts_format_count(); ++f) {
        SCOPED_TRACE(f);
        ASSERT_NE(ts_format_name(f), nullptr);
        EXPECT_EQ(ts_format_by_name(ts_format_name(f)), f);
        EXPECT_NE(ts_format_description(f), nullptr);
    }
    EXPECT_EQ(ts_format_by_name("UTF8"), TS_UTF8);
    EXPECT_EQ(ts_format_by_name("abc"), TS_TCVN3);
    EXPECT_EQ(ts_format_by_name("windows-1258"), TS_CP1258);
    EXPECT_EQ(ts_format_by_name("latin-9"), -1);
    EXPECT_EQ(ts_format_by_name(nullptr), -1);
    EXPECT_EQ(ts_format_name(-1), nullptr);
    EXPECT_EQ(ts_format_name(ts_format_count()), nullptr);
    EXPECT_EQ(ts_format_is_unicode(TS_UTF16BE), 1);
    EXPECT_EQ(ts_format_is_unicode(TS_VNI_WIN), 0);
    EXPECT_STREQ(ts_version(), "1.0.0");
}

TEST(Convert, WholeBuffersBetweenFormats) {
    const struct {
        int from, to;
        const std::string &in, &out;
    } cases[] = {{TS_TCVN3, TS_UTF8, kTcvn3, kUtf8},
                 {TS_UTF8, TS_TCVN3, kUtf8, kTcvn3},
                 {TS_VIQR, TS_UTF8, kViqr, kUtf8},
                 {TS_UTF8, TS_VIQR, kUtf8, kViqr}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(ts_format_name(c.from)) + " to " + ts_format_name(c.to));
        std::string out;
        ASSERT_EQ(convert(c.from, c.to, c.in, out), TS_OK);
        EXPECT_EQ(out, c.out);
    }
    // Nothing in, nothing out, and a buffer the caller may still free.
    std::string out = "x";
    EXPECT_EQ(convert(TS_UTF8, TS_TCVN3, "", out), TS_OK);
    EXPECT_EQ(out, "");
}

TEST(Convert, StrictRefusesWithThePlaceAndOtherPoliciesCount) {
    // U+0416 cannot be written in TCVN3; it is on line 2, column 3.
    const std::string in =
        "ab\ncd\xD0\x96"
        "e\xD0\x96\n";
    std::string out;
    ts_problem p{};
    uint64_t count = 0;
    EXPECT_EQ(convert(TS_UTF8, TS_TCVN3, in, out, TS_STRICT, &p, &count), TS_ERR_REFUSED);
    EXPECT_EQ(out, "");
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(p.kind, TS_PROBLEM_LOSS);
    EXPECT_EQ(p.character, 0x416u);
    EXPECT_EQ(p.offset, 5u);
    EXPECT_EQ(p.line, 2u);
    EXPECT_EQ(p.column, 3u);

    EXPECT_EQ(convert(TS_UTF8, TS_TCVN3, in, out, TS_REPLACE, &p, &count), TS_OK);
    EXPECT_EQ(out, "ab\ncd?e?\n");
    EXPECT_EQ(count, 2u);

    // Undefined input: the bytes are given.
    EXPECT_EQ(convert(TS_UTF8, TS_UTF16LE, "a\xFF", out, TS_STRICT, &p, &count), TS_ERR_REFUSED);
    EXPECT_EQ(p.kind, TS_PROBLEM_UNDEFINED);
    EXPECT_EQ(p.byte_count, 1);
    EXPECT_EQ(p.bytes[0], 0xFF);
}

TEST(Convert, OptionsThatDoNotGoTogetherAreRefusedUpFront) {
    ts_converter* c = reinterpret_cast<ts_converter*>(1);
    ts_options o;
    ts_options_init(&o, TS_UTF8, TS_TCVN3);
    o.form = TS_NFD;  // TCVN3 has no Unicode forms
    EXPECT_EQ(ts_converter_new(&o, &c), TS_ERR_ARGUMENT);
    EXPECT_EQ(c, nullptr);
    for (auto change :
         {+[](ts_options& x) { x.from = 99; }, +[](ts_options& x) { x.to = -1; },
          +[](ts_options& x) { x.policy = 7; }, +[](ts_options& x) { x.tone_style = 3; }}) {
        ts_options_init(&o, TS_UTF8, TS_UTF8);
        change(o);
        EXPECT_EQ(ts_converter_new(&o, &c), TS_ERR_ARGUMENT);
    }
    EXPECT_EQ(ts_converter_new(nullptr, &c), TS_ERR_ARGUMENT);
    EXPECT_STRNE(ts_status_message(TS_ERR_ARGUMENT), ts_status_message(TS_ERR_REFUSED));
    EXPECT_STREQ(ts_status_message(12345), "unknown status");
}

// Every way of cutting the input and every size of output buffer gives the same text, with
// the converter alone and through the pipeline that places tone marks.
TEST(Stream, AnySplitAndAnyRoomGiveTheWholeConversion) {
    std::string text;
    for (int i = 0; i < 40; ++i) text += kTcvn3;
    ts_options plain;
    ts_options_init(&plain, TS_TCVN3, TS_UTF16BE);
    ts_options tones = plain;
    tones.tone_style = TS_TONES_NEW;
    for (const ts_options* o : {&plain, &tones}) {
        std::string whole;
        ASSERT_EQ(stream(*o, text, text.size(), 1 << 16, whole), TS_OK);
        ASSERT_FALSE(whole.empty());
        for (const auto& [piece, room] :
             {std::pair<std::size_t, std::size_t>{1, 1}, {1, 4096}, {7, 3}, {text.size(), 5}}) {
            SCOPED_TRACE(std::to_string(piece) + " bytes a piece, room " + std::to_string(room));
            std::string out;
            ASSERT_EQ(stream(*o, text, piece, room, out), TS_OK);
            EXPECT_EQ(out, whole);
        }
    }
}

TEST(Stream, InputAfterTheLastPieceIsAStateErrorAndResetStartsAgain) {
    ts_options o;
    ts_options_init(&o, TS_TCVN3, TS_UTF8);
    ts_converter* c = nullptr;
    ASSERT_EQ(ts_converter_new(&o, &c), TS_OK);
    char out[256];
    size_t consumed = 0, written = 0;
    int stop = -1;
    ASSERT_EQ(
        ts_convert(c, kTcvn3.data(), kTcvn3.size(), out, sizeof out, 1, &consumed, &written, &stop),
        TS_OK);
    EXPECT_EQ(std::string(out, written), kUtf8);
    EXPECT_EQ(ts_convert(c, "a", 1, out, sizeof out, 1, &consumed, &written, &stop), TS_ERR_STATE);
    ASSERT_EQ(ts_converter_reset(c), TS_OK);
    ASSERT_EQ(
        ts_convert(c, kTcvn3.data(), kTcvn3.size(), out, sizeof out, 1, &consumed, &written, &stop),
        TS_OK);
    EXPECT_EQ(std::string(out, written), kUtf8);
    EXPECT_EQ(ts_convert(nullptr, "", 0, out, 1, 1, &consumed, &written, &stop), TS_ERR_ARGUMENT);
    ts_converter_free(c);
}

TEST(Stream, LostCharactersAreCountedDistinctMostFrequentFirst) {
    ts_options o;
    ts_options_init(&o, TS_UTF8, TS_TCVN3);
    o.policy = TS_REPLACE;
    std::string out;
    // U+0416 twice, U+4E2D three times, U+05D0 once.
    const std::string in = "\xD0\x96\xE4\xB8\xAD\xD7\x90\xE4\xB8\xAD\xD0\x96\xE4\xB8\xAD";
    ts_converter* c = nullptr;
    ASSERT_EQ(ts_converter_new(&o, &c), TS_OK);
    char buffer[64];
    size_t consumed = 0, written = 0;
    int stop = -1;
    ASSERT_EQ(
        ts_convert(c, in.data(), in.size(), buffer, sizeof buffer, 1, &consumed, &written, &stop),
        TS_OK);
    EXPECT_EQ(ts_converter_problem_count(c), 6u);
    uint32_t chars[2] = {};
    uint64_t counts[2] = {};
    EXPECT_EQ(ts_converter_lost(c, chars, counts, 2), 3u);
    EXPECT_EQ(chars[0], 0x4E2Du);
    EXPECT_EQ(counts[0], 3u);
    EXPECT_EQ(chars[1], 0x416u);
    EXPECT_EQ(counts[1], 2u);
    ts_problem p{};
    ASSERT_EQ(ts_converter_first_problem(c, &p), TS_OK);
    EXPECT_EQ(p.character, 0x416u);
    ts_converter_free(c);
}

TEST(Stream, RepairAndToneStyleReportWhatTheyDid) {
    // "Cộng hòa" twice, read as Windows-1252 and saved as UTF-8.
    const std::string garbled =
        "C\xC3\xA1\xC2\xBB\xE2\x84\xA2ng h\xC3\x83\xC2\xB2"
        "a\n"
        "C\xC3\xA1\xC2\xBB\xE2\x84\xA2ng h\xC3\x83\xC2\xB2"
        "a\n";
    ts_options o;
    ts_options_init(&o, TS_UTF8, TS_UTF8);
    o.repair = 1;
    o.tone_style = TS_TONES_NEW;
    ts_converter* c = nullptr;
    ASSERT_EQ(ts_converter_new(&o, &c), TS_OK);
    char out[256];
    size_t consumed = 0, written = 0;
    int stop = -1;
    ASSERT_EQ(ts_convert(c, garbled.data(), garbled.size(), out, sizeof out, 1, &consumed, &written,
                         &stop),
              TS_OK);
    EXPECT_EQ(std::string(out, written),
              "C\xE1\xBB\x99ng ho\xC3\xA0\n"
              "C\xE1\xBB\x99ng ho\xC3\xA0\n");
    EXPECT_STREQ(ts_converter_repair_summary(c), "utf-8 read as windows-1252");
    EXPECT_EQ(ts_converter_repaired(c), 4u);
    EXPECT_EQ(ts_converter_unrecovered(c), 0u);
    EXPECT_EQ(ts_converter_tones_changed(c), 2u);
    ts_converter_free(c);
}

TEST(Detect, FormatUnknownMixedAndGarbled) {
    std::string tcvn3, vni;
    for (int i = 0; i < 30; ++i) tcvn3 += kTcvn3;
    std::string u;
    ASSERT_EQ(convert(TS_UTF8, TS_VNI_WIN, kUtf8, u), TS_OK);
    for (int i = 0; i < 30; ++i) vni += u;

    ts_detection* d = nullptr;
    ASSERT_EQ(ts_detect(tcvn3.data(), tcvn3.size(), &d), TS_OK);
    EXPECT_EQ(ts_detection_verdict(d), TS_DETECT_FORMAT);
    EXPECT_EQ(ts_detection_format(d), TS_TCVN3);
    EXPECT_EQ(std::string(ts_detection_summary(d)).rfind("tcvn3", 0), 0u);
    EXPECT_EQ(ts_detection_garbled(d), 0);
    ts_detection_free(d);

    const std::string english = "The quick brown fox jumps over the lazy dog.\n";
    ASSERT_EQ(ts_detect(english.data(), english.size(), &d), TS_OK);
    EXPECT_EQ(ts_detection_format(d),
              ts_detection_verdict(d) == TS_DETECT_FORMAT ? ts_detection_format(d) : -1);
    ts_detection_free(d);

    const std::string mixed = tcvn3 + vni;
    ASSERT_EQ(ts_detect(mixed.data(), mixed.size(), &d), TS_OK);
    ASSERT_EQ(ts_detection_verdict(d), TS_DETECT_MIXED) << ts_detection_summary(d);
    EXPECT_EQ(ts_detection_format(d), -1);
    ASSERT_EQ(ts_detection_range_count(d), 2u);
    uint64_t first = 0, last = 0;
    int format = -1;
    ASSERT_EQ(ts_detection_range(d, 1, &first, &last, &format), TS_OK);
    EXPECT_EQ(first, 31u);
    EXPECT_EQ(last, 60u);
    EXPECT_EQ(format, TS_VNI_WIN);
    EXPECT_EQ(ts_detection_range(d, 2, &first, &last, &format), TS_ERR_ARGUMENT);
    EXPECT_GE(ts_detection_candidate_count(d), 2u);
    EXPECT_EQ(ts_detection_candidate(d, 99), -1);
    ts_detection_free(d);

    std::string garbled;
    for (int i = 0; i < 10; ++i)
        garbled +=
            "C\xC3\xA1\xC2\xBB\xE2\x84\xA2ng h\xC3\x83\xC2\xB2"
            "a x\xC3\x83\xC2\xA3 h\xC3"
            "\xA1\xC2\xBB\xE2\x84\xA2i\n";
    ASSERT_EQ(ts_detect(garbled.data(), garbled.size(), &d), TS_OK);
    EXPECT_EQ(ts_detection_format(d), TS_UTF8);
    EXPECT_EQ(ts_detection_garbled(d), 1);
    EXPECT_STREQ(ts_detection_summary(d), "utf-8 (utf-8 read as windows-1252)");
    ts_detection_free(d);
}

// A Word document whose one run is in .VnTime, its TCVN3 bytes kept as the characters of
// the same value.
std::string legacy_docx() {
    std::string latin1;  // the TCVN3 bytes as U+0000..U+00FF in UTF-8
    for (unsigned char b : std::string("C\xE9ng h\xDF"
                                       "a")) {
        if (b < 0x80) {
            latin1 += char(b);
        } else {
            latin1 += char(0xC0 | (b >> 6));
            latin1 += char(0x80 | (b & 0x3F));
        }
    }
    const std::string w =
        "xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\"";
    return toneshift::documents::make_zip(
        {{"[Content_Types].xml",
          "<?xml version=\"1.0\"?><Types xmlns=\"http://schemas.openxmlformats.org/package/2006/"
          "content-types\"><Default Extension=\"xml\" ContentType=\"application/xml\"/>"
          "<Override PartName=\"/word/document.xml\" ContentType=\"application/"
          "vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml\"/></Types>"},
         {"word/document.xml", "<?xml version=\"1.0\"?><w:document " + w +
                                   "><w:body><w:p><w:r><w:rPr><w:rFonts w:ascii=\".VnTime\" "
                                   "w:hAnsi=\".VnTime\"/></w:rPr><w:t>" +
                                   latin1 + "</w:t></w:r></w:p></w:body></w:document>"}});
}

TEST(Documents, InMemoryAndBetweenFilesWithNothingLeftOnFailure) {
    const std::string docx = legacy_docx();
    ts_document_options o;
    ts_document_options_init(&o);
    char* out = nullptr;
    size_t size = 0;
    ts_document_report report{};
    char* message = nullptr;
    ASSERT_EQ(ts_convert_document(docx.data(), docx.size(), &o, &out, &size, &report, &message),
              TS_OK);
    EXPECT_EQ(message, nullptr);
    EXPECT_EQ(report.fonts, 1u);
    EXPECT_EQ(report.parts_changed, 1u);
    const std::string converted(out, size);
    ts_free(out);
    // The converted text is in the package, deflated: read it back through the library,
    // which finds no legacy font left.
    ASSERT_EQ(
        ts_convert_document(converted.data(), converted.size(), &o, &out, &size, &report, &message),
        TS_OK);
    EXPECT_EQ(report.fonts, 0u);
    ts_free(out);

    EXPECT_EQ(ts_convert_document("plain text", 10, &o, &out, &size, &report, &message),
              TS_ERR_DOCUMENT);
    ASSERT_NE(message, nullptr);
    EXPECT_NE(std::string(message).find("not a Word"), std::string::npos);
    ts_free(message);

    char dir[] = "/tmp/ts-library-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string src = std::string(dir) + "/in.docx", dst = std::string(dir) + "/out.docx";
    std::ofstream(src, std::ios::binary) << docx;
    ASSERT_EQ(ts_convert_document_file(src.c_str(), dst.c_str(), &o, &report, nullptr), TS_OK);
    std::stringstream written;
    written << std::ifstream(dst, std::ios::binary).rdbuf();
    EXPECT_EQ(written.str(), converted);

    // A failure leaves the destination as it was, and no temporary file beside it.
    std::ofstream(src, std::ios::binary) << "not a document";
    EXPECT_EQ(ts_convert_document_file(src.c_str(), dst.c_str(), &o, &report, &message),
              TS_ERR_DOCUMENT);
    ts_free(message);
    std::stringstream again;
    again << std::ifstream(dst, std::ios::binary).rdbuf();
    EXPECT_EQ(again.str(), converted);
    EXPECT_EQ(ts_convert_document_file((std::string(dir) + "/missing").c_str(), dst.c_str(), &o,
                                       &report, &message),
              TS_ERR_IO);
    ASSERT_NE(message, nullptr);
    EXPECT_NE(std::string(message).find("cannot read"), std::string::npos);
    ts_free(message);
    EXPECT_EQ(std::system((std::string("test $(ls ") + dir + " | wc -l) -eq 2").c_str()), 0);
    std::system((std::string("rm -rf ") + dir).c_str());
}

// Separate converters, detections and documents in separate threads at once give what they
// give alone (run under ThreadSanitizer too). VIQR sources are among them: the decoder's
// contexts are shared by the process.
TEST(Threads, ManyConvertersFromViqrAreOpenAtOnce) {
    constexpr int kOpen = 12;
    std::vector<ts_converter*> open(kOpen, nullptr);
    ts_options o;
    ts_options_init(&o, TS_VIQR, TS_UTF8);
    for (ts_converter*& c : open) ASSERT_EQ(ts_converter_new(&o, &c), TS_OK);
    // Each holds its own half-read letter between pieces.
    char out[kOpen][64];
    std::size_t length[kOpen] = {};
    for (int k = 0; k < kOpen; ++k) {
        std::size_t consumed = 0;
        int stop = -1;
        ASSERT_EQ(ts_convert(open[std::size_t(k)], k % 2 ? "Vie^" : "ho", k % 2 ? 4 : 2, out[k],
                             sizeof out[k], 0, &consumed, &length[k], &stop),
                  TS_OK);
    }
    for (int k = 0; k < kOpen; ++k) {
        std::size_t consumed = 0, written = 0;
        int stop = -1;
        ASSERT_EQ(ts_convert(open[std::size_t(k)], k % 2 ? ".t" : "a`", 2, out[k] + length[k],
                             sizeof out[k] - length[k], 1, &consumed, &written, &stop),
                  TS_OK);
        EXPECT_EQ(std::string(out[k], length[k] + written),
                  k % 2 ? "Vi\xE1\xBB\x87t" : "ho\xC3\xA0");
        ts_converter_free(open[std::size_t(k)]);
    }
}

TEST(Threads, SeparateObjectsInSeparateThreadsAtOnce) {
    std::string viqr, tcvn3;
    for (int i = 0; i < 200; ++i) {
        viqr += kViqr;
        tcvn3 += kTcvn3;
    }
    std::string from_viqr, from_tcvn3;
    ASSERT_EQ(convert(TS_VIQR, TS_UTF8, viqr, from_viqr), TS_OK);
    ASSERT_EQ(convert(TS_TCVN3, TS_UTF8, tcvn3, from_tcvn3), TS_OK);
    const std::string docx = legacy_docx();
    constexpr int kThreads = 8;
    std::vector<int> failures(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < 5; ++round) {
                std::string out;
                ts_options o;
                ts_options_init(&o, TS_VIQR, TS_UTF8);
                if (stream(o, viqr, 97, 200, out) != TS_OK || out != from_viqr) ++failures[t];
                out.clear();
                ts_options_init(&o, TS_TCVN3, TS_UTF8);
                o.tone_style = TS_TONES_OLD;
                if (stream(o, tcvn3, 4096, 4096, out) != TS_OK || out != from_tcvn3) ++failures[t];
                ts_detection* d = nullptr;
                if (ts_detect(tcvn3.data(), tcvn3.size(), &d) != TS_OK ||
                    ts_detection_format(d) != TS_TCVN3)
                    ++failures[t];
                ts_detection_free(d);
                char* doc = nullptr;
                size_t size = 0;
                if (ts_convert_document(docx.data(), docx.size(), nullptr, &doc, &size, nullptr,
                                        nullptr) != TS_OK)
                    ++failures[t];
                ts_free(doc);
            }
        });
    }
    for (std::thread& t : threads) t.join();
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(failures[t], 0) << "thread " << t;
}

}  // namespace
