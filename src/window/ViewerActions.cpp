// The window's menus, status bar and the abilities they give: opening other
// folders, copying, zooming. The client area and its behaviour are in MainWindow.cpp.
#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QLocale>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QRadioButton>
#include <QScopedValueRollback>
#include <QScrollBar>
#include <QSettings>
#include <QStatusBar>
#include <QStyle>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>
#include <cstdlib>

#include "util/Error.h"
#include "util/Text.h"
#include "window/ExportRunner.h"
#include "window/MainWindow.h"
#include "window/PathText.h"
#include "window/Player.h"
#include "window/QtPicture.h"

namespace fs = std::filesystem;

namespace varek {

namespace {

constexpr int kRecentFolders = 8;
const QString kRecentKey = QStringLiteral("recentFolders");
const QString kGeometryKey = QStringLiteral("window/geometry");
const QString kFolderKey = QStringLiteral("view/folder");
const QString kCategoryKey = QStringLiteral("view/category");
const QString kFileKey = QStringLiteral("view/file");
// -1 the default look, 0 Fit, else the factor.
const QString kZoomKey = QStringLiteral("view/zoom");
const QString kAspectKey = QStringLiteral("view/aspect");

// A folder as the settings keep it: absolute, without "." or "..".
QString FolderText(const fs::path& folder)
{
    std::error_code ec;
    const fs::path absolute = fs::absolute(folder, ec);
    return ToQString(ec ? folder : absolute.lexically_normal());
}

// The local folder or file a drag carries, or an empty text.
QString DraggedPath(const QMimeData* data)
{
    if (data == nullptr || !data->hasUrls() || data->urls().size() != 1) {
        return {};
    }
    const QUrl url = data->urls().front();
    if (!url.isLocalFile() || !QFileInfo::exists(url.toLocalFile())) {
        return {};
    }
    return url.toLocalFile();
}

// A scale as the status bar shows it: whole factors, or the whole fractions a
// picture larger than the box is fitted at.
QString ScaleText(double scale)
{
    return scale >= 1 ? MainWindow::tr("%1\u00d7").arg(qRound(scale))
                      : MainWindow::tr("1/%1\u00d7").arg(qRound(1 / scale));
}

}  // namespace

QStringList RecentFolders()
{
    return QSettings().value(kRecentKey).toStringList();
}

void MainWindow::CreateActions()
{
    QMenu* file = menuBar()->addMenu(tr("&File"));
    m_openAction = file->addAction(tr("&Open Game Folder..."), this, &MainWindow::ChooseFolder);
    m_openAction->setShortcut(QKeySequence::Open);
    m_openFileAction = file->addAction(tr("Open &File..."), this, &MainWindow::ChooseFile);
    m_openFileAction->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_O));
    m_recentMenu = file->addMenu(tr("Open &Recent"));
    connect(m_recentMenu, &QMenu::aboutToShow, this, &MainWindow::FillRecentMenu);
    file->addSeparator();
    m_saveAction = file->addAction(tr("&Save to BMP"), m_save, &QPushButton::click);
    m_saveAction->setShortcut(QKeySequence::Save);
    m_exportCategoryAction =
        file->addAction(tr("&Export Category..."), this, [this] { ExportArt(false); });
    m_exportCategoryAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_E));
    m_exportAnimationAction =
        file->addAction(tr("Export &Animation..."), this, [this] { ExportArt(true); });
    file->addSeparator();
    QAction* quit = file->addAction(tr("&Quit"), this, &QWidget::close);
    quit->setShortcut(QKeySequence::Quit);

    QMenu* edit = menuBar()->addMenu(tr("&Edit"));
    m_copyAction = edit->addAction(tr("&Copy"), this, &MainWindow::CopyPicture);
    m_copyAction->setShortcut(QKeySequence::Copy);
    edit->addSeparator();
    m_replaceAction =
        edit->addAction(tr("&Replace from File..."), this, &MainWindow::ReplaceFromFile);
    m_undoReplaceAction = edit->addAction(tr("&Undo Replace"), this, &MainWindow::UndoReplace);
    m_undoReplaceAction->setShortcut(QKeySequence::Undo);

    QMenu* view = menuBar()->addMenu(tr("&View"));
    m_zoomInAction = view->addAction(
        tr("Zoom &In"), this, [this] { SetZoom(ZoomMode::Factor, m_picture->ZoomInFactor()); });
    m_zoomInAction->setShortcuts({QKeySequence::ZoomIn, QKeySequence(Qt::CTRL | Qt::Key_Equal)});
    m_zoomOutAction = view->addAction(
        tr("Zoom &Out"), this, [this] { SetZoom(ZoomMode::Factor, m_picture->ZoomOutFactor()); });
    m_zoomOutAction->setShortcut(QKeySequence::ZoomOut);
    view->addSeparator();
    m_zoomGroup = new QActionGroup(this);
    m_zoomDefaultAction =
        view->addAction(tr("&Default Size"), this, [this] { SetZoom(ZoomMode::Default); });
    m_zoomDefaultAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_0));
    m_zoomGroup->addAction(m_zoomDefaultAction);
    for (const int factor : kZoomFactors) {
        QAction* action = view->addAction(tr("%1\u00d7").arg(factor), this,
                                          [this, factor] { SetZoom(ZoomMode::Factor, factor); });
        action->setData(factor);
        m_zoomGroup->addAction(action);
    }
    QAction* fit = view->addAction(tr("&Fit"), this, [this] { SetZoom(ZoomMode::Fit); });
    fit->setData(0);
    m_zoomGroup->addAction(fit);
    for (QAction* action : m_zoomGroup->actions()) {
        action->setCheckable(true);
    }
    m_zoomDefaultAction->setChecked(true);
    view->addSeparator();
    m_aspectAction = view->addAction(tr("Correct &Aspect (6:5)"), this, [this](bool on) {
        m_picture->SetAspectCorrection(on);
        UpdateStatus();
    });
    m_aspectAction->setCheckable(true);
    // A fitted picture's scale follows the box.
    connect(m_picture, &PictureBox::resized, this, &MainWindow::UpdateStatus);
    connect(m_picture, &PictureBox::zoomWheeled, this, [this](int steps) {
        for (int step = 0; step < std::abs(steps) && m_zoomInAction->isEnabled(); ++step) {
            SetZoom(ZoomMode::Factor,
                    steps > 0 ? m_picture->ZoomInFactor() : m_picture->ZoomOutFactor());
        }
    });

    QMenu* animation = menuBar()->addMenu(tr("&Animation"));
    m_playAction = animation->addAction(style()->standardIcon(QStyle::SP_MediaPlay), tr("&Play"),
                                        this, &MainWindow::TogglePlayback);
    m_playAction->setShortcut(QKeySequence(Qt::Key_Space));
    m_previousAction =
        animation->addAction(style()->standardIcon(QStyle::SP_MediaSkipBackward),
                             tr("Pre&vious Picture"), this, [this] { StepPicture(false); });
    m_previousAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Left));
    m_nextAction = animation->addAction(style()->standardIcon(QStyle::SP_MediaSkipForward),
                                        tr("&Next Picture"), this, [this] { StepPicture(true); });
    m_nextAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Right));
    connect(m_player, &Player::pictureDue, m_frameBar, &QScrollBar::setValue);
    connect(m_player, &Player::playingChanged, this, [this](bool playing) {
        m_playAction->setText(playing ? tr("&Pause") : tr("&Play"));
        m_playAction->setIcon(
            style()->standardIcon(playing ? QStyle::SP_MediaPause : QStyle::SP_MediaPlay));
    });

    QMenu* help = menuBar()->addMenu(tr("&Help"));
    help->addAction(tr("&About Varek"), this, &MainWindow::ShowAbout);

    connect(this, &MainWindow::artRendered, this, [this] {
        UpdateActions();
        UpdateStatus();
    });
}

void MainWindow::CreatePlaybackBar()
{
    // Playback has a bar of its own, as media viewers have, so that no note in the
    // status bar can cover it.
    m_playbackBar = addToolBar(tr("Playback"));
    m_playbackBar->setObjectName(QStringLiteral("playbackBar"));
    m_playbackBar->setMovable(false);
    m_playbackBar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    m_playbackBar->setIconSize(QSize(16, 16));
    m_playbackBar->addAction(m_previousAction);
    m_playbackBar->addAction(m_playAction);
    m_playbackBar->addAction(m_nextAction);
    m_playbackBar->addSeparator();
    m_playbackBar->addAction(m_zoomOutAction);
    m_playbackBar->addAction(m_zoomInAction);
    const std::pair<QAction*, const char*> named[] = {
        {m_previousAction, "cmdPrevious"}, {m_playAction, "cmdPlay"}, {m_nextAction, "cmdNext"}};
    for (const auto& [action, name] : named) {
        QWidget* button = m_playbackBar->widgetForAction(action);
        button->setObjectName(QString::fromLatin1(name));
        // A tab stop, so the keyboard reaches playback as it reaches every control.
        button->setFocusPolicy(Qt::TabFocus);
        button->installEventFilter(this);
    }
    m_playButton = qobject_cast<QToolButton*>(m_playbackBar->widgetForAction(m_playAction));
    // Wide enough for "Pause" too, so that the buttons after it stay in place.
    m_playAction->setText(tr("&Pause"));
    const int pauseWidth = m_playButton->sizeHint().width();
    m_playAction->setText(tr("&Play"));
    m_playButton->setMinimumWidth(std::max(pauseWidth, m_playButton->sizeHint().width()));
    setTabOrder(m_save, m_playbackBar->widgetForAction(m_previousAction));
    setTabOrder(m_playbackBar->widgetForAction(m_previousAction), m_playButton);
    setTabOrder(m_playButton, m_playbackBar->widgetForAction(m_nextAction));
}

void MainWindow::CreateStatusBar()
{
    // The facts are normal items, which a note hides while it lasts; the zoom is
    // short and stays.
    m_pictureInfo = new QLabel(this);
    m_pictureInfo->setObjectName(QStringLiteral("pictureInfo"));
    m_frameInfo = new QLabel(this);
    m_frameInfo->setObjectName(QStringLiteral("frameInfo"));
    m_zoomInfo = new QLabel(this);
    m_zoomInfo->setObjectName(QStringLiteral("zoomInfo"));
    statusBar()->addWidget(m_pictureInfo);
    statusBar()->addWidget(m_frameInfo, 1);
    statusBar()->addPermanentWidget(m_zoomInfo);
}

void MainWindow::ShowNote(const QString& text)
{
    statusBar()->showMessage(text, m_noteTimeout);
}

void MainWindow::ShowPointerFacts(const QString& text)
{
    m_pointerFacts = text;
    UpdateStatus();
}

void MainWindow::StepPicture(bool forward)
{
    // As a step on the frame bar: it ends playback.
    m_frameBar->triggerAction(forward ? QAbstractSlider::SliderSingleStepAdd
                                      : QAbstractSlider::SliderSingleStepSub);
}

void MainWindow::UpdateActions()
{
    const ArtCategory category = CurrentCategory();
    const bool open = m_game.has_value();
    const bool shown = m_picture->HasPicture() && m_shown.has_value();
    // A file opened on its own has only its own kind to list.
    for (const ArtCategory each : kAllCategories) {
        m_optionButtons[static_cast<std::size_t>(each)]->setEnabled(
            !open || !m_game->LooseCategory() || each == *m_game->LooseCategory());
    }
    m_rotate->setEnabled(category == ArtCategory::WallsSprites);
    m_frameBar->setEnabled(category == ArtCategory::Animated);
    // The button always answers: with nothing to save, it says so. The menu offers
    // only what can be done.
    m_save->setEnabled(true);
    m_saveAction->setEnabled(open && shown);
    m_exportCategoryAction->setEnabled(open && !m_listNames.empty());
    m_exportAnimationAction->setEnabled(open && category == ArtCategory::Animated &&
                                        m_animationName.has_value() && m_frames.FrameCount() > 0);
    m_copyAction->setEnabled(shown);
    const QString replaceBlocker = ReplaceBlocker();
    m_replaceAction->setEnabled(replaceBlocker.isEmpty());
    m_replaceAction->setStatusTip(replaceBlocker.isEmpty()
                                      ? tr("Replace the file on show from an edited image")
                                      : replaceBlocker);
    m_undoReplaceAction->setEnabled(open && !m_game->LooseCategory() && !m_replaceBackups.empty());
    m_undoReplaceAction->setStatusTip(tr("Put back the file the last replacement changed"));
    m_zoomInAction->setEnabled(shown);
    m_zoomOutAction->setEnabled(shown);
    m_zoomGroup->setEnabled(shown);
    m_aspectAction->setEnabled(shown && m_picture->AspectApplies());
    const bool playable = category == ArtCategory::Animated && m_animationName.has_value() &&
                          m_frames.FrameCount() >= 2;
    m_playAction->setEnabled(playable);
    m_previousAction->setEnabled(playable);
    m_nextAction->setEnabled(playable);
}

void MainWindow::UpdateStatus()
{
    // Texts change, visibility never: the status bar hides and shows these items
    // itself around a note.
    const bool shown = m_picture->HasPicture() && m_shown.has_value();
    // A reason may be longer than the bar: cut with an ellipsis, whole in the tip
    // and in the picture box.
    constexpr int kMargins = 48;  // the size grip, spacing and the labels' own margins
    const int room = statusBar()->width() - m_zoomInfo->sizeHint().width() - kMargins;
    QString picture = m_pictureInfo->fontMetrics().elidedText(m_faultFacts, Qt::ElideRight, room);
    m_pictureInfo->setToolTip(shown ? QString() : m_faultFacts);
    if (shown) {
        picture = !m_pointerFacts.isEmpty() ? m_pointerFacts
                                            : tr("%1 \u00b7 %2\u00d7%3")
                                                  .arg(m_shownName)
                                                  .arg(m_shown->image.width)
                                                  .arg(m_shown->image.height);
    }
    m_pictureInfo->setText(picture);
    m_picture->SetNote(shown ? QString() : m_faultFacts);
    const bool animated = shown && CurrentCategory() == ArtCategory::Animated;
    // At the default size the bar has room for the pixel or the frame, not both.
    m_frameInfo->setText(animated && m_pointerFacts.isEmpty() ? FrameStatus() : QString());
    QString zoom = ScaleText(m_picture->HorizontalScale());
    if (m_picture->ShownMode() == ZoomMode::Fit) {
        zoom = tr("Fit %1").arg(zoom);
    }
    if (m_picture->AspectCorrection() && m_picture->AspectApplies()) {
        zoom += tr(" \u00b7 6:5");
    }
    m_zoomInfo->setText(shown ? zoom : QString());
}

void MainWindow::SetZoom(ZoomMode mode, int factor)
{
    m_picture->SetZoom(mode, factor);
    for (QAction* action : m_zoomGroup->actions()) {
        const int shown = action->data().isValid() ? action->data().toInt() : -1;
        const bool current = (mode == ZoomMode::Default && action == m_zoomDefaultAction) ||
                             (mode == ZoomMode::Fit && shown == 0) ||
                             (mode == ZoomMode::Factor && shown == factor);
        action->setChecked(current);
    }
    UpdateStatus();
}

void MainWindow::CopyPicture()
{
    if (!m_picture->HasPicture() || !m_shown) {
        return;
    }
    QApplication::clipboard()->setImage(ToQImage(m_shown->image, m_shown->palette));
    ShowNote(tr("Copied %1 (%2 \u00d7 %3) to the clipboard")
                 .arg(m_shownName)
                 .arg(m_shown->image.width)
                 .arg(m_shown->image.height));
}

void MainWindow::ChooseFolder()
{
    // After a folder that is no game folder, the chooser opens again where the user was.
    QString start = ToQString(GameFolderPath());
    while (true) {
        const QString chosen =
            m_prompts.AskFolder(this, tr("Choose the Vorlund game folder"), start);
        if (chosen.isEmpty() || OpenFolder(ToPath(chosen))) {
            return;
        }
        start = chosen;
    }
}

void MainWindow::ChooseFile()
{
    const QString start = ToQString(GameFolderPath());
    const QString chosen = m_prompts.AskFile(
        this, tr("Open an animation or still picture"), start,
        tr("Animations and still pictures (*.fli *.FLI *.flc *.FLC *.cel *.CEL);;All Files (*)"));
    if (!chosen.isEmpty()) {
        OpenFile(ToPath(chosen));
    }
}

bool MainWindow::OpenFile(const fs::path& file)
{
    std::optional<LooseFile> loose;
    try {
        loose = GameFolder::OpenFile(file);
    } catch (const std::exception& error) {
        const auto* failure = dynamic_cast<const Error*>(&error);
        const QString reason = failure != nullptr && failure->kind() == ErrorKind::NotFound
                                   ? tr("The file is missing or empty.")
                                   : QString::fromStdString(error.what());
        ShowMessage(tr("Cannot open %1.").arg(ToQString(file)) + QStringLiteral("\n\n") + reason,
                    MessageIcon::Critical);
        return false;
    }
    StopPlayback();
    const auto category = static_cast<int>(loose->category);
    m_replaceBackups.clear();
    m_game = std::move(loose->folder);
    m_animationName.reset();
    m_frames.Clear();
    // Not at the start, where the user has just named the file and the note
    // would cover the facts of what it shows.
    if (isVisible()) {
        ShowNote(tr("Opened %1").arg(ToQString(file)));
    }
    {
        const QScopedValueRollback guard(m_pressingOption, true);
        m_optionButtons[static_cast<std::size_t>(category)]->setChecked(true);
    }
    try {
        const std::vector<std::string> names = m_game->ReadFileList(loose->category);
        m_firstRow =
            static_cast<int>(std::find(names.begin(), names.end(), loose->name) - names.begin());
    } catch (const Error&) {
        m_firstRow = 0;  // the switch says why the list is empty
    }
    SelectCategory(category);
    return true;
}

bool MainWindow::StartWithFile(const fs::path& file)
{
    RestoreLook();
    return OpenFile(file);
}

bool MainWindow::OpenFolder(const fs::path& gameFolder)
{
    std::error_code ec;
    if (!fs::is_directory(gameFolder, ec)) {
        ForgetFolder(ToQString(gameFolder));
        ShowMessage(tr("The folder %1 is gone: it was moved, renamed or deleted.")
                        .arg(ToQString(gameFolder)),
                    MessageIcon::Critical);
        return false;
    }
    const std::string missing = GameFolder::Check(gameFolder);
    if (!missing.empty()) {
        ShowMessage(StartupMessage(missing, gameFolder, FolderOrigin::Named),
                    MessageIcon::Critical);
        return false;
    }
    StopPlayback();
    GameFolder opened = GameFolder::Open(gameFolder);
    // Undo Replace puts back only this folder's replacements.
    if (!m_game || m_game->Path() != opened.Path()) {
        m_replaceBackups.clear();
    }
    m_game = std::move(opened);
    m_animationName.reset();
    m_frames.Clear();
    RememberFolder(gameFolder);
    ShowNote(tr("Opened %1").arg(ToQString(gameFolder)));
    SelectCategory(static_cast<int>(CurrentCategory()));
    UpdateActions();
    return true;
}

QString StartupMessage(const std::string& missing, const fs::path& folder, FolderOrigin origin)
{
    QString text = QString::fromStdString(missing);
    if (origin == FolderOrigin::Named) {
        // The check's own advice, to put the program beside the game, fits only
        // the program's own folder: keep what is missing and say what belongs there.
        const auto end = text.indexOf(QStringLiteral("\r\n"));
        if (end >= 0) {
            text.truncate(end);
        }
        text += MainWindow::tr(
            "\r\n\r\nA Vorlund game folder holds the palette file PALETTE.PAL and the "
            "folders CELS3 (walls and sprites), STILLCEL (still pictures) and FLI "
            "(animations).");
    }
    return text + MainWindow::tr("\r\n\r\nFolder searched: %1").arg(ToQString(folder));
}

void MainWindow::RememberFolder(const fs::path& folder)
{
    const QString text = FolderText(folder);
    QStringList recent = RecentFolders();
    recent.removeAll(text);
    recent.prepend(text);
    while (recent.size() > kRecentFolders) {
        recent.removeLast();
    }
    QSettings().setValue(kRecentKey, recent);
}

void MainWindow::SaveView() const
{
    QSettings settings;
    settings.setValue(kGeometryKey, saveGeometry());
    int zoom = -1;
    if (m_picture->Mode() == ZoomMode::Fit) {
        zoom = 0;
    } else if (m_picture->Mode() == ZoomMode::Factor) {
        zoom = qRound(m_picture->HorizontalScale());
    }
    settings.setValue(kZoomKey, zoom);
    settings.setValue(kAspectKey, m_aspectAction->isChecked());
    // A file opened on its own is no game folder to come back to.
    if (m_game && !m_game->LooseCategory()) {
        settings.setValue(kFolderKey, FolderText(m_game->Path()));
        settings.setValue(kCategoryKey, static_cast<int>(CurrentCategory()));
        settings.setValue(kFileKey, ToQString(SelectedName().value_or(std::string())));
    }
}

void MainWindow::RestoreView()
{
    RestoreLook();
    const QSettings settings;
    int category = 0;
    QString file;
    if (m_game && settings.value(kFolderKey).toString() == FolderText(m_game->Path())) {
        category = std::clamp(settings.value(kCategoryKey).toInt(), 0,
                              static_cast<int>(kCategoryCount) - 1);
        file = settings.value(kFileKey).toString();
    }
    {
        const QScopedValueRollback guard(m_pressingOption, true);
        m_optionButtons[static_cast<std::size_t>(category)]->setChecked(true);
    }
    // The remembered file is the one loaded, not the first and then it.
    if (!file.isEmpty()) {
        try {
            const std::vector<std::string> names =
                m_game->ReadFileList(static_cast<ArtCategory>(category));
            const auto found =
                std::find_if(names.begin(), names.end(),
                             [&](const std::string& name) { return ToQString(name) == file; });
            m_firstRow = found != names.end() ? static_cast<int>(found - names.begin()) : 0;
        } catch (const Error&) {
            m_firstRow = 0;  // the switch says why the list is empty
        }
    }
    SelectCategory(category);
}

void MainWindow::RestoreLook()
{
    const QSettings settings;
    restoreGeometry(settings.value(kGeometryKey).toByteArray());
    const int zoom = settings.value(kZoomKey, -1).toInt();
    if (zoom == 0) {
        SetZoom(ZoomMode::Fit);
    } else if (std::find(std::begin(kZoomFactors), std::end(kZoomFactors), zoom) !=
               std::end(kZoomFactors)) {
        SetZoom(ZoomMode::Factor, zoom);
    }
    const bool aspect = settings.value(kAspectKey, false).toBool();
    m_aspectAction->setChecked(aspect);
    m_picture->SetAspectCorrection(aspect);
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    SaveView();
    QMainWindow::closeEvent(event);
}

void MainWindow::ForgetFolder(const QString& folder)
{
    QStringList recent = RecentFolders();
    if (recent.removeAll(folder) > 0) {
        QSettings().setValue(kRecentKey, recent);
    }
}

void MainWindow::FillRecentMenu()
{
    m_recentMenu->clear();
    // Folders that are gone are dropped rather than offered.
    QStringList recent = RecentFolders();
    const auto gone = recent.removeIf([](const QString& folder) {
        return !QFileInfo(QDir::fromNativeSeparators(folder)).isDir();
    });
    if (gone > 0) {
        QSettings().setValue(kRecentKey, recent);
    }
    for (const QString& folder : recent) {
        m_recentMenu->addAction(folder, this, [this, folder] { OpenFolder(ToPath(folder)); });
    }
    if (recent.isEmpty()) {
        m_recentMenu->addAction(tr("No folders yet"))->setEnabled(false);
    }
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event)
{
    if (!DraggedPath(event->mimeData()).isEmpty()) {
        event->acceptProposedAction();
    }
}

void MainWindow::dropEvent(QDropEvent* event)
{
    const QString path = DraggedPath(event->mimeData());
    if (path.isEmpty()) {
        return;
    }
    event->acceptProposedAction();
    if (QFileInfo(path).isDir()) {
        OpenFolder(ToPath(path));
    } else {
        OpenFile(ToPath(path));
    }
}

QString MainWindow::FrameStatus() const
{
    const int picture = m_frameBar->value();
    const auto& pictures = m_animation.pictures;
    if (picture < 1 || static_cast<std::size_t>(picture) > pictures.size()) {
        return {};
    }
    const PictureFrames& frames = pictures[static_cast<std::size_t>(picture - 1)];
    const PlaybackSchedule schedule = Schedule();
    const std::int64_t end =
        picture < schedule.PictureCount() ? schedule.StartOf(picture) : schedule.LoopLength();
    const auto milliseconds = (end - schedule.StartOf(picture - 1) + 500000) / 1000000;
    return tr("picture %1/%2 \u00b7 frame %3/%4 \u00b7 %5 ms")
        .arg(picture)
        .arg(pictures.size())
        .arg(frames.firstFrame)
        .arg(m_animation.fileFrames)
        .arg(milliseconds);
}

PlaybackSchedule MainWindow::Schedule() const
{
    // Only the pictures the seeker gives can be played.
    const std::size_t count = std::min(m_animation.pictures.size(), m_frames.FrameCount());
    return PlaybackSchedule(std::span(m_animation.pictures).first(count));
}

void MainWindow::StopPlayback()
{
    m_player->Stop();
}

void MainWindow::TogglePlayback()
{
    if (m_player->IsPlaying()) {
        m_player->Stop();
    } else if (m_playAction->isEnabled()) {
        m_player->Start(Schedule(), m_frameBar->value());
    }
}

void MainWindow::ExportArt(bool animationOnly)
{
    if (!m_game) {
        return;
    }
    StopPlayback();
    ExportRequest request;
    request.category = CurrentCategory();
    request.rotate = m_rotate->isChecked();
    if (animationOnly && m_animationName) {
        request.animation = *m_animationName;
    }
    const std::optional<ExportReport> report = m_exporter->Run(*m_game, request);
    if (!report) {
        return;
    }
    QString text =
        tr("Exported %1 to %2")
            .arg(QString::fromStdString(Counted(report->summary.imagesWritten, "image", "images")),
                 QDir::toNativeSeparators(report->choice.folder));
    if (report->summary.cancelled) {
        text += tr(" before it was cancelled");
    }
    if (!report->failures.empty()) {
        const ExportFailure& first = report->failures.front();
        text += tr("; %1 failed: %2: %3")
                    .arg(report->failures.size())
                    .arg(QString::fromStdString(first.name), QString::fromStdString(first.reason));
    }
    ShowNote(text);
}

void MainWindow::ShowAbout()
{
    QMessageBox::about(this, tr("About Varek"),
                       tr("<p><b>Varek %1</b></p>"
                          "<p>Shows and exports the artwork of Vorlund: walls and sprites, still "
                          "pictures and FLI animations.</p>"
                          "<p>Built with Qt %2, running on Qt %3.</p>"
                          "<p>Licensed under the MIT licence.</p>")
                           .arg(QCoreApplication::applicationVersion(),
                                QStringLiteral(QT_VERSION_STR), QString::fromLatin1(qVersion())));
}

}  // namespace varek
