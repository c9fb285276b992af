#pragma once
// The camera movie's edit, without a codec: the new boxes worked out and
// proven from the movie reader's walk of its audio (PrepareCameraEdit), and
// every frame of its audio converted and written back where it came from
// (WriteConvertedAudio). The desktop's edit engine (control/convert) adds
// its copy on a thread of its own and FFmpeg's checks around these; the
// browser's entry (src/web) copies in one pass and checks with the core's
// own reading (EditedOutputCheck).

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "audio/AmbisonicRotation.h"
#include "control/edit/EditWrites.h"
#include "movie/MovieReader.h"
#include "output/PreparedEdit.h"

namespace spatialmux {

// The edit of the movie `reader` opened (at `in`): the plan, the proof that
// no write reaches a video sample, the new moov with Spherical Video V2
// beside the video's V1 box. Nothing, with the cause in `why`, when the edit
// cannot be done or proven safe.
std::optional<output::PreparedEdit> PrepareCameraEdit(const MovieReader& reader, EditInput& in,
                                                      std::string* why);

// How the audio's writing ended.
enum class AudioWriteEnd {
    Written,      // every frame, `written` instants
    Stopped,      // `going` said stop
    WriteFailed,  // `write` failed
    Mismatch,     // a frame's spans are not the proven chunks: nothing more written
    ShortRead,    // the input could not be read to its end
};

// What the audio's writing hands on for the output's check: the instants
// and a digest of the bytes in the order written.
struct WrittenAudio {
    int64_t instants = 0;
    uint64_t digest = 0;
};

// The running digest of WrittenAudio (FNV-1a, 64 bits), continued over `bytes`.
uint64_t AudioDigest(uint64_t digest, const uint8_t* bytes, std::size_t count);
inline constexpr uint64_t kAudioDigestStart = 0xCBF29CE484222325ull;

// Converts every frame of the camera's audio (from the start: gain, channels
// 1, 3, 4, 2 as 16-bit PCM) and hands each run to `write` at the offset it
// came from, which must lie in the edit's proven audio chunks. `going` is
// asked after every frame with the sampling instants done so far; false stops.
// `turn` turns the sound field (--rotate-audio) after the gain and order.
using AudioWrite = std::function<bool(uint64_t offset, const uint8_t* bytes, std::size_t count)>;
AudioWriteEnd WriteConvertedAudio(MovieReader& reader, const output::PreparedEdit& edit,
                                  const AudioWrite& write,
                                  const std::function<bool(int64_t current)>& going,
                                  WrittenAudio* written, const AmbisonicRotation& turn = {});

}  // namespace spatialmux
