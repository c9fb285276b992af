// An edit in one pass, and the output read back.
#include "control/edit/OnePassEdit.h"

#include <sys/stat.h>

#include <algorithm>

#include "iso/BoxWalk.h"
#include "output/CopiedAudioMoov.h"
#include "output/TrackTables.h"
#include "platform/FileCopy.h"

namespace spatialmux {

namespace {

// A moov this large is no movie's the one-pass edit reads.
constexpr uint64_t kMaxMoovBytes = 256u * 1024u * 1024u;
// The most bytes read at once when the audio is read back.
constexpr uint64_t kSliceBytes = 1u << 20;

std::optional<uint64_t> FdLength(int fd) {
    struct stat facts {};
    if (fstat(fd, &facts) != 0 || facts.st_size < 0) return std::nullopt;
    return static_cast<uint64_t>(facts.st_size);
}

// The first top-level moov of `fd`, whole.
std::optional<std::vector<uint8_t>> ReadMoov(int fd, std::string* why) {
    const auto length = FdLength(fd);
    if (!length) {
        *why = "the movie's length cannot be read";
        return std::nullopt;
    }
    uint64_t offset = 0;
    for (std::size_t count = 0; offset < *length && count < kMaxTopLevelBoxes; ++count) {
        uint8_t header[kLargeBoxHeaderSize] = {};
        const auto got =
            static_cast<std::size_t>(std::min<uint64_t>(sizeof header, *length - offset));
        if (!platform::ReadAllAt(fd, offset, header, got)) break;
        const auto box = ParseBoxAt(header, got, offset, *length);
        if (!box) break;
        if (box->Is("moov")) {
            if (box->size > kMaxMoovBytes) break;
            std::vector<uint8_t> moov(static_cast<std::size_t>(box->size));
            if (!platform::ReadAllAt(fd, offset, moov.data(), moov.size())) break;
            return moov;
        }
        offset = box->End();
    }
    *why = "the movie box cannot be read";
    return std::nullopt;
}

// The samples of the first audio track of `moov`.
std::optional<std::vector<output::ByteRange>> AudioSamples(const std::vector<uint8_t>& moov,
                                                           std::string* why) {
    const auto traks = output::FindVideoAndAudioTraks(moov);
    if (!traks) {
        *why = "the movie has no video and audio track to read";
        return std::nullopt;
    }
    std::string cause;
    const auto tables = output::ReadTrackTables(moov, traks->audio, &cause);
    if (!tables) {
        *why = "the audio track cannot be read: " + cause;
        return std::nullopt;
    }
    std::vector<output::ByteRange> samples;
    samples.reserve(tables->samples.size());
    for (const output::TrackSample& sample : tables->samples) {
        samples.push_back({sample.offset, sample.size});
    }
    return samples;
}

OnePassEnd Copy(const output::PreparedEdit& edit, int inFd, int outFd, const OnePassHooks& hooks,
                std::string* why) {
    const uint64_t length = edit.plan.copyLength;
    hooks.progress("copy", 0.0);
    const platform::CopyMethod method = platform::CopyFileRange(
        inFd, outFd, length,
        [&hooks, length](uint64_t copied) {
            hooks.progress("copy", static_cast<double>(copied) /
                                       static_cast<double>(std::max<uint64_t>(length, 1)) * 100.0);
            return !hooks.cancelled();
        },
        why);
    if (method == platform::CopyMethod::Cancelled || hooks.cancelled()) {
        return OnePassEnd::Cancelled;
    }
    if (method == platform::CopyMethod::Failed) {
        *why = "could not copy the input: " + *why;
        return OnePassEnd::Failed;
    }
    return OnePassEnd::Written;
}

OnePassEnd Boxes(const output::PreparedEdit& edit, int outFd, const OnePassHooks& hooks,
                 std::string* why) {
    hooks.progress("metadata", 0.0);
    if (const auto failed = RewriteBoxesInPlace(outFd, edit)) {
        *why = *failed;
        return OnePassEnd::Failed;
    }
    if (hooks.cancelled()) return OnePassEnd::Cancelled;
    if (!AppendNewMoov(outFd, edit)) {
        *why = "could not write the output's movie box";
        return OnePassEnd::Failed;
    }
    hooks.progress("metadata", 100.0);
    return OnePassEnd::Written;
}

}  // namespace

OnePassEnd WriteCameraEditInOnePass(MovieReader& reader, const output::PreparedEdit& edit, int inFd,
                                    int outFd, const OnePassHooks& hooks, WrittenAudio* written,
                                    std::string* why) {
    if (const OnePassEnd copied = Copy(edit, inFd, outFd, hooks, why);
        copied != OnePassEnd::Written) {
        return copied;
    }
    hooks.progress("audio", 0.0);
    const double total = static_cast<double>(std::max<int64_t>(reader.GetTotalSamples(), 1));
    const AudioWriteEnd end = WriteConvertedAudio(
        reader, edit,
        [outFd](uint64_t offset, const uint8_t* bytes, std::size_t count) {
            return platform::WriteAllAt(outFd, offset, bytes, count);
        },
        [&hooks, total](int64_t done) {
            hooks.progress("audio", std::min(100.0, static_cast<double>(done) / total * 100.0));
            return !hooks.cancelled();
        },
        written);
    switch (end) {
        case AudioWriteEnd::Written:
            break;
        case AudioWriteEnd::Stopped:
            return OnePassEnd::Cancelled;
        case AudioWriteEnd::WriteFailed:
            *why = "could not write the audio into the output";
            return OnePassEnd::Failed;
        case AudioWriteEnd::Mismatch:
            *why = "the audio chunks do not match the frame";
            return OnePassEnd::Failed;
        case AudioWriteEnd::ShortRead:
            *why = "the input movie could not be read to its end";
            return OnePassEnd::Failed;
    }
    return Boxes(edit, outFd, hooks, why);
}

OnePassEnd WriteCopyEditInOnePass(const output::PreparedEdit& edit, int inFd, int outFd,
                                  const OnePassHooks& hooks, std::string* why) {
    if (const OnePassEnd copied = Copy(edit, inFd, outFd, hooks, why);
        copied != OnePassEnd::Written) {
        return copied;
    }
    return Boxes(edit, outFd, hooks, why);
}

std::optional<AudioTrackBytes> ReadAudioTrackBytes(int fd, std::string* why) {
    const auto moov = ReadMoov(fd, why);
    if (!moov) return std::nullopt;
    auto samples = AudioSamples(*moov, why);
    if (!samples) return std::nullopt;
    AudioTrackBytes audio;
    audio.digest = kAudioDigestStart;
    std::vector<uint8_t> slice;
    // Samples that follow one another are read as one run, a slice at a time.
    for (std::size_t k = 0; k < samples->size();) {
        const uint64_t start = (*samples)[k].offset;
        uint64_t end = (*samples)[k].End();
        for (++k; k < samples->size() && (*samples)[k].offset == end; ++k) {
            end = (*samples)[k].End();
        }
        for (uint64_t at = start; at < end;) {
            const auto count = static_cast<std::size_t>(std::min(end - at, kSliceBytes));
            slice.resize(count);
            if (!platform::ReadAllAt(fd, at, slice.data(), count)) {
                *why = "the audio at byte " + std::to_string(at) + " cannot be read";
                return std::nullopt;
            }
            audio.digest = AudioDigest(audio.digest, slice.data(), count);
            audio.bytes += static_cast<int64_t>(count);
            at += count;
        }
    }
    audio.samples = std::move(*samples);
    return audio;
}

std::optional<std::vector<output::ByteRange>> AudioPacketsFromTables(int fd, std::string* why) {
    const auto moov = ReadMoov(fd, why);
    if (!moov) return std::nullopt;
    return AudioSamples(*moov, why);
}

std::optional<std::string> CheckEditedOutput(int fd, const output::PreparedEdit& edit,
                                             int64_t audioBytes, uint64_t audioDigest) {
    const uint64_t expectedLength = edit.plan.copyLength + edit.moov.size();
    if (FdLength(fd) != expectedLength) {
        return "the output is not " + std::to_string(expectedLength) + " bytes long";
    }
    std::string why;
    const auto moov = ReadMoov(fd, &why);
    if (!moov) return why;
    if (*moov != edit.moov) return std::string("the output's movie box is not the one written");
    const auto trak = output::FirstVideoTrak(*moov);
    const auto video = trak ? output::ReadTrackTables(*moov, *trak, &why) : std::nullopt;
    if (!video) return "the output's video track cannot be read: " + why;
    if (video->samples.size() != edit.videoSamples.size()) {
        return "the output has " + std::to_string(video->samples.size()) + " video samples, not " +
               std::to_string(edit.videoSamples.size());
    }
    for (std::size_t k = 0; k < video->samples.size(); ++k) {
        const output::TrackSample& got = video->samples[k];
        const output::ByteRange& meant = edit.videoSamples[k];
        if (got.offset != meant.offset || got.size != meant.size) {
            return "video sample " + std::to_string(k + 1) + " is not where the input has it";
        }
    }
    const auto audio = ReadAudioTrackBytes(fd, &why);
    if (!audio) return "the output's " + why;
    if (audio->bytes != audioBytes || audio->digest != audioDigest) {
        return std::string("the output's audio is not the audio written");
    }
    return std::nullopt;
}

}  // namespace spatialmux
