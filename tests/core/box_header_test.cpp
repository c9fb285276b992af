// The box floor's header parser and the output's top-level walk: 32-bit,
// 64-bit and to-the-end sizes, and every header or box that would pass the
// bytes it is given refused; the header read from a stream as it stands.
#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "audio/ByteOrder.h"
#include "iso/BoxHeader.h"
#include "iso/BoxWalk.h"

namespace spatialmux {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Box(const char* type, uint32_t payload) {
    Bytes box;
    AppendBE32(box, payload + 8);
    box.insert(box.end(), type, type + 4);
    box.resize(box.size() + payload, 0xAB);
    return box;
}

Bytes LargeBox(const char* type, uint64_t payload) {
    Bytes box;
    AppendBE32(box, 1);
    box.insert(box.end(), type, type + 4);
    AppendBE64(box, payload + 16);
    box.resize(box.size() + payload, 0xCD);
    return box;
}

Bytes Join(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

TEST(ByteOrderTest, WritesAndReadsBothOrders) {
    uint8_t bytes[8] = {};
    WriteBE64(bytes, 0x0102030405060708ull);
    EXPECT_EQ(bytes[0], 1);
    EXPECT_EQ(bytes[7], 8);
    EXPECT_EQ(ReadBE64(bytes), 0x0102030405060708ull);
    EXPECT_EQ(ReadBE32(bytes + 4), 0x05060708u);
    EXPECT_EQ(ReadBE16(bytes + 6), 0x0708u);
    WriteLE32(bytes, 0xA1B2C3D4u);
    EXPECT_EQ(bytes[0], 0xD4);
    EXPECT_EQ(bytes[3], 0xA1);
    EXPECT_EQ(ReadLE32(bytes), 0xA1B2C3D4u);
    EXPECT_EQ(static_cast<int16_t>(ReadLE16(bytes + 2)), static_cast<int16_t>(0xA1B2));
}

TEST(BoxHeaderTest, ReadsEachSizeFormAndRefusesWhatDoesNotFit) {
    const Bytes small = Box("free", 4);
    auto header = ParseBoxHeader(small.data(), small.size(), small.size());
    ASSERT_TRUE(header);
    EXPECT_EQ(header->size, 12u);
    EXPECT_EQ(header->headerSize, 8u);
    EXPECT_TRUE(header->Is("free"));
    // The box may not pass its room, nor be smaller than its header.
    EXPECT_FALSE(ParseBoxHeader(small.data(), small.size(), 11));
    Bytes tiny = small;
    WriteBE32(tiny.data(), 7);
    EXPECT_FALSE(ParseBoxHeader(tiny.data(), tiny.size(), tiny.size()));
    // A header not whole in the bytes given is no header.
    EXPECT_FALSE(ParseBoxHeader(small.data(), 7, 12));

    const Bytes large = LargeBox("mdat", 3);
    header = ParseBoxHeader(large.data(), large.size(), large.size());
    ASSERT_TRUE(header);
    EXPECT_EQ(header->size, 19u);
    EXPECT_EQ(header->headerSize, 16u);
    EXPECT_FALSE(ParseBoxHeader(large.data(), 15, large.size()));
    Bytes huge = large;
    WriteBE64(huge.data() + 8, UINT64_MAX);
    EXPECT_FALSE(ParseBoxHeader(huge.data(), huge.size(), huge.size()));

    Bytes toEnd = Box("mdat", 0);
    WriteBE32(toEnd.data(), 0);
    header = ParseBoxHeader(toEnd.data(), toEnd.size(), 1000);
    ASSERT_TRUE(header);
    EXPECT_EQ(header->size, 1000u);
}

// The camera layout walk judges sizes itself: a size of 0 or below a header
// comes as it stands, the stream is left behind each header, and a header
// cut short is none.
TEST(BoxHeaderTest, ReadsAStreamHeaderAsItStands) {
    Bytes toEnd = Box("free", 0);
    WriteBE32(toEnd.data(), 0);
    Bytes small = Box("abcd", 0);
    WriteBE32(small.data(), 3);
    const Bytes cut = {0, 0, 0, 1, 'm', 'd', 'a', 't', 0, 0};
    const Bytes bytes = Join({toEnd, small, LargeBox("mdat", 0), cut});
    std::istringstream stream(std::string(bytes.begin(), bytes.end()));
    uint8_t first[kBoxHeaderSize] = {};

    auto header = ReadBoxHeaderFrom(stream, first);
    ASSERT_TRUE(header);
    EXPECT_TRUE(header->toEnd);
    EXPECT_EQ(header->size, 0u);
    header = ReadBoxHeaderFrom(stream, first);
    ASSERT_TRUE(header);
    EXPECT_TRUE(header->Is("abcd"));
    EXPECT_EQ(header->size, 3u);
    EXPECT_EQ(stream.tellg(), 16);
    header = ReadBoxHeaderFrom(stream, first);
    ASSERT_TRUE(header);
    EXPECT_EQ(header->size, 16u);
    EXPECT_EQ(header->headerSize, 16u);
    EXPECT_EQ(stream.tellg(), 32);
    EXPECT_EQ(ReadBE32(first), 1u);
    EXPECT_FALSE(ReadBoxHeaderFrom(stream, first));
}

std::optional<BoxSpan> Find(const Bytes& file, uint64_t from, const char* type) {
    std::stringstream stream(std::string(file.begin(), file.end()));
    return FindTopLevelBox(stream, file.size(), from, type);
}

TEST(TopLevelBoxesTest, WalksPastBothSizeFormsAndStopsAtDamage) {
    const Bytes ftyp = Box("ftyp", 12);
    const Bytes mdat = LargeBox("mdat", 40);
    const Bytes moov = Box("moov", 20);
    const Bytes file = Join({ftyp, mdat, moov});

    const auto foundMdat = Find(file, 0, "mdat");
    ASSERT_TRUE(foundMdat);
    EXPECT_EQ(foundMdat->offset, ftyp.size());
    EXPECT_EQ(foundMdat->End(), ftyp.size() + mdat.size());
    const auto foundMoov = Find(file, foundMdat->End(), "moov");
    ASSERT_TRUE(foundMoov);
    EXPECT_EQ(foundMoov->End(), file.size());
    // Nothing before a box is found behind it.
    EXPECT_FALSE(Find(file, foundMdat->End(), "mdat"));
    EXPECT_FALSE(Find(file, 0, "uuid"));

    // A box whose size passes the end of the file ends the walk.
    Bytes cut = file;
    cut.resize(file.size() - 1);
    EXPECT_FALSE(Find(cut, 0, "moov"));
    Bytes damaged = file;
    WriteBE32(damaged.data(), 3);
    EXPECT_FALSE(Find(damaged, 0, "moov"));
}

}  // namespace
}  // namespace spatialmux
