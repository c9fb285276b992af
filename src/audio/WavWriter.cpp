// The temporary WAV: room for the header first, the frames behind it, and the
// header with the final sizes written last.
#include "audio/WavWriter.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "audio/ByteOrder.h"

namespace spatialmux {

namespace {

constexpr uint16_t kChannels = 4;
constexpr uint32_t kSampleRate = 48000;
constexpr uint16_t kBitsPerSample = 16;
constexpr uint16_t kBlockAlign = kChannels * kBitsPerSample / 8;
static_assert(kBlockAlign == WavWriter::kBytesPerInstant);
constexpr uint32_t kByteRate = kSampleRate * kBlockAlign;  // 384000
// The RIFF size field (data + 36) must still fit into 32 bits.
constexpr uint32_t kMaxDataBytes = UINT32_MAX - (WavWriter::kHeaderSize - 8);

// The canonical 44-byte PCM header for `dataBytes` bytes of samples.
void FillHeader(uint8_t* header, uint32_t dataBytes) {
    std::memcpy(header + 0, "RIFF", 4);
    WriteLE32(header + 4, dataBytes + (WavWriter::kHeaderSize - 8));
    std::memcpy(header + 8, "WAVE", 4);
    std::memcpy(header + 12, "fmt ", 4);
    WriteLE32(header + 16, 16);
    WriteLE16(header + 20, 1);  // integer PCM
    WriteLE16(header + 22, kChannels);
    WriteLE32(header + 24, kSampleRate);
    WriteLE32(header + 28, kByteRate);
    WriteLE16(header + 32, kBlockAlign);
    WriteLE16(header + 34, kBitsPerSample);
    std::memcpy(header + 36, "data", 4);
    WriteLE32(header + 40, dataBytes);
}

}  // namespace

void WavWriter::FileCloser::operator()(std::FILE* handle) const {
    if (handle != nullptr) std::fclose(handle);
}

WavWriter::WavWriter() : frameBuffer(static_cast<std::size_t>(kMaxFrameCount) * kBlockAlign) {
    FillHeader(header, 0);
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
    std::printf("write file name = %s\n", newPath.c_str());
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
        std::printf("error:%s\n", path.c_str());
        Fail(errno);
        return;
    }
    if (std::fseek(file.get(), static_cast<long>(kHeaderSize), SEEK_SET) != 0) Fail(errno);
}

void WavWriter::WriteFrame(const float* first, const float* second, const float* third,
                           const float* fourth, int32_t count) {
    if (!file || failed) return;
    if (count < 0 || count > kMaxFrameCount) {
        failed = true;
        return;
    }
    const uint32_t bytes = static_cast<uint32_t>(count) * kBlockAlign;
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
    FillHeader(header, dataByteCount);
    WriteAt(0, header, kHeaderSize);
    // Buffered bytes reach the file only now: a full disk shows up here.
    if (std::fflush(file.get()) != 0) Fail(errno);
    if (std::fclose(file.release()) != 0) Fail(errno);
    finished = true;
    return !failed;
}

}  // namespace spatialmux
