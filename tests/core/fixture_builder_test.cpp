// The camera-movie builder used by every other test: players must see its
// movies, its layout report must match the bytes, and the camera's fixed box
// path must lead through them to the audio tables.

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "audio/ByteOrder.h"
#include "ffmpeg/Handles.h"
#include "fixture/CameraMovieBuilder.h"
#include "fixture/SphericalSideData.h"
#include "support/BoxTree.h"
#include "support/MediaPackets.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace spatialmux::fixture {
namespace {

std::string TempPath(const std::string& name) {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string test = std::string(info->test_suite_name()) + "_" + info->name();
    for (char& c : test) {
        if (c == '/') {
            c = '_';
        }
    }
    return ::testing::TempDir() + "fixture_" + test + "_" + std::to_string(::getpid()) + "_" + name;
}

class TempFile {
public:
    explicit TempFile(const std::string& name) : path_(TempPath(name)) {}
    ~TempFile() { std::remove(path_.c_str()); }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

std::vector<uint8_t> ReadRange(const std::string& path, uint64_t offset, size_t size) {
    std::ifstream in(path, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(offset));
    std::vector<uint8_t> bytes(size);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size));
    bytes.resize(static_cast<size_t>(in.gcount()));
    return bytes;
}

// The interleaved PCM the builder must have written for instants [first, first + count).
std::vector<uint8_t> ExpectedPcm(uint32_t seed, int64_t first, uint32_t count) {
    std::vector<uint8_t> bytes;
    for (int64_t i = first; i < first + count; ++i) {
        for (int channel = 0; channel < 4; ++channel) {
            AppendLE16(bytes, static_cast<uint16_t>(ExpectedSample(seed, channel, i)));
        }
    }
    return bytes;
}

void WriteOrFail(const std::string& path, const CameraMovieOptions& options,
                 CameraMovieLayout* layout) {
    std::string error;
    ASSERT_TRUE(WriteCameraMovie(path, options, layout, &error)) << error;
    EXPECT_TRUE(error.empty()) << error;
}

using InputPtr = ffmpeg::InputContext;

InputPtr OpenMovie(const std::string& path) {
    AVFormatContext* raw = nullptr;
    if (avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0) {
        return nullptr;
    }
    InputPtr input(raw);
    if (avformat_find_stream_info(input.get(), nullptr) < 0) {
        return nullptr;
    }
    return input;
}

struct DecodedFrame {
    int width = 0;
    int height = 0;
    int64_t pts = AV_NOPTS_VALUE;  // in the stream's time base
};

// Decodes every video packet of the movie with its sample entry's decoder
// configuration alone; false when the decoder refuses a packet.
bool DecodeVideo(const std::string& path, std::vector<DecodedFrame>* frames) {
    InputPtr input = OpenMovie(path);
    if (!input) return false;
    const AVCodecParameters* par = input->streams[0]->codecpar;
    const AVCodec* decoder = avcodec_find_decoder(par->codec_id);
    if (decoder == nullptr) return false;
    ffmpeg::CodecContext context(avcodec_alloc_context3(decoder));
    if (avcodec_parameters_to_context(context.get(), par) < 0 ||
        avcodec_open2(context.get(), decoder, nullptr) < 0) {
        return false;
    }
    context->pkt_timebase = input->streams[0]->time_base;
    ffmpeg::Packet packet(av_packet_alloc());
    ffmpeg::Frame frame(av_frame_alloc());
    bool accepted = true;
    auto receive = [&] {
        while (avcodec_receive_frame(context.get(), frame.get()) >= 0) {
            frames->push_back({frame->width, frame->height, frame->best_effort_timestamp});
        }
    };
    while (av_read_frame(input.get(), packet.get()) >= 0) {
        if (packet->stream_index == 0) {
            accepted = avcodec_send_packet(context.get(), packet.get()) >= 0 && accepted;
            receive();
        }
        av_packet_unref(packet.get());
    }
    avcodec_send_packet(context.get(), nullptr);
    receive();
    return accepted;
}

// What the camera's box path finds, walked as the converter walks it: one
// header after another from where the previous search stopped.
struct WalkResult {
    std::string failedAt;  // empty when every step succeeded
    std::vector<uint8_t> videoEntry, uuid, sa3d;
    std::string software;
    uint32_t flag = 0;
    uint32_t timescale = 0, duration = 0;
    std::vector<std::pair<uint32_t, uint32_t>> stsc;
    uint32_t stszSampleSize = 0, stszCount = 0;
    std::string offsetsType;
    std::vector<uint64_t> offsets;
};

class Walker {
public:
    explicit Walker(const std::string& path) : in_(path, std::ios::binary) {
        std::error_code ignored;
        size_ = std::filesystem::file_size(path, ignored);
        if (ignored) {
            size_ = 0;
        }
    }

    bool Find(const char* type) {
        for (int headers = 0; headers < 1000; ++headers) {
            if (pos_ + 8 > size_) {
                return false;
            }
            const uint64_t size = U32(pos_);
            const bool match = Slice(pos_ + 4, 4) == std::vector<uint8_t>(type, type + 4);
            pos_ += 8;
            if (size == 1) {
                pos_ += U64(pos_);  // ends 8 bytes past the box, as the reader does
                return true;
            }
            if (match) {
                return true;
            }
            pos_ += size - 8;
        }
        return false;
    }
    // Reads that stay inside the file; out of range they give zeros or less.
    std::vector<uint8_t> Slice(uint64_t at, uint64_t n) {
        if (at >= size_) {
            return {};
        }
        std::vector<uint8_t> bytes(static_cast<size_t>(std::min<uint64_t>(n, size_ - at)));
        in_.clear();
        in_.seekg(static_cast<std::streamoff>(at));
        in_.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        bytes.resize(static_cast<size_t>(in_.gcount()));
        return bytes;
    }
    uint32_t U16(uint64_t at) {
        const std::vector<uint8_t> b = Slice(at, 2);
        return b.size() == 2 ? ReadBE16(b.data()) : 0;
    }
    uint32_t U32(uint64_t at) {
        const std::vector<uint8_t> b = Slice(at, 4);
        return b.size() == 4 ? ReadBE32(b.data()) : 0;
    }
    uint64_t U64(uint64_t at) {
        const std::vector<uint8_t> b = Slice(at, 8);
        return b.size() == 8 ? ReadBE64(b.data()) : 0;
    }

    uint64_t pos_ = 0;

private:
    std::ifstream in_;
    uint64_t size_ = 0;
};

WalkResult WalkCameraPath(const std::string& path) {
    WalkResult r;
    Walker w(path);
    auto find = [&](const char* type) {
        if (!w.Find(type)) {
            r.failedAt = type;
            return false;
        }
        return true;
    };
    for (const char* type : {"moov", "trak", "mdia", "minf", "stbl", "stsd"}) {
        if (!find(type)) return r;
    }
    const uint32_t entrySize = w.U32(w.pos_ + 8);
    r.videoEntry = w.Slice(w.pos_ + 8, entrySize);
    w.pos_ += 8 + entrySize;
    if (!find("uuid")) return r;
    r.uuid = w.Slice(w.pos_ - 8, w.U32(w.pos_ - 8));
    w.pos_ += r.uuid.size() - 8;
    if (!find("udta") || !find("ZMKN")) return r;
    const uint64_t p = w.pos_;
    const uint64_t zmknEnd = p - 8 + w.U32(p - 8);
    auto entry = [&](uint64_t dir, uint32_t tag, uint32_t* count, uint32_t* value) {
        const uint32_t n = w.U16(p + dir);
        for (uint32_t i = 0; i < n; ++i) {
            const uint64_t e = p + dir + 2 + 12 * i;
            if (w.U16(e) == tag) {
                *count = w.U32(e + 4);
                *value = w.U32(e + 8);
                return true;
            }
        }
        return false;
    };
    uint32_t count = 0, exif = 0, note = 0, sub = 0, text = 0;
    if (entry(8, 0x8769, &count, &exif) && entry(exif, 0x927C, &count, &note) &&
        entry(note + 8, 0x4001, &count, &sub)) {
        entry(sub, 0x1011, &count, &r.flag);
    }
    if (entry(8, 0x0131, &count, &text)) {
        const std::vector<uint8_t> bytes = w.Slice(p + text, count);
        r.software.assign(bytes.begin(), std::find(bytes.begin(), bytes.end(), 0));
    }
    w.pos_ = zmknEnd;
    if (!find("ZDT9")) return r;
    w.pos_ = w.U64(w.pos_);
    for (const char* type : {"ZATR", "mdia", "mdhd"}) {
        if (!find(type)) return r;
    }
    r.timescale = w.U32(w.pos_ + 12);
    r.duration = w.U32(w.pos_ + 16);
    w.pos_ += 24;
    for (const char* type : {"minf", "stbl", "stsd"}) {
        if (!find(type)) return r;
    }
    const uint32_t audioSize = w.U32(w.pos_ + 8);
    const std::vector<uint8_t> audioEntry = w.Slice(w.pos_ + 8, audioSize);
    w.pos_ += 8 + audioSize;
    for (size_t k = 4; k + 32 <= audioEntry.size(); ++k) {
        if (std::memcmp(&audioEntry[k], "SA3D", 4) == 0) {
            r.sa3d.assign(&audioEntry[k - 4], &audioEntry[k + 32]);
        }
    }
    if (!find("stsc")) return r;
    const uint32_t runs = w.U32(w.pos_ + 4);
    for (uint32_t i = 0; i < runs && i < 100000; ++i) {
        r.stsc.emplace_back(w.U32(w.pos_ + 8 + 12 * i), w.U32(w.pos_ + 12 + 12 * i));
    }
    w.pos_ += 8 + 12 * uint64_t{runs};
    if (!find("stsz")) return r;
    r.stszSampleSize = w.U32(w.pos_ + 4);
    r.stszCount = w.U32(w.pos_ + 8);
    w.pos_ += w.U32(w.pos_ - 8) - 8;
    // The offsets table, whichever width it has.
    const std::vector<uint8_t> type = w.Slice(w.pos_ + 4, 4);
    r.offsetsType.assign(type.begin(), type.end());
    if (r.offsetsType != "co64" && r.offsetsType != "stco") {
        r.failedAt = "co64";
        return r;
    }
    w.pos_ += 8;
    const bool wide = r.offsetsType == "co64";
    const uint32_t chunks = w.U32(w.pos_ + 4);
    for (uint32_t i = 0; i < chunks && i < 1000000; ++i) {
        r.offsets.push_back(wide ? w.U64(w.pos_ + 8 + 8 * uint64_t{i})
                                 : w.U32(w.pos_ + 8 + 4 * uint64_t{i}));
    }
    return r;
}

// ---------------------------------------------------------------- players

class FixtureCodecTest : public ::testing::TestWithParam<VideoCodec> {};

TEST_P(FixtureCodecTest, PlayersSeeEveryPacketWhereTheLayoutSays) {
    CameraMovieOptions options;
    options.codec = GetParam();
    options.width = 160;
    options.height = 96;
    options.totalSamples = 30000;
    options.distinctFrames = 7;
    options.keyframeInterval = 5;
    options.chunkRuns = {{1, 1024}, {4, 700}};
    options.seed = 3;
    TempFile file("movie.mov");
    CameraMovieLayout layout;
    WriteOrFail(file.path(), options, &layout);

    InputPtr input = OpenMovie(file.path());
    ASSERT_TRUE(input);
    ASSERT_EQ(input->nb_streams, 2u);
    const AVCodecParameters* video = input->streams[0]->codecpar;
    const AVCodecParameters* audio = input->streams[1]->codecpar;
    EXPECT_EQ(video->codec_id,
              GetParam() == VideoCodec::HEVC ? AV_CODEC_ID_HEVC : AV_CODEC_ID_H264);
    EXPECT_EQ(video->width, 160);
    EXPECT_EQ(video->height, 96);
    EXPECT_NE(StreamSphericalMapping(input->streams[0]), nullptr);
    EXPECT_EQ(audio->codec_id, AV_CODEC_ID_PCM_S16LE);
    EXPECT_EQ(audio->ch_layout.nb_channels, 4);
    EXPECT_EQ(audio->sample_rate, 48000);

    // 30000 instants at 30 fps: 19 frames (18.75 rounded up).
    ASSERT_EQ(layout.videoSampleOffsets.size(), 19u);
    std::vector<uint8_t> audioBytes;
    size_t frame = 0;
    ffmpeg::Packet packet(av_packet_alloc());
    while (av_read_frame(input.get(), packet.get()) >= 0) {
        if (packet->stream_index == 0) {
            ASSERT_LT(frame, layout.videoSampleOffsets.size());
            EXPECT_EQ(static_cast<uint64_t>(packet->pos), layout.videoSampleOffsets[frame]);
            EXPECT_EQ(static_cast<uint32_t>(packet->size), layout.videoSampleSizes[frame]);
            EXPECT_EQ((packet->flags & AV_PKT_FLAG_KEY) != 0, layout.videoSampleIsKeyframe[frame])
                << frame;
            // Repeated frames are the same bytes.
            if (frame >= 7) {
                EXPECT_EQ(layout.videoSampleSizes[frame], layout.videoSampleSizes[frame - 7]);
            }
            ++frame;
        } else {
            audioBytes.insert(audioBytes.end(), packet->data, packet->data + packet->size);
        }
        av_packet_unref(packet.get());
    }
    EXPECT_EQ(frame, layout.videoSampleOffsets.size());
    EXPECT_TRUE(layout.videoSampleIsKeyframe[0]);
    EXPECT_TRUE(layout.videoSampleIsKeyframe[5]);
    EXPECT_FALSE(layout.videoSampleIsKeyframe[1]);
    // The visible track delivers exactly the known audio, no more.
    EXPECT_TRUE(audioBytes == ExpectedPcm(3, 0, 30000));
}

TEST_P(FixtureCodecTest, SampleEntryDecodesAndSamplesAreWholeNalUnits) {
    CameraMovieOptions options;
    options.codec = GetParam();
    options.totalSamples = 4800;
    options.videoBytesPerFrame = 3000;
    TempFile file("padded.mov");
    CameraMovieLayout layout;
    WriteOrFail(file.path(), options, &layout);

    // Every sample is a sequence of length-prefixed NAL units filling it
    // exactly, padded by a filler unit to the requested size.
    const int fillerType = GetParam() == VideoCodec::HEVC ? 38 : 12;
    for (size_t i = 0; i < layout.videoSampleOffsets.size(); ++i) {
        const std::vector<uint8_t> sample =
            ReadRange(file.path(), layout.videoSampleOffsets[i], layout.videoSampleSizes[i]);
        ASSERT_EQ(sample.size(), layout.videoSampleSizes[i]);
        EXPECT_GE(sample.size(), 3000u);
        size_t at = 0;
        int lastType = -1;
        while (at + 4 <= sample.size()) {
            const uint32_t length = ReadBE32(&sample[at]);
            ASSERT_GT(length, 0u);
            ASSERT_LE(length, sample.size() - at - 4);
            const uint8_t header = sample[at + 4];
            lastType = GetParam() == VideoCodec::HEVC ? (header >> 1) & 0x3F : header & 0x1F;
            at += 4 + length;
        }
        EXPECT_EQ(at, sample.size());
        EXPECT_EQ(lastType, fillerType);
    }

    // The decoder configuration in the sample entry is enough to decode.
    std::vector<DecodedFrame> decoded;
    EXPECT_TRUE(DecodeVideo(file.path(), &decoded));
    for (const DecodedFrame& frame : decoded) {
        EXPECT_EQ(frame.width, options.width);
        EXPECT_EQ(frame.height, options.height);
    }
    EXPECT_EQ(decoded.size(), layout.videoSampleOffsets.size());
    // The written entry is the one in the report, with its configuration box.
    const std::string configType = GetParam() == VideoCodec::HEVC ? "hvcC" : "avcC";
    const std::string entry(layout.videoSampleEntry.begin(), layout.videoSampleEntry.end());
    EXPECT_EQ(entry.substr(4, 4), GetParam() == VideoCodec::HEVC ? "hvc1" : "avc1");
    EXPECT_NE(entry.find(configType), std::string::npos);
}

// B-frames as a camera stores them: samples in decode order, composition
// offsets that show each at its own frame's time, and (unless left out) an
// edit list that starts the presentation at the first frame. Every frame
// decodes, and the decoder gives them once each, in frame order.
TEST_P(FixtureCodecTest, BFramesAreStoredInDecodeOrderAndShownInFrameOrder) {
    for (const bool editList : {true, false}) {
        SCOPED_TRACE(editList ? "edit list" : "no edit list");
        CameraMovieOptions options;
        options.codec = GetParam();
        options.width = 64;
        options.height = 32;
        options.totalSamples = 30000;  // 19 frames: two groups of 7 and a shorter one
        options.distinctFrames = 7;
        options.keyframeInterval = 5;
        options.bFrames = 2;
        options.videoEditList = editList;
        TempFile file(editList ? "edited.mov" : "plain.mov");
        CameraMovieLayout layout;
        WriteOrFail(file.path(), options, &layout);

        const uint32_t frames = 19;
        ASSERT_EQ(layout.videoSamplePresentation.size(), frames);
        std::vector<int64_t> shown = layout.videoSamplePresentation;
        std::sort(shown.begin(), shown.end());
        for (uint32_t i = 0; i < frames; ++i) EXPECT_EQ(shown[i], i);
        const int64_t shift = layout.videoCompositionShift;
        EXPECT_GT(shift, 0);

        const auto bytes = ReadRange(file.path(), 0, layout.fileSize);
        EXPECT_TRUE(testing::FindBoxPath(bytes, "moov/trak#1/mdia/minf/stbl/ctts"));
        EXPECT_TRUE(testing::FindBoxPath(bytes, "moov/trak#1/mdia/minf/stbl/stss"));
        EXPECT_EQ(testing::FindBoxPath(bytes, "moov/trak#1/edts/elst").has_value(), editList);

        // One frame is 1000 units of 1/30000 s; the edit list moves the
        // first frame to 0, its decode time before it.
        const auto streams = testing::ReadMediaPackets(file.path());
        ASSERT_FALSE(streams.empty());
        const auto& video = streams[0];
        ASSERT_EQ(video.timeBase.num, 1);
        ASSERT_EQ(video.timeBase.den, 30000);
        ASSERT_EQ(video.packets.size(), frames);
        const int64_t start = editList ? 0 : shift;
        int reordered = 0;
        for (uint32_t i = 0; i < frames; ++i) {
            EXPECT_EQ(video.packets[i].pts, (layout.videoSamplePresentation[i] + start) * 1000)
                << i;
            EXPECT_EQ(video.packets[i].dts, (int64_t{i} + start - shift) * 1000) << i;
            EXPECT_EQ(video.packets[i].data, ReadRange(file.path(), layout.videoSampleOffsets[i],
                                                       layout.videoSampleSizes[i]))
                << i;
            reordered += video.packets[i].pts != video.packets[i].dts ? 1 : 0;
        }
        EXPECT_GT(reordered, 0);

        std::vector<DecodedFrame> decoded;
        EXPECT_TRUE(DecodeVideo(file.path(), &decoded));
        ASSERT_EQ(decoded.size(), frames);
        for (uint32_t i = 0; i < frames; ++i) {
            EXPECT_EQ(decoded[i].pts, (int64_t{i} + start) * 1000) << i;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Codecs, FixtureCodecTest,
                         ::testing::Values(VideoCodec::H264, VideoCodec::HEVC),
                         [](const auto& param) {
                             return param.param == VideoCodec::HEVC ? "HEVC" : "H264";
                         });

// ---------------------------------------------------------------- the camera's box path

struct LayoutCase {
    const char* name;
    void (*change)(CameraMovieOptions&);
};

void PrintTo(const LayoutCase& layoutCase, std::ostream* out) {
    *out << layoutCase.name;
}

class FixtureLayoutTest : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(FixtureLayoutTest, CameraBoxPathReachesTheAudioTables) {
    CameraMovieOptions options;
    options.totalSamples = 9000;
    options.softwareText = "ZORVA VELIX V Ver 2.0";
    options.makerNoteFlag = 5;
    options.sa3dChannelMap = {3, 2, 1, 0};
    GetParam().change(options);
    TempFile file("walk.mov");
    CameraMovieLayout layout;
    WriteOrFail(file.path(), options, &layout);

    const WalkResult r = WalkCameraPath(file.path());
    ASSERT_EQ(r.failedAt, "");
    EXPECT_TRUE(r.videoEntry == layout.videoSampleEntry);
    EXPECT_TRUE(r.uuid == layout.uuidBox);
    ASSERT_EQ(r.sa3d.size(), 36u);
    EXPECT_TRUE(r.sa3d == layout.sa3dBox);
    EXPECT_EQ(ReadBE32(&r.sa3d[0]), 36u);
    EXPECT_EQ(std::string(r.sa3d.begin() + 4, r.sa3d.begin() + 8), "SA3D");
    EXPECT_EQ(ReadBE32(&r.sa3d[20]), 3u);  // channel map
    EXPECT_EQ(ReadBE32(&r.sa3d[32]), 0u);
    EXPECT_EQ(r.software, "ZORVA VELIX V Ver 2.0");
    EXPECT_EQ(r.flag, 5u);
    EXPECT_EQ(r.timescale, 48000u);
    EXPECT_EQ(r.duration, 9000u);
    std::vector<std::pair<uint32_t, uint32_t>> runs;
    for (const ChunkRunSpec& run : options.chunkRuns) {
        runs.emplace_back(run.firstChunk, run.samplesPerChunk);
    }
    EXPECT_EQ(r.stsc, runs);
    EXPECT_EQ(r.stszSampleSize, 8u);
    EXPECT_EQ(r.stszCount, 9000u);
    EXPECT_EQ(r.offsetsType, options.useStco ? "stco" : "co64");
    EXPECT_EQ(r.offsets, layout.audioChunkOffsets);

    // The report's boxes are real headers in file order, starting with ftyp.
    ASSERT_FALSE(layout.boxOffsets.empty());
    EXPECT_EQ(layout.boxOffsets.front(), 0u);
    EXPECT_TRUE(std::is_sorted(layout.boxOffsets.begin(), layout.boxOffsets.end()));
    for (uint64_t at :
         {layout.mdatOffset, layout.moovOffset, layout.zatrOffset, layout.zmknOffset}) {
        EXPECT_TRUE(std::binary_search(layout.boxOffsets.begin(), layout.boxOffsets.end(), at));
    }
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(
                              ReadRange(file.path(), layout.zatrOffset + 4, 4).data()),
                          4),
              "ZATR");
    EXPECT_EQ(layout.fileSize, std::filesystem::file_size(file.path()));

    // Chunks hold the known audio at the offsets the table gives.
    int64_t instant = 0;
    ASSERT_EQ(layout.audioChunkSamples.size(), layout.audioChunkOffsets.size());
    for (size_t i = 0; i < layout.audioChunkOffsets.size(); ++i) {
        const uint32_t n = layout.audioChunkSamples[i];
        ASSERT_TRUE(ReadRange(file.path(), layout.audioChunkOffsets[i], n * 8) ==
                    ExpectedPcm(options.seed, instant, n))
            << "chunk " << i;
        instant += n;
    }
    EXPECT_EQ(instant, 9000);
    EXPECT_TRUE(OpenMovie(file.path()));
}

const LayoutCase kLayoutCases[] = {
    {"Default", [](CameraMovieOptions&) {}},
    {"Hevc", [](CameraMovieOptions& o) { o.codec = VideoCodec::HEVC; }},
    {"Mdat64", [](CameraMovieOptions& o) { o.mdat64 = true; }},
    {"Stco", [](CameraMovieOptions& o) { o.useStco = true; }},
    {"MoovFirst", [](CameraMovieOptions& o) { o.moovBeforeMdat = true; }},
    {"MoovFirstMdat64", [](CameraMovieOptions& o) { o.moovBeforeMdat = o.mdat64 = true; }},
    {"NoVisibleAudio", [](CameraMovieOptions& o) { o.includeVisibleAudioTrak = false; }},
    // ftyp, mdat and 997 free boxes: moov is the 1000th header.
    {"ManyBoxesBeforeMoov", [](CameraMovieOptions& o) { o.boxesBeforeMoov = 997; }},
    {"ChunkRuns",
     [](CameraMovieOptions& o) {
         o.chunkRuns = {{1, 1000}, {3, 333}, {10, 2048}};
         o.seed = 77;
     }},
};

INSTANTIATE_TEST_SUITE_P(Variants, FixtureLayoutTest, ::testing::ValuesIn(kLayoutCases),
                         [](const auto& param) { return std::string(param.param.name); });

TEST(FixtureBuilder, ChunksFollowTheRunsAndTheLastEndsWithTheAudio) {
    CameraMovieOptions options;
    options.totalSamples = 5000;
    options.chunkRuns = {{1, 1000}, {3, 333}};
    TempFile file("runs.mov");
    CameraMovieLayout layout;
    WriteOrFail(file.path(), options, &layout);
    // 2 x 1000, then 333-instant chunks, the last one cut short.
    std::vector<uint32_t> expected = {1000, 1000};
    for (uint32_t left = 3000; left > 0; left -= std::min(left, 333u)) {
        expected.push_back(std::min(left, 333u));
    }
    EXPECT_EQ(layout.audioChunkSamples, expected);
}

TEST(FixtureBuilder, FreeBoxesAndMdat64HeadersAreWhereTheLayoutSays) {
    CameraMovieOptions options;
    options.totalSamples = 2048;
    options.boxesBeforeMoov = 3;
    options.mdat64 = true;
    TempFile file("headers.mov");
    CameraMovieLayout layout;
    WriteOrFail(file.path(), options, &layout);
    const std::vector<uint8_t> mdat = ReadRange(file.path(), layout.mdatOffset, 16);
    ASSERT_EQ(mdat.size(), 16u);
    EXPECT_EQ(ReadBE32(&mdat[0]), 1u);
    EXPECT_EQ(std::string(mdat.begin() + 4, mdat.begin() + 8), "mdat");
    EXPECT_EQ(ReadBE64(&mdat[8]), layout.mdatSize);
    EXPECT_EQ(layout.moovOffset, layout.mdatOffset + layout.mdatSize);
    int frees = 0;
    const std::vector<uint8_t> head = ReadRange(file.path(), 0, layout.mdatOffset);
    for (const testing::BoxRef& box : testing::Children(head, 0, head.size())) {
        frees += box.type == "free";
    }
    EXPECT_EQ(frees, 3);
}

TEST(FixtureBuilder, MakerNoteTagsCanBeLeftOut) {
    for (uint16_t tag : {0x0131, 0x8769, 0x927C, 0x4001, 0x1011}) {
        CameraMovieOptions options;
        options.totalSamples = 1024;
        options.makerNoteFlag = 1;
        options.omitTiffTags = {tag};
        TempFile file("omit.mov");
        WriteOrFail(file.path(), options, nullptr);
        const WalkResult r = WalkCameraPath(file.path());
        ASSERT_EQ(r.failedAt, "") << std::hex << tag;
        EXPECT_EQ(r.software.empty(), tag == 0x0131) << std::hex << tag;
        EXPECT_EQ(r.flag, tag == 0x0131 ? 1u : 0u) << std::hex << tag;
    }
}

TEST(FixtureBuilder, OtherVideoFormatCodeAndMissingBoxes) {
    CameraMovieOptions options;
    options.totalSamples = 1024;
    options.videoFormatOverride = "mp4v";
    options.writeSa3d = false;
    options.writeUuid = false;
    TempFile file("other.mov");
    CameraMovieLayout layout;
    WriteOrFail(file.path(), options, &layout);
    ASSERT_GE(layout.videoSampleEntry.size(), 8u);
    EXPECT_EQ(std::string(layout.videoSampleEntry.begin() + 4, layout.videoSampleEntry.begin() + 8),
              "mp4v");
    EXPECT_TRUE(layout.uuidBox.empty());
    EXPECT_TRUE(layout.sa3dBox.empty());
}

TEST(FixtureBuilder, RefusesOptionsItCannotLayOut) {
    const std::vector<std::pair<const char*, void (*)(CameraMovieOptions&)>> cases = {
        {"no runs", [](CameraMovieOptions& o) { o.chunkRuns.clear(); }},
        {"first run at 2",
         [](CameraMovieOptions& o) {
             o.chunkRuns = {{2, 1024}};
         }},
        {"runs not increasing",
         [](CameraMovieOptions& o) {
             o.chunkRuns = {{1, 1024}, {1, 512}};
         }},
        {"empty chunks",
         [](CameraMovieOptions& o) {
             o.chunkRuns = {{1, 0}};
         }},
        {"negative samples", [](CameraMovieOptions& o) { o.totalSamples = -1; }},
        {"short format code", [](CameraMovieOptions& o) { o.audioFormat = "pcm"; }},
        {"odd video size", [](CameraMovieOptions& o) { o.width = 129; }},
        {"stco above 4 GiB",
         [](CameraMovieOptions& o) {
             o.useStco = true;
             o.sparseHoleBytes = 5ull << 30;
         }},
    };
    for (const auto& [name, change] : cases) {
        CameraMovieOptions options;
        options.totalSamples = 2048;
        change(options);
        TempFile file("refused.mov");
        std::string error;
        EXPECT_FALSE(WriteCameraMovie(file.path(), options, nullptr, &error)) << name;
        EXPECT_FALSE(error.empty()) << name;
    }
}

TEST(FixtureBuilder, SparseHolePutsAudioAbove4GiB) {
    {
        // Can this file system leave holes?
        TempFile probe("probe");
        std::FILE* f = std::fopen(probe.path().c_str(), "wb");
        ASSERT_NE(f, nullptr);
        const bool seeked = std::fseek(f, 1L << 30, SEEK_SET) == 0 && std::fputc(1, f) != EOF;
        std::fclose(f);
        struct stat st {};
        if (!seeked || ::stat(probe.path().c_str(), &st) != 0 || st.st_blocks * 512 > (64 << 20)) {
            GTEST_SKIP() << "no sparse files here";
        }
    }
    CameraMovieOptions options;
    options.totalSamples = 4096;
    options.sparseHoleBytes = (uint64_t{1} << 32) + 4096;
    TempFile file("hole.mov");
    CameraMovieLayout layout;
    WriteOrFail(file.path(), options, &layout);
    ASSERT_FALSE(layout.audioChunkOffsets.empty());
    EXPECT_GT(layout.audioChunkOffsets[0], uint64_t{1} << 32);
    // mdat no longer fits a 32-bit size.
    EXPECT_EQ(ReadBE32(ReadRange(file.path(), layout.mdatOffset, 4).data()), 1u);
    EXPECT_TRUE(ReadRange(file.path(), layout.audioChunkOffsets[0], 1024 * 8) ==
                ExpectedPcm(1, 0, 1024));
    EXPECT_EQ(WalkCameraPath(file.path()).offsets, layout.audioChunkOffsets);
    InputPtr input = OpenMovie(file.path());
    ASSERT_TRUE(input);
    ffmpeg::Packet packet(av_packet_alloc());
    bool sawHighAudio = false;
    while (av_read_frame(input.get(), packet.get()) >= 0) {
        sawHighAudio |= packet->stream_index == 1 && packet->pos > (int64_t{1} << 32);
        av_packet_unref(packet.get());
    }
    EXPECT_TRUE(sawHighAudio);
}

// ---------------------------------------------------------------- the known audio

TEST(FixtureExpectedSample, ChannelsAreDistinctAndReachBothExtremesInEveryFrame) {
    for (uint32_t seed : {0u, 1u, 12345u}) {
        for (int channel = 0; channel < 4; ++channel) {
            std::set<int> extremes;
            for (int64_t frameStart : {int64_t{0}, int64_t{1024} * 1000}) {
                for (int64_t i = frameStart; i < frameStart + 1024; ++i) {
                    const int16_t v = ExpectedSample(seed, channel, i);
                    if (v == 32767 || v == -32768) {
                        extremes.insert(v);
                    }
                    EXPECT_EQ(v, ExpectedSample(seed, channel, i));
                }
            }
            EXPECT_EQ(extremes.size(), 2u) << "seed " << seed << " channel " << channel;
        }
        // Any two channels differ almost everywhere, so a swap is visible.
        for (int a = 0; a < 4; ++a) {
            for (int b = a + 1; b < 4; ++b) {
                int same = 0;
                for (int64_t i = 0; i < 4096; ++i) {
                    same += ExpectedSample(seed, a, i) == ExpectedSample(seed, b, i);
                }
                EXPECT_LT(same, 40) << a << " " << b;
            }
        }
    }
    int same = 0;
    for (int64_t i = 0; i < 4096; ++i) {
        same += ExpectedSample(1, 0, i) == ExpectedSample(2, 0, i);
    }
    EXPECT_LT(same, 100);
}

// ---------------------------------------------------------------- the command-line tool

std::string RunTool(const std::string& arguments, int* status) {
    const std::filesystem::path tool =
        std::filesystem::path(SPATIALMUX_BINARY).parent_path() / "make_camera_movie";
    const std::string command = "'" + tool.string() + "' " + arguments + " 2>&1";
    std::string output;
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        *status = -1;
        return output;
    }
    char buffer[4096];
    size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        output.append(buffer, n);
    }
    *status = ::pclose(pipe);
    return output;
}

TEST(FixtureTool, WritesAndDescribesMovies) {
    if (!std::filesystem::exists(std::filesystem::path(SPATIALMUX_BINARY).parent_path() /
                                 "make_camera_movie")) {
        GTEST_SKIP() << "make_camera_movie not built";
    }
    TempFile file("tool.mov");
    int status = 0;
    RunTool("--hevc --samples 4096 --chunk 1:512 '" + file.path() + "'", &status);
    ASSERT_EQ(status, 0);
    const std::string description = RunTool("--describe '" + file.path() + "'", &status);
    EXPECT_EQ(status, 0);
    EXPECT_NE(description.find("video hevc 128x64"), std::string::npos) << description;
    EXPECT_NE(description.find("audio pcm_s16le, 4 channels, 48000 Hz"), std::string::npos)
        << description;
    EXPECT_NE(description.find("8 packets"), std::string::npos) << description;
    EXPECT_NE(description.find("spherical video XML"), std::string::npos) << description;
    EXPECT_NE(description.find("channel map 0 3 1 2"), std::string::npos) << description;

    // B-frame encoding gives the same bytes in every process.
    TempFile bframes("bframes.mov");
    RunTool("--bframes 2 --samples 30000 --distinct-frames 7 '" + bframes.path() + "'", &status);
    ASSERT_EQ(status, 0);
    CameraMovieOptions options;
    options.totalSamples = 30000;
    options.distinctFrames = 7;
    options.bFrames = 2;
    TempFile here("bframes_here.mov");
    CameraMovieLayout layout;
    WriteOrFail(here.path(), options, &layout);
    EXPECT_TRUE(ReadRange(bframes.path(), 0, layout.fileSize + 1) ==
                ReadRange(here.path(), 0, layout.fileSize + 1));

    // The damage options reach the builder as given.
    TempFile damaged("damaged.mov");
    RunTool(
        "--samples 3000 --shift-private-chunks 1 --private-chunk 1:2000 --private-chunk 1:0 "
        "--video-chunk 1:2 --stray-frame free-at-end --dref-size-0 --ftyp-bytes 28 "
        "--free-boxes-at-end 3 '" +
            damaged.path() + "'",
        &status);
    ASSERT_EQ(status, 0);
    CameraMovieOptions damage;
    damage.totalSamples = 3000;
    damage.damage.privateChunkShift = 1;
    damage.damage.privateChunkRuns = {{1, 2000}, {1, 0}};
    damage.damage.videoChunkRuns = {{1, 2}};
    damage.damage.strayFrame = StrayFrame::FreeAtEnd;
    damage.damage.videoDrefSizeZero = true;
    damage.damage.ftypBytes = 28;
    damage.damage.freeBoxesAtEnd = 3;
    TempFile damagedHere("damaged_here.mov");
    WriteOrFail(damagedHere.path(), damage, &layout);
    EXPECT_TRUE(ReadRange(damaged.path(), 0, layout.fileSize + 1) ==
                ReadRange(damagedHere.path(), 0, layout.fileSize + 1));

    for (const char* bad : {"--chunk 0:5 x.mov", "--bframes 8 x.mov", "--frobnicate x.mov", "",
                            "--describe /nonexistent/movie.mov", "--stray-frame nowhere x.mov",
                            "--mdat-to-end x.mov", "--ftyp-bytes 22 x.mov"}) {
        const std::string message = RunTool(bad, &status);
        EXPECT_NE(status, 0) << bad;
        EXPECT_NE(message.find("make_camera_movie: "), std::string::npos) << bad;
    }
}

}  // namespace
}  // namespace spatialmux::fixture
