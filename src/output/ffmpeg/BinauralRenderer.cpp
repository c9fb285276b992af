// The headphone render's filter graph, built filter by filter: every option
// is set through AVOptions, so that no path or number is ever spelt into a
// filter-graph string (a SOFA file's name may hold ':' or ',').
#include "output/ffmpeg/BinauralRenderer.h"

#include <locale.h>

#include <charconv>
#include <cstring>

extern "C" {
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/opt.h>
}

#include "ffmpeg/ChannelLayouts.h"
#include "ffmpeg/ErrorText.h"

namespace spatialmux::output {

namespace {

// The "C" numeric locale on this thread while it lives: pan parses its gains
// with sscanf, which reads "0.125" as 0 under a locale with a decimal comma.
class ClassicNumbers {
public:
    ClassicNumbers() : classic(newlocale(LC_NUMERIC_MASK, "C", static_cast<locale_t>(nullptr))) {
        if (classic != static_cast<locale_t>(nullptr)) previous = uselocale(classic);
    }
    ~ClassicNumbers() {
        if (classic == static_cast<locale_t>(nullptr)) return;
        uselocale(previous);
        freelocale(classic);
    }
    ClassicNumbers(const ClassicNumbers&) = delete;
    ClassicNumbers& operator=(const ClassicNumbers&) = delete;

private:
    locale_t classic;
    locale_t previous = static_cast<locale_t>(nullptr);
};

// The shortest text that reads back as `value`, with '.' whatever the locale.
std::string Number(double value) {
    char text[32];
    const auto [end, failed] = std::to_chars(text, text + sizeof text, value);
    return failed == std::errc() ? std::string(text, end) : std::string("0");
}

// pan's argument: out = feeds . in, the eight outputs in the octagonal
// layout, each naming all four inputs (a gain of 0 included, so that no
// output is a bare copy of one input).
std::string PanArguments(const SpeakerFeeds& feeds) {
    std::string text = "octagonal";
    for (std::size_t speaker = 0; speaker < feeds.size(); ++speaker) {
        text += "|c" + std::to_string(speaker) + "=";
        for (std::size_t component = 0; component < 4; ++component) {
            const double gain = feeds[speaker][component];
            if (gain < 0.0) {
                text += "-";
            } else if (component > 0) {
                text += "+";
            }
            text += Number(gain < 0.0 ? -gain : gain) + "*c" + std::to_string(component);
        }
    }
    return text;
}

// sofalizer's speaker positions by channel number: "N AZIMUTH ELEVATION".
std::string SpeakerPositions(const std::array<Direction, kCubeSpeakers>& speakers) {
    std::string text;
    for (std::size_t i = 0; i < speakers.size(); ++i) {
        if (i > 0) text += "|";
        text += std::to_string(i) + " " + Number(speakers[i].azimuthDegrees) + " " +
                Number(speakers[i].elevationDegrees);
    }
    return text;
}

// Builds one filter of the graph: allocates it, lets `configure` set its
// options, initialises it. Nothing, with `error` set, when any step fails.
template <typename Configure>
AVFilterContext* AddFilter(AVFilterGraph* graph, const char* filter, const char* name,
                           Configure configure, std::string* error) {
    const AVFilter* kind = avfilter_get_by_name(filter);
    AVFilterContext* context =
        kind != nullptr ? avfilter_graph_alloc_filter(graph, kind, name) : nullptr;
    if (context == nullptr) {
        *error = std::string("this FFmpeg has no ") + filter + " filter";
        return nullptr;
    }
    int result = configure(context);
    if (result >= 0) result = avfilter_init_str(context, nullptr);
    if (result < 0) {
        *error =
            std::string("the ") + filter + " filter cannot be set up: " + ffmpeg::ErrorText(result);
        return nullptr;
    }
    return context;
}

constexpr int kSearch = AV_OPT_SEARCH_CHILDREN;

}  // namespace

std::unique_ptr<BinauralRenderer> BinauralRenderer::Open(const BinauralSettings& settings,
                                                         std::string* error) {
    if (settings.sampleRate <= 0) {
        *error = "the audio has no sample rate";
        return nullptr;
    }
    const ClassicNumbers classic;
    auto renderer = std::make_unique<BinauralRenderer>();
    renderer->sampleRate = settings.sampleRate;
    renderer->graph.reset(avfilter_graph_alloc());
    renderer->input.reset(av_frame_alloc());
    renderer->output.reset(av_frame_alloc());
    if (!renderer->graph || !renderer->input || !renderer->output) {
        *error = "out of memory for the filter graph";
        return nullptr;
    }
    AVFilterGraph* graph = renderer->graph.get();
    // sofalizer convolves the two ears as two jobs; one thread keeps a
    // render beside a running conversion from taking both cores.
    graph->nb_threads = 1;

    AVFilterContext* source = AddFilter(
        graph, "abuffer", "ambisonics",
        [&settings](AVFilterContext* context) {
            AVBufferSrcParameters* parameters = av_buffersrc_parameters_alloc();
            if (parameters == nullptr) return AVERROR(ENOMEM);
            parameters->format = AV_SAMPLE_FMT_FLTP;
            parameters->sample_rate = settings.sampleRate;
            parameters->time_base = AVRational{1, settings.sampleRate};
            ffmpeg::SetAmbisonicLayout(&parameters->ch_layout, 4);
            const int result = av_buffersrc_parameters_set(context, parameters);
            av_channel_layout_uninit(&parameters->ch_layout);
            av_free(parameters);
            return result;
        },
        error);
    if (source == nullptr) return nullptr;

    AVFilterContext* planes = AddFilter(
        graph, "aformat", "float",
        [](AVFilterContext* context) {
            return av_opt_set(context, "sample_fmts", "fltp", kSearch);
        },
        error);
    if (planes == nullptr) return nullptr;

    const std::string pan = PanArguments(settings.feeds);
    AVFilterContext* speakers = AddFilter(
        graph, "pan", "speakers",
        [&pan](AVFilterContext* context) {
            return av_opt_set(context, "args", pan.c_str(), kSearch);
        },
        error);
    if (speakers == nullptr) return nullptr;

    const std::string positions = SpeakerPositions(settings.speakers);
    AVFilterContext* ears = AddFilter(
        graph, "sofalizer", "ears",
        [&settings, &positions](AVFilterContext* context) {
            int result = av_opt_set(context, "sofa", settings.hrtfPath.c_str(), kSearch);
            if (result >= 0) result = av_opt_set(context, "type", "freq", kSearch);
            if (result >= 0) result = av_opt_set_double(context, "gain", 0.0, kSearch);
            if (result >= 0) result = av_opt_set_int(context, "normalize", 1, kSearch);
            if (result >= 0) result = av_opt_set(context, "speakers", positions.c_str(), kSearch);
            return result;
        },
        error);
    if (ears == nullptr) {
        *error = "the HRTF file " + settings.hrtfPath +
                 " cannot be used: it is not a SOFA file of head-related impulse responses "
                 "(SimpleFreeFieldHRIR) that libmysofa can read";
        return nullptr;
    }

    AVFilterContext* resample = AddFilter(
        graph, "aresample", "rate",
        [&settings](AVFilterContext* context) {
            return av_opt_set_int(context, "sample_rate", settings.sampleRate, kSearch);
        },
        error);
    if (resample == nullptr) return nullptr;

    AVFilterContext* sink = AddFilter(
        graph, "abuffersink", "stereo",
        [&settings](AVFilterContext* context) {
            const AVSampleFormat formats[] = {AV_SAMPLE_FMT_FLT, AV_SAMPLE_FMT_NONE};
            const int rates[] = {settings.sampleRate, -1};
            int result =
                av_opt_set_int_list(context, "sample_fmts", formats, AV_SAMPLE_FMT_NONE, kSearch);
            if (result >= 0)
                result = av_opt_set_int_list(context, "sample_rates", rates, -1, kSearch);
            if (result >= 0) result = av_opt_set(context, "ch_layouts", "stereo", kSearch);
            return result;
        },
        error);
    if (sink == nullptr) return nullptr;

    const std::array<AVFilterContext*, 6> chain{source, planes, speakers, ears, resample, sink};
    for (std::size_t i = 0; i + 1 < chain.size(); ++i) {
        const int result = avfilter_link(chain[i], 0, chain[i + 1], 0);
        if (result < 0) {
            *error = "the filters cannot be linked: " + ffmpeg::ErrorText(result);
            return nullptr;
        }
    }
    const int configured = avfilter_graph_config(graph, nullptr);
    if (configured < 0) {
        *error = "the filter graph cannot be configured: " + ffmpeg::ErrorText(configured);
        return nullptr;
    }
    renderer->source = source;
    renderer->sink = sink;
    return renderer;
}

bool BinauralRenderer::Render(const std::array<const float*, 4>& acn, int count,
                              std::vector<float>* stereo, std::string* error) {
    if (ended || count < 0) {
        *error = "the render has ended";
        return false;
    }
    if (count == 0) return true;
    AVFrame* frame = input.get();
    av_frame_unref(frame);
    frame->format = AV_SAMPLE_FMT_FLTP;
    frame->sample_rate = sampleRate;
    frame->nb_samples = count;
    frame->pts = fed;
    ffmpeg::SetAmbisonicLayout(&frame->ch_layout, 4);
    int result = av_frame_get_buffer(frame, 0);
    if (result < 0) {
        *error = "out of memory for the audio: " + ffmpeg::ErrorText(result);
        return false;
    }
    for (std::size_t c = 0; c < acn.size(); ++c) {
        std::memcpy(frame->extended_data[c], acn[c],
                    static_cast<std::size_t>(count) * sizeof(float));
    }
    // The graph takes the frame's reference.
    result = av_buffersrc_add_frame_flags(source, frame, 0);
    if (result < 0) {
        *error = "the filter graph refused the audio: " + ffmpeg::ErrorText(result);
        return false;
    }
    fed += count;
    return Drain(stereo, error);
}

bool BinauralRenderer::Finish(std::vector<float>* stereo, std::string* error) {
    if (ended) return true;
    ended = true;
    const int result = av_buffersrc_add_frame_flags(source, nullptr, 0);
    if (result < 0) {
        *error = "the filter graph cannot end the audio: " + ffmpeg::ErrorText(result);
        return false;
    }
    return Drain(stereo, error);
}

bool BinauralRenderer::Drain(std::vector<float>* stereo, std::string* error) {
    AVFrame* frame = output.get();
    for (;;) {
        const int result = av_buffersink_get_frame(sink, frame);
        if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) return true;
        if (result < 0) {
            *error = "the filter graph failed: " + ffmpeg::ErrorText(result);
            return false;
        }
        if (frame->format != AV_SAMPLE_FMT_FLT || frame->ch_layout.nb_channels != 2 ||
            frame->nb_samples < 0) {
            av_frame_unref(frame);
            *error = "the filter graph gave audio of another form than float stereo";
            return false;
        }
        const auto* samples = reinterpret_cast<const float*>(frame->data[0]);
        stereo->insert(stereo->end(), samples,
                       samples + 2 * static_cast<std::size_t>(frame->nb_samples));
        av_frame_unref(frame);
    }
}

}  // namespace spatialmux::output
