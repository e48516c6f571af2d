#include "dialogs/ExportDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "imaging/WebpImage.h"
#include "imaging/Enlarge.h"

namespace varek {

namespace {

// The folder named by text: "~" stands for the home folder, and a relative name
// is taken from the current folder, as a shell would.
QString AbsoluteFolder(const QString& text)
{
    QString folder = QDir::fromNativeSeparators(text.trimmed());
    if (folder == u'~' || folder.startsWith(QStringLiteral("~/"))) {
        folder = QDir::homePath() + folder.mid(1);
    }
    return folder.isEmpty() ? QString() : QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
}

}  // namespace

ExportDialog::ExportDialog(QWidget* owner, const ExportChoiceRequest& request)
    : QDialog(owner), m_subFolder(request.subFolder)
{
    setWindowTitle(request.title);

    auto* description = new QLabel(request.description, this);
    description->setWordWrap(true);

    m_folder = new QLineEdit(QDir::toNativeSeparators(request.initialFolder), this);
    m_folder->setObjectName(QStringLiteral("folder"));
    m_folder->setMinimumWidth(360);
    auto* browse = new QPushButton(tr("Browse..."), this);
    browse->setObjectName(QStringLiteral("browse"));
    auto* folderRow = new QHBoxLayout;
    folderRow->addWidget(m_folder, 1);
    folderRow->addWidget(browse);

    m_format = new QComboBox(this);
    m_format->setObjectName(QStringLiteral("format"));
    m_format->addItem(tr("BMP, 8-bit"), static_cast<int>(ImageFormat::Bmp));
    m_format->addItem(tr("PNG, 8-bit indexed"), static_cast<int>(ImageFormat::Png));
    m_format->addItem(tr("GIF, animations as one looping file"),
                      static_cast<int>(ImageFormat::Gif));
    m_format->addItem(tr("APNG, animations exact in one looping PNG file"),
                      static_cast<int>(ImageFormat::Apng));
    if (WebpSupported()) {
        m_format->addItem(tr("WebP, lossless, animations as one looping file"),
                          static_cast<int>(ImageFormat::Webp));
    }
    m_format->setCurrentIndex(m_format->findData(static_cast<int>(request.format)));

    m_scale = new QSpinBox(this);
    m_scale->setObjectName(QStringLiteral("scale"));
    m_scale->setRange(kMinScale, kMaxScale);
    m_scale->setSuffix(QStringLiteral("x"));
    m_scale->setValue(request.scale);
    m_scale->setToolTip(tr("Every picture enlarged by whole pixels, each pixel a square"));

    m_sheet = new QCheckBox(tr("Sprite sheets: one PNG and its JSON for each animation, "
                               "one for the walls, one for the stills"),
                            this);
    m_sheet->setObjectName(QStringLiteral("sheet"));
    m_sheet->setChecked(request.sheet);
    m_format->setEnabled(!request.sheet);

    m_target = new QLabel(this);
    m_target->setObjectName(QStringLiteral("target"));
    m_target->setWordWrap(true);
    m_target->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, this);
    m_export = buttons->addButton(tr("Export"), QDialogButtonBox::AcceptRole);
    m_export->setDefault(true);

    auto* form = new QFormLayout;
    form->addRow(tr("Folder:"), folderRow);
    form->addRow(tr("Format:"), m_format);
    form->addRow(tr("Scale:"), m_scale);
    form->addRow(QString(), m_sheet);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(description);
    layout->addLayout(form);
    layout->addWidget(m_target);
    layout->addWidget(buttons);

    connect(browse, &QPushButton::clicked, this, &ExportDialog::Browse);
    connect(m_folder, &QLineEdit::textChanged, this, &ExportDialog::UpdateTarget);
    // A sheet is always PNG.
    connect(m_sheet, &QCheckBox::toggled, m_format, [this](bool on) { m_format->setEnabled(!on); });
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    UpdateTarget();
}

ExportChoice ExportDialog::Choice() const
{
    return {AbsoluteFolder(m_folder->text()),
            static_cast<ImageFormat>(m_format->currentData().toInt()), m_scale->value(),
            m_sheet->isChecked()};
}

void ExportDialog::Browse()
{
    const QString chosen =
        QFileDialog::getExistingDirectory(this, tr("Export to folder"), Choice().folder);
    if (!chosen.isEmpty()) {
        m_folder->setText(QDir::toNativeSeparators(chosen));
    }
}

void ExportDialog::UpdateTarget()
{
    const QString folder = Choice().folder;
    m_export->setEnabled(!folder.isEmpty());
    m_target->setText(folder.isEmpty()
                          ? tr("Choose the folder to export into.")
                          : tr("The images are written to %1.")
                                .arg(QDir::toNativeSeparators(folder + u'/' + m_subFolder)));
}

std::optional<ExportChoice> ShowExportDialog(QWidget* owner, const ExportChoiceRequest& request)
{
    ExportDialog dialog(owner, request);
    if (dialog.exec() != QDialog::Accepted) {
        return std::nullopt;
    }
    return dialog.Choice();
}

}  // namespace varek
