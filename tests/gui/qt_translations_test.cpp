// Qt's own dialog texts follow the program's language.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QString>

#include <cstdlib>
#include <string>

#include "shell/QtTranslations.h"

namespace spatialmux {
namespace {

QString QtCancel() {
    return QCoreApplication::translate("QPlatformTheme", "Cancel");
}

TEST(QtTranslationsTest, JapaneseTranslatesQtsOwnButtonsAndEnglishLeavesThem) {
    EXPECT_EQ(InstallQtTranslations("en"), nullptr);
    EXPECT_EQ(QtCancel(), QStringLiteral("Cancel"));
    {
        const auto japanese = InstallQtTranslations("ja");
        ASSERT_NE(japanese, nullptr)
            << "qtbase_ja.qm missing from "
            << QLibraryInfo::path(QLibraryInfo::TranslationsPath).toStdString()
            << " (tools/setup.sh installs qt6-translations-l10n)";
        EXPECT_EQ(QtCancel(), QStringLiteral("キャンセル"));
    }
    // The translation ends with the object that holds it.
    EXPECT_EQ(QtCancel(), QStringLiteral("Cancel"));
    EXPECT_EQ(InstallQtTranslations("xx"), nullptr);
}

// What file managers read must be valid desktop entries.
TEST(DesktopEntryTest, PassesDesktopFileValidate) {
    if (std::system("command -v desktop-file-validate >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "desktop-file-validate is not installed (package desktop-file-utils)";
    }
    for (const char* entry : {"spatialmux.desktop", "spatialmux-droplet.desktop"}) {
        const std::string command = std::string("desktop-file-validate '") + SPATIALMUX_SOURCE_DIR +
                                    "/resources/" + entry + "' 2>&1";
        EXPECT_EQ(std::system(command.c_str()), 0) << entry;
    }
}

}  // namespace
}  // namespace spatialmux
