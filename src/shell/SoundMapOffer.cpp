#include "shell/SoundMapOffer.h"

#include <QMessageBox>
#include <QPushButton>

#include "platform/LocalizedStrings.h"
#include "shell/DesktopOpener.h"

namespace spatialmux {

bool DesktopSoundMapOffer::Ask(const std::string& text) {
    QMessageBox box;
    box.setWindowTitle(QString::fromUtf8(platform::LocalizedString("progress.title")));
    box.setIcon(QMessageBox::Information);
    box.setTextFormat(Qt::PlainText);
    box.setText(QString::fromUtf8(text));
    QPushButton* map = box.addButton(
        QString::fromUtf8(platform::LocalizedString("notice.soundmap")), QMessageBox::ActionRole);
    QPushButton* ok =
        box.addButton(QString::fromUtf8(platform::LocalizedString("ok")), QMessageBox::AcceptRole);
    box.setDefaultButton(ok);
    box.setEscapeButton(ok);
    box.exec();
    return box.clickedButton() == map;
}

bool DesktopSoundMapOffer::Open(const std::string& path) {
    DesktopOpener opener;
    return opener.OpenAndWait(path);
}

}  // namespace spatialmux
