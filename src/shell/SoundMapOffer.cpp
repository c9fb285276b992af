#include "shell/SoundMapOffer.h"

#include <QDesktopServices>
#include <QFile>
#include <QMessageBox>
#include <QPushButton>
#include <QUrl>

#include "platform/LocalizedStrings.h"

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

void DesktopSoundMapOffer::Open(const std::string& path) {
    QDesktopServices::openUrl(QUrl::fromLocalFile(QFile::decodeName(path.c_str())));
}

}  // namespace spatialmux
