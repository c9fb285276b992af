// The new moov of an edited movie, built from the input's pieces and the
// private audio tables, and the QuickTime ftyp that replaces the input's in
// place.
#include "output/EditedMoov.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "audio/ByteOrder.h"
#include "audio/ChannelLayoutBox.h"
#include "iso/BoxHeader.h"
#include "iso/BoxWriting.h"
#include "output/MoovLayout.h"
#include "output/MoovTransplant.h"
#include "output/RecordingMetadataCarry.h"

namespace spatialmux::output {

namespace {

constexpr uint32_t kFtypBytes = 20;
constexpr uint32_t kQuickTimeMinorVersion = 0x200;
constexpr uint32_t kMvhdVersion0Bytes = 108;
constexpr uint32_t kMvhdVersion1Bytes = 120;
constexpr uint32_t kBytesPerInstant = 8;  // 4 channels x 16 bits

void AppendBytes(std::vector<uint8_t>& out, const char* text, std::size_t count) {
    out.insert(out.end(), text, text + count);
}

void AppendPascalString(std::vector<uint8_t>& out, const char* text) {
    const std::size_t length = std::strlen(text);
    out.push_back(static_cast<uint8_t>(length));
    AppendBytes(out, text, length);
}

void AppendIdentityMatrix(std::vector<uint8_t>& out) {
    const uint32_t matrix[9] = {0x00010000, 0, 0, 0, 0x00010000, 0, 0, 0, 0x40000000};
    for (uint32_t value : matrix) AppendBE32(out, value);
}

// QuickTime's handler box: component type, subtype, three reserved words and
// the name as a Pascal string, the form FFmpeg's mov muxer writes.
void AppendHandler(std::vector<uint8_t>& out, const char* component, const char* subtype,
                   const char* name) {
    OpenBox hdlr(out, "hdlr");
    AppendBE32(out, 0);
    AppendBytes(out, component, 4);
    AppendBytes(out, subtype, 4);
    AppendBE32(out, 0);
    AppendBE32(out, 0);
    AppendBE32(out, 0);
    AppendPascalString(out, name);
}

// Version 0 when every field fits 32 bits, else version 1.
void AppendTimes(std::vector<uint8_t>& out, bool wide, uint32_t flags) {
    AppendBE32(out, (wide ? 0x01000000u : 0u) | flags);
    if (wide) {
        AppendBE64(out, 0);
        AppendBE64(out, 0);
    } else {
        AppendBE32(out, 0);
        AppendBE32(out, 0);
    }
}

void AppendDuration(std::vector<uint8_t>& out, bool wide, uint64_t duration) {
    if (wide) {
        AppendBE64(out, duration);
    } else {
        AppendBE32(out, static_cast<uint32_t>(duration));
    }
}

// The sample entry FFmpeg's mov muxer writes for 16-bit little-endian PCM
// (a version 0 sound description) of the remux's four-channel WAV, with the
// channel layout box the metadata transplant gives the remux's output:
// ambisonics in ACN order, SN3D, as SA3D (the last child) says. A chan box
// that named speakers would make players that follow it reorder the
// channels before they decode the ambisonics.
void AppendSoundEntry(std::vector<uint8_t>& out, const EditedAudioTrack& audio,
                      const std::vector<uint8_t>& sa3d) {
    OpenBox entry(out, "sowt");
    out.insert(out.end(), 6, 0);
    AppendBE16(out, 1);  // data reference index
    AppendBE16(out, 0);  // version
    AppendBE16(out, 0);  // revision
    AppendBE32(out, 0);  // vendor
    AppendBE16(out, 4);  // channels
    AppendBE16(out, 16);
    AppendBE16(out, 0);  // compression id
    AppendBE16(out, 0);  // packet size
    AppendBE32(out, audio.sampleRate << 16);
    const std::vector<uint8_t> chan = AmbisonicChannelLayoutBox(4);
    out.insert(out.end(), chan.begin(), chan.end());
    out.insert(out.end(), sa3d.begin(), sa3d.end());
}

void AppendSampleTables(std::vector<uint8_t>& out, const EditedAudioTrack& audio,
                        const std::vector<uint8_t>& sa3d, uint64_t instants) {
    OpenBox stbl(out, "stbl");
    {
        OpenBox stsd(out, "stsd");
        AppendBE32(out, 0);
        AppendBE32(out, 1);
        AppendSoundEntry(out, audio, sa3d);
    }
    {
        OpenBox stts(out, "stts");
        AppendBE32(out, 0);
        AppendBE32(out, 1);
        AppendBE32(out, static_cast<uint32_t>(instants));
        AppendBE32(out, 1);
    }
    {
        // One entry per run of equal chunks, as the chunks really are.
        OpenBox stsc(out, "stsc");
        AppendBE32(out, 0);
        const std::size_t countAt = out.size();
        AppendBE32(out, 0);
        uint32_t runs = 0;
        for (std::size_t i = 0; i < audio.chunkInstants.size(); ++i) {
            if (i > 0 && audio.chunkInstants[i] == audio.chunkInstants[i - 1]) continue;
            AppendBE32(out, static_cast<uint32_t>(i + 1));
            AppendBE32(out, audio.chunkInstants[i]);
            AppendBE32(out, 1);
            ++runs;
        }
        WriteBE32(out.data() + countAt, runs);
    }
    {
        OpenBox stsz(out, "stsz");
        AppendBE32(out, 0);
        AppendBE32(out, kBytesPerInstant);
        AppendBE32(out, static_cast<uint32_t>(instants));
    }
    const bool wide = std::any_of(audio.chunkOffsets.begin(), audio.chunkOffsets.end(),
                                  [](uint64_t offset) { return offset > UINT32_MAX; });
    OpenBox offsets(out, wide ? "co64" : "stco");
    AppendBE32(out, 0);
    AppendBE32(out, static_cast<uint32_t>(audio.chunkOffsets.size()));
    for (uint64_t offset : audio.chunkOffsets) {
        if (wide) {
            AppendBE64(out, offset);
        } else {
            AppendBE32(out, static_cast<uint32_t>(offset));
        }
    }
}

// `value` in units of 1/`from` as units of 1/`to`, rounded up (0 for a
// zero time scale; large values lose the rounding, not the magnitude).
uint64_t RoundedUp(uint64_t value, uint64_t to, uint64_t from) {
    if (from == 0) return 0;
    if (value > UINT64_MAX / std::max<uint64_t>(to, 1)) return value / from * to;
    return (value * to + from - 1) / from;
}

std::vector<uint8_t> AudioTrak(const EditedAudioTrack& audio, const std::vector<uint8_t>& sa3d,
                               uint32_t trackId, uint32_t movieTimescale, uint64_t instants) {
    // The track's duration in the movie's time scale, rounded up as the
    // muxer rounds it.
    const uint64_t movieDuration = RoundedUp(instants, movieTimescale, audio.sampleRate);
    std::vector<uint8_t> out;
    OpenBox trak(out, "trak");
    {
        const bool wide = movieDuration > UINT32_MAX;
        OpenBox tkhd(out, "tkhd");
        AppendTimes(out, wide, 0x000003);  // enabled, in movie
        AppendBE32(out, trackId);
        AppendBE32(out, 0);
        AppendDuration(out, wide, movieDuration);
        AppendBE32(out, 0);
        AppendBE32(out, 0);
        AppendBE16(out, 0);       // layer
        AppendBE16(out, 1);       // alternate group: sound
        AppendBE16(out, 0x0100);  // volume
        AppendBE16(out, 0);
        AppendIdentityMatrix(out);
        AppendBE32(out, 0);
        AppendBE32(out, 0);
    }
    OpenBox mdia(out, "mdia");
    {
        OpenBox mdhd(out, "mdhd");
        AppendTimes(out, false, 0);
        AppendBE32(out, audio.sampleRate);
        AppendBE32(out, static_cast<uint32_t>(instants));
        AppendBE16(out, 0x55C4);  // "und"; the carry sets the input's language
        AppendBE16(out, 0);
    }
    AppendHandler(out, "mhlr", "soun", "SoundHandler");
    OpenBox minf(out, "minf");
    {
        OpenBox smhd(out, "smhd");
        AppendBE32(out, 0);
        AppendBE32(out, 0);
    }
    AppendHandler(out, "dhlr", "url ", "DataHandler");
    {
        OpenBox dinf(out, "dinf");
        OpenBox dref(out, "dref");
        AppendBE32(out, 0);
        AppendBE32(out, 1);
        OpenBox url(out, "url ");
        AppendBE32(out, 1);  // the data is in this file
    }
    AppendSampleTables(out, audio, sa3d, instants);
    minf.Close();
    mdia.Close();
    trak.Close();
    return out;
}

bool Fail(std::string* error, const char* cause) {
    if (error != nullptr) *error = cause;
    return false;
}

}  // namespace

std::optional<std::vector<uint8_t>> QuickTimeFtyp(uint64_t size) {
    if (size < kFtypBytes || size > UINT32_MAX) return std::nullopt;
    const uint64_t rest = size - kFtypBytes;
    const bool freeBox = rest == 0 || rest >= kBoxHeaderSize;
    if (!freeBox && rest % 4 != 0) return std::nullopt;
    std::vector<uint8_t> out;
    out.reserve(static_cast<std::size_t>(size));
    AppendBE32(out, static_cast<uint32_t>(freeBox ? kFtypBytes : size));
    AppendBytes(out, "ftyp", 4);
    AppendBytes(out, "qt  ", 4);
    AppendBE32(out, kQuickTimeMinorVersion);
    AppendBytes(out, "qt  ", 4);
    if (!freeBox) {
        for (uint64_t i = 0; i < rest / 4; ++i) AppendBytes(out, "qt  ", 4);
    } else if (rest > 0) {
        AppendBE32(out, static_cast<uint32_t>(rest));
        AppendBytes(out, "free", 4);
        out.resize(static_cast<std::size_t>(size), 0);
    }
    return out;
}

std::optional<std::vector<uint8_t>> BuildEditedMoov(const std::vector<uint8_t>& oldMoov,
                                                    const EditedAudioTrack& audio,
                                                    const RecordingMetadata& metadata,
                                                    const std::string& writerName,
                                                    std::string* error) {
    auto fail = [error](const char* cause) {
        Fail(error, cause);
        return std::nullopt;
    };
    if (!IsWholeBox(oldMoov, "moov")) return fail("the movie box is malformed");
    if (audio.chunkOffsets.empty() || audio.chunkOffsets.size() != audio.chunkInstants.size()) {
        return fail("the audio has no chunks");
    }
    uint64_t instants = 0;
    for (uint32_t count : audio.chunkInstants) {
        if (count == 0) return fail("an audio chunk is empty");
        instants += count;
    }
    if (instants > std::numeric_limits<int32_t>::max()) return fail("the audio is too long");
    std::vector<uint8_t> sa3d = audio.sa3dBox;
    if (!RemapSa3dChannels(sa3d)) return fail("the SA3D box is malformed");

    const auto mvhd = ChildBox(oldMoov, 0, "mvhd");
    const auto trak = ChildBox(oldMoov, 0, "trak");
    if (!mvhd || !trak) return fail("the movie box has no movie header or no track");
    const uint32_t mvhdSize = ReadBE32(oldMoov.data() + *mvhd);
    // A header of 8 bytes may end the moov: its version byte is read only
    // when the box has one.
    const bool mvhdWide = mvhdSize > kBoxHeaderSize && oldMoov[*mvhd + kBoxHeaderSize] == 1;
    if (mvhdSize < (mvhdWide ? kMvhdVersion1Bytes : kMvhdVersion0Bytes)) {
        return fail("the movie header is cut short");
    }
    const uint32_t movieTimescale = ReadBE32(oldMoov.data() + *mvhd + (mvhdWide ? 28 : 20));

    // The first track is the video the camera recorded: its handler says so.
    const auto mdia = ChildBox(oldMoov, *trak, "mdia");
    const auto tkhd = ChildBox(oldMoov, *trak, "tkhd");
    if (!mdia || !tkhd) return fail("the first track is not the video");
    const auto hdlr = ChildBox(oldMoov, *mdia, "hdlr");
    if (!hdlr || ReadBE32(oldMoov.data() + *hdlr) < 20 ||
        std::memcmp(oldMoov.data() + *hdlr + 16, "vide", 4) != 0) {
        return fail("the first track is not the video");
    }
    const uint32_t tkhdSize = ReadBE32(oldMoov.data() + *tkhd);
    const bool tkhdWide = tkhdSize > kBoxHeaderSize && oldMoov[*tkhd + kBoxHeaderSize] == 1;
    if (tkhdSize < (tkhdWide ? 32u : 24u)) {
        return fail("the video track header is cut short");
    }
    const uint32_t videoId = ReadBE32(oldMoov.data() + *tkhd + (tkhdWide ? 28 : 20));
    const auto videoMdhd = ChildBox(oldMoov, *mdia, "mdhd");
    if (!videoMdhd) return fail("the video track has no media header");
    const uint32_t mdhdSize = ReadBE32(oldMoov.data() + *videoMdhd);
    const bool mdhdWide = mdhdSize > kBoxHeaderSize && oldMoov[*videoMdhd + kBoxHeaderSize] == 1;
    if (mdhdSize < (mdhdWide ? 44u : 32u)) {
        return fail("the video media header is cut short");
    }
    const uint8_t* mdhdFields = oldMoov.data() + *videoMdhd + (mdhdWide ? 28 : 20);
    const uint32_t videoTimescale = ReadBE32(mdhdFields);
    const uint64_t videoDuration = mdhdWide ? ReadBE64(mdhdFields + 4) : ReadBE32(mdhdFields + 4);
    if (videoId == 0 || videoId >= UINT32_MAX - 1) return fail("the video track ID is unusable");
    const uint32_t audioId = videoId + 1;

    std::vector<uint8_t> moov;
    {
        OpenBox box(moov, "moov");
        const std::size_t mvhdAt = moov.size();
        moov.insert(moov.end(), oldMoov.begin() + *mvhd, oldMoov.begin() + *mvhd + mvhdSize);
        WriteBE32(moov.data() + mvhdAt + mvhdSize - 4, audioId + 1);
        // The movie lasts as long as its longer track, each rounded up to
        // the movie's time scale, as the muxer computes it.
        const uint64_t duration = std::max(RoundedUp(videoDuration, movieTimescale, videoTimescale),
                                           RoundedUp(instants, movieTimescale, audio.sampleRate));
        uint8_t* mvhdDuration = moov.data() + mvhdAt + (mvhdWide ? 32 : 24);
        if (mvhdWide) {
            WriteBE64(mvhdDuration, duration);
        } else if (duration <= UINT32_MAX) {
            WriteBE32(mvhdDuration, static_cast<uint32_t>(duration));
        }
        const uint32_t trakSize = ReadBE32(oldMoov.data() + *trak);
        moov.insert(moov.end(), oldMoov.begin() + *trak, oldMoov.begin() + *trak + trakSize);
        const std::vector<uint8_t> audioTrak =
            AudioTrak(audio, sa3d, audioId, movieTimescale, instants);
        moov.insert(moov.end(), audioTrak.begin(), audioTrak.end());
        if (!writerName.empty()) {
            OpenBox udta(moov, "udta");
            OpenBox tag(moov, "\xA9swr");
            AppendBE16(moov, static_cast<uint16_t>(std::min<std::size_t>(writerName.size(), 255)));
            AppendBE16(moov, 0x55C4);
            AppendBytes(moov, writerName.data(), std::min<std::size_t>(writerName.size(), 255));
        }
    }
    if (moov.size() > UINT32_MAX) return fail("the new movie box would be too large");
    std::vector<uint8_t> carried;
    if (!CarryRecordingMetadata(moov, metadata, &carried)) {
        return fail("the recording metadata could not be carried into the new movie box");
    }
    return carried;
}

}  // namespace spatialmux::output
