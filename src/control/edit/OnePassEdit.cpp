// An edit in one pass, and the output read back.
#include "control/edit/OnePassEdit.h"

#include <sys/stat.h>

#include <algorithm>

#include "audio/ByteOrder.h"
#include "iso/BoxWalk.h"
#include "output/CopiedAudioMoov.h"
#include "output/TrackTables.h"
#include "platform/FileCopy.h"

namespace spatialmux {

namespace {

// A moov this large is no movie's the one-pass edit reads.
constexpr uint64_t kMaxReadBackMoovBytes = 256u * 1024u * 1024u;
// The most bytes read at once when the audio is read back.
constexpr uint64_t kSliceBytes = 1u << 20;

std::optional<uint64_t> LengthOfFd(int fd) {
    struct stat facts {};
    if (fstat(fd, &facts) != 0 || facts.st_size < 0) return std::nullopt;
    return static_cast<uint64_t>(facts.st_size);
}

// The first top-level moov of `fd`, whole.
std::optional<std::vector<uint8_t>> ReadMoovOfFd(int fd, std::string* why) {
    const auto length = LengthOfFd(fd);
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
            if (box->size > kMaxReadBackMoovBytes) break;
            std::vector<uint8_t> moov(static_cast<std::size_t>(box->size));
            if (!platform::ReadAllAt(fd, offset, moov.data(), moov.size())) break;
            return moov;
        }
        offset = box->End();
    }
    *why = "the movie box cannot be read";
    return std::nullopt;
}

// The chunks of the trak at `trak` in `moov`, each where its chunk offset
// table places it and as long as its samples by stsc and stsz: an audio
// track holds a sample per sampling instant, more than a sample table is
// read for, so its chunks are read instead. Every count is held to its
// box's size and the samples of the chunks to stsz's count.
std::optional<std::vector<output::ByteRange>> ChunksOfTrak(const std::vector<uint8_t>& moov,
                                                           std::size_t trak, std::string* why) {
    const auto fail = [why](const std::string& cause) {
        *why = "the audio track's " + cause;
        return std::nullopt;
    };
    const auto trakBox = BoxAt(moov, trak, moov.size());
    const auto stbl = trakBox ? FindBoxPath(moov, *trakBox, "mdia/minf/stbl") : std::nullopt;
    if (!stbl) return fail("sample table cannot be found");
    const auto stsc = FindChildBox(moov, stbl->PayloadOffset(), stbl->End(), "stsc");
    const auto stsz = FindChildBox(moov, stbl->PayloadOffset(), stbl->End(), "stsz");
    auto offsets = FindChildBox(moov, stbl->PayloadOffset(), stbl->End(), "stco");
    const bool wide = !offsets;
    if (wide) offsets = FindChildBox(moov, stbl->PayloadOffset(), stbl->End(), "co64");
    if (!stsc || !stsz || !offsets || stsc->PayloadSize() < 8 || stsz->PayloadSize() < 12 ||
        offsets->PayloadSize() < 8) {
        return fail("sample-to-chunk, sample size or chunk offset table is missing");
    }
    const uint8_t* runs = moov.data() + stsc->PayloadOffset();
    const uint64_t runCount = ReadBE32(runs + 4);
    const uint8_t* sizes = moov.data() + stsz->PayloadOffset();
    const uint32_t sampleSize = ReadBE32(sizes + 4);
    const uint64_t sampleCount = ReadBE32(sizes + 8);
    const uint8_t* chunkTable = moov.data() + offsets->PayloadOffset();
    const uint64_t chunkCount = ReadBE32(chunkTable + 4);
    const uint64_t entryBytes = wide ? 8 : 4;
    if (runCount == 0 || runCount > (stsc->PayloadSize() - 8) / 12 ||
        chunkCount > (offsets->PayloadSize() - 8) / entryBytes ||
        (sampleSize == 0 && sampleCount > (stsz->PayloadSize() - 12) / 4)) {
        return fail("tables are shorter than their counts");
    }
    std::vector<output::ByteRange> chunks;
    chunks.reserve(static_cast<std::size_t>(chunkCount));
    uint64_t sample = 0;
    std::size_t run = 0;
    for (uint64_t chunk = 1; chunk <= chunkCount; ++chunk) {
        while (run + 1 < runCount && ReadBE32(runs + 8 + 12 * (run + 1)) <= chunk) ++run;
        const uint32_t firstChunk = ReadBE32(runs + 8 + 12 * run);
        if ((run == 0 && firstChunk != 1) || firstChunk > chunk) {
            return fail("sample-to-chunk table does not begin at chunk 1");
        }
        const uint64_t samples = ReadBE32(runs + 12 + 12 * run);
        if (samples > sampleCount - sample) return fail("chunks hold more samples than it has");
        uint64_t bytes = samples * sampleSize;
        for (uint64_t k = 0; sampleSize == 0 && k < samples; ++k) {
            bytes += ReadBE32(sizes + 12 + 4 * (sample + k));
        }
        sample += samples;
        const uint8_t* at = chunkTable + 8 + entryBytes * (chunk - 1);
        const uint64_t offset = wide ? ReadBE64(at) : ReadBE32(at);
        if (bytes > UINT64_MAX - offset) return fail("chunk reaches past 2^64");
        chunks.push_back({offset, bytes});
    }
    if (sample != sampleCount) return fail("chunks hold fewer samples than it has");
    return chunks;
}

// The chunks of the first audio track of `moov`.
std::optional<std::vector<output::ByteRange>> FirstAudioTrackChunks(
    const std::vector<uint8_t>& moov, std::string* why) {
    const auto traks = output::FindVideoAndAudioTraks(moov);
    if (!traks) {
        *why = "the movie has no video and audio track to read";
        return std::nullopt;
    }
    return ChunksOfTrak(moov, traks->audio, why);
}

OnePassEnd CopyInOnePass(const output::PreparedEdit& edit, int inFd, int outFd,
                         const OnePassHooks& hooks, std::string* why) {
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

OnePassEnd BoxesInOnePass(const output::PreparedEdit& edit, int outFd, const OnePassHooks& hooks,
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
    if (const OnePassEnd copied = CopyInOnePass(edit, inFd, outFd, hooks, why);
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
    return BoxesInOnePass(edit, outFd, hooks, why);
}

OnePassEnd WriteCopyEditInOnePass(const output::PreparedEdit& edit, int inFd, int outFd,
                                  const OnePassHooks& hooks, std::string* why) {
    if (const OnePassEnd copied = CopyInOnePass(edit, inFd, outFd, hooks, why);
        copied != OnePassEnd::Written) {
        return copied;
    }
    return BoxesInOnePass(edit, outFd, hooks, why);
}

std::optional<AudioTrackBytes> ReadAudioTrackBytes(int fd, std::string* why) {
    const auto moov = ReadMoovOfFd(fd, why);
    if (!moov) return std::nullopt;
    auto chunks = FirstAudioTrackChunks(*moov, why);
    if (!chunks) return std::nullopt;
    AudioTrackBytes audio;
    audio.digest = kAudioDigestStart;
    std::vector<uint8_t> slice;
    // Chunks that follow one another are read as one run, a slice at a time.
    for (std::size_t k = 0; k < chunks->size();) {
        const uint64_t start = (*chunks)[k].offset;
        uint64_t end = (*chunks)[k].End();
        for (++k; k < chunks->size() && (*chunks)[k].offset == end; ++k) {
            end = (*chunks)[k].End();
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
    audio.chunks = std::move(*chunks);
    return audio;
}

std::optional<std::vector<output::ByteRange>> AudioPacketsFromTables(int fd, std::string* why) {
    const auto moov = ReadMoovOfFd(fd, why);
    if (!moov) return std::nullopt;
    return FirstAudioTrackChunks(*moov, why);
}

std::optional<std::string> CheckEditedOutput(int fd, const output::PreparedEdit& edit,
                                             int64_t audioBytes, uint64_t audioDigest) {
    const uint64_t expectedLength = edit.plan.copyLength + edit.moov.size();
    if (LengthOfFd(fd) != expectedLength) {
        return "the output is not " + std::to_string(expectedLength) + " bytes long";
    }
    std::string why;
    const auto moov = ReadMoovOfFd(fd, &why);
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
