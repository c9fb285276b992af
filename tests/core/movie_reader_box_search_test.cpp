#include "movie/MovieReader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "movie_reader_test_movie.h"

namespace spatialmux {
namespace {

using testmovie::Box;
using testmovie::Bytes;

std::istringstream StreamOf(const Bytes& bytes) {
    return std::istringstream(std::string(bytes.begin(), bytes.end()));
}

Bytes FreeBoxesThenMoov(int freeBoxes) {
    Bytes bytes;
    for (int i = 0; i < freeBoxes; ++i) {
        testmovie::Append(bytes, Box("free", Bytes{}));
    }
    testmovie::Append(bytes, Box("moov", Bytes{1, 2, 3}));
    return bytes;
}

TEST(BoxSearchTest, HeaderLimitIsAThousand) {
    MovieReader reader(1024);
    auto found = StreamOf(FreeBoxesThenMoov(999));
    ASSERT_TRUE(reader.FindBox("moov", found));
    EXPECT_EQ(found.tellg(), 999 * 8 + 8);  // the payload of moov

    auto missed = StreamOf(FreeBoxesThenMoov(1000));
    EXPECT_FALSE(reader.FindBox("moov", missed));
}

TEST(BoxSearchTest, TypesAreComparedExactly) {
    MovieReader reader(1024);
    Bytes bytes = Box("MOOV", Bytes{});
    testmovie::Append(bytes, Box("moov", Bytes{}));
    auto stream = StreamOf(bytes);
    ASSERT_TRUE(reader.FindBox("moov", stream));
    EXPECT_EQ(stream.tellg(), 16);
}

TEST(BoxSearchTest, ZeroSizeRereadsTheSameHeaderUntilTheLimit) {
    MovieReader reader(1024);
    Bytes bytes = {0, 0, 0, 0, 'f', 'r', 'e', 'e'};
    testmovie::Append(bytes, Box("moov", Bytes{}));
    auto stream = StreamOf(bytes);
    EXPECT_FALSE(reader.FindBox("moov", stream));
}

TEST(BoxSearchTest, EndsAtTheEndOfTheData) {
    MovieReader reader(1024);
    auto empty = StreamOf(Bytes{});
    EXPECT_FALSE(reader.FindBox("moov", empty));
    auto partial = StreamOf(Bytes{0, 0, 0, 16, 'm', 'o'});
    EXPECT_FALSE(reader.FindBox("moov", partial));
    auto only = StreamOf(Box("free", Bytes(20, 0)));
    EXPECT_FALSE(reader.FindBox("moov", only));
    // A box claiming more than the data holds: the skip cannot be made.
    Bytes longBox = {0, 0, 0x10, 0, 'f', 'r', 'e', 'e'};
    auto overlong = StreamOf(longBox);
    EXPECT_FALSE(reader.FindBox("moov", overlong));
}

Bytes LargeBox(const std::string& type, uint64_t size, const Bytes& payload) {
    Bytes bytes;
    AppendBE32(bytes, 1);
    testmovie::PutText(bytes, type);
    AppendBE64(bytes, size);
    testmovie::Append(bytes, payload);
    return bytes;
}

// ftyp, mdat with a 64-bit size, moov: whatever is sought, the 64-bit box
// ends the search 8 bytes past its end, on the payload of moov.
TEST(BoxSearchTest, LargeSizeBoxLandsOnThePayloadOfTheNextBox) {
    Bytes bytes = Box("ftyp", Bytes(8, 0));
    const Bytes mdat = LargeBox("mdat", 16 + 40, Bytes(40, 0x55));
    testmovie::Append(bytes, mdat);
    const auto moovAt = static_cast<std::streamoff>(bytes.size());
    testmovie::Append(bytes, Box("moov", Bytes{9, 9}));
    for (const char* sought : {"moov", "mdat", "abcd"}) {
        MovieReader reader(1024);
        auto stream = StreamOf(bytes);
        ASSERT_TRUE(reader.FindBox(sought, stream)) << sought;
        EXPECT_EQ(stream.tellg(), moovAt + 8) << sought;
    }
}

TEST(BoxSearchTest, LargeSizeBelowSixteenFails) {
    for (uint64_t size : {0ull, 1ull, 8ull, 15ull}) {
        MovieReader reader(1024);
        Bytes bytes = LargeBox("mdat", size, Bytes(32, 0));
        testmovie::Append(bytes, Box("moov", Bytes{}));
        auto stream = StreamOf(bytes);
        EXPECT_FALSE(reader.FindBox("moov", stream)) << size;
    }
    MovieReader reader(1024);
    auto exact = StreamOf(LargeBox("mdat", 16, Bytes(8, 0)));
    EXPECT_TRUE(reader.FindBox("moov", exact));
}

// A 64-bit box of more than 2^31 bytes in a sparse file: the skip is made
// in steps and lands on the payload of the box behind it.
TEST(BoxSearchTest, LargeBoxBeyondTwoGigabytes) {
    const uint64_t mdatSize = 3ull * 1024 * 1024 * 1024 + 24;
    testmovie::TempFile file("large_box.mov");
    {
        std::ofstream out(file.path, std::ios::binary);
        const Bytes header = LargeBox("mdat", mdatSize, Bytes{});
        out.write(reinterpret_cast<const char*>(header.data()),
                  static_cast<std::streamsize>(header.size()));
    }
    std::error_code error;
    std::filesystem::resize_file(file.path, mdatSize, error);
    if (error) {
        GTEST_SKIP() << "no sparse file: " << error.message();
    }
    {
        std::ofstream out(file.path, std::ios::binary | std::ios::app);
        const Bytes moov = Box("moov", Bytes{7});
        out.write(reinterpret_cast<const char*>(moov.data()),
                  static_cast<std::streamsize>(moov.size()));
    }
    MovieReader reader(1024);
    std::ifstream stream(file.path, std::ios::binary);
    ASSERT_TRUE(reader.FindBox("moov", stream));
    EXPECT_EQ(static_cast<uint64_t>(stream.tellg()), mdatSize + 8);
    EXPECT_EQ(stream.get(), 7);
}

}  // namespace
}  // namespace spatialmux
