#include "repair/pipeline.h"

#include <algorithm>
#include <cstring>

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
            if (!writer_) out.append(kUtf8Mark, 3);
        }
    }
    if (first_) return status_;
    for (;;) {
        const std::size_t cut = next_cut(last);
        if (cut == 0) break;
        if (block(pending_.data(), cut, out) != Status::kOk) return status_;
        pending_.erase(0, cut);
    }
    if (last && writer_) {
        const ConvertResult r = writer_->convert(nullptr, 0, out_.data(), out_.size(), true);
        if (r.stop == ConvertResult::Stop::kRefused) return status_ = Status::kWriterRefused;
        out.append(reinterpret_cast<const char*>(out_.data()), r.written);
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

TextPipeline::Status TextPipeline::block(char* text, std::size_t size, std::string& out) {
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
    if (!placer_) return write(view, out);
    // A changed word as long as it was is written over it in the block; the text around
    // one of another length goes out in pieces.
    written_ = 0;
    std::size_t from = 0, flushed = 0;
    PlacedWord word;
    while (placer_->next(view, from, word)) {
        ++restyled_;
        from = word.end;
        if (word.size == word.end - word.start) {
            std::memcpy(ready + word.start, word.bytes, word.size);
            continue;
        }
        if (!emit(view.substr(flushed, word.start - flushed), out) ||
            !emit(std::string_view(word.bytes, word.size), out)) {
            count_placed(view, word.end);
            return status_ = Status::kWriterRefused;
        }
        flushed = word.end;
    }
    if (!emit(view.substr(flushed), out)) return status_ = Status::kWriterRefused;
    if (writer_) out.append(reinterpret_cast<const char*>(out_.data()), written_);
    return status_;
}

bool TextPipeline::emit(std::string_view piece, std::string& out) {
    if (writer_) return convert(piece);
    out.append(piece);
    return true;
}

TextPipeline::Status TextPipeline::write(std::string_view text, std::string& out) {
    if (!writer_) {
        out.append(text);
        return status_;
    }
    written_ = 0;
    if (!convert(text)) return status_ = Status::kWriterRefused;
    out.append(reinterpret_cast<const char*>(out_.data()), written_);
    return status_;
}

bool TextPipeline::convert(std::string_view piece) {
    if (piece.empty()) return true;
    const std::size_t room = written_ + kConvertGrowth * piece.size() + kConvertSlack;
    if (out_.size() < room) out_.resize(std::max(room, out_.size() + out_.size() / 2));
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
