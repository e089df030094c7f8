// tsconv on documents: a 200-page Word document in .VnTime (made here: 2,000 paragraphs of 50
// words, each in three runs, with the rsid attributes Word writes), converted as tsconv
// converts it. Prints the whole conversion's time and how much of it is zip inflation and
// deflation (the parts' bytes read and written again without any change), the rest being
// XML reading, the font chain and the text conversion. Target: the whole under a second.
// Usage: documents_speed [TSCONV]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "documents/document.h"
#include "documents/package.h"
#include "documents/test_package.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

using toneshift::documents::make_zip;

// Words of TCVN3 text as Word keeps them in .VnTime (one character a byte): cộng hòa xã hội
// chủ nghĩa Việt Nam độc lập tự do hạnh phúc báo cáo tổng kết năm ..., taken in an order
// made by a fixed generator so that the part deflates about as real text does.
const char* const kWords[] = {"c\xC3\xA9ng",
                              "h\xC3\x9F"
                              "a",
                              "x\xC2\xB7",
                              "h\xC3\xA9i",
                              "ch\xC3\xB1",
                              "ngh\xC3\x9C"
                              "a",
                              "Vi\xC3\x96t",
                              "Nam,",
                              "\xC2\xAE\xC3\xA9"
                              "c",
                              "l\xC3\x8Bp,",
                              "t\xC3\xB9",
                              "do,",
                              "h\xC2\xB9nh",
                              "ph\xC3\xB3"
                              "c;",
                              "b\xC2\xB8o",
                              "c\xC2\xB8o",
                              "t\xC3\xA6ng",
                              "k\xC3\x95t",
                              "n\xC2\xA8m",
                              "ng\xC2\xAD\xC3\xAAi",
                              "d\xC2\xA9n",
                              "qu\xC3\xA8"
                              "c",
                              "gia,",
                              "tr\xC2\xAD\xC3\xAAng",
                              "h\xC3\xA4"
                              "c",
                              "sinh",
                              "th\xC2\xB5nh",
                              "ph\xC3\xA8",
                              "kinh",
                              "t\xC3\x95",
                              "v\xC2\xA8n",
                              "h\xC3\xA3"
                              "a.",
                              "l\xC2\xB5m",
                              "vi\xC3\x96"
                              "c",
                              "c\xC3\xAFng",
                              "nhau",
                              "ph\xC2\xB8t",
                              "tri\xC3\x93n",
                              "m\xC3\xADi",
                              "\xC2\xAEi\xC3\x92u",
                              "ki\xC3\x96n"};
constexpr unsigned kWordCount = sizeof kWords / sizeof kWords[0];

std::string word_document(int paragraphs) {
    std::string body;
    unsigned seed = 12345;
    const auto words = [&](int n) {
        std::string text;
        for (int k = 0; k < n; ++k) {
            seed = seed * 1103515245u + 12345u;
            text += kWords[(seed >> 16) % kWordCount];
            text += ' ';
        }
        return text;
    };
    for (int p = 0; p < paragraphs; ++p) {
        body += "<w:p w:rsidR=\"00A1B2C3\" w:rsidRDefault=\"00A1B2C3\">";
        for (int r = 0; r < 3; ++r) {
            body +=
                "<w:r w:rsidRPr=\"00D4E5F6\"><w:rPr><w:rFonts w:ascii=\".VnTime\" "
                "w:hAnsi=\".VnTime\"/><w:sz w:val=\"26\"/></w:rPr><w:t xml:space=\"preserve\">";
            body += words(r == 1 ? 26 : 12);
            body += "</w:t></w:r>";
        }
        body += "</w:p>";
    }
    const std::string main =
        "application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml";
    return make_zip(
        {{"[Content_Types].xml", "<Types><Override PartName=\"/word/document.xml\" ContentType=\"" +
                                     main + "\"/></Types>"},
         {"word/document.xml",
          "<?xml version=\"1.0\"?><w:document xmlns:w=\"http://schemas."
          "openxmlformats.org/wordprocessingml/2006/main\"><w:body>" +
              body + "</w:body></w:document>"}});
}

}  // namespace

// With the path of a tsconv, also the whole program on the document as a file, -o into
// another: what a user waits for.
int main(int argc, char** argv) {
    using namespace toneshift::documents;
    const std::string document = word_document(2000);
    const int rounds = 5;
    double whole = 1e9, inflate = 1e9, deflate = 1e9;
    std::size_t inflated = 0;
    for (int round = 0; round < rounds; ++round) {
        Clock::time_point start = Clock::now();
        const DocumentResult r = convert_document(document, DocumentOptions{});
        whole = std::min(whole, seconds_since(start));
        if (r.status != DocumentResult::Status::kConverted || r.parts_changed != 1) {
            std::fprintf(stderr, "the benchmark's document did not convert\n");
            return 1;
        }
        // The zip work alone: the part inflated, and deflated into a new package.
        Package package;
        std::string error, part, out;
        start = Clock::now();
        package.open(document, error);
        package.read("word/document.xml", part, error);
        inflate = std::min(inflate, seconds_since(start));
        inflated = part.size();
        start = Clock::now();
        package.replace("word/document.xml", part, error);
        package.write(out, error);
        deflate = std::min(deflate, seconds_since(start));
    }
    std::printf(
        "200-page Word document (2,000 paragraphs, 6,000 runs, %zu KiB zipped, %zu KiB "
        "of document.xml): converted in %.3f s (target < 1 s); of which zip inflation "
        "%.3f s and deflation %.3f s (%.0f%%), XML, fonts and text %.3f s\n",
        document.size() >> 10, inflated >> 10, whole, inflate, deflate,
        100 * (inflate + deflate) / whole, whole - inflate - deflate);
    if (argc > 1) {
        const char* tmp = std::getenv("TMPDIR");
        const std::string dir = tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
        const std::string in = dir + "/documents_speed.docx",
                          out = dir + "/documents_speed.out.docx";
        std::ofstream(in, std::ios::binary) << document;
        const std::string command =
            std::string(argv[1]) + " -t utf-8 '" + in + "' -o '" + out + "'";
        double best = 1e9;
        for (int round = 0; round < rounds; ++round) {
            const Clock::time_point start = Clock::now();
            if (std::system(command.c_str()) != 0) {
                std::fprintf(stderr, "tsconv did not convert the benchmark's document\n");
                return 1;
            }
            best = std::min(best, seconds_since(start));
        }
        std::remove(in.c_str());
        std::remove(out.c_str());
        std::printf("tsconv -t utf-8 on it, file to file: %.3f s\n", best);
    }
    return 0;
}
