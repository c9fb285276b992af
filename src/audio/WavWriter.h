#pragma once
// Writer of the temporary WAV: RIFF/WAVE, 16-bit PCM, four channels,
// 48000 samples per second, the canonical 44-byte header written last. The
// same writer, made for another channel count and rate, writes the ears of
// the headphone render.

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "audio/ByteUtil.h"

namespace spatialmux {

class WavWriter {
public:
    static constexpr uint32_t kHeaderSize = 44;
    // Four 16-bit samples per sampling instant (the conversion's WAV).
    static constexpr uint32_t kBytesPerInstant = 8;
    static constexpr int32_t kMaxFrameCount = 1024;

    // The conversion's WAV: four channels at 48000 samples per second; its
    // opening is announced on standard output (see Open).
    WavWriter();
    // `channels` channels (1 or more) at `sampleRate` samples per second;
    // opened without a word.
    WavWriter(uint16_t channels, uint32_t sampleRate);
    ~WavWriter();
    WavWriter(const WavWriter&) = delete;
    WavWriter& operator=(const WavWriter&) = delete;

    // Prints "write file name = %s" and a line end (the conversion's writer
    // only); creates or truncates the file and leaves room for the header.
    // On failure prints "error:%s" and a line end (the same).
    void Open(const std::string& path);
    // The same for a file the caller has just created itself (exclusively):
    // the writer takes over the descriptor `fd`, open for writing, and never
    // opens anything by name.
    void OpenCreated(const std::string& path, int fd);
    // Appends `count` (at most 1024) sampling instants, the four arrays
    // interleaved in argument order. A larger count, or a writer made for
    // another channel count, is refused as a failure.
    void WriteFrame(const float* first, const float* second, const float* third,
                    const float* fourth, int32_t count);
    // Appends `count` sampling instants of interleaved samples at full scale
    // 1.0, each rounded to the nearest 16-bit sample (x 32767) and held
    // within the 16-bit range.
    void WriteInterleaved(const float* samples, int64_t count);
    // Writes the header with the final sizes and closes the file. Returns
    // false when anything since Open failed (open, seek, write or close).
    bool Finish();

    bool Failed() const { return failed; }
    // The system's error number of the first failed open, seek, write or
    // close (ENOSPC for a full disk); 0 when none was given.
    int ErrorNumber() const { return errorNumber; }
    uint32_t DataByteCount() const { return dataByteCount; }

private:
    struct FileCloser {
        void operator()(std::FILE* file) const;
    };
    void OpenStream(const std::string& path, std::FILE* opened);
    void Fail(int error);
    bool WriteAt(long offset, const uint8_t* bytes, std::size_t count);

    std::unique_ptr<std::FILE, FileCloser> file;
    uint8_t header[kHeaderSize] = {};
    ByteUtil util;
    std::string path;
    uint16_t channels;
    uint32_t sampleRate;
    uint32_t blockAlign;  // bytes per sampling instant
    bool announce = false;
    std::vector<uint8_t> frameBuffer;
    uint32_t dataByteCount = 0;
    bool failed = false;
    bool finished = false;
    int errorNumber = 0;
};

}  // namespace spatialmux
