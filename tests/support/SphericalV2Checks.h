#pragma once
// Spherical Video V2 in an output: the video sample entry the input had,
// followed by st3d and sv3d saying what the V1 uuid box says, and read by
// libavformat on its own once the V1 box is out of its way (FFmpeg reads V1
// as well, so the output as it is proves nothing about V2).

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/spherical.h>
}

#include "audio/ByteOrder.h"
#include "fixture/SphericalSideData.h"
#include "movie/SpatialMetadata.h"
#include "movie/SphericalAgreement.h"
#include "support/BoxTree.h"
#include "support/TempDir.h"

namespace spatialmux::testing {

// `entry` is `inputEntry` (size field aside) with st3d and sv3d behind it.
inline void ExpectEntryWithSphericalV2(const std::vector<uint8_t>& entry,
                                       const std::vector<uint8_t>& inputEntry) {
    ASSERT_GT(inputEntry.size(), 8u);
    ASSERT_GT(entry.size(), inputEntry.size());
    EXPECT_EQ(ReadBE32(entry.data()), entry.size());
    EXPECT_TRUE(std::equal(inputEntry.begin() + 4, inputEntry.end(), entry.begin() + 4))
        << "the input's video sample entry changed";
    const auto added = Children(entry, inputEntry.size(), entry.size());
    ASSERT_EQ(added.size(), 2u);
    EXPECT_EQ(added[0].type, "st3d");
    EXPECT_EQ(added[1].type, "sv3d");
    EXPECT_EQ(added[1].offset + added[1].size, entry.size());
}

// The output's two versions agree: V1 says an equirectangular sphere, V2 has
// st3d with the same stereo mode and an equi projection.
inline void ExpectSphericalV1AndV2Agree(const std::vector<uint8_t>& file) {
    const auto moov = FindBoxPath(file, "moov");
    ASSERT_TRUE(moov);
    const auto metadata = ParseMoovMetadata(BoxBytes(file, *moov));
    ASSERT_TRUE(metadata);
    ASSERT_FALSE(metadata->tracks.empty());
    const TrackMetadata& video = metadata->tracks.front();
    ASSERT_TRUE(video.sphericalUuid);
    std::string projection, stereo = "mono";
    for (const auto& [name, text] : video.sphericalV1) {
        if (name == "ProjectionType") projection = text;
        if (name == "StereoMode") stereo = text;
    }
    EXPECT_EQ(projection, "equirectangular");
    EXPECT_TRUE(video.st3d);
    EXPECT_TRUE(video.sv3d);
    EXPECT_EQ(video.projection, "equi");
    const uint8_t mode = stereo == "top-bottom" ? 1 : stereo == "left-right" ? 2 : 0;
    EXPECT_EQ(video.stereoMode, std::optional<uint8_t>(mode));
    // The crop too.
    for (const std::string& difference : SphericalDisagreements(video)) ADD_FAILURE() << difference;
}

// libavformat finds an equirectangular mapping in V2 alone: the file at
// `path` is copied into a folder of its own with its V1 uuid box turned into
// free space.
inline void ExpectFfmpegReadsSphericalV2(const std::string& path) {
    const TempDir dir;
    const std::string scratch = dir.Path("v2-only.mov");
    std::vector<uint8_t> file;
    {
        std::ifstream in(path, std::ios::binary);
        file.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    const auto trak = FindBoxPath(file, "moov/trak#1");
    ASSERT_TRUE(trak);
    for (const BoxRef& child : Children(file, trak->offset + 8, trak->offset + trak->size)) {
        if (child.type == "uuid")
            std::copy_n("free", 4, file.begin() + static_cast<std::ptrdiff_t>(child.offset + 4));
    }
    {
        std::ofstream out(scratch, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(file.data()),
                  static_cast<std::streamsize>(file.size()));
        ASSERT_TRUE(out.good());
    }
    AVFormatContext* context = nullptr;
    ASSERT_GE(avformat_open_input(&context, scratch.c_str(), nullptr, nullptr), 0);
    const AVSphericalMapping* mapping =
        context->nb_streams > 0 ? fixture::StreamSphericalMapping(context->streams[0]) : nullptr;
    const bool equirectangular =
        mapping != nullptr && mapping->projection == AV_SPHERICAL_EQUIRECTANGULAR;
    avformat_close_input(&context);
    EXPECT_TRUE(equirectangular) << "libavformat reads no equirectangular V2 mapping";
}

}  // namespace spatialmux::testing
