// Writes the seed corpora of the fuzz targets: small camera movies in their
// variations (reader, and with the damages a conversion must catch: edit
// plan, check report), their maker-note payloads (maker note), and, when
// the spatialmux program is given, the converted outputs (transplant).
//
//   make_seed_corpus FUZZ_DIR [SPATIALMUX]
//
// Also writes FUZZ_DIR/data/camera_movie.mp4, the movie whose metadata the
// transplant target puts into every output.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "audio/ByteOrder.h"
#include "fixture/CameraMovieBuilder.h"
#include "fixture/SecondTables.h"

namespace {

using spatialmux::fixture::CameraMovieLayout;
using spatialmux::fixture::CameraMovieOptions;
using spatialmux::fixture::StrayFrame;
using spatialmux::fixture::VideoCodec;

struct Seed {
    const char* name;
    CameraMovieOptions options;
};

CameraMovieOptions Tiny() {
    CameraMovieOptions o;
    o.width = 16;
    o.height = 16;
    o.distinctFrames = 1;
    o.totalSamples = 400;
    o.chunkRuns = {{1, 150}, {3, 60}};
    return o;
}

std::vector<Seed> Seeds() {
    std::vector<Seed> seeds;
    seeds.push_back({"plain", Tiny()});
    {
        auto o = Tiny();
        o.codec = VideoCodec::HEVC;
        o.makerNoteFlag = 1;
        seeds.push_back({"hevc_flag", o});
    }
    {
        auto o = Tiny();
        o.mdat64 = true;
        o.boxesBeforeMoov = 2;
        seeds.push_back({"mdat64_free_boxes", o});
    }
    {
        auto o = Tiny();
        o.totalSamples = 1100;
        o.chunkRuns = {{1, 512}};
        seeds.push_back({"two_frames", o});
    }
    {
        auto o = Tiny();
        o.omitTiffTags = {0x1011};
        o.softwareText = "ZORVA VELIX V Ver 1.1 build 7";
        o.includeVisibleAudioTrak = false;
        seeds.push_back({"no_flag_tag", o});
    }
    {
        auto o = Tiny();
        o.writeSa3d = false;
        seeds.push_back({"no_sa3d", o});
    }
    {
        auto o = Tiny();
        o.moovBeforeMdat = true;
        seeds.push_back({"moov_first", o});
    }
    {
        auto o = Tiny();
        o.writeUuid = false;
        o.useStco = true;
        seeds.push_back({"no_uuid_stco", o});
    }
    {
        auto o = Tiny();
        o.makerNoteLittleEndian = true;
        o.makerNoteFirstDirectory = 24;
        o.makerNoteFlag = 1;
        seeds.push_back({"maker_note_ii", o});
    }
    return seeds;
}

// Movies that are not the camera's whose declarations disagree with their
// audio track: an SA3D box of 4 channels on a track of 2, 6 or 9, and
// first-order ambisonics with head-locked stereo. For --check's report, and
// their moov for the spatial metadata's reading.
std::vector<Seed> DeclarationSeeds() {
    std::vector<Seed> seeds;
    auto ambix = [] {
        auto o = Tiny();
        o.convention = spatialmux::fixture::AmbisonicConvention::AmbiX;
        return o;
    };
    for (const auto& [name, channels] : {std::pair{"sa3d_says_4_track_2", 2},
                                         {"sa3d_says_4_track_6", 6},
                                         {"sa3d_says_4_track_9", 9}}) {
        auto o = ambix();
        o.audioChannels = channels;
        o.sa3dChannelCount = 4;
        seeds.push_back({name, o});
    }
    auto o = ambix();
    o.audioChannels = 6;
    o.sa3dChannelCount = 6;
    o.sa3dHeadLockedStereo = true;
    seeds.push_back({"head_locked_stereo", o});
    return seeds;
}

// Each damage the edit engine must catch, on the plain seed.
std::vector<Seed> DamagedSeeds() {
    std::vector<Seed> seeds;
    const auto add = [&seeds](const char* name, auto damage) {
        auto o = Tiny();
        damage(o);
        seeds.push_back({name, o});
    };
    add("audio_shifted", [](CameraMovieOptions& o) { o.damage.privateChunkShift = 1; });
    add("audio_on_keyframe", [](CameraMovieOptions& o) { o.damage.privateChunkOnFirstFrame = 1; });
    add("audio_runs_wider", [](CameraMovieOptions& o) {
        o.chunkRuns = {{1, 100}};
        o.damage.privateChunkRuns = {{1, 101}};
    });
    add("audio_runs_repeated", [](CameraMovieOptions& o) {
        o.damage.privateChunkRuns = {{1, 200}, {1, 100}};
    });
    add("audio_runs_zero", [](CameraMovieOptions& o) {
        o.chunkRuns = {{1, 100}};
        o.damage.privateChunkRuns = {{1, 100}, {3, 0}, {4, 100}};
    });
    add("video_on_audio", [](CameraMovieOptions& o) { o.damage.videoSampleOnAudio = 0; });
    add("video_runs_wider", [](CameraMovieOptions& o) { o.damage.videoChunkRuns = {{1, 3}}; });
    add("video_in_free",
        [](CameraMovieOptions& o) { o.damage.strayFrame = StrayFrame::FreeBehindMdat; });
    add("video_in_private_box",
        [](CameraMovieOptions& o) { o.damage.strayFrame = StrayFrame::PrivateBeforeMdat; });
    add("video_in_moov", [](CameraMovieOptions& o) { o.damage.strayFrame = StrayFrame::InMoov; });
    add("dref_size_0", [](CameraMovieOptions& o) { o.damage.videoDrefSizeZero = true; });
    add("video_offsets_renamed",
        [](CameraMovieOptions& o) { o.damage.videoChunkOffsetType = "stcX"; });
    add("mdat_to_end", [](CameraMovieOptions& o) {
        o.moovBeforeMdat = true;
        o.damage.mdatSizeToEnd = true;
    });
    add("ftyp_large", [](CameraMovieOptions& o) { o.damage.ftypBytes = 64; });
    add("free_boxes_at_end", [](CameraMovieOptions& o) { o.damage.freeBoxesAtEnd = 20; });
    return seeds;
}

std::vector<uint8_t> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in),
                                std::istreambuf_iterator<char>());
}

bool WriteAll(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

// The movies players read otherwise than stbl says, for the edit's plan:
// a second co64 in edts, in a track udta and in the video sample entry, a
// second stsz behind stbl (in minf) and one in dinf, a second stsc in edts,
// and a moov nested in a top-level udta in front of the real one.
bool WriteSecondTableSeeds(const std::vector<uint8_t>& plain, uint64_t audioChunk,
                           const std::filesystem::path& folder) {
    using spatialmux::fixture::SecondTablePlace;
    const struct {
        const char* name;
        const char* table;  // "" for the nested moov
        SecondTablePlace place;
    } shapes[] = {
        {"second_co64_in_edts", "co64", SecondTablePlace::Edts},
        {"second_co64_in_track_udta", "co64", SecondTablePlace::TrackUdta},
        {"second_co64_in_sample_entry", "co64", SecondTablePlace::SampleEntry},
        {"second_stsz_in_minf", "stsz", SecondTablePlace::Minf},
        {"second_stsc_in_edts", "stsc", SecondTablePlace::Edts},
        {"second_stsz_in_dinf", "stsz", SecondTablePlace::Dinf},
        {"moov_in_top_level_udta", "", SecondTablePlace::Edts},
    };
    for (const auto& shape : shapes) {
        std::vector<uint8_t> bytes = plain;
        std::string error;
        const bool made = *shape.table == '\0'
                              ? spatialmux::fixture::AddNestedMoov(bytes, audioChunk, &error)
                              : spatialmux::fixture::AddSecondTable(bytes, shape.table, shape.place,
                                                                    audioChunk, &error);
        if (!made || !WriteAll((folder / (std::string(shape.name) + ".mp4")).string(), bytes)) {
            std::fprintf(stderr, "%s: %s\n", shape.name, error.c_str());
            return false;
        }
    }
    return true;
}

std::string Quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: make_seed_corpus FUZZ_DIR [SPATIALMUX]\n");
        return 2;
    }
    const std::filesystem::path root = argv[1];
    const std::filesystem::path reader = root / "corpus" / "movie_reader";
    const std::filesystem::path makerNote = root / "corpus" / "maker_note";
    const std::filesystem::path transplant = root / "corpus" / "transplant";
    const std::filesystem::path checks = root / "corpus" / "input_checks";
    const std::filesystem::path edit = root / "corpus" / "edit_plan";
    const std::filesystem::path report = root / "corpus" / "check_report";
    for (const auto& folder :
         {reader, makerNote, transplant, checks, edit, report, root / "data"}) {
        std::filesystem::create_directories(folder);
    }
    // The damaged movies: for the edit's plan and --check's report.
    for (const Seed& seed : DamagedSeeds()) {
        const std::string movie = (edit / (std::string(seed.name) + ".mp4")).string();
        std::string error;
        if (!spatialmux::fixture::WriteCameraMovie(movie, seed.options, nullptr, &error)) {
            std::fprintf(stderr, "%s: %s\n", seed.name, error.c_str());
            return 1;
        }
        std::filesystem::copy_file(movie, report / (std::string(seed.name) + ".mp4"),
                                   std::filesystem::copy_options::overwrite_existing);
    }

    for (const Seed& seed : DeclarationSeeds()) {
        const std::string movie = (report / (std::string(seed.name) + ".mp4")).string();
        CameraMovieLayout layout;
        std::string error;
        if (!spatialmux::fixture::WriteCameraMovie(movie, seed.options, &layout, &error)) {
            std::fprintf(stderr, "%s: %s\n", seed.name, error.c_str());
            return 1;
        }
        const std::vector<uint8_t> bytes = ReadAll(movie);
        const auto moov = bytes.begin() + static_cast<std::ptrdiff_t>(layout.moovOffset);
        WriteAll(
            (root / "corpus" / "spatial_metadata" / (std::string(seed.name) + ".moov")).string(),
            std::vector<uint8_t>(moov, moov + static_cast<std::ptrdiff_t>(layout.moovSize)));
    }

    for (const Seed& seed : Seeds()) {
        const std::string movie = (reader / (std::string(seed.name) + ".mp4")).string();
        CameraMovieLayout layout;
        std::string error;
        if (!spatialmux::fixture::WriteCameraMovie(movie, seed.options, &layout, &error)) {
            std::fprintf(stderr, "%s: %s\n", seed.name, error.c_str());
            return 1;
        }
        for (const auto& folder : {edit, report}) {
            std::filesystem::copy_file(movie, folder / (std::string(seed.name) + ".mp4"),
                                       std::filesystem::copy_options::overwrite_existing);
        }
        const std::vector<uint8_t> bytes = ReadAll(movie);
        if (layout.zmknOffset + 8 <= bytes.size()) {
            const uint64_t at = layout.zmknOffset;
            const uint64_t size = spatialmux::ReadBE32(&bytes[at]);
            if (size >= 8 && at + size <= bytes.size()) {
                WriteAll(
                    (makerNote / (std::string(seed.name) + ".tiff")).string(),
                    std::vector<uint8_t>(bytes.begin() + static_cast<std::ptrdiff_t>(at + 8),
                                         bytes.begin() + static_cast<std::ptrdiff_t>(at + size)));
            }
        }
        // The pieces the input checks look at: the SA3D box and the video
        // sample entry as written (the maker-note payloads are the
        // maker_note seeds, which go into this corpus too).
        const std::string name = seed.name;
        if (name == "plain" || name == "hevc_flag") {
            WriteAll((checks / (name + "_video_entry.box")).string(), layout.videoSampleEntry);
        }
        if (name == "plain") WriteAll((checks / "sa3d.box").string(), layout.sa3dBox);
        if (name == "plain" || name == "maker_note_ii") {
            std::filesystem::copy_file(makerNote / (name + ".tiff"),
                                       checks / (name + "_maker_note.tiff"),
                                       std::filesystem::copy_options::overwrite_existing);
        }
        if (std::string(seed.name) == "plain") {
            std::filesystem::copy_file(movie, root / "data" / "camera_movie.mp4",
                                       std::filesystem::copy_options::overwrite_existing);
            if (!WriteSecondTableSeeds(bytes, layout.audioChunkOffsets.front(), edit)) return 1;
        }
        // The converted output (FFmpeg's MP4 muxer takes no PCM audio, so
        // the QuickTime layout is the only one a conversion writes).
        for (const std::string extension : {".mov"}) {
            if (argc <= 2) break;
            const std::string output = (transplant / (std::string(seed.name) + extension)).string();
            std::filesystem::remove(output);
            const std::string command =
                Quote(argv[2]) + " " + Quote(movie) + " " + Quote(output) + " >/dev/null 2>&1";
            const int status = std::system(command.c_str());
            if (status != 0 || !std::filesystem::exists(output)) {
                std::filesystem::remove(output);
                std::printf("%s%s: no converted output (status %d)\n", seed.name, extension.c_str(),
                            status);
            }
        }
    }
    return 0;
}
