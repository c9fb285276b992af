// The temporary WAV: room for the header first, the frames behind it, and the
// header with the final sizes written last.
#include "audio/WavWriter.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "audio/ByteOrder.h"

namespace spatialmux {

namespace {

constexpr uint16_t kChannels = 4;
constexpr uint32_t kSampleRate = 48000;
constexpr uint16_t kBitsPerSample = 16;
static_assert(kChannels * kBitsPerSample / 8 == WavWriter::kBytesPerInstant);
// The RIFF size field (data + 36) must still fit into 32 bits.
constexpr uint32_t kMaxDataBytes = UINT32_MAX - (WavWriter::kHeaderSize - 8);

// The canonical 44-byte PCM header for `dataBytes` bytes of samples.
void FillHeader(uint8_t* header, uint32_t dataBytes, uint16_t channels, uint32_t sampleRate) {
    const uint32_t blockAlign = channels * kBitsPerSample / 8u;
    std::memcpy(header + 0, "RIFF", 4);
    WriteLE32(header + 4, dataBytes + (WavWriter::kHeaderSize - 8));
    std::memcpy(header + 8, "WAVE", 4);
    std::memcpy(header + 12, "fmt ", 4);
    WriteLE32(header + 16, 16);
    WriteLE16(header + 20, 1);  // integer PCM
    WriteLE16(header + 22, channels);
    WriteLE32(header + 24, sampleRate);
    WriteLE32(header + 28, sampleRate * blockAlign);  // 384000 for the conversion's
    WriteLE16(header + 32, static_cast<uint16_t>(blockAlign));
    WriteLE16(header + 34, kBitsPerSample);
    std::memcpy(header + 36, "data", 4);
    WriteLE32(header + 40, dataBytes);
}

}  // namespace

void WavWriter::FileCloser::operator()(std::FILE* handle) const {
    if (handle != nullptr) std::fclose(handle);
}

WavWriter::WavWriter() : WavWriter(kChannels, kSampleRate) {
    announce = true;
}

WavWriter::WavWriter(uint16_t channelCount, uint32_t rate)
    : channels(std::max<uint16_t>(channelCount, 1)),
      sampleRate(rate),
      blockAlign(channels * kBitsPerSample / 8u),
      frameBuffer(static_cast<std::size_t>(kMaxFrameCount) * blockAlign) {
    FillHeader(header, 0, channels, sampleRate);
}

WavWriter::~WavWriter() = default;

void WavWriter::Open(const std::string& newPath) {
    OpenStream(newPath, std::fopen(newPath.c_str(), "wb"));
}

void WavWriter::OpenCreated(const std::string& newPath, int fd) {
    std::FILE* stream = fd >= 0 ? fdopen(fd, "wb") : nullptr;
    if (stream == nullptr && fd >= 0) close(fd);
    OpenStream(newPath, stream);
}

void WavWriter::OpenStream(const std::string& newPath, std::FILE* opened) {
    if (announce) std::printf("write file name = %s\n", newPath.c_str());
    if (file) {
        // A file left open by an earlier Open is closed first; its failure
        // only matters to that file, which this writer no longer describes.
        std::fclose(file.release());
    }
    path = newPath;
    dataByteCount = 0;
    failed = false;
    finished = false;
    file.reset(opened);
    if (!file) {
        if (announce) std::printf("error:%s\n", path.c_str());
        Fail(errno);
        return;
    }
    if (std::fseek(file.get(), static_cast<long>(kHeaderSize), SEEK_SET) != 0) Fail(errno);
}

void WavWriter::WriteFrame(const float* first, const float* second, const float* third,
                           const float* fourth, int32_t count) {
    if (!file || failed) return;
    if (count < 0 || count > kMaxFrameCount || channels != kChannels) {
        failed = true;
        return;
    }
    const uint32_t bytes = static_cast<uint32_t>(count) * blockAlign;
    if (bytes > kMaxDataBytes - dataByteCount) {
        // The header could not describe more sample data.
        failed = true;
        return;
    }
    if (bytes == 0) return;
    util.InterleaveFloatToPcm16(frameBuffer.data(), first, second, third, fourth, count);
    if (std::fwrite(frameBuffer.data(), 1, bytes, file.get()) != bytes) {
        Fail(errno);
        return;
    }
    dataByteCount += bytes;
}

void WavWriter::WriteInterleaved(const float* samples, int64_t count) {
    if (!file || failed) return;
    if (count < 0) {
        failed = true;
        return;
    }
    while (count > 0) {
        const int32_t instants = static_cast<int32_t>(std::min<int64_t>(count, kMaxFrameCount));
        const uint32_t bytes = static_cast<uint32_t>(instants) * blockAlign;
        if (bytes > kMaxDataBytes - dataByteCount) {
            failed = true;
            return;
        }
        const std::size_t values = static_cast<std::size_t>(instants) * channels;
        for (std::size_t i = 0; i < values; ++i) {
            const float scaled = std::nearbyint(samples[i] * 32767.0f);
            // NaN becomes silence; everything else is held within range.
            const float held = scaled >= -32768.0f ? std::min(scaled, 32767.0f)
                                                   : (scaled < 0.0f ? -32768.0f : 0.0f);
            WriteLE16(frameBuffer.data() + 2 * i,
                      static_cast<uint16_t>(static_cast<int16_t>(held)));
        }
        if (std::fwrite(frameBuffer.data(), 1, bytes, file.get()) != bytes) {
            Fail(errno);
            return;
        }
        dataByteCount += bytes;
        samples += values;
        count -= instants;
    }
}

void WavWriter::Fail(int error) {
    if (!failed) errorNumber = error;
    failed = true;
}

bool WavWriter::WriteAt(long offset, const uint8_t* bytes, std::size_t count) {
    if (failed || !file) return false;
    if (std::fseek(file.get(), offset, SEEK_SET) != 0 ||
        std::fwrite(bytes, 1, count, file.get()) != count) {
        Fail(errno);
    }
    return !failed;
}

bool WavWriter::Finish() {
    if (!file) {
        // Never opened (or a failed open): nothing was written. A second
        // Finish repeats the answer of the first.
        if (!finished) failed = true;
        return !failed;
    }
    FillHeader(header, dataByteCount, channels, sampleRate);
    WriteAt(0, header, kHeaderSize);
    // Buffered bytes reach the file only now: a full disk shows up here.
    if (std::fflush(file.get()) != 0) Fail(errno);
    if (std::fclose(file.release()) != 0) Fail(errno);
    finished = true;
    return !failed;
}

}  // namespace spatialmux
