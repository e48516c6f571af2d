// Edit > Replace from File... and Undo Replace: the file on show replaced from an
// edited image by the rules, backup and undo varek-import follows, and put back.
#include <QAction>
#include <QCheckBox>
#include <QListWidget>
#include <QProgressDialog>
#include <QRegularExpression>
#include <functional>
#include <map>
#include <memory>

#include "art/ArtFiles.h"
#include "art/GameBackup.h"
#include "art/Replacement.h"
#include "fli/FliFormat.h"
#include "util/FileRead.h"
#include "util/Text.h"
#include "window/BackgroundWork.h"
#include "window/MainWindow.h"
#include "window/PathText.h"

namespace fs = std::filesystem;

namespace varek {

namespace {

// The sources that replace the file whose name without extension is targetStem:
// the chosen image under the target's name, or for an animation, when the image
// is numbered (NAME-001.png), every image of its sequence beside it, renumbered
// after the target as varek-export names them. The file names decide nothing
// more: the target is the file on show.
std::vector<ImportSource> SourcesFor(const fs::path& chosen, ArtCategory category,
                                     const std::string& targetStem)
{
    const std::string folder = InfoOf(category).subFolder;
    const std::string extension = chosen.extension().string();
    static const QRegularExpression numbered(QStringLiteral("^(.*)-([0-9]{1,5})$"));
    const QRegularExpressionMatch match = numbered.match(ToQString(chosen.stem().string()));
    if (category != ArtCategory::Animated || !match.hasMatch() || LowerAscii(extension) == ".gif") {
        return {{folder, targetStem + extension, chosen}};
    }
    std::vector<ImportSource> sources;
    std::error_code ec;
    for (const fs::directory_entry& entry : fs::directory_iterator(chosen.parent_path(), ec)) {
        const fs::path& path = entry.path();
        const QRegularExpressionMatch each = numbered.match(ToQString(path.stem().string()));
        if (each.hasMatch() &&
            each.captured(1).compare(match.captured(1), Qt::CaseInsensitive) == 0 &&
            LowerAscii(path.extension().string()) == LowerAscii(extension) &&
            !IsHiddenName(path.filename().string()) && entry.is_regular_file(ec)) {
            sources.push_back(
                {folder, targetStem + "-" + each.captured(2).toStdString() + extension, path});
        }
    }
    return sources;
}

// The first picture of a game file's new bytes, as the window will show it.
Picture FirstPictureOf(ArtCategory category, const std::string& target, const ByteArray& bytes,
                       const Palette& wallPalette, bool rotated)
{
    if (category == ArtCategory::WallsSprites) {
        return {BuildWallImage(bytes, rotated), wallPalette};
    }
    std::array<bool, kCategoryCount> needed{};
    needed[static_cast<std::size_t>(category)] = true;
    const GameFolder folder = GameFolder::Open(
        std::make_shared<MemorySource>(std::map<std::string, ByteArray>{{target, bytes}}), needed);
    return folder.LoadFirstPicture(category, fs::path(target).filename().string(), wallPalette);
}

// Runs work off the GUI thread under a busy dialog that shows after a moment, so
// a large animation leaves the window drawn; rethrows what work threw.
void RunBusy(QWidget* owner, const QString& text, const std::function<void()>& work)
{
    QProgressDialog progress(text, QString(), 0, 0, owner);
    progress.setWindowTitle(QString::fromLatin1(kProgramName));
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(300);
    progress.setValue(0);
    RunInBackground(work, &progress);
}

}  // namespace

QString MainWindow::ReplaceBlocker() const
{
    if (!m_game) {
        return tr("Open a game folder to replace its art.");
    }
    if (m_game->LooseCategory()) {
        return tr(
            "A file opened on its own cannot be replaced: a replacement needs its game "
            "folder, for the palette and the backup. Open the game folder instead.");
    }
    if (!SelectedName()) {
        return tr("Choose the file to replace in the list.");
    }
    return {};
}

void MainWindow::ReplaceFromFile()
{
    if (!ReplaceBlocker().isEmpty()) {
        return;
    }
    StopPlayback();
    const ArtCategory category = m_listCategory;
    const std::string name = *SelectedName();
    const QString filter =
        category == ArtCategory::Animated
            ? tr("GIF animations and the first image of a numbered sequence (*.gif *.png "
                 "*.bmp);;All Files (*)")
            : tr("Images (*.png *.bmp *.gif);;All Files (*)");
    const QString chosenText = m_prompts.AskFile(
        this, tr("Replace %1 from File").arg(ToQString(name)),
        m_replaceFolder.isEmpty() ? ToQString(m_game->Path()) : m_replaceFolder, filter);
    if (chosenText.isEmpty()) {
        return;
    }
    const fs::path chosen = ToPath(chosenText);
    m_replaceFolder = ToQString(chosen.parent_path());
    const auto refuse = [&](const QString& reason) {
        ShowMessage(tr("%1 was not replaced.").arg(ToQString(name)) + QStringLiteral("\n\n") +
                    reason);
    };

    const ReplacementPlan plan =
        PlanReplacements(*m_game, SourcesFor(chosen, category, fs::path(name).stem().string()));
    const fs::path target = m_game->FilePath(category, name);
    if (!plan.refused.empty()) {
        const auto& [path, reason] = plan.refused.front();
        refuse(ToQString(path) + QStringLiteral(": ") + ToQString(reason));
        return;
    }
    if (plan.replacements.size() != 1 || plan.replacements.front().path != target) {
        refuse(tr("%1 names another file of the game.").arg(chosenText));
        return;
    }
    const Replacement& replacement = plan.replacements.front();

    // A long animation takes a while to build: the window stays drawn meanwhile.
    ByteArray old;
    ByteArray bytes;
    ReplacementReport report;
    // An animation's first pictures are set side by side, whichever is on show.
    std::optional<Picture> before = m_shown;
    std::optional<Picture> after;
    std::optional<std::string> failure;
    const bool rotated = m_rotate->isChecked();
    RunBusy(this, tr("Reading %1...").arg(chosenText), [&] {
        try {
            old = ReadFileBytes(target, kMaxFliFileBytes);
            bytes = BuildReplacement(*m_game, replacement, old, ReplacementOptions{}, report);
        } catch (const std::exception& error) {
            failure = error.what();
            return;
        }
        try {
            if (category == ArtCategory::Animated) {
                before = m_game->LoadFirstPicture(category, name, m_palette);
            }
            after = FirstPictureOf(category, replacement.target, bytes, m_palette, rotated);
        } catch (const std::exception&) {
            // The preview shows no picture; the counts still tell what changes.
        }
    });
    if (failure) {
        refuse(ToQString(replacement.target) + QStringLiteral(": ") + ToQString(*failure));
        return;
    }
    if (bytes == old) {
        ShowMessage(tr("%1 already holds what %2 shows: nothing to replace.")
                        .arg(ToQString(replacement.target), chosenText),
                    MessageIcon::None);
        return;
    }
    const ReplacementPreview preview{
        ToQString(replacement.target), chosenText,
        ToQString(WithThousands(old.size()) + " bytes now, " + WithThousands(bytes.size()) +
                  " after; " + DescribeReport(report, replacement.kind)),
        std::move(before), std::move(after)};
    if (!m_prompts.ConfirmReplacement(this, preview)) {
        return;
    }

    const std::vector<GameFileChange> changes{
        {target, fs::relative(target, m_game->Path()), std::move(bytes)}};
    fs::path backup;
    try {
        RunBusy(this, tr("Writing %1...").arg(ToQString(target)), [&] {
            backup = BackUpGameFiles(m_game->Path(), changes);
            WriteGameFiles(changes);
        });
    } catch (const std::exception& error) {
        // Each file is renamed into place whole: a failure leaves the old one.
        ShowMessage(
            (backup.empty()
                 ? tr("Nothing was replaced: the backup failed.")
                 : tr("%1 was not replaced; it is as it was.").arg(ToQString(replacement.target))) +
                QStringLiteral("\n\n") + ToQString(std::string(error.what())),
            MessageIcon::Critical);
        return;
    }
    m_replaceBackups.push_back(backup);
    ReloadShownFile();
    ShowNote(tr("Replaced %1; the old file is in %2")
                 .arg(ToQString(replacement.target), ToQString(backup)));
}

void MainWindow::UndoReplace()
{
    if (m_replaceBackups.empty() || !m_game) {
        return;
    }
    StopPlayback();
    const fs::path backup = m_replaceBackups.back();
    std::error_code ec;
    if (!fs::is_directory(backup, ec)) {
        m_replaceBackups.pop_back();
        UpdateActions();
        ShowMessage(
            tr("The backup %1 is gone: there is nothing to put back.").arg(ToQString(backup)));
        return;
    }
    try {
        // What the undo replaces is backed up in turn, as varek-import --undo does.
        RunBusy(this, tr("Putting back %1...").arg(ToQString(backup)), [&] {
            const std::vector<GameFileChange> changes = RestoreChanges(m_game->Path(), backup);
            if (!changes.empty()) {
                BackUpGameFiles(m_game->Path(), changes);
                WriteGameFiles(changes);
            }
        });
    } catch (const std::exception& error) {
        ShowMessage(tr("The replacement could not be undone from %1.").arg(ToQString(backup)) +
                        QStringLiteral("\n\n") + ToQString(std::string(error.what())),
                    MessageIcon::Critical);
        return;
    }
    m_replaceBackups.pop_back();
    ReloadShownFile();
    ShowNote(tr("Put back the files of %1").arg(ToQString(backup)));
}

void MainWindow::ReloadShownFile()
{
    m_firstRow = std::max(m_fileList->currentRow(), 0);
    SelectCategory(static_cast<int>(m_listCategory));
}

}  // namespace varek
