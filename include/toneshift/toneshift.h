/* toneshift: Vietnamese text between its legacy encodings, VIQR and Unicode.
 *
 * Plain C, usable from C++ and any foreign-function interface. Every function returns a
 * status (TS_OK, or a negative TS_ERR_* that ts_status_message() puts in words) unless it
 * says otherwise; nothing is global, and objects are independent: separate converters,
 * detections and document conversions may run in separate threads at once. One object is
 * used by one thread at a time. Memory the library returns is freed with ts_free(). */
#ifndef TONESHIFT_TONESHIFT_H
#define TONESHIFT_TONESHIFT_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define TS_VERSION_MAJOR 1
#define TS_VERSION_MINOR 0
#define TS_VERSION_PATCH 0

/* The library's version, "1.0.0". */
const char* ts_version(void);

/* ---- Status codes ---- */
enum {
    TS_OK = 0,
    TS_ERR_ARGUMENT = -1, /* a null pointer, an unknown format, options that do not go together */
    TS_ERR_REFUSED = -2,  /* TS_STRICT met a loss or undefined input: see the first problem */
    TS_ERR_MEMORY = -3,   /* memory ran out */
    TS_ERR_IO = -4,       /* a file could not be read or written (errno has the cause) */
    TS_ERR_DOCUMENT = -5, /* not a document, a broken one, or a kind this library cannot write */
    TS_ERR_STATE = -6     /* a call out of order: input after the last piece */
};
/* A status in words ("options that do not go together"); never NULL. */
const char* ts_status_message(int status);
/* Frees memory the library returned (NULL is fine). */
void ts_free(void* memory);

/* ---- Formats ---- */
/* The formats are numbered 0..ts_format_count()-1: the 8-bit encodings, VIQR, UTF-8, the
 * byte encodings of real files (TCVN3, VNI for Windows, Windows-1258, ...), UTF-16 and HTML
 * references. */
int ts_format_count(void);
/* The name scripts use ("tcvn3", "vni-win", "utf-8"), or NULL for a number out of range. */
const char* ts_format_name(int format);
/* A description for people ("TCVN3 (ABC, .VnTime)"), or NULL. */
const char* ts_format_description(int format);
enum {
    TS_VISCII = 0,
    TS_VNCII = 1,
    TS_VPSEDIT = 2,
    TS_VNI = 3,
    TS_VNLAB = 4,
    TS_VNU_WIN = 5,
    TS_THINART_MAC = 6,
    TS_THINART_PC = 7,
    TS_VIET_TOAN = 8,
    TS_PLAIN = 9,
    TS_VIQR = 10,
    TS_UTF8 = 11,
    TS_TCVN3 = 12,
    TS_TCVN3_CAPS = 13,
    TS_TCVN3_VNCAPS = 14,
    TS_VNI_WIN = 15,
    TS_VNI_MAC = 16,
    TS_CP1258 = 17,
    TS_VN1 = 18,
    TS_BKHCM2 = 19,
    TS_VIETWARE_F = 20,
    TS_VIETWARE_X = 21,
    TS_UTF16 = 22,
    TS_UTF16LE = 23,
    TS_UTF16BE = 24,
    TS_NCR = 25
};
/* The number of a name or alias, ignoring case ("UTF8", "abc", "windows-1258"); -1 if none. */
int ts_format_by_name(const char* name);
/* Whether a format is a Unicode encoding (UTF-8, UTF-16, references): 1 or 0. */
int ts_format_is_unicode(int format);

/* ---- Options ---- */
enum { TS_STRICT = 0, TS_REPLACE = 1, TS_TRANSLIT = 2 };        /* policy */
enum { TS_NFC = 0, TS_NFD = 1, TS_COMPOSITE = 2 };              /* Unicode form */
enum { TS_TONES_KEEP = 0, TS_TONES_OLD = 1, TS_TONES_NEW = 2 }; /* tone style */

typedef struct ts_options {
    int from;       /* a format number */
    int to;         /* a format number */
    int policy;     /* TS_STRICT refuses at the first loss; TS_REPLACE writes "?" or U+FFFD;
                       TS_TRANSLIT first writes typographic punctuation as ASCII */
    int form;       /* for a Unicode target: TS_NFC, TS_NFD or TS_COMPOSITE */
    int tone_style; /* TS_TONES_KEEP, or the tone mark of oa, oe, uy written on the first
                       vowel (TS_TONES_OLD, VIQR "ho`a") or the second (TS_TONES_NEW, "hoa`") */
    int fix_tones;  /* not 0: misplaced tone marks moved (VIQR "ho.at" to "hoa.t") */
    int repair;     /* not 0: garbled text (UTF-8 read as Windows-1252 and saved again, ...)
                       repaired, in whole lines; `from` says how its bytes are read, usually
                       TS_UTF8 or a UTF-16 format. A letter the garbling lost is a problem of
                       kind TS_PROBLEM_UNRECOVERED: refused by TS_STRICT, else U+FFFD */
} ts_options;
/* Fills `options` for a conversion from `from` to `to`: strict, NFC, tones kept. */
void ts_options_init(ts_options* options, int from, int to);

/* ---- Problems ---- */
enum { TS_PROBLEM_LOSS = 0, TS_PROBLEM_UNDEFINED = 1, TS_PROBLEM_UNRECOVERED = 2 };
typedef struct ts_problem {
    int kind;               /* a character the target cannot write, input without meaning, or
                               (repair) a letter the garbling lost: only line and column then */
    uint64_t offset;        /* of its first byte in the input, from 0 */
    uint64_t line;          /* from 1 */
    uint64_t column;        /* in characters, from 1 */
    uint32_t character;     /* TS_PROBLEM_LOSS: the character */
    unsigned char bytes[4]; /* TS_PROBLEM_UNDEFINED: the bytes */
    int byte_count;
} ts_problem;

/* ---- Streaming conversion ---- */
typedef struct ts_converter ts_converter;
enum { TS_STOP_INPUT_USED = 0, TS_STOP_OUTPUT_FULL = 1, TS_STOP_REFUSED = 2 };

/* Makes a converter; *converter is NULL unless TS_OK. */
int ts_converter_new(const ts_options* options, ts_converter** converter);
void ts_converter_free(ts_converter* converter);
/* Converts the next piece of input into out[0..out_size). Any room of 1 byte or more makes
 * progress; with 64 KiB or more the conversion is written in place, with less it passes
 * through a buffer of the converter. `last` not 0 says no input follows, and what is held
 * back is written then. Sets *consumed (bytes of `in` taken), *written and *stop:
 * TS_STOP_INPUT_USED (all of `in` taken; after the last piece, everything written),
 * TS_STOP_OUTPUT_FULL (call again with the rest of `in`, possibly none, and the same `last`)
 * or TS_STOP_REFUSED (TS_STRICT met a problem: the status is TS_ERR_REFUSED, and nothing more
 * converts until ts_converter_reset). However the input is split, the output is the same. */
int ts_convert(ts_converter* converter, const void* in, size_t in_size, void* out, size_t out_size,
               int last, size_t* consumed, size_t* written, int* stop);
/* Starts another input for the same converter (offsets, lines and problems from 0). */
int ts_converter_reset(ts_converter* converter);
/* Problems met in the current input so far. With repair or tone placement, the text goes
 * through UTF-8: a problem of writing the target is placed in that text. */
uint64_t ts_converter_problem_count(const ts_converter* converter);
/* The first of them: TS_OK and *problem filled, or TS_ERR_STATE when there is none. */
int ts_converter_first_problem(const ts_converter* converter, ts_problem* problem);
/* The distinct characters lost so far, most frequent first: up to `capacity` of them into
 * characters[] and counts[] (either may be NULL); returns how many distinct there are. */
size_t ts_converter_lost(const ts_converter* converter, uint32_t* characters, uint64_t* counts,
                         size_t capacity);
/* Syllables whose tone mark was moved (tone_style or fix_tones). */
uint64_t ts_converter_tones_changed(const ts_converter* converter);
/* With repair: characters in repaired lines, letters that could not be recovered (left as
 * U+FFFD), and the readings undone in words ("utf-8 read as windows-1252"; "" when nothing
 * was repaired, valid until the next call on the converter). */
uint64_t ts_converter_repaired(const ts_converter* converter);
uint64_t ts_converter_unrecovered(const ts_converter* converter);
const char* ts_converter_repair_summary(const ts_converter* converter);

/* ---- One call ---- */
/* Converts in[0..in_size) whole into a buffer the library allocates: *out (free it with
 * ts_free; one byte past the end is 0) and *out_size. Under TS_STRICT a problem gives
 * TS_ERR_REFUSED and no output. `problem` (may be NULL) receives the first problem and
 * `problem_count` (may be NULL) their number, under every policy. */
int ts_convert_buffer(const ts_options* options, const void* in, size_t in_size, char** out,
                      size_t* out_size, ts_problem* problem, uint64_t* problem_count);

/* ---- Detection ---- */
enum { TS_DETECT_FORMAT = 0, TS_DETECT_UNKNOWN = 1, TS_DETECT_MIXED = 2 };
typedef struct ts_detection ts_detection;
/* Decides which format data[0..size) is in. For a UTF-8 or UTF-16 text that was garbled
 * once or twice, the summary says so and ts_detection_garbled() is 1. */
int ts_detect(const void* data, size_t size, ts_detection** detection);
void ts_detection_free(ts_detection* detection);
/* TS_DETECT_FORMAT, TS_DETECT_UNKNOWN or TS_DETECT_MIXED. */
int ts_detection_verdict(const ts_detection* detection);
/* TS_DETECT_FORMAT: the format; otherwise -1. */
int ts_detection_format(const ts_detection* detection);
/* In words, as tsconv --detect prints it: "tcvn3 (98% of 40 words ...)", "unknown (...)". */
const char* ts_detection_summary(const ts_detection* detection);
/* 1 when the text is UTF-8 or UTF-16 garbled by a wrong reading (ts_options.repair undoes
 * it), else 0. */
int ts_detection_garbled(const ts_detection* detection);
/* The formats in question (unknown or mixed text): how many, and the i-th (-1 past the end). */
size_t ts_detection_candidate_count(const ts_detection* detection);
int ts_detection_candidate(const ts_detection* detection, size_t i);
/* A mixed text's line ranges: how many, and the i-th (TS_ERR_ARGUMENT past the end). */
size_t ts_detection_range_count(const ts_detection* detection);
int ts_detection_range(const ts_detection* detection, size_t i, uint64_t* first_line,
                       uint64_t* last_line, int* format);

/* ---- Documents ---- */
/* Word, Excel, PowerPoint (Office Open XML), OpenDocument and RTF documents whose text is in
 * legacy fonts (.VnTime, VNI-Times): each piece of text is read in the encoding its font
 * names, made Unicode, and its font replaced; everything else stays as it was. */
typedef struct ts_document_options {
    int policy;               /* TS_STRICT, TS_REPLACE or TS_TRANSLIT, for undefined bytes */
    int form;                 /* TS_NFC, TS_NFD or TS_COMPOSITE */
    const char* unicode_font; /* the font put in every legacy font's place, or NULL: by kind */
    const char* font_map;     /* font map text ("PATTERN ENCODING [FONT]" lines), or NULL */
} ts_document_options;
void ts_document_options_init(ts_document_options* options);
typedef struct ts_document_report {
    uint64_t problem_count; /* undefined bytes met (replaced unless TS_STRICT) */
    uint64_t parts_changed; /* parts of the package rewritten */
    uint64_t fonts;         /* distinct legacy fonts met */
    uint64_t left;          /* pieces left as they were: their bytes read as another encoding */
} ts_document_report;
/* Converts a document in memory into a new one the library allocates (*out, *out_size; free
 * with ts_free). `report` and `message` may be NULL; *message, when set, explains a failure
 * in words (free with ts_free). */
int ts_convert_document(const void* in, size_t in_size, const ts_document_options* options,
                        char** out, size_t* out_size, ts_document_report* report, char** message);
/* The same from file `source` to file `destination`, written through a temporary file in its
 * folder and renamed: on failure nothing is left and an existing destination is unchanged. */
int ts_convert_document_file(const char* source, const char* destination,
                             const ts_document_options* options, ts_document_report* report,
                             char** message);

#ifdef __cplusplus
}
#endif

#endif /* TONESHIFT_TONESHIFT_H */
