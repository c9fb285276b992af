// Reading and checking a track's sample tables in a moov held in memory, on
// the box floor's walk: every box holds the size it states (no size of 0
// below the moov), 32-bit and 64-bit sizes alike.
#include "output/TrackTables.h"

#include <algorithm>
#include <cstring>

#include "audio/ByteOrder.h"
#include "iso/BoxWalk.h"

namespace spatialmux::output {

namespace {

// A box inside the moov bytes.
using Node = BoxSpan;

constexpr SizeForms kTableForms = SizeForms::NoToEnd;

// Boxes whose payload is nothing but boxes.
constexpr const char* kContainers[] = {"trak", "edts", "mdia", "minf", "dinf", "stbl"};
// Full boxes holding a count and then that many boxes.
constexpr const char* kEntryLists[] = {"dref", "stsd"};
// Containers nest this deep in a track (trak, mdia, minf, stbl, stsd).
constexpr int kMaxDepth = 8;

bool IsOneOf(const Node& box, const auto& types) {
    return std::any_of(std::begin(types), std::end(types),
                       [&box](const char* type) { return box.Is(type); });
}

std::string Name(const Node& box) {
    std::string name(box.type, box.type + 4);
    for (char& c : name) {
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E) c = '?';
    }
    return name;
}

bool Fail(std::string* error, std::string cause) {
    if (error != nullptr) *error = std::move(cause);
    return false;
}

// The boxes that fill bytes[begin, end) exactly, one after another.
bool Children(const std::vector<uint8_t>& bytes, uint64_t begin, uint64_t end, const char* parent,
              std::vector<Node>* children, std::string* error) {
    bool complete = false;
    *children = ChildBoxes(bytes, begin, end, &complete, kTableForms);
    if (!complete) {
        return Fail(error, std::string("the boxes inside ") + parent + " do not add up");
    }
    return true;
}

// The fixed payload bytes in front of a table's entries, and each entry's
// bytes; 0 for a box that is no table.
struct TableShape {
    std::size_t head = 0;
    std::size_t entry = 0;
};

TableShape ShapeOf(const std::vector<uint8_t>& bytes, const Node& box) {
    if (box.Is("stts") || box.Is("ctts")) return {8, 8};
    if (box.Is("stss") || box.Is("stps") || box.Is("stco")) return {8, 4};
    if (box.Is("stsc")) return {8, 12};
    if (box.Is("co64")) return {8, 8};
    if (box.Is("elst")) {
        const bool wide = box.PayloadSize() > 0 && bytes[box.PayloadOffset()] == 1;
        return {8, wide ? 20u : 12u};
    }
    return {};
}

// Every box of the track fits and every table holds what its count says.
bool CheckStructure(const std::vector<uint8_t>& bytes, const Node& node, int depth,
                    std::string* error) {
    const std::string name = Name(node);
    if (depth > kMaxDepth) return Fail(error, "the track's boxes nest too deep");
    std::vector<Node> children;
    if (IsOneOf(node, kContainers)) {
        if (!Children(bytes, node.PayloadOffset(), node.End(), name.c_str(), &children, error)) {
            return false;
        }
    } else if (IsOneOf(node, kEntryLists)) {
        if (node.PayloadSize() < 8 ||
            !Children(bytes, node.PayloadOffset() + 8, node.End(), name.c_str(), &children,
                      error) ||
            children.size() != ReadBE32(bytes.data() + node.PayloadOffset() + 4)) {
            return Fail(error, "the " + name + " box's entries do not add up");
        }
        // The entries' own insides are not boxes of a fixed form.
        return true;
    } else if (node.Is("stsz")) {
        if (node.PayloadSize() < 12) return Fail(error, "the stsz box is cut short");
        const uint64_t count = ReadBE32(bytes.data() + node.PayloadOffset() + 8);
        const bool table = ReadBE32(bytes.data() + node.PayloadOffset() + 4) == 0;
        if (node.PayloadSize() != 12 + (table ? count * 4 : 0)) {
            return Fail(error, "the stsz box's size and count disagree");
        }
    } else if (const TableShape shape = ShapeOf(bytes, node); shape.entry != 0) {
        if (node.PayloadSize() < shape.head)
            return Fail(error, "the " + name + " box is cut short");
        const uint64_t count = ReadBE32(bytes.data() + node.PayloadOffset() + 4);
        if (node.PayloadSize() != shape.head + count * shape.entry) {
            return Fail(error, "the " + name + " box's size and count disagree");
        }
    }
    for (const Node& child : children) {
        if (!CheckStructure(bytes, child, depth + 1, error)) return false;
    }
    return true;
}

// The only child of `type` among `children`; nothing when there is none,
// and `twice` set when there are more. Unlike the floor's lookup it hands
// out the last of them: the tables' reading refuses a box found twice (a
// second, hidden sample table), so the last counts only where FirstVideoTrak
// picks a track.
std::optional<Node> Only(const std::vector<Node>& children, const char* type, bool* twice) {
    std::optional<Node> found;
    for (const Node& child : children) {
        if (!child.Is(type)) continue;
        if (found) *twice = true;
        found = child;
    }
    return found;
}

struct ChunkRunEntry {
    uint32_t firstChunk = 0;
    uint32_t samplesPerChunk = 0;
};

// The tables of stbl, already checked to be whole.
struct Tables {
    Node stsd, stts, stsc, stsz, offsets;
    std::optional<Node> ctts, stss;
    bool wideOffsets = false;
};

bool FindTables(const std::vector<uint8_t>& bytes, const std::vector<Node>& stbl, Tables* tables,
                std::string* error) {
    bool twice = false;
    const auto stsd = Only(stbl, "stsd", &twice);
    const auto stts = Only(stbl, "stts", &twice);
    const auto stsc = Only(stbl, "stsc", &twice);
    const auto stsz = Only(stbl, "stsz", &twice);
    const auto stco = Only(stbl, "stco", &twice);
    const auto co64 = Only(stbl, "co64", &twice);
    tables->ctts = Only(stbl, "ctts", &twice);
    tables->stss = Only(stbl, "stss", &twice);
    if (twice) return Fail(error, "the track has a sample table twice");
    if (Only(stbl, "stz2", &twice)) return Fail(error, "the track's sample sizes are compact");
    if (!stsd || !stts || !stsc || !stsz || (stco.has_value() == co64.has_value())) {
        return Fail(error, "the track lacks a sample table (stsd, stts, stsc, stsz, stco or co64)");
    }
    if (ReadBE32(bytes.data() + stsd->PayloadOffset() + 4) == 0) {
        return Fail(error, "the track has no sample description");
    }
    tables->stsd = *stsd;
    tables->stts = *stts;
    tables->stsc = *stsc;
    tables->stsz = *stsz;
    tables->offsets = stco ? *stco : *co64;
    tables->wideOffsets = co64.has_value();
    return true;
}

uint32_t CountOf(const std::vector<uint8_t>& bytes, const Node& table) {
    return ReadBE32(bytes.data() + table.PayloadOffset() + 4);
}

const uint8_t* EntriesOf(const std::vector<uint8_t>& bytes, const Node& table) {
    return bytes.data() + table.PayloadOffset() + 8;
}

// The sum of the counts of a table of (count, value) pairs.
uint64_t RunTotal(const std::vector<uint8_t>& bytes, const Node& table) {
    uint64_t total = 0;
    const uint8_t* entry = EntriesOf(bytes, table);
    for (uint32_t i = 0; i < CountOf(bytes, table); ++i, entry += 8) total += ReadBE32(entry);
    return total;
}

// Where each sample lies: the chunks in order, each holding its run's
// samples one after another. Chunks that would hold more samples than the
// track has are an error, or with `stopAtCount` hold no more (as libavformat
// reads them).
bool PlaceSamples(const std::vector<uint8_t>& bytes, const Tables& tables, bool stopAtCount,
                  std::vector<TrackSample>* samples, std::string* error) {
    const uint32_t descriptions = CountOf(bytes, tables.stsd);
    const uint32_t runCount = CountOf(bytes, tables.stsc);
    const uint32_t chunkCount = CountOf(bytes, tables.offsets);
    std::vector<ChunkRunEntry> runs(runCount);
    const uint8_t* entry = EntriesOf(bytes, tables.stsc);
    for (uint32_t i = 0; i < runCount; ++i, entry += 12) {
        runs[i] = {ReadBE32(entry), ReadBE32(entry + 4)};
        const uint32_t description = ReadBE32(entry + 8);
        const bool ordered =
            i == 0 ? runs[i].firstChunk == 1 : runs[i].firstChunk > runs[i - 1].firstChunk;
        if (!ordered || runs[i].firstChunk > chunkCount || runs[i].samplesPerChunk == 0 ||
            description == 0 || description > descriptions) {
            return Fail(error, "the track's sample-to-chunk table is damaged");
        }
    }
    if (runs.empty()) return Fail(error, "the track's sample-to-chunk table is empty");

    const std::size_t count = samples->size();
    const uint8_t* offsets = EntriesOf(bytes, tables.offsets);
    std::size_t sample = 0;
    std::size_t run = 0;
    for (uint32_t chunk = 0; chunk < chunkCount; ++chunk) {
        if (run + 1 < runs.size() && runs[run + 1].firstChunk == chunk + 1) ++run;
        uint64_t at = tables.wideOffsets ? ReadBE64(offsets + uint64_t{chunk} * 8)
                                         : ReadBE32(offsets + uint64_t{chunk} * 4);
        for (uint32_t k = 0; k < runs[run].samplesPerChunk; ++k, ++sample) {
            if (sample >= count) {
                if (stopAtCount) return true;
                return Fail(error, "the track's chunks hold more samples than it has");
            }
            TrackSample& placed = (*samples)[sample];
            if (placed.size > UINT64_MAX - at) {
                return Fail(error, "a sample of the track lies beyond any file");
            }
            placed.offset = at;
            at += placed.size;
        }
    }
    if (sample != count) return Fail(error, "the track's chunks hold fewer samples than it has");
    return true;
}

// The traks among moov's children, which must fill it exactly (the moov
// itself may say it runs to the end).
std::optional<std::vector<Node>> Traks(const std::vector<uint8_t>& moov) {
    const auto header = BoxAt(moov, 0, moov.size(), SizeForms::Any);
    if (!header || !header->Is("moov") || header->size != moov.size()) return std::nullopt;
    std::vector<Node> children;
    if (!Children(moov, header->headerSize, moov.size(), "moov", &children, nullptr)) {
        return std::nullopt;
    }
    std::erase_if(children, [](const Node& child) { return !child.Is("trak"); });
    return children;
}

}  // namespace

namespace {

// The trak's media handler is `vide`.
bool IsVideoTrak(const std::vector<uint8_t>& moov, const Node& trak) {
    std::vector<Node> inTrak;
    std::vector<Node> inMdia;
    if (!Children(moov, trak.PayloadOffset(), trak.End(), "trak", &inTrak, nullptr)) return false;
    bool twice = false;
    const auto mdia = Only(inTrak, "mdia", &twice);
    if (!mdia || !Children(moov, mdia->PayloadOffset(), mdia->End(), "mdia", &inMdia, nullptr)) {
        return false;
    }
    const auto hdlr = Only(inMdia, "hdlr", &twice);
    return hdlr && hdlr->PayloadSize() >= 12 &&
           std::memcmp(moov.data() + hdlr->PayloadOffset() + 8, "vide", 4) == 0;
}

}  // namespace

std::optional<std::size_t> FirstVideoTrak(const std::vector<uint8_t>& moov) {
    const auto traks = Traks(moov);
    if (!traks) return std::nullopt;
    for (const Node& trak : *traks) {
        if (IsVideoTrak(moov, trak)) return trak.offset;
    }
    return std::nullopt;
}

std::optional<std::size_t> VideoTrakOfTrack(const std::vector<uint8_t>& moov, int trackId) {
    if (trackId == 0) return FirstVideoTrak(moov);
    const auto traks = Traks(moov);
    if (!traks) return std::nullopt;
    for (const Node& trak : *traks) {
        std::vector<Node> inTrak;
        if (!Children(moov, trak.PayloadOffset(), trak.End(), "trak", &inTrak, nullptr)) continue;
        bool twice = false;
        const auto tkhd = Only(inTrak, "tkhd", &twice);
        if (!tkhd || twice || tkhd->PayloadSize() < 24) continue;
        // Version and flags, two times of 32 or 64 bits, then the track ID.
        const uint64_t at = tkhd->PayloadOffset() + (moov[tkhd->PayloadOffset()] == 1 ? 20 : 12);
        if (at + 4 > tkhd->End() || ReadBE32(moov.data() + at) != static_cast<uint32_t>(trackId)) {
            continue;
        }
        // It must be the video track libavformat took it for.
        if (IsVideoTrak(moov, trak)) return trak.offset;
    }
    return std::nullopt;
}

std::optional<std::size_t> FirstTrak(const std::vector<uint8_t>& moov) {
    const auto traks = Traks(moov);
    if (!traks || traks->empty()) return std::nullopt;
    return traks->front().offset;
}

namespace {

// The tables of the trak at `trak`: of a whole track (`wholeTrack`), or of
// one whose path to stbl and stbl itself are whole, whatever else it holds.
std::optional<TrackTables> ReadTables(const std::vector<uint8_t>& moov, std::size_t trak,
                                      bool wholeTrack, std::string* error) {
    auto fail = [error](std::string cause) {
        Fail(error, std::move(cause));
        return std::nullopt;
    };
    if (trak >= moov.size()) return fail("the track lies outside the movie box");
    const auto trakBox = BoxAt(moov, trak, moov.size(), kTableForms);
    if (!trakBox || !trakBox->Is("trak")) return fail("the track box is damaged");
    const Node& trakNode = *trakBox;
    if (wholeTrack && !CheckStructure(moov, trakNode, 0, error)) return std::nullopt;

    // Every box on the way to stbl is found inside its parent.
    bool twice = false;
    std::vector<Node> level;
    if (!Children(moov, trakNode.PayloadOffset(), trakNode.End(), "trak", &level, error)) {
        return std::nullopt;
    }
    const auto mdia = Only(level, "mdia", &twice);
    if (!mdia) return fail("the track has no media box");
    if (!Children(moov, mdia->PayloadOffset(), mdia->End(), "mdia", &level, error)) {
        return std::nullopt;
    }
    const auto mdhd = Only(level, "mdhd", &twice);
    const auto minf = Only(level, "minf", &twice);
    Only(level, "hdlr", &twice);
    if (!mdhd || !minf || twice) return fail("the track's media box is incomplete");
    const bool wideMdhd = mdhd->PayloadSize() > 0 && moov[mdhd->PayloadOffset()] == 1;
    if (mdhd->PayloadSize() < (wideMdhd ? 36u : 24u)) return fail("the media header is cut short");
    TrackTables result;
    result.timescale = ReadBE32(moov.data() + mdhd->PayloadOffset() + (wideMdhd ? 20 : 12));
    if (result.timescale == 0) return fail("the track's time scale is 0");
    if (!Children(moov, minf->PayloadOffset(), minf->End(), "minf", &level, error)) {
        return std::nullopt;
    }
    const auto stbl = Only(level, "stbl", &twice);
    if (!stbl || twice) return fail("the track has no sample table box");
    if (!wholeTrack && !CheckStructure(moov, *stbl, 0, error)) return std::nullopt;
    Children(moov, stbl->PayloadOffset(), stbl->End(), "stbl", &level, nullptr);
    Tables tables;
    if (!FindTables(moov, level, &tables, error)) return std::nullopt;

    const uint8_t* stsz = moov.data() + tables.stsz.PayloadOffset();
    const uint32_t fixedSize = ReadBE32(stsz + 4);
    const uint32_t count = ReadBE32(stsz + 8);
    if (count == 0) return fail("the track has no samples");
    if (count > kMaxTrackSamples) return fail("the track has too many samples");
    if (RunTotal(moov, tables.stts) != count) {
        return fail("the track's decode times and sample sizes disagree on the sample count");
    }
    result.samples.resize(count);
    for (uint32_t i = 0; i < count; ++i) {
        result.samples[i].size = fixedSize != 0 ? fixedSize : ReadBE32(stsz + 12 + uint64_t{i} * 4);
        if (result.samples[i].size == 0) return fail("a sample of the track has no bytes");
    }
    if (tables.ctts) {
        if (RunTotal(moov, *tables.ctts) != count) {
            return fail("the track's composition offsets and samples disagree on the count");
        }
        std::size_t sample = 0;
        const uint8_t* entry = EntriesOf(moov, *tables.ctts);
        for (uint32_t i = 0; i < CountOf(moov, *tables.ctts); ++i, entry += 8) {
            const auto offset = static_cast<int32_t>(ReadBE32(entry + 4));
            for (uint32_t k = 0; k < ReadBE32(entry); ++k) {
                result.samples[sample++].compositionOffset = offset;
            }
        }
    }
    if (tables.stss) {
        const uint8_t* entry = EntriesOf(moov, *tables.stss);
        for (uint32_t i = 0; i < CountOf(moov, *tables.stss); ++i, entry += 4) {
            const uint32_t key = ReadBE32(entry);
            if (key == 0 || key > count) return fail("a key frame of the track is no sample");
        }
    }
    if (!PlaceSamples(moov, tables, !wholeTrack, &result.samples, error)) return std::nullopt;
    return result;
}

}  // namespace

std::optional<TrackTables> ReadTrackTables(const std::vector<uint8_t>& moov, std::size_t trak,
                                           std::string* error) {
    return ReadTables(moov, trak, true, error);
}

std::optional<TrackTables> ReadSampleTables(const std::vector<uint8_t>& moov, std::size_t trak,
                                            std::string* error) {
    return ReadTables(moov, trak, false, error);
}

}  // namespace spatialmux::output
