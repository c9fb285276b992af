#pragma once
// Everything a correct conversion of a builder movie must hold, checked on
// the output file: the video packets and their times as they were, every audio instant
// reordered with the gain, and the camera's sample entry (with Spherical
// Video V2 added), uuid and SA3D boxes (with the SA3D map set to 0, 1, 2, 3)
// in the moov, beside a chan box that says ambisonics.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "movie/GainChoice.h"
#include "support/BoxTree.h"
#include "support/ConversionExpectations.h"
#include "support/MediaPackets.h"
#include "support/SphericalV2Checks.h"

namespace spatialmux::testing {

// Every video packet of `output` is the input's, in order, as libavformat
// reads both, and there is one at least.
inline void ExpectSameVideo(const std::string& input, const std::string& output) {
    const auto in = ReadMediaPackets(input);
    const auto out = ReadMediaPackets(output);
    ASSERT_FALSE(in.empty());
    ASSERT_FALSE(out.empty());
    ASSERT_EQ(out[0].type, AVMEDIA_TYPE_VIDEO);
    ASSERT_FALSE(out[0].packets.empty());
    ASSERT_EQ(out[0].packets.size(), in[0].packets.size());
    for (std::size_t i = 0; i < in[0].packets.size(); ++i) {
        EXPECT_EQ(out[0].packets[i].data, in[0].packets[i].data) << "video packet " << i + 1;
    }
}

inline void ExpectConvertedOutput(const TestMovie& movie,
                                  const fixture::CameraMovieOptions& options,
                                  const std::string& outputPath) {
    SCOPED_TRACE(outputPath);
    const auto in = ReadMediaPackets(movie.path);
    const auto out = ReadMediaPackets(outputPath);
    ASSERT_EQ(out.size(), 2u);
    ASSERT_FALSE(in.empty());
    ASSERT_EQ(out[0].type, AVMEDIA_TYPE_VIDEO);
    ASSERT_EQ(out[1].type, AVMEDIA_TYPE_AUDIO);
    EXPECT_EQ(out[1].codec, AV_CODEC_ID_PCM_S16LE);
    EXPECT_EQ(out[1].channels, 4);
    EXPECT_EQ(out[1].channelOrder, AV_CHANNEL_ORDER_AMBISONIC);
    EXPECT_EQ(out[1].sampleRate, 48000);

    const float gain = ChooseGain(options.softwareText, options.makerNoteFlag != 0);
    EXPECT_TRUE(out[1].Bytes() == ExpectedConvertedAudio(options, gain))
        << "converted audio differs";

    // The same packets in the same (decode) order, shown and decoded at the
    // same times: B-frames' composition offsets and the edit list that
    // starts the presentation must survive either engine.
    const auto& inVideo = in[0];
    const auto& outVideo = out[0];
    ASSERT_EQ(outVideo.packets.size(), inVideo.packets.size());
    for (std::size_t i = 0; i < inVideo.packets.size(); ++i) {
        EXPECT_EQ(outVideo.packets[i].data, inVideo.packets[i].data) << i;
        EXPECT_EQ(av_rescale_q(outVideo.packets[i].pts, outVideo.timeBase, inVideo.timeBase),
                  inVideo.packets[i].pts)
            << "pts of video packet " << i;
        EXPECT_EQ(av_rescale_q(outVideo.packets[i].dts, outVideo.timeBase, inVideo.timeBase),
                  inVideo.packets[i].dts)
            << "dts of video packet " << i;
    }

    const auto bytes = ReadFileBytes(outputPath);
    const auto videoStsd = FindBoxPath(bytes, "moov/trak#1/mdia/minf/stbl/stsd");
    ASSERT_TRUE(videoStsd);
    const auto videoEntry = FindSampleEntry(bytes, *videoStsd);
    ASSERT_TRUE(videoEntry);
    ExpectEntryWithSphericalV2(BoxBytes(bytes, *videoEntry), movie.layout.videoSampleEntry);
    ExpectSphericalV1AndV2Agree(bytes);
    ExpectFfmpegReadsSphericalV2(outputPath);
    const auto videoTrak = FindBoxPath(bytes, "moov/trak#1");
    ASSERT_TRUE(videoTrak);
    const auto trakChildren =
        Children(bytes, videoTrak->offset + 8, videoTrak->offset + videoTrak->size);
    ASSERT_FALSE(trakChildren.empty());
    EXPECT_EQ(BoxBytes(bytes, trakChildren.back()), movie.layout.uuidBox);
    const auto audioStsd = FindBoxPath(bytes, "moov/trak#2/mdia/minf/stbl/stsd");
    ASSERT_TRUE(audioStsd);
    const auto audioEntry = FindSampleEntry(bytes, *audioStsd);
    ASSERT_TRUE(audioEntry);
    const auto entry = BoxBytes(bytes, *audioEntry);
    ASSERT_GE(entry.size(), 36u);
    const std::vector<uint8_t> sa3d(entry.end() - 36, entry.end());
    std::vector<uint8_t> wanted = movie.layout.sa3dBox;
    ASSERT_EQ(wanted.size(), 36u);
    wanted[27] = 1;
    wanted[31] = 2;
    wanted[35] = 3;
    EXPECT_EQ(sa3d, wanted);
    const auto chan = FindSoundEntryChild(bytes, *audioEntry, "chan");
    ASSERT_TRUE(chan);
    EXPECT_EQ(BoxBytes(bytes, *chan), kAmbisonicChanBox);
}

}  // namespace spatialmux::testing
