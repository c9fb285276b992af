#include "output/PngWriting.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "ffmpeg/Handles.h"

namespace spatialmux::output {

namespace {

// Closes a descriptor and, unless kept, removes the file it was opened for.
class PartialFile {
public:
    explicit PartialFile(std::string name) : path(std::move(name)) {
        descriptor = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        created = descriptor >= 0;
    }
    ~PartialFile() {
        if (descriptor >= 0) ::close(descriptor);
        // A name that was already taken is not ours to remove.
        if (created && !kept) std::remove(path.c_str());
    }
    PartialFile(const PartialFile&) = delete;
    PartialFile& operator=(const PartialFile&) = delete;

    bool Opened() const { return descriptor >= 0; }
    bool WriteAll(const uint8_t* bytes, std::size_t size) {
        while (size > 0) {
            const ssize_t written = ::write(descriptor, bytes, size);
            if (written < 0 && errno == EINTR) continue;
            if (written <= 0) return false;
            bytes += written;
            size -= static_cast<std::size_t>(written);
        }
        return true;
    }
    bool SyncAndClose() {
        const bool synced = ::fsync(descriptor) == 0;
        const bool closed = ::close(descriptor) == 0;
        descriptor = -1;
        return synced && closed;
    }
    void Keep() { kept = true; }

private:
    std::string path;
    int descriptor = -1;
    bool created = false;
    bool kept = false;
};

}  // namespace

std::string PartialPngPath(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    return folder + "." + name + "." + std::to_string(::getpid()) + ".partial";
}

bool EncodePng(const RgbImage& image, std::vector<uint8_t>* png, std::string* problem) {
    if (image.width <= 0 || image.height <= 0 ||
        image.pixels.size() !=
            static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height) * 3) {
        *problem = "the picture is empty";
        return false;
    }
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_PNG);
    if (codec == nullptr) {
        *problem = "FFmpeg has no PNG encoder";
        return false;
    }
    ffmpeg::CodecContext context(avcodec_alloc_context3(codec));
    ffmpeg::Frame frame(av_frame_alloc());
    ffmpeg::Packet packet(av_packet_alloc());
    if (!context || !frame || !packet) {
        *problem = "out of memory for the PNG encoder";
        return false;
    }
    context->width = image.width;
    context->height = image.height;
    context->pix_fmt = AV_PIX_FMT_RGB24;
    context->time_base = AVRational{1, 1};
    if (avcodec_open2(context.get(), codec, nullptr) < 0) {
        *problem = "cannot open FFmpeg's PNG encoder";
        return false;
    }
    frame->format = AV_PIX_FMT_RGB24;
    frame->width = image.width;
    frame->height = image.height;
    if (av_frame_get_buffer(frame.get(), 0) < 0) {
        *problem = "out of memory for the picture";
        return false;
    }
    const std::size_t rowBytes = static_cast<std::size_t>(image.width) * 3;
    for (int y = 0; y < image.height; ++y) {
        std::memcpy(frame->data[0] + static_cast<std::ptrdiff_t>(y) * frame->linesize[0],
                    image.pixels.data() + static_cast<std::size_t>(y) * rowBytes, rowBytes);
    }
    frame->pts = 0;
    if (avcodec_send_frame(context.get(), frame.get()) < 0 ||
        avcodec_send_frame(context.get(), nullptr) < 0) {
        *problem = "FFmpeg's PNG encoder refused the picture";
        return false;
    }
    png->clear();
    for (;;) {
        const int result = avcodec_receive_packet(context.get(), packet.get());
        if (result == AVERROR_EOF) break;
        if (result < 0) {
            *problem = "FFmpeg's PNG encoder failed";
            return false;
        }
        png->insert(png->end(), packet->data, packet->data + packet->size);
        av_packet_unref(packet.get());
    }
    if (png->empty()) {
        *problem = "FFmpeg's PNG encoder gave nothing";
        return false;
    }
    return true;
}

bool WritePngFile(const RgbImage& image, const std::string& path, std::string* problem) {
    std::vector<uint8_t> png;
    if (!EncodePng(image, &png, problem)) return false;
    const std::string partial = PartialPngPath(path);
    PartialFile file(partial);
    if (!file.Opened()) {
        *problem = "cannot create " + partial + ": " + std::strerror(errno);
        return false;
    }
    if (!file.WriteAll(png.data(), png.size()) || !file.SyncAndClose()) {
        *problem = "cannot write " + partial + ": " + std::strerror(errno);
        return false;
    }
    if (std::rename(partial.c_str(), path.c_str()) != 0) {
        *problem = "cannot rename " + partial + " to " + path + ": " + std::strerror(errno);
        return false;
    }
    file.Keep();
    return true;
}

}  // namespace spatialmux::output
