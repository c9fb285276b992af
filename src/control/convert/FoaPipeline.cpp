// The conversion of a movie that is not the camera's: its audio decoded in
// ACN order into the temporary WAV (FuMa's W raised to SN3D), the remux of
// the video packets and the WAV, the new moov's boxes (the input's video
// sample entry with V2, the V1 box, an SA3D box with the identity map), the
// verification, and the rename into place. Audio that needs no change
// (CopiesAudio) is never decoded: a QuickTime PCM output is the input's
// copy (a clone where the file system can) with a new moov, the edit
// engine's way without an audio write; any other output, or a copy the edit
// cannot prove safe, a remux that copies the audio packets as they are.
// A turn of the sound field (--rotate-audio) is a change: such audio is
// decoded, turned and written anew like any other.
#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "audio/WavWriter.h"
#include "control/movieinfo/AnyFoaMovie.h"
#include "control/edit/EditWrites.h"
#include "control/convert/FinishedOutputCheck.h"
#include "control/convert/wrap_ffmpeg.h"
#include "control/job/EngineChoice.h"
#include "control/job/FailureCause.h"
#include "control/job/InertTestPausePoints.h"
#include "control/job/OutputCommit.h"
#include "movie/ffmpeg/AmbisonicAudio.h"
#include "output/MetadataTransplant.h"
#include "output/PlayersIndex.h"
#include "output/PreparedEdit.h"
#include "platform/BackgroundCopy.h"
#include "platform/ExclusiveFile.h"
#include "platform/FileCopy.h"
#include "platform/LocalizedStrings.h"
#include "platform/NotificationCenter.h"

namespace spatialmux {

namespace {

int32_t Failed(wrap_ffmpeg& controller, const std::string& reason) {
    SayFailure(reason);
    controller.myAlert(platform::LocalizedString("alert5"));
    return -1;
}

// The edit of a movie whose audio needs no change: the copy of the input
// (0 to 100 percent), its ftyp, blanks and size fields, the new moov behind
// it, the verification and the commit. 0 written, -1 failed (reported) or
// cancelled, wrap_ffmpeg::kEditUnsuitable when the edit cannot be proven
// safe or its output failed the check (the hidden output is empty again;
// `unsuitable` says why).
int32_t EditCopyingAudio(wrap_ffmpeg& controller, const std::string& input, const FoaPlan& plan,
                         OutputCommit& commit, std::string* unsuitable) {
    auto fail = [&controller](const std::string& reason) { return Failed(controller, reason); };
    auto cannot = [unsuitable](std::string cause) {
        *unsuitable = std::move(cause);
        return wrap_ffmpeg::kEditUnsuitable;
    };
    if (!EditKeepsEveryTrack(plan)) {
        return cannot("it has tracks besides its video and its audio, which the remux keeps");
    }
    // Everything is read and proven before a byte is written; the copy must
    // read the file that was read.
    auto in = EditInput::Open(input);
    if (!in) return cannot("the input cannot be opened");
    std::string why;
    // The audio packets as players place them: the new moov keeps the
    // audio's tables, so they must stay where they are, untouched.
    const auto audioPackets = output::PlayersAudioPackets(input, &why);
    if (!audioPackets) return cannot(why);
    const output::CopiedAudioBoxes boxes{plan.videoSampleEntry, plan.uuidBox, AcnSn3dSa3dBox(),
                                         plan.sphere};
    auto edit = output::PrepareCopyEdit(in->stream, in->size, *audioPackets, boxes, plan.recording,
                                        "spatialmux " SPATIALMUX_VERSION, &why);
    if (!edit) return cannot(why);
    if (auto differs = output::DisagreesWithPlayersIndex(input, edit->videoSamples)) {
        return cannot(std::move(*differs));
    }
    if (in->Replaced()) return cannot("the input was replaced");
    const int outFd = commit.Fd();
    if (outFd < 0) return fail("the temporary output " + commit.TemporaryPath() + " is not open");

    controller.myPhase_update("edit");
    controller.myProgRate_update(0.0f);
    const uint64_t copyLength = edit->plan.copyLength;
    {
        platform::BackgroundCopy copy(in->fd.Get(), outFd, copyLength);
        const auto showProgress = [&controller, &copy, copyLength] {
            controller.myProgRate_update(
                static_cast<float>(static_cast<double>(copy.Copied()) /
                                   static_cast<double>(std::max<uint64_t>(copyLength, 1)) * 100.0));
            return !wrap_ffmpeg::CancelRequested();
        };
        TestPausePoint("edit-copy");
        std::string copyError;
        const platform::CopyMethod method = copy.Finish(showProgress, &copyError);
        if (method == platform::CopyMethod::Cancelled || wrap_ffmpeg::CancelRequested()) {
            return -1;
        }
        if (method == platform::CopyMethod::Failed) {
            return fail("could not copy the input: " + copyError);
        }
    }
    controller.myProgRate_update(100.0f);
    controller.myPhase_update("metadata");
    if (const auto failed = RewriteBoxesInPlace(outFd, *edit)) return fail(*failed);
    TestPausePoint("edit-moov");
    if (wrap_ffmpeg::CancelRequested()) return -1;
    if (!AppendNewMoov(outFd, *edit)) return fail("could not write the output's movie box");
    if (in->Replaced()) return fail("the input movie was replaced while converting");

    controller.myPhase_update("verify");
    TestPausePoint("verify");
    if (wrap_ffmpeg::CancelRequested()) return -1;
    std::vector<output::ByteRange> writes = edit->plan.Rewritten();
    writes.push_back({copyLength, edit->moov.size()});
    if (const auto mismatch =
            CheckFinishedOutput(input, commit.TemporaryPath(), 0, true, output::AudioCodec::Pcm,
                                output::CoveredBytes(std::move(writes)), true, plan.tracks)) {
        if (!platform::EmptyAgain(outFd)) return fail("could not empty the temporary output");
        return cannot("the edited output failed its check: " + *mismatch);
    }
    TestPausePoint("commit");
    if (wrap_ffmpeg::CancelRequested()) return -1;
    if (!commit.Commit(&why)) return fail(why);
    return 0;
}

// The conversion when the audio needs no change: the edit for a QuickTime
// PCM output, else (or when the edit cannot be done) the remux copying the
// audio packets, then the metadata, the verification and the commit.
int32_t ConvertCopyingAudio(wrap_ffmpeg& controller, const std::string& input,
                            const std::string& output, const FoaPlan& plan,
                            const output::AudioEncoding& audio, OutputCommit& commit) {
    auto fail = [&controller](const std::string& reason) { return Failed(controller, reason); };
    std::string why;
    if (UsesEditEngine(output, audio.codec)) {
        const int32_t edited = EditCopyingAudio(controller, input, plan, commit, &why);
        if (edited != wrap_ffmpeg::kEditUnsuitable) return edited;
        std::printf("%s: cannot be edited in place (%s); remuxing instead\n", input.c_str(),
                    why.c_str());
        std::fflush(stdout);
        controller.ContinueProgress();
    }
    controller.myPhase_update("remux");
    controller.myProgRate_update(0.0f);
    // Encoded audio keeps the rate its encoder was set to in the output's
    // boxes (what the check judges), not the packets' average.
    output::AudioEncoding copied = audio;
    copied.bitRate = audio.codec == output::AudioCodec::Pcm ? 0 : plan.maxBitRate;
    if (controller.ffmpegCopyMuxer(input, commit.TemporaryPath(), output, commit.Fd(), copied,
                                   plan.tracks) != 0) {
        return -1;  // reported by the remux itself, or cancelled
    }
    if (wrap_ffmpeg::CancelRequested()) return -1;
    controller.myPhase_update("metadata");
    if (output::TransplantIntoFile(commit.TemporaryPath(), plan.videoSampleEntry, plan.uuidBox,
                                   AcnSn3dSa3dBox(), plan.recording,
                                   plan.sphere) != output::TransplantResult::Written) {
        return fail("could not write the spherical metadata into the output");
    }
    controller.myPhase_update("verify");
    if (wrap_ffmpeg::CancelRequested()) return -1;
    if (const auto mismatch = CheckFinishedOutput(input, commit.TemporaryPath(), 0, true,
                                                  audio.codec, std::nullopt, true, plan.tracks)) {
        return fail(*mismatch);
    }
    if (wrap_ffmpeg::CancelRequested()) return -1;
    if (!commit.Commit(&why)) return fail(why);
    return 0;
}

}  // namespace

int32_t ConvertFoaMovie(wrap_ffmpeg& controller, const JobPlan& job) {
    const std::string& input = job.input;
    const std::string& output = job.output;
    const FoaPlan& plan = *job.foa;
    const output::AudioEncoding& audio = job.format.audio;
    auto fail = [&controller](const std::string& reason) { return Failed(controller, reason); };
    std::unique_ptr<OutputCommit> commit = std::move(wrap_ffmpeg::cur_commit());
    std::string why;
    if (!commit || commit->FinalPath() != OutputCommit::FinalPathFor(output)) {
        commit = OutputCommit::Begin(output, &why);
        if (!commit) return fail(why);
    }
    const bool copied = job.copiesAudio;
    std::printf("%s: first-order ambisonics as %s%s\n", input.c_str(),
                DeclarationWords(plan).c_str(), copied ? "; audio copied as it is" : "");
    std::fflush(stdout);
    // The job announced to the progress window (the droplet's, with its
    // Cancel), as the camera's pipeline announces it.
    platform::Notification start;
    start.name = platform::kForOrderFrontNotification;
    start.paths = {input, output, commit->TemporaryPath()};
    platform::NotificationCenter::Default().PostOnMainThread(std::move(start));
    if (copied) return ConvertCopyingAudio(controller, input, output, plan, audio, *commit);

    AmbisonicAudioDecoder decoder;
    if (!decoder.Open(input, plan.channels, &why)) return fail(why);
    auto wavFile = commit->CreateCompanion(".wav", &why);
    if (!wavFile) return fail("could not create the temporary WAV: " + why);
    const std::string wavPath = wavFile->first;
    WavWriter writer(4, static_cast<uint32_t>(plan.sampleRate));
    writer.OpenCreated(wavPath, wavFile->second.Release());

    // WAV phase: 0 to 50 percent.
    controller.myPhase_update("audio");
    // The stream's length as players take it (an AAC or Opus track's edit
    // list leaves out its encoder's padding at the end): the decoder's last
    // frame may run past it.
    const int64_t length = decoder.TotalSamples();
    const double total = static_cast<double>(length);
    int64_t written = 0;
    AcnAudio block;
    std::vector<float> interleaved;
    const bool turned = !job.options.rotateAudio.IsIdentity();
    const Rotation3 turn = RotationMatrix(job.options.rotateAudio);
    for (;;) {
        why.clear();
        if (!decoder.ReadNext(&block, &why)) {
            if (!why.empty()) return fail("the audio cannot be decoded: " + why);
            break;
        }
        if (wrap_ffmpeg::CancelRequested()) return -1;
        std::size_t instants = block[0].size();
        if (length > 0) {
            if (written >= length) break;
            instants = static_cast<std::size_t>(
                std::min<int64_t>(length - written, static_cast<int64_t>(instants)));
        }
        if (turned) {
            RotateAmbisonics(turn, block[1].data(), block[2].data(), block[3].data(),
                             static_cast<int64_t>(instants));
        }
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
                               commit->Fd(), audio, plan.tracks) != 0) {
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
    if (const auto mismatch = CheckFinishedOutput(input, commit->TemporaryPath(), written, true,
                                                  audio.codec, std::nullopt, false, plan.tracks)) {
        return fail(*mismatch);
    }
    if (wrap_ffmpeg::CancelRequested()) return -1;
    if (!commit->Commit(&why)) return fail(why);
    return 0;
}

}  // namespace spatialmux
