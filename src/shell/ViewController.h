#pragma once
// The progress window: hidden until a conversion starts, then the names of
// the input and output, a progress bar and Cancel. It is driven by the
// ForOrderFront, ProgressUpdate and ForOrderOut notifications.

#include <functional>
#include <string>
#include <vector>

#include <QBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QWidget>

#include "platform/NotificationCenter.h"

namespace spatialmux {

class ViewController : public QWidget {
    Q_OBJECT

public:
    // `waitForWorker` returns when the conversion's threads have ended, while
    // the GUI thread's events go on being handled.
    explicit ViewController(std::function<void()> waitForWorker, QWidget* parent = nullptr);
    ~ViewController() override;

    // Registers the observers and arms the hiding at the first appearance.
    void viewDidLoad();
    // Hides the window the first time it appears.
    void viewDidAppear();
    // paths: input, output, temporary WAV.
    void ForOrderFront(const platform::Notification& notification);
    void ForOrderOut(const platform::Notification& notification);
    void ProgressUpdate(const platform::Notification& notification);
    // Stops the conversion, deletes its temporary WAV and its output, and
    // ends the application. The input is never touched.
    void CancelBtn();
    // The conversion is over: Cancel is disabled, and Escape and closing
    // the window no longer cancel anything.
    void ConversionEnded();
    bool CancelEnabled() const { return cancelButton.isEnabled(); }
    // The user cancelled the conversion (its button, Escape, the window
    // closed).
    bool Cancelled() const { return cancelling; }

    QString LabelText() const;
    // The last percentage received, as received.
    double ProgressValue() const { return progressValue; }
    QString ProgressText() const;
    const std::string& InputPath() const { return mp4_str; }
    const std::string& OutputPath() const { return mov_str; }
    const std::string& WavPath() const { return wav_str; }

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    // Escape is Cancel, as in a dialog.
    void keyPressEvent(QKeyEvent* event) override;

private:
    // "input: NAME\noutput: NAME", each name elided in the middle to the
    // label's width.
    QString LabelFor(const std::string& input, const std::string& output) const;
    // The same as closing the window: Cancel once the conversion is shown.
    void CancelFromWindow();

    std::function<void()> waitForWorker;
    // Parents before children: each goes before what contains it.
    QVBoxLayout layout;
    QLabel label1;
    QProgressBar myProg;
    QHBoxLayout buttonRow;
    QPushButton cancelButton;
    bool flug1 = false;
    bool showingConversion = false;
    bool cancelling = false;
    bool ended = false;
    double progressValue = 0.0;
    std::string mp4_str;
    std::string mov_str;
    std::string wav_str;
    std::vector<platform::Subscription> observers;
};

}  // namespace spatialmux
