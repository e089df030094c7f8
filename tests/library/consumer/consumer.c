/* A program of the library's users, in plain C99: it includes the installed header, links the
 * installed library (shared or static), and prints what it converts, for consumer_test.sh to
 * compare. Exit status 1 and a message on standard error when a call fails. */
#include <stdio.h>
#include <string.h>
#include <toneshift/toneshift.h>

static int failed(const char* what, int status) {
    fprintf(stderr, "consumer: %s: %s\n", what, ts_status_message(status));
    return 1;
}

/* "Tieng Viet co dau", with its marks, in TCVN3 (ABC, .VnTime): one byte a letter. */
static const char tcvn3_text[] = "Ti\xD5ng Vi\xD6t c\xE3 d\xCAu";
/* "Xin chao the gioi. Duong pho Ha Noi", with its marks, in VNI for Windows: a marked letter
 * is its base letter and one or two bytes after it, so a piece may end inside a letter. */
static const char vni_text[] =
    "Xin cha\xF8o the\xE1 gi\xF4\xF9i. \xD1\xF6\xF4\xF8ng pho\xE1 Ha\xF8 No\xE4i";

/* The VNI text fed one byte at a time, into an output buffer that starts at four bytes (one
 * UTF-8 character at most) and, as the header asks, is given more room whenever a call can
 * neither take input nor write; then drained. */
static int convert_streamed(char* result, size_t capacity, size_t* result_size) {
    ts_options options;
    ts_options_init(&options, TS_VNI_WIN, TS_UTF8);
    ts_converter* converter = NULL;
    int status = ts_converter_new(&options, &converter);
    if (status != TS_OK) return failed("ts_converter_new", status);
    const size_t size = strlen(vni_text);
    size_t position = 0;
    static char out[8192];
    size_t room = 4;
    *result_size = 0;
    for (;;) {
        const size_t piece = position < size ? 1 : 0;
        const int last = position + piece == size;
        size_t consumed = 0;
        size_t written = 0;
        int stop = 0;
        status = ts_convert(converter, vni_text + position, piece, out, room, last, &consumed,
                            &written, &stop);
        if (status != TS_OK) {
            ts_converter_free(converter);
            return failed("ts_convert", status);
        }
        if (written > capacity - *result_size) {
            ts_converter_free(converter);
            fprintf(stderr, "consumer: ts_convert wrote more than the text\n");
            return 1;
        }
        memcpy(result + *result_size, out, written);
        *result_size += written;
        position += consumed;
        if (last && position == size && stop == TS_STOP_INPUT_USED) break;
        if (stop == TS_STOP_OUTPUT_FULL && consumed == 0 && written == 0) {
            if (room == sizeof out) {
                ts_converter_free(converter);
                fprintf(stderr, "consumer: ts_convert wants more than %zu bytes\n", room);
                return 1;
            }
            room *= 2;
        }
    }
    ts_converter_free(converter);
    return 0;
}

int main(void) {
    printf("header %d.%d.%d, library %s\n", TS_VERSION_MAJOR, TS_VERSION_MINOR, TS_VERSION_PATCH,
           ts_version());

    ts_options options;
    ts_options_init(&options, ts_format_by_name("abc"), TS_UTF8);
    char* out = NULL;
    size_t out_size = 0;
    int status =
        ts_convert_buffer(&options, tcvn3_text, strlen(tcvn3_text), &out, &out_size, NULL, NULL);
    if (status != TS_OK) return failed("ts_convert_buffer", status);
    printf("%s -> %s: %.*s\n", ts_format_name(options.from), ts_format_name(options.to),
           (int)out_size, out);
    ts_free(out);

    char streamed[256];
    size_t streamed_size = 0;
    if (convert_streamed(streamed, sizeof streamed, &streamed_size) != 0) return 1;
    printf("%s -> %s, a byte at a time: %.*s\n", ts_format_name(TS_VNI_WIN),
           ts_format_name(TS_UTF8), (int)streamed_size, streamed);

    /* A snowman has no TCVN3 byte: strict conversion refuses and names it. */
    static const char snowman[] = "ab \xE2\x98\x83";
    ts_options_init(&options, TS_UTF8, TS_TCVN3);
    ts_problem problem;
    uint64_t problems = 0;
    out = NULL;
    status =
        ts_convert_buffer(&options, snowman, strlen(snowman), &out, &out_size, &problem, &problems);
    if (status != TS_ERR_REFUSED || out != NULL) {
        ts_free(out);
        fprintf(stderr, "consumer: the snowman was not refused\n");
        return 1;
    }
    printf("utf-8 -> tcvn3: refused, U+%04lX at line %lu, column %lu, %lu problem\n",
           (unsigned long)problem.character, (unsigned long)problem.line,
           (unsigned long)problem.column, (unsigned long)problems);
    return 0;
}
