#pragma once
// The window of spatialmux-gui: a list of movies (drop files and folders
// anywhere on it, or add them with its buttons), where the converted movies
// go and in which format, and Convert. While it converts, each row shows
// its progress and the window the whole run's; when done, each row its
// outcome and actions, and a line sums up the queue. Closing it, Escape and
// Cancel All stop running conversions only after asking; closing asks too
// while a headphone render runs.

#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <QAction>
#include <QButtonGroup>
#include <QComboBox>
#include <QDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QStackedWidget>
#include <QTimer>
#include <QToolBar>
#include <QTreeView>
#include <QVBoxLayout>

#include "shell/DesktopOpener.h"
#include "shell/queue/ConversionQueue.h"
#include "shell/queue/ConversionRunner.h"
#include "shell/queue/ElidedLabel.h"
#include "shell/queue/QueueDelegate.h"
#include "shell/queue/QueueTableModel.h"
#include "shell/queue/RowActions.h"

namespace spatialmux {

class QueueDialogs;

class QueueWindow : public QMainWindow, public RowActionHost {
public:
    // `program`: the command-line program that checks and converts.
    // `settings` keeps the output choice and the format between runs.
    QueueWindow(std::string program, QSettings& settings, QueueDialogs& dialogs,
                int conversionsAtOnce, QWidget* parent = nullptr);
    ~QueueWindow() override;

    // As if dropped on the window: files and folders.
    void AddPaths(const std::vector<std::string>& paths);
    void AddMovies();
    void AddFolder();
    void ChooseOutputFolder();
    void Convert();
    // Asks, then stops every running conversion.
    void CancelAllAfterAsking();
    // Removes the selected rows; one that converts or makes its headphone
    // version is stopped first, after asking, and goes once it has stopped.
    void RemoveSelected();
    // Stops every conversion without asking and waits until they have
    // cleaned up (a stop signal, or the window closing).
    void StopAll();

    ConversionQueue& Queue() { return queue; }
    ConversionRunner& Runner() { return runner; }
    QTreeView& List() { return list; }
    QPushButton& ConvertButton() { return convertButton; }
    QString StatusText() const { return status.FullText(); }
    // The actions a row offers now, by their keys.
    std::vector<const RowAction*> OfferedActions(int id) const;
    void RunAction(int id, const RowAction& action);

    // RowActionHost
    void OpenWithDesktop(const std::string& path, const std::string& failureText) override;
    void ShowReport(const std::string& title, const std::string& text) override;
    void Alert(const std::string& text) override;
    void CancelRow(int id) override;
    void ShowInFolder(const std::string& file) override;
    void Listen(int id) override;
    void StopListening(int id) override;
    void Replace(int id) override;
    void ChooseChannels(int id, AmbisonicsChoice channels) override;
    void ChooseEquirectangular(int id, bool equirectangular) override;
    void ChooseRotation(int id) override;

protected:
    void closeEvent(QCloseEvent* event) override;
    // Enter that no control took presses Convert (a main window has no
    // default button of its own).
    void keyPressEvent(QKeyEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void BuildLayout();
    void RestoreSettings();
    void SaveSettings();
    OutputChoice Choice() const;
    void UpdateControls();
    void ShowOverall();
    void RunEnded();
    void ShowRowMenu(const QPoint& at);
    void ShowRowMenuFor(const QModelIndex& index, const QPoint& globalAt,
                        bool fromKeyboard = false);
    void ListenEnded(int id, const ConversionRunner::ListenEnd& end);
    // The folders the outputs of `choice` would go to that cannot be
    // written: named once, before anything starts. False after saying so.
    bool OutputFoldersWritable(const OutputChoice& choice);
    std::vector<int> SelectedIds() const;
    void RemoveStopped();
    // The buttons of the row at `index` in its Actions cell, made anew when
    // what it offers has changed; the Tab order through every row's buttons.
    void RefreshRowButtons(int index);
    void ChainTabOrder();
    // The widths of the columns, until the user sizes them by hand.
    void FitColumns();
    bool eventFilter(QObject* watched, QEvent* event) override;

    std::string program;
    QSettings& settings;
    QueueDialogs& dialogs;
    ConversionQueue queue;
    QueueTableModel model;
    ConversionRunner runner;
    DesktopOpener opener;
    // (row id, action key) of the actions whose program runs.
    std::set<std::pair<int, std::string>> busyActions;
    // Rows removed while their child ran: they go once it has stopped.
    std::set<int> removeWhenStopped;
    std::vector<std::unique_ptr<ProgramRun>> actionRuns;
    std::string lastFolder;
    std::string outputFolder;

    // Parents before children.
    QWidget central;
    QVBoxLayout layout;
    QToolBar toolbar;
    QAction addMoviesAction;
    QAction addFolderAction;
    QAction removeAction;
    QAction escapeAction;
    QAction quitAction;
    QAction rowMenuAction;
    QueueDelegate delegate;
    QStackedWidget stack;
    QLabel emptyHint;
    QTreeView list;
    QWidget options;
    QGridLayout optionsLayout;
    QLabel saveToLabel;
    QRadioButton besideButton;
    QRadioButton folderButton;
    QButtonGroup saveTo;
    ElidedLabel folderLabel;
    QPushButton chooseButton;
    QLabel formatLabel;
    QComboBox formatBox;
    QHBoxLayout overallRow;
    QProgressBar overall;
    ElidedLabel status;
    QHBoxLayout buttonRow;
    QPushButton cancelAllButton;
    QPushButton convertButton;
    QTimer overallTimer;
    QDialog details;
    QVBoxLayout detailsLayout;
    QPlainTextEdit detailsText;
    QPushButton detailsClose;
    QTimer fitColumnsTimer;
    bool fittingColumns = false;
    bool columnsSizedByHand = false;
    bool stopping = false;
    bool restoring = false;
    // The length of the last run, once one has ended: the summary line is
    // kept up to date from then on.
    std::optional<double> lastRunSeconds;
};

}  // namespace spatialmux
