#pragma once
// Opening a movie with libavformat, finding its streams and feeding one
// stream's packets to a decoder.

#include <string>

#include "ffmpeg/Handles.h"

namespace spatialmux::ffmpeg {

// Opens `path` for reading its headers (no packets are read). 0, or the
// negative FFmpeg code of the failure with `*context` left empty.
int OpenInput(const std::string& path, InputContext* context);

// The first stream of `type`, or nullptr.
AVStream* FirstStream(const AVFormatContext* context, AVMediaType type);

// The stream of `type` whose container track ID (AVStream::id) is
// `trackId`; for a `trackId` of 0 the first stream of `type`. nullptr when
// there is none.
AVStream* StreamOfTrack(const AVFormatContext* context, AVMediaType type, int trackId);

// Opens `path` and a decoder for its best stream of `type`; false with
// `problem` set when either cannot be done.
bool OpenBestStream(const std::string& path, AVMediaType type, InputContext* input,
                    CodecContext* decoder, int* streamIndex, std::string* problem);

// Sends the next packet of `streamIndex` to `decoder`, passing over those of
// other streams. At the end of the file (or a read error) the decoder is
// told to give what it holds and `*draining` is set. 0, or the decoder's
// error for the packet (AVERROR(EAGAIN), a decoder that wants its frames
// taken first, is none: every caller takes them all after each packet).
int SendNextPacket(AVFormatContext* input, AVCodecContext* decoder, AVPacket* packet,
                   int streamIndex, bool* draining);

}  // namespace spatialmux::ffmpeg
