#pragma once
// The output's container and audio codec, decided once, before anything is
// written: from the output's name and the --audio and --audio-bitrate
// choices. Every front end (the command line, a batch's children, the
// windowed converter) asks this one function, so the rules live in one
// place:
//   .mov  PCM (the default), AAC; Opus is refused (FFmpeg's QuickTime muxer
//         takes Opus only in MP4);
//   .mp4  AAC (the default), Opus; PCM is refused (FFmpeg's MP4 muxer takes
//         no 16-bit PCM);
//   any other name keeps what it always had: PCM, whatever FFmpeg's muxer
//   for it makes of that (AAC and Opus are refused for it).
// The bit rate is for AAC and Opus only, 512 kb/s unless chosen.

#include <cstdint>
#include <string>
#include <variant>

#include "control/job/OutputContainer.h"
#include "output/Remux.h"

namespace spatialmux {

struct OutputFormat {
    OutputContainer container = OutputContainer::Mov;
    output::AudioEncoding audio;
};

inline constexpr int64_t kDefaultEncodedBitRate = 512000;

// `audio`: "", "pcm", "aac" or "opus" ("" means the container's default);
// `bitRate`: "" or a rate such as "512k", "256000" or "1M". The format, or
// the message that says why the combination is refused (naming the output).
std::variant<OutputFormat, std::string> ChooseOutputFormat(const std::string& outputPath,
                                                           const std::string& audio,
                                                           const std::string& bitRate);

// "pcm", "aac" or "opus".
const char* AudioCodecName(output::AudioCodec codec);

}  // namespace spatialmux
