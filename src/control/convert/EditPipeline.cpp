// The edit engine: a QuickTime PCM output made from a copy of the input
// (sharing its blocks where the file system can), with every audio chunk
// rewritten where it stands and a new moov at the end. The camera's audio
// holds 4 channels x 16 bits per instant and so does the converted audio, so
// nothing but the audio chunks, the ftyp and the moov changes; the video
// bytes are never read by this process.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "audio/ByteUtil.h"
#include "control/convert/BlockAlignedWriter.h"
#include "control/convert/EditWrites.h"
#include "control/convert/FinishedOutputCheck.h"
#include "control/convert/wrap_ffmpeg.h"
#include "control/job/FailureCause.h"
#include "control/job/InertTestPausePoints.h"
#include "control/job/OutputCommit.h"
#include "control/job/SphericalVideoFromV1.h"
#include "movie/AudioFrame.h"
#include "movie/GainChoice.h"
#include "movie/MovieReader.h"
#include "output/EditPlan.h"
#include "output/EditedMoov.h"
#include "output/PlayersIndex.h"
#include "output/PreparedEdit.h"
#include "output/SphericalVideoBoxes.h"
#include "platform/BackgroundCopy.h"
#include "platform/ExclusiveFile.h"
#include "platform/FileCopy.h"
#include "platform/LocalizedStrings.h"

namespace spatialmux {

namespace {

// The one frame the edit works through (as the remux's WAV phase does).
AudioFrame editFrame;

// The copy's share of the progress scale (a clone is done at once, a
// kernel copy runs at the disk's speed); the audio has the rest.
constexpr float kCopyShare = 20.0f;

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

int32_t wrap_ffmpeg::ConvertByEdit(const JobPlan& job, OutputCommit& commit,
                                   std::string* unsuitable) {
    const std::string& input = job.input;
    const std::string alert5 = platform::LocalizedString("alert5");
    auto fail = [this, &alert5](const std::string& reason) {
        SayFailure(reason);
        myAlert(alert5);
        return -1;
    };
    auto cannot = [unsuitable](std::string cause) {
        if (unsuitable != nullptr) *unsuitable = std::move(cause);
        return kEditUnsuitable;
    };

    cur_reader().reset();
    cur_reader() = std::make_unique<MovieReader>(kFrameSize);
    MovieReader& reader = *cur_reader();
    if (reader.Open(input, kFrameSize) != MovieReader::kOpenReady) return cannot("unreadable");

    // Everything the edit needs is read and checked before a file is made:
    // a movie the edit cannot handle leaves no trace.
    // The reader and the copy must read one and the same file, the one that
    // was checked: a file renamed over the input meanwhile fails the job.
    auto in = EditInput::Open(input);
    if (!in) return cannot("the input cannot be opened");
    // The plan, the proof that no write reaches a video sample and no video
    // sample lies where the copy changes, and the new boxes.
    const output::EditedAudioTrack audio = AudioChunks(reader);
    if (audio.chunkOffsets.empty()) return cannot("the audio has no chunks");
    std::string why;
    auto edit = output::PrepareEdit(in->stream, in->size, audio, reader.Recording(),
                                    "spatialmux " SPATIALMUX_VERSION, &why);
    if (!edit) return cannot(why);
    // Players place the video as libavformat reads the input: the proof
    // holds only where every packet of that reading is a sample it proved.
    if (auto differs = output::DisagreesWithPlayersIndex(input, edit->videoSamples)) {
        return cannot(std::move(*differs));
    }
    // The video track goes out as it came in, with V2 beside its V1 uuid box.
    if (const auto sphere = SphericalVideoFromUuidBox(reader.UuidBox());
        sphere &&
        output::AddSphericalV2(edit->moov, *sphere) == output::SphericalV2Result::Refused) {
        return cannot("the spherical video boxes cannot be added to the new movie box");
    }
    const output::EditPlan& plan = edit->plan;

    if (in->Replaced()) return cannot("the input was replaced");
    const int outFd = commit.Fd();
    if (outFd < 0) return fail("the temporary output " + commit.TemporaryPath() + " is not open");

    // The copy runs on its own thread while the audio is converted here;
    // each run of audio waits until the copy has passed it. Progress: the
    // copy's bytes make the first fifth of the scale (a clone is done at
    // once), the audio's frames the rest.
    const uint64_t copyLength = plan.copyLength;
    const float total = static_cast<float>(reader.GetTotalSamples());
    int32_t current = 0;
    // Each rewritten chunk of a clone then unshares one block, not the file
    // system's default of many. Set before the copy starts, the hint is in
    // place before the first write; on a plain copy it does nothing.
    myPhase_update("edit");
    const uint32_t blockSize = platform::FileBlockSize(outFd).value_or(4096);
    platform::SetCopyOnWriteExtentHint(outFd, blockSize);
    platform::BackgroundCopy copy(in->fd.Get(), outFd, copyLength);
    const auto showProgress = [this, &copy, copyLength, total, &current] {
        const double copyPart = static_cast<double>(copy.Copied()) /
                                static_cast<double>(std::max<uint64_t>(copyLength, 1)) * kCopyShare;
        const double audioPart =
            total > 0.0f ? static_cast<double>(current) / total * (100.0 - kCopyShare) : 0.0;
        myProgRate_update(static_cast<float>(copyPart + audioPart));
        return !CancelRequested();
    };
    // The copy's end: -1 when it was stopped, a failure when it failed,
    // 0 when it is whole.
    const auto finishCopy = [&copy, &showProgress, &fail] {
        std::string copyError;
        const platform::CopyMethod method = copy.Finish(showProgress, &copyError);
        if (method == platform::CopyMethod::Cancelled || CancelRequested()) return -1;
        if (method == platform::CopyMethod::Failed) {
            return fail("could not copy the input: " + copyError);
        }
        return 0;
    };

    TestPausePoint("edit-copy");
    if (CancelRequested()) return -1;

    // Audio: every frame goes back to where it came from.
    reader.SeekToTime(0);
    const float gain = ChooseGain(reader.SoftwareText(), reader.MakerNoteFlag());
    const bool turned = !job.options.rotateAudio.IsIdentity();
    const Rotation3 turn = RotationMatrix(job.options.rotateAudio);
    const ByteUtil util;
    float* c1 = editFrame.Channel(1);
    float* c2 = editFrame.Channel(2);
    float* c3 = editFrame.Channel(3);
    float* c4 = editFrame.Channel(4);
    std::vector<uint8_t> bytes(static_cast<std::size_t>(kFrameSize) * kBytesPerInstant);
    int64_t written = 0;
    bool pausedHalfway = false;
    bool copyStopped = false;
    BlockAlignedWriter audioOut(
        in->fd.Get(), outFd, blockSize, copyLength,
        [&copy, &showProgress, &copyStopped](uint64_t end) {
            if (copy.WaitForCopied(end, showProgress)) return true;
            copyStopped = true;
            return false;
        },
        edit->video);
    audioOut.ReadAhead(edit->audio, [&copy] { return copy.Copied(); });
    // A write that did not happen: the copy failed or was stopped, or the
    // write itself failed.
    const auto writeFailure = [&copyStopped, &finishCopy, &fail] {
        if (copyStopped) {
            const int32_t copied = finishCopy();
            if (copied != 0) return copied;
        }
        return fail("could not write the audio into the output");
    };
    for (;;) {
        const bool ended = reader.ReadFrame(c1, c2, c3, c4);
        if (CancelRequested()) return -1;
        const int32_t instants = ended ? reader.GetLastFrameSamples() : kFrameSize;
        if (instants > 0) {
            util.ApplyGain(c1, instants, gain);
            // W Y Z X are channels 1, 3, 4, 2.
            if (turned) RotateAmbisonics(turn, c3, c4, c2, instants);
            util.InterleaveFloatToPcm16(bytes.data(), c1, c3, c4, c2, instants);
        }
        const std::size_t frameBytes = static_cast<std::size_t>(instants) * kBytesPerInstant;
        std::size_t at = 0;
        for (const FileSpan& span : reader.LastFrameSpans()) {
            // The reader walks the chunks that were proven; a span anywhere
            // else would overwrite what is not audio.
            if (span.bytes > frameBytes - at ||
                !output::Covers(edit->audio, span.offset, span.bytes)) {
                return fail("the audio chunks do not match the frame");
            }
            const auto count = static_cast<std::size_t>(span.bytes);
            if (!audioOut.Write(span.offset, bytes.data() + at, count)) return writeFailure();
            at += count;
        }
        if (at != frameBytes) return fail("the audio chunks do not match the frame");
        written += instants;
        current = ended ? reader.GetTotalSamples() : reader.GetCurrentSample();
        if (current >= reader.GetTotalSamples() / 2 && !pausedHalfway) {
            pausedHalfway = true;
            TestPausePoint("edit-audio");
        }
        showProgress();
        if (ended) break;
    }
    if (!audioOut.Flush()) return writeFailure();
    if (reader.HadShortRead()) return fail("the input movie could not be read to its end");

    // The ftyp, the old moov and the private boxes may lie anywhere in the
    // copy: they are rewritten once it is whole.
    if (const int32_t copied = finishCopy(); copied != 0) return copied;
    myPhase_update("metadata");
    if (const auto failed = RewriteBoxesInPlace(outFd, *edit)) return fail(*failed);

    TestPausePoint("edit-moov");
    if (CancelRequested()) return -1;
    if (!AppendNewMoov(outFd, *edit)) return fail("could not write the output's movie box");
    if (CancelRequested()) return -1;
    if (in->Replaced()) return fail("the input movie was replaced while converting");
    myPhase_update("verify");
    TestPausePoint("verify");
    if (CancelRequested()) return -1;
    // Everything this edit wrote over the copy, widened audio writes
    // included: the verification finds no video sample there.
    std::vector<output::ByteRange> writes = plan.Rewritten();
    const std::vector<output::ByteRange>& audioWrites = audioOut.Written();
    writes.insert(writes.end(), audioWrites.begin(), audioWrites.end());
    writes.push_back({copyLength, edit->moov.size()});
    if (const auto mismatch =
            CheckFinishedOutput(input, commit.TemporaryPath(), written, !reader.UuidBox().empty(),
                                output::AudioCodec::Pcm, output::CoveredBytes(std::move(writes)))) {
        // What the edit made is not what the output must be (a box it copies
        // as it stands, where the remux would place it anew): the remux
        // tries into the same hidden output, emptied of this try.
        if (!platform::EmptyAgain(outFd)) return fail("could not empty the temporary output");
        return cannot("the edited output failed its check: " + *mismatch);
    }
    TestPausePoint("commit");
    // A stop now still leaves nothing: the rename is the last step.
    if (CancelRequested()) return -1;
    if (!commit.Commit(&why)) return fail(why);
    return 0;
}

}  // namespace spatialmux
