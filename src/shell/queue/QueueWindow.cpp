#include "shell/queue/QueueWindow.h"

#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <system_error>

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFontDatabase>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QUrl>

#include "control/binaural/BinauralCommand.h"
#include "control/job/HumanSize.h"
#include "platform/Backend.h"
#include "platform/LocalizedStrings.h"
#include "platform/PathParts.h"
#include "shell/queue/QueueDialogs.h"
#include "shell/queue/QueueText.h"

namespace spatialmux {

namespace {

constexpr int kOverallSteps = 1000;
constexpr int kOverallRefreshMilliseconds = 250;
constexpr auto kHelperStopGrace = std::chrono::seconds(10);
constexpr int kFitColumnsMilliseconds = 100;
// What the movie's name keeps of the width before the state gives way.
constexpr int kLeastNameWidth = 160;

QString Text(const std::string& key, const Fills& fills = {}) {
    return QString::fromStdString(QueueText(key, fills));
}

QString Path(const std::string& path) {
    return QFile::decodeName(path.c_str());
}

// The local files and folders of a drop.
std::vector<std::string> DroppedPaths(const QMimeData* data) {
    std::vector<std::string> paths;
    if (data == nullptr) return paths;
    for (const QUrl& url : data->urls()) {
        if (url.isLocalFile()) paths.emplace_back(QFile::encodeName(url.toLocalFile()).constData());
    }
    return paths;
}

bool IsFolder(const std::string& path) {
    std::error_code error;
    return !path.empty() && std::filesystem::is_directory(path, error);
}

}  // namespace

QueueWindow::QueueWindow(std::string programPath, QSettings& settingsStore, QueueDialogs& questions,
                         int conversionsAtOnce, QWidget* parent)
    : QMainWindow(parent),
      program(std::move(programPath)),
      settings(settingsStore),
      dialogs(questions),
      model(queue),
      runner(queue, program, conversionsAtOnce),
      layout(&central),
      toolbar(this),
      optionsLayout(&options),
      details(this),
      detailsLayout(&details) {
    BuildLayout();
    RestoreSettings();
    runner.OnRunEnded([this] { RunEnded(); });
    runner.OnListenEnded(
        [this](int id, const ConversionRunner::ListenEnd& end) { ListenEnded(id, end); });
    connect(&model, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex& first, const QModelIndex& last) {
                for (int row = first.row(); row <= last.row(); ++row) RefreshRowButtons(row);
                fitColumnsTimer.start();
                UpdateControls();
                // A row removed while it ran goes once it has stopped (not
                // inside the model's own signal).
                if (!removeWhenStopped.empty()) {
                    QMetaObject::invokeMethod(
                        this, [this] { RemoveStopped(); }, Qt::QueuedConnection);
                }
            });
    connect(&model, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex&, int first, int last) {
                for (int row = first; row <= last; ++row) RefreshRowButtons(row);
                UpdateControls();
            });
    connect(&model, &QAbstractItemModel::rowsRemoved, this, [this] { UpdateControls(); });
    overallTimer.setInterval(kOverallRefreshMilliseconds);
    connect(&overallTimer, &QTimer::timeout, this, [this] { ShowOverall(); });
    UpdateControls();
}

QueueWindow::~QueueWindow() {
    StopAll();
}

void QueueWindow::BuildLayout() {
    setWindowTitle(Text("progress.title"));
    setAcceptDrops(true);
    resize(1000, 560);

    // The header bar: adding movies, and removing them.
    toolbar.setMovable(false);
    toolbar.setFloatable(false);
    toolbar.setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    addMoviesAction.setText(Text("gui.add.movies"));
    addMoviesAction.setIcon(QIcon::fromTheme(QStringLiteral("list-add")));
    addMoviesAction.setShortcut(QKeySequence::Open);
    addFolderAction.setText(Text("gui.add.folder"));
    addFolderAction.setIcon(QIcon::fromTheme(QStringLiteral("folder-open")));
    addFolderAction.setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_O));
    removeAction.setText(Text("gui.remove"));
    removeAction.setIcon(QIcon::fromTheme(QStringLiteral("list-remove")));
    removeAction.setShortcut(QKeySequence::Delete);
    removeAction.setShortcutContext(Qt::WidgetWithChildrenShortcut);
    toolbar.addAction(&addMoviesAction);
    toolbar.addAction(&addFolderAction);
    toolbar.addAction(&removeAction);
    addToolBar(&toolbar);
    // Its buttons are in the Tab order too, before the list.
    for (QAction* action : toolbar.actions()) {
        if (QWidget* button = toolbar.widgetForAction(action)) button->setFocusPolicy(Qt::TabFocus);
    }
    addAction(&addMoviesAction);
    addAction(&addFolderAction);
    list.addAction(&removeAction);
    connect(&addMoviesAction, &QAction::triggered, this, [this] { AddMovies(); });
    connect(&addFolderAction, &QAction::triggered, this, [this] { AddFolder(); });
    connect(&removeAction, &QAction::triggered, this, [this] { RemoveSelected(); });
    // Escape stops a run, after asking; it does nothing otherwise.
    escapeAction.setShortcut(QKeySequence(Qt::Key_Escape));
    addAction(&escapeAction);
    connect(&escapeAction, &QAction::triggered, this, [this] { CancelAllAfterAsking(); });
    quitAction.setShortcut(QKeySequence::Quit);
    addAction(&quitAction);
    connect(&quitAction, &QAction::triggered, this, [this] { close(); });
    // Shift+F10 opens the current row's actions, as the Menu key does.
    rowMenuAction.setShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F10));
    rowMenuAction.setShortcutContext(Qt::WidgetWithChildrenShortcut);
    list.addAction(&rowMenuAction);
    connect(&rowMenuAction, &QAction::triggered, this, [this] {
        // Without a current row, the first selected one, else the first.
        QModelIndex current = list.currentIndex();
        if (!current.isValid()) {
            const QModelIndexList selected = list.selectionModel()->selectedRows();
            current = selected.isEmpty() ? model.index(0, 0) : selected.front();
            if (!current.isValid()) return;
            list.setCurrentIndex(current);
        }
        ShowRowMenuFor(current, list.viewport()->mapToGlobal(list.visualRect(current).center()),
                       true);
    });

    // The list, or while it is empty, what to do.
    emptyHint.setText(Text("gui.empty"));
    emptyHint.setAlignment(Qt::AlignCenter);
    emptyHint.setWordWrap(true);
    emptyHint.setEnabled(false);
    QFont hintFont = emptyHint.font();
    hintFont.setPointSizeF(hintFont.pointSizeF() * 1.25);
    emptyHint.setFont(hintFont);
    list.setModel(&model);
    list.setItemDelegate(&delegate);
    list.setRootIsDecorated(false);
    list.setUniformRowHeights(true);
    list.setAlternatingRowColors(true);
    list.setSelectionMode(QAbstractItemView::ExtendedSelection);
    list.setSelectionBehavior(QAbstractItemView::SelectRows);
    list.setEditTriggers(QAbstractItemView::NoEditTriggers);
    list.setContextMenuPolicy(Qt::CustomContextMenu);
    list.setAcceptDrops(false);
    list.viewport()->setAcceptDrops(false);
    list.setMouseTracking(true);
    QHeaderView* header = list.header();
    // Every column can be resized by hand. Until then the state takes the
    // width its texts need (a reason is read whole on its row where it
    // fits) and the movie's name the rest: a name is cut before a state.
    // What is cut ends in "…", and its tooltip has it whole.
    header->setStretchLastSection(false);
    header->setSectionResizeMode(QHeaderView::Interactive);
    header->setMinimumSectionSize(40);
    connect(header, &QHeaderView::sectionResized, this, [this] {
        if (!fittingColumns) columnsSizedByHand = true;
    });
    fitColumnsTimer.setSingleShot(true);
    fitColumnsTimer.setInterval(kFitColumnsMilliseconds);
    connect(&fitColumnsTimer, &QTimer::timeout, this, [this] { FitColumns(); });
    list.viewport()->installEventFilter(this);
    list.setTextElideMode(Qt::ElideRight);
    connect(&list, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { ShowRowMenu(at); });
    stack.addWidget(&emptyHint);
    stack.addWidget(&list);

    // Where the outputs go and in which format; both remembered.
    saveToLabel.setText(Text("gui.saveto"));
    besideButton.setText(Text("gui.saveto.beside"));
    folderButton.setText(Text("gui.saveto.folder"));
    saveTo.addButton(&besideButton);
    saveTo.addButton(&folderButton);
    folderLabel.setMinimumWidth(120);
    chooseButton.setText(Text("gui.saveto.choose"));
    chooseButton.setAutoDefault(false);
    formatLabel.setText(Text("gui.format"));
    for (const FormatFacts& format : QueueFormats()) {
        formatBox.addItem(Text(format.labelKey), QString::fromLatin1(format.key));
    }
    saveToLabel.setBuddy(&besideButton);
    formatLabel.setBuddy(&formatBox);
    optionsLayout.setContentsMargins(0, 0, 0, 0);
    optionsLayout.addWidget(&saveToLabel, 0, 0);
    optionsLayout.addWidget(&besideButton, 0, 1);
    optionsLayout.addWidget(&folderButton, 0, 2);
    optionsLayout.addWidget(&folderLabel, 0, 3);
    optionsLayout.addWidget(&chooseButton, 0, 4);
    optionsLayout.addWidget(&formatLabel, 1, 0);
    optionsLayout.addWidget(&formatBox, 1, 1, 1, 2, Qt::AlignLeft);
    optionsLayout.setColumnStretch(3, 1);
    connect(&chooseButton, &QPushButton::clicked, this, [this] { ChooseOutputFolder(); });
    connect(&saveTo, &QButtonGroup::buttonToggled, this, [this] {
        SaveSettings();
        UpdateControls();
    });
    connect(&formatBox, &QComboBox::currentIndexChanged, this, [this] { SaveSettings(); });

    // The whole run, and the one primary action.
    overall.setRange(0, kOverallSteps);
    overall.setValue(0);
    overall.setTextVisible(false);
    // Shown from the first run on; its place is kept meanwhile.
    QSizePolicy keepPlace = overall.sizePolicy();
    keepPlace.setRetainSizeWhenHidden(true);
    overall.setSizePolicy(keepPlace);
    cancelAllButton.setText(Text("gui.cancelall"));
    cancelAllButton.setAutoDefault(false);
    convertButton.setText(Text("gui.convert"));
    // Not drawn as a dialog's default button (Enter presses it all the
    // same, keyPressEvent): that frame looks like the keyboard's focus in
    // many styles, which then could not be seen on it. Bold says it is the
    // main one.
    convertButton.setAutoDefault(false);
    QFont bold = convertButton.font();
    bold.setBold(true);
    convertButton.setFont(bold);
    convertButton.setMinimumWidth(convertButton.sizeHint().width() + 24);
    connect(&cancelAllButton, &QPushButton::clicked, this, [this] { CancelAllAfterAsking(); });
    connect(&convertButton, &QPushButton::clicked, this, [this] { Convert(); });
    overallRow.addWidget(&overall, 2);
    overallRow.addWidget(&status, 3);
    buttonRow.addStretch(1);
    buttonRow.addWidget(&cancelAllButton);
    buttonRow.addWidget(&convertButton);

    layout.setContentsMargins(12, 8, 12, 12);
    layout.setSpacing(10);
    layout.addWidget(&stack, 1);
    layout.addWidget(&options);
    layout.addLayout(&overallRow);
    layout.addLayout(&buttonRow);
    setCentralWidget(&central);

    // Tab goes from the toolbar to the list (and each row's buttons),
    // through the choices to Convert.
    QWidget* previous = nullptr;
    for (QAction* action : {&addMoviesAction, &addFolderAction, &removeAction}) {
        QWidget* button = toolbar.widgetForAction(action);
        if (previous != nullptr && button != nullptr) setTabOrder(previous, button);
        if (button != nullptr) previous = button;
    }
    if (previous != nullptr) setTabOrder(previous, &list);
    setTabOrder(&list, &besideButton);
    setTabOrder(&besideButton, &folderButton);
    setTabOrder(&folderButton, &chooseButton);
    setTabOrder(&chooseButton, &formatBox);
    setTabOrder(&formatBox, &cancelAllButton);
    setTabOrder(&cancelAllButton, &convertButton);
    list.setFocus();

    // The report of Details: a window of its own, text to read and copy.
    details.setModal(false);
    details.resize(640, 480);
    detailsText.setReadOnly(true);
    detailsText.setLineWrapMode(QPlainTextEdit::NoWrap);
    detailsText.setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    detailsClose.setText(Text("gui.close"));
    connect(&detailsClose, &QPushButton::clicked, &details, &QDialog::close);
    detailsLayout.addWidget(&detailsText);
    detailsLayout.addWidget(&detailsClose, 0, Qt::AlignRight);
}

void QueueWindow::RestoreSettings() {
    // The controls answer their own restoring with SaveSettings: nothing is
    // saved until all of them hold what was remembered.
    restoring = true;
    const bool beside = settings.value(QStringLiteral("output/beside"), true).toBool();
    outputFolder =
        QFile::encodeName(settings.value(QStringLiteral("output/folder")).toString()).toStdString();
    (beside ? besideButton : folderButton).setChecked(true);
    const int format =
        formatBox.findData(settings.value(QStringLiteral("format"), QStringLiteral("mov-pcm")));
    formatBox.setCurrentIndex(format >= 0 ? format : 0);
    lastFolder =
        QFile::encodeName(settings.value(QStringLiteral("lastFolder")).toString()).toStdString();
    restoring = false;
}

void QueueWindow::SaveSettings() {
    if (restoring) return;
    settings.setValue(QStringLiteral("output/beside"), besideButton.isChecked());
    settings.setValue(QStringLiteral("output/folder"), Path(outputFolder));
    settings.setValue(QStringLiteral("format"), formatBox.currentData());
    settings.setValue(QStringLiteral("lastFolder"), Path(lastFolder));
}

OutputChoice QueueWindow::Choice() const {
    OutputChoice choice;
    choice.besideInput = besideButton.isChecked();
    choice.folder = outputFolder;
    const std::string key = formatBox.currentData().toString().toStdString();
    for (const FormatFacts& format : QueueFormats()) {
        if (key == format.key) choice.format = format.format;
    }
    return choice;
}

void QueueWindow::AddPaths(const std::vector<std::string>& paths) {
    if (paths.empty()) return;
    std::vector<std::string> problems;
    const std::vector<int> added = queue.Add(paths, &problems);
    runner.Check(added);
    UpdateControls();
    // The list, shown now in place of the hint, takes the keyboard unless
    // a control has it.
    if (focusWidget() == nullptr || !focusWidget()->isVisible()) list.setFocus();
    if (!problems.empty()) {
        status.SetFullText(Text("gui.unreadable", {{"{problem}", problems.front()}}));
    }
}

void QueueWindow::AddMovies() {
    const std::vector<std::string> chosen = dialogs.ChooseMovies(this, lastFolder);
    if (chosen.empty()) return;
    lastFolder = std::filesystem::path(chosen.front()).parent_path().string();
    SaveSettings();
    AddPaths(chosen);
}

void QueueWindow::AddFolder() {
    const auto chosen = dialogs.ChooseFolder(this, QueueText("gui.choose.folder"), lastFolder);
    if (!chosen) return;
    lastFolder = *chosen;
    SaveSettings();
    AddPaths({*chosen});
}

void QueueWindow::ChooseOutputFolder() {
    const auto chosen = dialogs.ChooseFolder(this, QueueText("gui.choose.output"),
                                             outputFolder.empty() ? lastFolder : outputFolder);
    if (!chosen) return;
    outputFolder = *chosen;
    folderButton.setChecked(true);
    SaveSettings();
    UpdateControls();
}

void QueueWindow::Convert() {
    if (runner.Busy() || !queue.HasWork()) return;
    const OutputChoice choice = Choice();
    if (!choice.besideInput) {
        if (choice.folder.empty()) {
            ChooseOutputFolder();
            if (outputFolder.empty()) return;
            return Convert();
        }
        // A remembered folder on a disk that is not there is not created.
        if (!IsFolder(choice.folder)) {
            Alert(QueueText("gui.alert.nooutputfolder", {{"{folder}", choice.folder}}));
            return;
        }
    }
    if (!OutputFoldersWritable(choice)) return;
    SaveSettings();
    queue.PlanRun(choice);
    overall.setValue(0);
    runner.Run(FactsOf(choice.format).audio);
    if (runner.Busy()) overallTimer.start();
    UpdateControls();
    ShowOverall();
    // The keyboard stays with the list, whatever control the run disabled.
    list.setFocus();
}

bool QueueWindow::OutputFoldersWritable(const OutputChoice& choice) {
    std::set<std::string> folders;
    for (const QueueRow& row : queue.Rows()) {
        const bool taken = row.state == RowState::Ready || row.state == RowState::Failed ||
                           row.state == RowState::Cancelled || row.state == RowState::Skipped;
        if (!taken) continue;
        folders.insert(choice.besideInput ? platform::FolderOf(row.input) : choice.folder);
    }
    std::vector<std::string> refused;
    std::string cause;
    for (const std::string& folder : folders) {
        if (access(folder.empty() ? "." : folder.c_str(), W_OK | X_OK) == 0) continue;
        if (cause.empty()) cause = std::strerror(errno);
        refused.push_back(folder);
    }
    if (refused.empty()) return true;
    std::string names;
    for (const std::string& folder : refused) names += (names.empty() ? "" : "\n") + folder;
    Alert(QueueText(refused.size() == 1 ? "gui.alert.readonly" : "gui.alert.readonly.many",
                    {{"{folder}", names}, {"{cause}", cause}}));
    return false;
}

void QueueWindow::CancelAllAfterAsking() {
    if (!runner.Busy()) return;
    if (!dialogs.Confirm(this, QueueText("gui.ask.cancel"), QueueText("gui.ask.cancel.stop"),
                         QueueText("gui.ask.keep"))) {
        return;
    }
    runner.CancelAll();
    UpdateControls();
}

namespace {

// A row whose child runs: its conversion, or its headphone render.
bool Busy(const QueueRow& row) {
    return row.state == RowState::Waiting || row.state == RowState::Converting ||
           row.listening.has_value();
}

}  // namespace

void QueueWindow::RemoveSelected() {
    const std::vector<int> ids = SelectedIds();
    if (ids.empty()) return;
    std::vector<int> busy;
    std::string busyName;
    for (int id : ids) {
        const QueueRow* row = queue.Find(id);
        if (row != nullptr && Busy(*row)) {
            busy.push_back(id);
            busyName = row->name;
        }
    }
    // What runs is stopped first, as closing stops it: after asking.
    if (!busy.empty()) {
        const std::string question =
            busy.size() == 1
                ? QueueText("gui.ask.remove", {{"{name}", platform::ControlsEscaped(busyName)}})
                : QueueText("gui.ask.remove.many", {{"{count}", std::to_string(busy.size())}});
        if (!dialogs.Confirm(this, question, QueueText("gui.ask.remove.stop"),
                             QueueText("gui.ask.remove.keep"))) {
            return;
        }
    }
    // The row after the last one removed keeps the keyboard's place.
    int next = -1;
    for (int id : ids) next = std::max(next, queue.IndexOf(id));
    next -= static_cast<int>(ids.size()) - 1;
    for (int id : ids) {
        const QueueRow* row = queue.Find(id);
        if (row == nullptr) continue;
        if (!Busy(*row)) {
            queue.Remove(id);
            continue;
        }
        // Removed once its child has stopped and cleaned up.
        removeWhenStopped.insert(id);
        if (row->listening) runner.StopListening(id);
        if (row->state == RowState::Waiting || row->state == RowState::Converting) {
            runner.Cancel(id);
        }
    }
    RemoveStopped();
    const int rows = model.rowCount();
    if (rows > 0) {
        const QModelIndex index = model.index(std::clamp(next, 0, rows - 1), 0);
        list.selectionModel()->setCurrentIndex(
            index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }
    UpdateControls();
}

void QueueWindow::RemoveStopped() {
    for (auto id = removeWhenStopped.begin(); id != removeWhenStopped.end();) {
        const QueueRow* row = queue.Find(*id);
        if (row == nullptr || (!Busy(*row) && queue.Remove(*id))) {
            id = removeWhenStopped.erase(id);
        } else {
            ++id;
        }
    }
}

void QueueWindow::StopAll() {
    if (stopping) return;
    stopping = true;
    if (runner.Busy() || runner.Listening() > 0) {
        status.SetFullText(Text("gui.stopping"));
        setEnabled(false);
    }
    runner.StopAllAndWait();
    // A sound map or a check still running is stopped as a render is: it
    // removes what it wrote; one that takes longer than the grace is
    // killed with its run. Its end is no news to the user now.
    for (const auto& run : actionRuns) {
        run->OnEnd(nullptr);
        run->Signal(SIGTERM);
    }
    const auto grace = std::chrono::steady_clock::now() + kHelperStopGrace;
    while (std::any_of(actionRuns.begin(), actionRuns.end(),
                       [](const auto& run) { return run->Running(); }) &&
           std::chrono::steady_clock::now() < grace) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    actionRuns.clear();
    stopping = false;
}

std::vector<int> QueueWindow::SelectedIds() const {
    std::vector<int> ids;
    for (const QModelIndex& index : list.selectionModel()->selectedRows()) {
        ids.push_back(index.data(QueueTableModel::IdRole).toInt());
    }
    return ids;
}

std::vector<const RowAction*> QueueWindow::OfferedActions(int id) const {
    std::vector<const RowAction*> offered;
    const QueueRow* row = queue.Find(id);
    if (row == nullptr) return offered;
    for (const RowAction& action : RowActions()) {
        if (action.offered(*row)) offered.push_back(&action);
    }
    return offered;
}

void QueueWindow::RunAction(int id, const RowAction& action) {
    const QueueRow* row = queue.Find(id);
    if (row == nullptr || !action.offered(*row)) return;
    if (action.arguments == nullptr) {
        action.then(*this, *row, ProgramEnd{});
        return;
    }
    const std::pair<int, std::string> busy = {id, action.key};
    if (!busyActions.insert(busy).second) return;
    actionRuns.push_back(std::make_unique<ProgramRun>());
    ProgramRun* run = actionRuns.back().get();
    run->OnEnd([this, id, busy, run, &action](const ProgramEnd& end) {
        busyActions.erase(busy);
        if (const QueueRow* done = queue.Find(id)) action.then(*this, *done, end);
        QMetaObject::invokeMethod(
            this,
            [this, run] {
                std::erase_if(actionRuns, [run](const auto& r) { return r.get() == run; });
            },
            Qt::QueuedConnection);
        RefreshRowButtons(queue.IndexOf(id));
    });
    run->Start(program, action.arguments(*row));
    RefreshRowButtons(queue.IndexOf(id));
}

void QueueWindow::RefreshRowButtons(int index) {
    if (index < 0 || index >= model.rowCount()) return;
    const QModelIndex cell = model.index(index, QueueTableModel::Actions);
    const int id = cell.data(QueueTableModel::IdRole).toInt();
    const QueueRow* row = queue.Find(id);
    if (row == nullptr) return;
    // What the buttons show: the row's actions, each enabled or not, the
    // choices made marked.
    struct Shown {
        const RowAction* action;
        QString label;
        bool enabled;
        bool checked;
    };
    std::vector<Shown> shown;
    QString signature;
    for (const RowAction* action : OfferedActions(id)) {
        const bool checked = action->checked != nullptr && action->checked(*row);
        const bool enabled = !busyActions.count({id, action->key});
        // The choice made is marked in its label too: a toggled button
        // looks alike in too many styles.
        const QString label = (checked ? QStringLiteral("✓ ") : QString()) + Text(action->key);
        shown.push_back({action, label, enabled, checked});
        signature += label + QLatin1Char(enabled ? '+' : '-') + QLatin1Char('\n');
    }
    auto* cellWidget = list.indexWidget(cell);
    if (cellWidget != nullptr && cellWidget->property("signature").toString() == signature) return;
    const bool hadFocus = cellWidget != nullptr && cellWidget->isAncestorOf(focusWidget());
    if (cellWidget == nullptr) {
        cellWidget = new QWidget;  // owned by the list once set
        auto* line = new QHBoxLayout(cellWidget);
        line->setContentsMargins(2, 1, 2, 1);
        line->setSpacing(4);
        line->addStretch(1);
        list.setIndexWidget(cell, cellWidget);
    }
    cellWidget->setProperty("signature", signature);
    auto* buttons = static_cast<QHBoxLayout*>(cellWidget->layout());
    // The old buttons go once the event that may have pressed one is over.
    for (QPushButton* old : cellWidget->findChildren<QPushButton*>(Qt::FindDirectChildrenOnly)) {
        buttons->removeWidget(old);
        old->hide();
        old->deleteLater();
    }
    const std::string movie = platform::ControlsEscaped(row->name);
    QPushButton* first = nullptr;
    for (std::size_t i = 0; i < shown.size(); ++i) {
        auto* button = new QPushButton(shown[i].label, cellWidget);
        button->setEnabled(shown[i].enabled);
        button->setCheckable(shown[i].action->checked != nullptr);
        button->setChecked(shown[i].checked);
        // Enter presses the button that has the keyboard, not Convert.
        button->setAutoDefault(true);
        button->setAccessibleName(
            Text("gui.action.named",
                 {{"{action}", QueueText(shown[i].action->key)}, {"{name}", movie}}));
        const RowAction* action = shown[i].action;
        connect(button, &QPushButton::clicked, this, [this, id, action] {
            // Pressed on a button that goes away with it: act once the
            // press is over.
            QMetaObject::invokeMethod(
                this, [this, id, action] { RunAction(id, *action); }, Qt::QueuedConnection);
        });
        buttons->insertWidget(static_cast<int>(i), button);
        if (first == nullptr) first = button;
    }
    if (hadFocus) (first != nullptr ? static_cast<QWidget*>(first) : &list)->setFocus();
    fitColumnsTimer.start();
    ChainTabOrder();
}

void QueueWindow::ChainTabOrder() {
    // The toolbar, the list, each row's buttons in the rows' order, then
    // the choices and Convert.
    QWidget* previous = &list;
    for (int index = 0; index < model.rowCount(); ++index) {
        QWidget* cellWidget = list.indexWidget(model.index(index, QueueTableModel::Actions));
        if (cellWidget == nullptr) continue;
        // The buttons in its layout: the ones replaced have left it.
        QLayout* buttons = cellWidget->layout();
        for (int i = 0; i < buttons->count(); ++i) {
            QWidget* button = buttons->itemAt(i)->widget();
            if (button == nullptr) continue;
            setTabOrder(previous, button);
            previous = button;
        }
    }
    setTabOrder(previous, &besideButton);
}

void QueueWindow::FitColumns() {
    if (columnsSizedByHand) return;
    QHeaderView* header = list.header();
    // (A tree view's own hint is not public; the item view's is.)
    const QAbstractItemView& view = list;
    const auto needed = [&view, header](int column) {
        return std::max(view.sizeHintForColumn(column), header->sectionSizeHint(column));
    };
    const int fixed = needed(QueueTableModel::Duration) + needed(QueueTableModel::Size) +
                      needed(QueueTableModel::Actions);
    const int room = list.viewport()->width() - fixed;
    const int state = needed(QueueTableModel::State);
    const int name = needed(QueueTableModel::Name);
    int stateWidth = state;
    int nameWidth = room - state;
    if (state + name > room) {
        nameWidth = std::min(name, std::max(kLeastNameWidth, room - state));
        stateWidth = std::max(header->minimumSectionSize(), room - nameWidth);
    }
    fittingColumns = true;
    for (const int column :
         {QueueTableModel::Duration, QueueTableModel::Size, QueueTableModel::Actions}) {
        header->resizeSection(column, needed(column));
    }
    header->resizeSection(QueueTableModel::State, stateWidth);
    header->resizeSection(QueueTableModel::Name, std::max(header->minimumSectionSize(), nameWidth));
    fittingColumns = false;
}

bool QueueWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == list.viewport() && event->type() == QEvent::Resize) fitColumnsTimer.start();
    return QMainWindow::eventFilter(watched, event);
}

void QueueWindow::OpenWithDesktop(const std::string& path, const std::string& failureText) {
    opener.Open(path, [this, failureText](bool opened) {
        if (!opened) Alert(failureText);
    });
}

void QueueWindow::ShowReport(const std::string& title, const std::string& text) {
    details.setWindowTitle(QString::fromStdString(title));
    detailsText.setPlainText(QString::fromStdString(text));
    details.show();
    details.raise();
    details.activateWindow();
}

void QueueWindow::Alert(const std::string& text) {
    platform::CurrentBackend().ShowAlert(text);
}

void QueueWindow::CancelRow(int id) {
    runner.Cancel(id);
    UpdateControls();
}

void QueueWindow::ShowInFolder(const std::string& file) {
    const std::string folder = platform::FolderOf(file);
    opener.ShowItem(file, [this, folder](bool opened) {
        if (!opened) Alert(QueueText("gui.alert.openfolder", {{"{folder}", folder}}));
    });
}

void QueueWindow::Listen(int id) {
    const QueueRow* row = queue.Find(id);
    if (row == nullptr || row->plan.output.empty()) return;
    runner.Listen(id, row->plan.output, DefaultBinauralPath(row->plan.output));
    list.viewport()->update();
}

void QueueWindow::StopListening(int id) {
    runner.StopListening(id);
}

void QueueWindow::ListenEnded(int, const ConversionRunner::ListenEnd& end) {
    if (stopping || end.stopped) return;
    if (end.written) {
        OpenWithDesktop(end.sound, QueueText("notice.listen.noplayer", {{"{path}", end.sound}}));
        return;
    }
    Alert(QueueText("alert.listen", {{"{cause}", end.cause}}));
}

void QueueWindow::Replace(int id) {
    const QueueRow* row = queue.Find(id);
    if (row == nullptr || runner.Busy()) return;
    // The codec of the format chosen, when it suits the existing output's
    // container; else the container's own.
    const FormatFacts& chosen = FactsOf(Choice().format);
    const std::string& output = row->plan.output;
    const std::string extension = chosen.extension;
    const bool suits =
        output.size() >= extension.size() &&
        output.compare(output.size() - extension.size(), extension.size(), extension) == 0;
    if (!queue.Replace(id)) return;
    overall.setValue(0);
    runner.Run(suits ? chosen.audio : "");
    if (runner.Busy()) overallTimer.start();
    UpdateControls();
    ShowOverall();
}

void QueueWindow::ChooseChannels(int id, AmbisonicsChoice channels) {
    queue.ChooseChannels(id, channels);
}

void QueueWindow::ChooseEquirectangular(int id, bool equirectangular) {
    queue.ChooseEquirectangular(id, equirectangular);
}

void QueueWindow::ChooseRotation(int id) {
    const QueueRow* row = queue.Find(id);
    if (row == nullptr) return;
    if (const auto chosen = dialogs.ChooseRotation(this, row->name, row->rotateAudio)) {
        queue.ChooseRotation(id, *chosen);
    }
}

void QueueWindow::ShowRowMenu(const QPoint& at) {
    const QModelIndex index = list.indexAt(at);
    const QModelIndex current = index.isValid() ? index : list.currentIndex();
    if (!current.isValid()) return;
    // Not at a row: the Menu key asked for the current one.
    ShowRowMenuFor(
        current,
        list.viewport()->mapToGlobal(index.isValid() ? at : list.visualRect(current).center()),
        !index.isValid());
}

void QueueWindow::ShowRowMenuFor(const QModelIndex& current, const QPoint& globalAt,
                                 bool fromKeyboard) {
    const int id = current.data(QueueTableModel::IdRole).toInt();
    QMenu menu(this);
    const QueueRow* row = queue.Find(id);
    for (const RowAction* action : OfferedActions(id)) {
        QAction* item =
            menu.addAction(Text(action->menuKey != nullptr ? action->menuKey : action->key));
        item->setEnabled(!busyActions.count({id, action->key}));
        if (action->checked != nullptr && row != nullptr) {
            item->setCheckable(true);
            item->setChecked(action->checked(*row));
        }
        connect(item, &QAction::triggered, this, [this, id, action] { RunAction(id, *action); });
    }
    if (!menu.isEmpty()) menu.addSeparator();
    menu.addAction(&removeAction);
    // Opened from the keyboard, its first item is the active one, as the
    // arrows would make it.
    if (fromKeyboard) {
        QTimer::singleShot(0, &menu, [&menu] {
            for (QAction* item : menu.actions()) {
                if (item->isEnabled() && !item->isSeparator()) {
                    menu.setActiveAction(item);
                    return;
                }
            }
        });
    }
    menu.exec(globalAt);
}

void QueueWindow::UpdateControls() {
    const bool busy = runner.Busy();
    stack.setCurrentWidget(queue.Rows().empty() ? static_cast<QWidget*>(&emptyHint)
                                                : static_cast<QWidget*>(&list));
    overall.setVisible(busy || queue.Totals().files > 0);
    convertButton.setEnabled(!busy && queue.HasWork());
    cancelAllButton.setEnabled(busy);
    options.setEnabled(!busy);
    removeAction.setEnabled(!queue.Rows().empty());
    folderLabel.SetFullText(outputFolder.empty() ? Text("gui.saveto.nofolder")
                                                 : Path(outputFolder));
    folderLabel.setEnabled(folderButton.isChecked());
    // Once a run has ended, the line sums up the queue as it is now.
    if (!busy && lastRunSeconds && !stopping) {
        status.SetFullText(QString::fromStdString(queue.Summary(*lastRunSeconds)));
    }
}

void QueueWindow::ShowOverall() {
    const RunTotals totals =
        runner.Busy() || queue.Totals().files > 0 ? queue.Totals() : RunTotals();
    if (totals.bytes > 0) {
        overall.setValue(static_cast<int>(static_cast<double>(totals.bytesDone) * kOverallSteps /
                                          static_cast<double>(totals.bytes)));
    }
    if (!runner.Busy()) return;
    const auto left = runner.SecondsLeft();
    const Fills counts = {{"{done}", std::to_string(totals.done)},
                          {"{files}", std::to_string(totals.files)}};
    if (left) {
        Fills fills = counts;
        fills.emplace_back("{time}", HumanDuration(*left));
        status.SetFullText(Text("gui.progress.left", fills));
    } else {
        status.SetFullText(Text("gui.progress", counts));
    }
}

void QueueWindow::RunEnded() {
    overallTimer.stop();
    ShowOverall();
    if (const RunTotals totals = queue.Totals(); totals.files > 0) {
        // Full when all went through; after a cancel or a failure, the
        // share of what was converted.
        uint64_t converted = 0;
        for (const QueueRow& row : queue.Rows()) {
            if (row.inRun && row.state == RowState::Converted) converted += row.size;
        }
        const bool whole = totals.failed + totals.cancelled == 0 || totals.bytes == 0;
        overall.setValue(whole ? kOverallSteps
                               : static_cast<int>(static_cast<double>(converted) * kOverallSteps /
                                                  static_cast<double>(totals.bytes)));
        lastRunSeconds = runner.Seconds();
        status.SetFullText(QString::fromStdString(queue.Summary(*lastRunSeconds)));
    }
    UpdateControls();
}

void QueueWindow::closeEvent(QCloseEvent* event) {
    if (runner.Busy() || runner.Listening() > 0) {
        int running = 0;
        for (const QueueRow& row : queue.Rows()) {
            if (row.state == RowState::Converting || row.state == RowState::Waiting) ++running;
        }
        const std::string question =
            running == 1  ? QueueText("gui.ask.close.one")
            : running > 0 ? QueueText("gui.ask.close", {{"{count}", std::to_string(running)}})
                          : QueueText("gui.ask.close.listen",
                                      {{"{count}", std::to_string(runner.Listening())}});
        if (!dialogs.Confirm(this, question, QueueText("gui.ask.close.stop"),
                             QueueText(running > 0 ? "gui.ask.keep" : "gui.ask.keep.listen"))) {
            event->ignore();
            return;
        }
    }
    StopAll();
    details.close();
    event->accept();
}

void QueueWindow::keyPressEvent(QKeyEvent* event) {
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && convertButton.isEnabled()) {
        event->accept();
        convertButton.animateClick();
        return;
    }
    QMainWindow::keyPressEvent(event);
}

void QueueWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (!DroppedPaths(event->mimeData()).empty()) event->acceptProposedAction();
}

void QueueWindow::dropEvent(QDropEvent* event) {
    const std::vector<std::string> paths = DroppedPaths(event->mimeData());
    if (paths.empty()) return;
    event->acceptProposedAction();
    AddPaths(paths);
}

}  // namespace spatialmux
