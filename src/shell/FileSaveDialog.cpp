#include "shell/FileSaveDialog.h"

#include <QFile>
#include <QFileDialog>
#include <QStringList>

#include "platform/LocalizedStrings.h"

namespace spatialmux {

std::optional<std::string> FileSaveDialog::Run(const std::string& folder,
                                               const std::string& proposedName) {
    QFileDialog dialog;
    dialog.setWindowTitle(QString::fromUtf8(platform::LocalizedString("save.title")));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    // Qt's own dialog everywhere, so that the suffix completion and the
    // filter behave the same on every desktop.
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setNameFilters(QStringList{QString::fromUtf8(platform::LocalizedString("save.filter")) +
                                      QStringLiteral(" (*.mov *.MOV)")});
    dialog.setDefaultSuffix(QStringLiteral("mov"));
    if (!folder.empty()) dialog.setDirectory(QFile::decodeName(folder.c_str()));
    dialog.selectFile(QFile::decodeName(proposedName.c_str()));
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty()) return std::nullopt;
    return std::string(QFile::encodeName(chosen.front()).constData());
}

}  // namespace spatialmux
