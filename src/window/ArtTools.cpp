// The tools a modder reaches for, around the picture: the file pixel under the
// mouse in the status bar, the palette dock with its export, the gallery and the
// file's facts. The client area is in MainWindow.cpp, the menus in ViewerActions.cpp.
#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScrollBar>
#include <QStatusBar>

#include "art/ArtFiles.h"
#include "imaging/PaletteFile.h"
#include "util/AtomicWrite.h"
#include "window/FileInfoDock.h"
#include "window/GalleryDock.h"
#include "window/MainWindow.h"
#include "window/PaletteDock.h"
#include "window/PathText.h"

namespace varek {

namespace {

// The menu of the menu bar holding action.
QMenu* MenuOf(QMenuBar* bar, const QAction* action)
{
    for (QAction* entry : bar->actions()) {
        if (entry->menu() != nullptr && entry->menu()->actions().contains(action)) {
            return entry->menu();
        }
    }
    return nullptr;
}

}  // namespace

void MainWindow::CreateTools()
{
    m_paletteDock = new PaletteDock(this);
    m_fileInfoDock = new FileInfoDock(this);
    m_galleryDock = new GalleryDock(this);
    // The palette beside the picture; the gallery and the facts, which want width,
    // side by side under everything.
    addDockWidget(Qt::RightDockWidgetArea, m_paletteDock);
    addDockWidget(Qt::BottomDockWidgetArea, m_galleryDock);
    addDockWidget(Qt::BottomDockWidgetArea, m_fileInfoDock);
    QMenu* view = MenuOf(menuBar(), m_aspectAction);
    view->addSeparator();
    for (QDockWidget* dock :
         {static_cast<QDockWidget*>(m_paletteDock), static_cast<QDockWidget*>(m_galleryDock),
          static_cast<QDockWidget*>(m_fileInfoDock)}) {
        // The window opens as it always did; each tool is shown from the menu.
        dock->hide();
        view->addAction(dock->toggleViewAction());
    }
    m_paletteDock->toggleViewAction()->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_P));
    m_galleryDock->toggleViewAction()->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_G));
    m_fileInfoDock->toggleViewAction()->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_I));

    m_exportPaletteAction = new QAction(tr("Export &Palette..."), this);
    QMenu* file = MenuOf(menuBar(), m_exportAnimationAction);
    const auto entries = file->actions();
    file->insertAction(entries.value(entries.indexOf(m_exportAnimationAction) + 1),
                       m_exportPaletteAction);
    connect(m_exportPaletteAction, &QAction::triggered, this, &MainWindow::ExportPalette);
    connect(m_paletteDock->ExportButton(), &QPushButton::clicked, m_exportPaletteAction,
            &QAction::trigger);

    connect(m_picture, &PictureBox::pixelHovered, this, &MainWindow::InspectPixel);
    connect(m_paletteDock->Grid(), &PaletteGrid::selectedChanged, this,
            &MainWindow::UpdateHighlight);
    connect(this, &MainWindow::artRendered, this, &MainWindow::UpdateTools);
    // The file on show changes only through the list: its facts are read then,
    // afresh even for the same file chosen again.
    connect(this, &MainWindow::fileClickHandled, this, [this] {
        UpdateTools();
        UpdateFileInfo(true);
    });
    connect(this, &MainWindow::listFilled, this, [this] {
        UpdateGallery();
        UpdateTools();
        UpdateFileInfo(false);
    });
    connect(m_galleryDock, &GalleryDock::fileChosen, m_fileList,
            [this](int row) { m_fileList->setCurrentRow(row); });
    connect(m_fileList, &QListWidget::currentRowChanged, m_galleryDock, &GalleryDock::SetCurrent);
}

void MainWindow::UpdateTools()
{
    const bool shown = m_picture->HasPicture() && m_shown.has_value();
    m_paletteDock->Grid()->SetColors(shown ? std::optional(m_shown->palette) : std::nullopt);
    m_paletteDock->ExportButton()->setEnabled(shown);
    m_exportPaletteAction->setEnabled(shown);
    UpdateHighlight();
    // A new frame under a still mouse: its pixel may hold another index now.
    InspectPixel(m_hoveredPixel);
    const bool animated = m_listCategory == ArtCategory::Animated;
    m_fileInfoDock->ShowPicture(animated && shown ? m_frameBar->value() : 0);
}

void MainWindow::UpdateGallery()
{
    m_galleryDock->SetFiles(m_game, m_listCategory, m_listNames);
    m_galleryDock->SetCurrent(m_fileList->currentRow());
}

void MainWindow::UpdateFileInfo(bool reread)
{
    const bool animated = m_listCategory == ArtCategory::Animated;
    m_fileInfoDock->SetFile(m_game, m_listCategory, animated ? m_animationName : SelectedName(),
                            reread);
}

void MainWindow::UpdateHighlight()
{
    const int index = m_paletteDock->Grid()->Selected();
    const bool shown = m_picture->HasPicture() && m_shown.has_value();
    if (shown && index >= 0) {
        m_picture->SetOverlay(IndexHighlight(m_shown->image, index));
    } else if (m_picture->HasOverlay()) {
        m_picture->SetOverlay({});
    }
}

void MainWindow::InspectPixel(QPoint pixel)
{
    m_hoveredPixel = pixel;
    const bool shown = m_picture->HasPicture() && m_shown.has_value();
    if (!shown || pixel.x() < 0 || pixel.x() >= m_shown->image.width ||
        pixel.y() >= m_shown->image.height) {
        ShowPointerFacts(QString());
        m_paletteDock->Grid()->SetMarked(-1);
        return;
    }
    const std::size_t at =
        static_cast<std::size_t>(pixel.y()) * static_cast<std::size_t>(m_shown->image.width) +
        static_cast<std::size_t>(pixel.x());
    const int index = m_shown->image.pixels[at];
    // Coordinates are the file's: a turned wall's pixel is found where the file has it.
    const bool turned = m_listCategory == ArtCategory::WallsSprites && m_rotate->isChecked();
    const PixelPlace place = WallFilePixel({pixel.x(), pixel.y()}, turned);
    ShowPointerFacts(tr("%1, %2 \u00b7 ").arg(place.x).arg(place.y) +
                     ColourText(index, m_shown->palette[static_cast<std::size_t>(index)]));
    m_paletteDock->Grid()->SetMarked(index);
}

void MainWindow::ExportPalette()
{
    if (!m_picture->HasPicture() || !m_shown) {
        return;
    }
    const bool animated = CurrentCategory() == ArtCategory::Animated;
    QString base = QFileInfo(m_shownName).completeBaseName();
    if (animated) {
        base += QStringLiteral("-%1").arg(m_frameBar->value());
    }
    SaveDialogRequest request;
    request.filters = {tr("GIMP Palette (*.gpl)"), tr("JASC Palette (*.pal)"),
                       tr("Adobe Colour Table (*.act)")};
    request.title = tr("Export palette as...");
    request.initialFolder = ToQString(GameFolderPath());
    request.defaultExtension = QStringLiteral("gpl");
    request.fileName = base + QStringLiteral(".gpl");
    const QString chosen = m_prompts.AskSavePath(this, request);
    if (chosen.isEmpty()) {
        return;
    }
    const PaletteFileFormat format = PaletteFileFormatOf(ToPath(chosen).filename().string());
    try {
        WriteFileAtomically(ToPath(chosen), EncodePaletteFile(m_shown->palette, format));
    } catch (const std::exception& error) {
        ShowMessage(
            tr("The palette was not exported.\n\n%1").arg(QString::fromStdString(error.what())));
        return;
    }
    ShowNote(
        tr("Exported the palette of %1 to %2").arg(m_shownName, QDir::toNativeSeparators(chosen)));
}

}  // namespace varek
