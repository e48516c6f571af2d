#pragma once

#include <QAction>
#include <QButtonGroup>
#include <QCheckBox>
#include <QListWidget>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <filesystem>

#include "RecordingPrompts.h"
#include "imaging/IndexedImage.h"
#include "window/MainWindow.h"
#include "window/PictureBox.h"

namespace varek::test {

// Index (x + 7 y) % 256 at column x, row y.
inline IndexedImage Gradient(int width, int height)
{
    IndexedImage image{width, height, {}};
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            image.pixels.push_back(static_cast<std::uint8_t>((x + 7 * y) % 256));
        }
    }
    return image;
}

// The window's action whose menu text, without its '&', is text.
inline QAction* ActionNamed(MainWindow& window, const QString& text)
{
    for (QAction* action : window.findChildren<QAction*>()) {
        if (action->text().remove(u'&') == text) {
            return action;
        }
    }
    return nullptr;
}

// One real window on a game folder with every control found by its name; the
// user's answers to message boxes and the save dialog come from prompts.
struct WindowDriver {
    RecordingPrompts prompts;
    MainWindow window{prompts};
    QListWidget* list = window.findChild<QListWidget*>("File");
    PictureBox* pic = window.findChild<PictureBox*>("pic");
    QButtonGroup* opt = window.findChild<QButtonGroup*>("opt");
    QCheckBox* rotate = window.findChild<QCheckBox*>("chkRotate");
    QScrollBar* hsb = window.findChild<QScrollBar*>("hsb");
    QPushButton* save = window.findChild<QPushButton*>("cmdSave");

    bool Start(const std::filesystem::path& folder)
    {
        if (!window.Start(folder)) {
            return false;
        }
        window.show();
        // Shortcuts reach only the active window, which a loaded machine may make
        // it some time after it is exposed.
        window.activateWindow();
        return QTest::qWaitForWindowExposed(&window) && QTest::qWaitForWindowActive(&window);
    }
    void Press(int id, Qt::MouseButton button = Qt::LeftButton)
    {
        QTest::mouseClick(opt->button(id), button);
    }
    void ClickRow(int row)
    {
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                          list->visualItemRect(list->item(row)).center());
    }
};

}  // namespace varek::test
