#include "control/convert/SpaceNeeded.h"

#include <algorithm>
#include <fstream>

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

}  // namespace

uint64_t SpaceNeeded(const std::string& input, const std::string& outputFolder,
                     const MovieReader& reader, bool edit) {
    const uint64_t size = platform::CurrentFileFacts().Size(input).value_or(0);
    const uint64_t remux = size * 3;  // the WAV, the output and room to spare
    if (!edit) return remux;
    std::ifstream stream(input, std::ios::binary);
    std::string why;
    const auto plan = output::PlanEdit(stream, size, &why);
    if (!plan) return remux;  // the edit will hand the job to the remux
    const platform::UniqueFd in = platform::OpenForReading(input);
    const auto block =
        in.Valid() ? platform::SharedBlockSize(in.Get(), outputFolder) : std::nullopt;
    if (!block) return size;  // one copy of the input
    // A shared copy costs what is rewritten: the audio chunks, each of which
    // unshares the blocks it touches (at most one more at either end), the
    // first block (the ftyp) and the new moov behind the copy.
    const AudioTrackInfo& track = reader.Track();
    const uint64_t audio = static_cast<uint64_t>(std::max<int64_t>(reader.TableSamples(), 0)) *
                           static_cast<uint64_t>(std::max(track.channelCount, 0)) * 2;
    const uint64_t blocks = (uint64_t{track.chunkOffsets.size()} * 2 + 1) * *block;
    const uint64_t moov = 2 * plan->moov.size + kMoovAllowance;
    uint64_t blanks = 0;
    for (const output::ByteRange& range : plan->blanks) blanks += range.size;
    return std::min(size, audio + blocks + moov + blanks);
}

}  // namespace spatialmux
