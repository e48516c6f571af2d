#pragma once

#include <QMainWindow>
#include <QPixmap>
#include <array>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "art/GameFolder.h"
#include "art/Playback.h"
#include "fli/FliDecoder.h"
#include "imaging/BmpImage.h"
#include "imaging/Palette.h"
#include "window/PictureBox.h"
#include "window/UserPrompts.h"

class QAction;
class QActionGroup;
class QIcon;
class QButtonGroup;
class QLabel;
class QMenu;
class QToolButton;
class QCheckBox;
class QListWidget;
class QPushButton;
class QRadioButton;
class QScrollBar;
class QToolBar;

namespace varek {

class ExportRunner;
class FileInfoDock;
class GalleryDock;
class PaletteDock;
class Player;

// "Varek - v" and the version, e.g. "Varek - v0.0.4".
QString WindowTitle(int major, int minor, int patch);

// Where a game folder came from: the program's own folder, where the game keeps
// its tools, or one the user named (chooser, menu, drop, command line).
enum class FolderOrigin { Own, Named };

// The message for a game folder that fails a check: what is missing, advice that
// fits where the folder came from, then which folder was searched.
QString StartupMessage(const std::string& missing, const std::filesystem::path& folder,
                       FolderOrigin origin);

// The program's icon: the desktop theme's once installed, else the one built in.
QIcon ProgramIcon();

// The game folders opened, the last first, as the settings keep them.
QStringList RecentFolders();

// The one window. Its client area holds the file list of the chosen category on
// the left, the picture on the right with the frame scroll bar under it, the
// category buttons, "Rotate" and "Save to BMP" along the top; menus and a status
// bar lie around it. It owns the game folder, the palette every image is drawn
// with and the frames of the last animation loaded.
class MainWindow final : public QMainWindow {
    Q_OBJECT

public:
    explicit MainWindow(UserPrompts& prompts, QWidget* parent = nullptr);
    ~MainWindow() override;

    // Checks gameFolder. When everything is there, shows the first wall or
    // sprite and gives true; otherwise shows which item is missing and gives
    // false, and the window must not be shown.
    bool Start(const std::filesystem::path& gameFolder);

    // Opens another game folder, as "Open Game Folder..." does: a folder that fails
    // a check gets its message and the current folder stays. True when opened.
    bool OpenFolder(const std::filesystem::path& gameFolder);

    // Opens one animation or still picture on its own, as "Open File..." does: the
    // list then holds the files of its kind in its folder, and the categories that
    // need a game folder cannot be chosen. A file that cannot be opened so gets a
    // message saying why, and what is on show stays. True when opened.
    bool OpenFile(const std::filesystem::path& file);
    // Start for a file: the window's look restored, then the file opened.
    bool StartWithFile(const std::filesystem::path& file);

    // The game folder after a successful Start, otherwise empty.
    const std::filesystem::path& GameFolderPath() const;
    const Palette& ArtPalette() const { return m_palette; }
    // The pictures of the animation on show; at() seeks, as the frame bar does.
    FrameSeeker& Frames() { return m_frames; }
    ArtCategory CurrentCategory() const;

    // Text about the picture pixel under the pointer, shown in the status bar in
    // place of the picture's name and size; an empty text brings those back.
    void ShowPointerFacts(const QString& text);
    // How long a note in the status bar ("Saved ...", "Exported ...") stays.
    void SetNoteTimeout(int milliseconds) { m_noteTimeout = milliseconds; }
    int NoteTimeout() const { return m_noteTimeout; }

signals:
    // Once for every run of the file-click handling, after it.
    void fileClickHandled();
    // Once for every render, after it, whether or not a picture could be shown.
    void artRendered();
    // The file list was filled anew, for another category or folder.
    void listFilled();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildControls();
    void LayOutControls();
    void CreateActions();
    void CreateStatusBar();
    void CreatePlaybackBar();
    // A note in the status bar that goes after NoteTimeout().
    void ShowNote(const QString& text);
    void StepPicture(bool forward);
    // The one place that decides which actions can be used now.
    void UpdateActions();
    void UpdateStatus();
    void FillRecentMenu();
    void RememberFolder(const std::filesystem::path& folder);
    // What the window showed, kept between runs: its place and size, the zoom and
    // aspect, and for the same folder the category and file.
    void SaveView() const;
    // Restores it on the folder just opened, then shows the category.
    void RestoreView();
    // The place, size, zoom and aspect alone.
    void RestoreLook();
    // Takes a folder off the ones opened before.
    static void ForgetFolder(const QString& folder);
    void ChooseFolder();
    void ChooseFile();
    void CopyPicture();
    void SetZoom(ZoomMode mode, int factor = 1);
    void ShowAbout();
    void ExportArt(bool animationOnly);
    void StopPlayback();
    void TogglePlayback();
    PlaybackSchedule Schedule() const;
    QString FrameStatus() const;
    void SelectCategory(int index);
    void ClearPicture();
    // Lists the category's files; an empty list says why it is empty.
    void FillFileList(ArtCategory category);
    void LoadPalette();
    void HandleFileClick();
    bool LoadAnimation();
    Animation LoadInBackground(const std::string& name);

    // Why a render shows no picture.
    struct RenderFault {
        enum class Kind {
            None,
            NothingSelected,
            NoAnimation,
            CannotShow,  // file cannot be shown, for reason
            NotBuilt,    // the BMP image could not be built, as already reported
        };
        Kind kind = Kind::None;
        std::filesystem::path file;
        QString reason;
    };
    // The image on show, or why there is none.
    struct Rendering {
        std::optional<BmpImage> image;
        RenderFault fault;
    };
    // Shows the chosen file or frame, or clears the picture; tells the user
    // nothing but what the image routines report.
    Rendering RenderArt();
    Rendering RenderFrame();
    Rendering RenderFile();
    // Builds the BMP image of pixels in the palette and shows it.
    Rendering ShowPicture(const IndexedImage& pixels);
    // RenderArt, saying why nothing is shown.
    void ShowArt();
    // RenderArt, then the image saved where the user chooses.
    void SaveArt();
    // Tells the user why a render for showing, or for saving, gave no image.
    void TellRenderFault(const RenderFault& fault, bool saving);
    // Why the selection cannot be shown: in a box once for each selection (a
    // render of the same file again, as Rotate does, shows none), and in the
    // status bar until something is shown.
    void TellCannotShow(const std::filesystem::path& file, const QString& reason);
    void ForgetFault();
    QPixmap LoadPictureFromByteArray(const BmpImage& image);
    void SaveToBMP(const BmpImage& image);

    std::optional<std::string> SelectedName() const;
    void ShowMessage(const QString& text, MessageIcon icon = MessageIcon::Warning);
    // A box with the text alone, as the image routines report their failures.
    void ReportRoutine(const QString& text);

    UserPrompts& m_prompts;
    std::optional<GameFolder> m_game;
    ArtCategory m_listCategory = ArtCategory::WallsSprites;
    std::vector<std::string> m_listNames;  // as the file system gives them, one per row
    Palette m_palette;
    FrameSeeker m_frames;
    std::optional<std::string> m_animationName;  // the file m_frames came from
    Animation m_animation;                       // what its load said of the frames
    bool m_pressingOption = false;

    QListWidget* m_fileList = nullptr;
    QLabel* m_listNote = nullptr;  // over an empty list: why it is empty
    PictureBox* m_picture = nullptr;
    QButtonGroup* m_options = nullptr;
    std::array<QRadioButton*, kCategoryCount> m_optionButtons{};
    QCheckBox* m_rotate = nullptr;
    QScrollBar* m_frameBar = nullptr;
    QPushButton* m_save = nullptr;
    QWidget* m_client = nullptr;

    // What is on show, for copying and for the status bar.
    std::optional<Picture> m_shown;
    QString m_shownName;

    QAction* m_openAction = nullptr;
    QAction* m_openFileAction = nullptr;
    QMenu* m_recentMenu = nullptr;
    QAction* m_saveAction = nullptr;
    QAction* m_exportCategoryAction = nullptr;
    QAction* m_exportAnimationAction = nullptr;
    QAction* m_copyAction = nullptr;
    QActionGroup* m_zoomGroup = nullptr;
    QAction* m_zoomInAction = nullptr;
    QAction* m_zoomOutAction = nullptr;
    QAction* m_zoomDefaultAction = nullptr;
    QAction* m_aspectAction = nullptr;
    QAction* m_playAction = nullptr;
    QAction* m_previousAction = nullptr;
    QAction* m_nextAction = nullptr;
    QToolBar* m_playbackBar = nullptr;
    QToolButton* m_playButton = nullptr;
    Player* m_player = nullptr;
    ExportRunner* m_exporter = nullptr;
    QLabel* m_pictureInfo = nullptr;
    QLabel* m_frameInfo = nullptr;
    QLabel* m_zoomInfo = nullptr;
    QString m_pointerFacts;
    QString m_faultFacts;              // "NAME: reason" of the selection that cannot be shown
    std::optional<QString> m_toldFor;  // the selection whose fault has had its box
    int m_noteTimeout = 5000;
    int m_firstRow = 0;  // the row the next category switch shows

    // The modder's tools around the picture (ArtTools.cpp): the pixel under the
    // mouse in the status bar, the palette, the gallery and the file's facts.
    void CreateTools();
    void UpdateTools();
    void UpdateGallery();
    void UpdateFileInfo(bool reread);
    void UpdateHighlight();
    void InspectPixel(QPoint pixel);
    void ExportPalette();
    PaletteDock* m_paletteDock = nullptr;
    GalleryDock* m_galleryDock = nullptr;
    FileInfoDock* m_fileInfoDock = nullptr;
    QAction* m_exportPaletteAction = nullptr;
    QPoint m_hoveredPixel{-1, -1};

    // Edit > Replace from File... and Undo Replace (ReplaceArt.cpp): the file on show
    // replaced from an edited image, with a backup, and the backups this window
    // made, the newest last, which Undo Replace puts back in turn.
    void ReplaceFromFile();
    void UndoReplace();
    // The list and picture read afresh, the same file kept on show.
    void ReloadShownFile();
    // Why Replace from File... cannot be used now, or an empty text when it can.
    QString ReplaceBlocker() const;
    QAction* m_replaceAction = nullptr;
    QAction* m_undoReplaceAction = nullptr;
    std::vector<std::filesystem::path> m_replaceBackups;
    QString m_replaceFolder;  // where the last image to replace from was chosen
};

}  // namespace varek
