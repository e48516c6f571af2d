#include "window/ReplacePreview.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

#include "window/QtPicture.h"
#include "window/UserPrompts.h"

namespace varek {

namespace {

// A picture enlarged by the largest whole factor (up to 4) that keeps it within
// 320 x 240, so a 64 x 64 wall is not a speck beside a 320 x 200 still.
QLabel* PictureLabel(const std::optional<Picture>& picture, QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setAlignment(Qt::AlignCenter);
    const QImage image = picture ? ToQImage(picture->image, picture->palette) : QImage();
    if (image.isNull()) {
        label->setText(QObject::tr("(nothing to show)"));
        return label;
    }
    const int factor = std::clamp(
        std::min(320 / std::max(image.width(), 1), 240 / std::max(image.height(), 1)), 1, 4);
    label->setPixmap(QPixmap::fromImage(image.scaled(image.size() * factor)));
    return label;
}

}  // namespace

bool ShowReplacePreview(QWidget* owner, const ReplacementPreview& preview)
{
    QDialog dialog(owner);
    dialog.setWindowTitle(QObject::tr("Replace %1").arg(preview.target));
    auto* layout = new QVBoxLayout(&dialog);
    auto* intro = new QLabel(
        QObject::tr("Replace %1 with the picture of %2?").arg(preview.target, preview.source),
        &dialog);
    intro->setWordWrap(true);
    layout->addWidget(intro);
    auto* pictures = new QGridLayout;
    pictures->addWidget(new QLabel(QObject::tr("Now"), &dialog), 0, 0, Qt::AlignHCenter);
    pictures->addWidget(new QLabel(QObject::tr("After"), &dialog), 0, 1, Qt::AlignHCenter);
    pictures->addWidget(PictureLabel(preview.before, &dialog), 1, 0);
    pictures->addWidget(PictureLabel(preview.after, &dialog), 1, 1);
    layout->addLayout(pictures);
    auto* counts = new QLabel(preview.counts, &dialog);
    counts->setObjectName(QStringLiteral("counts"));
    counts->setWordWrap(true);
    layout->addWidget(counts);
    auto* note = new QLabel(
        QObject::tr("The file is copied to the game folder's backup first; Edit \u203a Undo "
                    "Replace puts it back."),
        &dialog);
    note->setWordWrap(true);
    layout->addWidget(note);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, &dialog);
    QPushButton* replace =
        buttons->addButton(QObject::tr("&Replace"), QDialogButtonBox::AcceptRole);
    replace->setDefault(true);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout->addWidget(buttons);
    return dialog.exec() == QDialog::Accepted;
}

}  // namespace varek
