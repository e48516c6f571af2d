#pragma once

#include <QDialog>
#include <QString>
#include <optional>

#include "export/Exporter.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;

namespace varek {

// What the export dialog is opened with.
struct ExportChoiceRequest {
    QString title;
    QString description;    // what will be exported, in a sentence or two
    QString subFolder;      // the folder inside the chosen one the images go to, "FLI"
    QString initialFolder;  // proposed in the folder field
    ImageFormat format = ImageFormat::Bmp;  // chosen at first
    int scale = 1;
    bool sheet = false;
};

// The user's answer: the folder to export into, the image format, the whole
// factor the pictures are enlarged by and whether sprite sheets are written
// (whatever the format, as PNG).
struct ExportChoice {
    QString folder;  // absolute, with '/' separators
    ImageFormat format = ImageFormat::Bmp;
    int scale = 1;
    bool sheet = false;

    bool operator==(const ExportChoice&) const = default;
};

// A folder field with a "Browse..." button, the image format, the scale, the
// sprite-sheet choice (which sets the format aside), the folder the images will go
// to, and "Export", enabled while a folder is given.
class ExportDialog final : public QDialog {
    Q_OBJECT

public:
    ExportDialog(QWidget* owner, const ExportChoiceRequest& request);

    ExportChoice Choice() const;

private:
    void Browse();
    void UpdateTarget();

    QString m_subFolder;
    QLineEdit* m_folder = nullptr;
    QComboBox* m_format = nullptr;
    QSpinBox* m_scale = nullptr;
    QCheckBox* m_sheet = nullptr;
    QLabel* m_target = nullptr;
    QPushButton* m_export = nullptr;
};

// Shows the export dialog modally: the choice, or nothing on cancel.
std::optional<ExportChoice> ShowExportDialog(QWidget* owner, const ExportChoiceRequest& request);

}  // namespace varek
