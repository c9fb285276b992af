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

#include "PlayersReading.h"
#include "audio/ByteOrder.h"
#include "control/movieinfo/BoxProbe.h"
#include "control/movieinfo/MovieCheck.h"
#include "movie/AudioFrame.h"
#include "movie/MakerNote.h"
#include "movie/MetadataChecks.h"
#include "movie/MovieReader.h"
#include "movie/SpatialMetadata.h"
#include "output/CopiedAudioMoov.h"
#include "output/MetadataTransplant.h"
#include "output/MoovLayout.h"
#include "output/MoovTransplant.h"
#include "output/PreparedEdit.h"
#include "output/TrackTables.h"

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
                                   reader.Sa3dBox(), reader.Recording(), output::SphericalVideo{});
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
            Require(track.ownChannels.channels == 0 || !track.ownChannels.from.empty(),
                    "a channel count without what said it");
            std::size_t text = 0;
            for (const auto& [name, value] : track.sphericalV1) text += name.size() + value.size();
            Require(text <= size, "spherical fields longer than the moov");
        }
    }
    // The input as a sound sample entry, whose channels are read from its
    // own fields and its esds or dOps box.
    const SoundEntryChannels own = ReadSoundEntryChannels(data, size);
    Require(own.problem.empty() || own.from == "the Opus header",
            "only the Opus header contradicts itself");
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

// A first-order SA3D box with the camera's channel map, for inputs the
// reader refuses.
inline std::vector<uint8_t> StandInSa3d() {
    std::vector<uint8_t> box;
    AppendBE32(box, 36);
    box.insert(box.end(), {'S', 'A', '3', 'D', 0, 0});
    AppendBE32(box, 1);
    box.insert(box.end(), {0, 0});
    AppendBE32(box, 4);
    for (uint32_t channel : {0u, 3u, 1u, 2u}) AppendBE32(box, channel);
    return box;
}

inline std::vector<output::ByteRange> SamplesOf(const output::TrackTables& tables) {
    std::vector<output::ByteRange> samples;
    for (const output::TrackSample& sample : tables.samples) {
        samples.push_back({sample.offset, sample.size});
    }
    return output::CoveredBytes(std::move(samples));
}

// The edit of a movie whose audio goes out as it came in, with the audio
// chunks (or one stand-in packet) as its packets and the reader's boxes (or
// stand-ins): what is prepared writes no byte of an audio packet or a video
// sample, and its moov is whole with both tracks.
inline void PrepareCopyEditOf(std::istream& stream, uint64_t size, const MovieReader& reader,
                              const output::EditedAudioTrack& audio) {
    std::vector<output::ByteRange> packets;
    for (std::size_t i = 0; i < audio.chunkOffsets.size(); ++i) {
        packets.push_back({audio.chunkOffsets[i], uint64_t{audio.chunkInstants[i]} * 8});
    }
    output::CopiedAudioBoxes boxes;
    boxes.videoSampleEntry = reader.VideoSampleEntry();
    boxes.uuidBox = reader.UuidBox();
    boxes.sa3dBox = audio.sa3dBox;
    std::string why;
    const auto edit = output::PrepareCopyEdit(stream, size, packets, boxes, reader.Recording(),
                                              "spatialmux fuzz", &why);
    stream.clear();
    if (!edit) {
        Require(!why.empty(), "a copy edit refused without a cause");
        return;
    }
    const std::vector<output::ByteRange> rewritten = output::CoveredBytes(edit->plan.Rewritten());
    Require(!output::FirstSharedByte(output::CoveredBytes(packets), rewritten),
            "the copy edit rewrites an audio packet");
    Require(!output::FirstSharedByte(edit->video, rewritten),
            "the copy edit rewrites a video sample");
    Require(output::IsWholeBox(edit->moov, "moov"), "the copy edit's moov is not a whole box");
    Require(output::FindVideoAndAudioTraks(edit->moov).has_value(),
            "the copy edit's moov lacks a track");
}

// What the edit engine works out before it makes a file, for the movie at
// `path` (`size` bytes): the plan, the proof and the new moov, the audio
// writes taken from the frame reading's own walk (or, for a movie the
// reader refuses, one chunk in the middle of the file). What is prepared
// must keep the proof's promises, and the video track must reach the new
// moov as it was.
inline void PrepareEditOf(const std::string& path, uint64_t size) {
    MovieReader reader(kFrameSize);
    output::EditedAudioTrack audio;
    if (reader.Open(path, kFrameSize) == MovieReader::kOpenReady) {
        audio.sampleRate = static_cast<uint32_t>(reader.Track().timescale);
        audio.sa3dBox = reader.Sa3dBox();
        for (const FileSpan& span : reader.AudioSpans()) {
            Require(span.bytes % kBytesPerInstant == 0, "a span of part of an instant");
            audio.chunkOffsets.push_back(span.offset);
            audio.chunkInstants.push_back(static_cast<uint32_t>(span.bytes / kBytesPerInstant));
        }
    } else {
        audio.sa3dBox = StandInSa3d();
        audio.chunkOffsets = {size / 2};
        audio.chunkInstants = {1};
    }
    std::ifstream stream(path, std::ios::binary);
    std::string why;
    PrepareCopyEditOf(stream, size, reader, audio);
    const auto edit =
        output::PrepareEdit(stream, size, audio, reader.Recording(), "spatialmux fuzz", &why);
    if (!edit) {
        Require(!why.empty(), "an edit refused without a cause");
        return;
    }
    const output::EditPlan& plan = edit->plan;
    Require(plan.copyLength <= size, "the copy is longer than the input");
    Require(edit->ftyp.size() == plan.ftyp.size, "the new ftyp does not fill the old one");
    Require(!output::FirstSharedByte(edit->video, edit->audio), "audio written over video");
    Require(!output::FirstSharedByte(edit->video, output::CoveredBytes(plan.Rewritten())),
            "a video sample where the edit rewrites the copy");
    for (const output::ByteRange& sample : edit->video) {
        Require(sample.End() <= plan.copyLength, "a video sample beyond the copy");
    }
    for (const output::ByteRange& write : edit->audio) {
        Require(output::InsideMedia(plan, write.offset, write.size), "audio written beyond mdat");
    }
    Require(output::IsWholeBox(edit->moov, "moov"), "the new moov is not a whole box");
    output::MoovLayout layout;
    Require(output::FindMoovLayout(edit->moov.data(), edit->moov.size(), &layout),
            "the new moov lacks its tracks");
    const auto trak = output::FirstVideoTrak(edit->moov);
    Require(trak.has_value(), "the new moov's video track cannot be found");
    const auto copied = output::ReadTrackTables(edit->moov, *trak, &why);
    Require(copied && SamplesOf(*copied) == edit->video,
            "the new moov's video track reads otherwise than the input's");

    // The players' reading of the input: an accepted plan writes no byte of
    // a video sample where the stand-in of libavformat places it either.
    std::ifstream whole(path, std::ios::binary);
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(whole)),
                                     std::istreambuf_iterator<char>());
    if (const auto players = PlayersVideoSamples(bytes)) {
        const std::vector<output::ByteRange> placed = output::CoveredBytes(*players);
        Require(!output::FirstSharedByte(placed, edit->audio),
                "audio written over video as players read it");
        Require(!output::FirstSharedByte(placed, output::CoveredBytes(plan.Rewritten())),
                "a video sample as players read it where the edit rewrites the copy");
        for (const output::ByteRange& sample : placed) {
            Require(sample.End() <= plan.copyLength,
                    "a video sample as players read it beyond the copy");
        }
    }
}

// A stand-in for libavformat's probe, made from the input's first bytes: a
// few streams of any kind, channel count, layout and index end.
inline std::optional<MediaProbe> StandInProbe(const uint8_t* data, std::size_t size) {
    if (size == 0 || data[0] % 5 == 0) return std::nullopt;
    MediaProbe probe;
    probe.format = "mov,mp4,m4a,3gp,3g2,mj2";
    for (std::size_t i = 1; i + 3 < size && probe.streams.size() < data[0] % 5u; i += 4) {
        StreamProbe stream;
        stream.kind = static_cast<StreamProbe::Kind>(data[i] % 3);
        stream.channels = data[i + 1] % 6;
        stream.layout = (data[i + 2] & 1) != 0 ? "ambisonic 1" : "4.0";
        stream.sphericalSideData = (data[i + 2] & 2) != 0;
        stream.indexEnd = (data[i + 3] & 1) != 0 ? size + 1 : size / 2;
        probe.streams.push_back(stream);
    }
    return probe;
}

// --check's report on the movie at `path`, without a probe and with the
// stand-in made of `data`: the verdict follows the facts it gives.
inline void CheckReportOf(const std::string& path, const uint8_t* data, std::size_t size) {
    const auto judge = [&path](const CheckReport& report) {
        const bool camera = report.kind == CheckReport::Kind::CameraMovie;
        Require(camera == report.camera.has_value(), "camera facts without a camera movie");
        Require(report.convertible == (camera && report.notConvertible.empty()),
                "convertible against its reason");
        Require(camera || report.ready == report.notReady.empty(), "ready against its reasons");
        Require(camera || !report.convertible, "a movie of another kind is convertible");
        Require(report.Passed() == (report.convertible || report.ready),
                "passed against the verdict");
        Require(report.probe.has_value() || !report.ready, "ready without a probe");
        if (report.camera) {
            Require(report.camera->gain > 0.0f && report.camera->gain < 2.0f, "an impossible gain");
        }
        if (report.convertible) {
            MovieReader reader(kFrameSize);
            Require(reader.Open(path, kFrameSize) == MovieReader::kOpenReady,
                    "convertible, but the reader refuses it");
        }
    };
    for (const bool probed : {false, true}) {
        judge(CheckMovieFile(path, [probed, data, size](const std::string&, std::string* problem) {
            if (!probed) *problem = "not probed";
            return probed ? StandInProbe(data, size) : std::nullopt;
        }));
    }
    // The probe the browser's core reads from the boxes themselves.
    judge(CheckMovieFile(path, ProbeMediaFromBoxes));
}

}  // namespace spatialmux::fuzzing
