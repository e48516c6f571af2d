#include "export/Exporter.h"

#include <unistd.h>

#include <algorithm>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <set>
#include <thread>
#include <type_traits>
#include <vector>

#include "art/Naming.h"
#include "art/Playback.h"
#include "imaging/ApngImage.h"
#include "export/SpriteSheet.h"
#include "imaging/BmpImage.h"
#include "imaging/Enlarge.h"
#include "imaging/GifImage.h"
#include "imaging/PngImage.h"
#include "imaging/WebpImage.h"
#include "util/AtomicWrite.h"
#include "util/Error.h"
#include "util/Text.h"
#include "util/WorkQueue.h"

namespace fs = std::filesystem;

namespace varek {

static_assert(std::is_same_v<FrameDuration, PictureTime>,
              "animated files take the decoder's durations as they are");

namespace {

// A fault that kept a file from being read at all, rather than from being decoded.
bool IsReadFault(const Error& error)
{
    return error.kind() == ErrorKind::NotFound || error.kind() == ErrorKind::CannotRead;
}

constexpr const char* kNoMemory = "there is not enough memory to decode it";
// The longest file name, in bytes, where the system cannot say.
constexpr std::size_t kUsualLongestName = 255;
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
        // What an export killed before it could clean up left behind, in every
        // category folder, whether this export writes there or not.
        for (const ArtCategory category : kAllCategories) {
            RemoveStaleTemporaryFiles(ExportFolder(m_out, category));
        }
        for (std::size_t i = 0; i < sources.size(); ++i) {
            if (Stopped()) {
                m_summary.cancelled = true;
                break;
            }
            const Source& source = sources[i];
            m_listener.FileStarted(i + 1, sources.size(), source.name);
            const std::size_t before = m_summary.imagesWritten;
            ExportSource(source, i + 1, sources.size());
            // A category's sheet is written with its last file, and counted there.
            if (m_options.sheet &&
                (i + 1 == sources.size() || sources[i + 1].category != source.category)) {
                WriteCategorySheet(source.category);
            }
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
        if (m_options.sheet) {
            m_sheetPictures[static_cast<std::size_t>(source.category)].push_back(
                {ExportFileName(source.fileName, ImageFormat::Png), std::move(picture)});
            return;
        }
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
        if (m_options.sheet) {
            ReportAnimation(source, WriteAnimationSheet(source, position, total));
            return;
        }
        AnimationTarget target{source, position, total};
        const LoadProgress goOn = [this](std::int32_t, std::int32_t) { return !Stopped(); };
        const bool oneFile = OneFileAnimations();
        if (m_options.format == ImageFormat::Apng) {
            target.colors = ScanColors(source);
        }
        // An animated file takes its pictures in order, one thread; image files
        // are written on as many threads as help.
        FrameQueue queue(oneFile ? 1 : WriterThreads(), [&](const FrameQueue::Job& decoded) {
            const FrameQueue::Job* enlarged = Enlarged(target, decoded);
            if (enlarged == nullptr) {
                return;
            }
            const FrameQueue::Job& job = *enlarged;
            if (oneFile) {
                AddAnimatedPicture(target, job);
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
        if (oneFile) {
            FinishAnimatedFile(target);
        }
        ReportAnimation(source, animation);
    }

    // What is left to tell once an animation's files are written: whether it was
    // read, and its faults.
    void ReportAnimation(const Source& source, const Animation& animation)
    {
        if (animation.cancelled || Stopped()) {
            m_summary.cancelled = true;
        }
        if (!animation.stop || !IsReadFault(*animation.stop)) {
            ++m_summary.filesRead;
        }
        for (const Error& fault : animation.lineFaults) {
            Fail(source.name, fault.what());
        }
        if (animation.moreLineFaults > 0) {
            // Each fault counts; only the first few are told one by one.
            m_summary.failures += animation.moreLineFaults - 1;
            Fail(source.name, "and " + WithThousands(animation.moreLineFaults) +
                                  " more faults in line-compression chunks");
        }
        if (animation.stop) {
            const std::size_t kept = animation.pictures.size();
            std::string reason = animation.stop->what();
            if (!IsReadFault(*animation.stop)) {
                reason += kept == 0   ? std::string("; no frame could be decoded")
                          : kept == 1 ? std::string("; the 1 frame decoded before it is written")
                                      : "; the " + std::to_string(kept) +
                                            " frames decoded before it are written";
            }
            Fail(source.name, reason);
        }
    }

    bool OneFileAnimations() const
    {
        return m_options.format == ImageFormat::Gif || m_options.format == ImageFormat::Apng ||
               m_options.format == ImageFormat::Webp;
    }

    // What colours an animation shows: one palette throughout, and then an index
    // no picture uses, or not. The file is decoded once for it, stopping at the
    // first picture in other colours; a file that cannot be read counts as
    // changing them, and the export that follows reports why.
    struct ColorScan {
        bool onePalette = false;
        std::optional<std::uint8_t> freeIndex;
    };

    ColorScan ScanColors(const Source& source) const
    {
        std::optional<Palette> first;
        bool changes = false;
        std::array<bool, kPaletteEntries> used{};
        try {
            m_game.StreamAnimation(
                source.fileName,
                [&](const StreamedPicture& picture) {
                    if (!first) {
                        first = picture.record.Colors;
                    } else if (picture.record.Colors != *first) {
                        changes = true;
                        return;
                    }
                    for (const std::uint8_t index : picture.record.Pixels) {
                        used[index] = true;
                    }
                },
                [&](std::int32_t, std::int32_t) { return !changes && !Stopped(); });
        } catch (const Error&) {
            return {};
        }
        if (changes || !first) {
            return {};
        }
        ColorScan scan{true, std::nullopt};
        const auto free = std::find(used.begin(), used.end(), false);
        if (free != used.end()) {
            scan.freeIndex = static_cast<std::uint8_t>(free - used.begin());
        }
        return scan;
    }

    // An animation's sprite sheet, NAME.png and NAME.json, from two walks through
    // the file: the first finds how many pictures there are and whether their
    // colours ever change, the second writes them a row of the sheet at a time.
    // Returns the first walk's load, whose faults are the file's.
    Animation WriteAnimationSheet(const Source& source, std::size_t position, std::size_t total)
    {
        const LoadProgress goOn = [this](std::int32_t, std::int32_t) { return !Stopped(); };
        std::optional<Palette> shared;
        SheetSize size;
        const Animation animation = m_game.StreamAnimation(
            source.fileName,
            [&](const StreamedPicture& picture) {
                if (picture.number == 1) {
                    shared = picture.record.Colors;
                    size = {picture.record.Width, picture.record.Height};
                } else if (shared && picture.record.Colors != *shared) {
                    shared.reset();
                }
            },
            goOn);
        const std::size_t count = animation.pictures.size();
        if (count == 0 || animation.cancelled || Stopped()) {
            return animation;
        }
        const std::string imageName = ClaimName(source, 0);
        if (imageName.empty()) {
            return animation;
        }
        const std::optional<std::string> failure = FailureOf([&] {
            EnlargedSize(size.width, size.height);
            const fs::path folder = TargetFolder(source.category);
            const SheetLayout layout = LayOutSheet(
                std::vector<SheetSize>(
                    count, {size.width * m_options.scale, size.height * m_options.scale}),
                m_options.sheetColumns);
            FileBeingWritten file(folder / imageName);
            SheetWriter sheet(layout, m_options.scale, shared,
                              [&file](std::span<const std::uint8_t> bytes) { file.Write(bytes); });
            std::vector<SheetFrame> frames;
            frames.reserve(count);
            MillisecondClock clock;
            m_game.StreamAnimation(
                source.fileName,
                [&](const StreamedPicture& picture) {
                    // A file that grew since the first walk keeps the pictures counted then.
                    if (frames.size() == count) {
                        return;
                    }
                    sheet.Add(picture.record.Width, picture.record.Height, picture.record.Pixels,
                              picture.record.Colors);
                    frames.push_back(
                        {ExportFileName(source.fileName, ImageFormat::Png,
                                        static_cast<int>(picture.number), static_cast<int>(count)),
                         layout.cells[frames.size()], clock.Next(picture.frames)});
                    m_listener.FrameWritten(position, total, source.name, frames.size(), count);
                },
                goOn);
            if (Stopped()) {
                return;
            }
            sheet.Finish();
            file.Commit();
            WriteSheetDescription(folder, imageName, frames, layout.size, shared.has_value());
        });
        if (failure) {
            Fail(source.name, *failure);
        }
        return animation;
    }

    // NAME.json beside the sheet NAME.png. Counts the sheet written.
    void WriteSheetDescription(const fs::path& folder, const std::string& imageName,
                               std::span<const SheetFrame> frames, SheetSize size, bool indexed)
    {
        const std::string json = DescribeSheet(frames, imageName, size, indexed, m_options.scale);
        const std::string stem = imageName.substr(0, imageName.rfind('.'));
        WriteFileAtomically(folder / (stem + ".json"), ByteArray(json.begin(), json.end()));
        ++m_summary.imagesWritten;
    }

    // The sheet of the walls or the stills, "walls.png" and "walls.json" in the
    // category's folder, from the pictures held for it. Pictures of one palette
    // make an indexed sheet.
    void WriteCategorySheet(ArtCategory category)
    {
        std::vector<SheetPicture>& pictures = m_sheetPictures[static_cast<std::size_t>(category)];
        if (pictures.empty()) {
            return;
        }
        if (Stopped()) {
            m_summary.cancelled = true;
            return;
        }
        const std::string name = InfoOf(category).commandLineName;
        const std::optional<std::string> failure = FailureOf([&] {
            std::vector<SheetSize> sizes;
            std::optional<Palette> shared = pictures.front().picture.palette;
            for (const SheetPicture& held : pictures) {
                const IndexedImage& image = held.picture.image;
                EnlargedSize(image.width, image.height);
                sizes.push_back({image.width * m_options.scale, image.height * m_options.scale});
                if (shared && held.picture.palette != *shared) {
                    shared.reset();
                }
            }
            const SheetLayout layout = LayOutSheet(sizes, m_options.sheetColumns);
            const fs::path folder = TargetFolder(category);
            const std::string imageName = name + ".png";
            FileBeingWritten file(folder / imageName);
            SheetWriter sheet(layout, m_options.scale, shared,
                              [&file](std::span<const std::uint8_t> bytes) { file.Write(bytes); });
            std::vector<SheetFrame> frames;
            for (std::size_t i = 0; i < pictures.size(); ++i) {
                const Picture& picture = pictures[i].picture;
                sheet.Add(picture.image.width, picture.image.height, picture.image.pixels,
                          picture.palette);
                frames.push_back({pictures[i].name, layout.cells[i], std::nullopt});
            }
            sheet.Finish();
            file.Commit();
            WriteSheetDescription(folder, imageName, frames, layout.size, shared.has_value());
        });
        if (failure) {
            Fail(std::string(InfoOf(category).subFolder) + "/" + name + ".png", *failure);
        }
        pictures.clear();
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
        // The animated file, written as it is encoded, its name, and whether it
        // failed (on the thread that encodes it). The encoders go before their file.
        std::optional<FileBeingWritten> file;
        std::optional<GifWriter> gif;
        std::optional<GifDelayClock> clock;
        std::optional<ApngWriter> apng;
        std::optional<WebpWriter> webp;
        ColorScan colors;
        std::string fileName;
        bool failed = false;
    };

    // Decoded pictures on their way to the threads that encode and write them,
    // while the next pictures are decoded: making a file costs the system more
    // than decoding and encoding a frame does. Only the pictures in flight are
    // held, a few for each thread, so memory stays the same however long the
    // animation is, and their buffers are reused. With one thread the pictures
    // are handled in order.
    class FrameQueue {
    public:
        struct Job {
            FrameRecord record;
            PictureFrames frames;
            std::vector<std::string> names;  // an empty one belongs to another source
        };
        using Work = std::function<void(const Job&)>;

        FrameQueue(unsigned threads, Work work)
            : m_work(std::move(work)), m_queue(threads, kPicturesPerThread)
        {
        }

        // A job to fill: one a picture written before left, or a new one.
        std::shared_ptr<Job> Take()
        {
            const std::lock_guard lock(m_mutex);
            if (m_idle.empty()) {
                return std::make_shared<Job>();
            }
            std::shared_ptr<Job> job = std::move(m_idle.back());
            m_idle.pop_back();
            return job;
        }

        void Submit(std::shared_ptr<Job> job)
        {
            m_queue.Submit([this, job = std::move(job)]() mutable {
                m_work(*job);
                const std::lock_guard lock(m_mutex);
                m_idle.push_back(std::move(job));
            });
        }

        // Waits until every job submitted is done.
        void Finish() { m_queue.Finish(); }

    private:
        static constexpr std::size_t kPicturesPerThread = 3;

        Work m_work;
        std::mutex m_mutex;
        std::vector<std::shared_ptr<Job>> m_idle;
        WorkQueue m_queue;  // last, so that its threads end before what they use
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
        std::shared_ptr<FrameQueue::Job> job = queue.Take();
        job->names.clear();
        {
            // The writers report under this lock, and the names taken are shared.
            const std::lock_guard lock(m_mutex);
            if (!target.folder) {
                try {
                    // Every picture has the first one's size.
                    EnlargedSize(picture.record.Width, picture.record.Height);
                    target.folder = TargetFolder(target.source.category);
                } catch (const std::exception& error) {
                    Fail(target.source.name, error.what());
                    target.skip = true;
                    return;
                }
            }
            if (OneFileAnimations()) {
                if (picture.number == 1) {
                    target.fileName = ClaimName(target.source, 0);
                    target.skip = target.fileName.empty();
                    target.imagesToWrite = outline.pictures.size();
                    target.clock.emplace();
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

    // On a writer thread: decoded enlarged by the export's scale, in a record of
    // the thread's own, or decoded itself at 1x; nothing after reporting a failure.
    const FrameQueue::Job* Enlarged(AnimationTarget& target, const FrameQueue::Job& decoded)
    {
        if (m_options.scale == 1) {
            return &decoded;
        }
        thread_local FrameQueue::Job enlarged;
        const std::optional<std::string> failure = FailureOf([&] {
            const FrameRecord& from = decoded.record;
            FrameRecord& to = enlarged.record;
            const std::size_t size = EnlargedSize(from.Width, from.Height);
            if (to.Pixels.size() != size) {
                to.Pixels = PixelBuffer(size);
            }
            EnlargePixels(from.Width, from.Height, from.Pixels, m_options.scale, to.Pixels.data());
            to.Width = from.Width * m_options.scale;
            to.Height = from.Height * m_options.scale;
            to.Colors = from.Colors;
            enlarged.frames = decoded.frames;
            enlarged.names = decoded.names;
        });
        if (failure) {
            // An animated file missing a picture would play wrong: it is not written.
            if (OneFileAnimations()) {
                target.failed = true;
            }
            const std::lock_guard lock(m_mutex);
            Fail(target.source.name, *failure);
            return nullptr;
        }
        return &enlarged;
    }

    // The pixel count of a width x height picture at the export's scale. Throws
    // Error (TooLarge) past kMaxEnlargedPixels.
    std::size_t EnlargedSize(std::int32_t width, std::int32_t height) const
    {
        const auto scale = static_cast<std::uint64_t>(m_options.scale);
        const std::uint64_t pixels =
            static_cast<std::uint64_t>(width) * scale * static_cast<std::uint64_t>(height) * scale;
        if (pixels > kMaxEnlargedPixels) {
            throw Error(ErrorKind::TooLarge,
                        "a picture of " + std::to_string(width) + " x " + std::to_string(height) +
                            " pixels is too large to enlarge " + std::to_string(scale) +
                            " times: that would take more than " +
                            WithThousands(kMaxEnlargedPixels) + " pixels");
        }
        return static_cast<std::size_t>(pixels);
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
                        image =
                            EncodeImageFile(job.record.Width, job.record.Height, job.record.Pixels,
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

    // On the thread of the animated file: one picture more for the whole
    // animation's looping file, shown for as long as the file frames it stands for.
    void AddAnimatedPicture(AnimationTarget& target, const FrameQueue::Job& job)
    {
        if (target.failed || Stopped()) {
            return;
        }
        const std::optional<std::string> failure = FailureOf([&] {
            if (!target.file) {
                FileBeingWritten& file = target.file.emplace(*target.folder / target.fileName);
                const auto append = [&file](std::span<const std::uint8_t> bytes) {
                    file.Write(bytes);
                };
                if (m_options.format == ImageFormat::Gif) {
                    target.gif.emplace(job.record.Width, job.record.Height, append);
                } else if (m_options.format == ImageFormat::Webp) {
                    target.webp.emplace(job.record.Width, job.record.Height);
                } else {
                    target.apng.emplace(
                        job.record.Width, job.record.Height,
                        target.colors.onePalette ? std::optional<Palette>(job.record.Colors)
                                             : std::nullopt,
                        target.colors.freeIndex,
                        AnimationOutput{append, [&file](std::uint64_t offset,
                                                        std::span<const std::uint8_t> bytes) {
                                            file.WriteAt(offset, bytes);
                                        }});
                }
            }
            if (target.gif) {
                target.gif->AddPicture(job.record.Pixels, job.record.Colors,
                                       target.clock->Next(job.frames));
            } else if (target.webp) {
                target.webp->AddPicture(job.record.Pixels, job.record.Colors, job.frames.duration);
            } else {
                target.apng->AddPicture(job.record.Pixels, job.record.Colors, job.frames.duration);
            }
        });
        const std::lock_guard lock(m_mutex);
        if (failure) {
            target.failed = true;
            Fail(target.source.name, *failure);
            return;
        }
        m_listener.FrameWritten(target.position, target.total, target.source.name,
                                ++target.imagesDone, target.imagesToWrite);
    }

    void FinishAnimatedFile(AnimationTarget& target)
    {
        if (!target.file || target.failed || Stopped()) {
            return;
        }
        const std::optional<std::string> failure = FailureOf([&] {
            if (target.gif) {
                target.gif->Finish();
            } else if (target.webp) {
                target.webp->Finish(
                    [&target](std::span<const std::uint8_t> bytes) { target.file->Write(bytes); });
            } else {
                target.apng->Finish();
            }
            target.file->Commit();
        });
        if (failure) {
            Fail(target.source.name, *failure);
            return;
        }
        ++m_summary.imagesWritten;
        const std::size_t merged = target.gif ? target.gif->MergedPictures() : 0;
        if (merged > 0) {
            m_summary.picturesMerged += merged;
            m_listener.Noted(target.source.name,
                             Counted(merged, "picture", "pictures") +
                                 " shorter than 2 hundredths of a second merged into the "
                                 "next picture's frame, so that the GIF plays at its speed");
        }
    }

    // The image file name for source, or empty after reporting that another source
    // has it: two game files whose names differ only in case would share one name on
    // a file system that ignores case, and the first keeps it.
    std::string ClaimName(const Source& source, int frame, int pictureCount = 0)
    {
        // A sheet's NAME.json is a byte longer than its NAME.png.
        const std::size_t longest = LongestName(source.category) - (m_options.sheet ? 1 : 0);
        const ImageFormat format = m_options.sheet ? ImageFormat::Png : m_options.format;
        std::string fileName =
            ExportFileName(source.fileName, format, frame, pictureCount, longest);
        if (fileName != ExportFileName(source.fileName, format, frame, pictureCount) &&
            m_shortened.insert(source.name).second) {
            m_listener.Noted(source.name,
                             "the image file names are shortened to fit the output "
                             "folder, which takes names of at most " +
                                 std::to_string(longest) + " bytes: " + fileName);
        }
        auto& taken = m_taken[static_cast<std::size_t>(source.category)];
        const auto [owner, isNew] = taken.emplace(LowerAscii(fileName), source.name);
        if (!isNew && owner->second != source.name) {
            Fail(source.name,
                 "not written: " + fileName + " is already the image of " + owner->second);
            return {};
        }
        return fileName;
    }

    // The longest file name the category's folder of the output folder takes, in
    // bytes, asked once: of the output folder while the category's is not made yet.
    std::size_t LongestName(ArtCategory category)
    {
        std::size_t& longest = m_longestName[static_cast<std::size_t>(category)];
        if (longest == 0) {
            long limit = ::pathconf(ExportFolder(m_out, category).c_str(), _PC_NAME_MAX);
            if (limit <= 0) {
                limit = ::pathconf(m_out.c_str(), _PC_NAME_MAX);
            }
            longest = limit > 0 ? static_cast<std::size_t>(limit) : kUsualLongestName;
        }
        return longest;
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
            ByteArray enlarged;
            if (m_options.scale > 1) {
                enlarged.resize(EnlargedSize(width, height));
                EnlargePixels(width, height, pixels, m_options.scale, enlarged.data());
                width *= m_options.scale;
                height *= m_options.scale;
                pixels = enlarged;
            }
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
    std::array<std::size_t, kCategoryCount> m_longestName{};
    std::set<std::string> m_shortened;  // sources whose names were, once told
    // With sheets, the walls and stills read so far, for their category's sheet.
    struct SheetPicture {
        std::string name;
        Picture picture;
    };
    std::array<std::vector<SheetPicture>, kCategoryCount> m_sheetPictures;
    // Taken by the threads that write an animation's frames while they report.
    std::mutex m_mutex;
};

}  // namespace

std::string ExportFileName(const std::string& sourceName, ImageFormat format, int frame,
                           int pictureCount, std::size_t longest)
{
    const char* extension = format == ImageFormat::Gif    ? ".gif"
                            : format == ImageFormat::Webp ? ".webp"
                            : format == ImageFormat::Bmp  ? ".bmp"
                                                          : ".png";
    return SuggestedName(sourceName, frame > 0 ? std::optional<int>(frame) : std::nullopt,
                         extension, pictureCount, longest);
}

ByteArray EncodeImageFile(std::int32_t width, std::int32_t height,
                          std::span<const std::uint8_t> pixels, const Palette& palette,
                          ImageFormat format)
{
    if (format == ImageFormat::Gif) {
        return EncodeGifImage(IndexedImage{width, height, {pixels.begin(), pixels.end()}}, palette);
    }
    if (format == ImageFormat::Webp) {
        return EncodeWebpImage(width, height, pixels, palette);
    }
    if (format == ImageFormat::Png || format == ImageFormat::Apng) {
        return EncodePngImage(width, height, pixels, palette);
    }
    return BuildBmpImage(width, height, pixels, palette);
}

ExportListing ListExportFiles(const GameFolder& game, const ExportOptions& options)
{
    ExportListing listing;
    for (const ArtCategory category : kAllCategories) {
        if (options.categories[static_cast<std::size_t>(category)]) {
            try {
                for (std::string& fileName : game.ReadFileList(category)) {
                    listing.files.emplace_back(category, std::move(fileName));
                }
            } catch (const Error& error) {
                listing.unlisted.emplace_back(category, error.what());
            }
        }
    }
    return listing;
}

ExportSummary ExportGameFolder(const GameFolder& game, const fs::path& outFolder,
                               const ExportOptions& options, ExportListener& listener)
{
    return ExportGameFolder(game, ListExportFiles(game, options), outFolder, options, listener);
}

ExportSummary ExportGameFolder(const GameFolder& game, const ExportListing& listing,
                               const fs::path& outFolder, const ExportOptions& options,
                               ExportListener& listener)
{
    Export run(game, outFolder, options, listener);
    for (const auto& [category, reason] : listing.unlisted) {
        run.ListingFailed(category, reason);
    }
    std::vector<Source> sources;
    sources.reserve(listing.files.size());
    for (const auto& [category, fileName] : listing.files) {
        sources.push_back(SourceOf(category, fileName));
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
