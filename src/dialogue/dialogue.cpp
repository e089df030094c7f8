#include "dialogue/dialogue.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdarg>
#include <cstring>

#include "dialogue/answer.h"
#include "dialogue/pipelines.h"
#include "tables/letter_table.h"

namespace toneshift {
namespace {

constexpr const char* kMenu[] = {
    "\nTONESHIFT converts Vietnamese text files between the following formats :\n\n",
    "\t0 - VISCII \t\t\t 7 - VN Thin-Art (PC)\n",
    "\t1 - VNCII (VPSWin)\t\t 8 - Viet-Toan\n",
    "\t2 - VPSedit (DOS)\t\t 9 - Plain Vietnamese\n",
    "\t3 - VNI\t\t\t\t10 - Standard VIQR\n",
    "\t4 - VNLab/VNU\n",
    "\t5 - VNU (Windows)\n",
    "\t6 - VN Thin-Art (Mac)\n\n",
};

constexpr int kHighestFormat = kViqr;
constexpr std::size_t kAnswerSize = 255;      // an answer holds at most 254 characters
constexpr std::size_t kOverwriteSize = 1024;  // read into the data buffer

// Everything the dialogue keeps for the whole run. Names and format numbers carry over from
// one cycle to the next; an answer without a name or number leaves them as they were.
struct DialogueState {
    char answer[256];
    char input_name[256];
    char output_name[256];
    int input_format;
    int output_format;
    bool error;
    mode_t new_file_mode;
    int viqr_context;
    ConversionBuffers buffers;
};

DialogueState state;

class Dialogue {
  public:
    Dialogue(std::FILE* in, std::FILE* out, std::FILE* err) : in_(in), out_(out), err_(err) {}

    int run() {
        state.answer[0] = state.input_name[0] = state.output_name[0] = '\0';
        state.input_format = state.output_format = -1;
        state.viqr_context = open_viqr_reader();
        while (cycle()) {
        }
        std::fflush(out_);
        return 0;
    }

  private:
    // One cycle; false when the dialogue ends.
    bool cycle() {
        for (const char* line : kMenu) std::fputs(line, out_);
        std::fputs("Input-file name (or Enter to quit): ", out_);
        read_line(state.answer, kAnswerSize);
        if (state.answer[0] == '\0') return false;
        take_word(state.answer, state.input_name);

        if (!ask("currently in the format number: ",
                 [](const char* a) { take_number(a, state.input_format); }))
            return false;
        if (!ask("\nOutput-file name: ", [](const char* a) { take_word(a, state.output_name); }))
            return false;
        if (!ask("to the format number: ",
                 [](const char* a) { take_number(a, state.output_format); }))
            return false;

        if (checks_pass()) convert();
        return true;
    }

    // Prints the question once and reads answers until one is not empty. False at the end
    // of the input, where no answer can come.
    template <typename Take>
    bool ask(const char* question, Take take) {
        std::fputs(question, out_);
        state.answer[0] = '\0';
        while (state.answer[0] == '\0') {
            if (read_line(state.answer, kAnswerSize) == AnswerRead::kEndOfInput) return false;
            take(state.answer);
        }
        return true;
    }

    AnswerRead read_line(char* line, std::size_t size) {
        std::fflush(out_);  // the question is on screen before the user types
        return read_answer(in_, line, size);
    }

    // Messages are printf-style, so that the compiler checks each against its arguments.
    [[gnu::format(printf, 2, 0)]] void vcomplain(const char* format, std::va_list args) {
        std::fflush(out_);  // keep the two streams in order on one terminal
        std::vfprintf(err_, format, args);
        std::fflush(err_);
    }

    [[gnu::format(printf, 2, 3)]] void complain(const char* format, ...) {
        std::va_list args;
        va_start(args, format);
        vcomplain(format, args);
        va_end(args);
    }

    // Runs every check, in order, whether or not an earlier one failed.
    bool checks_pass() {
        state.error = false;
        struct stat input_stat {};
        const bool input_exists = ::stat(state.input_name, &input_stat) == 0;
        if (!input_exists) {
            fail("cannot access \"%s\"\n", state.input_name);
        } else {
            if (S_ISDIR(input_stat.st_mode)) fail("\"%s\" is a directory\n", state.input_name);
            state.new_file_mode = input_stat.st_mode;
        }
        if (state.input_format < 0 || state.input_format > kHighestFormat)
            fail("the format number (%d) of input file is out of range [0 - %d]\n",
                 state.input_format, kHighestFormat);
        if (state.output_format < 0 || state.output_format > kHighestFormat)
            fail("the format number (%d) of output file is out of range [0 - %d]\n",
                 state.output_format, kHighestFormat);
        struct stat output_stat {};
        if (::stat(state.output_name, &output_stat) == 0) {
            if (S_ISDIR(output_stat.st_mode)) {
                fail("\"%s\" is a directory\n", state.output_name);
            } else if (input_exists && output_stat.st_dev == input_stat.st_dev &&
                       output_stat.st_ino == input_stat.st_ino) {
                // Creating the output would empty the input before it is read.
                fail("\"%s\" is the same file as \"%s\"\n", state.output_name, state.input_name);
            } else if (!overwrite_accepted()) {
                state.error = true;
            }
        }
        if (state.input_format == state.output_format)
            fail("Use \"cp\" to copy files of same formats\n");
        return !state.error;
    }

    [[gnu::format(printf, 2, 3)]] void fail(const char* format, ...) {
        std::va_list args;
        va_start(args, format);
        vcomplain(format, args);
        va_end(args);
        state.error = true;
    }

    bool overwrite_accepted() {
        complain("\"%s\" already exists. Overwrite it (y/n)? ", state.output_name);
        char* reply = reinterpret_cast<char*>(state.buffers.data);
        read_line(reply, kOverwriteSize);
        return reply[0] == 'y' || reply[0] == 'Y';
    }

    void convert() {
        const int input = ::open(state.input_name, O_RDONLY);
        if (input < 0) {
            complain("cannot open \"%s\"\n", state.input_name);
            return;
        }
        // A new file gets the input's permission bits, less the umask; never setuid,
        // setgid or sticky.
        const int output = ::creat(state.output_name, state.new_file_mode & 0777);
        if (output < 0) {
            complain(" cannot create \"%s\"\n", state.output_name);
            ::close(input);
            return;
        }
        // Plain Vietnamese has lost its diacritics: converting from it is a copy.
        if (state.input_format == kPlainVietnamese) state.output_format = kPlainVietnamese;

        Conversion outcome;
        if (state.input_format == kViqr) {
            outcome = convert_from_viqr(input, output, state.output_format, state.viqr_context,
                                        state.buffers);
        } else if (state.output_format == kViqr) {
            outcome = convert_to_viqr(input, output, state.input_format, state.buffers);
        } else {
            outcome =
                convert_8bit(input, output, state.input_format, state.output_format, state.buffers);
        }
        ::close(input);
        const bool closed = ::close(output) == 0;
        if (outcome == Conversion::kReadFailed) complain("cannot read \"%s\"\n", state.input_name);
        if (outcome == Conversion::kWriteFailed || !closed)
            complain("cannot write \"%s\"\n", state.output_name);
    }

    std::FILE* in_;
    std::FILE* out_;
    std::FILE* err_;
};

}  // namespace

int run_dialogue(std::FILE* in, std::FILE* out, std::FILE* err) {
    return Dialogue(in, out, err).run();
}

}  // namespace toneshift
