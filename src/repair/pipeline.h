// Text read in any format, repaired and its tone marks placed as asked, then written in any
// format: the reading converter into UTF-8, the repair and the tone placement a block of
// whole lines at a time, the writing converter out of UTF-8. Memory stays bounded whatever
// the text's size: a block is at most kLongestBlock bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "convert/converter.h"
#include "repair/repair.h"
#include "repair/tone_style.h"

namespace toneshift::repair {

struct PipelineOptions {
    int source = kUtf8;  // how the input's bytes are read
    int target = kUtf8;
    // Whether the UTF-8 text goes through a writing converter (into `target`, in the form
    // asked). Without it, it is written as it is, byte for byte where nothing changed.
    bool write_through_converter = true;
    LossPolicy policy = LossPolicy::kRefuse;  // for both converters, and for lost letters
    bool nfd = false;
    bool composite = false;
    bool repair = false;
    bool place_tones = false;  // with `tones`
    ToneOptions tones;
};

class TextPipeline {
  public:
    enum class Status {
        kOk,
        kUnrecovered,    // under kRefuse, a letter the garbling lost: see report()
        kReaderRefused,  // under kRefuse, undefined input: see reader()
        kWriterRefused,  // under kRefuse, a character the target cannot write: see writer()
        kNoForm,         // a Unicode form asked of a target that has none
    };

    explicit TextPipeline(const PipelineOptions& options);
    // kOk, or kNoForm when the writing converter cannot be made.
    Status status() const { return status_; }

    // Takes the next piece of input (all of it), and appends to `out` what is ready: whole
    // blocks, and with `last` everything. After a status other than kOk nothing more is
    // taken; `out` holds what came before the refusal.
    Status feed(const unsigned char* in, std::size_t size, bool last, std::string& out);
    // The same, handing what is ready to `sink` as it comes, in order, straight from the
    // pipeline's buffers (no copy).
    struct Sink {
        void (*write)(void* context, const char* data, std::size_t size);
        void* context;
    };
    Status feed(const unsigned char* in, std::size_t size, bool last, const Sink& sink);

    const RepairReport& report() const { return report_; }
    std::uint64_t restyled() const { return restyled_; }
    const Converter* reader() const { return reader_ ? &*reader_ : nullptr; }
    const Converter* writer() const { return writer_ ? &*writer_ : nullptr; }

    // Text is repaired in blocks of whole lines of about kBlockSize; a line longer than
    // kLongestBlock is cut where no garbled letter spans the cut.
    static constexpr std::size_t kBlockSize = std::size_t(1) << 20;
    static constexpr std::size_t kLongestBlock = std::size_t(4) << 20;

  private:
    std::size_t next_cut(bool last) const;
    Status take(const unsigned char* in, std::size_t size, bool last);
    // Repairs and places the tones of text[0, size) (the block, which may be written over),
    // and writes it.
    Status block(char* text, std::size_t size);
    void place_early();
    // Tones are placed and written a piece of about kPiece bytes at a time.
    static constexpr std::size_t kPiece = std::size_t(64) << 10;
    static std::size_t piece_end(std::string_view text, std::size_t from);
    // Writes a piece of a block into out_ after written_, through the writer when there is
    // one; false when it refuses.
    bool emit(std::string_view piece);
    // Writes `text` to the sink, through the writer when there is one.
    Status write(std::string_view text);
    // Makes out_ hold `size` more bytes after written_, and the converter's slack.
    void reserve(std::size_t size);
    void put(const void* data, std::size_t size);
    // Converts `piece` with the writer into out_ after written_; false when it refuses.
    bool convert(std::string_view piece);
    // Converts what emit() gathered.
    bool convert_gathered();
    static constexpr std::size_t kGathered = 2048;
    // Counts into restyled_ the words of `text` from `from` on whose mark moves (the rest
    // of a block that is not written).
    void count_placed(std::string_view text, std::size_t from);

    PipelineOptions options_;
    Status status_ = Status::kOk;
    std::optional<Converter> reader_, writer_;
    Repairer repairer_;
    std::optional<TonePlacer> placer_;
    RepairReport report_;
    std::string pending_, repaired_;
    std::string gathered_;  // short pieces of a block, for one converter call
    std::vector<unsigned char> decoded_, out_;
    std::size_t written_ = 0;        // of out_, in the block in hand
    std::size_t placed_ = 0;         // pending_ up to here has its tones placed
    std::vector<PlacedWord> early_;  // the changed words before placed_, in order
    const Sink* sink_ = nullptr;     // during feed()
    std::uint64_t restyled_ = 0;
    std::uint64_t line_ = 1;
    bool first_ = true;
};

// For --detect and the library: what garbling the first part of a UTF-8 or UTF-16 text
// (`format`) shows, in words ("utf-8 read as windows-1252"), or empty when repair would
// change none of it.
std::string garbled_state(std::string_view head, int format);

}  // namespace toneshift::repair
