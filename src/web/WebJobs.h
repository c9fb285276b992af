#pragma once
// The browser's front end: what the page's worker asks of the core, each
// answer a JSON text. The same code as the desktop program's below it (the
// check's report and JSON, the output's name, the edit); what the browser
// cannot do without a codec (a decoded and re-encoded audio, a remux) is
// refused with a message that points to the desktop program. WebExports.cpp
// gives these to JavaScript.

#include <functional>
#include <string>

namespace spatialmux::web {

// Exactly `spatialmux --check --json INPUT`'s line for the movie at `path`
// (without its newline), with the probe read from the boxes.
std::string CheckJson(const std::string& path);

// {"name": "..."}: the name the desktop program gives the .mov output of an
// input named `inputName` (the batch's: "A.MP4" -> "A.mov"), with "-360"
// where that would be the input's own name, as the droplet proposes it
// ("clip.mov" -> "clip-360.mov").
std::string OutputNameJson(const std::string& inputName);

struct ConvertHooks {
    // The step ("copy", "audio", "metadata", "verify") and its percentage.
    std::function<void(const char* phase, double percent)> progress;
    // True when the user stopped the job.
    std::function<bool()> cancelled;
};

// Converts the movie at `input` into a new file at `output` as the desktop
// program's edit does, and checks what was written. `optionsJson`:
// {"ambisonics": ""|"ambix"|"fuma", "projection": ""|"equirectangular",
// "language": "en"|"ja"}. Answers {"ok": true, "report": {...}}, or
// {"ok": false, "refused": true|false, "message": "..."} (the desktop's
// refusal, in the language asked for), or {"ok": false, "cancelled": true}.
// The output is left as it stands on failure: the caller removes it.
std::string ConvertJson(const std::string& input, const std::string& output,
                        const std::string& optionsJson, const ConvertHooks& hooks);

}  // namespace spatialmux::web
