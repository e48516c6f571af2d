#pragma once

#include <QDockWidget>
#include <QFuture>
#include <QImage>
#include <optional>
#include <string>
#include <vector>

#include "art/GameFolder.h"

class QListWidget;
template <typename T>
class QFutureWatcher;

namespace varek {

// A file's thumbnail, or why it has none.
struct Thumbnail {
    QImage image;
    QString fault;
};

// The first picture of a file (GameFolder::LoadFirstPicture, walls in the
// folder's PALETTE.PAL) made to fit a square of side pixels: small pictures
// enlarged by the largest whole factor that fits, larger ones shrunk smoothly.
// Safe on any thread; never throws.
Thumbnail MakeThumbnail(const GameFolder& game, ArtCategory category, const std::string& name,
                        int side);

// View > Gallery: the files of a category as thumbnails in a grid that reflows as
// the dock is resized. Thumbnails are made on the thread pool while the gallery is
// visible; each appears as it is ready, and a file that cannot be shown gets a
// crossed-out placeholder whose tooltip says why. A click or Enter on one chooses it.
class GalleryDock final : public QDockWidget {
    Q_OBJECT

public:
    static constexpr int kThumbnailSide = 96;
    // What an item's Qt::UserRole holds.
    enum class ItemState { Waiting, Shown, Damaged };

    explicit GalleryDock(QWidget* parent = nullptr);
    ~GalleryDock() override;

    // The files shown; with no folder the gallery empties.
    void SetFiles(const std::optional<GameFolder>& game, ArtCategory category,
                  const std::vector<std::string>& names);
    void SetCurrent(int row);
    QListWidget* View() const { return m_view; }
    // Every file has its thumbnail or its placeholder.
    bool IsFilled() const { return m_waiting == 0; }

signals:
    void fileChosen(int row);
    void filled();

private:
    void MakeThumbnails();
    void Receive(int begin, int end);

    QListWidget* m_view;
    QFutureWatcher<Thumbnail>* m_watcher;
    QFuture<Thumbnail> m_future;
    std::optional<GameFolder> m_game;
    ArtCategory m_category = ArtCategory::WallsSprites;
    std::vector<std::string> m_names;
    bool m_stale = false;  // thumbnails not made yet for the files shown
    int m_waiting = 0;
};

}  // namespace varek
