#pragma once
// The localized string files compiled from resources/strings, one per
// language, each the text of a  "key" = "value";  file.

#include <cstddef>

namespace spatialmux::platform {

struct LocalizedStringFile {
    const char* language;
    const char* text;
};

extern const LocalizedStringFile kLocalizedStringFiles[];
extern const std::size_t kLocalizedStringFileCount;

}  // namespace spatialmux::platform
