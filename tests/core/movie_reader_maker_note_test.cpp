#include "audio/ByteOrder.h"
#include "movie/MakerNote.h"

#include <gtest/gtest.h>

#include <random>

#include "fixture/MakerNote.h"
#include "movie_reader_test_movie.h"

namespace spatialmux {
namespace {

using testmovie::Bytes;

Bytes Payload(const std::string& text = "ZORVA VELIX V Ver 1.1", uint32_t flag = 1) {
    testmovie::Options options;
    options.softwareText = text;
    options.makerNoteFlag = flag;
    return testmovie::MakerNotePayload(options);
}

MakerNoteFacts Parse(const Bytes& payload) {
    return ParseMakerNote(payload.data(), payload.size());
}

// Offsets of fields in the payload that MakerNotePayload writes: the first
// directory at 8 holds 0x010F, 0x0131 (text at 220), 0x8769 (exif at 100).
constexpr std::size_t kTextCountField = 8 + 2 + 12 + 4;
constexpr std::size_t kTextOffsetField = 8 + 2 + 12 + 8;
constexpr std::size_t kExifOffsetField = 8 + 2 + 24 + 8;
constexpr std::size_t kExifCountField = 100;

TEST(MakerNoteTest, ReadsTextUpToItsNulAndTheFlag) {
    const MakerNoteFacts facts = Parse(Payload());
    EXPECT_EQ(facts.softwareText, "ZORVA VELIX V Ver 1.1");
    EXPECT_TRUE(facts.makerNoteFlag);
    EXPECT_FALSE(Parse(Payload("x", 0)).makerNoteFlag);

    // A count shorter than the text cuts it; without a NUL the count rules.
    Bytes cut = Payload();
    WriteBE32(&cut[kTextCountField], 5);
    EXPECT_EQ(Parse(cut).softwareText, "ZORVA");
    Bytes empty = Payload();
    WriteBE32(&empty[kTextCountField], 0);
    EXPECT_EQ(Parse(empty).softwareText, "");
    EXPECT_TRUE(Parse(empty).makerNoteFlag);
}

TEST(MakerNoteTest, NothingOutsideThePayloadIsRead) {
    const Bytes good = Payload();
    struct Case {
        const char* name;
        std::size_t field;
        uint32_t value;
    };
    const Case cases[] = {
        {"text beyond", kTextOffsetField, static_cast<uint32_t>(good.size())},
        {"text negative", kTextOffsetField, 0xFFFFFFF0u},
        {"text count beyond", kTextCountField, static_cast<uint32_t>(good.size())},
        {"text count huge", kTextCountField, 0xFFFFFFFFu},
        {"exif beyond", kExifOffsetField, static_cast<uint32_t>(good.size() - 1)},
        {"exif negative", kExifOffsetField, 0x80000000u},
    };
    for (const Case& test : cases) {
        Bytes bytes = good;
        WriteBE32(&bytes[test.field], test.value);
        const MakerNoteFacts facts = Parse(bytes);
        EXPECT_EQ(facts.softwareText, "") << test.name;
        EXPECT_FALSE(facts.makerNoteFlag) << test.name;
    }
    // A directory whose entries run past the end.
    Bytes many = good;
    many[kExifCountField] = 0xFF;
    EXPECT_FALSE(Parse(many).makerNoteFlag);
    // Every shortened payload: the text needs the whole chain.
    for (std::size_t size = 0; size < good.size(); ++size) {
        const MakerNoteFacts facts = ParseMakerNote(good.data(), size);
        const bool textWhole = size >= 220 + 22;
        EXPECT_EQ(facts.softwareText.empty(), !textWhole) << size;
        EXPECT_EQ(facts.makerNoteFlag, textWhole) << size;
    }
}

// The header's byte order and first-directory offset rule the whole chain.
TEST(MakerNoteTest, HonoursTheHeadersByteOrderAndFirstDirectory) {
    for (const bool little : {false, true}) {
        for (const uint32_t first : {8u, 64u}) {
            SCOPED_TRACE(std::string(little ? "II " : "MM ") + std::to_string(first));
            Bytes payload =
                fixture::BuildMakerNotePayload("ZORVA VELIX V Ver 1.1", 1, {}, {little, first});
            MakerNoteFacts facts = Parse(payload);
            EXPECT_EQ(facts.softwareText, "ZORVA VELIX V Ver 1.1");
            EXPECT_TRUE(facts.makerNoteFlag);
            // The other byte order's mark reads every number wrongly.
            payload[0] = payload[1] = little ? 'M' : 'I';
            facts = Parse(payload);
            EXPECT_EQ(facts.softwareText, "");
            EXPECT_FALSE(facts.makerNoteFlag);
            // Neither mark: no TIFF structure at all.
            payload[0] = payload[1] = 'X';
            EXPECT_EQ(Parse(payload).softwareText, "");
        }
    }
    // A first-directory offset that leaves the payload.
    Bytes beyond = Payload();
    WriteBE32(beyond.data() + 4, static_cast<uint32_t>(beyond.size()));
    EXPECT_FALSE(Parse(beyond).makerNoteFlag);
    WriteBE32(beyond.data() + 4, 0xFFFFFFFEu);
    EXPECT_FALSE(Parse(beyond).makerNoteFlag);
}

TEST(MakerNoteTest, SurvivesDamagedPayloads) {
    const Bytes good = Payload();
    std::mt19937 random(7);
    for (int round = 0; round < 20000; ++round) {
        Bytes bytes = good;
        const int changes = 1 + static_cast<int>(random() % 6);
        for (int i = 0; i < changes; ++i) {
            bytes[random() % bytes.size()] = static_cast<uint8_t>(random());
        }
        bytes.resize(random() % (bytes.size() + 1));
        const MakerNoteFacts facts = ParseMakerNote(bytes.data(), bytes.size());
        ASSERT_LE(facts.softwareText.size(), bytes.size());
    }
}

}  // namespace
}  // namespace spatialmux
