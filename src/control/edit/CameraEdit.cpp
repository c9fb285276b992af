// The camera movie's edit: its preparation and its audio.
#include "control/edit/CameraEdit.h"

#include <vector>

#include "audio/ByteUtil.h"
#include "control/job/SphericalVideoFromV1.h"
#include "movie/AudioFrame.h"
#include "movie/GainChoice.h"
#include "output/EditedMoov.h"
#include "output/SphericalVideoBoxes.h"

namespace spatialmux {

namespace {

// The one frame the edit works through (as the remux's WAV phase does).
AudioFrame editFrame;

// The audio chunks as the frame reading walks them (the same walk, so the
// chunks the edit proves are the ones it writes): one chunk for each run
// of audio bytes the reading delivers from a chunk of the input.
output::EditedAudioTrack AudioChunks(const MovieReader& reader) {
    output::EditedAudioTrack audio;
    audio.sampleRate = static_cast<uint32_t>(reader.Track().timescale);
    audio.sa3dBox = reader.Sa3dBox();
    for (const FileSpan& span : reader.AudioSpans()) {
        audio.chunkOffsets.push_back(span.offset);
        audio.chunkInstants.push_back(static_cast<uint32_t>(span.bytes / kBytesPerInstant));
    }
    return audio;
}

}  // namespace

std::optional<output::PreparedEdit> PrepareCameraEdit(const MovieReader& reader, EditInput& in,
                                                      std::string* why) {
    const output::EditedAudioTrack audio = AudioChunks(reader);
    if (audio.chunkOffsets.empty()) {
        *why = "the audio has no chunks";
        return std::nullopt;
    }
    auto edit = output::PrepareEdit(in.stream, in.size, audio, reader.Recording(),
                                    "spatialmux " SPATIALMUX_VERSION, why);
    if (!edit) return std::nullopt;
    // The video track goes out as it came in, with V2 beside its V1 uuid box.
    if (const auto sphere = SphericalVideoFromUuidBox(reader.UuidBox());
        sphere &&
        output::AddSphericalV2(edit->moov, *sphere) == output::SphericalV2Result::Refused) {
        *why = "the spherical video boxes cannot be added to the new movie box";
        return std::nullopt;
    }
    return edit;
}

uint64_t AudioDigest(uint64_t digest, const uint8_t* bytes, std::size_t count) {
    for (std::size_t k = 0; k < count; ++k) {
        digest = (digest ^ bytes[k]) * 0x100000001B3ull;
    }
    return digest;
}

AudioWriteEnd WriteConvertedAudio(MovieReader& reader, const output::PreparedEdit& edit,
                                  const AudioWrite& write,
                                  const std::function<bool(int64_t current)>& going,
                                  WrittenAudio* written, const AmbisonicRotation& turn) {
    *written = WrittenAudio{0, kAudioDigestStart};
    reader.SeekToTime(0);
    const float gain = ChooseGain(reader.SoftwareText(), reader.MakerNoteFlag());
    const bool turned = !turn.IsIdentity();
    const Rotation3 matrix = RotationMatrix(turn);
    const ByteUtil util;
    float* c1 = editFrame.Channel(1);
    float* c2 = editFrame.Channel(2);
    float* c3 = editFrame.Channel(3);
    float* c4 = editFrame.Channel(4);
    std::vector<uint8_t> bytes(static_cast<std::size_t>(kFrameSize) * kBytesPerInstant);
    for (;;) {
        const bool ended = reader.ReadFrame(c1, c2, c3, c4);
        const int32_t instants = ended ? reader.GetLastFrameSamples() : kFrameSize;
        if (instants > 0) {
            util.ApplyGain(c1, instants, gain);
            // W Y Z X are channels 1, 3, 4, 2.
            if (turned) RotateAmbisonics(matrix, c3, c4, c2, instants);
            util.InterleaveFloatToPcm16(bytes.data(), c1, c3, c4, c2, instants);
        }
        const std::size_t frameBytes = static_cast<std::size_t>(instants) * kBytesPerInstant;
        std::size_t at = 0;
        for (const FileSpan& span : reader.LastFrameSpans()) {
            // The reader walks the chunks that were proven; a span anywhere
            // else would overwrite what is not audio.
            if (span.bytes > frameBytes - at ||
                !output::Covers(edit.audio, span.offset, span.bytes)) {
                return AudioWriteEnd::Mismatch;
            }
            const auto count = static_cast<std::size_t>(span.bytes);
            if (!write(span.offset, bytes.data() + at, count)) return AudioWriteEnd::WriteFailed;
            written->digest = AudioDigest(written->digest, bytes.data() + at, count);
            at += count;
        }
        if (at != frameBytes) return AudioWriteEnd::Mismatch;
        written->instants += instants;
        if (!going(ended ? reader.GetTotalSamples() : reader.GetCurrentSample())) {
            return AudioWriteEnd::Stopped;
        }
        if (ended) break;
    }
    if (reader.HadShortRead()) return AudioWriteEnd::ShortRead;
    return AudioWriteEnd::Written;
}

}  // namespace spatialmux
