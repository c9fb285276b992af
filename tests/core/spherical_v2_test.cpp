// Spherical Video V2: what the boxes say for a V1 description, and their
// place in the video sample entry of a new moov.
#include <gtest/gtest.h>

#include <algorithm>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "audio/ByteOrder.h"
#include "control/job/SphericalVideoFromV1.h"
#include "fixture/BoxWriter.h"
#include "movie/SpatialMetadata.h"
#include "output/SphericalVideoBoxes.h"
#include "support/BoxTree.h"

namespace spatialmux {
namespace {

using Bytes = std::vector<uint8_t>;
using Fields = std::vector<std::pair<std::string, std::string>>;

const Fields kEquirectangular = {{"Spherical", "true"}, {"ProjectionType", "equirectangular"}};

Fields With(Fields fields, const Fields& more) {
    fields.insert(fields.end(), more.begin(), more.end());
    return fields;
}

TEST(SphericalVideoFromV1, SaysWhatTheV1DocumentSays) {
    constexpr uint32_t kQuarter = 0x40000000;
    const struct {
        const char* name;
        Fields fields;
        std::optional<output::SphericalVideo> expected;
    } cases[] = {
        {"full sphere, mono", kEquirectangular, output::SphericalVideo{}},
        {"top-bottom", With(kEquirectangular, {{"StereoMode", "top-bottom"}}),
         output::SphericalVideo{.stereoMode = 1}},
        {"left-right", With(kEquirectangular, {{"StereoMode", "left-right"}}),
         output::SphericalVideo{.stereoMode = 2}},
        {"cropped to the middle half of the height",
         With(kEquirectangular, {{"CroppedAreaImageWidthPixels", "4000"},
                                 {"CroppedAreaImageHeightPixels", "1000"},
                                 {"FullPanoWidthPixels", "4000"},
                                 {"FullPanoHeightPixels", "2000"},
                                 {"CroppedAreaLeftPixels", "0"},
                                 {"CroppedAreaTopPixels", "500"}}),
         output::SphericalVideo{.boundsTop = kQuarter, .boundsBottom = kQuarter}},
        {"a cropped area outside the panorama is not written",
         With(kEquirectangular, {{"CroppedAreaImageWidthPixels", "4000"},
                                 {"CroppedAreaImageHeightPixels", "2000"},
                                 {"FullPanoWidthPixels", "4000"},
                                 {"FullPanoHeightPixels", "2000"},
                                 {"CroppedAreaLeftPixels", "1"},
                                 {"CroppedAreaTopPixels", "0"}}),
         output::SphericalVideo{}},
        {"initial view is no pose", With(kEquirectangular, {{"InitialViewHeadingDegrees", "90"}}),
         output::SphericalVideo{}},
        {"not spherical",
         {{"Spherical", "false"}, {"ProjectionType", "equirectangular"}},
         std::nullopt},
        {"no projection", {{"Spherical", "true"}}, std::nullopt},
        {"another projection",
         {{"Spherical", "true"}, {"ProjectionType", "cubemap"}},
         std::nullopt},
    };
    for (const auto& row : cases) {
        EXPECT_EQ(SphericalVideoFromV1(row.fields), row.expected) << row.name;
    }
}

TEST(SphericalVideoFromV1, ReadsOnlyASphericalUuidBox) {
    const std::string xml =
        "<rdf:SphericalVideo><GSpherical:Spherical>true</GSpherical:Spherical>"
        "<GSpherical:ProjectionType>equirectangular</GSpherical:ProjectionType>"
        "<GSpherical:StereoMode>top-bottom</GSpherical:StereoMode></rdf:SphericalVideo>";
    fixture::BoxWriter spherical;
    const size_t box = spherical.BeginBox("uuid");
    spherical.Append(kSphericalUuid, 16);
    spherical.Append(xml);
    spherical.EndBox(box);
    const auto video = SphericalVideoFromUuidBox(spherical.Bytes());
    ASSERT_TRUE(video);
    EXPECT_EQ(video->stereoMode, 1);

    Bytes otherUuid = spherical.Bytes();
    otherUuid[8] ^= 0xFF;
    EXPECT_FALSE(SphericalVideoFromUuidBox(otherUuid));
    EXPECT_FALSE(SphericalVideoFromUuidBox(
        Bytes(spherical.Bytes().begin(), spherical.Bytes().begin() + 24)));
}

// A moov with a video trak and an audio trak, each down to its sample
// entry; the video entry has 78 bytes of fields and `videoChildren`.
Bytes TwoTrackMoov(const Bytes& videoChildren) {
    fixture::BoxWriter w;
    const size_t moov = w.BeginBox("moov");
    for (const char* entryType : {"avc1", "sowt"}) {
        const size_t trak = w.BeginBox("trak");
        const size_t tkhd = w.BeginBox("tkhd");
        w.Zeros(84);
        w.EndBox(tkhd);
        const size_t mdia = w.BeginBox("mdia");
        const size_t hdlr = w.BeginBox("hdlr");
        w.Zeros(8);
        w.FourCc(entryType[0] == 'a' ? "vide" : "soun");
        w.Zeros(13);
        w.EndBox(hdlr);
        const size_t minf = w.BeginBox("minf");
        const size_t stbl = w.BeginBox("stbl");
        const size_t stsd = w.BeginBox("stsd");
        w.U32(0);
        w.U32(1);
        const size_t entry = w.BeginBox(entryType);
        w.Zeros(entryType[0] == 'a' ? 78 : 28);
        if (entryType[0] == 'a') w.Append(videoChildren);
        w.EndBox(entry);
        w.EndBox(stsd);
        const size_t stco = w.BeginBox("stco");
        w.Zeros(8);
        w.EndBox(stco);
        w.EndBox(stbl);
        w.EndBox(minf);
        w.EndBox(mdia);
        w.EndBox(trak);
    }
    w.EndBox(moov);
    return w.Bytes();
}

Bytes Box(const char* type, std::size_t payload) {
    fixture::BoxWriter w;
    const size_t box = w.BeginBox(type);
    w.Zeros(payload);
    w.EndBox(box);
    return w.Bytes();
}

TEST(AddSphericalV2, AppendsBothBoxesToTheVideoEntryAndGrowsItsParents) {
    const Bytes avcC = Box("avcC", 30);
    const Bytes old = TwoTrackMoov(avcC);
    Bytes moov = old;
    const output::SphericalVideo video{.stereoMode = 2, .boundsLeft = 7};
    ASSERT_EQ(output::AddSphericalV2(moov, video), output::SphericalV2Result::Added);

    Bytes boxes = output::St3dBox(2);
    const Bytes sv3d = output::Sv3dBox(video);
    boxes.insert(boxes.end(), sv3d.begin(), sv3d.end());
    ASSERT_EQ(moov.size(), old.size() + boxes.size());
    const std::string videoStsd = "moov/trak#1/mdia/minf/stbl/stsd";
    for (const std::string& path :
         {std::string("moov"), std::string("moov/trak#1"), std::string("moov/trak#1/mdia"),
          std::string("moov/trak#1/mdia/minf"), std::string("moov/trak#1/mdia/minf/stbl"),
          videoStsd}) {
        EXPECT_EQ(testing::FindBoxPath(moov, path)->size,
                  testing::FindBoxPath(old, path)->size + boxes.size())
            << path;
    }
    EXPECT_EQ(testing::BoxBytes(moov, *testing::FindBoxPath(moov, "moov/trak#2")),
              testing::BoxBytes(old, *testing::FindBoxPath(old, "moov/trak#2")));
    const auto entry = testing::FindSampleEntry(moov, *testing::FindBoxPath(moov, videoStsd));
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->size, 86 + avcC.size() + boxes.size());
    const auto children = testing::Children(moov, entry->offset + 86, entry->offset + entry->size);
    ASSERT_EQ(children.size(), 3u);
    EXPECT_EQ(testing::BoxBytes(moov, children[0]), avcC);
    EXPECT_EQ(children[1].type, "st3d");
    EXPECT_EQ(children[2].type, "sv3d");

    // The reader of any movie finds them as players do.
    const auto metadata = ParseMoovMetadata(moov);
    ASSERT_TRUE(metadata);
    ASSERT_EQ(metadata->tracks.size(), 2u);
    EXPECT_TRUE(metadata->tracks[0].st3d);
    EXPECT_EQ(metadata->tracks[0].stereoMode, std::optional<uint8_t>(2));
    EXPECT_TRUE(metadata->tracks[0].sv3d);
    EXPECT_EQ(metadata->tracks[0].projection, "equi");
    // The equi bounds: top, bottom, left, right.
    const auto equi = sv3d.end() - 16;
    EXPECT_EQ(ReadBE32(&*(equi + 8)), 7u);
    EXPECT_EQ(ReadBE32(&*(equi + 12)), 0u);

    // Once there, V2 is kept as it is.
    const Bytes once = moov;
    EXPECT_EQ(output::AddSphericalV2(moov, output::SphericalVideo{.stereoMode = 1}),
              output::SphericalV2Result::Kept);
    EXPECT_EQ(moov, once);

    // Another writer's V2 is kept, what it says and all, but its source
    // becomes ours: the mark by which our outputs are told from footage.
    Bytes foreign = output::Sv3dBox(output::SphericalVideo{.boundsLeft = 7});
    const std::string ours = "spatialmux";
    const auto source = std::search(foreign.begin(), foreign.end(), ours.begin(), ours.end());
    ASSERT_NE(source, foreign.end());
    foreign.erase(source, source + 4);  // "ialmux": a shorter svhd
    WriteBE32(foreign.data(), static_cast<uint32_t>(foreign.size()));
    WriteBE32(foreign.data() + 8, ReadBE32(foreign.data() + 8) - 4);
    Bytes theirs = TwoTrackMoov(foreign);
    const auto before = ParseMoovMetadata(theirs);
    ASSERT_TRUE(before);
    EXPECT_EQ(before->tracks[0].sphericalSource, "ialmux");
    EXPECT_FALSE(WrittenBySpatialmux(*before));
    for (const bool add : {true, false}) {
        Bytes marked = theirs;
        if (add) {
            EXPECT_EQ(output::AddSphericalV2(marked, {}), output::SphericalV2Result::Kept);
        } else {
            EXPECT_TRUE(output::MarkSphericalSource(marked));
        }
        const auto after = ParseMoovMetadata(marked);
        ASSERT_TRUE(after);
        EXPECT_TRUE(WrittenBySpatialmux(*after));
        EXPECT_EQ(after->tracks[0].equiBounds, before->tracks[0].equiBounds);
        EXPECT_EQ(ReadBE32(marked.data()), marked.size());
    }
}

TEST(AddSphericalV2, RefusesWhatItCannotPlaceAndLeavesTheMoovAlone) {
    Bytes overrun = Box("avcC", 30);
    WriteBE32(overrun.data(), 60);  // passes the end of the entry
    Bytes cutShort = TwoTrackMoov({});
    cutShort.pop_back();
    const Bytes cases[] = {
        TwoTrackMoov(overrun),
        TwoTrackMoov(Bytes{0, 0, 0}),  // children that do not tile the entry
        cutShort,
    };
    for (const Bytes& old : cases) {
        Bytes moov = old;
        EXPECT_EQ(output::AddSphericalV2(moov, {}), output::SphericalV2Result::Refused);
        EXPECT_EQ(moov, old);
    }
}

}  // namespace
}  // namespace spatialmux
