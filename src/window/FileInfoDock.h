#pragma once

#include <QDockWidget>
#include <optional>
#include <string>

#include "art/FileFacts.h"
#include "art/GameFolder.h"

class QTreeWidget;
class QTreeWidgetItem;
template <typename T>
class QFutureWatcher;

namespace varek {

// View > File Info: the facts of the file on show (GameFolder::DescribeFile) as a
// tree, read on the thread pool while the dock is visible.
class FileInfoDock final : public QDockWidget {
    Q_OBJECT

public:
    explicit FileInfoDock(QWidget* parent = nullptr);

    // The file to describe; none empties the dock. The same file again is read
    // again only when reread is set.
    void SetFile(const std::optional<GameFolder>& game, ArtCategory category,
                 const std::optional<std::string>& name, bool reread);
    // The row of an animation's picture (from 1) made current and scrolled to, now
    // or once the facts are read; 0 for none.
    void ShowPicture(int picture);
    QTreeWidget* Tree() const { return m_tree; }
    bool IsCurrent() const { return !m_stale && !m_reading; }

signals:
    // The facts of the file set last are on show.
    void factsShown();

private:
    void Read();
    void Show(const FileFacts& facts);
    void MarkPicture();

    QTreeWidget* m_tree;
    QFutureWatcher<FileFacts>* m_watcher;
    std::optional<GameFolder> m_game;
    ArtCategory m_category = ArtCategory::WallsSprites;
    std::optional<std::string> m_name;
    bool m_stale = false;
    bool m_reading = false;
    int m_picture = 0;
    QTreeWidgetItem* m_pictures = nullptr;  // the row holding one row a picture
};

}  // namespace varek
