#include "platform/LocalizedStrings.h"

#include <cstdlib>
#include <map>
#include <mutex>
#include <string_view>

#include "platform/LocalizedStringTable.h"

namespace spatialmux::platform {

namespace {

using Table = std::map<std::string, std::string, std::less<>>;

// Reads one quoted token starting at text[pos] == '"'; handles \n, \t, \" and
// \\ escapes. Returns false when the token is not closed on its line.
bool ReadQuoted(std::string_view text, std::size_t& pos, std::string& out) {
    out.clear();
    for (++pos; pos < text.size(); ++pos) {
        const char c = text[pos];
        if (c == '"') {
            ++pos;
            return true;
        }
        if (c == '\n') return false;
        if (c == '\\' && pos + 1 < text.size()) {
            const char e = text[++pos];
            out += e == 'n' ? '\n' : e == 't' ? '\t' : e;
        } else {
            out += c;
        }
    }
    return false;
}

Table Parse(std::string_view text) {
    Table table;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t lineEnd = std::min(text.find('\n', pos), text.size());
        const std::size_t quote = text.find('"', pos);
        if (quote < lineEnd) {
            std::size_t p = quote;
            std::string key, value;
            if (ReadQuoted(text, p, key)) {
                const std::size_t next = text.find('"', p);
                if (next < lineEnd &&
                    text.substr(p, next - p).find('=') != std::string_view::npos &&
                    ReadQuoted(text, (p = next), value)) {
                    table[key] = value;
                }
            }
        }
        pos = lineEnd + 1;
    }
    return table;
}

std::mutex languageMutex;
std::string languageOverride;

std::string LanguageFromEnvironment() {
    for (const char* name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (value == nullptr || *value == '\0') continue;
        std::string code(value);
        code = code.substr(0, code.find_first_of(":_.@"));
        if (code == "C" || code == "POSIX") return "en";
        if (!code.empty()) return code;
    }
    return "en";
}

const std::map<std::string, Table>& Tables() {
    static const std::map<std::string, Table> tables = [] {
        std::map<std::string, Table> result;
        for (std::size_t i = 0; i < kLocalizedStringFileCount; ++i) {
            result[kLocalizedStringFiles[i].language] = Parse(kLocalizedStringFiles[i].text);
        }
        return result;
    }();
    return tables;
}

}  // namespace

std::string CurrentLanguage() {
    {
        std::lock_guard<std::mutex> lock(languageMutex);
        if (!languageOverride.empty()) return languageOverride;
    }
    return LanguageFromEnvironment();
}

void SetLanguage(const std::string& language) {
    std::lock_guard<std::mutex> lock(languageMutex);
    languageOverride = language;
}

std::string ControlsEscaped(std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string shown;
    shown.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\n') {
            shown += "\\n";
        } else if (c == '\r') {
            shown += "\\r";
        } else if ((byte < 0x20 && c != '\t') || byte == 0x7F) {
            shown += "\\x";
            shown += kHex[byte >> 4];
            shown += kHex[byte & 0x0F];
        } else {
            shown += c;
        }
    }
    return shown;
}

std::string FillPlaceholder(std::string text, const std::string& placeholder,
                            const std::string& value) {
    for (std::size_t at = text.find(placeholder); at != std::string::npos;
         at = text.find(placeholder, at + value.size())) {
        text.replace(at, placeholder.size(), value);
    }
    return text;
}

std::string LocalizedString(const std::string& key) {
    const auto& tables = Tables();
    for (const std::string& language : {CurrentLanguage(), std::string("en")}) {
        const auto table = tables.find(language);
        if (table == tables.end()) continue;
        const auto entry = table->second.find(key);
        if (entry != table->second.end()) return entry->second;
    }
    return std::string();
}

}  // namespace spatialmux::platform
