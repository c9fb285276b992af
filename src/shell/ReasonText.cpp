#include "shell/ReasonText.h"

#include <optional>
#include <utility>
#include <vector>

#include "platform/LocalizedStrings.h"

namespace spatialmux {

using ReasonFills = std::vector<std::pair<std::string, std::string>>;

namespace {

// The forms of the program's reasons, their variable parts in braces, and
// the key of each in the user's language.
constexpr std::pair<const char*, const char*> kReasonForms[] = {
    {"it has {count} audio tracks: the first one ({codec}, {channels} channels) would be "
     "converted and the others left out; keep only the ambisonic track in the movie",
     "reason.tracks"},
    {"its audio has {channels} channels, not the four of first-order ambisonics",
     "reason.channels"},
    {"it has no audio track", "reason.noaudio"},
    {"it has no video track", "reason.novideo"},
    {"libavformat cannot read it as a movie: {cause}", "reason.unreadable"},
    {"the audio data is cut short (the file ends before byte {byte})", "reason.audiocut"},
    {"the video data is cut short (the file ends before byte {byte})", "reason.videocut"},
    // Why a movie is not ready for players as it is (--check's list).
    {"no spherical video metadata (neither a V1 uuid box nor a V2 sv3d box)", "reason.nosphere"},
    {"no spherical video V1 (the uuid box in the video track)", "reason.nov1"},
    {"no spherical video V2 (st3d and sv3d in the video sample entry)", "reason.nov2"},
    {"the audio has {channels} channels, not 4", "reason.notfour"},
    {"no SA3D box in the audio sample entry", "reason.nosa3d"},
    {"libavformat reads the audio layout as \"{layout}\", not \"ambisonic 1\"", "reason.layout"},
    {"the audio is at {rate} Hz, not {wanted} Hz", "reason.rate"},
    {"no audio track", "reason.noaudio"},
    {"no video stream", "reason.novideo"},
    {"more than one audio track ({count})", "reason.moretracks"},
};

// The values of `form`'s placeholders in `text`; nothing when it does not
// have that form.
std::optional<ReasonFills> Match(const std::string& form, const std::string& text) {
    ReasonFills fills;
    std::size_t at = 0;    // in text
    std::size_t from = 0;  // in form
    while (from < form.size()) {
        const std::size_t open = form.find('{', from);
        const std::string literal =
            form.substr(from, open == std::string::npos ? open : open - from);
        if (text.compare(at, literal.size(), literal) != 0) return std::nullopt;
        at += literal.size();
        if (open == std::string::npos) break;
        const std::size_t close = form.find('}', open);
        const std::string name = form.substr(open, close - open + 1);
        from = close + 1;
        const std::size_t next = form.find('{', from);
        const std::string following =
            form.substr(from, next == std::string::npos ? next : next - from);
        const std::size_t end = following.empty() ? text.size() : text.find(following, at);
        if (end == std::string::npos || end == at) return std::nullopt;
        fills.emplace_back(name, text.substr(at, end - at));
        at = end;
    }
    if (at != text.size()) return std::nullopt;
    return fills;
}

}  // namespace

std::string LocalizedReason(const std::string& english) {
    for (const auto& [form, key] : kReasonForms) {
        if (const auto fills = Match(form, english)) {
            std::string text = platform::LocalizedString(key);
            for (const auto& [name, value] : *fills) {
                text = platform::FillPlaceholder(std::move(text), name, value);
            }
            return text;
        }
    }
    return english;
}

}  // namespace spatialmux
