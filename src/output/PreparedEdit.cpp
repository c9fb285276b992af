// The edit's preparation: plan, proof and the new boxes.
#include "output/PreparedEdit.h"

#include "output/StrayTables.h"
#include "output/TrackTables.h"

namespace spatialmux::output {

std::optional<PreparedEdit> PrepareEdit(std::istream& input, uint64_t inputSize,
                                        const EditedAudioTrack& audio,
                                        const RecordingMetadata& recording,
                                        const std::string& writerName, std::string* error) {
    auto fail = [error](std::string cause) {
        if (error != nullptr) *error = std::move(cause);
        return std::nullopt;
    };
    PreparedEdit edit;
    auto plan = PlanEdit(input, inputSize, error);
    if (!plan) return std::nullopt;
    edit.plan = std::move(*plan);
    auto ftyp = QuickTimeFtyp(edit.plan.ftyp.size);
    if (!ftyp) return fail("the ftyp box cannot be rewritten in place");
    edit.ftyp = std::move(*ftyp);

    std::vector<uint8_t> oldMoov(static_cast<std::size_t>(edit.plan.moov.size));
    input.clear();
    if (!input.seekg(static_cast<std::streamoff>(edit.plan.moov.offset)) ||
        !input.read(reinterpret_cast<char*>(oldMoov.data()),
                    static_cast<std::streamsize>(oldMoov.size()))) {
        input.clear();
        return fail("the movie box cannot be read");
    }
    // The video track goes into the output as it is (the new moov takes the
    // first trak): only a whole one, whose samples are known.
    const auto trak = FirstVideoTrak(oldMoov);
    if (!trak || trak != FirstTrak(oldMoov)) {
        return fail("the movie box's first track is not a video track that can be read");
    }
    std::string why;
    const auto video = ReadTrackTables(oldMoov, *trak, &why);
    if (!video) return fail("the video track cannot be copied as it is: " + why);
    if (auto stray = StrayTablesIn(oldMoov, *trak)) return fail(std::move(*stray));
    std::vector<ByteRange> videoSamples;
    videoSamples.reserve(video->samples.size());
    for (const TrackSample& sample : video->samples) {
        videoSamples.push_back({sample.offset, sample.size});
    }
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
    return edit;
}

}  // namespace spatialmux::output
