#include "window/FileInfoDock.h"

#include <QFutureWatcher>
#include <QHeaderView>
#include <QTreeWidget>
#include <QtConcurrent/QtConcurrentRun>

namespace varek {

namespace {

void AddRows(const std::vector<FactRow>& rows, QTreeWidgetItem* parent)
{
    for (const FactRow& row : rows) {
        auto* item = new QTreeWidgetItem(
            parent, {QString::fromStdString(row.label), QString::fromStdString(row.value)});
        item->setToolTip(1, item->text(1));
        AddRows(row.rows, item);
    }
}

}  // namespace

FileInfoDock::FileInfoDock(QWidget* parent)
    : QDockWidget(tr("File Info"), parent),
      m_tree(new QTreeWidget(this)),
      m_watcher(new QFutureWatcher<FileFacts>(this))
{
    setObjectName(QStringLiteral("fileInfoDock"));
    m_tree->setObjectName(QStringLiteral("fileFacts"));
    m_tree->setColumnCount(2);
    m_tree->setHeaderLabels({tr("Fact"), tr("Value")});
    // Long values are cut, and told in full by their tooltips.
    m_tree->header()->resizeSection(0,
                                    fontMetrics().horizontalAdvance(tr("Line-compression faults")));
    m_tree->setUniformRowHeights(true);
    setWidget(m_tree);
    connect(m_watcher, &QFutureWatcher<FileFacts>::finished, this, [this] {
        m_reading = false;
        if (m_stale) {
            Read();
        } else {
            Show(m_watcher->result());
        }
    });
    connect(this, &QDockWidget::visibilityChanged, this, [this](bool visible) {
        if (visible && m_stale && !m_reading) {
            Read();
        }
    });
}

void FileInfoDock::SetFile(const std::optional<GameFolder>& game, ArtCategory category,
                           const std::optional<std::string>& name, bool reread)
{
    const bool same = m_game.has_value() == game.has_value() &&
                      (!game || m_game->Path() == game->Path()) && m_category == category &&
                      m_name == name;
    if (same && !reread) {
        return;
    }
    m_game = game;
    m_category = category;
    m_name = game ? name : std::nullopt;
    m_stale = true;
    if (isVisible() && !m_reading) {
        Read();
    }
}

void FileInfoDock::ShowPicture(int picture)
{
    if (picture != m_picture) {
        m_picture = picture;
        MarkPicture();
    }
}

void FileInfoDock::MarkPicture()
{
    if (m_pictures == nullptr || m_picture < 1 || m_picture > m_pictures->childCount()) {
        return;
    }
    QTreeWidgetItem* row = m_pictures->child(m_picture - 1);
    m_tree->setCurrentItem(row);
    m_tree->scrollToItem(row);
}

void FileInfoDock::Read()
{
    m_stale = false;
    if (!m_name) {
        Show(FileFacts{});
        return;
    }
    m_tree->clear();
    m_pictures = nullptr;
    new QTreeWidgetItem(m_tree, {tr("Reading %1...").arg(QString::fromStdString(*m_name))});
    m_reading = true;
    // Copies: the folder and the name may change while the facts are read.
    m_watcher->setFuture(QtConcurrent::run([game = *m_game, category = m_category, name = *m_name] {
        return game.DescribeFile(category, name);
    }));
}

void FileInfoDock::Show(const FileFacts& facts)
{
    m_tree->clear();
    m_pictures = nullptr;
    if (m_name) {
        auto* file = new QTreeWidgetItem(m_tree, {tr("File"), QString::fromStdString(*m_name)});
        file->setToolTip(1, file->text(1));
    }
    AddRows(facts.rows, m_tree->invisibleRootItem());
    const auto pictures = m_tree->findItems(QStringLiteral("Pictures"), Qt::MatchExactly);
    m_pictures = pictures.isEmpty() ? nullptr : pictures.front();
    MarkPicture();
    emit factsShown();
}

}  // namespace varek
