#include "window/GalleryDock.h"

#include <QFutureWatcher>
#include <QListWidget>
#include <QPainter>
#include <QtConcurrent/QtConcurrentMap>
#include <algorithm>
#include <new>

#include "window/QtPicture.h"

namespace varek {

namespace {

QIcon Placeholder(bool damaged)
{
    const int side = GalleryDock::kThumbnailSide;
    QPixmap pixmap(side, side);
    pixmap.fill(Qt::transparent);
    if (damaged) {
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF box(side * 0.15, side * 0.15, side * 0.7, side * 0.7);
        painter.fillRect(box, QColor(200, 200, 200));
        painter.setPen(QPen(QColor(200, 30, 30), 5));
        painter.drawLine(box.topLeft(), box.bottomRight());
        painter.drawLine(box.topRight(), box.bottomLeft());
    }
    return QIcon(pixmap);
}

}  // namespace

Thumbnail MakeThumbnail(const GameFolder& game, ArtCategory category, const std::string& name,
                        int side)
{
    Thumbnail thumbnail;
    try {
        const Palette wallPalette =
            category == ArtCategory::WallsSprites ? game.LoadWallPalette().palette : Palette{};
        const Picture picture = game.LoadFirstPicture(category, name, wallPalette);
        const QImage image = ToQImage(picture.image, picture.palette);
        const int factor = side / std::max(image.width(), image.height());
        thumbnail.image =
            factor >= 1
                ? image.scaled(image.size() * factor, Qt::IgnoreAspectRatio, Qt::FastTransformation)
                : image.convertToFormat(QImage::Format_RGB32)
                      .scaled(side, side, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    } catch (const std::bad_alloc&) {
        thumbnail.fault = GalleryDock::tr("There is not enough memory for it.");
    } catch (const std::exception& error) {
        thumbnail.fault = QString::fromStdString(error.what());
    }
    return thumbnail;
}

GalleryDock::GalleryDock(QWidget* parent)
    : QDockWidget(tr("Gallery"), parent),
      m_view(new QListWidget(this)),
      m_watcher(new QFutureWatcher<Thumbnail>(this))
{
    setObjectName(QStringLiteral("galleryDock"));
    m_view->setObjectName(QStringLiteral("gallery"));
    m_view->setViewMode(QListView::IconMode);
    m_view->setResizeMode(QListView::Adjust);
    m_view->setMovement(QListView::Static);
    m_view->setWrapping(true);
    m_view->setUniformItemSizes(true);
    m_view->setSelectionMode(QAbstractItemView::SingleSelection);
    m_view->setIconSize(QSize(kThumbnailSide, kThumbnailSide));
    m_view->setGridSize(QSize(kThumbnailSide + 20, kThumbnailSide + 2 * fontMetrics().height()));
    m_view->setTextElideMode(Qt::ElideMiddle);
    setWidget(m_view);

    connect(m_watcher, &QFutureWatcher<Thumbnail>::resultsReadyAt, this, &GalleryDock::Receive);
    const auto choose = [this](const QModelIndex& index) {
        if (index.isValid()) {
            emit fileChosen(index.row());
        }
    };
    connect(m_view, &QListWidget::clicked, this, choose);
    connect(m_view, &QListWidget::activated, this, choose);
    connect(this, &QDockWidget::visibilityChanged, this, [this](bool visible) {
        if (visible && m_stale) {
            MakeThumbnails();
        }
    });
}

GalleryDock::~GalleryDock()
{
    // The workers hold copies of what they read; results nobody waits for are dropped.
    m_future.cancel();
}

void GalleryDock::SetFiles(const std::optional<GameFolder>& game, ArtCategory category,
                           const std::vector<std::string>& names)
{
    m_future.cancel();
    m_watcher->setFuture(QFuture<Thumbnail>());
    m_game = game;
    m_category = category;
    m_names = game ? names : std::vector<std::string>{};
    m_view->clear();
    const QIcon waiting = Placeholder(false);
    for (const std::string& name : m_names) {
        auto* item = new QListWidgetItem(waiting, QString::fromStdString(name), m_view);
        item->setData(Qt::UserRole, static_cast<int>(ItemState::Waiting));
    }
    m_waiting = static_cast<int>(m_names.size());
    m_stale = m_waiting > 0;
    if (m_stale && isVisible()) {
        MakeThumbnails();
    } else if (m_waiting == 0) {
        emit filled();
    }
}

void GalleryDock::SetCurrent(int row)
{
    if (row >= 0 && row < m_view->count() && row != m_view->currentRow()) {
        m_view->setCurrentRow(row);
    }
}

void GalleryDock::MakeThumbnails()
{
    m_stale = false;
    const GameFolder game = *m_game;
    const ArtCategory category = m_category;
    m_future = QtConcurrent::mapped(m_names, [=](const std::string& name) {
        return MakeThumbnail(game, category, name, kThumbnailSide);
    });
    m_watcher->setFuture(m_future);
}

void GalleryDock::Receive(int begin, int end)
{
    const QIcon damaged = Placeholder(true);
    for (int row = begin; row < end; ++row) {
        QListWidgetItem* item = m_view->item(row);
        if (item == nullptr ||
            item->data(Qt::UserRole).toInt() != static_cast<int>(ItemState::Waiting)) {
            continue;
        }
        const Thumbnail thumbnail = m_future.resultAt(row);
        if (thumbnail.image.isNull()) {
            item->setIcon(damaged);
            item->setToolTip(thumbnail.fault);
            item->setData(Qt::UserRole, static_cast<int>(ItemState::Damaged));
        } else {
            item->setIcon(QIcon(QPixmap::fromImage(thumbnail.image)));
            item->setToolTip(item->text());
            item->setData(Qt::UserRole, static_cast<int>(ItemState::Shown));
        }
        if (--m_waiting == 0) {
            emit filled();
        }
    }
}

}  // namespace varek
