// Searching a track for sample tables outside its stbl.
#include "output/StrayTables.h"

#include <algorithm>
#include <cstring>
#include <set>

#include "audio/BoxHeader.h"

namespace spatialmux::output {

namespace {

// Types whose box a player reads as the track's tables, or which start
// another track or movie.
constexpr const char* kWatchedTypes[] = {"stco", "co64", "stsc", "stsz", "stz2",
                                         "trak", "moov", "moof", "traf"};

// The child of type `type` of the box whose payload is bytes[begin, end);
// nothing when there is none or a header does not fit.
std::optional<std::pair<std::size_t, std::size_t>> Child(const std::vector<uint8_t>& bytes,
                                                         std::size_t begin, std::size_t end,
                                                         const char* type) {
    for (std::size_t at = begin; at < end;) {
        const auto header = ParseBoxHeader(bytes.data() + at, end - at, end - at);
        if (!header || header->toEnd) return std::nullopt;
        const auto size = static_cast<std::size_t>(header->size);
        if (header->Is(type)) return std::pair{at + header->headerSize, at + size};
        at += size;
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::string> StrayTablesIn(const std::vector<uint8_t>& moov, std::size_t trak) {
    if (trak >= moov.size()) return "the track lies outside the movie box";
    const auto header = ParseBoxHeader(moov.data() + trak, moov.size() - trak, moov.size() - trak);
    if (!header || header->toEnd) return "the track box is damaged";
    const std::size_t begin = trak + header->headerSize;
    const std::size_t end = trak + static_cast<std::size_t>(header->size);

    // Where stbl's own tables have their types.
    std::set<std::size_t> own;
    auto mdia = Child(moov, begin, end, "mdia");
    auto minf = mdia ? Child(moov, mdia->first, mdia->second, "minf") : std::nullopt;
    auto stbl = minf ? Child(moov, minf->first, minf->second, "stbl") : std::nullopt;
    if (!stbl) return "the track has no sample table box";
    for (std::size_t at = stbl->first; at < stbl->second;) {
        const auto box = ParseBoxHeader(moov.data() + at, stbl->second - at, stbl->second - at);
        if (!box || box->toEnd) return "the boxes inside stbl do not add up";
        if (box->Is("stco") || box->Is("co64") || box->Is("stsc") || box->Is("stsz")) {
            own.insert(at + 4);
        }
        at += static_cast<std::size_t>(box->size);
    }
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
