#include "control/job/SpaceNeeded.h"

#include <algorithm>
#include <fstream>

#include "audio/WavWriter.h"
#include "movie/AudioFrame.h"
#include "movie/MovieReader.h"
#include "output/EditPlan.h"
#include "platform/BlockSharing.h"
#include "platform/FileCopy.h"
#include "platform/FileFacts.h"

namespace spatialmux {

namespace {

// The new moov replaces the camera's private tables by an audio track of its
// own: never larger than twice the old moov plus this.
constexpr uint64_t kMoovAllowance = 1u << 20;

// Room the remux keeps beyond what it writes for certain: the muxer's own
// index and the file system's blocks for the files' extents. A fixed part
// and one percent of the input.
constexpr uint64_t kRemuxMargin = 16u << 20;
constexpr uint64_t kRemuxMarginPerCent = 100;

// The audio as the WAV holds it: 16-bit samples of every channel.
uint64_t AudioBytes(const MovieReader& reader) {
    const AudioTrackInfo& track = reader.Track();
    return static_cast<uint64_t>(std::max<int64_t>(reader.TableSamples(), 0)) *
           static_cast<uint64_t>(std::max(track.channelCount, 0)) * 2;
}

}  // namespace

uint64_t SpaceNeeded(const std::string& input, const std::string& outputFolder,
                     const MovieReader& reader, bool edit) {
    const uint64_t size = platform::CurrentFileFacts().Size(input).value_or(0);
    // The remux writes the output (the input's video and audio once more; an
    // encoded audio track is smaller) while the temporary WAV is still
    // there; the WAV is removed before the metadata step.
    const uint64_t audio = AudioBytes(reader);
    const uint64_t remux =
        size + audio + WavWriter::kHeaderSize + kRemuxMargin + size / kRemuxMarginPerCent;
    if (!edit) return remux;
    std::ifstream stream(input, std::ios::binary);
    std::string why;
    const auto plan = output::PlanEdit(stream, size, &why);
    if (!plan) return remux;  // the edit will hand the job to the remux
    // One copy of what the edit keeps of the input, and the new moov behind
    // it.
    const uint64_t moov = 2 * plan->moov.size + kMoovAllowance;
    const uint64_t copy = std::min(plan->copyLength, size) + moov;
    const platform::UniqueFd in = platform::OpenForReading(input);
    const auto block =
        in.Valid() ? platform::SharedBlockSize(in.Get(), outputFolder) : std::nullopt;
    if (!block) return copy;
    // A shared copy costs what is rewritten: the audio chunks, each of which
    // unshares the blocks it touches (at most one more at either end), the
    // first block (the ftyp) and the new moov behind the copy.
    const uint64_t blocks = (uint64_t{reader.Track().chunkOffsets.size()} * 2 + 1) * *block;
    uint64_t blanks = 0;
    for (const output::ByteRange& range : plan->blanks) blanks += range.size;
    return std::min(copy, audio + blocks + moov + blanks);
}

std::optional<uint64_t> SpaceNeededFor(const std::string& input, const std::string& outputFolder,
                                       bool edit) {
    MovieReader reader(kFrameSize);
    if (reader.Open(input, kFrameSize) != MovieReader::kOpenReady) return std::nullopt;
    return SpaceNeeded(input, outputFolder, reader, edit);
}

}  // namespace spatialmux
