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
#include <QLocale>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QScrollBar>
#include <QSettings>
#include <QStatusBar>
#include <QToolButton>
#include <QUrl>

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

// The local folder a drag carries, or an empty text.
QString DraggedFolder(const QMimeData* data)
{
    if (data == nullptr || !data->hasUrls() || data->urls().size() != 1) {
        return {};
    }
    const QUrl url = data->urls().front();
    if (!url.isLocalFile() || !QFileInfo(url.toLocalFile()).isDir()) {
        return {};
    }
    return url.toLocalFile();
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

    QMenu* animation = menuBar()->addMenu(tr("&Animation"));
    m_playAction = animation->addAction(tr("&Play"), this, &MainWindow::TogglePlayback);
    m_playAction->setShortcut(QKeySequence(Qt::Key_Space));
    connect(m_player, &Player::pictureDue, m_frameBar, &QScrollBar::setValue);
    connect(m_player, &Player::playingChanged, this, [this](bool playing) {
        m_playAction->setText(playing ? tr("&Pause") : tr("&Play"));
        m_playButton->setText(playing ? tr("Pause") : tr("Play"));
    });

    QMenu* help = menuBar()->addMenu(tr("&Help"));
    help->addAction(tr("&About Varek"), this, &MainWindow::ShowAbout);

    connect(this, &MainWindow::artRendered, this, [this] {
        UpdateActions();
        UpdateStatus();
    });
}

void MainWindow::CreateStatusBar()
{
    // The client area keeps its size, so the play button sits just under the
    // frame bar, at the left of the status bar.
    m_playButton = new QToolButton(this);
    m_playButton->setObjectName(QStringLiteral("cmdPlay"));
    m_playButton->setText(tr("Play"));
    m_playButton->setAutoRaise(true);
    m_playButton->setFocusPolicy(Qt::NoFocus);
    connect(m_playButton, &QToolButton::clicked, this, &MainWindow::TogglePlayback);
    statusBar()->addWidget(m_playButton);
    m_pictureInfo = new QLabel(this);
    m_pictureInfo->setObjectName(QStringLiteral("pictureInfo"));
    m_frameInfo = new QLabel(this);
    m_frameInfo->setObjectName(QStringLiteral("frameInfo"));
    m_zoomInfo = new QLabel(this);
    m_zoomInfo->setObjectName(QStringLiteral("zoomInfo"));
    statusBar()->addPermanentWidget(m_pictureInfo);
    statusBar()->addPermanentWidget(m_frameInfo);
    statusBar()->addPermanentWidget(m_zoomInfo);
}

void MainWindow::UpdateActions()
{
    const ArtCategory category = CurrentCategory();
    const bool open = m_game.has_value();
    const bool shown = m_picture->HasPicture() && m_shown.has_value();
    m_rotate->setEnabled(category == ArtCategory::WallsSprites);
    m_frameBar->setEnabled(category == ArtCategory::Animated);
    // The button always answers: with nothing to save, it says so.
    m_save->setEnabled(true);
    m_saveAction->setEnabled(open);
    m_exportCategoryAction->setEnabled(open && !m_listNames.empty());
    m_exportAnimationAction->setEnabled(open && category == ArtCategory::Animated &&
                                        m_animationName.has_value());
    m_copyAction->setEnabled(shown);
    m_zoomInAction->setEnabled(shown);
    m_zoomOutAction->setEnabled(shown);
    m_zoomGroup->setEnabled(shown);
    m_aspectAction->setEnabled(shown);
    const bool playable = category == ArtCategory::Animated && m_animationName.has_value() &&
                          m_frames.FrameCount() >= 2;
    m_playAction->setEnabled(playable);
    m_playButton->setEnabled(playable);
    m_playButton->setVisible(category == ArtCategory::Animated);
}

void MainWindow::UpdateStatus()
{
    const bool shown = m_picture->HasPicture() && m_shown.has_value();
    m_pictureInfo->setText(shown ? tr("%1 \u00b7 %2 \u00d7 %3")
                                       .arg(m_shownName)
                                       .arg(m_shown->image.width)
                                       .arg(m_shown->image.height)
                                 : QString());
    const bool animated = shown && CurrentCategory() == ArtCategory::Animated;
    m_frameInfo->setVisible(animated);
    if (animated) {
        m_frameInfo->setText(FrameStatus());
    }
    const double scale = m_picture->HorizontalScale();
    QString zoom = m_picture->Mode() == ZoomMode::Fit
                       ? tr("Fit (%1%)").arg(qRound(scale * 100))
                       : tr("%1\u00d7").arg(QLocale().toString(scale, 'g', 3));
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
    statusBar()->showMessage(tr("Copied %1 (%2 \u00d7 %3) to the clipboard")
                                 .arg(m_shownName)
                                 .arg(m_shown->image.width)
                                 .arg(m_shown->image.height));
}

void MainWindow::ChooseFolder()
{
    const QString chosen = m_prompts.AskFolder(this, tr("Choose the Vorlund game folder"),
                                               ToQString(GameFolderPath()));
    if (!chosen.isEmpty()) {
        OpenFolder(ToPath(chosen));
    }
}

bool MainWindow::OpenFolder(const fs::path& gameFolder)
{
    const std::string missing = GameFolder::Check(gameFolder);
    if (!missing.empty()) {
        ShowMessage(StartupMessage(missing, gameFolder), MessageIcon::Critical);
        return false;
    }
    StopPlayback();
    m_game = GameFolder::Open(gameFolder);
    m_animationName.reset();
    m_frames.Reset();
    m_frames.ReleaseUnused();
    RememberFolder(gameFolder);
    statusBar()->showMessage(tr("Opened %1").arg(ToQString(gameFolder)));
    SelectCategory(static_cast<int>(CurrentCategory()));
    UpdateActions();
    return true;
}

QString StartupMessage(const std::string& missing, const fs::path& folder)
{
    return QString::fromStdString(missing) +
           MainWindow::tr("\r\n\r\nFolder searched: %1").arg(ToQString(folder));
}

void MainWindow::RememberFolder(const fs::path& folder)
{
    std::error_code ec;
    const fs::path absolute = fs::absolute(folder, ec);
    const QString text = ToQString(ec ? folder : absolute.lexically_normal());
    QStringList recent = RecentFolders();
    recent.removeAll(text);
    recent.prepend(text);
    while (recent.size() > kRecentFolders) {
        recent.removeLast();
    }
    QSettings().setValue(kRecentKey, recent);
}

void MainWindow::FillRecentMenu()
{
    m_recentMenu->clear();
    const QStringList recent = RecentFolders();
    for (const QString& folder : recent) {
        m_recentMenu->addAction(folder, this, [this, folder] { OpenFolder(ToPath(folder)); });
    }
    if (recent.isEmpty()) {
        m_recentMenu->addAction(tr("No folders yet"))->setEnabled(false);
    }
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event)
{
    if (!DraggedFolder(event->mimeData()).isEmpty()) {
        event->acceptProposedAction();
    }
}

void MainWindow::dropEvent(QDropEvent* event)
{
    const QString folder = DraggedFolder(event->mimeData());
    if (!folder.isEmpty()) {
        event->acceptProposedAction();
        OpenFolder(ToPath(folder));
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
    return tr("picture %1 of %2 \u00b7 file frame %3 of %4 \u00b7 %5 ms")
        .arg(picture)
        .arg(pictures.size())
        .arg(frames.firstFrame)
        .arg(m_animation.fileFrames)
        .arg(milliseconds);
}

PlaybackSchedule MainWindow::Schedule() const
{
    // The store holds the pictures decoded, which a load that stopped early may
    // say less of than the file.
    const std::size_t count = std::min(m_animation.pictures.size(), m_frames.FrameCount());
    return PlaybackSchedule(std::span(m_animation.pictures).first(count), m_animation.speed);
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
    statusBar()->showMessage(text);
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
