#include "shell/queue/QueueDialogs.h"

#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

#include "shell/queue/QueueText.h"

namespace spatialmux {

namespace {
QString Text(const std::string& key) {
    return QString::fromStdString(QueueText(key));
}
}  // namespace

std::vector<std::string> DesktopQueueDialogs::ChooseMovies(QWidget* parent,
                                                           const std::string& folder) {
    // Qt's own dialog everywhere, as for the droplet's save dialog.
    QFileDialog dialog(parent, Text("gui.choose.movies"), QFile::decodeName(folder.c_str()));
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setFileMode(QFileDialog::ExistingFiles);
    dialog.setNameFilters(
        {Text("gui.choose.movies.filter") + QStringLiteral(" (*.mp4 *.MP4 *.mov *.MOV)"),
         Text("gui.choose.all.filter") + QStringLiteral(" (*)")});
    std::vector<std::string> chosen;
    if (dialog.exec() != QDialog::Accepted) return chosen;
    for (const QString& file : dialog.selectedFiles()) {
        chosen.emplace_back(QFile::encodeName(file).constData());
    }
    return chosen;
}

std::optional<std::string> DesktopQueueDialogs::ChooseFolder(QWidget* parent,
                                                             const std::string& title,
                                                             const std::string& folder) {
    QFileDialog dialog(parent, QString::fromStdString(title), QFile::decodeName(folder.c_str()));
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly, true);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    return std::string(QFile::encodeName(dialog.selectedFiles().front()).constData());
}

bool DesktopQueueDialogs::Confirm(QWidget* parent, const std::string& question,
                                  const std::string& yes, const std::string& no) {
    QMessageBox box(parent);
    box.setWindowTitle(Text("progress.title"));
    box.setIcon(QMessageBox::Question);
    box.setTextFormat(Qt::PlainText);
    box.setText(QString::fromStdString(question));
    QPushButton* doIt = box.addButton(QString::fromStdString(yes), QMessageBox::DestructiveRole);
    QPushButton* keep = box.addButton(QString::fromStdString(no), QMessageBox::RejectRole);
    box.setDefaultButton(keep);
    box.setEscapeButton(keep);
    box.exec();
    return box.clickedButton() == doIt;
}

}  // namespace spatialmux
