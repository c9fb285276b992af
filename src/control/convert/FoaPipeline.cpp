// The conversion of a movie that is not the camera's: its audio decoded in
// ACN order into the temporary WAV (FuMa's W raised to SN3D), the remux of
// the video packets and the WAV, the new moov's boxes (the input's video
// sample entry with V2, the V1 box, an SA3D box with the identity map), the
// verification, and the rename into place.
#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "audio/WavWriter.h"
#include "control/ambisonics/AnyFoaMovie.h"
#include "control/convert/FinishedOutputCheck.h"
#include "control/job/OutputCommit.h"
#include "control/convert/wrap_ffmpeg.h"
#include "movie/ffmpeg/AmbisonicAudio.h"
#include "output/MetadataTransplant.h"
#include "platform/LocalizedStrings.h"
#include "platform/NotificationCenter.h"

namespace spatialmux {

int32_t ConvertFoaMovie(wrap_ffmpeg& controller, const std::string& input,
                        const std::string& output, const FoaPlan& plan,
                        const output::AudioEncoding& audio) {
    auto fail = [&controller](const std::string& reason) {
        std::printf("error!! %s\n", reason.c_str());
        std::fflush(stdout);
        controller.myAlert(platform::LocalizedString("alert5"));
        return -1;
    };
    std::unique_ptr<OutputCommit> commit = std::move(wrap_ffmpeg::cur_commit());
    std::string why;
    if (!commit || commit->FinalPath() != OutputCommit::FinalPathFor(output)) {
        commit = OutputCommit::Begin(output, &why);
        if (!commit) return fail(why);
    }
    std::printf("%s: first-order ambisonics as %s\n", input.c_str(), plan.declaredBy.c_str());
    std::fflush(stdout);

    AmbisonicAudioDecoder decoder;
    if (!decoder.Open(input, plan.channels, &why)) return fail(why);
    auto wavFile = commit->CreateCompanion(".wav", &why);
    if (!wavFile) return fail("could not create the temporary WAV: " + why);
    const std::string wavPath = wavFile->first;
    WavWriter writer(4, static_cast<uint32_t>(plan.sampleRate));
    writer.OpenCreated(wavPath, wavFile->second.Release());
    // The job announced to the progress window (the droplet's, with its
    // Cancel), as the camera's pipeline announces it.
    platform::Notification start;
    start.name = platform::kForOrderFrontNotification;
    start.paths = {input, output, wavPath};
    platform::NotificationCenter::Default().PostOnMainThread(std::move(start));

    // WAV phase: 0 to 50 percent.
    controller.myPhase_update("audio");
    const double total = static_cast<double>(decoder.TotalSamples());
    int64_t written = 0;
    AcnAudio block;
    std::vector<float> interleaved;
    for (;;) {
        why.clear();
        if (!decoder.ReadNext(&block, &why)) {
            if (!why.empty()) return fail("the audio cannot be decoded: " + why);
            break;
        }
        if (wrap_ffmpeg::CancelRequested()) return -1;
        const std::size_t instants = block[0].size();
        interleaved.resize(instants * 4);
        for (std::size_t i = 0; i < instants; ++i) {
            interleaved[4 * i] = block[0][i] * plan.wGain;
            for (std::size_t c = 1; c < 4; ++c) interleaved[4 * i + c] = block[c][i];
        }
        writer.WriteInterleaved(interleaved.data(), static_cast<int64_t>(instants));
        if (writer.Failed()) return fail("could not write the temporary WAV");
        written += static_cast<int64_t>(instants);
        if (total > 0) {
            controller.myProgRate_update(
                static_cast<float>(std::min(1.0, static_cast<double>(written) / total) * 50.0));
        }
    }
    if (written == 0) return fail("the audio holds no sampling instant");
    if (!writer.Finish()) return fail("could not finish the temporary WAV");

    controller.myPhase_update("remux");
    if (controller.ffmpegMuxer(input, wavPath, commit->TemporaryPath(), nullptr, output,
                               commit->Fd(), audio) != 0) {
        return -1;  // reported by the remux itself, or cancelled
    }
    if (!commit->Remove(wavPath, &why)) return fail(why);
    if (wrap_ffmpeg::CancelRequested()) return -1;

    controller.myPhase_update("metadata");
    if (output::TransplantIntoFile(commit->TemporaryPath(), plan.videoSampleEntry, plan.uuidBox,
                                   AcnSn3dSa3dBox(), plan.recording,
                                   plan.sphere) != output::TransplantResult::Written) {
        return fail("could not write the spherical metadata into the output");
    }
    controller.myPhase_update("verify");
    if (wrap_ffmpeg::CancelRequested()) return -1;
    if (const auto mismatch =
            CheckFinishedOutput(input, commit->TemporaryPath(), written, true, audio.codec)) {
        return fail(*mismatch);
    }
    if (wrap_ffmpeg::CancelRequested()) return -1;
    if (!commit->Commit(&why)) return fail(why);
    return 0;
}

}  // namespace spatialmux
