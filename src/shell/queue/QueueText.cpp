#include "shell/queue/QueueText.h"

#include "control/job/HumanSize.h"
#include "platform/LocalizedStrings.h"

namespace spatialmux {

std::string QueueText(const std::string& key, const Fills& fills) {
    std::string text = platform::LocalizedString(key);
    for (const auto& [placeholder, value] : fills) {
        text = platform::FillPlaceholder(std::move(text), placeholder, value);
    }
    return text;
}

std::string SizeText(uint64_t bytes) {
    // The decimal units (kB, MB, GB) read alike in every language.
    if (bytes < 1000) return QueueText("unit.bytes", {{"{count}", std::to_string(bytes)}});
    return HumanSize(bytes);
}

}  // namespace spatialmux
