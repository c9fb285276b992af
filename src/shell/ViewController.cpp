#include "shell/ViewController.h"

#include <cmath>
#include <cstdio>

#include <QCloseEvent>
#include <QFile>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMetaObject>
#include <QShowEvent>

#include "control/convert/wrap_ffmpeg.h"
#include "platform/Backend.h"
#include "platform/LocalizedStrings.h"
#include "shell/OutputNaming.h"

namespace spatialmux {

namespace {

// The bar counts hundredths of a percent, so that 62.5 shows as 62.5.
constexpr int kProgressSteps = 10000;
// The window keeps one size whatever the names: long ones are elided.
constexpr int kWindowWidth = 460;
constexpr int kHorizontalMargin = 20;

QString Localized(const char* key) {
    return QString::fromUtf8(platform::LocalizedString(key));
}

QString DisplayName(const std::string& path) {
    return QFile::decodeName(LastPathComponent(path).c_str());
}

}  // namespace

ViewController::ViewController(std::function<void()> waitForWorker_, QWidget* parent)
    : QWidget(parent), waitForWorker(std::move(waitForWorker_)), layout(this) {
    setWindowTitle(QString::fromUtf8(platform::LocalizedString("progress.title")));

    label1.setTextFormat(Qt::PlainText);
    label1.setTextInteractionFlags(Qt::TextSelectableByMouse);
    // Long file names are elided rather than widening the window.
    label1.setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    label1.setText(Localized("progress.input") + QLatin1Char('\n') + Localized("progress.output"));

    myProg.setRange(0, kProgressSteps);
    myProg.setValue(0);
    myProg.setTextVisible(true);
    myProg.setFormat(QStringLiteral("0.0%"));

    cancelButton.setText(QString::fromUtf8(platform::LocalizedString("progress.cancel")));
    cancelButton.setAutoDefault(false);
    connect(&cancelButton, &QPushButton::clicked, this, [this] { CancelBtn(); });

    layout.setContentsMargins(kHorizontalMargin, 18, kHorizontalMargin, 16);
    layout.setSpacing(12);
    layout.addWidget(&label1);
    layout.addWidget(&myProg);
    layout.addLayout(&buttonRow);
    buttonRow.addStretch(1);
    buttonRow.addWidget(&cancelButton);

    setFixedSize(kWindowWidth, sizeHint().height());

    viewDidLoad();
}

ViewController::~ViewController() = default;

void ViewController::viewDidLoad() {
    platform::NotificationCenter& center = platform::NotificationCenter::Default();
    observers.push_back(
        center.AddObserver(platform::kProgressUpdateNotification,
                           [this](const platform::Notification& n) { ProgressUpdate(n); }));
    observers.push_back(
        center.AddObserver(platform::kForOrderOutNotification,
                           [this](const platform::Notification& n) { ForOrderOut(n); }));
    observers.push_back(
        center.AddObserver(platform::kForOrderFrontNotification,
                           [this](const platform::Notification& n) { ForOrderFront(n); }));
    flug1 = true;
    // The window shown at launch only exists to disappear: it goes through
    // its appearance without reaching the screen.
    setAttribute(Qt::WA_DontShowOnScreen, true);
}

void ViewController::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!event->spontaneous()) viewDidAppear();
}

void ViewController::viewDidAppear() {
    if (!flug1) return;
    flug1 = false;
    // Hidden once the showing has completed; hiding inside it would leave
    // the window system's idea of the window behind.
    QMetaObject::invokeMethod(
        this,
        [this] {
            setAttribute(Qt::WA_DontShowOnScreen, false);
            if (!showingConversion) hide();
        },
        Qt::QueuedConnection);
}

void ViewController::ForOrderFront(const platform::Notification& notification) {
    const std::vector<std::string>& paths = notification.paths;
    mp4_str = paths.size() > 0 ? paths[0] : std::string();
    mov_str = paths.size() > 1 ? paths[1] : std::string();
    wav_str = paths.size() > 2 ? paths[2] : std::string();
    label1.setText(LabelFor(mp4_str, mov_str));
    // Named for its movie, as the droplet's other windows are.
    setWindowTitle(
        QFile::decodeName(platform::ControlsEscaped(LastPathComponent(mp4_str)).c_str()) +
        QStringLiteral(" – ") + Localized("progress.title"));
    label1.setToolTip(QFile::decodeName(mp4_str.c_str()) + QLatin1Char('\n') +
                      QFile::decodeName(mov_str.c_str()));
    // A conversion that starts before the launch appearance is over is
    // shown on the screen all the same.
    flug1 = false;
    showingConversion = true;
    if (testAttribute(Qt::WA_DontShowOnScreen)) {
        hide();
        setAttribute(Qt::WA_DontShowOnScreen, false);
    }
    show();
    raise();
    activateWindow();
}

void ViewController::ForOrderOut(const platform::Notification&) {
    showingConversion = false;
    hide();
}

void ViewController::ProgressUpdate(const platform::Notification& notification) {
    const double value = static_cast<double>(notification.number);
    if (std::isnan(value)) return;
    progressValue = value;
    const double shown = std::min(100.0, std::max(0.0, value));
    myProg.setValue(static_cast<int>(std::lround(shown * (kProgressSteps / 100.0))));
    myProg.setFormat(QStringLiteral("%1%").arg(QString::number(value, 'f', 1)));
}

QString ViewController::LabelFor(const std::string& input, const std::string& output) const {
    const QFontMetrics metrics = label1.fontMetrics();
    const int width = kWindowWidth - 2 * kHorizontalMargin;
    const auto line = [&](const char* key, const std::string& path) {
        const QString prefix = Localized(key);
        return prefix + metrics.elidedText(DisplayName(path), Qt::ElideMiddle,
                                           width - metrics.horizontalAdvance(prefix));
    };
    return line("progress.input", input) + QLatin1Char('\n') + line("progress.output", output);
}

QString ViewController::LabelText() const {
    return label1.text();
}

QString ViewController::ProgressText() const {
    return myProg.text();
}

void ViewController::CancelBtn() {
    if (cancelling) return;
    cancelling = true;
    cancelButton.setEnabled(false);
    // Stop the worker and wait until it has ended: it removes the hidden
    // files it created itself. The output's own name is never touched (it
    // may be an earlier file the user keeps). Events go on meanwhile: the
    // worker may be waiting for an alert to be dismissed.
    wrap_ffmpeg::RequestCancel();
    if (waitForWorker) waitForWorker();
    platform::CurrentBackend().RequestTermination();
}

void ViewController::ConversionEnded() {
    ended = true;
    cancelButton.setEnabled(false);
}

void ViewController::CancelFromWindow() {
    QMetaObject::invokeMethod(
        this, [this] { CancelBtn(); }, Qt::QueuedConnection);
}

void ViewController::closeEvent(QCloseEvent* event) {
    if (mov_str.empty() || ended) {
        QWidget::closeEvent(event);
        return;
    }
    // Closing the window of a running conversion is its Cancel.
    event->ignore();
    CancelFromWindow();
}

void ViewController::keyPressEvent(QKeyEvent* event) {
    if (event->key() != Qt::Key_Escape || event->modifiers() != Qt::NoModifier || mov_str.empty() ||
        ended) {
        QWidget::keyPressEvent(event);
        return;
    }
    event->accept();
    CancelFromWindow();
}

}  // namespace spatialmux
