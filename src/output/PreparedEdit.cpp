// The edit's preparation: plan, proof and the new boxes.
#include "output/PreparedEdit.h"

#include "output/CopiedAudioMoov.h"
#include "output/StrayTables.h"
#include "output/TrackTables.h"

namespace spatialmux::output {

namespace {

// Nothing, with `cause` in `error` when there is one to fill.
std::nullopt_t Failed(std::string* error, std::string cause) {
    if (error != nullptr) *error = std::move(cause);
    return std::nullopt;
}

// The part both edits share: the plan of the top-level boxes, the ftyp that
// replaces the input's, the old moov read whole, and the samples of its
// first video track (which must be its first track when `firstTrakOnly`)
// from tables that players read as we do.
std::optional<PreparedEdit> PlanWithVideo(std::istream& input, uint64_t inputSize,
                                          bool firstTrakOnly, std::vector<uint8_t>* oldMoov,
                                          std::string* error) {
    const auto fail = [error](std::string cause) { return Failed(error, std::move(cause)); };
    PreparedEdit edit;
    auto plan = PlanEdit(input, inputSize, error);
    if (!plan) return std::nullopt;
    edit.plan = std::move(*plan);
    auto ftyp = QuickTimeFtyp(edit.plan.ftyp.size);
    if (!ftyp) return fail("the ftyp box cannot be rewritten in place");
    edit.ftyp = std::move(*ftyp);

    oldMoov->assign(static_cast<std::size_t>(edit.plan.moov.size), 0);
    input.clear();
    if (!input.seekg(static_cast<std::streamoff>(edit.plan.moov.offset)) ||
        !input.read(reinterpret_cast<char*>(oldMoov->data()),
                    static_cast<std::streamsize>(oldMoov->size()))) {
        input.clear();
        return fail("the movie box cannot be read");
    }
    // The video track goes into the output as it is: only a whole one,
    // whose samples are known.
    const auto trak = FirstVideoTrak(*oldMoov);
    if (!trak || (firstTrakOnly && trak != FirstTrak(*oldMoov))) {
        return fail("the movie box's first track is not a video track that can be read");
    }
    std::string why;
    const auto video = ReadTrackTables(*oldMoov, *trak, &why);
    if (!video) return fail("the video track cannot be copied as it is: " + why);
    if (auto stray = StrayTablesIn(*oldMoov, *trak)) return fail(std::move(*stray));
    edit.videoSamples.reserve(video->samples.size());
    for (const TrackSample& sample : video->samples) {
        edit.videoSamples.push_back({sample.offset, sample.size});
    }
    return edit;
}

}  // namespace

std::optional<PreparedEdit> PrepareEdit(std::istream& input, uint64_t inputSize,
                                        const EditedAudioTrack& audio,
                                        const RecordingMetadata& recording,
                                        const std::string& writerName, std::string* error) {
    const auto fail = [error](std::string cause) { return Failed(error, std::move(cause)); };
    // The new moov takes the first trak as the video track.
    std::vector<uint8_t> oldMoov;
    auto prepared = PlanWithVideo(input, inputSize, true, &oldMoov, error);
    if (!prepared) return std::nullopt;
    PreparedEdit& edit = *prepared;
    std::vector<ByteRange> videoSamples = std::move(edit.videoSamples);
    if (audio.chunkOffsets.size() != audio.chunkInstants.size()) {
        return fail("the audio chunk tables disagree");
    }
    // Each chunk's instants of 4 channels x 16 bits.
    std::vector<ByteRange> audioWrites;
    audioWrites.reserve(audio.chunkOffsets.size());
    for (std::size_t i = 0; i < audio.chunkOffsets.size(); ++i) {
        audioWrites.push_back({audio.chunkOffsets[i], uint64_t{audio.chunkInstants[i]} * 8});
    }
    if (!ProveEdit(edit.plan, videoSamples, audioWrites, error)) return std::nullopt;
    edit.video = CoveredBytes(videoSamples);
    edit.videoSamples = std::move(videoSamples);
    edit.audio = CoveredBytes(std::move(audioWrites));

    auto moov = BuildEditedMoov(oldMoov, audio, recording, writerName, error);
    if (!moov) return std::nullopt;
    edit.moov = std::move(*moov);
    return prepared;
}

std::optional<PreparedEdit> PrepareCopyEdit(std::istream& input, uint64_t inputSize,
                                            const std::vector<ByteRange>& audioPackets,
                                            const CopiedAudioBoxes& boxes,
                                            const RecordingMetadata& recording,
                                            const std::string& writerName, std::string* error) {
    const auto fail = [error](std::string cause) { return Failed(error, std::move(cause)); };
    std::vector<uint8_t> oldMoov;
    auto prepared = PlanWithVideo(input, inputSize, false, &oldMoov, error);
    if (!prepared) return std::nullopt;
    PreparedEdit& edit = *prepared;
    // No audio write: the proof is that of the video samples alone, and the
    // audio packets, which the new moov places where the input has them,
    // must stay as whole as the video samples.
    if (!ProveEdit(edit.plan, edit.videoSamples, {}, error)) return std::nullopt;
    if (audioPackets.empty()) return fail("the audio track has no packets");
    for (std::size_t i = 0; i < audioPackets.size(); ++i) {
        const ByteRange& packet = audioPackets[i];
        if (packet.offset > edit.plan.copyLength ||
            packet.size > edit.plan.copyLength - packet.offset) {
            return fail("audio packet " + std::to_string(i + 1) +
                        " lies outside the media data that is copied");
        }
    }
    if (const auto shared =
            FirstSharedByte(CoveredBytes(audioPackets), CoveredBytes(edit.plan.Rewritten()))) {
        return fail("an audio packet lies in a box the edit rewrites (byte " +
                    std::to_string(*shared) + ")");
    }
    edit.video = CoveredBytes(edit.videoSamples);
    auto moov = BuildCopiedAudioMoov(oldMoov, boxes, recording, writerName, error);
    if (!moov) return std::nullopt;
    edit.moov = std::move(*moov);
    return prepared;
}

}  // namespace spatialmux::output
