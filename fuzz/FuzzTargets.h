#pragma once
// What each fuzz target does with one input. The libFuzzer entry points and
// the test that replays the saved inputs (tests/core/hardening_regressions_test.cpp)
// both call these, so a saved crash input goes through exactly the code the
// fuzzer ran. Nothing here depends on libFuzzer.
//
// A broken invariant ends the process with abort(), which both the fuzzer
// and the test runner report as a failure.

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "movie/AudioFrame.h"
#include "movie/MakerNote.h"
#include "movie/MetadataChecks.h"
#include "movie/MovieReader.h"
#include "movie/SpatialMetadata.h"
#include "output/MetadataTransplant.h"
#include "output/MoovTransplant.h"

namespace spatialmux::fuzzing {

// Frames read from one input at most: enough to cross every chunk of a seed
// movie, few enough that a duration of 2^31 instants costs nothing.
inline constexpr int kMaxFramesPerPass = 48;

// Times at which the reading restarts, in milliseconds: the start, inside
// the first chunks, and beyond any end.
inline constexpr uint32_t kSeekTimes[] = {0, 7, 1000, 0xFFFFFFFFu};

inline void Require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "fuzz invariant broken: %s\n", what);
        std::abort();
    }
}

inline bool WriteWholeFile(const std::string& path, const uint8_t* data, std::size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    out.close();
    return static_cast<bool>(out);
}

inline std::vector<uint8_t> ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in),
                                std::istreambuf_iterator<char>());
}

// A per-process scratch file for inputs that must be files; RAM-backed
// when the machine has /dev/shm.
inline std::string ScratchPath(const char* name) {
    const char* folder = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    return std::string(folder) + "/spatialmux-fuzz-" + std::to_string(getpid()) + "-" + name;
}

// Opens the movie at `path` and, when it is accepted, reads its audio from
// several starting points, each pass bounded in frames.
inline void ReadMovieAudio(const std::string& path) {
    MovieReader reader(kFrameSize);
    if (reader.Open(path, kFrameSize) != MovieReader::kOpenReady) {
        return;
    }
    AudioFrame frame;
    for (const uint32_t time : kSeekTimes) {
        reader.SeekToTime(time);
        const ReadCursor& cursor = reader.Cursor();
        Require(cursor.samplesLeftInChunk >= 0, "seek left a negative count in the chunk");
        Require(cursor.currentSample >= 0, "seek before the start of the audio");
        for (int i = 0; i < kMaxFramesPerPass; ++i) {
            const bool ended = reader.ReadFrame(frame.Channel(1), frame.Channel(2),
                                                frame.Channel(3), frame.Channel(4));
            const int32_t delivered = reader.GetLastFrameSamples();
            Require(delivered >= 0 && delivered <= kFrameSize,
                    "frame delivered an impossible count");
            if (ended) {
                break;
            }
        }
    }
}

// Transplants the metadata of the camera movie at `sourcePath` into the file
// at `outputPath`. A refusal must leave that file exactly as it was.
inline void TransplantInto(const std::string& sourcePath, const std::string& outputPath) {
    MovieReader reader(kFrameSize);
    Require(reader.Open(sourcePath, kFrameSize) == MovieReader::kOpenReady,
            "the source camera movie was refused");
    const std::vector<uint8_t> before = ReadWholeFile(outputPath);
    const output::TransplantResult result =
        output::TransplantIntoFile(outputPath, reader.VideoSampleEntry(), reader.UuidBox(),
                                   reader.Sa3dBox(), reader.Recording());
    if (result != output::TransplantResult::Written) {
        Require(ReadWholeFile(outputPath) == before, "a refused transplant changed the output");
    }
}

// Parses a ZMKN payload held in a buffer of exactly its size, so that any
// read past its end is seen by the address sanitizer.
inline void ParseMakerNotePayload(const uint8_t* data, std::size_t size) {
    const std::vector<uint8_t> payload(data, data + size);
    const MakerNoteFacts facts = ParseMakerNote(payload.data(), payload.size());
    Require(facts.softwareText.size() <= size, "software text longer than the payload");
    Require(facts.softwareText.find('\0') == std::string::npos, "software text holds a NUL");
    if (facts.softwareText.empty()) {
        return;
    }
    // The text is a piece of the payload.
    const std::string whole(payload.begin(), payload.end());
    Require(whole.find(facts.softwareText) != std::string::npos,
            "software text not from the payload");
}

// Walks a moov held in a buffer of exactly its size for the spherical and
// spatial-audio metadata; the same bytes are also taken as one SA3D box.
inline void ParseSpatialMetadata(const uint8_t* data, std::size_t size) {
    const std::vector<uint8_t> moov(data, data + size);
    if (const auto metadata = ParseMoovMetadata(moov)) {
        for (const TrackMetadata& track : metadata->tracks) {
            if (track.sa3d) {
                Require(track.sa3d->channelMap.size() == track.sa3d->channelCount,
                        "SA3D map and channel count differ");
                Require(track.sa3d->channelCount * 4u + 20u <= size, "SA3D map beyond the moov");
            }
            std::size_t text = 0;
            for (const auto& [name, value] : track.sphericalV1) text += name.size() + value.size();
            Require(text <= size, "spherical fields longer than the moov");
        }
    }
    if (const auto sa3d = ParseSa3d(moov.data(), moov.size())) {
        Require(sa3d->channelMap.size() * 4u + 20u <= size, "SA3D map beyond the box");
    }
}

// The checks that keep a damaged input's metadata out of the output, each
// given the whole input in a buffer of exactly its size: as an SA3D box, as a
// video sample entry and as a maker-note payload. What a check accepts must
// be what the transplant can use.
inline void CheckInputMetadata(const uint8_t* data, std::size_t size) {
    const std::vector<uint8_t> bytes(data, data + size);
    if (!Sa3dProblem(bytes.data(), bytes.size())) {
        Require(bytes.size() >= kSa3dBoxBytes, "an SA3D box shorter than 36 bytes was accepted");
        std::vector<uint8_t> sa3d(bytes.begin(), bytes.begin() + kSa3dBoxBytes);
        const std::vector<uint8_t> accepted = sa3d;
        Require(output::RemapSa3dChannels(sa3d), "an accepted SA3D box cannot be remapped");
        // The map was a permutation already: only its order changes.
        Require(std::equal(sa3d.begin(), sa3d.begin() + 20, accepted.begin()),
                "remapping changed more than the channel map");
        Require(Sa3dProblem(sa3d.data(), sa3d.size()) == std::nullopt,
                "the remapped SA3D box is refused");
    }
    if (!VideoSampleEntryProblem(bytes.data(), bytes.size())) {
        Require(output::IsWholeBox(bytes), "an accepted video sample entry is not a whole box");
    }
    const MakerNoteFacts facts = ParseMakerNote(bytes.data(), bytes.size());
    if (!TiffOrderOf(bytes.data(), bytes.size())) {
        Require(facts.softwareText.empty() && !facts.makerNoteFlag,
                "a maker note without a byte order mark was read");
    }
}

}  // namespace spatialmux::fuzzing
