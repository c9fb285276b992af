#include "control/convert/BlockAlignedWriter.h"

#include <algorithm>

#include "platform/FileCopy.h"

namespace spatialmux {

BlockAlignedWriter::BlockAlignedWriter(int inFd, int outFd, uint32_t blockSize, uint64_t limit,
                                       std::function<bool(uint64_t end)> ready,
                                       std::vector<output::ByteRange> untouchable)
    : inFd_(inFd),
      outFd_(outFd),
      block_(std::clamp<uint64_t>(blockSize, 512, 1u << 20)),
      limit_(limit),
      ready_(std::move(ready)),
      untouchable_(std::move(untouchable)) {
    pending_.reserve(kMaxRunBytes);
}

std::vector<output::ByteRange>::const_iterator BlockAlignedWriter::UntouchableAfter(
    uint64_t offset) const {
    return std::upper_bound(
        untouchable_.begin(), untouchable_.end(), offset,
        [](uint64_t value, const output::ByteRange& range) { return value < range.End(); });
}

output::ByteRange BlockAlignedWriter::Widened(uint64_t start, uint64_t end) const {
    uint64_t from = start / block_ * block_;
    uint64_t to = std::min(limit_, (end + block_ - 1) / block_ * block_);
    // The run itself lies between the untouchable bytes on either side.
    const auto kept = UntouchableAfter(start);
    if (kept != untouchable_.end()) to = std::min(to, std::max(kept->offset, end));
    if (kept != untouchable_.begin())
        from = std::max(from, std::min(std::prev(kept)->End(), start));
    return {from, to - from};
}

void BlockAlignedWriter::ReadAhead(const std::vector<output::ByteRange>& runs,
                                   std::function<uint64_t()> inPlace) {
    aheadBlocks_.clear();
    for (const output::ByteRange& run : runs) {
        if (run.size == 0 || run.offset > limit_ || run.size > limit_ - run.offset) continue;
        const output::ByteRange widened = Widened(run.offset, run.End());
        if (widened.offset % block_ != 0) aheadBlocks_.push_back(widened.offset / block_ * block_);
        if (widened.End() % block_ != 0) aheadBlocks_.push_back(widened.End() / block_ * block_);
    }
    std::sort(aheadBlocks_.begin(), aheadBlocks_.end());
    aheadBlocks_.erase(std::unique(aheadBlocks_.begin(), aheadBlocks_.end()), aheadBlocks_.end());
    aheadNext_ = 0;
    inPlace_ = std::move(inPlace);
}

void BlockAlignedWriter::IssueReadAhead() {
    if (!inPlace_ || aheadNext_ == aheadBlocks_.size()) return;
    const uint64_t inPlace = inPlace_();
    for (; aheadNext_ < aheadBlocks_.size() && aheadBlocks_[aheadNext_] + block_ <= inPlace;
         ++aheadNext_) {
        platform::ReadAhead(outFd_, aheadBlocks_[aheadNext_], block_);
    }
}

bool BlockAlignedWriter::Write(uint64_t offset, const uint8_t* bytes, std::size_t count) {
    if (offset > limit_ || count > limit_ - offset) return false;
    if (const auto next = UntouchableAfter(offset);
        count > 0 && next != untouchable_.end() && next->offset < offset + count) {
        return false;
    }
    const bool adjacent = !pending_.empty() && offset == start_ + pending_.size() &&
                          pending_.size() + count <= kMaxRunBytes;
    if (!adjacent) {
        if (!Flush()) return false;
        start_ = offset;
    }
    pending_.insert(pending_.end(), bytes, bytes + count);
    return true;
}

bool BlockAlignedWriter::ReadCurrent(uint64_t from, uint64_t to, uint8_t* into) const {
    // The input's bytes, then whatever this writer put over them (those
    // pages are in the cache: they were just written).
    if (!platform::ReadAllAt(inFd_, from, into, static_cast<std::size_t>(to - from))) return false;
    auto range = written_.upper_bound(from);
    if (range != written_.begin()) --range;
    for (; range != written_.end() && range->first < to; ++range) {
        const uint64_t a = std::max(from, range->first);
        const uint64_t b = std::min(to, range->second);
        if (a < b &&
            !platform::ReadAllAt(outFd_, a, into + (a - from), static_cast<std::size_t>(b - a))) {
            return false;
        }
    }
    return true;
}

bool BlockAlignedWriter::Flush() {
    if (pending_.empty()) return true;
    const uint64_t end = start_ + pending_.size();
    const output::ByteRange widened = Widened(start_, end);
    const uint64_t from = widened.offset;
    const uint64_t to = widened.End();
    bool written = ready_(to);
    if (written) {
        IssueReadAhead();
        widened_.resize(static_cast<std::size_t>(to - from));
        written = ReadCurrent(from, start_, widened_.data()) &&
                  ReadCurrent(end, to, widened_.data() + (end - from));
    }
    if (written) {
        std::copy(pending_.begin(), pending_.end(), widened_.begin() + (start_ - from));
        written = platform::WriteAllAt(outFd_, from, widened_.data(), widened_.size());
    }
    pending_.clear();
    if (!written) return false;
    writtenRanges_.push_back({from, to - from});
    // Kept merged: chunks that follow each other make one range.
    uint64_t a = start_;
    uint64_t b = end;
    auto next = written_.lower_bound(a);
    if (next != written_.begin()) {
        auto previous = std::prev(next);
        if (previous->second >= a) {
            a = previous->first;
            b = std::max(b, previous->second);
            next = written_.erase(previous);
        }
    }
    while (next != written_.end() && next->first <= b) {
        b = std::max(b, next->second);
        next = written_.erase(next);
    }
    written_[a] = b;
    return true;
}

}  // namespace spatialmux
