#pragma once
// What the camera recorded about the recording itself, saved from the input
// movie so that the output can carry it: the creation and modification times
// of the movie, of the video track and of the audio track, the display
// matrix, the track languages, the video handler name, the user-data tags
// (location, make, model, date, title, ...) and the QuickTime metadata box.
//
// Every piece is optional: a piece the input does not have stays absent, so
// the output never gets an invented date or tag.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace spatialmux {

// Creation and modification times of an mvhd, tkhd or mdhd box, in seconds
// since 1904-01-01, widened to 64 bits whatever the box's version.
struct HeaderTimes {
    uint64_t creation = 0;
    uint64_t modification = 0;
    bool operator==(const HeaderTimes&) const = default;
};

// The 3x3 display matrix of an mvhd or tkhd box, as its 36 bytes.
using DisplayMatrix = std::array<uint8_t, 36>;

struct RecordingMetadata {
    std::optional<HeaderTimes> movieTimes;  // moov/mvhd
    std::optional<DisplayMatrix> movieMatrix;
    std::optional<HeaderTimes> videoTrackTimes;  // first trak/tkhd
    std::optional<DisplayMatrix> videoMatrix;
    std::optional<HeaderTimes> videoMediaTimes;  // first trak/mdia/mdhd
    std::optional<uint16_t> videoLanguage;       // packed mdhd language field
    std::optional<std::string> videoHandlerName;
    // The camera keeps the audio track's boxes in its private box, which
    // has no tkhd: its mdhd times serve both the output's audio tkhd and mdhd.
    std::optional<HeaderTimes> audioMediaTimes;
    std::optional<uint16_t> audioLanguage;
    // The moov/udta children that describe the recording (whole boxes, one
    // after another); the camera's private boxes are never among them.
    std::vector<uint8_t> userDataTags;
    // The whole moov/meta box with handler 'mdta' (keys and ilst), or empty.
    std::vector<uint8_t> metaBox;
};

// True for a moov/udta child type that is carried into the output: the
// QuickTime text tags (type starting with 0xA9) other than those naming the
// program that wrote the file, the ISO/3GPP user-data tags and XMP.
bool IsCarriedUserDataType(const uint8_t* type);

// Splits an mvhd, tkhd or mdhd box (`bytes`, whole, header included) into
// its times; nothing when it is not a whole version 0 or 1 box of that type
// long enough for its fixed fields.
std::optional<HeaderTimes> ReadHeaderTimes(const uint8_t* bytes, std::size_t size);

// Offset within the box of the display matrix of a whole mvhd or tkhd box,
// or of the language field of an mdhd box, for the box's version; nothing
// when the box is too short or has another version.
std::optional<std::size_t> MatrixOffset(const uint8_t* bytes, std::size_t size);
std::optional<std::size_t> LanguageOffset(const uint8_t* bytes, std::size_t size);

// The name of a whole hdlr box, written as a C string or as a Pascal string
// (the QuickTime form, recognised as FFmpeg does by its first byte).
std::optional<std::string> ReadHandlerName(const uint8_t* bytes, std::size_t size);

}  // namespace spatialmux
