#pragma once

#include <QString>
#include <optional>

#include "art/GameFolder.h"

class QWidget;

namespace varek {

// What the user sees before a game file is replaced from an image file: the
// picture on show now beside the one the new file shows first, and the counts a
// dry run gives.
struct ReplacementPreview {
    QString target;  // "CELS3/WALL1.CEL"
    QString source;  // the image file chosen
    QString counts;  // "4,096 bytes now, 4,096 after; 1 pixel"
    std::optional<Picture> before;
    std::optional<Picture> after;
};

// The preview in a modal dialog with "Replace" and "Cancel"; true for "Replace".
bool ShowReplacePreview(QWidget* owner, const ReplacementPreview& preview);

}  // namespace varek
