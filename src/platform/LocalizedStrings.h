#pragma once
// Localized texts by key, in the language the usual locale variables choose
// (LANGUAGE, LC_ALL, LC_MESSAGES, LANG), falling back to English.

#include <string>
#include <string_view>

namespace spatialmux::platform {

// The text of `key` in the current language; the empty string for an
// unknown key.
std::string LocalizedString(const std::string& key);
// `text` with every `placeholder` (such as "{file}") replaced by `value`.
std::string FillPlaceholder(std::string text, const std::string& placeholder,
                            const std::string& value);
// `text` with every control character written out: a line break as \n, a
// carriage return as \r, a tab as it is, any other as \xNN. For a file
// name in a message: it stays on the message's line.
std::string ControlsEscaped(std::string_view text);
// Two-letter language code in use ("en", "ja", ...).
std::string CurrentLanguage();
// Overrides the language taken from the environment; "" restores it.
void SetLanguage(const std::string& language);

}  // namespace spatialmux::platform
