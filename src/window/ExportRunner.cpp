#include "window/ExportRunner.h"

#include <QDir>
#include <QFile>
#include <QProgressDialog>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <exception>
#include <filesystem>
#include <mutex>
#include <new>
#include <stop_token>
#include <utility>

#include "util/Error.h"
#include "window/BackgroundWork.h"
#include "window/PathText.h"

namespace fs = std::filesystem;

namespace varek {

namespace {

constexpr int kShowAfterMs = 400;            // an export done sooner shows no dialog
constexpr int kRefreshMs = 50;               // drawing every picture's progress slows the export
constexpr std::size_t kStepsPerFile = 1000;  // the bar's steps through one file's pictures
constexpr std::size_t kFailuresListed = 10;

QString CountedImages(std::size_t count)
{
    return count == 1 ? ExportRunner::tr("1 image") : ExportRunner::tr("%1 images").arg(count);
}

ArtCategory CategoryOf(const ExportRequest& request)
{
    return request.animation.empty() ? request.category : ArtCategory::Animated;
}

}  // namespace

// Carries the export's news from its threads to the window's: the progress and the
// failures, kept under a lock, and each file's start, handed over and waited for.
class ExportRunner::Relay final : public ExportListener {
public:
    struct Progress {
        std::size_t position = 0;
        std::size_t total = 0;
        std::string name;
        std::size_t frame = 0;
        std::size_t frameCount = 0;
    };

    explicit Relay(ExportRunner& runner) : m_runner(runner) {}

    void FileStarted(std::size_t position, std::size_t total, const std::string& name) override
    {
        Keep({position, total, name, 0, 0});
        const QString shown = ToQString(name);
        // Called here when the export runs on the window's own thread.
        const bool here = QThread::currentThread() == m_runner.thread();
        QMetaObject::invokeMethod(
            &m_runner,
            [&] {
                m_runner.ShowProgress();
                emit m_runner.fileStarted(shown, static_cast<int>(position),
                                          static_cast<int>(total));
            },
            here ? Qt::DirectConnection : Qt::BlockingQueuedConnection);
    }

    void FrameWritten(std::size_t position, std::size_t total, const std::string& name,
                      std::size_t frame, std::size_t frameCount) override
    {
        Keep({position, total, name, frame, frameCount});
    }

    void Failed(const std::string& name, const std::string& reason) override
    {
        const std::lock_guard lock(m_mutex);
        m_failures.push_back({name, reason});
    }

    void Noted(const std::string& name, const std::string& note) override
    {
        const std::lock_guard lock(m_mutex);
        m_notes.push_back({name, note});
    }

    Progress Current()
    {
        const std::lock_guard lock(m_mutex);
        return m_progress;
    }

    std::vector<ExportFailure> TakeFailures()
    {
        const std::lock_guard lock(m_mutex);
        return std::move(m_failures);
    }

    std::vector<ExportFailure> TakeNotes()
    {
        const std::lock_guard lock(m_mutex);
        return std::move(m_notes);
    }

private:
    void Keep(Progress progress)
    {
        const std::lock_guard lock(m_mutex);
        m_progress = std::move(progress);
    }

    ExportRunner& m_runner;
    std::mutex m_mutex;
    Progress m_progress;
    std::vector<ExportFailure> m_failures;
    std::vector<ExportFailure> m_notes;
};

ExportRunner::ExportRunner(UserPrompts& prompts, QWidget* owner)
    : QObject(owner), m_prompts(prompts), m_owner(owner)
{
}

ExportRunner::~ExportRunner() = default;

std::optional<ExportReport> ExportRunner::Run(const GameFolder& game, const ExportRequest& request)
{
    if (m_progress != nullptr) {
        return std::nullopt;
    }
    const ArtCategory category = CategoryOf(request);
    const QString subFolder = QString::fromLatin1(InfoOf(category).subFolder);

    ExportChoiceRequest ask;
    ask.title = tr("Export");
    ask.subFolder = subFolder;
    if (!request.animation.empty()) {
        ask.description = tr("Exports every picture of %1 as image files.")
                              .arg(subFolder + u'/' + ToQString(request.animation));
    } else {
        std::size_t count = 0;
        try {
            count = game.ReadFileList(category).size();
        } catch (const Error& error) {
            m_prompts.ShowMessage(m_owner,
                                  tr("Nothing can be exported: %1 cannot be listed.\n\n%2")
                                      .arg(ToQString(game.CategoryFolder(category)),
                                           QString::fromStdString(error.what())),
                                  MessageIcon::Warning);
            return std::nullopt;
        }
        if (count == 0) {
            m_prompts.ShowMessage(m_owner,
                                  tr("There is nothing to export: %1 holds no files to export.")
                                      .arg(ToQString(game.CategoryFolder(category))),
                                  MessageIcon::None);
            return std::nullopt;
        }
        const QString files = count == 1 ? tr("the 1 file") : tr("the %1 files").arg(count);
        if (category == ArtCategory::Animated) {
            ask.description =
                tr("Exports every picture of %1 of %2 as image files.").arg(files, subFolder);
        } else if (category == ArtCategory::WallsSprites) {
            ask.description = (request.rotate ? tr("Exports %1 of %2 as image files, turned a "
                                                   "quarter turn as \"Rotate\" shows them.")
                                              : tr("Exports %1 of %2 as image files, as stored, "
                                                   "not turned."))
                                  .arg(files, subFolder);
        } else {
            ask.description = tr("Exports %1 of %2 as image files.").arg(files, subFolder);
        }
    }
    ask.initialFolder =
        m_lastChoice ? m_lastChoice->folder : QDir::homePath() + QStringLiteral("/Varek export");
    ask.format = m_lastChoice ? m_lastChoice->format : ImageFormat::Bmp;
    ask.scale = m_lastChoice ? m_lastChoice->scale : 1;
    ask.sheet = m_lastChoice && m_lastChoice->sheet;
    const std::optional<ExportChoice> choice = m_prompts.AskExportTarget(m_owner, ask);
    if (!choice || choice->folder.isEmpty()) {
        return std::nullopt;
    }
    m_lastChoice = choice;

    ExportReport report;
    report.choice = *choice;
    if (ExportUnderProgress(game, request, report)) {
        Tell(report, request);
    }
    return report;
}

bool ExportRunner::ExportUnderProgress(const GameFolder& game, const ExportRequest& request,
                                       ExportReport& report)
{
    const fs::path out = ToPath(report.choice.folder);
    const ArtCategory category = CategoryOf(request);
    ExportOptions options;
    options.format = report.choice.format;
    options.scale = report.choice.scale;
    options.sheet = report.choice.sheet;
    options.rotate = request.rotate;
    options.categories.fill(false);
    options.categories[static_cast<std::size_t>(category)] = true;
    std::stop_source stop;
    options.stop = stop.get_token();

    // The checks varek-export makes: a folder refused, or one this process cannot
    // write in, is one failure up front rather than one for every image.
    try {
        CheckOutputFolder(game, out);
        MakeOutputFolder(out, options);
    } catch (const Error& error) {
        report.failures.push_back({out.string(), error.detail()});
        report.summary.failures = 1;
        m_prompts.ShowMessage(m_owner,
                              tr("Nothing was exported: %1.").arg(ToQString(error.detail())),
                              MessageIcon::Critical);
        return false;
    }

    QProgressDialog dialog(m_owner);
    dialog.setObjectName(QStringLiteral("exportProgress"));
    dialog.setWindowTitle(tr("Exporting"));
    dialog.setWindowModality(m_owner != nullptr ? Qt::WindowModal : Qt::ApplicationModal);
    dialog.setAutoReset(false);
    dialog.setAutoClose(false);
    dialog.setLabelText(tr("Exporting..."));
    dialog.setMinimumDuration(kShowAfterMs);
    dialog.setValue(0);
    connect(&dialog, &QProgressDialog::canceled, &dialog, [&stop] { stop.request_stop(); });
    QTimer refresh;
    connect(&refresh, &QTimer::timeout, this, &ExportRunner::ShowProgress);
    refresh.start(kRefreshMs);

    Relay relay(*this);
    m_relay = &relay;
    m_progress = &dialog;
    std::optional<std::string> stopped;
    RunInBackground(
        [&, game] {
            try {
                report.summary =
                    request.animation.empty()
                        ? ExportGameFolder(game, out, options, relay)
                        : ExportAnimation(game, request.animation, out, options, relay);
            } catch (const std::bad_alloc&) {
                stopped = "there is not enough memory to go on with the export";
            } catch (const std::exception& error) {
                stopped = error.what();
            }
        },
        &dialog);
    m_relay = nullptr;
    m_progress = nullptr;

    report.failures = relay.TakeFailures();
    report.notes = relay.TakeNotes();
    if (stopped) {
        report.failures.push_back({out.string(), "the export stopped: " + *stopped});
        ++report.summary.failures;
    }
    return true;
}

void ExportRunner::ShowProgress()
{
    if (m_relay == nullptr || m_progress == nullptr) {
        return;
    }
    const Relay::Progress progress = m_relay->Current();
    if (progress.total == 0) {
        return;
    }
    const std::size_t steps = progress.total > 100000 ? 1 : kStepsPerFile;
    const std::size_t within =
        progress.frameCount == 0 ? 0 : progress.frame * steps / progress.frameCount;
    QString label = tr("Exporting %1").arg(ToQString(progress.name));
    if (progress.total > 1) {
        label += tr(", file %1 of %2").arg(progress.position).arg(progress.total);
    }
    if (progress.frameCount > 0) {
        label += u'\n' + tr("Picture %1 of %2").arg(progress.frame).arg(progress.frameCount);
    }
    m_progress->setLabelText(label);
    m_progress->setMaximum(static_cast<int>(progress.total * steps));
    m_progress->setValue(static_cast<int>((progress.position - 1) * steps + within));
}

void ExportRunner::Tell(const ExportReport& report, const ExportRequest& request)
{
    const ExportSummary& summary = report.summary;
    const QString folder =
        ToQString(ExportFolder(ToPath(report.choice.folder), CategoryOf(request)));
    QString text = summary.cancelled ? tr("The export was cancelled: %1 written to %2.")
                                     : tr("%1 written to %2.");
    text = text.arg(CountedImages(summary.imagesWritten), folder);
    for (const ExportFailure& note : report.notes) {
        text += QStringLiteral("\n\n") + ToQString(note.name) + QStringLiteral(": ") +
                ToQString(note.reason);
    }
    if (!report.failures.empty()) {
        const std::size_t count = report.failures.size();
        text += QStringLiteral("\n\n") +
                (count == 1 ? tr("1 failure:") : tr("%1 failures:").arg(count));
        for (std::size_t i = 0; i < std::min(count, kFailuresListed); ++i) {
            text += u'\n' + ToQString(report.failures[i].name) + QStringLiteral(": ") +
                    ToQString(report.failures[i].reason);
        }
        if (count > kFailuresListed) {
            text += u'\n' + tr("and %1 more.").arg(count - kFailuresListed);
        }
    }
    m_prompts.ShowMessage(m_owner, text,
                          report.failures.empty() ? MessageIcon::None : MessageIcon::Warning);
}

}  // namespace varek
