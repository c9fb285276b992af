#pragma once
// Qt's own texts (the buttons and questions of its file dialog, "Cancel",
// "Save", the replace question) in the program's language: Qt ships them
// apart, and without them a Japanese session gets English dialogs.

#include <memory>
#include <string>

#include <QTranslator>

namespace spatialmux {

// Loads and installs Qt's translations for `language` ("ja", ...) from Qt's
// translations folder. The translation stays in use while the result
// lives; nothing (a null pointer) for English or when Qt has no
// translation for the language.
std::unique_ptr<QTranslator> InstallQtTranslations(const std::string& language);

}  // namespace spatialmux
