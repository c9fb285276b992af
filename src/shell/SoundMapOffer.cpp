#include "shell/SoundMapOffer.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>

#include "platform/LocalizedStrings.h"
#include "shell/DesktopOpener.h"

namespace spatialmux {

namespace {

QString Text(const char* key) {
    return QString::fromUtf8(platform::LocalizedString(key));
}

}  // namespace

struct DesktopSoundMapOffer::Progress {
    QProgressDialog dialog;
};

DesktopSoundMapOffer::DesktopSoundMapOffer() = default;
DesktopSoundMapOffer::~DesktopSoundMapOffer() = default;

SoundMapOffer::Choice DesktopSoundMapOffer::Ask(const std::string& text) {
    QMessageBox box;
    box.setWindowTitle(Text("progress.title"));
    box.setIcon(QMessageBox::Information);
    box.setTextFormat(Qt::PlainText);
    box.setText(QString::fromUtf8(text));
    QPushButton* map = box.addButton(Text("notice.soundmap"), QMessageBox::ActionRole);
    QPushButton* listen = box.addButton(Text("notice.listen"), QMessageBox::ActionRole);
    QPushButton* ok = box.addButton(Text("ok"), QMessageBox::AcceptRole);
    box.setDefaultButton(ok);
    box.setEscapeButton(ok);
    box.exec();
    if (box.clickedButton() == map) return Choice::SoundMap;
    if (box.clickedButton() == listen) return Choice::Listen;
    return Choice::Dismiss;
}

bool DesktopSoundMapOffer::Open(const std::string& path) {
    DesktopOpener opener;
    return opener.OpenAndWait(path);
}

bool DesktopSoundMapOffer::Rendering(float percent) {
    if (!progress) {
        progress = std::make_unique<Progress>();
        QProgressDialog& dialog = progress->dialog;
        dialog.setWindowTitle(Text("progress.title"));
        dialog.setLabelText(Text("listen.progress"));
        dialog.setCancelButtonText(Text("progress.cancel"));
        dialog.setRange(0, 1000);
        // Shown at once, and kept (with its Cancel) until the render ends.
        dialog.setMinimumDuration(0);
        dialog.setAutoReset(false);
        dialog.setAutoClose(false);
        dialog.setWindowModality(Qt::ApplicationModal);
        dialog.show();
    }
    progress->dialog.setValue(static_cast<int>(percent * 10.0f));
    // The render runs on this thread: the dialog is drawn and its Cancel
    // button heard between two of its blocks.
    QCoreApplication::processEvents();
    return !progress->dialog.wasCanceled();
}

void DesktopSoundMapOffer::RenderingEnded() {
    progress.reset();
}

bool DesktopSoundMapOffer::Play(const std::string& path) {
    DesktopOpener opener;
    return opener.OpenAndWait(path);
}

}  // namespace spatialmux
