// Searching a track for sample tables outside its stbl.
#include "output/StrayTables.h"

#include <algorithm>
#include <cstring>
#include <set>

#include "iso/BoxWalk.h"

namespace spatialmux::output {

namespace {

// Types whose box a player reads as the track's tables, or which start
// another track or movie.
constexpr const char* kWatchedTypes[] = {"stco", "co64", "stsc", "stsz", "stz2",
                                         "trak", "moov", "moof", "traf"};

// Every box holds the size it states, as the edit's tables read them.
constexpr SizeForms kStrayForms = SizeForms::NoToEnd;

// The first child of type `type` of `parent`; nothing when there is none
// or a header on the way does not fit.
std::optional<BoxSpan> Child(const std::vector<uint8_t>& bytes,
                             const std::optional<BoxSpan>& parent, const char* type) {
    if (!parent) return std::nullopt;
    return FindChildBox(bytes, parent->PayloadOffset(), parent->End(), type, 0, kStrayForms);
}

}  // namespace

std::optional<std::string> StrayTablesIn(const std::vector<uint8_t>& moov, std::size_t trak) {
    if (trak >= moov.size()) return "the track lies outside the movie box";
    const auto trakBox = BoxAt(moov, trak, moov.size(), kStrayForms);
    if (!trakBox) return "the track box is damaged";
    const std::size_t begin = trakBox->PayloadOffset();
    const std::size_t end = trakBox->End();

    // Where stbl's own tables have their types.
    std::set<std::size_t> own;
    const auto stbl = Child(moov, Child(moov, Child(moov, trakBox, "mdia"), "minf"), "stbl");
    if (!stbl) return "the track has no sample table box";
    bool complete = false;
    for (const BoxSpan& box :
         ChildBoxes(moov, stbl->PayloadOffset(), stbl->End(), &complete, kStrayForms)) {
        if (box.Is("stco") || box.Is("co64") || box.Is("stsc") || box.Is("stsz")) {
            own.insert(box.offset + 4);
        }
    }
    if (!complete) return "the boxes inside stbl do not add up";
    for (const char* type : kWatchedTypes) {
        const auto first = moov.begin() + static_cast<std::ptrdiff_t>(begin);
        const auto last = moov.begin() + static_cast<std::ptrdiff_t>(end);
        for (auto hit = std::search(first, last, type, type + 4); hit != last;
             hit = std::search(hit + 1, last, type, type + 4)) {
            const auto at = static_cast<std::size_t>(hit - moov.begin());
            if (own.count(at) == 0) {
                return std::string("the video track holds a ") + type +
                       " box outside its sample table box (byte " + std::to_string(at - 4) +
                       " of the movie box), which players may read instead";
            }
        }
    }
    return std::nullopt;
}

}  // namespace spatialmux::output
