// Whole conversions of camera movies that carry recording metadata: dates,
// rotation, languages, handler name, user-data tags and QuickTime keys reach
// the output, read with our own box parser and with ffprobe; what the input
// lacks stays absent; the camera's private boxes stay behind, so an output
// is not taken for a camera movie.
#include <gtest/gtest.h>

#include "audio/ByteOrder.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "support/BoxTree.h"
#include "support/ConversionExpectations.h"
#include "support/MediaPackets.h"
#include "support/RunProgram.h"
#include "support/TempDir.h"

namespace spatialmux {
namespace {

using fixture::CameraMovieOptions;
using fixture::HeaderStamp;
using nlohmann::json;
using testing::BoxRef;
using testing::FindBoxPath;
using testing::ReadFileBytes;
using testing::RunProgram;
using testing::TempDir;
using Bytes = std::vector<uint8_t>;

const std::string kEnglish = "LANGUAGE=en LC_ALL=C.UTF-8";
// 2024-05-01 12:00:00 UTC in seconds since 1904.
constexpr uint64_t kNoon = 3797409600;
// 2050-01-01 00:00:00 UTC: beyond what 32 bits hold.
constexpr uint64_t kLate = 4607452800;

// Every box its own times, so that a time taken from the wrong box shows.
CameraMovieOptions MovieWithEverything(uint8_t version) {
    CameraMovieOptions o = testing::SmallMovie(4800);
    const uint64_t base = version == 1 ? kLate : kNoon;
    o.movieHeader = {version, base, base + 1};
    o.videoTrackHeader = {version, base + 10, base + 11};
    o.videoMediaHeader = {version, base + 20, base + 21};
    o.audioTrackHeader = {version, base + 40, base + 41};
    o.audioMediaHeader = {version, base + 50, base + 51};
    o.privateAudioHeader = {version, base + 30, base + 31};
    o.rotationDegrees = 90;
    o.videoLanguage = "jpn";
    o.audioLanguage = "fra";
    o.videoHandlerName = "Camera Video Handler";
    o.userDataTags = {{"\xA9xyz", "+35.6586+139.7454+040.000/"},
                      {"\xA9mak", "Zorva"},
                      {"\xA9mod", "Velix V"},
                      {"\xA9"
                       "day",
                       "2024-05-01T21:00:00+0900"},
                      {"\xA9nam", "Harbour at noon"},
                      {"\xA9swr", "Velix firmware 1.1"}};
    o.metadataKeys = {{"com.apple.quicktime.location.ISO6709", "+35.6586+139.7454+040.000/"},
                      {"com.apple.quicktime.creationdate", "2024-05-01T21:00:00+0900"},
                      {"com.apple.quicktime.make", "Zorva Keys"},
                      {"com.apple.quicktime.model", "Velix V Keys"}};
    return o;
}

std::string Capture(const std::string& command) {
    std::string text;
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    if (!pipe) return text;
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe.get())) > 0;) {
        text.append(buffer, n);
    }
    return text;
}

json Probe(const std::string& path) {
    const std::string text =
        Capture("ffprobe -v error -show_entries format_tags:stream_tags -of json " +
                testing::ShellQuote(path));
    return json::parse(text, nullptr, false);
}

std::string Tag(const json& tags, const std::string& key) {
    return tags.contains(key) ? tags[key].get<std::string>() : std::string("(absent)");
}

uint64_t Be64(const Bytes& b, uint64_t at) {
    return (uint64_t{ReadBE32(b.data() + at)} << 32) | ReadBE32(b.data() + at + 4);
}

// Version, creation and modification of a header box.
HeaderStamp StampAt(const Bytes& b, const std::string& path) {
    const auto box = FindBoxPath(b, path);
    if (!box) return {9, 0, 0};
    const uint8_t version = b[box->offset + 8];
    if (version == 1) return {1, Be64(b, box->offset + 12), Be64(b, box->offset + 20)};
    return {version, ReadBE32(b.data() + box->offset + 12), ReadBE32(b.data() + box->offset + 16)};
}

void ExpectTimes(const Bytes& out, const std::string& path, const HeaderStamp& expected) {
    const HeaderStamp got = StampAt(out, path);
    EXPECT_EQ(got.creation, expected.creation) << path;
    EXPECT_EQ(got.modification, expected.modification) << path;
}

Bytes Region(const Bytes& b, const BoxRef& box, uint64_t from, uint64_t count) {
    return Bytes(b.begin() + static_cast<std::ptrdiff_t>(box.offset + from),
                 b.begin() + static_cast<std::ptrdiff_t>(box.offset + from + count));
}

bool Contains(const Bytes& haystack, const std::string& needle) {
    return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end()) !=
           haystack.end();
}

// The header version, and the output's name: QuickTime with PCM, or MP4
// with AAC, whose moov FFmpeg lays out its own way (udta holding an iTunes
// meta, no moov/meta of its own).
class RecordingMetadataConversion : public ::testing::TestWithParam<std::tuple<int, const char*>> {
};

TEST_P(RecordingMetadataConversion, EveryFieldReachesTheOutputFromItsOwnBox) {
    TempDir dir;
    const auto [version, outputName] = GetParam();
    const bool mp4 = std::string(outputName) == "out.mp4";
    const CameraMovieOptions options = MovieWithEverything(static_cast<uint8_t>(version));
    const auto movie = testing::MakeMovie(dir, "in.mp4", options);
    const std::string output = dir.Path(outputName);
    const auto run = RunProgram({movie.path, output}, kEnglish);
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    const Bytes in = ReadFileBytes(movie.path);
    const Bytes out = ReadFileBytes(output);

    ExpectTimes(out, "moov/mvhd", options.movieHeader);
    ExpectTimes(out, "moov/trak#1/tkhd", options.videoTrackHeader);
    ExpectTimes(out, "moov/trak#1/mdia/mdhd", options.videoMediaHeader);
    // The audio track's dates are those of the camera's private audio box.
    ExpectTimes(out, "moov/trak#2/tkhd", options.privateAudioHeader);
    ExpectTimes(out, "moov/trak#2/mdia/mdhd", options.privateAudioHeader);

    // Matrix (rotation), languages and handler name, by our own parser.
    const auto matrixOf = [](const Bytes& b) {
        const auto tkhd = *FindBoxPath(b, "moov/trak#1/tkhd");
        return Region(b, tkhd, b[tkhd.offset + 8] == 1 ? 60 : 48, 36);
    };
    EXPECT_EQ(matrixOf(out), matrixOf(in));
    const auto languageOf = [](const Bytes& b, const std::string& path) {
        const auto mdhd = *FindBoxPath(b, path);
        return Region(b, mdhd, mdhd.size - 4, 2);
    };
    EXPECT_EQ(languageOf(out, "moov/trak#1/mdia/mdhd"), languageOf(in, "moov/trak#1/mdia/mdhd"));
    EXPECT_EQ(languageOf(out, "moov/trak#2/mdia/mdhd"), languageOf(in, "moov/trak#2/mdia/mdhd"));

    // Tags: each of the input's, byte for byte, once; the camera's software
    // tag gives way to the muxer's own; the metadata box as it was.
    const auto udta = FindBoxPath(out, "moov/udta");
    ASSERT_TRUE(udta);
    const auto children = testing::Children(out, udta->offset + 8, udta->offset + udta->size);
    const auto inUdta = *FindBoxPath(in, "moov/udta");
    for (const BoxRef& tag :
         testing::Children(in, inUdta.offset + 8, inUdta.offset + inUdta.size)) {
        const auto count = std::count_if(children.begin(), children.end(), [&](const BoxRef& c) {
            return testing::BoxBytes(out, c) == testing::BoxBytes(in, tag);
        });
        const bool carried = tag.type[0] != 'Z' && tag.type != "\xA9swr";
        EXPECT_EQ(count, carried ? 1 : 0) << tag.type;
    }
    // FFmpeg's MP4 muxer names itself in udta/meta instead.
    EXPECT_EQ(std::count_if(children.begin(), children.end(),
                            [](const BoxRef& c) { return c.type == "\xA9swr"; }),
              mp4 ? 0 : 1);
    const auto meta = FindBoxPath(out, "moov/meta");
    ASSERT_TRUE(meta);
    EXPECT_EQ(testing::BoxBytes(out, *meta), testing::BoxBytes(in, *FindBoxPath(in, "moov/meta")));
    // Neither the maker note nor the pointer to the private audio tables.
    EXPECT_FALSE(Contains(out, "ZMKN"));
    EXPECT_FALSE(Contains(out, "ZDT9"));
    EXPECT_FALSE(Contains(out, "ZATR"));

    // What ffprobe reports.
    const json probeIn = Probe(movie.path);
    const json probeOut = Probe(output);
    ASSERT_FALSE(probeOut.is_discarded());
    ASSERT_EQ(probeOut["streams"].size(), 2u);
    const json& format = probeOut["format"]["tags"];
    const json& video = probeOut["streams"][0]["tags"];
    const json& audio = probeOut["streams"][1]["tags"];
    for (const char* key :
         {"creation_time", "location", "make", "model", "date", "title",
          "com.apple.quicktime.location.ISO6709", "com.apple.quicktime.creationdate",
          "com.apple.quicktime.make", "com.apple.quicktime.model"}) {
        EXPECT_NE(Tag(probeIn["format"]["tags"], key), "(absent)") << key;
        EXPECT_EQ(Tag(format, key), Tag(probeIn["format"]["tags"], key)) << key;
    }
    for (const char* key : {"creation_time", "language", "handler_name"}) {
        EXPECT_EQ(Tag(video, key), Tag(probeIn["streams"][0]["tags"], key)) << key;
    }
    EXPECT_EQ(Tag(video, "handler_name"), "Camera Video Handler");
    EXPECT_EQ(Tag(video, "language"), "jpn");
    EXPECT_EQ(Tag(audio, "language"), "fra");
    const std::string year = version == 1 ? "2050-01-01T00:00:" : "2024-05-01T12:00:";
    EXPECT_EQ(Tag(format, "creation_time"), year + "00.000000Z");
    EXPECT_EQ(Tag(video, "creation_time"), year + "20.000000Z");
    EXPECT_EQ(Tag(audio, "creation_time"), year + "30.000000Z");
}

INSTANTIATE_TEST_SUITE_P(HeaderVersionsAndContainers, RecordingMetadataConversion,
                         ::testing::Combine(::testing::Values(0, 1),
                                            ::testing::Values("out.mov", "out.mp4")));

TEST(RecordingMetadataConversionAbsent, WhatTheInputLacksStaysAbsentAndTheOutputIsNoCameraMovie) {
    TempDir dir;
    const auto movie = testing::MakeMovie(dir, "in.mp4", testing::SmallMovie(4800));
    const std::string output = dir.Path("out.mov");
    ASSERT_EQ(RunProgram({movie.path, output}, kEnglish).status, 0);
    const Bytes out = ReadFileBytes(output);
    for (const char* path : {"moov/mvhd", "moov/trak#1/tkhd", "moov/trak#1/mdia/mdhd",
                             "moov/trak#2/tkhd", "moov/trak#2/mdia/mdhd"}) {
        ExpectTimes(out, path, {0, 0, 0});
    }
    EXPECT_FALSE(FindBoxPath(out, "moov/meta"));
    EXPECT_FALSE(Contains(out, "ZMKN"));
    EXPECT_FALSE(Contains(out, "ZDT9"));
    const json probe = Probe(output);
    ASSERT_FALSE(probe.is_discarded());
    const json& format = probe["format"]["tags"];
    for (const char* key : {"creation_time", "location", "make", "model", "date", "title"}) {
        EXPECT_EQ(Tag(format, key), "(absent)") << key;
    }
    EXPECT_EQ(Tag(probe["streams"][0]["tags"], "creation_time"), "(absent)");
    EXPECT_EQ(Tag(probe["streams"][1]["tags"], "creation_time"), "(absent)");

    // An output is no camera movie: converted again it is taken as the
    // first-order ambisonics its SA3D box declares, so neither the gain nor
    // the reordering applies a second time.
    for (const std::string& again :
         {output, [&] {
              const auto rich = testing::MakeMovie(dir, "rich.mp4", MovieWithEverything(0));
              const std::string richOut = dir.Path("rich.mov");
              EXPECT_EQ(RunProgram({rich.path, richOut}, kEnglish).status, 0);
              return richOut;
          }()}) {
        const auto run = RunProgram({again, dir.Path("twice.mov")}, kEnglish);
        EXPECT_EQ(run.status, 0) << again << run.out << run.err;
        EXPECT_TRUE(testing::ReadMediaPackets(dir.Path("twice.mov"))[1].Bytes() ==
                    testing::ReadMediaPackets(again)[1].Bytes())
            << again;
    }
}

}  // namespace
}  // namespace spatialmux
