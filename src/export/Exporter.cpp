#include "export/Exporter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <map>
#include <mutex>
#include <new>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#include "art/Naming.h"
#include "art/Playback.h"
#include "imaging/BmpImage.h"
#include "imaging/GifImage.h"
#include "imaging/PngImage.h"
#include "util/AtomicWrite.h"
#include "util/Error.h"
#include "util/Text.h"

namespace fs = std::filesystem;

namespace varek {

namespace {

// An absolute path with links and "." and ".." resolved as far as it exists, no
// trailing separator.
fs::path Resolved(const fs::path& path)
{
    std::error_code ec;
    fs::path absolute = fs::absolute(path, ec);
    if (ec) {
        absolute = path;
    }
    fs::path resolved = fs::weakly_canonical(absolute, ec);
    if (ec) {
        resolved = absolute.lexically_normal();
    }
    if (!resolved.has_filename() && resolved.has_relative_path()) {
        resolved = resolved.parent_path();
    }
    return resolved;
}

// inner relative to outer when inner is outer or lies inside it.
std::optional<fs::path> RelativeInside(const fs::path& inner, const fs::path& outer)
{
    const fs::path relative = inner.lexically_relative(outer);
    if (relative.empty() || *relative.begin() == "..") {
        return std::nullopt;
    }
    return relative;
}

// What a folder is, whatever path leads to it: a bind mount or a hard-linked
// path shows the same folder under a name no comparison of paths catches.
struct Identity {
    dev_t device = 0;
    ino_t inode = 0;
    bool operator==(const Identity&) const = default;
};

std::optional<Identity> IdentityOf(const fs::path& path)
{
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        return std::nullopt;
    }
    return Identity{status.st_dev, status.st_ino};
}

// path (resolved) rewritten to lie under one of the folders of places when one of
// its existing ancestors is that folder by identity, otherwise path itself.
fs::path ThroughIdentity(const fs::path& path,
                         const std::vector<std::pair<Identity, fs::path>>& places)
{
    fs::path below;
    for (fs::path ancestor = path;; ancestor = ancestor.parent_path()) {
        if (const std::optional<Identity> identity = IdentityOf(ancestor)) {
            for (const auto& [place, placePath] : places) {
                if (*identity == place) {
                    return below.empty() ? placePath : placePath / below;
                }
            }
        }
        if (!ancestor.has_relative_path()) {
            return path;
        }
        below = below.empty() ? ancestor.filename() : ancestor.filename() / below;
    }
}

[[noreturn]] void Refuse(const std::string& why)
{
    throw Error(ErrorKind::CannotWrite, why);
}

// A fault that kept a file from being read at all, rather than from being decoded.
bool IsReadFault(const Error& error)
{
    return error.kind() == ErrorKind::NotFound || error.kind() == ErrorKind::CannotRead;
}

constexpr const char* kNoMemory = "there is not enough memory to decode it";
constexpr const char* kNoMemoryToWrite = "there is not enough memory to write it";

// Why writing failed, or nothing when write succeeded.
template <typename Write>
std::optional<std::string> FailureOf(Write&& write)
{
    try {
        write();
    } catch (const std::bad_alloc&) {
        return kNoMemoryToWrite;
    } catch (const std::exception& error) {
        return error.what();
    }
    return std::nullopt;
}

struct Source {
    ArtCategory category;
    std::string fileName;  // as the game folder spells it
    std::string name;      // category folder and file name, for the user
};

Source SourceOf(ArtCategory category, const std::string& fileName)
{
    return {category, fileName, std::string(InfoOf(category).subFolder) + "/" + fileName};
}

class Export {
public:
    Export(const GameFolder& game, const fs::path& outFolder, const ExportOptions& options,
           ExportListener& listener)
        : m_game(game), m_out(outFolder), m_options(options), m_listener(listener)
    {
    }

    // A category folder that could not be listed: its files are missing from the
    // export, which is a failure.
    void ListingFailed(ArtCategory category, const std::string& reason)
    {
        Fail(InfoOf(category).subFolder, reason);
    }

    ExportSummary Run(const std::vector<Source>& sources)
    {
        for (std::size_t i = 0; i < sources.size(); ++i) {
            if (Stopped()) {
                m_summary.cancelled = true;
                break;
            }
            const Source& source = sources[i];
            m_listener.FileStarted(i + 1, sources.size(), source.name);
            const std::size_t before = m_summary.imagesWritten;
            ExportSource(source, i + 1, sources.size());
            m_listener.FileFinished(i + 1, sources.size(), source.name,
                                    m_summary.imagesWritten - before);
        }
        return m_summary;
    }

private:
    bool Stopped() const { return m_options.stop.stop_requested(); }

    void Fail(const std::string& name, const std::string& reason)
    {
        ++m_summary.failures;
        m_listener.Failed(name, reason);
    }

    void ExportSource(const Source& source, std::size_t position, std::size_t total)
    {
        if (source.category == ArtCategory::Animated) {
            try {
                ExportAnimationSource(source, position, total);
            } catch (const std::bad_alloc&) {
                Fail(source.name, kNoMemory);
            }
            return;
        }
        Picture picture;
        try {
            picture = source.category == ArtCategory::WallsSprites
                          ? m_game.LoadWall(source.fileName, WallPalette(), m_options.rotate)
                          : m_game.LoadStill(source.fileName);
        } catch (const Error& error) {
            if (!IsReadFault(error)) {
                ++m_summary.filesRead;
            }
            Fail(source.name, error.what());
            return;
        } catch (const std::bad_alloc&) {
            ++m_summary.filesRead;
            Fail(source.name, kNoMemory);
            return;
        }
        ++m_summary.filesRead;
        WriteImage(source, 0, picture.image.width, picture.image.height, picture.image.pixels,
                   picture.palette);
    }

    // The colours of PALETTE.PAL, read once. A palette file that is empty, short or
    // unreadable is one failure; the walls are still written, the colours that could
    // not be read black, as the window shows them.
    const Palette& WallPalette()
    {
        if (!m_wallPalette) {
            const varek::WallPalette loaded = m_game.LoadWallPalette();
            if (loaded.fault) {
                Fail(kPaletteFileName, loaded.fault->what());
            }
            m_wallPalette = loaded.palette;
        }
        return *m_wallPalette;
    }

    void ExportAnimationSource(const Source& source, std::size_t position, std::size_t total)
    {
        AnimationTarget target{source, position, total};
        const LoadProgress goOn = [this](std::int32_t, std::int32_t) { return !Stopped(); };
        const bool gif = m_options.format == ImageFormat::Gif;
        // A GIF file takes its pictures in order, one thread; image files are
        // written on as many threads as help.
        FrameQueue queue(gif ? 1 : WriterThreads(), [&](const FrameQueue::Job& job) {
            if (gif) {
                AddGifPicture(target, job);
            } else {
                WriteImages(target, job);
            }
        });
        Animation animation;
        try {
            animation = m_game.StreamAnimation(
                source.fileName,
                [&](const StreamedPicture& picture) { QueuePicture(target, queue, picture); },
                goOn);
        } catch (...) {
            queue.Finish();
            throw;
        }
        queue.Finish();
        if (gif) {
            FinishGif(target);
        }
        if (animation.cancelled || Stopped()) {
            m_summary.cancelled = true;
        }
        if (!animation.stop || !IsReadFault(*animation.stop)) {
            ++m_summary.filesRead;
        }
        for (const Error& fault : animation.lineFaults) {
            Fail(source.name, fault.what());
        }
        if (animation.stop) {
            const std::size_t kept = animation.pictures.size();
            std::string reason = animation.stop->what();
            if (!IsReadFault(*animation.stop)) {
                reason += kept == 0 ? std::string("; no frame could be decoded")
                          : kept == 1
                              ? std::string("; the 1 frame decoded before it is written")
                              : "; the " + std::to_string(kept) +
                                    " frames decoded before it are written";
            }
            Fail(source.name, reason);
        }
    }

    static unsigned WriterThreads()
    {
        return std::clamp(std::thread::hardware_concurrency(), 2u, 8u);
    }

    // One animation being written: where its images go once the first picture
    // arrives, and whether they can go there at all.
    struct AnimationTarget {
        AnimationTarget(const Source& of, std::size_t at, std::size_t outOf)
            : source(of), position(at), total(outOf)
        {
        }

        const Source& source;
        std::size_t position;
        std::size_t total;
        std::optional<fs::path> folder;
        bool skip = false;  // a failure was reported; the rest is decoded but not written
        std::size_t imagesToWrite = 0;
        std::size_t imagesDone = 0;  // under m_mutex
        // The GIF file, written as it is encoded, its name, and whether it failed
        // (on the thread that encodes it). The encoder goes before its file.
        std::optional<FileBeingWritten> gifFile;
        std::optional<GifWriter> gif;
        std::optional<GifDelayClock> clock;
        std::string gifName;
        bool gifFailed = false;
    };

    // Decoded pictures on their way to the threads that encode and write them,
    // while the next pictures are decoded: making a file costs the system more
    // than decoding and encoding a frame does. Only the pictures in flight are
    // held, a few for each thread, so memory stays the same however long the
    // animation is. With one thread the pictures are handled in order.
    class FrameQueue {
    public:
        struct Job {
            FrameRecord record;
            PictureFrames frames;
            std::vector<std::string> names;  // an empty one belongs to another source
        };
        using Work = std::function<void(const Job&)>;

        FrameQueue(unsigned threads, Work work) : m_work(std::move(work))
        {
            for (unsigned i = 0; i < threads; ++i) {
                try {
                    m_threads.emplace_back([this] { Run(); });
                } catch (const std::system_error&) {
                    break;  // the threads already started share the work
                }
            }
            for (std::size_t i = 0; i < std::max<std::size_t>(m_threads.size(), 1) * 3; ++i) {
                m_idle.push_back(std::make_unique<Job>());
            }
        }
        FrameQueue(const FrameQueue&) = delete;
        FrameQueue& operator=(const FrameQueue&) = delete;
        ~FrameQueue() { Finish(); }

        // A job to fill, once one is free.
        std::unique_ptr<Job> Take()
        {
            std::unique_lock lock(m_mutex);
            m_jobFree.wait(lock, [this] { return !m_idle.empty(); });
            std::unique_ptr<Job> job = std::move(m_idle.back());
            m_idle.pop_back();
            return job;
        }

        void Submit(std::unique_ptr<Job> job)
        {
            if (m_threads.empty()) {
                m_work(*job);  // no thread could be started: the caller does the work
                const std::lock_guard lock(m_mutex);
                m_idle.push_back(std::move(job));
                return;
            }
            {
                const std::lock_guard lock(m_mutex);
                m_queue.push_back(std::move(job));
            }
            m_jobReady.notify_one();
        }

        // Waits until every job submitted is done.
        void Finish()
        {
            {
                const std::lock_guard lock(m_mutex);
                m_closing = true;
            }
            m_jobReady.notify_all();
            for (std::thread& thread : m_threads) {
                thread.join();
            }
            m_threads.clear();
        }

    private:
        void Run()
        {
            for (;;) {
                std::unique_ptr<Job> job;
                {
                    std::unique_lock lock(m_mutex);
                    m_jobReady.wait(lock, [this] { return m_closing || !m_queue.empty(); });
                    if (m_queue.empty()) {
                        return;
                    }
                    job = std::move(m_queue.front());
                    m_queue.pop_front();
                }
                m_work(*job);
                {
                    const std::lock_guard lock(m_mutex);
                    m_idle.push_back(std::move(job));
                }
                m_jobFree.notify_one();
            }
        }

        Work m_work;
        std::mutex m_mutex;
        std::condition_variable m_jobReady;  // for the threads: a job queued, or the end
        std::condition_variable m_jobFree;   // for the caller: a job to fill
        std::vector<std::unique_ptr<Job>> m_idle;
        std::deque<std::unique_ptr<Job>> m_queue;
        bool m_closing = false;
        std::vector<std::thread> m_threads;
    };

    // Names the images of one picture and queues it: for a GIF file one picture
    // more, otherwise one image, or with the timeline one for each file frame the
    // picture stands for. The category folder is made at the first picture.
    void QueuePicture(AnimationTarget& target, FrameQueue& queue, const StreamedPicture& picture)
    {
        if (Stopped() || target.skip) {
            return;
        }
        const FliLoad& outline = picture.outline;
        std::unique_ptr<FrameQueue::Job> job = queue.Take();
        job->names.clear();
        {
            // The writers report under this lock, and the names taken are shared.
            const std::lock_guard lock(m_mutex);
            if (!target.folder) {
                try {
                    target.folder = TargetFolder(target.source.category);
                } catch (const std::exception& error) {
                    Fail(target.source.name, error.what());
                    target.skip = true;
                    return;
                }
            }
            if (m_options.format == ImageFormat::Gif) {
                if (picture.number == 1) {
                    target.gifName = ClaimName(target.source, 0);
                    target.skip = target.gifName.empty();
                    target.imagesToWrite = outline.pictures.size();
                    target.clock.emplace(outline.speed);
                }
            } else if (m_options.timeline) {
                if (target.imagesToWrite == 0) {
                    for (const PictureFrames& frames : outline.pictures) {
                        target.imagesToWrite += static_cast<std::size_t>(frames.frameCount);
                    }
                }
                const PictureFrames& frames = picture.frames;
                for (int frame = frames.firstFrame; frame < frames.firstFrame + frames.frameCount;
                     ++frame) {
                    job->names.push_back(ClaimName(target.source, frame, outline.fileFrames));
                }
            } else {
                target.imagesToWrite = outline.pictures.size();
                job->names.push_back(ClaimName(target.source, static_cast<int>(picture.number),
                                               static_cast<int>(outline.pictures.size())));
            }
        }
        if (target.skip) {
            return;
        }
        job->record = picture.record;
        job->frames = picture.frames;
        queue.Submit(std::move(job));
    }

    // On a writer thread: the images of one picture.
    void WriteImages(AnimationTarget& target, const FrameQueue::Job& job)
    {
        ByteArray image;
        for (const std::string& name : job.names) {
            if (Stopped()) {
                const std::lock_guard lock(m_mutex);
                m_summary.cancelled = true;
                return;
            }
            std::optional<std::string> failure;
            if (!name.empty()) {
                failure = FailureOf([&] {
                    if (image.empty()) {
                        image = EncodeImageFile(kFrameWidth, kFrameHeight, job.record.Pixels,
                                                job.record.Colors, m_options.format);
                    }
                    WriteFileAtomically(*target.folder / name, image);
                });
            }
            const std::lock_guard lock(m_mutex);
            if (failure) {
                Fail(target.source.name, *failure);
            } else if (!name.empty()) {
                ++m_summary.imagesWritten;
            }
            m_listener.FrameWritten(target.position, target.total, target.source.name,
                                    ++target.imagesDone, target.imagesToWrite);
        }
    }

    // On the GIF thread: one picture more for the whole animation's looping GIF
    // file, shown for as long as the file frames it stands for.
    void AddGifPicture(AnimationTarget& target, const FrameQueue::Job& job)
    {
        if (target.gifFailed || Stopped()) {
            return;
        }
        const std::optional<std::string> failure = FailureOf([&] {
            if (!target.gif) {
                FileBeingWritten& file = target.gifFile.emplace(*target.folder / target.gifName);
                target.gif.emplace(kFrameWidth, kFrameHeight,
                                   [&file](std::span<const std::uint8_t> bytes) {
                                       file.Write(bytes);
                                   });
            }
            target.gif->AddPicture(job.record.Pixels, job.record.Colors,
                                   target.clock->Next(job.frames));
        });
        const std::lock_guard lock(m_mutex);
        if (failure) {
            target.gifFailed = true;
            Fail(target.source.name, *failure);
            return;
        }
        m_listener.FrameWritten(target.position, target.total, target.source.name,
                                ++target.imagesDone, target.imagesToWrite);
    }

    void FinishGif(AnimationTarget& target)
    {
        if (!target.gif || target.gifFailed || Stopped()) {
            return;
        }
        const std::optional<std::string> failure = FailureOf([&] {
            target.gif->Finish();
            target.gifFile->Commit();
        });
        if (failure) {
            Fail(target.source.name, *failure);
        } else {
            ++m_summary.imagesWritten;
        }
    }

    // The image file name for source, or empty after reporting that another source
    // has it: two game files whose names differ only in case would share one name on
    // a file system that ignores case, and the first keeps it.
    std::string ClaimName(const Source& source, int frame, int pictureCount = 0)
    {
        std::string fileName =
            ExportFileName(source.fileName, m_options.format, frame, pictureCount);
        auto& taken = m_taken[static_cast<std::size_t>(source.category)];
        const auto [owner, isNew] = taken.emplace(LowerAscii(fileName), source.name);
        if (!isNew && owner->second != source.name) {
            Fail(source.name,
                 "not written: " + fileName + " is already the image of " + owner->second);
            return {};
        }
        return fileName;
    }

    // The category's folder of the output folder, made when first needed.
    fs::path TargetFolder(ArtCategory category)
    {
        const fs::path folder = ExportFolder(m_out, category);
        auto& ready = m_folderReady[static_cast<std::size_t>(category)];
        if (!ready) {
            std::error_code ec;
            fs::create_directories(folder, ec);
            if (ec) {
                throw Error(ErrorKind::CannotWrite,
                            Quoted(folder) + ": the folder cannot be made: " + ec.message());
            }
            // What an export killed before it could clean up left behind.
            RemoveStaleTemporaryFiles(folder);
            ready = true;
        }
        return folder;
    }

    void WriteImageFile(const fs::path& path, std::int32_t width, std::int32_t height,
                        std::span<const std::uint8_t> pixels, const Palette& palette) const
    {
        WriteFileAtomically(path,
                            EncodeImageFile(width, height, pixels, palette, m_options.format));
    }

    void WriteImage(const Source& source, int frame, std::int32_t width, std::int32_t height,
                    std::span<const std::uint8_t> pixels, const Palette& palette)
    {
        if (Stopped()) {
            m_summary.cancelled = true;
            return;
        }
        const std::string fileName = ClaimName(source, frame);
        if (fileName.empty()) {
            return;
        }
        try {
            WriteImageFile(TargetFolder(source.category) / fileName, width, height, pixels,
                           palette);
            ++m_summary.imagesWritten;
        } catch (const std::bad_alloc&) {
            Fail(source.name, kNoMemoryToWrite);
        } catch (const std::exception& error) {
            Fail(source.name, error.what());
        }
    }

    const GameFolder& m_game;
    const fs::path& m_out;
    const ExportOptions& m_options;
    ExportListener& m_listener;
    ExportSummary m_summary;
    std::optional<Palette> m_wallPalette;
    std::array<std::map<std::string, std::string>, kCategoryCount> m_taken;
    std::array<bool, kCategoryCount> m_folderReady{};
    // Taken by the threads that write an animation's frames while they report.
    std::mutex m_mutex;
};

}  // namespace

fs::path ExportFolder(const fs::path& outFolder, ArtCategory category)
{
    return outFolder / InfoOf(category).subFolder;
}

std::string ExportFileName(const std::string& sourceName, ImageFormat format, int frame,
                           int pictureCount)
{
    const char* extension = format == ImageFormat::Png   ? ".png"
                            : format == ImageFormat::Gif ? ".gif"
                                                         : ".bmp";
    return SuggestedName(sourceName, frame > 0 ? std::optional<int>(frame) : std::nullopt,
                         extension, pictureCount);
}

void CheckOutputFolder(const GameFolder& game, const fs::path& outFolder)
{
    const fs::path gameFolder = Resolved(game.Path());
    // The game's folders by identity, so that the output folder is seen inside them
    // by whatever path it is given.
    std::vector<std::pair<Identity, fs::path>> places;
    if (const std::optional<Identity> identity = IdentityOf(gameFolder)) {
        places.emplace_back(*identity, gameFolder);
    }
    for (const ArtCategory category : kAllCategories) {
        const fs::path folder = Resolved(game.CategoryFolder(category));
        if (const std::optional<Identity> identity = IdentityOf(folder)) {
            places.emplace_back(*identity, folder);
        }
    }
    const auto located = [&](const fs::path& path) {
        return ThroughIdentity(Resolved(path), places);
    };
    const fs::path out = located(outFolder);
    if (out == gameFolder) {
        Refuse("the output folder " + Quoted(outFolder) +
               " is the game folder; the game's files are never written to");
    }
    std::error_code ec;
    if (fs::exists(out, ec) && !fs::is_directory(out, ec)) {
        Refuse("the output folder " + Quoted(outFolder) + " is a file, not a folder");
    }
    for (const ArtCategory target : kAllCategories) {
        const fs::path written = located(ExportFolder(outFolder, target));
        const std::optional<fs::path> inGame = RelativeInside(written, gameFolder);
        if (inGame && *inGame == ".") {
            Refuse("the output folder " + Quoted(outFolder) +
                   " would put images straight into the game folder " + Quoted(game.Path()));
        }
        for (const ArtCategory category : kAllCategories) {
            const char* subFolder = InfoOf(category).subFolder;
            // The game's own folder under any spelling of its name, and wherever a link
            // to it leads.
            const bool byName =
                inGame && LowerAscii(inGame->begin()->string()) == LowerAscii(subFolder);
            const bool byLink =
                RelativeInside(written, Resolved(game.CategoryFolder(category))).has_value();
            if (byName || byLink) {
                Refuse("the output folder " + Quoted(outFolder) + " lies inside the game's " +
                       subFolder + " folder; the game's files are never written to");
            }
        }
    }
}

ByteArray EncodeImageFile(std::int32_t width, std::int32_t height,
                          std::span<const std::uint8_t> pixels, const Palette& palette,
                          ImageFormat format)
{
    if (format == ImageFormat::Gif) {
        return EncodeGifImage(IndexedImage{width, height, {pixels.begin(), pixels.end()}}, palette);
    }
    if (format == ImageFormat::Png) {
        return EncodePngImage(width, height, pixels, palette);
    }
    return BuildBmpImage(width, height, pixels, palette);
}

void MakeOutputFolder(const fs::path& outFolder, const ExportOptions& options)
{
    std::error_code ec;
    fs::create_directories(outFolder, ec);
    if (ec) {
        throw Error(ErrorKind::CannotWrite,
                    "cannot create the output folder " + Quoted(outFolder) + ": " + ec.message());
    }
    // Asked once here rather than learnt from every image written: a folder that
    // takes no file would fail each of them.
    std::vector<fs::path> folders{outFolder};
    for (const ArtCategory category : kAllCategories) {
        const fs::path folder = ExportFolder(outFolder, category);
        if (options.categories[static_cast<std::size_t>(category)] &&
            fs::is_directory(folder, ec)) {
            folders.push_back(folder);
        }
    }
    for (const fs::path& folder : folders) {
        if (::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) != 0) {
            const int error = errno;
            throw Error(ErrorKind::CannotWrite,
                        "cannot write in the output folder " + Quoted(folder) + ": " +
                            std::error_code(error, std::generic_category()).message());
        }
    }
}

ExportSummary ExportGameFolder(const GameFolder& game, const fs::path& outFolder,
                               const ExportOptions& options, ExportListener& listener)
{
    Export run(game, outFolder, options, listener);
    std::vector<Source> sources;
    for (const ArtCategory category : kAllCategories) {
        if (options.categories[static_cast<std::size_t>(category)]) {
            try {
                for (const std::string& fileName : game.ReadFileList(category)) {
                    sources.push_back(SourceOf(category, fileName));
                }
            } catch (const Error& error) {
                run.ListingFailed(category, error.what());
            }
        }
    }
    return run.Run(sources);
}

ExportSummary ExportAnimation(const GameFolder& game, const std::string& name,
                              const fs::path& outFolder, const ExportOptions& options,
                              ExportListener& listener)
{
    // The name as the folder listing spells it, so the images are named as the
    // whole-folder export names them.
    std::string fileName = name;
    std::vector<std::string> listing;
    try {
        listing = game.ReadFileList(ArtCategory::Animated);
    } catch (const Error&) {
        // Without a listing the name is taken as given; reading the file reports why.
    }
    for (const std::string& listed : listing) {
        if (LowerAscii(listed) == LowerAscii(name)) {
            fileName = listed;
            break;
        }
    }
    return Export(game, outFolder, options, listener)
        .Run({SourceOf(ArtCategory::Animated, fileName)});
}

}  // namespace varek
