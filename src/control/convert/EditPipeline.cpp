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
#include "control/convert/FinishedOutputCheck.h"
#include "control/convert/wrap_ffmpeg.h"
#include "control/edit/CameraEdit.h"
#include "control/edit/EditWrites.h"
#include "control/job/FailureCause.h"
#include "control/job/InertTestPausePoints.h"
#include "control/job/OutputCommit.h"
#include "movie/AudioFrame.h"
#include "movie/GainChoice.h"
#include "movie/MovieReader.h"
#include "output/EditPlan.h"
#include "output/PlayersIndex.h"
#include "output/PreparedEdit.h"
#include "platform/BackgroundCopy.h"
#include "platform/ExclusiveFile.h"
#include "platform/FileCopy.h"
#include "platform/LocalizedStrings.h"

namespace spatialmux {

namespace {

// The copy's share of the progress scale (a clone is done at once, a
// kernel copy runs at the disk's speed); the audio has the rest.
constexpr float kCopyShare = 20.0f;

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
    std::string why;
    auto edit = PrepareCameraEdit(reader, *in, &why);
    if (!edit) return cannot(why);
    // Players place the video as libavformat reads the input: the proof
    // holds only where every packet of that reading is a sample it proved.
    if (auto differs = output::DisagreesWithPlayersIndex(input, edit->videoSamples)) {
        return cannot(std::move(*differs));
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
    bool pausedHalfway = false;
    const int64_t totalSamples = reader.GetTotalSamples();
    WrittenAudio audio;
    const AudioWriteEnd audioEnd = WriteConvertedAudio(
        reader, *edit,
        [&audioOut](uint64_t offset, const uint8_t* bytes, std::size_t count) {
            return audioOut.Write(offset, bytes, count);
        },
        [&](int64_t done) {
            current = static_cast<int32_t>(done);
            if (done >= totalSamples / 2 && !pausedHalfway) {
                pausedHalfway = true;
                TestPausePoint("edit-audio");
            }
            showProgress();
            return !CancelRequested();
        },
        &audio, job.options.rotateAudio);
    switch (audioEnd) {
        case AudioWriteEnd::Written:
            break;
        case AudioWriteEnd::Stopped:
            return -1;
        case AudioWriteEnd::WriteFailed:
            return writeFailure();
        case AudioWriteEnd::Mismatch:
            return fail("the audio chunks do not match the frame");
        case AudioWriteEnd::ShortRead:
            if (!audioOut.Flush()) return writeFailure();
            return fail("the input movie could not be read to its end");
    }
    if (!audioOut.Flush()) return writeFailure();
    const int64_t written = audio.instants;

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
