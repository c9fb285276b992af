// The movie-side box walk and the spherical/spatial-audio parsers on
// hostile bytes: sizes that lie, boxes cut short, maps longer than the box.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "iso/BoxWalk.h"
#include "iso/SoundEntryChannels.h"
#include "movie/SpatialMetadata.h"

namespace spatialmux {
namespace {

std::vector<uint8_t> Box(const char* type, const std::vector<uint8_t>& payload) {
    const auto size = static_cast<uint32_t>(payload.size() + 8);
    std::vector<uint8_t> box;
    for (int k = 3; k >= 0; --k) box.push_back(static_cast<uint8_t>(size >> (8 * k)));
    for (int k = 0; k < 4; ++k) box.push_back(static_cast<uint8_t>(type[k]));
    for (uint8_t b : payload) box.push_back(b);
    return box;
}

std::vector<uint8_t> Sa3d(uint32_t channels, std::vector<uint32_t> map) {
    std::vector<uint8_t> payload = {0, 0, 0, 0, 0, 1, 0, 0};
    for (int k = 3; k >= 0; --k) payload.push_back(static_cast<uint8_t>(channels >> (8 * k)));
    for (uint32_t m : map) {
        for (int k = 3; k >= 0; --k) payload.push_back(static_cast<uint8_t>(m >> (8 * k)));
    }
    return Box("SA3D", payload);
}

TEST(BoxWalk, StopsAtTheFirstBoxThatDoesNotFit) {
    std::vector<uint8_t> bytes = Box("free", {1, 2, 3});
    for (uint8_t b : Box("skip", {})) bytes.push_back(b);
    bool complete = false;
    EXPECT_EQ(ChildBoxes(bytes, 0, bytes.size(), &complete).size(), 2u);
    EXPECT_TRUE(complete);

    for (const uint32_t lie : {0xFFFFFFFFu, 7u, 12u}) {  // past the end, below a header
        auto bad = bytes;
        bad[11 + 3] = static_cast<uint8_t>(lie);
        bad[11] = static_cast<uint8_t>(lie >> 24);
        bad[12] = static_cast<uint8_t>(lie >> 16);
        bad[13] = static_cast<uint8_t>(lie >> 8);
        const auto boxes = ChildBoxes(bad, 0, bad.size(), &complete);
        EXPECT_EQ(boxes.size(), 1u) << lie;
        EXPECT_FALSE(complete) << lie;
    }
    // A 64-bit size larger than the buffer, and an end beyond the buffer.
    std::vector<uint8_t> large = {0, 0, 0, 1, 'm', 'd', 'a', 't', 0xFF, 0, 0, 0, 0, 0, 0, 16};
    EXPECT_TRUE(ChildBoxes(large, 0, large.size()).empty());
    large[8] = 0;
    ASSERT_EQ(ChildBoxes(large, 0, 1000).size(), 1u);
    EXPECT_EQ(ChildBoxes(large, 0, 1000)[0].headerSize, 16u);
    EXPECT_TRUE(ChildBoxes(large, 20, 10).empty());
}

// The floor's rules for every walk: which size forms each walk takes, the
// first of duplicates, a lookup by path.
TEST(BoxWalk, SizeFormsDuplicatesAndPaths) {
    auto trak = Box("trak", {});
    for (const auto& mdia : {Box("mdia", {1}), Box("mdia", {2, 2})}) {
        trak.insert(trak.end(), mdia.begin(), mdia.end());
        trak[3] = static_cast<uint8_t>(trak.size());
    }
    // A second trak with a 64-bit size, then a box that runs to the end.
    std::vector<uint8_t> large = {0, 0, 0, 1, 't', 'r', 'a', 'k', 0, 0, 0, 0, 0, 0, 0, 16};
    std::vector<uint8_t> toEnd = {0, 0, 0, 0, 'u', 'd', 't', 'a', 9, 9};
    std::vector<uint8_t> bytes = trak;
    bytes.insert(bytes.end(), large.begin(), large.end());
    bytes.insert(bytes.end(), toEnd.begin(), toEnd.end());

    const auto any = ChildBoxes(bytes, 0, bytes.size());
    ASSERT_EQ(any.size(), 3u);
    EXPECT_EQ(any[1].headerSize, 16u);
    EXPECT_TRUE(any[2].toEnd);
    EXPECT_EQ(any[2].size, 10u);
    bool complete = true;
    EXPECT_EQ(ChildBoxes(bytes, 0, bytes.size(), &complete, SizeForms::NoToEnd).size(), 2u);
    EXPECT_FALSE(complete);
    EXPECT_EQ(ChildBoxes(bytes, 0, bytes.size(), nullptr, SizeForms::Plain32).size(), 1u);
    EXPECT_EQ(FindChildBox(bytes, 0, bytes.size(), "trak", 1)->offset, trak.size());
    EXPECT_FALSE(FindChildBox(bytes, 0, bytes.size(), "trak", 1, SizeForms::Plain32));

    // The first of the two mdia; an empty path is the box itself.
    const struct {
        const char* path;
        std::optional<uint64_t> offset;  // of the box found
    } paths[] = {
        {"mdia", 8}, {"mdia/", 8}, {"", 0}, {"mdi", std::nullopt}, {"mdia/minf", std::nullopt}};
    for (const auto& c : paths) {
        const auto found = FindBoxPath(bytes, any[0], c.path);
        EXPECT_EQ(found ? std::optional<uint64_t>(found->offset) : std::nullopt, c.offset)
            << c.path;
    }
}

TEST(SpatialMetadata, Sa3dFieldsAndMapWithinTheBox) {
    const auto box = Sa3d(4, {0, 1, 2, 3});
    ASSERT_EQ(box.size(), 36u);
    const auto facts = ParseSa3d(box.data(), box.size());
    ASSERT_TRUE(facts);
    EXPECT_EQ(facts->order, 1u);
    EXPECT_EQ(facts->channelCount, 4u);
    EXPECT_TRUE(facts->IdentityMap());
    const auto camera = Sa3d(4, {0, 3, 1, 2});
    EXPECT_FALSE(ParseSa3d(camera.data(), camera.size())->IdentityMap());

    // A channel count that the box does not hold, and a box cut short.
    const auto lying = Sa3d(0x40000000u, {0, 1, 2, 3});
    EXPECT_FALSE(ParseSa3d(lying.data(), lying.size()));
    EXPECT_FALSE(ParseSa3d(box.data(), 19));
    EXPECT_FALSE(ParseSa3d(box.data(), 35));
}

// A sound sample entry of `format`: version 0 or 1 with `channels` in its
// count field, or version 2 with it in numAudioChannels (its count field
// says 3, as QuickTime writes it), followed by `children`.
std::vector<uint8_t> SoundEntry(const char* format, uint16_t version, uint32_t channels,
                                const std::vector<uint8_t>& children) {
    std::vector<uint8_t> fields(6, 0);
    fields.insert(fields.end(), {0, 1, static_cast<uint8_t>(version >> 8),
                                 static_cast<uint8_t>(version), 0, 0, 0, 0, 0, 0});
    const uint32_t count = version == 2 ? 3 : channels;
    fields.insert(fields.end(), {static_cast<uint8_t>(count >> 8), static_cast<uint8_t>(count), 0,
                                 16, 0, 0, 0, 0, 0xBB, 0x80, 0, 0});
    if (version == 1) fields.insert(fields.end(), 16, 0);
    if (version == 2) {
        fields.insert(fields.end(), 12, 0);  // size of the struct, the rate as a double
        for (int k = 3; k >= 0; --k) fields.push_back(static_cast<uint8_t>(channels >> (8 * k)));
        fields.insert(fields.end(), 20, 0);
    }
    fields.insert(fields.end(), children.begin(), children.end());
    return Box(format, fields);
}

// esds with an AudioSpecificConfig of AAC LC at 48 kHz (index 3) and
// channel configuration `configuration`.
std::vector<uint8_t> Esds(uint8_t configuration) {
    const uint8_t asc0 = (2 << 3) | (3 >> 1);
    const auto asc1 = static_cast<uint8_t>(((3 & 1) << 7) | (configuration << 3));
    std::vector<uint8_t> decoderConfig = {0x40, 0x15, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    decoderConfig.insert(decoderConfig.end(), {0x05, 0x80, 0x80, 0x80, 2, asc0, asc1});
    std::vector<uint8_t> es = {0, 1, 0, 0x04, static_cast<uint8_t>(decoderConfig.size())};
    es.insert(es.end(), decoderConfig.begin(), decoderConfig.end());
    std::vector<uint8_t> payload = {0, 0, 0, 0, 0x03, static_cast<uint8_t>(es.size())};
    payload.insert(payload.end(), es.begin(), es.end());
    return Box("esds", payload);
}

// dOps of `channels` channels in channel mapping `family`, with `mapped`
// mapping bytes (each channel its own stream).
std::vector<uint8_t> Dops(uint8_t channels, uint8_t family, std::size_t mapped) {
    std::vector<uint8_t> payload = {0, channels, 0, 0x38, 0, 0, 0xBB, 0x80, 0, 0, family};
    if (family != 0) {
        payload.insert(payload.end(), {channels, 0});
        for (std::size_t k = 0; k < mapped; ++k) payload.push_back(static_cast<uint8_t>(k));
    }
    return Box("dOps", payload);
}

// The track's channels come from its own sample entry: the PCM count (or
// version 2's), AAC's decoder configuration (also inside a QuickTime wave
// box; an MP4 writer's count field says 2), the Opus header, whose mapping
// must fit the count it says. Declarations (SA3D) play no part.
TEST(SoundEntryChannels, TheTrackItselfSaysHowManyChannelsItHas) {
    const auto sa3d = Sa3d(4, {0, 1, 2, 3});
    auto concat = [](std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    const struct {
        const char* name;
        std::vector<uint8_t> entry;
        uint32_t channels;
        std::string from;  // "" with no count
        std::string problem;
    } cases[] = {
        {"PCM v0, SA3D says 4", SoundEntry("sowt", 0, 6, sa3d), 6, "the sample entry", ""},
        {"PCM v1", SoundEntry("twos", 1, 2, sa3d), 2, "the sample entry", ""},
        {"PCM v2", SoundEntry("lpcm", 2, 9, sa3d), 9, "the sample entry", ""},
        {"AAC in MP4", SoundEntry("mp4a", 0, 2, concat(Esds(6), sa3d)), 6,
         "AAC's decoder configuration", ""},
        {"AAC in a wave box", SoundEntry("mp4a", 1, 2, Box("wave", Esds(4))), 4,
         "AAC's decoder configuration", ""},
        {"AAC, 7.1", SoundEntry("mp4a", 0, 2, Esds(7)), 8, "AAC's decoder configuration", ""},
        {"AAC with a program config element", SoundEntry("mp4a", 0, 2, Esds(0)), 0,
         "AAC's decoder configuration", ""},
        {"AAC without esds", SoundEntry("mp4a", 0, 2, {}), 0, "the sample entry", ""},
        {"Opus family 2", SoundEntry("Opus", 0, 4, Dops(4, 2, 4)), 4, "the Opus header", ""},
        {"Opus claims 9, maps 4", SoundEntry("Opus", 0, 4, Dops(9, 2, 4)), 9, "the Opus header",
         "cut short"},
        {"Opus family 0 with 6", SoundEntry("Opus", 0, 6, Dops(6, 0, 0)), 6, "the Opus header",
         "at most 2"},
        {"unknown version", SoundEntry("sowt", 0, 4, {}), 0, "", ""},
    };
    for (const auto& row : cases) {
        std::vector<uint8_t> entry = row.entry;
        if (std::string(row.name) == "unknown version") entry[17] = 7;
        const SoundEntryChannels read = ReadSoundEntryChannels(entry.data(), entry.size());
        EXPECT_EQ(read.channels, row.channels) << row.name;
        if (row.channels > 0 || !row.from.empty()) {
            EXPECT_EQ(read.from, row.from) << row.name;
        }
        EXPECT_EQ(read.problem.empty(), row.problem.empty()) << row.name << ": " << read.problem;
        EXPECT_NE(read.problem.find(row.problem), std::string::npos) << row.name;
        // Cut anywhere, the entry is never read past its end.
        for (std::size_t size = 0; size < entry.size(); ++size) {
            ReadSoundEntryChannels(entry.data(), size);
        }
    }
    // The count a chan box states.
    EXPECT_EQ(ChannelLayoutCount((190u << 16) | 4, 0, 0), 4u);
    EXPECT_EQ(ChannelLayoutCount(1u << 16, 0x3F, 0), 6u);
    EXPECT_EQ(ChannelLayoutCount(0, 0, 2), 2u);
    EXPECT_FALSE(ChannelLayoutCount(0xFFFF0000u, 0, 0));

    // The head-locked bit is not part of the ambisonic type.
    auto headLocked = sa3d;
    headLocked[9] = 0x80;
    const auto facts = ParseSa3d(headLocked.data(), headLocked.size());
    ASSERT_TRUE(facts);
    EXPECT_TRUE(facts->headLockedStereo);
    EXPECT_EQ(facts->ambisonicType, 0);
}

std::vector<uint8_t> Chan(uint32_t tag, uint32_t bitmap, uint32_t count,
                          std::vector<uint32_t> labels) {
    std::vector<uint8_t> payload(4, 0);
    for (uint32_t field : {tag, bitmap, count}) {
        for (int k = 3; k >= 0; --k) payload.push_back(static_cast<uint8_t>(field >> (8 * k)));
    }
    for (uint32_t label : labels) {
        for (int k = 3; k >= 0; --k) payload.push_back(static_cast<uint8_t>(label >> (8 * k)));
        payload.insert(payload.end(), 16, 0);  // flags, coordinates
    }
    return Box("chan", payload);
}

TEST(SpatialMetadata, ChannelLayoutFieldsAndDescriptionsWithinTheBox) {
    const auto bitmap = Chan(0x10000, 0x107, 0, {});
    ASSERT_EQ(bitmap.size(), 24u);
    const auto facts = ParseChannelLayout(bitmap.data(), bitmap.size());
    ASSERT_TRUE(facts);
    EXPECT_EQ(facts->tag, 0x10000u);
    EXPECT_EQ(facts->bitmap, 0x107u);
    EXPECT_TRUE(facts->labels.empty());
    const auto described = Chan(0, 0, 2, {5, 6});
    EXPECT_EQ(ParseChannelLayout(described.data(), described.size())->labels,
              (std::vector<uint32_t>{5, 6}));

    // Counts the box does not hold (one that wraps to 4 bytes when
    // multiplied by 20 in 32 bits), and boxes cut short.
    for (uint32_t count : {3u, 0x0CCCCCCDu, 0xFFFFFFFFu}) {
        const auto lying = Chan(0, 0, count, {5, 6});
        EXPECT_FALSE(ParseChannelLayout(lying.data(), lying.size())) << count;
    }
    EXPECT_FALSE(ParseChannelLayout(bitmap.data(), 23));
    EXPECT_FALSE(ParseChannelLayout(described.data(), described.size() - 1));
}

TEST(SpatialMetadata, SphericalXmlFieldsInOrderAndBrokenTagsSkipped) {
    const std::string xml =
        "<?xml version=\"1.0\"?><rdf:SphericalVideo>"
        "<GSpherical:Spherical>true</GSpherical:Spherical>"
        "<GSpherical:Stitched>true</GSpherical:Stitched>"
        "<GSpherical:Broken>no closing tag"
        "<GSpherical:ProjectionType>equirectangular</GSpherical:ProjectionType>"
        "</rdf:SphericalVideo><GSpherical:Cut";
    const auto fields = ParseSphericalXml(xml);
    ASSERT_EQ(fields.size(), 3u);
    EXPECT_EQ(fields[0], (std::pair<std::string, std::string>{"Spherical", "true"}));
    EXPECT_EQ(fields[2],
              (std::pair<std::string, std::string>{"ProjectionType", "equirectangular"}));
    EXPECT_TRUE(ParseSphericalXml("").empty());
}

}  // namespace
}  // namespace spatialmux
