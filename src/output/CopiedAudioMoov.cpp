// The new moov of an edited movie whose audio goes out as it came in.
#include "output/CopiedAudioMoov.h"

#include <algorithm>
#include <cstring>
#include <span>

#include "audio/ByteOrder.h"
#include "audio/ChannelLayoutBox.h"
#include "iso/BoxWalk.h"
#include "iso/BoxWriting.h"
#include "output/MoovTransplant.h"
#include "output/RecordingMetadataCarry.h"

namespace spatialmux::output {

namespace {

// Version and flags, then the number of entries, in front of stsd's entries.
constexpr uint64_t kStsdFieldBytes = 8;

using Bytes = std::vector<uint8_t>;

std::span<const uint8_t> View(const Bytes& bytes) {
    return {bytes.data(), bytes.size()};
}

void Append(Bytes& out, const Bytes& from, uint64_t begin, uint64_t end) {
    out.insert(out.end(), from.begin() + static_cast<std::ptrdiff_t>(begin),
               from.begin() + static_cast<std::ptrdiff_t>(end));
}

// The handler type of the trak `trak` ("vide", "soun"); empty when it has
// no mdia/hdlr that holds one.
std::string HandlerOf(const Bytes& moov, const BoxSpan& trak) {
    const auto hdlr = FindBoxPath(View(moov), trak, "mdia/hdlr", SizeForms::Plain32);
    if (!hdlr || hdlr->size < 20) return std::string();
    return std::string(reinterpret_cast<const char*>(moov.data() + hdlr->offset + 16), 4);
}

bool IsSphericalUuid(const Bytes& moov, const BoxSpan& box) {
    return box.Is("uuid") && box.size >= 24 &&
           std::memcmp(moov.data() + box.offset + 8, kSphericalUuid, 16) == 0;
}

// The video trak without a V1 uuid box among its children.
std::optional<Bytes> VideoTrakWithoutUuid(const Bytes& moov, const BoxSpan& trak) {
    bool complete = false;
    const auto children =
        ChildBoxes(View(moov), trak.PayloadOffset(), trak.End(), &complete, SizeForms::Plain32);
    if (!complete) return std::nullopt;
    Bytes out;
    Append(out, moov, trak.offset, trak.PayloadOffset());
    for (const BoxSpan& child : children) {
        if (!IsSphericalUuid(moov, child)) Append(out, moov, child.offset, child.End());
    }
    WriteBE32(out.data(), static_cast<uint32_t>(out.size()));
    return out;
}

// The audio trak with its first sample entry's chan and SA3D children left
// out and an ambisonic chan box appended (the transplant appends SA3D).
std::optional<Bytes> AudioTrakForAmbisonics(const Bytes& moov, const BoxSpan& trak,
                                            std::string* error) {
    const auto stsd = FindBoxPath(View(moov), trak, "mdia/minf/stbl/stsd", SizeForms::Plain32);
    if (!stsd || stsd->size < stsd->headerSize + kStsdFieldBytes) {
        *error = "the audio track has no sample description";
        return std::nullopt;
    }
    const auto entry =
        BoxAt(View(moov), stsd->PayloadOffset() + kStsdFieldBytes, stsd->End(), SizeForms::Plain32);
    if (!entry || entry->size < 18) {
        *error = "the audio track has no sample entry";
        return std::nullopt;
    }
    const uint32_t fields = SoundEntryFieldBytes(ReadBE16(moov.data() + entry->offset + 16));
    if (fields == 0 || entry->size < 8 + fields) {
        *error = "the audio sample entry is of a form that cannot be rewritten";
        return std::nullopt;
    }
    bool complete = false;
    const auto children = ChildBoxes(View(moov), entry->offset + 8 + fields, entry->End(),
                                     &complete, SizeForms::Plain32);
    if (!complete) {
        *error = "the audio sample entry's boxes do not fill it";
        return std::nullopt;
    }
    Bytes newEntry;
    Append(newEntry, moov, entry->offset, entry->offset + 8 + fields);
    for (const BoxSpan& child : children) {
        if (!child.Is("chan") && !child.Is("SA3D")) {
            Append(newEntry, moov, child.offset, child.End());
        }
    }
    const Bytes chan = AmbisonicChannelLayoutBox(4);
    newEntry.insert(newEntry.end(), chan.begin(), chan.end());
    WriteBE32(newEntry.data(), static_cast<uint32_t>(newEntry.size()));

    Bytes out;
    Append(out, moov, trak.offset, entry->offset);
    out.insert(out.end(), newEntry.begin(), newEntry.end());
    Append(out, moov, entry->End(), trak.End());
    // Every box from trak down to stsd encloses the entry and lies in front
    // of it: the same offsets in the new bytes.
    const int64_t change =
        static_cast<int64_t>(newEntry.size()) - static_cast<int64_t>(entry->size);
    std::vector<uint64_t> enclosing = {trak.offset, stsd->offset};
    for (const char* path : {"mdia", "mdia/minf", "mdia/minf/stbl"}) {
        const auto box = FindBoxPath(View(moov), trak, path, SizeForms::Plain32);
        if (!box) {
            *error = "the audio track is malformed";
            return std::nullopt;
        }
        enclosing.push_back(box->offset);
    }
    for (const uint64_t at : enclosing) {
        if (!AddToBoxSize(out, at - trak.offset, change)) {
            *error = "the audio track would be too large";
            return std::nullopt;
        }
    }
    return out;
}

}  // namespace

std::optional<VideoAndAudioTraks> FindVideoAndAudioTraks(const Bytes& moov) {
    const auto top = BoxAt(View(moov), 0, moov.size(), SizeForms::Plain32);
    if (!top || !top->Is("moov") || top->size != moov.size()) return std::nullopt;
    bool complete = false;
    const auto children =
        ChildBoxes(View(moov), top->PayloadOffset(), top->End(), &complete, SizeForms::Plain32);
    if (!complete) return std::nullopt;
    std::optional<uint64_t> video;
    std::optional<uint64_t> audio;
    for (const BoxSpan& child : children) {
        if (!child.Is("trak")) continue;
        const std::string handler = HandlerOf(moov, child);
        if (!video && handler == "vide") video = child.offset;
        if (!audio && handler == "soun") audio = child.offset;
    }
    if (!video || !audio) return std::nullopt;
    return VideoAndAudioTraks{*video, *audio};
}

std::optional<Bytes> BuildCopiedAudioMoov(const Bytes& oldMoov, const CopiedAudioBoxes& boxes,
                                          const RecordingMetadata& recording,
                                          const std::string& writerName, std::string* error) {
    auto fail = [error](std::string cause) {
        if (error != nullptr) *error = std::move(cause);
        return std::nullopt;
    };
    const auto traks = FindVideoAndAudioTraks(oldMoov);
    if (!traks) return fail("the movie box lacks a video or an audio track that can be read");
    const auto mvhd = FindChildBox(View(oldMoov), 8, oldMoov.size(), "mvhd", 0, SizeForms::Plain32);
    const auto video = BoxAt(View(oldMoov), traks->video, oldMoov.size(), SizeForms::Plain32);
    const auto audio = BoxAt(View(oldMoov), traks->audio, oldMoov.size(), SizeForms::Plain32);
    if (!mvhd || !video || !audio) return fail("the movie box has no movie header");

    const auto videoTrak = VideoTrakWithoutUuid(oldMoov, *video);
    if (!videoTrak) return fail("the video track's boxes do not fill it");
    std::string why;
    const auto audioTrak = AudioTrakForAmbisonics(oldMoov, *audio, &why);
    if (!audioTrak) return fail(why);

    Bytes moov;
    AppendBE32(moov, 0);
    moov.insert(moov.end(), {'m', 'o', 'o', 'v'});
    Append(moov, oldMoov, mvhd->offset, mvhd->End());
    moov.insert(moov.end(), videoTrak->begin(), videoTrak->end());
    moov.insert(moov.end(), audioTrak->begin(), audioTrak->end());
    if (!writerName.empty()) {
        const std::size_t length = std::min<std::size_t>(writerName.size(), 255);
        AppendBE32(moov, static_cast<uint32_t>(8 + 8 + 4 + length));
        moov.insert(moov.end(), {'u', 'd', 't', 'a'});
        AppendBE32(moov, static_cast<uint32_t>(8 + 4 + length));
        moov.insert(moov.end(), {0xA9, 's', 'w', 'r'});
        AppendBE16(moov, static_cast<uint16_t>(length));
        AppendBE16(moov, 0x55C4);  // "und"
        moov.insert(moov.end(), writerName.begin(),
                    writerName.begin() + static_cast<std::ptrdiff_t>(length));
    }
    if (moov.size() > UINT32_MAX) return fail("the new movie box would be too large");
    WriteBE32(moov.data(), static_cast<uint32_t>(moov.size()));

    Bytes sa3d = boxes.sa3dBox;
    if (!RemapSa3dChannels(sa3d)) return fail("the SA3D box is malformed");
    Bytes transplanted;
    if (!BuildTransplantedMoov(moov, boxes.videoSampleEntry, boxes.uuidBox, sa3d, &transplanted)) {
        return fail("the spherical metadata cannot be put into the new movie box");
    }
    if (!CarryRecordingMetadata(transplanted, recording, &transplanted)) {
        return fail("the recording metadata could not be carried into the new movie box");
    }
    if (AddSphericalV2(transplanted, boxes.sphere) == SphericalV2Result::Refused) {
        return fail("the spherical video boxes cannot be added to the new movie box");
    }
    return transplanted;
}

}  // namespace spatialmux::output
