// MovieReader::TransplantMetadata: the input's video sample entry, uuid box
// and SA3D box go into the output's moov, which the remux left as the last
// box of the file behind mdat. Only moov is read and rewritten; the media
// data does not move, so the chunk offsets stay valid.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <vector>

#include "movie/MovieReader.h"
#include "output/MoovTransplant.h"
#include "output/RecordingMetadataCarry.h"

namespace spatialmux {

namespace {

constexpr std::streamoff kBoxHeaderSize = 8;
// Larger moov boxes (and 64-bit sizes) are not rewritten.
constexpr uint32_t kMaxMoovSize = 0x7FFFFFFF;

}  // namespace

int32_t MovieReader::TransplantMetadata(const std::string& path) {
    outputPath = path;
    std::fstream file(outputPath, std::ios::in | std::ios::out | std::ios::binary);
    if (!file) {
        std::printf("%s:file open error\n", outputPath.c_str());
        return 1;
    }

    // mdat, then moov behind it. With a 32-bit mdat the search for mdat
    // stops at its payload, so stepping back lets the next search skip it
    // by its size; after a 64-bit mdat the search stood 8 bytes past its
    // end, and stepping back puts the stream on the box that follows.
    if (!FindBox("mdat", file)) return 1;
    file.seekg(-kBoxHeaderSize, std::ios::cur);
    if (!file || !FindBox("moov", file)) return 1;
    file.seekg(-kBoxHeaderSize, std::ios::cur);
    const std::streamoff moovStart = file.tellg();
    if (!file || moovStart < 0 ||
        !file.read(reinterpret_cast<char*>(boxHeader), sizeof boxHeader)) {
        return 1;
    }
    const uint32_t moovSize = util.ReadBE32(boxHeader);
    if (std::memcmp(boxHeader + 4, "moov", 4) != 0 || moovSize < kBoxHeaderSize ||
        moovSize > kMaxMoovSize) {
        return 1;
    }

    // moov must be the file's last box: the new one may be longer.
    if (!file.seekg(0, std::ios::end)) return 1;
    const std::streamoff fileSize = file.tellg();
    if (fileSize != moovStart + static_cast<std::streamoff>(moovSize)) return 1;

    std::vector<uint8_t> oldMoov(moovSize);
    if (!file.seekg(moovStart) || !file.read(reinterpret_cast<char*>(oldMoov.data()),
                                             static_cast<std::streamsize>(moovSize))) {
        return 1;
    }

    std::vector<uint8_t> sa3d = sa3dBox;
    if (!output::RemapSa3dChannels(sa3d)) return 1;
    std::vector<uint8_t> newMoov;
    if (!output::BuildTransplantedMoov(oldMoov, videoSampleEntry, uuidBox, sa3d, &newMoov)) {
        return 1;
    }
    if (!output::CarryRecordingMetadata(newMoov, recording, &newMoov)) return 1;
    sa3dBox = sa3d;

    file.clear();
    file.seekp(moovStart);
    file.write(reinterpret_cast<const char*>(newMoov.data()),
               static_cast<std::streamsize>(newMoov.size()));
    file.flush();
    const bool written = static_cast<bool>(file);
    file.close();
    if (!written || file.fail()) return 1;

    if (newMoov.size() < moovSize) {
        // The old moov's tail must not stay behind the new one.
        std::error_code error;
        std::filesystem::resize_file(
            outputPath, static_cast<std::uintmax_t>(moovStart) + newMoov.size(), error);
        if (error) return 1;
    }
    return 0;
}

}  // namespace spatialmux
