#include "shell/queue/QueueDialogs.h"

#include <algorithm>
#include <cmath>

#include <QDialog>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFile>
#include <QFileDialog>
#include <QFormLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>

#include "shell/queue/QueueText.h"

namespace spatialmux {

namespace {
QString Text(const std::string& key, const Fills& fills = {}) {
    return QString::fromStdString(QueueText(key, fills));
}

// An angle in degrees within [-limit, limit], to a tenth; `step` for the
// arrow keys.
void SetUpAngle(QDoubleSpinBox& box, double limit, double step, double value) {
    box.setRange(-limit, limit);
    box.setDecimals(1);
    box.setSingleStep(step);
    box.setSuffix(QStringLiteral("°"));
    box.setValue(value);
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

std::optional<AmbisonicRotation> DesktopQueueDialogs::ChooseRotation(
    QWidget* parent, const std::string& file, const AmbisonicRotation& current) {
    QDialog dialog(parent);
    dialog.setWindowTitle(Text("gui.turn.title"));
    QVBoxLayout layout(&dialog);
    QLabel text(Text("gui.turn.text", {{"{file}", file}}));
    text.setWordWrap(true);
    text.setTextFormat(Qt::PlainText);
    text.setMinimumWidth(440);  // some lines of text, not a column of them
    layout.addWidget(&text);

    // Yaw is the turn a picture's new front needs; pitch and roll only
    // level it, in finer steps and within a quarter turn.
    QFormLayout form;
    QDoubleSpinBox yaw;
    SetUpAngle(yaw, 180.0, 1.0, NormalizedDegrees(current.yawDegrees));
    yaw.setWrapping(true);
    QSlider yawSlider(Qt::Horizontal);
    yawSlider.setRange(-180, 180);
    yawSlider.setTickInterval(45);
    yawSlider.setTickPosition(QSlider::TicksBelow);
    yawSlider.setValue(static_cast<int>(std::lround(yaw.value())));
    // Left is +: the slider's left end is +180, as a picture shows it.
    yawSlider.setInvertedAppearance(true);
    QObject::connect(&yawSlider, &QSlider::valueChanged, &yaw, [&yaw](int value) {
        if (std::lround(yaw.value()) != value) yaw.setValue(value);
    });
    QObject::connect(&yaw, &QDoubleSpinBox::valueChanged, &yawSlider, [&yawSlider](double value) {
        yawSlider.setValue(static_cast<int>(std::lround(value)));
    });
    QDoubleSpinBox pitch;
    SetUpAngle(pitch, 90.0, 0.5, std::clamp(NormalizedDegrees(current.pitchDegrees), -90.0, 90.0));
    QDoubleSpinBox roll;
    SetUpAngle(roll, 90.0, 0.5, std::clamp(NormalizedDegrees(current.rollDegrees), -90.0, 90.0));
    form.addRow(Text("gui.turn.yaw"), &yaw);
    form.addRow(QString(), &yawSlider);
    form.addRow(Text("gui.turn.pitch"), &pitch);
    form.addRow(Text("gui.turn.roll"), &roll);
    layout.addLayout(&form);

    QDialogButtonBox buttons(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    QPushButton* none = buttons.addButton(Text("gui.turn.reset"), QDialogButtonBox::ResetRole);
    QObject::connect(none, &QPushButton::clicked, &dialog, [&yaw, &pitch, &roll] {
        yaw.setValue(0.0);
        pitch.setValue(0.0);
        roll.setValue(0.0);
    });
    QObject::connect(&buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(&buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout.addWidget(&buttons);
    yaw.setFocus();
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return AmbisonicRotation{yaw.value(), pitch.value(), roll.value()};
}

}  // namespace spatialmux
