#pragma once
// The remux: the movie's 360 video stream (and any track the caller keeps) is copied packet by
// packet, without decoding, into the output movie, with the temporary WAV's audio either copied as
// PCM too or encoded on the way (AAC, Opus). It knows nothing of who runs it: progress,
// cancellation and its diagnostics go through the RemuxJob it is handed. The WAV has 16-bit
// samples: the conversion's four ambisonic channels, or any other count (the headphone render's two
// ears); without a movie the output is the audio alone.

#include <cstdint>
#include <string>
#include <vector>

namespace spatialmux::output {

// How the output carries the audio. Which codec a container may hold is
// decided above this layer, before anything is written; the remux only
// reports a failure when FFmpeg still refuses.
enum class AudioCodec {
    Pcm,   // the WAV's 16-bit packets copied as they are
    Aac,   // AAC-LC, FFmpeg's own encoder
    Opus,  // libopus; four channels with channel mapping family 2 (ambisonics)
};

struct AudioEncoding {
    AudioCodec codec = AudioCodec::Pcm;
    int64_t bitRate = 0;  // bits per second for an encoder; unused for PCM
    // The user named the rate: audio already in the output's codec is
    // encoded again at it, not copied.
    bool bitRateChosen = false;
};

// Which of the movie's tracks the output carries besides the audio: its 360
// video (by track ID; 0: the first video stream), and the tracks copied
// untouched behind the audio, in this order (a thumbnail, a second video,
// subtitles...). Output stream 0 is the video, 1 the audio, 2 on the kept
// tracks.
struct TrackChoice {
    int videoTrackId = 0;
    std::vector<int> keptTrackIds;
};

// Whether the muxer of the container an output named `containerName` gets
// can hold a stream of `codec` (libavcodec's name) copied as it is.
bool ContainerHolds(const std::string& containerName, const std::string& codec);

struct RemuxRequest {
    std::string moviePath;  // empty: no video, the audio alone
    std::string wavPath;
    // The file the output is written into (the caller's hidden temporary
    // file, which it created).
    std::string outputPath;
    // The name the container is chosen by (the final output's name, whose
    // extension FFmpeg reads); empty: outputPath's.
    std::string containerName;
    // When >= 0, the output is written through this descriptor (open for
    // reading and writing, at offset 0, not closed by the remux) and
    // outputPath is only its name for messages.
    int outputFd = -1;
    AudioEncoding audio = {};
    // The movie's first audio stream is copied packet by packet as it is
    // (no WAV, no encoder; wavPath is not read): audio whose channels and
    // codec the output takes unchanged. `audio.codec` names its codec;
    // `audio.bitRate`, when not 0, the rate its encoder was set to (the
    // input's btrt maximum), which the output's boxes keep.
    bool audioFromMovie = false;
    TrackChoice tracks = {};
};

// What the remux asks of the job that runs it. Called on the remux's thread.
class RemuxJob {
public:
    virtual ~RemuxJob() = default;
    // `done` of `total` units of the audio are written (total 0: unknown).
    virtual void Progress(int64_t done, int64_t total) = 0;
    // True when the remux should stop writing.
    virtual bool Cancelled() = 0;
    // A diagnostic for standard output, with its own line ends (or none).
    virtual void Diagnostic(const std::string& text) = 0;
};

enum class RemuxStatus {
    Completed,  // both inputs were copied to their ends and the output finished
    Failed,     // stopped by an error; a diagnostic said which
    Cancelled,  // stopped because the job asked; nothing more was written
};

struct RemuxOutcome {
    RemuxStatus status = RemuxStatus::Failed;
    // Whether this remux created (or truncated) the output file, so that a
    // caller cleaning up never deletes a file that the remux did not touch.
    bool outputCreated = false;
};

RemuxOutcome Remux(const RemuxRequest& request, RemuxJob& job);

// Lets FFmpeg log its errors only. Its stream dumps and notices (such as its
// remark that it does not reorder the camera's ambisonic channels, which is
// what this conversion does) are for developers; the user sees our own
// messages and progress, and FFmpeg's errors.
void QuietenRemuxLog();

}  // namespace spatialmux::output
