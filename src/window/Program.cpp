#include "window/Program.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "window/MainWindow.h"
#include "window/PictureBox.h"

namespace fs = std::filesystem;

namespace varek {

namespace {

constexpr int kStartFailed = 1;
constexpr int kBadArguments = 2;
constexpr int kScreenshotWait = 5000;  // ms; for a folder with nothing to paint

fs::path FolderOf(const QString& argument)
{
    std::error_code ec;
    fs::path folder = fs::absolute(fs::path(QFile::encodeName(argument).toStdString()), ec);
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

void TakeScreenshot(MainWindow& window, const QString& file)
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
    auto* picture = window.findChild<PictureBox*>(QStringLiteral("pic"));
    // Queued, so the grab runs after the paint that announced the picture.
    QObject::connect(picture, &PictureBox::picturePainted, &window, take, Qt::QueuedConnection);
    QTimer::singleShot(kScreenshotWait, &window, take);
}

}  // namespace

int RunProgram(const QStringList& arguments, UserPrompts& prompts)
{
    fs::path gameFolder;
    if (arguments.size() > 2) {
        prompts.ShowMessage(nullptr,
                            MainWindow::tr("Varek takes at most one argument: the game folder."),
                            MessageIcon::Critical);
        return kBadArguments;
    }
    if (arguments.size() == 2) {
        gameFolder = FolderOf(arguments.at(1));
        std::error_code ec;
        if (!fs::is_directory(gameFolder, ec)) {
            prompts.ShowMessage(nullptr,
                                MainWindow::tr("Could not find folder: %1")
                                    .arg(QDir::toNativeSeparators(arguments.at(1))),
                                MessageIcon::Critical);
            return kStartFailed;
        }
    } else {
        gameFolder = FolderOf(QCoreApplication::applicationDirPath());
    }

    MainWindow window(prompts);
    const QByteArray launchedAt = qgetenv("VAREK_TRACE_STARTUP");
    if (!launchedAt.isNull()) {
        TraceStartup(window, launchedAt);
    }
    if (!window.Start(gameFolder)) {
        return kStartFailed;
    }
    const QString screenshot = qEnvironmentVariable("VAREK_SCREENSHOT");
    if (!screenshot.isEmpty()) {
        TakeScreenshot(window, screenshot);
    }
    window.show();
    return QApplication::exec();
}

}  // namespace varek
