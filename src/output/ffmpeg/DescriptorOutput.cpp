#include "output/ffmpeg/DescriptorOutput.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

extern "C" {
#include <libavutil/error.h>
#include <libavutil/mem.h>
}

namespace spatialmux::output {

namespace {

// Large enough that a movie's media data goes out in few system calls.
constexpr int kBufferSize = 256 * 1024;

int DescriptorOf(void* opaque) {
    return static_cast<int>(reinterpret_cast<intptr_t>(opaque));
}

int WriteAll(void* opaque, uint8_t* bytes, int size) {
    const int fd = DescriptorOf(opaque);
    int written = 0;
    while (written < size) {
        const ssize_t now = write(fd, bytes + written, static_cast<size_t>(size - written));
        if (now < 0) {
            if (errno == EINTR) continue;
            return AVERROR(errno);
        }
        written += static_cast<int>(now);
    }
    return size;
}

int64_t Seek(void* opaque, int64_t offset, int whence) {
    const int fd = DescriptorOf(opaque);
    if ((whence & AVSEEK_SIZE) != 0) {
        struct stat facts {};
        if (fstat(fd, &facts) != 0) return AVERROR(errno);
        return static_cast<int64_t>(facts.st_size);
    }
    const off_t at = lseek(fd, static_cast<off_t>(offset), whence & ~AVSEEK_FORCE);
    if (at < 0) return AVERROR(errno);
    return static_cast<int64_t>(at);
}

}  // namespace

AVIOContext* OpenDescriptorOutput(int fd) {
    if (fd < 0) return nullptr;
    auto* buffer = static_cast<unsigned char*>(av_malloc(kBufferSize));
    if (buffer == nullptr) return nullptr;
    AVIOContext* context = avio_alloc_context(buffer, kBufferSize, 1,
                                              reinterpret_cast<void*>(static_cast<intptr_t>(fd)),
                                              nullptr, WriteAll, Seek);
    if (context == nullptr) av_free(buffer);
    return context;
}

int CloseDescriptorOutput(AVIOContext** context) {
    if (context == nullptr || *context == nullptr) return 0;
    avio_flush(*context);
    const int error = (*context)->error;
    av_freep(&(*context)->buffer);
    avio_context_free(context);
    return error < 0 ? error : 0;
}

}  // namespace spatialmux::output
