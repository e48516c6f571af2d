// How fast the window reacts: from construction to the first wall painted, from a
// step of the frame scroll bar to the new frame painted, a mouse move over the
// picture with the pixel inspector, and the gallery of 200 walls filling.
#include <benchmark/benchmark.h>

#include <QAction>
#include <QApplication>
#include <QDockWidget>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMouseEvent>
#include <QRadioButton>
#include <QScrollBar>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>

#include "authoring/SampleGame.h"
#include "window/GalleryDock.h"
#include "window/MainWindow.h"
#include "window/PictureBox.h"

namespace fs = std::filesystem;
using namespace varek;

namespace {

// Answers nothing and shows nothing: a benchmark run has no one to click.
class QuietPrompts final : public UserPrompts {
public:
    void ShowMessage(QWidget*, const QString&, MessageIcon) override {}
    QString AskSavePath(QWidget*, const SaveDialogRequest&) override { return {}; }
    QString AskFolder(QWidget*, const QString&, const QString&) override { return {}; }
    QString AskFile(QWidget*, const QString&, const QString&, const QString&) override
    {
        return {};
    }
    std::optional<ExportChoice> AskExportTarget(QWidget*, const ExportChoiceRequest&) override
    {
        return std::nullopt;
    }
    bool ConfirmReplacement(QWidget*, const ReplacementPreview&) override { return false; }
};

// The sample game folder with a 300-frame animation listed first.
class SampleFolder {
public:
    SampleFolder()
    {
        std::random_device seed;
        m_path = fs::temp_directory_path() / ("varek-window-bench-" + std::to_string(seed()));
        WriteSampleGameFolder(m_path);
        const ByteArray animation = MakeSampleAnimation(300);
        std::ofstream out(m_path / "FLI" / "AAA.FLI", std::ios::binary);
        out.write(reinterpret_cast<const char*>(animation.data()),
                  static_cast<std::streamsize>(animation.size()));
    }
    ~SampleFolder()
    {
        std::error_code ec;
        fs::remove_all(m_path, ec);
    }
    const fs::path& path() const { return m_path; }

private:
    fs::path m_path;
};

const SampleFolder& Sample()
{
    static const SampleFolder folder;
    return folder;
}

// Runs the event loop until the picture box has painted a picture.
void WaitForPicture(PictureBox* picture)
{
    bool painted = false;
    const auto connection =
        QObject::connect(picture, &PictureBox::picturePainted, [&] { painted = true; });
    while (!painted) {
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    QObject::disconnect(connection);
}

void PressButton(QWidget* button)
{
    const QPointF centre(button->width() / 2.0, button->height() / 2.0);
    QMouseEvent press(QEvent::MouseButtonPress, centre, button->mapToGlobal(centre), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(button, &press);
}

void BM_StartToFirstWall(benchmark::State& state)
{
    QuietPrompts prompts;
    for (auto _ : state) {
        MainWindow window(prompts);
        if (!window.Start(Sample().path())) {
            state.SkipWithError("the sample game folder did not pass the start-up checks");
            return;
        }
        window.show();
        WaitForPicture(window.findChild<PictureBox*>("pic"));
    }
}
BENCHMARK(BM_StartToFirstWall)->Unit(benchmark::kMillisecond);

// One frame step as playback takes it: the frame bar moved, the picture rendered
// and painted, at the zoom given (0: the box's own look).
void BM_FrameStep(benchmark::State& state)
{
    const int zoom = static_cast<int>(state.range(0));
    QuietPrompts prompts;
    MainWindow window(prompts);
    if (!window.Start(Sample().path())) {
        state.SkipWithError("the sample game folder did not pass the start-up checks");
        return;
    }
    window.show();
    auto* picture = window.findChild<PictureBox*>("pic");
    WaitForPicture(picture);
    PressButton(window.findChild<QRadioButton*>("opt2"));
    if (zoom > 0) {
        picture->SetZoom(ZoomMode::Factor, zoom);
    }
    auto* frameBar = window.findChild<QScrollBar*>("hsb");
    const int last = frameBar->maximum();
    if (last < 2) {
        state.SkipWithError("the animation holds fewer than two frames");
        return;
    }
    for (auto _ : state) {
        // Back to the first frame at the end, outside the measured steps.
        if (frameBar->value() == last) {
            state.PauseTiming();
            frameBar->setValue(1);
            state.ResumeTiming();
        }
        frameBar->setValue(frameBar->value() + 1);
        picture->viewport()->repaint();
    }
    state.counters["frames"] = last;
}
BENCHMARK(BM_FrameStep)->Arg(0)->Arg(4)->Unit(benchmark::kMicrosecond);

// The sample game folder with 200 more walls of noise.
class WallFolder {
public:
    WallFolder()
    {
        std::random_device seed;
        m_path = fs::temp_directory_path() / ("varek-gallery-bench-" + std::to_string(seed()));
        WriteSampleGameFolder(m_path);
        std::mt19937 noise(1);
        for (int i = 0; i < 200; ++i) {
            std::string wall(4096, '\0');
            for (char& byte : wall) {
                byte = static_cast<char>(noise());
            }
            std::string name = std::to_string(1000 + i);
            name.append(".CEL");
            std::ofstream(m_path / "CELS3" / name, std::ios::binary) << wall;
        }
    }
    ~WallFolder()
    {
        std::error_code ec;
        fs::remove_all(m_path, ec);
    }
    const fs::path& path() const { return m_path; }

private:
    fs::path m_path;
};

// Stamps the time it is posted; its delivery tells how long anything queued
// behind the GUI thread's work, user input included, has to wait. One at a time.
class DelayProbe final : public QObject {
public:
    static constexpr QEvent::Type kType = QEvent::Type(QEvent::User + 1);

    void PostUnlessWaiting()
    {
        if (!m_waiting) {
            m_waiting = true;
            m_posted.start();
            QCoreApplication::postEvent(this, new QEvent(kType));
        }
    }
    qint64 LongestNanoseconds() const { return m_longest; }

protected:
    bool event(QEvent* event) override
    {
        if (event->type() != kType) {
            return QObject::event(event);
        }
        m_longest = std::max(m_longest, m_posted.nsecsElapsed());
        m_waiting = false;
        return true;
    }

private:
    QElapsedTimer m_posted;
    qint64 m_longest = 0;
    bool m_waiting = false;
};

// View > Gallery on the walls: from the dock shown to every thumbnail in place,
// and the longest any posted event (as user input would) waited meanwhile.
void BM_GalleryFill(benchmark::State& state)
{
    static const WallFolder folder;
    QuietPrompts prompts;
    MainWindow window(prompts);
    if (!window.Start(folder.path())) {
        state.SkipWithError("the game folder did not pass the start-up checks");
        return;
    }
    window.show();
    WaitForPicture(window.findChild<PictureBox*>("pic"));
    auto* gallery = window.findChild<GalleryDock*>();
    auto* walls = window.findChild<QRadioButton*>("opt0");
    DelayProbe probe;
    double longestFill = 0;
    for (auto _ : state) {
        state.PauseTiming();
        gallery->hide();
        PressButton(walls);  // lists the walls anew, so every thumbnail is made again
        QApplication::processEvents();
        state.ResumeTiming();
        QElapsedTimer fill;
        fill.start();
        gallery->toggleViewAction()->trigger();
        while (!gallery->IsFilled()) {
            probe.PostUnlessWaiting();
            QApplication::processEvents(QEventLoop::AllEvents);
        }
        longestFill = std::max(longestFill, fill.nsecsElapsed() / 1e6);
    }
    state.counters["files"] = gallery->findChild<QListWidget*>()->count();
    state.counters["longest_fill_ms"] = longestFill;
    state.counters["longest_wait_ms"] = probe.LongestNanoseconds() / 1e6;
}
BENCHMARK(BM_GalleryFill)->Unit(benchmark::kMillisecond)->UseRealTime();

// A mouse move onto another pixel of a wall at 4x: the inspector finds the file
// pixel and sets the status bar's text; with a repaint, what that changed painted.
void BM_InspectorMove(benchmark::State& state)
{
    const bool repaint = state.range(0) != 0;
    QuietPrompts prompts;
    MainWindow window(prompts);
    if (!window.Start(Sample().path())) {
        state.SkipWithError("the sample game folder did not pass the start-up checks");
        return;
    }
    window.show();
    auto* picture = window.findChild<PictureBox*>("pic");
    WaitForPicture(picture);
    picture->SetZoom(ZoomMode::Factor, 4);
    QWidget* viewport = picture->viewport();
    int step = 0;
    for (auto _ : state) {
        const QPointF at(2 + 4 * (step % 60), 2 + 4 * (step / 60 % 60));
        ++step;
        QMouseEvent move(QEvent::MouseMove, at, viewport->mapToGlobal(at), Qt::NoButton,
                         Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(viewport, &move);
        if (repaint) {
            // The status bar laid out and painted again, as the next turn of the
            // event loop does it.
            QApplication::processEvents();
        }
    }
    if (window.findChild<QLabel*>("pixelInfo")->text().isEmpty()) {
        state.SkipWithError("the inspector said nothing");
    }
}
BENCHMARK(BM_InspectorMove)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
