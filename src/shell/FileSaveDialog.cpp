#include "shell/FileSaveDialog.h"

#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QStringList>

#include "platform/LocalizedStrings.h"

namespace spatialmux {

namespace {

QString Text(const char* key) {
    return QString::fromUtf8(platform::LocalizedString(key));
}

// A question with its own buttons; Escape and closing it are Cancel.
struct Question {
    explicit Question(const char* textKey) {
        box.setWindowTitle(Text("progress.title"));
        box.setIcon(QMessageBox::Question);
        box.setTextFormat(Qt::PlainText);
        box.setText(Text(textKey));
    }
    QPushButton* Cancel() {
        QPushButton* cancel = box.addButton(Text("progress.cancel"), QMessageBox::RejectRole);
        box.setEscapeButton(cancel);
        return cancel;
    }
    QMessageBox box;
};

}  // namespace

AmbisonicsChoice FileSaveDialog::AskChannels() {
    Question question("droplet.ask.channels");
    QPushButton* ambix = question.box.addButton(Text("action.ambix"), QMessageBox::AcceptRole);
    QPushButton* fuma = question.box.addButton(Text("action.fuma"), QMessageBox::AcceptRole);
    // Enter takes neither reading: the channels are never guessed.
    question.box.setDefaultButton(question.Cancel());
    question.box.exec();
    if (question.box.clickedButton() == ambix) return AmbisonicsChoice::AmbiX;
    if (question.box.clickedButton() == fuma) return AmbisonicsChoice::FuMa;
    return AmbisonicsChoice::FromMovie;
}

bool FileSaveDialog::AskEquirectangular() {
    Question question("droplet.ask.projection");
    QPushButton* yes = question.box.addButton(Text("droplet.yes"), QMessageBox::AcceptRole);
    question.Cancel();
    question.box.setDefaultButton(yes);
    question.box.exec();
    return question.box.clickedButton() == yes;
}

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
    // Opus: the same MP4 names, with the audio the queue window offers too.
    const QString opusFilter = QString::fromUtf8(platform::LocalizedString("gui.format.opus")) +
                               QStringLiteral(" (*.mp4 *.MP4)");
    dialog.setNameFilters(QStringList{movFilter, mp4Filter, opusFilter});
    dialog.selectNameFilter(movFilter);
    dialog.setDefaultSuffix(QStringLiteral("mov"));
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog,
                     [&dialog, movFilter](const QString& filter) {
                         dialog.setDefaultSuffix(filter == movFilter ? QStringLiteral("mov")
                                                                     : QStringLiteral("mp4"));
                     });
    if (!folder.empty()) dialog.setDirectory(QFile::decodeName(folder.c_str()));
    dialog.selectFile(QFile::decodeName(proposedName.c_str()));
    audio.clear();
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    // Opus only where the name is an MP4's; a .mov typed under it keeps PCM.
    const QString name = dialog.selectedFiles().value(0);
    if (dialog.selectedNameFilter() == opusFilter &&
        name.endsWith(QStringLiteral(".mp4"), Qt::CaseInsensitive)) {
        audio = "opus";
    }
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty()) return std::nullopt;
    return std::string(QFile::encodeName(chosen.front()).constData());
}

}  // namespace spatialmux
