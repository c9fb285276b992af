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
    // The filter chosen decides the extension of a bare name, and so the
    // container and codec (QuickTime with PCM, MP4 with AAC); QuickTime
    // stays the default.
    const QString movFilter = QString::fromUtf8(platform::LocalizedString("save.filter")) +
                              QStringLiteral(" (*.mov *.MOV)");
    const QString mp4Filter = QString::fromUtf8(platform::LocalizedString("save.filter.mp4")) +
                              QStringLiteral(" (*.mp4 *.MP4)");
    dialog.setNameFilters(QStringList{movFilter, mp4Filter});
    dialog.selectNameFilter(movFilter);
    dialog.setDefaultSuffix(QStringLiteral("mov"));
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog,
                     [&dialog, mp4Filter](const QString& filter) {
                         dialog.setDefaultSuffix(filter == mp4Filter ? QStringLiteral("mp4")
                                                                     : QStringLiteral("mov"));
                     });
    if (!folder.empty()) dialog.setDirectory(QFile::decodeName(folder.c_str()));
    dialog.selectFile(QFile::decodeName(proposedName.c_str()));
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty()) return std::nullopt;
    return std::string(QFile::encodeName(chosen.front()).constData());
}

}  // namespace spatialmux
