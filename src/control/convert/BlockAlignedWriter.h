#pragma once
// Writes the edit's converted audio into the output, a copy of the input, in
// whole blocks. The audio is gathered into runs of adjacent bytes; each run
// is widened to the blocks it touches and the widening filled with what the
// output holds there: the input's bytes (the copy's), or what this writer
// wrote before. A write that covers whole blocks needs nothing read back:
// on a clone, whose blocks are not in the page cache under the output's
// name, every partial block cost a read from the disk first (1,600 waits for
// a 1 GB movie's 800 chunks, about 0.08 s on XFS), and a copy-on-write file
// system unshares each block once. The widening never reaches into the
// bytes the writer is told to leave alone (the video samples): there it
// stops short of the block's edge, and a write into them is refused. The
// blocks that are then only partly written are read ahead in bulk, so that
// their writes do not each wait for the disk.

#include <cstdint>
#include <functional>
#include <map>
#include <vector>

#include "output/EditPlan.h"

namespace spatialmux {

class BlockAlignedWriter {
public:
    // `ready(end)` is asked before each write whether the output's first
    // `end` bytes are in place (the copy runs alongside); false stops.
    // Nothing is written at or beyond `limit` (the end of the copy), nor into
    // `untouchable` (as output::CoveredBytes gives it).
    BlockAlignedWriter(int inFd, int outFd, uint32_t blockSize, uint64_t limit,
                       std::function<bool(uint64_t end)> ready,
                       std::vector<output::ByteRange> untouchable = {});

    // Queues `count` bytes for `offset` (inside [0, limit), outside the
    // untouchable bytes); false when they are not, or when a write, a read
    // of the widening or `ready` failed.
    bool Write(uint64_t offset, const uint8_t* bytes, std::size_t count);
    // Writes what is queued.
    bool Flush();
    // The runs that will be written (as output::CoveredBytes gives them) and
    // how many of the output's first bytes are in place (the copy's
    // progress): the blocks they only partly fill are read ahead as soon as
    // they are in place.
    void ReadAhead(const std::vector<output::ByteRange>& runs, std::function<uint64_t()> inPlace);
    // Every range written so far, widening included, in the order written.
    const std::vector<output::ByteRange>& Written() const { return writtenRanges_; }

private:
    // Reads [from, to) of the output as it is now into `into`.
    bool ReadCurrent(uint64_t from, uint64_t to, uint8_t* into) const;
    // The first untouchable range that ends after `offset`.
    std::vector<output::ByteRange>::const_iterator UntouchableAfter(uint64_t offset) const;
    // The run [start, end) widened to whole blocks, short of the untouchable
    // bytes and the limit.
    output::ByteRange Widened(uint64_t start, uint64_t end) const;
    // Reads ahead the partly written blocks that are in place by now.
    void IssueReadAhead();

    static constexpr std::size_t kMaxRunBytes = 1u << 20;
    int inFd_;
    int outFd_;
    uint64_t block_;
    uint64_t limit_;
    std::function<bool(uint64_t end)> ready_;
    std::vector<output::ByteRange> untouchable_;
    uint64_t start_ = 0;
    std::vector<uint8_t> pending_;
    std::vector<uint8_t> widened_;
    std::map<uint64_t, uint64_t> written_;  // start -> end of each range written
    std::vector<output::ByteRange> writtenRanges_;
    std::vector<uint64_t> aheadBlocks_;  // partly written blocks, in order
    std::size_t aheadNext_ = 0;          // the first not read ahead yet
    std::function<uint64_t()> inPlace_;
};

}  // namespace spatialmux
