// The metadata transplant's file step. Only moov is read and rewritten; the
// media data does not move, so the chunk offsets stay valid.
#include "output/MetadataTransplant.h"

#include <filesystem>
#include <fstream>
#include <system_error>

#include "iso/BoxWalk.h"
#include "output/MoovTransplant.h"
#include "output/RecordingMetadataCarry.h"

namespace spatialmux::output {

namespace {

// Larger moov boxes (and 64-bit sizes) are not rewritten.
constexpr uint64_t kMaxMoovSize = 0x7FFFFFFF;

}  // namespace

TransplantResult TransplantIntoFile(const std::string& path,
                                    const std::vector<uint8_t>& videoSampleEntry,
                                    const std::vector<uint8_t>& uuidBox,
                                    const std::vector<uint8_t>& sa3dBox,
                                    const RecordingMetadata& recording,
                                    const std::optional<SphericalVideo>& sphericalV2) {
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    if (!file) return TransplantResult::CannotOpen;
    if (!file.seekg(0, std::ios::end)) return TransplantResult::Refused;
    const std::streamoff end = file.tellg();
    if (end < 0) return TransplantResult::Refused;
    const auto fileSize = static_cast<uint64_t>(end);

    // mdat, then moov behind it as the file's last box: the new moov may be
    // longer than the old one.
    const auto mdat = FindTopLevelBox(file, fileSize, 0, "mdat");
    if (!mdat) return TransplantResult::Refused;
    const auto moov = FindTopLevelBox(file, fileSize, mdat->End(), "moov");
    if (!moov || moov->headerSize != kBoxHeaderSize || moov->size > kMaxMoovSize ||
        moov->End() != fileSize) {
        return TransplantResult::Refused;
    }

    std::vector<uint8_t> oldMoov(static_cast<std::size_t>(moov->size));
    file.clear();
    if (!file.seekg(static_cast<std::streamoff>(moov->offset)) ||
        !file.read(reinterpret_cast<char*>(oldMoov.data()),
                   static_cast<std::streamsize>(oldMoov.size()))) {
        return TransplantResult::Refused;
    }

    std::vector<uint8_t> sa3d = sa3dBox;
    if (!sa3d.empty() && !RemapSa3dChannels(sa3d)) return TransplantResult::Refused;
    std::vector<uint8_t> newMoov;
    if (!BuildTransplantedMoov(oldMoov, videoSampleEntry, uuidBox, sa3d, &newMoov)) {
        return TransplantResult::Refused;
    }
    if (!CarryRecordingMetadata(newMoov, recording, &newMoov)) return TransplantResult::Refused;
    if (sphericalV2 && AddSphericalV2(newMoov, *sphericalV2) == SphericalV2Result::Refused) {
        return TransplantResult::Refused;
    }
    // A V2 carried over without a new one names spatialmux all the same.
    if (!sphericalV2) MarkSphericalSource(newMoov);

    file.clear();
    file.seekp(static_cast<std::streamoff>(moov->offset));
    file.write(reinterpret_cast<const char*>(newMoov.data()),
               static_cast<std::streamsize>(newMoov.size()));
    file.flush();
    const bool written = static_cast<bool>(file);
    file.close();
    if (!written || file.fail()) return TransplantResult::Refused;

    if (newMoov.size() < oldMoov.size()) {
        // The old moov's tail must not stay behind the new one.
        std::error_code error;
        std::filesystem::resize_file(path, moov->offset + newMoov.size(), error);
        if (error) return TransplantResult::Refused;
    }
    return TransplantResult::Written;
}

}  // namespace spatialmux::output
