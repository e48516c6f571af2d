#pragma once

#include <QWidget>
#include <array>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "fli/FrameStore.h"
#include "imaging/BmpImage.h"
#include "imaging/Palette.h"
#include "util/ErrorReporter.h"
#include "util/GameFolder.h"
#include "window/UserPrompts.h"

class QButtonGroup;
class QCheckBox;
class QListWidget;
class QPushButton;
class QRadioButton;
class QScrollBar;

namespace varek {

class PictureBox;

// "Varek - v" and the version, e.g. "Varek - v0.0.4".
QString WindowTitle(int major, int minor, int patch);

// The one window: the file list of the chosen category on the left, the picture
// on the right with the frame scroll bar under it, the category buttons, "Rotate"
// and "Save to BMP" along the top. It owns the game folder, the palette every
// image is drawn with and the frames of the last animation loaded.
class MainWindow final : public QWidget, public ErrorReporter {
    Q_OBJECT

public:
    explicit MainWindow(UserPrompts& prompts, QWidget* parent = nullptr);
    ~MainWindow() override;

    // Checks gameFolder. When everything is there, shows the first wall or
    // sprite and gives true; otherwise shows which item is missing and gives
    // false, and the window must not be shown.
    bool Start(const std::filesystem::path& gameFolder);

    // Library routines report their failures here: a box with the text alone.
    void ReportError(std::string_view message) override;

    const std::filesystem::path& GameFolder() const { return m_gameFolder; }
    const Palette& ArtPalette() const { return m_palette; }
    const FrameStore& Frames() const { return m_frames; }
    ArtCategory CurrentCategory() const;

signals:
    // Once for every run of the file-click handling, after it.
    void fileClickHandled();
    // Once for every render, after it, whether or not a picture could be shown.
    void artRendered();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildControls();
    void SelectCategory(int index);
    void UpdateEnabledStates();
    void FillFileList(const std::filesystem::path& folder, const std::string& pattern);
    bool LoadPalette();
    void HandleFileClick();
    bool LoadAnimation();
    void RenderArt(bool save);
    std::optional<BmpImage> BuildFrameImage(bool save);
    std::optional<BmpImage> BuildFileImage(bool save);
    void ShowPicture(const BmpImage& image, bool enlarge);
    void SaveToBMP(const BmpImage& image);

    std::optional<std::string> SelectedName() const;
    void ShowMessage(const QString& text, MessageIcon icon = MessageIcon::Warning);

    UserPrompts& m_prompts;
    std::filesystem::path m_gameFolder;
    std::filesystem::path m_listFolder;
    std::vector<std::string> m_listNames;  // as the file system gives them, one per row
    Palette m_palette;
    FrameStore m_frames;
    std::optional<std::string> m_animationName;  // the file m_frames came from
    bool m_pressingOption = false;

    QListWidget* m_fileList = nullptr;
    PictureBox* m_picture = nullptr;
    QButtonGroup* m_options = nullptr;
    std::array<QRadioButton*, 3> m_optionButtons{};
    QCheckBox* m_rotate = nullptr;
    QScrollBar* m_frameBar = nullptr;
    QPushButton* m_save = nullptr;
};

}  // namespace varek
