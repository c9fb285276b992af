// The core's functions for JavaScript: each answer a JSON text in memory the
// caller frees with smx_free. Progress and cancel reach the page through the
// module's smxProgress and smxCancelled.
#include <emscripten.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "web/WebJobs.h"

namespace {

// A copy the caller owns (malloc), freed with smx_free.
char* Owned(const std::string& text) {
    char* copy = static_cast<char*>(std::malloc(text.size() + 1));
    if (copy != nullptr) std::memcpy(copy, text.c_str(), text.size() + 1);
    return copy;
}

std::string Text(const char* text) {
    return text != nullptr ? std::string(text) : std::string();
}

// clang-format off
EM_JS(void, SmxProgress, (const char* phase, double percent), {
    if (typeof Module["smxProgress"] === "function") Module["smxProgress"](UTF8ToString(phase), percent);
});
EM_JS(int, SmxCancelled, (), {
    return typeof Module["smxCancelled"] === "function" && Module["smxCancelled"]() ? 1 : 0;
});
// clang-format on

}  // namespace

extern "C" {

EMSCRIPTEN_KEEPALIVE char* smx_check(const char* inputPath) {
    return Owned(spatialmux::web::CheckJson(Text(inputPath)));
}

EMSCRIPTEN_KEEPALIVE char* smx_output_name(const char* inputName) {
    return Owned(spatialmux::web::OutputNameJson(Text(inputName)));
}

EMSCRIPTEN_KEEPALIVE char* smx_convert(const char* inputPath, const char* outputPath,
                                       const char* optionsJson) {
    // The page hears of each step and of every tenth of a percent, not of
    // every frame.
    std::string lastPhase;
    double lastPercent = -1.0;
    const spatialmux::web::ConvertHooks hooks{
        [&lastPhase, &lastPercent](const char* phase, double percent) {
            if (phase == lastPhase && percent < lastPercent + 0.1 && percent < 100.0) return;
            lastPhase = phase;
            lastPercent = percent;
            SmxProgress(phase, percent);
        },
        [] { return SmxCancelled() != 0; }};
    return Owned(
        spatialmux::web::ConvertJson(Text(inputPath), Text(outputPath), Text(optionsJson), hooks));
}

EMSCRIPTEN_KEEPALIVE void smx_free(char* text) {
    std::free(text);
}

}  // extern "C"
