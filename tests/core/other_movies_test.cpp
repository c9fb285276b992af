// spatialmux INPUT OUTPUT for 360 movies that are not the camera's. The
// movies are made from a converted camera movie whose tones sit at known
// directions: its boxes renamed away (no SA3D, no chan, no spherical
// metadata), its samples rewritten (FuMa, or a channel order that only the
// SA3D map explains), or encoded as AAC or Opus. After a conversion the
// tones must sit where they were put.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
}

#include <nlohmann/json.hpp>

#include "audio/ByteOrder.h"
#include "control/movieinfo/AnyFoaMovie.h"
#include "control/movieinfo/MovieCheck.h"
#include "control/soundmap/SoundMapCommand.h"
#include "fixture/CameraMovieBuilder.h"
#include "fixture/FragmentedCopy.h"
#include "movie/SpatialMetadata.h"
#include "movie/SphericalAgreement.h"
#include "output/OutputVerification.h"
#include "support/BoxTree.h"
#include "support/FoaVariants.h"
#include "support/MediaPackets.h"
#include "support/RunProgram.h"
#include "support/SphericalV2Checks.h"
#include "support/TempDir.h"

namespace spatialmux {
namespace {

using testing::ProgramRun;
using testing::ReadFileBytes;
using testing::RenameAway;
using testing::RewriteInstants;
using testing::RunProgram;
using testing::TempDir;
using testing::ToFuma;
using testing::ToMappedOrder;
using Bytes = std::vector<uint8_t>;

const Direction kLeft{90, 0};
const Direction kBehindRightAbove{-135, 30};

void WriteBytes(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

class OtherMovies : public ::testing::Test {
protected:
    // Two seconds: a tone on the left, then one behind on the right and above.
    static fixture::CameraMovieOptions TonesAtTheirPlaces() {
        fixture::CameraMovieOptions options;
        options.width = 256;
        options.height = 128;
        options.totalSamples = 2 * 48000;
        options.distinctFrames = 0;
        options.keyframeInterval = 15;
        options.tonesOnly = true;
        options.sources = {{kLeft.azimuthDegrees, kLeft.elevationDegrees, 0.0, 1.0, 440.0, 0.3},
                           {kBehindRightAbove.azimuthDegrees, kBehindRightAbove.elevationDegrees,
                            1.0, 2.0, 660.0, 0.3}};
        return options;
    }
    static void SetUpTestSuite() {
        folder = new TempDir;
        const fixture::CameraMovieOptions options = TonesAtTheirPlaces();
        std::string error;
        ASSERT_TRUE(fixture::WriteCameraMovie(Path("camera.mp4"), options, nullptr, &error))
            << error;
        for (const auto& [args, name] :
             std::vector<std::pair<std::vector<std::string>, std::string>>{
                 {{}, "ambix.mov"},
                 {{"--audio", "aac"}, "aac.mp4"},
                 {{"--audio", "opus"}, "opus.mp4"}}) {
            std::vector<std::string> arguments = args;
            arguments.push_back(Path("camera.mp4"));
            arguments.push_back(Path(name));
            const ProgramRun run = RunProgram(arguments);
            ASSERT_EQ(run.status, 0) << run.out << run.err;
        }
    }
    static void TearDownTestSuite() {
        delete folder;
        folder = nullptr;
    }
    static std::string Path(const std::string& name) { return folder->Path(name); }

    // A copy of `from` as `name`, changed by `change`.
    static std::string Derive(const std::string& from, const std::string& name,
                              const std::function<void(const std::string&, Bytes&)>& change) {
        Bytes file = ReadFileBytes(Path(from));
        change(Path(from), file);
        WriteBytes(Path(name), file);
        return Path(name);
    }

    // Half a second of a movie the fixture builder writes as other cameras
    // do (AmbiX unless `change` says otherwise), as `name`.
    static std::string Built(const std::string& name,
                             const std::function<void(fixture::CameraMovieOptions&)>& change) {
        fixture::CameraMovieOptions options = TonesAtTheirPlaces();
        options.totalSamples = 48000 / 2;
        options.convention = fixture::AmbisonicConvention::AmbiX;
        change(options);
        std::string error;
        EXPECT_TRUE(fixture::WriteCameraMovie(Path(name), options, nullptr, &error)) << error;
        return Path(name);
    }

    static TempDir* folder;
};
TempDir* OtherMovies::folder = nullptr;

// Where the two tones are heard in `path`: at 0.5 s and at 1.5 s.
void ExpectTonesWhereTheyWerePut(const std::string& path, bool expected = true) {
    SoundMapRequest request;
    request.input = path;
    request.output = path + ".png";
    request.at = {0.5, 1.5};
    std::string problem;
    const auto map = MakeSoundMap(request, &problem);
    ASSERT_TRUE(map) << problem;
    ASSERT_EQ(map->moments.size(), 2u);
    const bool right = AngleBetween(map->moments[0].map.peak, kLeft) < 10.0 &&
                       AngleBetween(map->moments[1].map.peak, kBehindRightAbove) < 10.0;
    EXPECT_EQ(right, expected) << path;
}

// What every conversion of such a movie must hold: SA3D with the identity
// map, V1 and V2 that agree (and libavformat reads V2 alone), the input's
// video packets.
void ExpectSpatialOutput(const std::string& input, const std::string& output) {
    SCOPED_TRACE(output);
    const Bytes bytes = ReadFileBytes(output);
    const auto moov = testing::FindBoxPath(bytes, "moov");
    ASSERT_TRUE(moov);
    const auto metadata = ParseMoovMetadata(testing::BoxBytes(bytes, *moov));
    ASSERT_TRUE(metadata);
    ASSERT_EQ(metadata->tracks.size(), 2u);
    ASSERT_TRUE(metadata->tracks[1].sa3d);
    EXPECT_EQ(metadata->tracks[1].sa3d->channelMap, (std::vector<uint32_t>{0, 1, 2, 3}));
    testing::ExpectSphericalV1AndV2Agree(bytes);
    testing::ExpectFfmpegReadsSphericalV2(output);
    const auto in = testing::ReadMediaPackets(input);
    const auto out = testing::ReadMediaPackets(output);
    ASSERT_EQ(out.size(), 2u);
    ASSERT_FALSE(in.empty());
    ASSERT_EQ(out[0].packets.size(), in[0].packets.size());
    for (std::size_t i = 0; i < in[0].packets.size(); ++i) {
        EXPECT_EQ(out[0].packets[i].data, in[0].packets[i].data) << "video packet " << i;
    }
}

TEST_F(OtherMovies, ConvertsWhatTheMovieOrTheUserDeclaresWithTheTonesInPlace) {
    const std::string undeclared = Derive("ambix.mov", "undeclared.mov", [](auto&, Bytes& f) {
        RenameAway(f, {"SA3D", "chan"});
    });
    const std::string fuma = Derive("ambix.mov", "fuma.mov", [](const std::string& from, Bytes& f) {
        RewriteInstants(from, f, ToFuma);
        RenameAway(f, {"SA3D", "chan"});
    });
    const std::string mapped =
        Derive("ambix.mov", "mapped.mov", [](const std::string& from, Bytes& f) {
            RewriteInstants(from, f, ToMappedOrder);
            RenameAway(f, {"chan"});
            const auto moov = testing::FindBoxPath(f, "moov");
            const auto sa3d = std::search(f.begin() + static_cast<std::ptrdiff_t>(moov->offset),
                                          f.end(), std::begin("SA3D"), std::end("SA3D") - 1);
            ASSERT_NE(sa3d, f.end());
            const uint32_t map[4] = {0, 3, 1, 2};
            for (uint32_t k = 0; k < 4; ++k) WriteBE32(&*(sa3d + 16 + 4 * k), map[k]);
        });
    const std::string flat = Derive("ambix.mov", "flat.mov", [](auto&, Bytes& f) {
        RenameAway(f, {"uuid", "st3d", "sv3d"});
    });
    const std::string aac =
        Derive("aac.mp4", "aac-undeclared.mp4", [](auto&, Bytes& f) { RenameAway(f, {"SA3D"}); });
    const std::string opus =
        Derive("opus.mp4", "opus-layout.mp4", [](auto&, Bytes& f) { RenameAway(f, {"SA3D"}); });

    const struct {
        std::string input;
        std::vector<std::string> options;
        std::string output;
    } cases[] = {
        {Path("ambix.mov"), {}, "again.mov"},  // declared, nothing to change
        {undeclared, {"--ambisonics", "ambix"}, "undeclared-out.mov"},
        {fuma, {"--ambisonics", "fuma"}, "fuma-out.mov"},
        {mapped, {}, "mapped-out.mov"},
        {flat, {"--projection", "equirectangular"}, "flat-out.mov"},
        {aac, {"--ambisonics", "ambix"}, "aac-out.mp4"},
        {aac, {"--ambisonics", "ambix"}, "aac-out.mov"},
        {opus, {}, "opus-out.mp4"},
    };
    for (const auto& row : cases) {
        std::vector<std::string> arguments = row.options;
        arguments.push_back(row.input);
        arguments.push_back(Path(row.output));
        const ProgramRun run = RunProgram(arguments);
        ASSERT_EQ(run.status, 0) << row.output << "\n" << run.out << run.err;
        ExpectSpatialOutput(row.input, Path(row.output));
        ExpectTonesWhereTheyWerePut(Path(row.output));
    }
    // Decoded AAC is as long as the input says, without the encoder's
    // padding behind its last frame.
    EXPECT_EQ(testing::ReadMediaPackets(Path("aac-out.mov"))[1].Bytes().size(), 2u * 48000 * 8);
    // The PCM of a movie with nothing to change goes out as it came in.
    EXPECT_TRUE(testing::ReadMediaPackets(Path("again.mov"))[1].Bytes() ==
                testing::ReadMediaPackets(Path("ambix.mov"))[1].Bytes());

    // A FuMa movie taken for AmbiX puts the tones elsewhere: the check above
    // can fail.
    const ProgramRun wrong = RunProgram({"--ambisonics", "ambix", fuma, Path("fuma-as-ambix.mov")});
    ASSERT_EQ(wrong.status, 0) << wrong.out << wrong.err;
    ExpectTonesWhereTheyWerePut(Path("fuma-as-ambix.mov"), false);
}

// The fixture builder writes such movies itself, as other cameras and
// microphones do: one audio track, none of the camera's boxes.
TEST_F(OtherMovies, BuiltInOtherConventionsTheyConvertWithTheTonesInPlace) {
    const struct {
        fixture::AmbisonicConvention convention;
        bool sa3d, uuid;
        std::vector<std::string> options;
        std::string name;
    } cases[] = {
        {fixture::AmbisonicConvention::FuMa,
         false,
         false,
         {"--ambisonics", "fuma", "--projection", "equirectangular"},
         "built-fuma"},
        {fixture::AmbisonicConvention::MappedWxyz, true, true, {}, "built-mapped"},
        {fixture::AmbisonicConvention::AmbiX,
         false,
         true,
         {"--ambisonics", "ambix"},
         "built-ambix"},
    };
    for (const auto& row : cases) {
        fixture::CameraMovieOptions options = TonesAtTheirPlaces();
        options.convention = row.convention;
        options.writeSa3d = row.sa3d;
        options.writeUuid = row.uuid;
        const std::string input = Path(row.name + ".mov");
        std::string error;
        ASSERT_TRUE(fixture::WriteCameraMovie(input, options, nullptr, &error)) << error;
        std::vector<std::string> arguments = row.options;
        arguments.push_back(input);
        arguments.push_back(Path(row.name + "-out.mov"));
        const ProgramRun run = RunProgram(arguments);
        ASSERT_EQ(run.status, 0) << row.name << "\n" << run.out << run.err;
        ExpectSpatialOutput(input, Path(row.name + "-out.mov"));
        ExpectTonesWhereTheyWerePut(Path(row.name + "-out.mov"));
    }
}

// The media data of a movie: its mdat's offset and payload.
std::pair<uint64_t, Bytes> MediaData(const std::string& path) {
    const Bytes bytes = ReadFileBytes(path);
    const auto mdat = testing::FindBoxPath(bytes, "mdat");
    if (!mdat) return {};
    return {mdat->offset, testing::BoxBytes(bytes, *mdat)};
}

TEST_F(OtherMovies, AudioThatNeedsNoChangeIsCopiedAsItIsAndVerified) {
    const std::string fuma =
        Derive("ambix.mov", "fuma4.mov", [](const std::string& from, Bytes& f) {
            RewriteInstants(from, f, ToFuma);
            RenameAway(f, {"SA3D", "chan"});
        });
    const struct {
        std::string input;
        std::vector<std::string> options;
        std::string output;
        bool copied;
    } cases[] = {
        {Path("ambix.mov"), {}, "copy.mov", true},  // the edit engine
        {Path("ambix.mov"), {"--remux"}, "copy-remux.mov", true},
        {Path("aac.mp4"), {}, "copy-aac.mp4", true},
        {Path("opus.mp4"), {"--audio", "opus"}, "copy-opus.mp4", true},
        {fuma, {"--ambisonics", "fuma"}, "fuma4-out.mov", false},
        {Path("aac.mp4"), {"--audio-bitrate", "320k"}, "aac-320k.mp4", false},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.output);
        std::vector<std::string> arguments = row.options;
        arguments.push_back(row.input);
        arguments.push_back(Path(row.output));
        const ProgramRun run = RunProgram(arguments);
        ASSERT_EQ(run.status, 0) << run.out << run.err;
        EXPECT_EQ(run.out.find("audio copied as it is") != std::string::npos, row.copied)
            << run.out;
        EXPECT_EQ(run.out.find("remuxing instead"), std::string::npos) << run.out;
        ExpectSpatialOutput(row.input, Path(row.output));
        const auto in = testing::ReadMediaPackets(row.input);
        const auto out = testing::ReadMediaPackets(Path(row.output));
        ASSERT_EQ(in.size(), 2u);
        ASSERT_EQ(out.size(), 2u);
        EXPECT_EQ(out[1].codec, in[1].codec);
        if (!row.copied) {
            EXPECT_NE(out[1].Bytes(), in[1].Bytes());
            continue;
        }
        ASSERT_EQ(out[1].packets.size(), in[1].packets.size());
        for (std::size_t i = 0; i < in[1].packets.size(); ++i) {
            ASSERT_EQ(out[1].packets[i].data, in[1].packets[i].data) << "audio packet " << i;
            ASSERT_EQ(out[1].packets[i].pts, in[1].packets[i].pts) << "audio packet " << i;
        }
    }
    // The edit kept the input's media data where it was; the remux wrote its
    // own.
    EXPECT_TRUE(MediaData(Path("copy.mov")) == MediaData(Path("ambix.mov")));
    EXPECT_FALSE(MediaData(Path("copy-remux.mov")) == MediaData(Path("ambix.mov")));

    // The verification compares the copied audio: a changed packet, or an
    // edit that wrote over one, fails it.
    using output::AudioCodec;
    const std::string aac = Path("copy-aac.mp4");
    EXPECT_TRUE(
        output::VerifyOutput(aac, {Path("aac.mp4"), 0, true, AudioCodec::Aac, std::nullopt, true})
            .ok);
    Bytes damaged = ReadFileBytes(aac);
    const auto packets = testing::AudioPacketRanges(aac);
    ASSERT_GT(packets.size(), 10u);
    damaged[static_cast<std::size_t>(packets[10].first + 1)] ^= 0x55;
    WriteBytes(Path("copy-aac-damaged.mp4"), damaged);
    const auto verdict =
        output::VerifyOutput(Path("copy-aac-damaged.mp4"),
                             {Path("aac.mp4"), 0, true, AudioCodec::Aac, std::nullopt, true});
    EXPECT_FALSE(verdict.ok);
    EXPECT_NE(verdict.reason.find("audio packet 11 does not hold the input's bytes"),
              std::string::npos)
        << verdict.reason;
    const auto pcm = testing::AudioPacketRanges(Path("copy.mov"));
    ASSERT_FALSE(pcm.empty());
    const std::vector<output::ByteRange> overAudio = {{static_cast<uint64_t>(pcm.back().first), 4}};
    EXPECT_TRUE(output::VerifyOutput(Path("copy.mov"), {Path("ambix.mov"), 0, true, AudioCodec::Pcm,
                                                        std::vector<output::ByteRange>{}, true})
                    .ok);
    const auto overwritten = output::VerifyOutput(
        Path("copy.mov"), {Path("ambix.mov"), 0, true, AudioCodec::Pcm, overAudio, true});
    EXPECT_FALSE(overwritten.ok);
    EXPECT_NE(overwritten.reason.find("lies in bytes the edit wrote"), std::string::npos)
        << overwritten.reason;
    // PCM the remux cut into packets of its own is compared sample by sample.
    Bytes changedPcm = ReadFileBytes(Path("copy-remux.mov"));
    const auto remuxed = testing::AudioPacketRanges(Path("copy-remux.mov"));
    ASSERT_GT(remuxed.size(), 2u);
    changedPcm[static_cast<std::size_t>(remuxed[2].first + 3)] ^= 0x55;
    WriteBytes(Path("copy-remux-changed.mov"), changedPcm);
    const auto changed =
        output::VerifyOutput(Path("copy-remux-changed.mov"),
                             {Path("ambix.mov"), 0, true, AudioCodec::Pcm, std::nullopt, true});
    EXPECT_FALSE(changed.ok);
    EXPECT_NE(changed.reason.find("does not hold the input's samples"), std::string::npos)
        << changed.reason;
}

TEST_F(OtherMovies, RefusesWhatItWouldHaveToGuessAndWritesNothing) {
    const std::string undeclared = Derive("ambix.mov", "undeclared2.mov", [](auto&, Bytes& f) {
        RenameAway(f, {"SA3D", "chan"});
    });
    const std::string flat = Derive("ambix.mov", "flat2.mov", [](auto&, Bytes& f) {
        RenameAway(f, {"uuid", "st3d", "sv3d"});
    });
    // A camera movie damaged before the camera's walk reaches its maker
    // note stays the camera's, refused as today.
    const std::string damagedCamera = Derive("camera.mp4", "camera-no-uuid.mp4",
                                             [](auto&, Bytes& f) { RenameAway(f, {"uuid"}); });
    // A camera movie with a picture track, which its conversion cannot carry.
    fixture::CameraMovieOptions withPicture;
    withPicture.extraVideoTracks = {{64, 32, 1, false}};
    std::string error;
    ASSERT_TRUE(fixture::WriteCameraMovie(Path("camera-picture.mp4"), withPicture, nullptr, &error))
        << error;
    const struct {
        std::string input;
        std::string says;
    } cases[] = {
        {Path("camera-picture.mp4"), "its track 3 (video, mjpeg) would be dropped"},
        {undeclared, "--ambisonics ambix"},
        {flat, "--projection equirectangular"},
        {damagedCamera, "not a camera movie"},
    };
    for (const auto& row : cases) {
        const std::string output = Path("refused.mov");
        const ProgramRun run = RunProgram({row.input, output}, "LANGUAGE=en LC_ALL=C.UTF-8");
        EXPECT_EQ(run.status, 1) << run.out << run.err;
        EXPECT_NE((run.out + run.err).find(row.says), std::string::npos) << run.out << run.err;
        EXPECT_FALSE(std::filesystem::exists(output));
    }
}

// A movie is what its tracks say: a declaration that disagrees with the
// track (an SA3D box that lies about the count, head-locked stereo, an Opus
// header that contradicts itself), a declaring box that cannot be read, an
// audio track without samples and a fragmented movie are refused before
// anything is written, naming the real cause, and --check says the same
// and offers no command.
TEST_F(OtherMovies, TheTrackNotWhatABoxClaimsDecidesAndTheRealCauseIsNamed) {
    const auto built = &OtherMovies::Built;
    auto lying = [built](int channels) {
        return built("sa3d-lies-" + std::to_string(channels) + ".mov",
                     [channels](fixture::CameraMovieOptions& o) {
                         o.audioChannels = channels;
                         o.sa3dChannelCount = 4;
                     });
    };
    const std::string headLocked = built("head-locked.mov", [](fixture::CameraMovieOptions& o) {
        o.audioChannels = 6;
        o.sa3dChannelCount = 6;
        o.sa3dHeadLockedStereo = true;
    });
    const std::string silent =
        built("no-samples.mov", [](fixture::CameraMovieOptions& o) { o.totalSamples = 0; });
    // AAC whose decoder configuration says 6 channels, Opus whose header
    // says 9 (its mapping holds 4), both beside an SA3D box of 4.
    const std::string aac6 = Derive("aac.mp4", "aac-6.mp4", [](auto&, Bytes& f) {
        const auto esds = std::search(f.begin(), f.end(), std::begin("esds"), std::end("esds") - 1);
        const uint8_t specific[] = {0x05, 0x80, 0x80, 0x80};
        const auto at = std::search(esds, f.end(), std::begin(specific), std::end(specific));
        ASSERT_NE(at, f.end());
        *(at + 6) = static_cast<uint8_t>((*(at + 6) & 0x87) | (6 << 3));
    });
    const std::string opus9 = Derive("opus.mp4", "opus-9.mp4", [](auto&, Bytes& f) {
        const auto dops = std::search(f.begin(), f.end(), std::begin("dOps"), std::end("dOps") - 1);
        ASSERT_NE(dops, f.end());
        *(dops + 5) = 9;
    });
    const std::string cutSa3d = Derive("ambix.mov", "sa3d-cut.mov", [](auto&, Bytes& f) {
        const auto sa3d = std::search(f.begin(), f.end(), std::begin("SA3D"), std::end("SA3D") - 1);
        ASSERT_NE(sa3d, f.end());
        WriteBE32(&*(sa3d + 12), 100);  // a channel map the box does not hold
    });
    const std::string noProj =
        Derive("ambix.mov", "sv3d-no-proj.mov", [](auto&, Bytes& f) { RenameAway(f, {"proj"}); });
    std::string error;
    ASSERT_TRUE(fixture::WriteFragmentedCopy(Path("ambix.mov"), Path("fragmented.mov"), &error))
        << error;

    const struct {
        std::string input;
        std::vector<std::string> options;
        std::string cause;
    } cases[] = {
        {lying(2), {}, "SA3D says 4 channels, the track has 2"},
        {lying(6), {}, "SA3D says 4 channels, the track has 6"},
        {lying(9), {}, "SA3D says 4 channels, the track has 9"},
        {headLocked, {}, kHeadLockedStereoUnsupported},
        {aac6, {}, "SA3D says 4 channels, the track has 6"},
        {opus9, {}, "the Opus header's channel mapping is cut short: it says 9 channels"},
        {cutSa3d, {}, "its SA3D box (36 bytes) is cut short"},
        {noProj, {}, "its sv3d box (spherical video V2) says no projection"},
        {silent, {}, kNoAudioSamples},
        {Path("fragmented.mov"),
         {"--ambisonics", "ambix", "--projection", "equirectangular"},
         kFragmentedMovie},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.input);
        std::vector<std::string> arguments = row.options;
        arguments.push_back(row.input);
        arguments.push_back(Path("refused-cause.mov"));
        const ProgramRun run = RunProgram(arguments, "LANGUAGE=en LC_ALL=C.UTF-8");
        EXPECT_EQ(run.status, 1) << run.out << run.err;
        EXPECT_NE(run.out.find(std::string(kNotConvertible) + row.cause), std::string::npos)
            << run.out;
        EXPECT_EQ(run.out.find("remuxing instead"), std::string::npos) << run.out;
        EXPECT_FALSE(std::filesystem::exists(Path("refused-cause.mov")));

        const ProgramRun check = RunProgram({"--check", "--json", row.input});
        const auto report = nlohmann::json::parse(check.out, nullptr, false);
        ASSERT_FALSE(report.is_discarded()) << check.out;
        EXPECT_FALSE(report["ready"]);
        EXPECT_TRUE(report["commands"].empty()) << report["commands"].dump();
        const auto& reasons = report["reasons"];
        EXPECT_TRUE(std::any_of(reasons.begin(), reasons.end(), [&row](const auto& reason) {
            return reason.template get<std::string>().find(row.cause) != std::string::npos;
        })) << reasons.dump();
    }
}

// --check and the conversion agree over the movies the builder makes and
// their variants: a movie called ready converts without options, each
// command offered converts as it is printed, and a movie that the plain
// conversion refuses is not called ready.
TEST_F(OtherMovies, TheCheckAndTheConversionAgreeOnEveryMovie) {
    using Options = fixture::CameraMovieOptions;
    std::vector<std::string> movies = {
        Path("camera.mp4"),
        Path("ambix.mov"),
        Path("aac.mp4"),
        Path("opus.mp4"),
        Derive("ambix.mov", "agree-undeclared.mov",
               [](auto&, Bytes& f) {
                   RenameAway(f, {"SA3D", "chan"});
               }),
        Derive("ambix.mov", "agree-flat.mov",
               [](auto&, Bytes& f) {
                   RenameAway(f, {"uuid", "st3d", "sv3d"});
               }),
        Derive("ambix.mov", "agree-v1-only.mov",
               [](auto&, Bytes& f) {
                   RenameAway(f, {"st3d", "sv3d"});
               }),
        Derive("ambix.mov", "agree-no-proj.mov", [](auto&, Bytes& f) { RenameAway(f, {"proj"}); }),
        Built("agree-built-ambix.mov", [](Options&) {}),
        Built("agree-built-fuma.mov",
              [](Options& o) {
                  o.convention = fixture::AmbisonicConvention::FuMa;
                  o.writeSa3d = false;
              }),
        Built("agree-built-mapped.mov",
              [](Options& o) { o.convention = fixture::AmbisonicConvention::MappedWxyz; }),
        Built("agree-built-flat.mov", [](Options& o) { o.writeUuid = false; }),
        Built("agree-lies-6.mov",
              [](Options& o) {
                  o.audioChannels = 6;
                  o.sa3dChannelCount = 4;
              }),
        Built("agree-stereo.mov",
              [](Options& o) {
                  o.audioChannels = 2;
                  o.writeSa3d = false;
              }),
        Built("agree-head-locked.mov",
              [](Options& o) {
                  o.audioChannels = 6;
                  o.sa3dChannelCount = 6;
                  o.sa3dHeadLockedStereo = true;
              }),
        Built("agree-silent.mov", [](Options& o) { o.totalSamples = 0; }),
    };
    std::string error;
    ASSERT_TRUE(
        fixture::WriteFragmentedCopy(Path("ambix.mov"), Path("agree-fragmented.mov"), &error))
        << error;
    movies.push_back(Path("agree-fragmented.mov"));

    // A command as printed, its words split at the spaces (the test's paths
    // have none), run with a fresh output name in the suggested one's place.
    auto words = [](const std::string& line) {
        std::vector<std::string> split;
        std::size_t begin = 0;
        while (begin <= line.size()) {
            const std::size_t space = std::min(line.find(' ', begin), line.size());
            split.push_back(line.substr(begin, space - begin));
            begin = space + 1;
        }
        return std::vector<std::string>(split.begin() + 1, split.end());
    };
    int outputs = 0;
    for (const std::string& movie : movies) {
        SCOPED_TRACE(movie);
        const ProgramRun check = RunProgram({"--check", "--json", movie});
        const auto report = nlohmann::json::parse(check.out, nullptr, false);
        ASSERT_FALSE(report.is_discarded()) << check.out;
        const std::string plainOutput = Path("agree-" + std::to_string(++outputs) + ".mov");
        const ProgramRun plain = RunProgram({movie, plainOutput});
        if (report["ready"] == true) {
            EXPECT_EQ(plain.status, 0) << "ready, yet:\n" << plain.out << plain.err;
        }
        if (plain.status != 0) {
            EXPECT_NE(report["ready"], true);
        }
        for (const auto& command : report["commands"]) {
            std::vector<std::string> arguments = words(command["command"]);
            ASSERT_GE(arguments.size(), 2u);
            arguments.back() = Path("agree-" + std::to_string(++outputs) + ".mov");
            const ProgramRun run = RunProgram(arguments);
            EXPECT_EQ(run.status, 0) << command["command"] << " offered, yet:\n"
                                     << run.out << run.err;
        }
    }
}

TEST_F(OtherMovies, ABatchSkipsWhatItsOptionsDoNotExplainAndConvertsWithThem) {
    std::filesystem::create_directories(Path("card"));
    Derive("ambix.mov", "card/fuma.mov", [](const std::string& from, Bytes& f) {
        RewriteInstants(from, f, ToFuma);
        RenameAway(f, {"SA3D", "chan"});
    });
    const ProgramRun skipped = RunProgram({"-o", Path("out"), Path("card")});
    EXPECT_EQ(skipped.status, 0) << skipped.out << skipped.err;
    EXPECT_NE(skipped.out.find("skipped fuma.mov: its four audio channels are not declared"),
              std::string::npos)
        << skipped.out;
    EXPECT_FALSE(std::filesystem::exists(Path("out/fuma.mov")));

    const ProgramRun converted =
        RunProgram({"-o", Path("out"), "--ambisonics", "fuma", Path("card")});
    EXPECT_EQ(converted.status, 0) << converted.out << converted.err;
    EXPECT_NE(converted.out.find("converted fuma.mov"), std::string::npos) << converted.out;
    ExpectTonesWhereTheyWerePut(Path("out/fuma.mov"));
}

TEST_F(OtherMovies, TheCheckSaysWhatEachMovieIsAndTheCommandThatMakesItReady) {
    Derive("camera.mp4", "camera-no-uuid.mp4", [](auto&, Bytes& f) { RenameAway(f, {"uuid"}); });
    const ProgramRun low = RunProgram(
        {"--audio", "aac", "--audio-bitrate", "128k", Path("camera.mp4"), Path("aac-128k.mp4")});
    ASSERT_EQ(low.status, 0) << low.out << low.err;
    Derive("ambix.mov", "undeclared3.mov", [](auto&, Bytes& f) {
        RenameAway(f, {"SA3D", "chan"});
    });
    Derive("ambix.mov", "flat3.mov", [](auto&, Bytes& f) {
        RenameAway(f, {"uuid", "st3d", "sv3d"});
    });
    Derive("ambix.mov", "v1-only.mov", [](auto&, Bytes& f) { RenameAway(f, {"st3d", "sv3d"}); });
    const struct {
        std::string name;
        std::string spatial;
        bool ready;
        std::vector<std::string> commands;
        std::string reason;  // one of the reasons, when not ready
    } cases[] = {
        {"camera.mp4",
         "camera movie",
         false,
         {"spatialmux " + Path("camera.mp4") + " " + Path("camera-360.mov")},
         ""},
        {"camera-no-uuid.mp4", "camera movie", false, {}, ""},
        {"ambix.mov", "first-order ambisonics, declared", true, {}, ""},
        {"aac.mp4", "first-order ambisonics, declared", true, {}, ""},
        {"opus.mp4", "first-order ambisonics, declared", true, {}, ""},
        {"aac-128k.mp4",
         "first-order ambisonics, declared",
         false,
         {"spatialmux " + Path("aac-128k.mp4") + " " + Path("aac-128k-360.mov")},
         "AAC at 128 kb/s, below the 256 kb/s upload sites ask for"},
        {"undeclared3.mov",
         "four undeclared channels",
         false,
         {"spatialmux --ambisonics ambix " + Path("undeclared3.mov") + " " +
              Path("undeclared3-360.mov"),
          "spatialmux --ambisonics fuma " + Path("undeclared3.mov") + " " +
              Path("undeclared3-360.mov")},
         "no SA3D box in the audio sample entry"},
        {"flat3.mov",
         "first-order ambisonics, declared",
         false,
         {"spatialmux --projection equirectangular " + Path("flat3.mov") + " " +
          Path("flat3-360.mov")},
         "no spherical video metadata (neither a V1 uuid box nor a V2 sv3d box)"},
        {"v1-only.mov",
         "first-order ambisonics, declared",
         false,
         {"spatialmux " + Path("v1-only.mov") + " " + Path("v1-only-360.mov")},
         "no spherical video V2 (st3d and sv3d in the video sample entry)"},
    };
    for (const auto& row : cases) {
        const ProgramRun run = RunProgram({"--check", "--json", Path(row.name)});
        const auto report = nlohmann::json::parse(run.out, nullptr, false);
        ASSERT_FALSE(report.is_discarded()) << run.out;
        EXPECT_EQ(report["spatial"], row.spatial) << row.name;
        if (row.spatial != "camera movie") {
            EXPECT_EQ(report["ready"], row.ready) << row.name;
        }
        std::vector<std::string> commands;
        for (const auto& command : report["commands"]) commands.push_back(command["command"]);
        EXPECT_EQ(commands, row.commands) << row.name;
        // Every movie says whether a conversion can take it, and why not.
        EXPECT_EQ(report["convertible"], row.ready || !row.commands.empty()) << row.name;
        EXPECT_EQ(report.contains("reason"), !(row.ready || !row.commands.empty())) << row.name;
        if (!row.reason.empty()) {
            const auto& reasons = report["reasons"];
            EXPECT_NE(std::find(reasons.begin(), reasons.end(), row.reason), reasons.end())
                << row.name << ": " << reasons.dump();
        }
        // The text says the same.
        const ProgramRun text = RunProgram({"--check", Path(row.name)});
        for (const std::string& line :
             row.ready ? std::vector<std::string>{"nothing to do"} : row.commands) {
            EXPECT_NE(text.out.find(": " + line + "\n"), std::string::npos) << text.out;
        }
    }
}

// A one-picture thumbnail in front of the 360 video, or a second picture
// track behind the audio: the 360 video is the H.264 track, and every other
// track goes out as it came in, behind the video and the audio.
TEST_F(OtherMovies, TheThreeSixtyVideoIsChosenAndEveryOtherTrackKept) {
    auto movie = [](const std::string& name, fixture::ExtraVideoTrack extra, bool spherical) {
        fixture::CameraMovieOptions options = TonesAtTheirPlaces();
        options.convention = fixture::AmbisonicConvention::AmbiX;
        options.writeUuid = spherical;
        options.extraVideoTracks = {extra};
        std::string error;
        EXPECT_TRUE(fixture::WriteCameraMovie(Path(name), options, nullptr, &error)) << error;
        return Path(name);
    };
    const std::string thumb = movie("thumb.mov", {64, 32, 1, true}, true);
    const std::string flatThumb = movie("flat-thumb.mov", {64, 32, 1, true}, false);
    const std::string twoVideos = movie("two-videos.mov", {96, 48, 3, false}, true);
    const struct {
        std::string input;
        std::vector<std::string> options;
        std::string output;
        std::string says;  // a refusal's cause; empty: converted
    } cases[] = {
        {thumb, {}, "thumb-out.mov", ""},
        {thumb, {"--remux", "--audio", "aac"}, "thumb-out.mp4", ""},
        {flatThumb, {}, "flat-thumb-out.mov", "--projection equirectangular"},
        {flatThumb, {"--projection", "equirectangular"}, "flat-thumb-out.mov", ""},
        {twoVideos, {}, "two-videos-out.mov", ""},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.output);
        std::vector<std::string> arguments = row.options;
        arguments.push_back(row.input);
        arguments.push_back(Path(row.output));
        const ProgramRun run = RunProgram(arguments, "LANGUAGE=en LC_ALL=C.UTF-8");
        if (!row.says.empty()) {
            EXPECT_EQ(run.status, 1) << run.out << run.err;
            EXPECT_NE(run.out.find(row.says), std::string::npos) << run.out;
            EXPECT_FALSE(std::filesystem::exists(Path(row.output)));
            continue;
        }
        ASSERT_EQ(run.status, 0) << run.out << run.err;
        const auto in = testing::ReadMediaPackets(row.input);
        const auto out = testing::ReadMediaPackets(Path(row.output));
        ASSERT_EQ(in.size(), 3u);
        ASSERT_EQ(out.size(), 3u);
        auto indexOf = [&in](AVCodecID codec) {
            return static_cast<std::size_t>(
                std::find_if(in.begin(), in.end(), [codec](auto& s) { return s.codec == codec; }) -
                in.begin());
        };
        const std::size_t video = indexOf(AV_CODEC_ID_H264);
        const std::size_t picture = indexOf(AV_CODEC_ID_MJPEG);
        ASSERT_LT(video, in.size());
        ASSERT_LT(picture, in.size());
        EXPECT_EQ(out[0].codec, AV_CODEC_ID_H264);
        EXPECT_EQ(out[2].codec, AV_CODEC_ID_MJPEG);
        ASSERT_EQ(out[0].packets.size(), in[video].packets.size());
        for (std::size_t i = 0; i < in[video].packets.size(); ++i) {
            EXPECT_EQ(out[0].packets[i].data, in[video].packets[i].data) << "video packet " << i;
        }
        ASSERT_EQ(out[2].packets.size(), in[picture].packets.size());
        for (std::size_t i = 0; i < in[picture].packets.size(); ++i) {
            EXPECT_EQ(out[2].packets[i].data, in[picture].packets[i].data) << "picture " << i;
        }
        const Bytes bytes = ReadFileBytes(Path(row.output));
        testing::ExpectSphericalV1AndV2Agree(bytes);
        testing::ExpectFfmpegReadsSphericalV2(Path(row.output));
        // The 360 video's own recording metadata, not the thumbnail's.
        const auto hdlr = testing::FindBoxPath(bytes, "moov/trak#1/mdia/hdlr");
        ASSERT_TRUE(hdlr);
        const Bytes handler = testing::BoxBytes(bytes, *hdlr);
        EXPECT_NE(std::string(handler.begin(), handler.end()).find("VideoHandler"),
                  std::string::npos);
    }
    // The verification covers every track: an output with a track more than
    // the plan keeps fails it.
    const auto extra = output::VerifyOutput(
        Path("thumb-out.mov"),
        {thumb, 0, true, output::AudioCodec::Pcm, std::nullopt, true, output::TrackChoice{1, {}}});
    EXPECT_FALSE(extra.ok);
    EXPECT_NE(extra.reason.find("the output has 3 tracks, not 2"), std::string::npos)
        << extra.reason;
}

// V1 and V2 of the input that disagree are refused, naming both, and
// --check calls the movie not ready without a command; a cropped V2 alone
// gets a V1 that crops alike.
TEST_F(OtherMovies, VOneAndVTwoSayTheSameInEveryOutput) {
    constexpr uint32_t kQuarter = 1u << 30;  // a quarter of the sphere's width at each side
    auto movie = [](const std::string& name, bool v1, std::string v1Xml,
                    fixture::SphericalV2Spec v2) {
        fixture::CameraMovieOptions options = TonesAtTheirPlaces();
        options.convention = fixture::AmbisonicConvention::AmbiX;
        options.writeUuid = v1;
        options.uuidExtraXml = std::move(v1Xml);
        options.sphericalV2 = v2;
        std::string error;
        EXPECT_TRUE(fixture::WriteCameraMovie(Path(name), options, nullptr, &error)) << error;
        return name;
    };
    const std::string topBottom = "<GSpherical:StereoMode>top-bottom</GSpherical:StereoMode>";
    const struct {
        std::string name;
        std::string says;  // the refusal and --check's reason; empty: converted
    } cases[] = {
        {movie("v2-cubemap.mov", true, "", {true, "cbmp", 0, {}}),
         "V1 says the projection equirectangular, V2 (sv3d) says cubemap"},
        {movie("v2-mesh.mov", true, "", {true, "mshp", 0, {}}),
         "V1 says the projection equirectangular, V2 (sv3d) says mesh"},
        {movie("v1-top-bottom.mov", true, topBottom, {true, "equi", 0, {}}),
         "V1 says the stereo mode top-bottom, V2 (st3d) says mono"},
        {movie("v1-whole-v2-half.mov", true, "", {true, "equi", 0, {0, 0, kQuarter, kQuarter}}),
         "V1 says the picture covers 360 by 180 degrees, V2 (equi) says 180 by 180 degrees"},
        {movie("v2-half.mov", false, "", {true, "equi", 0, {0, 0, kQuarter, kQuarter}}), ""},
        {movie("v2-half-top-bottom.mov", false, "", {true, "equi", 1, {0, 0, kQuarter, kQuarter}}),
         ""},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        const std::string output = Path(row.name + "-out.mov");
        const ProgramRun run = RunProgram({Path(row.name), output}, "LANGUAGE=en LC_ALL=C.UTF-8");
        const ProgramRun check = RunProgram({"--check", "--json", Path(row.name)});
        const auto report = nlohmann::json::parse(check.out, nullptr, false);
        ASSERT_FALSE(report.is_discarded()) << check.out;
        const auto& reasons = report["reasons"];
        if (!row.says.empty()) {
            EXPECT_EQ(run.status, 1) << run.out << run.err;
            EXPECT_NE(run.out.find(row.says), std::string::npos) << run.out;
            EXPECT_FALSE(std::filesystem::exists(output));
            EXPECT_EQ(report["ready"], false);
            EXPECT_NE(std::find(reasons.begin(), reasons.end(), row.says), reasons.end())
                << reasons.dump();
            EXPECT_TRUE(report["commands"].empty()) << report["commands"].dump();
            continue;
        }
        ASSERT_EQ(run.status, 0) << run.out << run.err;
        testing::ExpectSphericalV1AndV2Agree(ReadFileBytes(output));
        // V1 says the half sphere in pixels of one view of the 256 x 128 picture.
        const Bytes bytes = ReadFileBytes(output);
        const auto metadata =
            ParseMoovMetadata(testing::BoxBytes(bytes, *testing::FindBoxPath(bytes, "moov")));
        ASSERT_TRUE(metadata);
        const auto said = SaidByV1(metadata->tracks.front());
        ASSERT_TRUE(said);
        EXPECT_EQ(said->bounds, (std::array<uint32_t, 4>{0, 0, kQuarter, kQuarter}));
        const ProgramRun outputCheck = RunProgram({"--check", "--json", output});
        const auto outputReport = nlohmann::json::parse(outputCheck.out, nullptr, false);
        ASSERT_FALSE(outputReport.is_discarded()) << outputCheck.out;
        EXPECT_EQ(outputReport["ready"], true) << outputReport["reasons"].dump();
    }
}

// The plan's refusals, from reports made by hand.
TEST(PlanFoaConversion, SaysWhyAMovieCannotBeConverted) {
    const TempDir dir;
    const std::string file = dir.Path("movie.mp4");
    WriteBytes(file, Bytes(64, 0));
    auto report = [&file](std::vector<StreamProbe> streams, bool sa3d, bool spherical) {
        CheckReport r;
        r.path = file;
        r.kind = CheckReport::Kind::OtherMovie;
        r.probe = MediaProbe{};
        r.probe->streams = std::move(streams);
        r.metadata = MovieMetadata{};
        TrackMetadata video;
        video.handler = "vide";
        video.sampleEntryBox = Bytes(86, 0);
        if (spherical) video.sphericalUuidBox = SphericalUuidBox(0);
        TrackMetadata audio;
        audio.handler = "soun";
        if (sa3d) audio.sa3d = ParseSa3d(AcnSn3dSa3dBox().data(), 36);
        r.metadata->tracks = {video, audio};
        r.spatial = sa3d ? kSpatialDeclared : kSpatialUndeclared;
        return r;
    };
    StreamProbe video;
    video.kind = StreamProbe::Kind::Video;
    StreamProbe four;
    four.kind = StreamProbe::Kind::Audio;
    four.codec = "aac";
    four.channels = 4;
    four.sampleRate = 48000;
    four.indexEntries = 47;  // a track with samples
    StreamProbe stereo = four;
    stereo.channels = 2;
    const struct {
        const char* name;
        CheckReport report;
        SpatialChoice choice;
        std::string says;  // empty: planned
    } cases[] = {
        {"declared", report({video, four}, true, true), {}, ""},
        {"two audio tracks",
         report({video, four, stereo}, true, true),
         {},
         "2 audio tracks: the first one (aac, 4 channels) would be converted"},
        {"stereo", report({video, stereo}, true, true), {}, "2 channels"},
        {"undeclared", report({video, four}, false, true), {}, "--ambisonics ambix"},
        {"undeclared, said",
         report({video, four}, false, true),
         {AmbisonicsChoice::FuMa, ProjectionChoice::FromMovie},
         ""},
        {"flat", report({video, four}, true, false), {}, "--projection equirectangular"},
        {"flat, said",
         report({video, four}, true, false),
         {AmbisonicsChoice::FromMovie, ProjectionChoice::Equirectangular},
         ""},
        {"no video", report({four}, true, true), {}, "no video track"},
    };
    for (const auto& row : cases) {
        const auto plan = PlanFoaConversion(row.report, row.choice);
        // What no answer mends is refused before anything is asked.
        const auto refused = RefusedWhateverTheAnswers(row.report);
        EXPECT_EQ(refused.has_value(),
                  row.says.find("--") == std::string::npos && !row.says.empty())
            << row.name;
        if (refused) {
            EXPECT_NE(refused->find(row.says), std::string::npos) << *refused;
        }
        if (row.says.empty()) {
            EXPECT_TRUE(std::holds_alternative<FoaPlan>(plan)) << row.name;
        } else if (const auto* refusal = std::get_if<std::string>(&plan)) {
            EXPECT_NE(refusal->find(row.says), std::string::npos) << row.name << ": " << *refusal;
        } else {
            ADD_FAILURE() << row.name << " was planned";
        }
    }
    // A kept track the output's container cannot hold is named, not dropped.
    FoaPlan kept;
    kept.kept = {{5, 3, "data", "none"}};
    const auto dropped = KeptTrackProblem(kept, "out.mp4");
    ASSERT_TRUE(dropped);
    EXPECT_NE(dropped->find("track 3 (data, none) would be dropped"), std::string::npos)
        << *dropped;
    kept.kept = {{5, 3, "video", "mjpeg"}};
    EXPECT_FALSE(KeptTrackProblem(kept, "out.mov"));
    const auto fuma = PlanFoaConversion(report({video, four}, false, true), {AmbisonicsChoice::FuMa, ProjectionChoice::FromMovie});
    ASSERT_TRUE(std::holds_alternative<FoaPlan>(fuma));
    EXPECT_EQ(std::get<FoaPlan>(fuma).channels, (AcnChannels{0, 2, 3, 1}));
    EXPECT_FLOAT_EQ(std::get<FoaPlan>(fuma).wGain, std::sqrt(2.0f));
}

}  // namespace
}  // namespace spatialmux
