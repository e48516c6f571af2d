#include "window/Program.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QCursor>
#include <QDockWidget>
#include <QFile>
#include <QMouseEvent>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <system_error>

#include "util/ByteSource.h"
#include "window/MainWindow.h"
#include "window/PathText.h"
#include "window/PictureBox.h"

namespace fs = std::filesystem;

namespace varek {

namespace {

constexpr int kStartFailed = 1;
constexpr int kBadArguments = 2;
constexpr int kScreenshotWait = 5000;  // ms; for a folder with nothing to paint
constexpr int kPlayingWait = 1500;     // ms of playback before the picture is taken

fs::path FolderOf(const QString& argument)
{
    std::error_code ec;
    fs::path folder = fs::absolute(ToPath(argument), ec);
    folder = folder.lexically_normal();
    if (!folder.has_filename() && folder.has_parent_path() && folder != folder.root_path()) {
        folder = folder.parent_path();
    }
    return folder;
}

std::int64_t NowNanoseconds()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

void TraceStartup(MainWindow& window, const QByteArray& launchedAt)
{
    bool numeric = false;
    const qint64 givenStart = launchedAt.toLongLong(&numeric);
    const std::int64_t start = numeric ? givenStart : NowNanoseconds();
    auto* picture = window.findChild<PictureBox*>(QStringLiteral("pic"));
    auto connection = std::make_shared<QMetaObject::Connection>();
    *connection = QObject::connect(picture, &PictureBox::picturePainted, &window, [=] {
        QObject::disconnect(*connection);
        std::fprintf(stderr, "varek: first picture painted %.1f ms after start\n",
                     static_cast<double>(NowNanoseconds() - start) / 1e6);
    });
}

void TakeScreenshot(MainWindow& window, const QString& file, bool playing)
{
    auto taken = std::make_shared<bool>(false);
    auto take = [&window, file, taken] {
        if (*taken) {
            return;
        }
        *taken = true;
        if (window.grab().save(file, "PNG")) {
            std::fprintf(stderr, "varek: saved a picture of the window to %s\n",
                         qPrintable(QDir::toNativeSeparators(file)));
            QCoreApplication::exit(0);
        } else {
            std::fprintf(stderr, "varek: could not save %s\n",
                         qPrintable(QDir::toNativeSeparators(file)));
            QCoreApplication::exit(kStartFailed);
        }
    };
    if (!qEnvironmentVariableIsEmpty("VAREK_SCREENSHOT_TOOLS")) {
        // The palette dock shown, the window widened so the status bar has room,
        // and the mouse resting on the picture a moment later, so the status bar
        // names the pixel under it.
        window.findChild<QDockWidget*>(QStringLiteral("paletteDock"))->show();
        window.resize(std::max(window.width(), 960), window.height());
        QTimer::singleShot(kPlayingWait / 2, &window, [&window] {
            QWidget* viewport = window.findChild<PictureBox*>(QStringLiteral("pic"))->viewport();
            const QPointF at(150, 130);
            // The pointer itself, so the box knows the mouse is over it as frames go by.
            QCursor::setPos(viewport->mapToGlobal(at.toPoint()));
            QMouseEvent move(QEvent::MouseMove, at, viewport->mapToGlobal(at), Qt::NoButton,
                             Qt::NoButton, Qt::NoModifier);
            QApplication::sendEvent(viewport, &move);
        });
    }
    if (playing) {
        // The first animation, a moment into playback.
        QTimer::singleShot(0, &window, [&window] {
            window.findChild<QAbstractButton*>(QStringLiteral("opt2"))->click();
            window.findChild<QAbstractButton*>(QStringLiteral("cmdPlay"))->click();
        });
        QTimer::singleShot(kPlayingWait, &window, take);
        return;
    }
    auto* picture = window.findChild<PictureBox*>(QStringLiteral("pic"));
    // Queued, so the grab runs after the paint that announced the picture.
    QObject::connect(picture, &PictureBox::picturePainted, &window, take, Qt::QueuedConnection);
    QTimer::singleShot(kScreenshotWait, &window, take);
}

QString VersionText()
{
    return QStringLiteral("%1.%2.%3")
        .arg(VAREK_VERSION_MAJOR)
        .arg(VAREK_VERSION_MINOR)
        .arg(VAREK_VERSION_PATCH);
}

// With no folder given: the program's own folder, as the game keeps its tools
// beside it; an installed program's folder is never a game folder, so then the
// last folder used, and failing that the one the user chooses. Nothing after cancel.
std::optional<fs::path> DefaultFolder(UserPrompts& prompts)
{
    const fs::path own = FolderOf(QCoreApplication::applicationDirPath());
    const std::string ownMissing = GameFolder::Check(own);
    if (ownMissing.empty()) {
        return own;
    }
    // A palette beside the program says it was put in the game's folder, which
    // then lacks a part: worth saying before looking elsewhere.
    if (FolderSource(own).FindEntry(kPaletteFileName).kind == EntryKind::File) {
        TellUser(prompts, nullptr, StartupMessage(ownMissing, own, FolderOrigin::Own),
                 MessageIcon::Critical);
    }
    const QStringList recent = RecentFolders();
    if (!recent.isEmpty() && GameFolder::Check(FolderOf(recent.front())).empty()) {
        return FolderOf(recent.front());
    }
    QString start = QDir::homePath();
    while (true) {
        const QString chosen =
            prompts.AskFolder(nullptr, MainWindow::tr("Choose the Vorlund game folder"), start);
        if (chosen.isEmpty()) {
            return std::nullopt;
        }
        const fs::path folder = FolderOf(chosen);
        const std::string missing = GameFolder::Check(folder);
        if (missing.empty()) {
            return folder;
        }
        TellUser(prompts, nullptr, StartupMessage(missing, folder, FolderOrigin::Named),
                 MessageIcon::Critical);
        // Again where the user was.
        start = chosen;
    }
}

}  // namespace

namespace {

// The options and the one argument the program takes.
struct CommandLine {
    QCommandLineParser parser;
    QCommandLineOption help = parser.addHelpOption();
    QCommandLineOption version = parser.addVersionOption();

    CommandLine()
    {
        QCoreApplication::setApplicationVersion(VersionText());
        parser.setApplicationDescription(
            MainWindow::tr("Shows and exports the artwork of Vorlund: walls and sprites, still "
                           "pictures and FLI animations."));
        // Named alike in the usage line and the list of arguments, as the manual names it.
        parser.addPositionalArgument(
            QStringLiteral("game-folder"),
            MainWindow::tr("The game folder, or one animation or still picture to open on its "
                           "own. Without it: the program's own folder, else the last game "
                           "folder used, else one you choose."),
            QStringLiteral("[game-folder]"));
    }
};

}  // namespace

std::optional<int> AnswerWithoutWindow(const QStringList& arguments)
{
    CommandLine line;
    if (!line.parser.parse(arguments)) {
        std::fprintf(stderr, "varek: %s\nTry 'varek --help' for more information.\n",
                     qPrintable(line.parser.errorText()));
        return kBadArguments;
    }
    if (line.parser.isSet(line.help)) {
        std::fputs(qPrintable(line.parser.helpText()), stdout);
        return 0;
    }
    if (line.parser.isSet(line.version)) {
        std::printf("varek %s\n", qPrintable(VersionText()));
        return 0;
    }
    return std::nullopt;
}

int RunProgram(const QStringList& arguments, UserPrompts& prompts)
{
    if (const std::optional<int> answered = AnswerWithoutWindow(arguments)) {
        return *answered;
    }
    CommandLine line;
    line.parser.parse(arguments);
    const QCommandLineParser& parser = line.parser;
    const QStringList folders = parser.positionalArguments();
    fs::path gameFolder;
    if (folders.size() > 1) {
        TellUser(prompts, nullptr,
                 MainWindow::tr("Varek takes at most one argument: the game folder or a file."),
                 MessageIcon::Critical);
        return kBadArguments;
    }
    std::optional<fs::path> looseFile;
    if (folders.size() == 1) {
        gameFolder = FolderOf(folders.front());
        std::error_code ec;
        if (fs::exists(gameFolder, ec) && !fs::is_directory(gameFolder, ec)) {
            looseFile = gameFolder;
        } else if (!fs::is_directory(gameFolder, ec)) {
            TellUser(prompts, nullptr,
                     MainWindow::tr("Could not find folder: %1")
                         .arg(QDir::toNativeSeparators(folders.front())),
                     MessageIcon::Critical);
            return kStartFailed;
        }
    } else {
        const std::optional<fs::path> chosen = DefaultFolder(prompts);
        if (!chosen) {
            return kStartFailed;
        }
        gameFolder = *chosen;
    }

    MainWindow window(prompts);
    const QByteArray launchedAt = qgetenv("VAREK_TRACE_STARTUP");
    if (!launchedAt.isNull()) {
        TraceStartup(window, launchedAt);
    }
    if (!(looseFile ? window.StartWithFile(*looseFile) : window.Start(gameFolder))) {
        return kStartFailed;
    }
    const QString screenshot = qEnvironmentVariable("VAREK_SCREENSHOT");
    if (!screenshot.isEmpty()) {
        TakeScreenshot(window, screenshot,
                       !qEnvironmentVariableIsEmpty("VAREK_SCREENSHOT_PLAYING"));
    }
    window.show();
    return QApplication::exec();
}

}  // namespace varek
