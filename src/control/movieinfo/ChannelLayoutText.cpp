// Core Audio's channel layouts in words, for spatialmux --check.
#include "control/movieinfo/ChannelLayoutText.h"

#include <cstdio>
#include <utility>

#include "audio/ChannelLayoutBox.h"

namespace spatialmux {

namespace {

// Channel labels 1 to 18, which are also the bits 0 to 17 of a bitmap.
constexpr const char* kSpeakerNames[] = {"left",
                                         "right",
                                         "centre",
                                         "LFE",
                                         "left surround",
                                         "right surround",
                                         "left centre",
                                         "right centre",
                                         "back centre",
                                         "left surround direct",
                                         "right surround direct",
                                         "top centre",
                                         "top front left",
                                         "top front centre",
                                         "top front right",
                                         "top back left",
                                         "top back centre",
                                         "top back right"};
constexpr uint32_t kNamedSpeakers = sizeof kSpeakerNames / sizeof kSpeakerNames[0];
// Labels below this one name speaker positions.
constexpr uint32_t kFirstNonSpeakerLabel = 100;

// Tags (layout in the high 16 bits) that name no speakers.
constexpr uint32_t kTagAmbisonicBFormat = 107u << 16;
constexpr uint32_t kTagDiscreteInOrder = 147u << 16;
constexpr uint32_t kTagHoaAcnN3d = 191u << 16;
constexpr uint32_t kTagUnknown = 0xFFFFu << 16;

// Speaker layouts by tag, as channel labels in channel order.
struct SpeakerLayout {
    uint32_t tag;
    const char* name;
    std::vector<uint32_t> labels;
};
const std::vector<SpeakerLayout>& SpeakerLayouts() {
    static const std::vector<SpeakerLayout> kLayouts = {
        {(100u << 16) | 1, "mono", {3}},
        {(101u << 16) | 2, "stereo", {1, 2}},
        {(108u << 16) | 4, "quadraphonic", {1, 2, 5, 6}},
        {(113u << 16) | 3, "MPEG 3.0 A", {1, 2, 3}},
        {(116u << 16) | 4, "MPEG 4.0 A", {1, 2, 3, 9}},
        {(117u << 16) | 4, "MPEG 4.0 B", {3, 1, 2, 9}},
        {(118u << 16) | 5, "MPEG 5.0 A", {1, 2, 3, 5, 6}},
        {(121u << 16) | 6, "MPEG 5.1 A", {1, 2, 3, 4, 5, 6}},
        {(132u << 16) | 4, "ITU 2.2", {1, 2, 5, 6}},
    };
    return kLayouts;
}

std::string Hex(uint32_t value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*X", digits, value);
    return text;
}

bool IsSpeakerLabel(uint32_t label) {
    return label >= 1 && label < kFirstNonSpeakerLabel;
}

std::string LabelName(uint32_t label) {
    if (label >= 1 && label <= kNamedSpeakers) return kSpeakerNames[label - 1];
    if ((label >> 16) == 1) return "discrete " + std::to_string(label & 0xFFFF);
    if ((label >> 16) == 2) return "ACN " + std::to_string(label & 0xFFFF);
    return "label " + std::to_string(label);
}

std::vector<std::string> BitmapSpeakers(uint32_t bitmap) {
    std::vector<std::string> speakers;
    for (uint32_t bit = 0; bit < 32; ++bit) {
        if ((bitmap & (1u << bit)) == 0) continue;
        speakers.push_back(bit < kNamedSpeakers ? kSpeakerNames[bit]
                                                : "speaker bit " + std::to_string(bit));
    }
    return speakers;
}

// The tag's layout in words, and its speakers (nothing when it names none).
std::pair<std::string, std::optional<std::vector<std::string>>> TagLayout(uint32_t tag) {
    const std::string channels = std::to_string(tag & 0xFFFF) + " channels";
    switch (tag & 0xFFFF0000u) {
        case kLayoutTagHoaAcnSn3d:
            return {"ambisonics, ACN order, SN3D, " + channels, std::nullopt};
        case kTagHoaAcnN3d:
            return {"ambisonics, ACN order, N3D, " + channels, std::nullopt};
        case kTagAmbisonicBFormat:
            return {"ambisonic B-format, W, X, Y, Z", std::nullopt};
        case kTagDiscreteInOrder:
            return {"discrete, " + channels, std::nullopt};
        case kTagUnknown:
            return {"unknown, " + channels, std::nullopt};
        default:
            break;
    }
    for (const SpeakerLayout& layout : SpeakerLayouts()) {
        if (layout.tag != tag) continue;
        std::vector<std::string> speakers;
        for (uint32_t label : layout.labels) speakers.push_back(LabelName(label));
        return {layout.name, speakers};
    }
    return {"speakers, " + channels, std::vector<std::string>()};
}

std::string Joined(const std::vector<std::string>& words) {
    std::string text;
    for (const std::string& word : words) text += (text.empty() ? "" : ", ") + word;
    return text;
}

}  // namespace

std::optional<std::vector<std::string>> ChannelSpeakers(const ChannelLayoutFacts& chan) {
    if (chan.tag == kLayoutTagUseBitmap) {
        std::vector<std::string> speakers = BitmapSpeakers(chan.bitmap);
        if (speakers.empty()) return std::nullopt;
        return speakers;
    }
    if (chan.tag == kLayoutTagUseDescriptions) {
        bool speakers = false;
        std::vector<std::string> names;
        for (uint32_t label : chan.labels) {
            speakers = speakers || IsSpeakerLabel(label);
            names.push_back(LabelName(label));
        }
        if (!speakers) return std::nullopt;
        return names;
    }
    return TagLayout(chan.tag).second;
}

std::string ChannelLayoutText(const ChannelLayoutFacts& chan) {
    const std::string tag = "layout tag " + Hex(chan.tag, 8);
    if (chan.tag == kLayoutTagUseBitmap) {
        const std::vector<std::string> speakers = BitmapSpeakers(chan.bitmap);
        return tag + " (by bitmap), bitmap " + Hex(chan.bitmap, 1) +
               (speakers.empty() ? ", no speakers" : ": " + Joined(speakers));
    }
    if (chan.tag == kLayoutTagUseDescriptions) {
        std::vector<std::string> names;
        for (uint32_t label : chan.labels) names.push_back(LabelName(label));
        return tag + " (by channel descriptions)" +
               (names.empty() ? ", none" : ": " + Joined(names));
    }
    return tag + " (" + TagLayout(chan.tag).first + ")";
}

std::string SpeakerConflict(const ChannelLayoutFacts& chan) {
    const std::optional<std::vector<std::string>> speakers = ChannelSpeakers(chan);
    if (!speakers) return "";
    const std::string named =
        speakers->empty() ? "layout tag " + Hex(chan.tag, 8) : Joined(*speakers);
    std::string heard;
    if (speakers->size() >= 4) {
        heard = "channels 3 and 4 as " + (*speakers)[2] + " and " + (*speakers)[3] +
                ", not as the ambisonic Z (up) and X (front)";
    } else {
        heard = "the channels as " + (speakers->empty() ? "speakers" : named) +
                ", not as the ambisonic W, Y, Z and X";
    }
    return "the chan box names speakers (" + named +
           ") for channels that the SA3D box says are ambisonics: players that follow the "
           "chan box hear " +
           heard;
}

}  // namespace spatialmux
