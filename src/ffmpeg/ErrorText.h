#pragma once
// FFmpeg's error codes as the text FFmpeg gives for them.

#include <string>

extern "C" {
#include <libavutil/error.h>
}

namespace spatialmux::ffmpeg {

inline std::string ErrorText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

}  // namespace spatialmux::ffmpeg
