#include "repair/pipeline.h"

#include <algorithm>
#include <cstring>

#include "repair/text.h"

namespace toneshift::repair {

namespace {

constexpr char kUtf8Mark[] = "\xEF\xBB\xBF";
// The reading converter's output room: a piece of input is taken this much at a time.
constexpr std::size_t kReadPiece = std::size_t(64) << 10;

}  // namespace

TextPipeline::TextPipeline(const PipelineOptions& options) : options_(options) {
    if (options.place_tones) placer_.emplace(options.tones);
    if (options.source != kUtf8) {
        reader_.emplace(ConvertOptions{options.source, kUtf8, options.policy});
        decoded_.resize(kConvertGrowth * kReadPiece + kConvertSlack);
    }
    if (options.write_through_converter) {
        ConvertOptions w{kUtf8, options.target, options.policy};
        w.nfd = options.nfd;
        w.composite = options.composite;
        writer_.emplace(w);
        if (!writer_->ok()) status_ = Status::kNoForm;
        out_.resize(kConvertSlack);
    }
}

TextPipeline::Status TextPipeline::feed(const unsigned char* in, std::size_t size, bool last,
                                        std::string& out) {
    const Sink sink{[](void* context, const char* data, std::size_t n) {
                        static_cast<std::string*>(context)->append(data, n);
                    },
                    &out};
    return feed(in, size, last, sink);
}

TextPipeline::Status TextPipeline::feed(const unsigned char* in, std::size_t size, bool last,
                                        const Sink& sink) {
    sink_ = &sink;
    const Status s = take(in, size, last);
    sink_ = nullptr;
    return s;
}

TextPipeline::Status TextPipeline::take(const unsigned char* in, std::size_t size, bool last) {
    if (status_ != Status::kOk) return status_;
    if (reader_) {
        std::size_t done = 0;
        do {
            const std::size_t n = std::min(size - done, kReadPiece);
            const bool end = last && done + n == size;
            const ConvertResult r =
                reader_->convert(in + done, n, decoded_.data(), decoded_.size(), end);
            if (r.stop == ConvertResult::Stop::kRefused) return status_ = Status::kReaderRefused;
            pending_.append(reinterpret_cast<const char*>(decoded_.data()), r.written);
            done += r.consumed;
        } while (done < size);
    } else {
        pending_.append(reinterpret_cast<const char*>(in), size);
    }
    if (first_ && (pending_.size() >= 3 || last)) {
        first_ = false;
        if (pending_.compare(0, 3, kUtf8Mark) == 0) {
            pending_.erase(0, 3);
            // Written back as it was when the text goes out as it is.
            if (!writer_) put(kUtf8Mark, 3);
        }
    }
    if (first_) return status_;
    if (placer_ && !options_.repair) place_early();
    for (;;) {
        const std::size_t cut = next_cut(last);
        if (cut == 0) break;
        if (block(pending_.data(), cut) != Status::kOk) return status_;
        pending_.erase(0, cut);
    }
    if (last && writer_) {
        const ConvertResult r = writer_->convert(nullptr, 0, out_.data(), out_.size(), true);
        if (r.stop == ConvertResult::Stop::kRefused) return status_ = Status::kWriterRefused;
        put(out_.data(), r.written);
    }
    return status_;
}

// Where the next block ends: after the last line feed within kLongestBlock once a block's
// worth is pending; in a longer line, after the last space between two ASCII bytes (a place
// no garbled letter spans), or failing that at a character's start; at the end, everything
// left. 0: wait for more.
std::size_t TextPipeline::next_cut(bool last) const {
    if (pending_.empty() || (!last && pending_.size() < kBlockSize)) return 0;
    if (last && pending_.size() <= kLongestBlock) return pending_.size();
    const std::size_t nl = pending_.rfind('\n', kLongestBlock - 1);
    if (nl != std::string::npos) return nl + 1;
    if (!last && pending_.size() < kLongestBlock) return 0;
    const auto* p = reinterpret_cast<const unsigned char*>(pending_.data());
    for (std::size_t k = kLongestBlock - 1; k > kBlockSize; --k)
        if (p[k] == ' ' && p[k - 1] < 0x80 && p[k + 1] < 0x80) return k + 1;
    std::size_t cut = kLongestBlock;
    while (cut > kBlockSize && (p[cut] & 0xC0) == 0x80) --cut;
    return cut;
}

TextPipeline::Status TextPipeline::block(char* text, std::size_t size) {
    const std::uint64_t unrecovered = report_.unrecovered;
    char* ready = text;
    if (options_.repair) {
        repaired_.clear();
        repairer_.repair_block(std::string_view(text, size), line_, repaired_, report_);
        line_ += std::uint64_t(std::count(text, text + size, '\n'));
        ready = repaired_.data();
        size = repaired_.size();
    }
    const std::string_view view(ready, size);
    // A letter lost by the garbling is a loss: refused unless the policy replaces.
    if (report_.unrecovered != unrecovered && options_.policy == LossPolicy::kRefuse) {
        count_placed(view, 0);
        return status_ = Status::kUnrecovered;
    }
    if (!placer_) return write(view);
    written_ = 0;
    std::size_t flushed = 0;
    PlacedWord word;
    // The words placed as the text came in: those of another length go out between pieces.
    const std::size_t early = std::min(placed_, size);
    std::size_t taken = 0;
    for (; taken < early_.size() && early_[taken].end <= size; ++taken) {
        const PlacedWord& w = early_[taken];
        ++restyled_;
        if (w.size == w.end - w.start) continue;
        if (!emit(view.substr(flushed, w.start - flushed)) ||
            !emit(std::string_view(w.bytes, w.size))) {
            for (++taken; taken < early_.size() && early_[taken].end <= size; ++taken) ++restyled_;
            count_placed(view, early);
            return status_ = Status::kWriterRefused;
        }
        flushed = w.end;
    }
    early_.erase(early_.begin(), early_.begin() + std::ptrdiff_t(taken));
    for (PlacedWord& w : early_) {
        w.start -= size;
        w.end -= size;
    }
    placed_ -= early;
    // The rest, a piece at a time, from its scan to its conversion, while it is in the
    // processor's cache; the pieces end between words. A changed word as long as it was is
    // written over it in the block; the text around one of another length goes out in pieces.
    for (std::size_t from = early; from < size;) {
        const std::string_view piece = view.substr(0, piece_end(view, from));
        while (placer_->next(piece, from, word)) {
            ++restyled_;
            from = word.end;
            if (word.size == word.end - word.start) {
                std::memcpy(ready + word.start, word.bytes, word.size);
                continue;
            }
            if (!emit(view.substr(flushed, word.start - flushed)) ||
                !emit(std::string_view(word.bytes, word.size))) {
                count_placed(view, word.end);
                return status_ = Status::kWriterRefused;
            }
            flushed = word.end;
        }
        from = piece.size();
        if (!emit(view.substr(flushed, from - flushed))) {
            count_placed(view, from);
            return status_ = Status::kWriterRefused;
        }
        flushed = from;
    }
    if (!emit(view.substr(flushed)) || !convert_gathered()) return status_ = Status::kWriterRefused;
    put(out_.data(), written_);
    return status_;
}

// Without repair, the tones of the whole lines pending are placed as they come in, while
// they are in the processor's cache: a word of the same length is written over it, and each
// changed word is kept in early_ to be counted (and one of another length written) with its
// block. Only lines that no block can cut but at a line feed are placed: a block is cut
// elsewhere only in a run of kLongestBlock bytes without one, which text of fewer bytes since
// placed_ cannot hold.
void TextPipeline::place_early() {
    const std::size_t line_end = pending_.rfind('\n');
    if (line_end == std::string::npos || line_end < placed_ ||
        line_end + 1 - placed_ >= kLongestBlock)
        return;
    const std::string_view lines(pending_.data(), line_end + 1);
    PlacedWord word;
    for (std::size_t from = placed_; placer_->next(lines, from, word); from = word.end) {
        if (word.size == word.end - word.start)
            std::memcpy(pending_.data() + word.start, word.bytes, word.size);
        early_.push_back(word);
    }
    placed_ = line_end + 1;
}

// Where the piece of `text` from `from` ends: about kPiece bytes on, after a byte that is no
// part of a word (or before one), so that no word spans two pieces.
std::size_t TextPipeline::piece_end(std::string_view text, std::size_t from) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    if (text.size() - from <= kPiece) return text.size();
    std::size_t end = from + kPiece;
    while (end > from && word_byte(p[end - 1])) --end;
    if (end > from) return end;
    end = from + kPiece;
    while (end < text.size() && word_byte(p[end])) ++end;
    return end;
}

bool TextPipeline::emit(std::string_view piece) {
    if (writer_) {
        // A converter call costs about what copying a kilobyte does: short pieces (changed
        // words, and the text between two close together) are gathered for one call.
        if (piece.size() >= kGathered) return convert_gathered() && convert(piece);
        gathered_.append(piece);
        return gathered_.size() < kPiece || convert_gathered();
    }
    // Without a writer the pieces are gathered, to go out with the block.
    reserve(piece.size());
    std::memcpy(out_.data() + written_, piece.data(), piece.size());
    written_ += piece.size();
    return true;
}

TextPipeline::Status TextPipeline::write(std::string_view text) {
    if (!writer_) {
        put(text.data(), text.size());
        return status_;
    }
    written_ = 0;
    if (!convert(text)) return status_ = Status::kWriterRefused;
    put(out_.data(), written_);
    return status_;
}

bool TextPipeline::convert_gathered() {
    const bool ok = convert(gathered_);
    gathered_.clear();
    return ok;
}

void TextPipeline::reserve(std::size_t size) {
    const std::size_t room = written_ + size + kConvertSlack;
    if (out_.size() < room) out_.resize(std::max(room, out_.size() + out_.size() / 2));
}

void TextPipeline::put(const void* data, std::size_t size) {
    if (size != 0) sink_->write(sink_->context, static_cast<const char*>(data), size);
}

bool TextPipeline::convert(std::string_view piece) {
    if (piece.empty()) return true;
    reserve(kConvertGrowth * piece.size());
    const ConvertResult r =
        writer_->convert(reinterpret_cast<const unsigned char*>(piece.data()), piece.size(),
                         out_.data() + written_, out_.size() - written_, false);
    written_ += r.written;
    return r.stop != ConvertResult::Stop::kRefused;
}

void TextPipeline::count_placed(std::string_view text, std::size_t from) {
    if (!placer_) return;
    PlacedWord word;
    for (; placer_->next(text, from, word); from = word.end) ++restyled_;
}

std::string garbled_state(std::string_view head, int format) {
    std::string decoded;
    if (format != kUtf8) {
        // UTF-16 read into UTF-8 first, as repair reads it.
        Converter reader(ConvertOptions{format, kUtf8, LossPolicy::kReplace});
        std::vector<unsigned char> out(kConvertGrowth * head.size() + kConvertSlack);
        const ConvertResult r = reader.convert(reinterpret_cast<const unsigned char*>(head.data()),
                                               head.size(), out.data(), out.size(), true);
        decoded.assign(reinterpret_cast<const char*>(out.data()), r.written);
        head = decoded;
    }
    const std::size_t last_line = head.rfind('\n');
    if (last_line != std::string_view::npos && last_line + 1 < head.size())
        head = head.substr(0, last_line + 1);
    Repairer repairer;
    RepairReport report;
    std::string repaired;
    repairer.repair_block(head, 1, repaired, report);
    return report.ranges.empty() ? std::string() : describe(report.ranges.front().reading);
}

}  // namespace toneshift::repair
