#include "shell/queue/QueueText.h"

#include "platform/LocalizedStrings.h"

namespace spatialmux {

std::string QueueText(const std::string& key, const Fills& fills) {
    std::string text = platform::LocalizedString(key);
    for (const auto& [placeholder, value] : fills) {
        text = platform::FillPlaceholder(std::move(text), placeholder, value);
    }
    return text;
}

}  // namespace spatialmux
