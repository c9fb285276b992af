#pragma once
// The input movie reader: opens a camera movie, walks its fixed box layout,
// keeps the metadata pieces that must reach the output, loads the audio
// track's sample tables and delivers the audio one AudioFrame at a time.
//
// Every byte taken from the file is untrusted: sizes, counts and offsets are
// checked against what was actually read before they are used.

#include <cstdint>
#include <fstream>
#include <istream>
#include <optional>
#include <string>
#include <vector>

#include "audio/ByteUtil.h"
#include "audio/RecordingMetadata.h"
#include "movie/AudioFrame.h"
#include "movie/SampleTables.h"

namespace spatialmux {

// Which step of the walk refused the movie, so that a report can say more
// than "not a camera movie".
struct OpenFailure {
    enum class Kind {
        NotFound,          // the search for `box` found nothing
        Unreadable,        // `box` was found but its content does not fit
        UnsupportedAudio,  // the walk ended; the audio is not the camera's
        FileUnreadable,    // the file could not be opened or measured
    };
    Kind kind = Kind::NotFound;
    std::string box;           // the step's box type
    uint64_t searchStart = 0;  // the stream offset where its search started
    // The walk had found the camera's own boxes (the maker note and on).
    bool inCameraBoxes = false;
};

// A run of audio bytes in the input file, inside one chunk.
struct FileSpan {
    uint64_t offset = 0;
    uint64_t bytes = 0;
    int32_t chunk = 0;  // the chunk it lies in, counted from 0
};

class MovieReader {
public:
    // Results of Open.
    static constexpr int32_t kOpenReady = 0;
    static constexpr int32_t kOpenFileError = 1;
    static constexpr int32_t kOpenRefused = 2;

    explicit MovieReader(int32_t frameSize);
    ~MovieReader();
    MovieReader(const MovieReader&) = delete;
    MovieReader& operator=(const MovieReader&) = delete;

    // 0 ready, 1 the file could not be opened ("%s:file open error\n" on
    // standard output), 2 the layout or the audio is not the camera's.
    // frameSize must not exceed the one given at construction.
    int32_t Open(const std::string& path, int32_t frameSize);

    // Scans box headers forward from the stream's position for `type` (four
    // characters). See the implementation for the exact landing positions.
    bool FindBox(const char* type, std::istream& stream);

    // Frame reading (after Open returned 0).
    void SeekToTime(uint32_t milliseconds);
    int32_t GetTotalSamples() const;
    int32_t GetCurrentSample() const;
    // Fills frameSize values of each channel array; true when this call
    // reached the end of the audio (or the reading cannot go on).
    bool ReadFrame(float* channel1, float* channel2, float* channel3, float* channel4);
    void NextChunk();
    // Sampling instants of real audio that the last ReadFrame delivered at the
    // start of its arrays (frameSize for an ordinary frame, the remainder for
    // the final one, 0 when nothing was left).
    int32_t GetLastFrameSamples() const { return lastFrameSamples; }
    // Where in the file the instants of the last ReadFrame came from, in
    // frame order: an edit writes the converted frame back to exactly these
    // bytes. Together they hold GetLastFrameSamples() instants.
    const std::vector<FileSpan>& LastFrameSpans() const { return lastFrameSpans; }
    // Every span that ReadFrame delivers from the start of the audio (as
    // SeekToTime(0) sets it) to its end, in reading order, the spans of one
    // chunk that follow each other joined: the very walk through the chunks
    // that ReadFrame takes, without reading them. An edit writes the
    // converted audio into exactly these bytes, so they are what it checks
    // before it writes.
    std::vector<FileSpan> AudioSpans() const;
    // True once any read of audio bytes came back short (a truncated or
    // unreadable file): the missing bytes were delivered as silence.
    bool HadShortRead() const { return shortRead; }
    // Sampling instants that the private audio tables hold: every chunk of
    // co64 with the instants its stsc run gives it. Fewer than the mdhd
    // duration (GetTotalSamples) means audio is missing at the end.
    int64_t TableSamples() const;
    // Why the last Open refused a damaged movie (the SA3D box or the video
    // sample entry), as a short English text; empty when it gave no cause.
    const std::string& RefusalCause() const { return refusalCause; }

    // Puts the saved video sample entry, uuid box and SA3D box into the
    // output's moov. 0 written, 1 refused (nothing written).
    int32_t TransplantMetadata(const std::string& outputPath);

    // What the walk found.
    const std::vector<uint8_t>& VideoSampleEntry() const { return videoSampleEntry; }
    const std::vector<uint8_t>& UuidBox() const { return uuidBox; }
    const std::vector<uint8_t>& Sa3dBox() const { return sa3dBox; }
    const std::string& SoftwareText() const { return softwareText; }
    bool MakerNoteFlag() const { return makerNoteFlag; }
    uint64_t MakerDataOffset() const { return makerDataOffset; }
    const AudioTrackInfo& Track() const { return track; }
    // Dates, matrix, languages and tags of the recording (after Open).
    const RecordingMetadata& Recording() const { return recording; }
    const ReadCursor& Cursor() const { return cursor; }
    bool IsSupportedAudio() const;
    // Set when the last Open refused the movie or could not read it.
    const std::optional<OpenFailure>& LastOpenFailure() const { return openFailure; }

private:
    // Steps of the walk.
    bool ReadVideoSampleEntry();
    bool ReadUuidBox();
    bool ReadMakerNote();
    bool ReadMakerDataOffset();
    bool ReadMediaHeader();
    bool ReadAudioSampleEntry();
    bool ReadSampleToChunk();
    bool ReadSampleSize();
    bool ReadChunkOffsets();
    bool CopyBoxJustRead(std::vector<uint8_t>& destination);

    // Reads `count` bytes at the absolute `offset` into `destination`;
    // bytes that cannot be read are zeroed and recorded as a short read.
    // False when the stream could not be moved.
    bool ReadAudioBytes(uint64_t offset, uint8_t* destination, std::size_t count);

    std::vector<uint8_t> frameBytes;  // frameSize * 8 interleaved PCM bytes
    std::string inputPath;
    std::string outputPath;
    std::ifstream stream;
    std::vector<uint8_t> videoSampleEntry;
    std::vector<uint8_t> uuidBox;
    std::vector<uint8_t> sa3dBox;
    uint64_t makerDataOffset = 0;
    uint8_t boxHeader[8] = {};
    uint8_t mdhdBytes[36] = {};
    uint8_t stscHeader[8] = {};
    uint8_t stszBytes[12] = {};
    uint8_t co64Header[8] = {};
    AudioTrackInfo track;
    RecordingMetadata recording;
    ReadCursor cursor;
    ByteUtil util;
    bool makerNoteFlag = false;
    std::string softwareText;

    uint64_t inputLength = 0;  // length of the input, measured by Open
    int32_t constructedFrameSize = 0;
    int32_t lastFrameSamples = 0;
    std::vector<FileSpan> lastFrameSpans;
    bool shortRead = false;
    std::optional<OpenFailure> openFailure;
    std::string refusalCause;
};

}  // namespace spatialmux
