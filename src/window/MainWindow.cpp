#include "window/MainWindow.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QLocale>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QScopedValueRollback>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStatusBar>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <atomic>
#include <climits>
#include <exception>
#include <new>
#include <utility>

#include "art/ArtFiles.h"
#include "art/Naming.h"
#include "imaging/BmpReader.h"
#include "util/AtomicWrite.h"
#include "util/Error.h"
#include "util/Text.h"
#include "window/BackgroundWork.h"
#include "window/ExportRunner.h"
#include "window/PathText.h"
#include "window/PictureBox.h"
#include "window/Player.h"
#include "window/QtPicture.h"

namespace fs = std::filesystem;

namespace varek {

namespace {

// Positions and sizes in twips, 15 to a pixel at 96 dots per inch.
struct ControlPlace {
    int left, top, width, height;
};

constexpr int Pixels(int twips)
{
    return twips / 15;
}

QRect PlaceOf(const ControlPlace& place)
{
    return QRect(Pixels(place.left), Pixels(place.top), Pixels(place.width), Pixels(place.height));
}

// Animations whose load may take long enough to be felt are loaded on a thread of
// their own under a progress dialog: files this long, which take a while even to
// read, and shorter ones whose outline asks for this much work, counted as the
// file's bytes and 64,000 for each picture to fill (a file of 700 KB can hold
// 16,000 pictures). Below it a load takes a few hundredths of a second.
constexpr std::uintmax_t kBackgroundLoadBytes = std::uintmax_t{16} << 20;
constexpr std::uintmax_t kBackgroundLoadWork = std::uintmax_t{8} << 20;

bool LoadMayTakeLong(const GameFolder& game, const std::string& name, const fs::path& path)
{
    std::error_code ec;
    const std::uintmax_t bytes = fs::file_size(path, ec);
    if (ec || bytes >= kBackgroundLoadBytes) {
        return !ec;
    }
    const Animation outline = game.OutlineAnimation(name);
    return bytes + outline.pictures.size() * std::uintmax_t(outline.header.width) *
                       std::uintmax_t(outline.header.height) >=
           kBackgroundLoadWork;
}

constexpr QSize kClientSize(Pixels(7695), Pixels(4785));
constexpr ControlPlace kFilePlace{120, 480, 2655, 4185};
constexpr ControlPlace kPicturePlace{2880, 480, 4800, 3855};
constexpr ControlPlace kOptionPlaces[] = {
    {120, 120, 1215, 315}, {1440, 120, 1215, 315}, {2760, 120, 1215, 315}};
constexpr ControlPlace kRotatePlace{4320, 120, 975, 345};
constexpr ControlPlace kFrameBarPlace{2880, 4440, 4695, 255};
constexpr ControlPlace kSavePlace{6360, 120, 1215, 315};

// The texts the window shows when something goes wrong.
QString FailureText(bool save, const fs::path& file, const QString& reason)
{
    // Saving renders first, so what fails there is the showing.
    const QString what = save ? MainWindow::tr("Nothing was saved: %1 cannot be shown.")
                              : MainWindow::tr("Cannot show %1.");
    return what.arg(ToQString(file)) + QStringLiteral("\n\n") + reason;
}

QString MissingFileReason()
{
    return MainWindow::tr("The file is missing or empty.");
}

// What went wrong, in words: a missing file, the lack of memory, or the library's
// description.
QString ReasonOf(const std::exception& error)
{
    if (dynamic_cast<const std::bad_alloc*>(&error) != nullptr) {
        return MainWindow::tr("There is not enough memory for it.");
    }
    const auto* failure = dynamic_cast<const Error*>(&error);
    if (failure != nullptr && failure->kind() == ErrorKind::NotFound) {
        return MissingFileReason();
    }
    return QString::fromStdString(error.what());
}

QString NotBuiltReason()
{
    return MainWindow::tr("The image could not be built, so nothing was saved.");
}

// The text with a zero-width space after every separator, so that a narrow label
// can wrap a long path.
QString BreakablePaths(QString text)
{
    return text.replace(QDir::separator(), QString(QDir::separator()) + QChar(0x200B));
}

// The layout's sizes suit a small system font; rather than cut captions off,
// the buttons share a font made smaller until every caption fits.
void FitCaptions(const QList<QAbstractButton*>& buttons)
{
    const auto allFit = [&] {
        return std::all_of(buttons.begin(), buttons.end(), [](const QAbstractButton* button) {
            return button->sizeHint().width() <= button->width();
        });
    };
    QFont font = buttons.front()->font();
    while (!allFit() && font.pointSizeF() > 6.0) {
        font.setPointSizeF(font.pointSizeF() - 0.5);
        for (QAbstractButton* button : buttons) {
            button->setFont(font);
        }
    }
}

}  // namespace

QString WindowTitle(int major, int minor, int patch)
{
    return QStringLiteral("%1 - v%2.%3.%4")
        .arg(QString::fromLatin1(kProgramName))
        .arg(major)
        .arg(minor)
        .arg(patch);
}

QIcon ProgramIcon()
{
    QIcon builtIn;
    for (const char* size : {"48", "256"}) {
        builtIn.addFile(QStringLiteral(":/icons/varek-%1.png").arg(QLatin1String(size)));
    }
    return QIcon::fromTheme(QStringLiteral(VAREK_APP_ID), builtIn);
}

MainWindow::MainWindow(UserPrompts& prompts, QWidget* parent)
    : QMainWindow(parent),
      m_prompts(prompts),
      m_player(new Player(this)),
      m_exporter(new ExportRunner(prompts, this))
{
    setObjectName(QStringLiteral("frm"));
    setWindowTitle(WindowTitle(VAREK_VERSION_MAJOR, VAREK_VERSION_MINOR, VAREK_VERSION_PATCH));
    setWindowIcon(ProgramIcon());
    BuildControls();
    CreateActions();
    CreatePlaybackBar();
    CreateStatusBar();
    CreateTools();
    setAcceptDrops(true);
    // The client area at its own size, with the menu and status bars around it.
    resize(sizeHint());
    UpdateActions();
}

MainWindow::~MainWindow() = default;

void MainWindow::BuildControls()
{
    m_client = new QWidget(this);
    m_client->setObjectName(QStringLiteral("client"));
    m_client->setMinimumSize(kClientSize);
    m_client->resize(kClientSize);
    m_client->installEventFilter(this);
    setCentralWidget(m_client);
    QWidget* const client = m_client;

    m_fileList = new QListWidget(client);
    m_fileList->setObjectName(QStringLiteral("File"));
    m_fileList->setSelectionMode(QAbstractItemView::SingleSelection);
    m_fileList->setGeometry(PlaceOf(kFilePlace));
    m_listNote = new QLabel(m_fileList->viewport());
    m_listNote->setObjectName(QStringLiteral("listNote"));
    m_listNote->setWordWrap(true);
    m_listNote->setAlignment(Qt::AlignCenter);
    m_listNote->setForegroundRole(QPalette::PlaceholderText);
    m_listNote->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_listNote->hide();
    (new QVBoxLayout(m_fileList->viewport()))->addWidget(m_listNote);

    m_picture = new PictureBox(client);
    m_picture->setObjectName(QStringLiteral("pic"));
    m_picture->setFocusPolicy(Qt::TabFocus);
    m_picture->setGeometry(PlaceOf(kPicturePlace));

    m_options = new QButtonGroup(this);
    m_options->setObjectName(QStringLiteral("opt"));
    m_options->setExclusive(true);
    for (int i = 0; i < static_cast<int>(kCategoryCount); ++i) {
        auto* button = new QRadioButton(tr(InfoOf(static_cast<ArtCategory>(i)).caption), client);
        button->setObjectName(QStringLiteral("opt%1").arg(i));
        button->setGeometry(PlaceOf(kOptionPlaces[i]));
        button->installEventFilter(this);
        m_options->addButton(button, i);
        m_optionButtons[static_cast<std::size_t>(i)] = button;
    }
    m_optionButtons[0]->setChecked(true);

    m_rotate = new QCheckBox(tr("Rotate"), client);
    m_rotate->setObjectName(QStringLiteral("chkRotate"));
    m_rotate->setGeometry(PlaceOf(kRotatePlace));
    m_rotate->setChecked(true);
    m_rotate->installEventFilter(this);

    m_frameBar = new FrameBar(client);
    m_frameBar->setObjectName(QStringLiteral("hsb"));
    m_frameBar->setGeometry(PlaceOf(kFrameBarPlace));
    m_frameBar->setSingleStep(1);
    m_frameBar->setPageStep(1);
    // A tab stop that a click focuses too, so the keys step through the frames.
    m_frameBar->setFocusPolicy(Qt::StrongFocus);

    m_save = new QPushButton(tr("Save to BMP"), client);
    m_save->setObjectName(QStringLiteral("cmdSave"));
    m_save->setGeometry(PlaceOf(kSavePlace));
    m_save->installEventFilter(this);

    FitCaptions(m_options->buttons() + QList<QAbstractButton*>{m_rotate, m_save});

    QWidget* const tabOrder[] = {
        m_fileList,         m_picture, m_optionButtons[0], m_optionButtons[1],
        m_optionButtons[2], m_rotate,  m_frameBar,         m_save};
    for (std::size_t i = 1; i < std::size(tabOrder); ++i) {
        setTabOrder(tabOrder[i - 1], tabOrder[i]);
    }

    connect(m_fileList, &QListWidget::currentRowChanged, this, [this](int row) {
        if (row >= 0) {
            HandleFileClick();
        }
    });
    // A mouse press is handled in eventFilter; this catches the keyboard, which
    // moves the choice with the arrow keys, so list and category never part.
    connect(m_options, &QButtonGroup::idToggled, this, [this](int id, bool checked) {
        if (checked && !m_pressingOption) {
            SelectCategory(id);
        }
    });
    connect(m_rotate, &QCheckBox::toggled, this, &MainWindow::ShowArt);
    connect(m_frameBar, &QScrollBar::valueChanged, this, &MainWindow::ShowArt);
    // A step the user takes by hand ends playback; the player's own steps do not.
    connect(m_frameBar, &QScrollBar::actionTriggered, this, [this] { StopPlayback(); });
    connect(m_save, &QPushButton::clicked, this, &MainWindow::SaveArt);
}

void MainWindow::LayOutControls()
{
    // The top row stays; the list grows in height, the picture and its frame bar
    // take the rest. At the default size every control is where it always was.
    const QSize extra = (m_client->size() - kClientSize).expandedTo(QSize(0, 0));
    m_fileList->setGeometry(PlaceOf(kFilePlace).adjusted(0, 0, 0, extra.height()));
    m_picture->setGeometry(PlaceOf(kPicturePlace).adjusted(0, 0, extra.width(), extra.height()));
    m_frameBar->setGeometry(
        PlaceOf(kFrameBarPlace).translated(0, extra.height()).adjusted(0, 0, extra.width(), 0));
}

bool MainWindow::Start(const fs::path& gameFolder)
{
    try {
        m_game = GameFolder::Open(gameFolder);
    } catch (const Error& error) {
        ShowMessage(StartupMessage(error.detail(), gameFolder, FolderOrigin::Named),
                    MessageIcon::Critical);
        return false;
    }
    RememberFolder(gameFolder);
    RestoreView();
    return true;
}

const fs::path& MainWindow::GameFolderPath() const
{
    static const fs::path none;
    return m_game ? m_game->Path() : none;
}

void MainWindow::ReportRoutine(const QString& text)
{
    ShowMessage(text, MessageIcon::None);
}

void MainWindow::ShowMessage(const QString& text, MessageIcon icon)
{
    // Before the window is first shown there is nothing to attach the box to.
    TellUser(m_prompts, isVisible() ? this : nullptr, text, icon);
}

ArtCategory MainWindow::CurrentCategory() const
{
    return static_cast<ArtCategory>(std::max(m_options->checkedId(), 0));
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_client && event->type() == QEvent::Resize) {
        LayOutControls();
    }
    if (event->type() == QEvent::ShortcutOverride &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Space &&
        qobject_cast<QAbstractButton*>(watched) != nullptr) {
        // Space presses the button that has the focus, as everywhere else; the
        // window's Space (Play) is for the list, the picture and the frame bar.
        event->accept();
        return true;
    }
    // The second press of a double click comes as its own event type.
    if (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick) {
        const int id = m_options->id(qobject_cast<QAbstractButton*>(watched));
        if (id >= 0) {
            {
                const QScopedValueRollback guard(m_pressingOption, true);
                m_options->button(id)->setChecked(true);
            }
            SelectCategory(id);
            // Consumed: the button has done its work on the press, and a message
            // box opened by the switch must not leave it half pressed.
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::SelectCategory(int index)
{
    if (!m_game || index < 0 || index >= static_cast<int>(kCategoryCount) ||
        (m_game->LooseCategory() && static_cast<int>(*m_game->LooseCategory()) != index)) {
        return;
    }
    const auto category = static_cast<ArtCategory>(index);
    StopPlayback();
    ForgetFault();
    ClearPicture();
    FillFileList(category);
    if (category == ArtCategory::WallsSprites) {
        LoadPalette();
    }
    UpdateActions();
    // The first file, or once the file remembered from the last run.
    const int first = std::clamp(std::exchange(m_firstRow, 0), 0, m_fileList->count() - 1);
    if (m_fileList->count() > 0) {
        // The refill left no row current, so this always raises currentRowChanged
        // and the file-click handling runs exactly once.
        if (m_fileList->currentRow() != first) {
            m_fileList->setCurrentRow(first);
        } else {
            HandleFileClick();
        }
    }
    // Focus comes last: a list that gains focus with no current row makes its
    // first row current by itself, which would run the handling a second time.
    m_fileList->setFocus();
    UpdateActions();
    UpdateStatus();
}

void MainWindow::ClearPicture()
{
    m_picture->Clear();
    m_shown.reset();
}

void MainWindow::FillFileList(ArtCategory category)
{
    m_listCategory = category;
    const QString folder = ToQString(m_game->CategoryFolder(category));
    QString note;
    try {
        m_listNames = m_game->ReadFileList(category);
        if (m_listNames.empty()) {
            note = tr("%1 holds no files to show.").arg(folder);
        }
    } catch (const Error& error) {
        m_listNames.clear();
        const QString reason = QString::fromStdString(error.what());
        note = tr("Cannot list %1.").arg(folder) + QStringLiteral("\n\n") + reason;
        ShowNote(tr("Cannot list %1: %2").arg(folder, reason));
    }
    {
        const QSignalBlocker blocker(m_fileList);
        m_fileList->clear();
        for (const std::string& name : m_listNames) {
            m_fileList->addItem(ToQString(name));
        }
        m_fileList->setCurrentRow(-1);
    }
    m_listNote->setText(BreakablePaths(note));
    m_listNote->setVisible(!note.isEmpty());
    emit listFilled();
}

std::optional<std::string> MainWindow::SelectedName() const
{
    const int row = m_fileList->currentRow();
    if (row < 0 || row >= static_cast<int>(m_listNames.size())) {
        return std::nullopt;
    }
    return m_listNames[static_cast<std::size_t>(row)];
}

void MainWindow::LoadPalette()
{
    const WallPalette loaded = m_game->LoadWallPalette();
    m_palette = loaded.palette;
    const fs::path source = m_game->Entry(kPaletteFileName);
    if (loaded.fault && loaded.fault->kind() == ErrorKind::CannotRead) {
        ShowMessage(FailureText(false, source, ReasonOf(*loaded.fault)));
    } else if (!loaded.complete()) {
        ShowMessage(tr("%1 holds %2 of the 256 colours of a palette; the others are shown black.")
                        .arg(ToQString(source))
                        .arg(loaded.entriesRead));
    }
}

void MainWindow::HandleFileClick()
{
    StopPlayback();
    ForgetFault();
    const bool render = CurrentCategory() != ArtCategory::Animated || LoadAnimation();
    if (render) {
        ShowArt();
    } else {
        ClearPicture();
    }
    emit fileClickHandled();
}

bool MainWindow::LoadAnimation()
{
    const auto name = SelectedName();
    if (!name) {
        return false;
    }
    const fs::path path = m_game->FilePath(ArtCategory::Animated, *name);
    m_animationName = *name;
    try {
        m_animation = LoadMayTakeLong(*m_game, *name, path)
                          ? LoadInBackground(*name)
                          : m_game->LoadAnimation(*name, m_frames);
    } catch (const std::bad_alloc&) {
        m_frames.Clear();
        m_animation = Animation{};
        m_animation.stop = Error(ErrorKind::TooLarge, "there is not enough memory for its frames");
    }
    const Animation& animation = m_animation;
    const int frames = static_cast<int>(std::min<std::size_t>(m_frames.FrameCount(), INT_MAX));
    {
        // One render follows, of frame 1, wherever the bar stood before.
        const QSignalBlocker blocker(m_frameBar);
        // With no frames the bar stands at 1 of 1, and rendering says why
        // nothing is shown.
        m_frameBar->setRange(1, std::max(frames, 1));
        m_frameBar->setValue(1);
    }
    if (!animation.lineFaults.empty()) {
        // One box for the whole load, however many chunks were faulty: its first
        // line is the first fault, as a single fault was always shown, then the
        // other faults kept and a count of the rest.
        const auto faults = animation.lineFaultCount() + (animation.stop ? 1 : 0);
        QString text = QStringLiteral("Error: ");
        for (const Error& fault : animation.lineFaults) {
            text += QString::fromStdString(fault.what()) + QLatin1Char('\n');
        }
        if (animation.moreLineFaults > 0) {
            text += tr("and %1 more.")
                        .arg(QString::fromStdString(WithThousands(animation.moreLineFaults))) +
                    QLatin1Char('\n');
        }
        text += QLatin1Char('\n') +
                (faults == 1
                     ? tr("%1: 1 fault while loading.").arg(ToQString(path))
                     : tr("%1: %2 faults while loading.")
                           .arg(ToQString(path), QString::fromStdString(WithThousands(faults))));
        if (animation.stop) {
            text += QLatin1Char(' ') +
                    tr("It could not be read to its end: %1").arg(ReasonOf(*animation.stop));
        }
        text += QStringLiteral("\n\n") +
                (frames == 1 ? tr("The one frame decoded can be viewed.")
                             : tr("The %1 frames decoded can be viewed.").arg(frames));
        ReportRoutine(text);
        return true;
    }
    if (!animation.stop) {
        return true;
    }
    const QString fault = ReasonOf(*animation.stop);
    if (frames == 0) {
        TellCannotShow(path, fault);
        return false;
    }
    const QString kept =
        frames == 1 ? tr("The one frame decoded before the fault can be viewed.")
                    : tr("The %1 frames decoded before the fault can be viewed.").arg(frames);
    ShowMessage(tr("%1 could not be read to its end.").arg(ToQString(path)) +
                QStringLiteral("\n\n") + fault + QStringLiteral("\n\n") + kept);
    return true;
}

Animation MainWindow::LoadInBackground(const std::string& name)
{
    // The last animation's frames go first: they are not shown again.
    m_frames.Clear();
    FrameSeeker seeker;
    std::atomic<std::int32_t> framesRead{0};
    std::atomic<std::int32_t> frameCount{0};
    std::atomic<bool> cancel{false};
    Animation animation;

    // The window stays drawn and answers, but takes no input until the load ends.
    QProgressDialog progress(tr("Loading %1...").arg(ToQString(name)), tr("Cancel"), 0, 0, this);
    progress.setWindowTitle(QString::fromLatin1(kProgramName));
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(300);
    connect(&progress, &QProgressDialog::canceled, this, [&] { cancel = true; });
    QTimer refresh;
    connect(&refresh, &QTimer::timeout, this, [&] {
        progress.setMaximum(std::max(frameCount.load(), 1));
        progress.setValue(std::min(framesRead.load(), progress.maximum() - 1));
    });
    refresh.start(20);
    RunInBackground(
        [&] {
            animation =
                m_game->LoadAnimation(name, seeker, [&](std::int32_t read, std::int32_t count) {
                    framesRead = read;
                    frameCount = count;
                    return !cancel;
                });
        },
        &progress);
    refresh.stop();
    m_frames = std::move(seeker);
    if (animation.cancelled) {
        ShowNote(tr("Loading %1 was cancelled after %2 of %3 frames")
                     .arg(ToQString(name))
                     .arg(framesRead.load())
                     .arg(frameCount.load()));
    }
    return animation;
}

void MainWindow::ShowArt()
{
    const Rendering rendering = RenderArt();
    TellRenderFault(rendering.fault, false);
    emit artRendered();
}

void MainWindow::SaveArt()
{
    const Rendering rendering = RenderArt();
    TellRenderFault(rendering.fault, true);
    emit artRendered();
    if (rendering.image) {
        SaveToBMP(*rendering.image);
    }
}

void MainWindow::TellRenderFault(const RenderFault& fault, bool saving)
{
    switch (fault.kind) {
        case RenderFault::Kind::None:
            break;
        case RenderFault::Kind::NothingSelected:
            if (saving) {
                ShowMessage(tr("There is nothing to save: no file is selected in the list."));
            }
            break;
        case RenderFault::Kind::NoAnimation:
            ShowMessage(tr("No animation has been loaded yet: choose one from the list."));
            break;
        case RenderFault::Kind::CannotShow:
            if (saving) {
                ShowMessage(FailureText(true, fault.file, fault.reason));
            } else {
                TellCannotShow(fault.file, fault.reason);
            }
            break;
        case RenderFault::Kind::NotBuilt:
            if (saving) {
                ShowMessage(NotBuiltReason());
            }
            break;
    }
}

void MainWindow::TellCannotShow(const fs::path& file, const QString& reason)
{
    const QString name = ToQString(file.filename());
    m_faultFacts = tr("%1: %2").arg(name, reason.simplified());
    const QString selection = ToQString(file);
    if (m_toldFor != selection) {
        m_toldFor = selection;
        ShowMessage(FailureText(false, file, reason));
    }
    UpdateStatus();
}

void MainWindow::ForgetFault()
{
    m_faultFacts.clear();
    m_toldFor.reset();
}

MainWindow::Rendering MainWindow::RenderArt()
{
    return CurrentCategory() == ArtCategory::Animated ? RenderFrame() : RenderFile();
}

MainWindow::Rendering MainWindow::RenderFrame()
{
    if (!m_animationName) {
        ClearPicture();
        return {std::nullopt, {RenderFault::Kind::NoAnimation, {}, {}}};
    }
    const fs::path path = m_game->FilePath(ArtCategory::Animated, *m_animationName);
    const int frame = m_frameBar->value();
    if (m_frames.FrameCount() == 0) {
        ClearPicture();
        return {std::nullopt,
                {RenderFault::Kind::CannotShow, path, tr("The animation holds no frames.")}};
    }
    if (frame < 1 || static_cast<std::size_t>(frame) > m_frames.FrameCount()) {
        ClearPicture();
        return {std::nullopt,
                {RenderFault::Kind::CannotShow, path,
                 tr("It has no frame %1; its frames are 1 to %2.")
                     .arg(frame)
                     .arg(m_frames.FrameCount())}};
    }
    const FrameRecord& record = m_frames.at(static_cast<std::size_t>(frame));
    // The frame's colours stay in the palette until something replaces them.
    m_palette = record.Colors;
    m_shownName = ToQString(*m_animationName);
    return ShowPicture(FrameImage(record));
}

MainWindow::Rendering MainWindow::RenderFile()
{
    const auto name = SelectedName();
    if (!name) {
        ClearPicture();
        return {std::nullopt, {RenderFault::Kind::NothingSelected, {}, {}}};
    }
    Picture picture;
    try {
        picture = m_listCategory == ArtCategory::WallsSprites
                      ? m_game->LoadWall(*name, m_palette, m_rotate->isChecked())
                      : m_game->LoadStill(*name);
    } catch (const std::exception& error) {
        ClearPicture();
        return {std::nullopt,
                {RenderFault::Kind::CannotShow, m_game->FilePath(m_listCategory, *name),
                 ReasonOf(error)}};
    }
    m_palette = picture.palette;
    m_shownName = ToQString(*name);
    return ShowPicture(picture.image);
}

MainWindow::Rendering MainWindow::ShowPicture(const IndexedImage& pixels)
{
    BmpImage image;
    try {
        image = BuildBmpImage(pixels, m_palette);
    } catch (const std::exception&) {
        ReportRoutine(QStringLiteral("AddBMPHeader"));
        ClearPicture();
        return {std::nullopt, {RenderFault::Kind::NotBuilt, {}, {}}};
    }
    const bool enlarge = pixels.width <= kWallSize && pixels.height <= kWallSize;
    m_picture->SetPicture(LoadPictureFromByteArray(image), enlarge);
    m_shown = Picture{pixels, m_palette};
    m_faultFacts.clear();
    return {std::move(image), {}};
}

// The picture of a BMP file image as the builder lays it out, every pixel the
// colour of its index in the palette (the image's own colour table is not used).
QPixmap MainWindow::LoadPictureFromByteArray(const BmpImage& image)
{
    QImage converted;
    try {
        converted = ToQImage(ReadBmpPixels(image), m_palette);
    } catch (const std::exception&) {
        ReportRoutine(QStringLiteral("LoadPictureFromByteArray"));
        return {};
    }
    if (converted.isNull()) {
        return {};
    }
    QPixmap picture = QPixmap::fromImage(converted);
    if (picture.isNull()) {
        ReportRoutine(QStringLiteral("CreatePictureFromBitmap"));
    }
    return picture;
}

void MainWindow::SaveToBMP(const BmpImage& image)
{
    const bool animated = CurrentCategory() == ArtCategory::Animated;
    const std::string source =
        animated ? m_animationName.value_or(std::string()) : SelectedName().value_or(std::string());
    const std::optional<int> frame =
        animated ? std::optional<int>(m_frameBar->value()) : std::nullopt;

    SaveDialogRequest request;
    request.filters = {tr("Bitmap Files (*.bmp)"), tr("All Files (*)")};
    request.title = tr("Save image as...");
    request.initialFolder = ToQString(GameFolderPath());
    request.defaultExtension = QStringLiteral("bmp");
    request.fileName = ToQString(SuggestedName(source, frame));
    request.filterIndex = 0;

    const QString chosen = m_prompts.AskSavePath(this, request);
    if (chosen.isEmpty()) {
        return;
    }
    try {
        WriteFileAtomically(ToPath(chosen), image);
    } catch (const std::exception& error) {
        ShowMessage(tr("The image was not saved.\n\n%1").arg(ReasonOf(error)));
        return;
    }
    const QString path = QDir::toNativeSeparators(chosen);
    ShowNote(tr("Saved %1 (%2 bytes) to %3")
                 .arg(QFileInfo(chosen).fileName(),
                      QLocale().toString(static_cast<qulonglong>(image.size())), path));
}

}  // namespace varek
