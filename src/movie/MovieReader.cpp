// Construction of the reader, MovieReader::Open and the steps of its walk
// through the camera's fixed box layout.

#include "movie/MovieReader.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "iso/BoxHeader.h"
#include "movie/MakerNote.h"
#include "movie/MetadataChecks.h"
#include "movie/RecordingMetadataReading.h"
#include "movie/StreamMoves.h"

namespace spatialmux {

namespace {

// The maker note is a few kilobytes; directories beyond this many bytes of
// the payload are taken as absent.
constexpr uint64_t kMaxMakerNoteBytes = 16u * 1024u * 1024u;

}  // namespace

MovieReader::MovieReader(int32_t frameSize)
    : frameBytes(static_cast<std::size_t>(std::max<int32_t>(frameSize, 0)) * kBytesPerInstant),
      constructedFrameSize(frameSize) {}

MovieReader::~MovieReader() = default;

int32_t MovieReader::Open(const std::string& path, int32_t frameSize) {
    inputPath = path;
    openFailure = OpenFailure{OpenFailure::Kind::FileUnreadable, "", 0, false};
    refusalCause.clear();
    if (stream.is_open()) {
        stream.close();
    }
    stream.clear();
    stream.open(inputPath, std::ios::binary);
    if (!stream) {
        std::printf("%s:file open error\n", inputPath.c_str());
        std::fflush(stdout);
        return kOpenFileError;
    }
    const std::optional<uint64_t> length = StreamLength(stream);
    if (!length || frameSize <= 0 || frameSize > constructedFrameSize) {
        return kOpenRefused;
    }
    inputLength = *length;

    // The fixed path of the walk: each search starts where the previous step
    // left the stream.
    struct Step {
        const char* box;
        bool (MovieReader::*read)();
    };
    static constexpr Step kWalk[] = {
        {"moov", nullptr},
        {"trak", nullptr},
        {"mdia", nullptr},
        {"minf", nullptr},
        {"stbl", nullptr},
        {"stsd", &MovieReader::ReadVideoSampleEntry},
        {"uuid", &MovieReader::ReadUuidBox},
        {"udta", nullptr},
        {"ZMKN", &MovieReader::ReadMakerNote},
        {"ZDT9", &MovieReader::ReadMakerDataOffset},
        {"ZATR", nullptr},
        {"mdia", nullptr},
        {"mdhd", &MovieReader::ReadMediaHeader},
        {"minf", nullptr},
        {"stbl", nullptr},
        {"stsd", &MovieReader::ReadAudioSampleEntry},
        {"stsc", &MovieReader::ReadSampleToChunk},
        {"stsz", &MovieReader::ReadSampleSize},
        {"co64", &MovieReader::ReadChunkOffsets},
    };
    bool inCameraBoxes = false;
    for (const Step& step : kWalk) {
        const uint64_t searchStart = StreamPosition(stream).value_or(0);
        inCameraBoxes = inCameraBoxes || std::strcmp(step.box, "ZMKN") == 0;
        if (!FindBox(step.box, stream)) {
            openFailure = OpenFailure{OpenFailure::Kind::NotFound, step.box, searchStart,
                                      inCameraBoxes && std::strcmp(step.box, "ZMKN") != 0};
            return kOpenRefused;
        }
        if (step.read != nullptr && !(this->*step.read)()) {
            openFailure =
                OpenFailure{OpenFailure::Kind::Unreadable, step.box, searchStart, inCameraBoxes};
            return kOpenRefused;
        }
    }

    recording = ReadRecordingMetadata(stream, inputLength, makerDataOffset);

    // The table readers refuse empty tables, so both have a first entry.
    cursor = ReadCursor{};
    cursor.frameSize = frameSize;
    cursor.fileOffset = track.chunkOffsets.front();
    cursor.samplesPerChunk = track.chunkRuns.front().samplesPerChunk;
    cursor.samplesLeftInChunk = cursor.samplesPerChunk;
    lastFrameSamples = 0;
    shortRead = false;

    if (!IsSupportedAudio()) {
        openFailure = OpenFailure{OpenFailure::Kind::UnsupportedAudio, "", 0, true};
        return kOpenRefused;
    }
    openFailure.reset();
    return kOpenReady;
}

bool MovieReader::IsSupportedAudio() const {
    return std::memcmp(track.audioFormat.data(), "sowt", 4) == 0 && track.timescale == 48000 &&
           track.channelCount == 4;
}

// The stream stands at the payload of the video track's stsd. Only an avc1 or
// hvc1 entry is kept; for any other format the stream is left 8 bytes into
// the entry, where the following search normally fails.
bool MovieReader::ReadVideoSampleEntry() {
    if (!MoveBy(stream, 8) || !ReadExactly(stream, boxHeader, 8)) {
        return false;
    }
    if (!HasBoxType(boxHeader, "avc1") && !HasBoxType(boxHeader, "hvc1")) {
        return true;
    }
    if (!CopyBoxJustRead(videoSampleEntry)) {
        return false;
    }
    // The entry goes into the output as it is: its children must be whole.
    if (const auto problem =
            VideoSampleEntryProblem(videoSampleEntry.data(), videoSampleEntry.size())) {
        refusalCause = *problem;
        return false;
    }
    return true;
}

// The uuid box is copied whole, header and user type included.
bool MovieReader::ReadUuidBox() {
    return CopyBoxJustRead(uuidBox);
}

// The stream stands right behind the 8-byte header in boxHeader: copies the
// whole box, header included, when it lies inside the file, and leaves the
// stream at its end.
bool MovieReader::CopyBoxJustRead(std::vector<uint8_t>& destination) {
    const std::optional<uint64_t> here = StreamPosition(stream);
    if (!here || *here < 8) {
        return false;
    }
    const uint64_t start = *here - 8;
    const uint32_t size = util.ReadBE32(boxHeader);
    if (start > inputLength || size < 8 || size > inputLength - start) {
        return false;
    }
    destination.resize(size);
    return MoveTo(stream, start) && ReadExactly(stream, destination.data(), size);
}

// The payload is parsed in memory; a maker note whose chain cannot be
// followed leaves the software text empty and the flag false, and the walk
// goes on at the end of the box.
bool MovieReader::ReadMakerNote() {
    if (!MoveBy(stream, -8) || !ReadExactly(stream, boxHeader, 8)) {
        return false;
    }
    const std::optional<uint64_t> payloadStart = StreamPosition(stream);
    if (!payloadStart) {
        return false;
    }
    const uint64_t start = *payloadStart - 8;
    const uint32_t size = util.ReadBE32(boxHeader);
    if (start > inputLength || size < 8 || size > inputLength - start) {
        return false;
    }
    std::vector<uint8_t> payload(std::min<uint64_t>(size - 8u, kMaxMakerNoteBytes));
    stream.read(reinterpret_cast<char*>(payload.data()),
                static_cast<std::streamsize>(payload.size()));
    payload.resize(static_cast<std::size_t>(std::max<std::streamsize>(stream.gcount(), 0)));
    stream.clear();

    MakerNoteFacts facts = ParseMakerNote(payload.data(), payload.size());
    softwareText = std::move(facts.softwareText);
    makerNoteFlag = facts.makerNoteFlag;
    return MoveTo(stream, start + size);
}

// ZDT9 holds the absolute offset at which the audio track's boxes continue.
bool MovieReader::ReadMakerDataOffset() {
    uint8_t bytes[8];
    if (!ReadExactly(stream, bytes, 8)) {
        return false;
    }
    makerDataOffset = util.ReadBE64(bytes);
    // Nothing can be found at or beyond the end of the file.
    return makerDataOffset < inputLength && MoveTo(stream, makerDataOffset);
}

// Version 0 mdhd: time scale at 12, duration at 16 of the payload; version 1
// (64-bit times and duration): time scale at 20, duration at 24. The stream
// is left at the end of the box's fixed fields, where minf is searched from.
bool MovieReader::ReadMediaHeader() {
    if (!ReadExactly(stream, mdhdBytes, 4)) {
        return false;
    }
    const bool wide = mdhdBytes[0] == 1;
    if (!ReadExactly(stream, mdhdBytes + 4, wide ? 32 : 20)) {
        return false;
    }
    track.timescale = static_cast<int32_t>(util.ReadBE32(mdhdBytes + (wide ? 20 : 12)));
    const uint64_t duration =
        wide ? util.ReadBE64(mdhdBytes + 24) : uint64_t{util.ReadBE32(mdhdBytes + 16)};
    track.totalSamples = static_cast<int32_t>(static_cast<uint32_t>(duration));
    return true;
}

// The stream stands at the payload of the audio track's stsd. The first entry
// is read whole (as much of it as the file holds) and its last "SA3D" box is
// kept; an entry without a whole 36-byte SA3D box is refused. The stream
// then stands at the end of that box.
bool MovieReader::ReadAudioSampleEntry() {
    if (!MoveBy(stream, 8) || !ReadExactly(stream, boxHeader, 8)) {
        return false;
    }
    std::memcpy(track.audioFormat.data(), boxHeader + 4, 4);
    const std::optional<uint64_t> here = StreamPosition(stream);
    if (!here) {
        return false;
    }
    const uint64_t start = *here - 8;
    const uint64_t size = std::min<uint64_t>(util.ReadBE32(boxHeader), inputLength - start);
    std::vector<uint8_t> entry(size);
    if (!MoveTo(stream, start)) {
        return false;
    }
    stream.read(reinterpret_cast<char*>(entry.data()), static_cast<std::streamsize>(entry.size()));
    const auto got = static_cast<uint64_t>(std::max<std::streamsize>(stream.gcount(), 0));
    stream.clear();

    uint64_t found = 0;
    bool any = false;
    for (uint64_t k = 0; k + 4 <= got; ++k) {
        if (std::memcmp(entry.data() + k, "SA3D", 4) == 0) {
            found = k;
            any = true;
        }
    }
    if (!any || found < 4) {
        refusalCause = "the audio has no SA3D box";
        return false;
    }
    if (found - 4 + kSa3dBoxBytes > got) {
        refusalCause = "the SA3D box is cut short";
        return false;
    }
    sa3dBox.assign(entry.begin() + static_cast<std::ptrdiff_t>(found - 4),
                   entry.begin() + static_cast<std::ptrdiff_t>(found - 4 + kSa3dBoxBytes));
    // Players take the output's SA3D box at its word: only the first-order
    // layout that the conversion produces may go on.
    if (const auto problem = Sa3dProblem(sa3dBox.data(), sa3dBox.size())) {
        refusalCause = *problem;
        return false;
    }
    return MoveTo(stream, start + found + 32);
}

}  // namespace spatialmux
