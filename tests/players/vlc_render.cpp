// vlc_render: plays a movie through libvlc (VLC 3 with its spatial audio
// renderer) and writes what VLC renders to a 16-bit stereo WAV, for the
// tests that hear our outputs as a player does. libvlc, unlike the vlc
// program, runs as root, and it lets the viewpoint be turned.
//
//   vlc_render [--binaural SOFA] [--yaw DEGREES] IN OUT.wav
//   vlc_render --probe
//
// --binaural renders for headphones with the HRTF in SOFA; otherwise VLC
// decodes for two loudspeakers. --yaw turns the listener (positive: to the
// right, so a source in front is heard on the left). --probe only checks
// that libvlc starts and has its file audio output.
// Exit status: 0 rendered (or probed), 1 VLC could not play IN, 2 usage,
// 3 libvlc or its file audio output is missing.
#include <vlc/vlc.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

struct InstanceRelease {
    void operator()(libvlc_instance_t* instance) const { libvlc_release(instance); }
};
struct PlayerRelease {
    void operator()(libvlc_media_player_t* player) const { libvlc_media_player_release(player); }
};
struct MediaRelease {
    void operator()(libvlc_media_t* media) const { libvlc_media_release(media); }
};
struct OutputListRelease {
    void operator()(libvlc_audio_output_t* list) const { libvlc_audio_output_list_release(list); }
};
struct ViewpointFree {
    void operator()(libvlc_video_viewpoint_t* viewpoint) const { libvlc_free(viewpoint); }
};
using Instance = std::unique_ptr<libvlc_instance_t, InstanceRelease>;

// A whole playback of a short test clip takes a few seconds.
constexpr auto kLongestPlayback = std::chrono::seconds(60);

Instance NewInstance(const std::vector<std::string>& options) {
    std::vector<const char*> argv;
    for (const std::string& option : options) argv.push_back(option.c_str());
    return Instance(libvlc_new(static_cast<int>(argv.size()), argv.data()));
}

bool HasFileOutput(libvlc_instance_t* instance) {
    const std::unique_ptr<libvlc_audio_output_t, OutputListRelease> outputs(
        libvlc_audio_output_list_get(instance));
    for (const libvlc_audio_output_t* output = outputs.get(); output != nullptr;
         output = output->p_next) {
        if (std::strcmp(output->psz_name, "afile") == 0) return true;
    }
    return false;
}

int Usage() {
    std::fputs("usage: vlc_render [--binaural SOFA] [--yaw DEGREES] IN OUT.wav | --probe\n",
               stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> files;
    std::string hrtf;
    float yaw = 0.0f;
    bool probe = false;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--probe") {
            probe = true;
        } else if (argument == "--binaural" && i + 1 < argc) {
            hrtf = argv[++i];
        } else if (argument == "--yaw" && i + 1 < argc) {
            yaw = std::strtof(argv[++i], nullptr);
        } else {
            files.push_back(argument);
        }
    }
    if (probe ? !files.empty() : files.size() != 2) return Usage();

    std::vector<std::string> options = {"--quiet", "--no-video", "--aout", "afile"};
    if (!probe) {
        options.insert(options.end(), {"--audiofile-file", files[1], "--audiofile-format", "s16",
                                       "--audiofile-channels", "2"});
    }
    if (!hrtf.empty())
        options.insert(options.end(), {"--spatialaudio-headphones", "--hrtf-file", hrtf});
    const Instance vlc = NewInstance(options);
    if (!vlc || !HasFileOutput(vlc.get())) {
        std::fputs("vlc_render: libvlc or its file audio output (afile) is missing\n", stderr);
        return 3;
    }
    if (probe) return 0;

    std::unique_ptr<libvlc_media_player_t, PlayerRelease> player;
    {
        const std::unique_ptr<libvlc_media_t, MediaRelease> media(
            libvlc_media_new_path(vlc.get(), files[0].c_str()));
        if (!media) return 1;
        player.reset(libvlc_media_player_new_from_media(media.get()));
    }
    const std::unique_ptr<libvlc_video_viewpoint_t, ViewpointFree> viewpoint(
        libvlc_video_new_viewpoint());
    if (!player || !viewpoint) return 1;
    viewpoint->f_yaw = yaw;
    viewpoint->f_pitch = 0.0f;
    viewpoint->f_roll = 0.0f;
    viewpoint->f_field_of_view = 80.0f;
    if (libvlc_media_player_play(player.get()) != 0) return 1;

    // The viewpoint reaches the audio only once the input exists; set once,
    // it would apply after the audio already buffered. So it is set again
    // and again until the end.
    const auto end = std::chrono::steady_clock::now() + kLongestPlayback;
    while (std::chrono::steady_clock::now() < end) {
        const libvlc_state_t state = libvlc_media_player_get_state(player.get());
        if (state == libvlc_Ended) return 0;  // the WAV is completed as the player is released
        if (state == libvlc_Error) break;
        libvlc_video_update_viewpoint(player.get(), viewpoint.get(), true);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    std::fprintf(stderr, "vlc_render: VLC did not play %s to its end\n", files[0].c_str());
    return 1;
}
