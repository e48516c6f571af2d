// How fast the window reacts: from construction to the first wall painted, and
// from a step of the frame scroll bar to the new frame painted.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QRadioButton>
#include <QScrollBar>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>

#include "authoring/SampleGame.h"
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
    std::optional<ExportChoice> AskExportTarget(QWidget*, const ExportChoiceRequest&) override
    {
        return std::nullopt;
    }
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
