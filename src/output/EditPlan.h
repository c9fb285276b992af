#pragma once
// What an in-place edit of a copy of the input must do to its top-level
// boxes: how much of the input the copy needs (up to the end of the media
// data; the old moov and the camera's private boxes behind it are left out),
// which boxes in front of that end must become `free` (an old moov or a
// private box the camera wrote before the media data), which size fields it
// sets (a media box that ran to the end of the file, which the new moov
// follows), and where the ftyp and the old moov lie. Also the proof that an
// edit needs before it writes: every audio write lies inside the media data
// without overlapping another or a video sample, and every video sample lies
// where the copy keeps the input's bytes.

#include <cstdint>
#include <istream>
#include <optional>
#include <string>
#include <vector>

namespace spatialmux::output {

struct ByteRange {
    uint64_t offset = 0;
    uint64_t size = 0;

    uint64_t End() const { return offset + size; }
    bool operator==(const ByteRange&) const = default;
};

// Bytes written over the copy at `offset`.
struct BytePatch {
    uint64_t offset = 0;
    std::vector<uint8_t> bytes;
};

struct EditPlan {
    ByteRange ftyp;
    ByteRange moov;                 // the old one, whole, 32-bit size
    uint64_t copyLength = 0;        // bytes of the input the output starts from
    std::vector<ByteRange> blanks;  // boxes in [0, copyLength) that become `free`
    std::vector<ByteRange> media;   // mdat payloads
    // The size field of a last mdat that said "to the end of the file": the
    // new moov follows it in the output.
    std::vector<BytePatch> sizes;

    // What the edit writes over the copy besides the audio: the ftyp, the
    // blanks and the size fields.
    std::vector<ByteRange> Rewritten() const;
};

// The largest old moov the edit reads into memory, and the largest ftyp it
// rewrites (a real one has a few brands).
inline constexpr uint64_t kMaxEditedMoovBytes = 256ull << 20;
inline constexpr uint64_t kMaxEditedFtypBytes = 4096;

// Walks the top-level boxes of `file` (`fileSize` bytes). Nothing, with the
// cause in `error`, when a box is damaged or cut short, there are more than
// kMaxTopLevelBoxes, the first box is not an ftyp, the movie is fragmented
// (moof), there is not exactly one moov or no mdat, the ftyp or the moov is
// too large, a last mdat that runs to the end of the file is too large for a
// 32-bit size, or a box that libavformat reads into at the top level (a
// udta, a trak and the like) lies in front of the moov: players would read
// a moov nested in it, not the one the edit rewrites.
std::optional<EditPlan> PlanEdit(std::istream& file, uint64_t fileSize, std::string* error);

// The proof, from the video samples as the copied video track places them
// and the audio writes as the frame reading will make them: every audio
// write lies inside the media data (ChunksFitMedia), no audio write touches
// a video sample, and every video sample lies inside the copy and outside
// what the edit rewrites there (Rewritten). True when the edit may run; else
// false with the cause in `error`.
bool ProveEdit(const EditPlan& plan, const std::vector<ByteRange>& videoSamples,
               const std::vector<ByteRange>& audioWrites, std::string* error);

// The bytes `ranges` cover, as ranges in offset order that neither overlap
// nor touch; empty ranges cover nothing.
std::vector<ByteRange> CoveredBytes(std::vector<ByteRange> ranges);

// The first byte that both `a` and `b` cover (each as CoveredBytes gives
// them); nothing when they share none.
std::optional<uint64_t> FirstSharedByte(const std::vector<ByteRange>& a,
                                        const std::vector<ByteRange>& b);

// True when `covered` (as CoveredBytes gives it) covers [offset, offset +
// size) whole.
bool Covers(const std::vector<ByteRange>& covered, uint64_t offset, uint64_t size);

// True when every chunk [offsets[i], offsets[i] + bytes[i]) lies inside one
// media payload of `plan` and no two chunks overlap; else false with the
// cause in `error`.
bool ChunksFitMedia(const EditPlan& plan, const std::vector<uint64_t>& offsets,
                    const std::vector<uint64_t>& bytes, std::string* error);

// True when [offset, offset + size) lies inside one media payload of `plan`.
bool InsideMedia(const EditPlan& plan, uint64_t offset, uint64_t size);

// The header that turns the box `range` into a `free` box of the same size
// (8 bytes; a box of 16 or more bytes with a 64-bit size keeps that form).
std::vector<uint8_t> FreeBoxHeader(const ByteRange& range);

}  // namespace spatialmux::output
