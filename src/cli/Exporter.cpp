#include "cli/Exporter.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <map>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#include "cli/FileIntoPlace.h"
#include "cli/PngImage.h"
#include "fli/FliDecoder.h"
#include "imaging/BmpImage.h"
#include "render/ArtImages.h"
#include "render/Naming.h"
#include "util/Error.h"
#include "util/ErrorReporter.h"
#include "util/FileIO.h"

namespace fs = std::filesystem;

namespace varek {

namespace {

constexpr ArtCategory kCategories[] = {ArtCategory::WallsSprites, ArtCategory::OtherArt,
                                       ArtCategory::Animated};

std::string LowerAscii(std::string text)
{
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}

std::string Quoted(const fs::path& path)
{
    std::string text(1, '"');
    text += path.string();
    text += '"';
    return text;
}

std::string Counted(std::size_t count, const char* one, const char* many)
{
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

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

struct Source {
    ArtCategory category;
    fs::path path;
    std::string fileName;  // as the game folder spells it
    std::string name;      // category folder and file name, for the user
};

class Export;

// Passes what a core routine reports about one source file on as its failure.
class SourceReporter final : public ErrorReporter {
public:
    SourceReporter(Export& owner, const std::string& name) : m_owner(owner), m_name(name) {}
    void ReportError(std::string_view message) override;

private:
    Export& m_owner;
    const std::string& m_name;
};

class Export {
public:
    Export(const fs::path& gameFolder, const fs::path& outFolder, const ExportOptions& options,
           ExportListener& listener)
        : m_game(gameFolder), m_out(outFolder), m_options(options), m_listener(listener)
    {
    }

    ExportSummary Run()
    {
        std::vector<Source> sources;
        for (const ArtCategory category : kCategories) {
            if (!m_options.categories[static_cast<std::size_t>(category)]) {
                continue;
            }
            const CategoryInfo& info = InfoOf(category);
            const fs::path folder = GameFolderEntry(m_game, info.subFolder);
            for (const std::string& fileName : ListMatchingFiles(folder, info.pattern)) {
                sources.push_back({category, folder / fileName, fileName,
                                   std::string(info.subFolder) + "/" + fileName});
            }
        }
        for (std::size_t i = 0; i < sources.size(); ++i) {
            const Source& source = sources[i];
            m_listener.FileStarted(i + 1, sources.size(), source.name);
            const std::size_t before = m_summary.imagesWritten;
            ExportSource(source, i + 1, sources.size());
            m_listener.FileFinished(i + 1, sources.size(), source.name,
                                    m_summary.imagesWritten - before);
        }
        return m_summary;
    }

    void Fail(const std::string& name, const std::string& reason)
    {
        ++m_summary.failures;
        m_listener.Failed(name, reason);
    }

private:
    void ExportSource(const Source& source, std::size_t position, std::size_t total)
    {
        const std::optional<ByteArray> bytes = ReadSource(source.path, source.name);
        if (!bytes) {
            return;
        }
        ++m_summary.filesRead;
        try {
            switch (source.category) {
                case ArtCategory::WallsSprites:
                    ExportWall(source, *bytes);
                    break;
                case ArtCategory::OtherArt: {
                    const IndexedImage image = BuildCelImage(*bytes);
                    const Palette colors = DecodePaletteBlock(*bytes, kStillArtBlockOffset).palette;
                    WriteImage(source, 0, image.width, image.height, image.pixels, colors);
                    break;
                }
                case ArtCategory::Animated:
                    ExportAnimation(source, *bytes, position, total);
                    break;
            }
        } catch (const std::exception& error) {
            Fail(source.name, error.what());
        }
    }

    // The file's bytes, or nothing after telling why they cannot be had.
    std::optional<ByteArray> ReadSource(const fs::path& path, const std::string& name)
    {
        try {
            SourceReporter reporter(*this, name);
            ByteArray bytes = ReadFileBytes(path, reporter);
            // One zero byte stands for a missing or empty file.
            if (bytes.size() == 1 && bytes[0] == 0) {
                std::error_code ec;
                const auto size = fs::file_size(path, ec);
                if (ec) {
                    Fail(name, "the file cannot be found any more");
                    return std::nullopt;
                }
                if (size == 0) {
                    Fail(name, "the file is empty");
                    return std::nullopt;
                }
            }
            return bytes;
        } catch (const std::exception& error) {
            Fail(name, error.what());
            return std::nullopt;
        }
    }

    // The colours of PALETTE.PAL, read once. A palette file that is empty, short or
    // unreadable is one failure; the walls are still written, the colours that could
    // not be read black, as the window shows them.
    const Palette& WallPalette()
    {
        if (!m_wallPalette) {
            const fs::path path = GameFolderEntry(m_game, kPaletteFileName);
            const std::optional<ByteArray> bytes = ReadSource(path, kPaletteFileName);
            m_wallPalette = Palette{};
            if (bytes) {
                const DecodedPalette decoded = DecodePaletteBlock(*bytes, kPaletteFileBlockOffset);
                if (!decoded.complete()) {
                    Fail(kPaletteFileName,
                         "the file holds " + Counted(bytes->size(), "byte", "bytes") +
                             ", too few for its 768-byte colour block: colours " +
                             std::to_string(decoded.entriesRead) + " to 255 are black");
                }
                m_wallPalette = decoded.palette;
            }
        }
        return *m_wallPalette;
    }

    void ExportWall(const Source& source, const ByteArray& bytes)
    {
        const IndexedImage image = BuildWallImage(bytes, m_options.rotate);
        WriteImage(source, 0, image.width, image.height, image.pixels, WallPalette());
    }

    void ExportAnimation(const Source& source, const ByteArray& bytes, std::size_t position,
                         std::size_t total)
    {
        FrameStore store;
        SourceReporter reporter(*this, source.name);
        try {
            DecodeFLIFile(bytes, store, reporter);
        } catch (const std::exception& error) {
            const std::size_t kept = store.FrameCount();
            Fail(source.name, std::string(error.what()) +
                                  (kept == 0 ? std::string("; no frame could be decoded")
                                             : "; the " + Counted(kept, "frame", "frames") +
                                                   " decoded before it are written"));
        }
        WriteFrames(source, store, position, total);
    }

    // The image file name for source, or empty after reporting that another source
    // has it: two game files whose names differ only in case would share one name on
    // a file system that ignores case, and the first keeps it.
    std::string ClaimName(const Source& source, int frame)
    {
        std::string fileName = ExportFileName(source.fileName, m_options.format, frame);
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
                ThrowFileAccess("Cannot create the folder " + Quoted(folder) + ": " + ec.message());
            }
            ready = true;
        }
        return folder;
    }

    void WriteImageFile(const fs::path& path, std::int32_t width, std::int32_t height,
                        std::span<const std::uint8_t> pixels, const Palette& palette) const
    {
        WriteFileIntoPlace(path, EncodeImageFile(width, height, pixels, palette, m_options.format));
    }

    void WriteImage(const Source& source, int frame, std::int32_t width, std::int32_t height,
                    std::span<const std::uint8_t> pixels, const Palette& palette)
    {
        const std::string fileName = ClaimName(source, frame);
        if (fileName.empty()) {
            return;
        }
        try {
            WriteImageFile(TargetFolder(source.category) / fileName, width, height, pixels,
                           palette);
            ++m_summary.imagesWritten;
        } catch (const std::exception& error) {
            Fail(source.name, error.what());
        }
    }

    // Frames are encoded and written on several threads: making a file costs the
    // system more than decoding and encoding a frame does, and much of it overlaps.
    void WriteFrames(const Source& source, const FrameStore& store, std::size_t position,
                     std::size_t total)
    {
        const std::size_t frameCount = store.FrameCount();
        if (frameCount == 0) {
            return;
        }
        fs::path folder;
        try {
            folder = TargetFolder(source.category);
        } catch (const std::exception& error) {
            Fail(source.name, error.what());
            return;
        }
        std::vector<std::string> names(frameCount + 1);
        for (std::size_t frame = 1; frame <= frameCount; ++frame) {
            names[frame] = ClaimName(source, static_cast<int>(frame));
        }

        std::atomic<std::size_t> next{1};
        std::mutex mutex;
        std::size_t finished = 0;
        auto work = [&] {
            for (std::size_t frame = next++; frame <= frameCount; frame = next++) {
                std::optional<std::string> failure;
                if (!names[frame].empty()) {
                    try {
                        const FrameRecord& record = store[frame];
                        WriteImageFile(folder / names[frame], kFrameWidth, kFrameHeight,
                                       record.Pixels, record.Colors);
                    } catch (const std::exception& error) {
                        failure = error.what();
                    }
                }
                const std::lock_guard lock(mutex);
                if (failure) {
                    Fail(source.name, *failure);
                } else if (!names[frame].empty()) {
                    ++m_summary.imagesWritten;
                }
                m_listener.FrameWritten(position, total, source.name, ++finished, frameCount);
            }
        };
        std::vector<std::thread> helpers;
        const unsigned threads = std::clamp(std::thread::hardware_concurrency(), 2u, 8u);
        for (unsigned i = 1; i < threads && i < frameCount; ++i) {
            try {
                helpers.emplace_back(work);
            } catch (const std::system_error&) {
                break;  // the threads already started share the work
            }
        }
        work();
        for (std::thread& helper : helpers) {
            helper.join();
        }
    }

    const fs::path& m_game;
    const fs::path& m_out;
    const ExportOptions& m_options;
    ExportListener& m_listener;
    ExportSummary m_summary;
    std::optional<Palette> m_wallPalette;
    std::array<std::map<std::string, std::string>, 3> m_taken;
    std::array<bool, 3> m_folderReady{};
};

void SourceReporter::ReportError(std::string_view message)
{
    m_owner.Fail(m_name, std::string(message));
}

}  // namespace

fs::path ExportFolder(const fs::path& outFolder, ArtCategory category)
{
    return outFolder / InfoOf(category).subFolder;
}

std::string ExportFileName(const std::string& sourceName, ImageFormat format, int frame)
{
    return SuggestedName(sourceName, frame > 0 ? std::optional<int>(frame) : std::nullopt,
                         format == ImageFormat::Png ? ".png" : ".bmp");
}

std::string CheckOutputFolder(const fs::path& gameFolder, const fs::path& outFolder)
{
    const fs::path game = Resolved(gameFolder);
    const fs::path out = Resolved(outFolder);
    if (out == game) {
        return "the output folder " + Quoted(outFolder) +
               " is the game folder; the game's files are never written to";
    }
    std::error_code ec;
    if (fs::exists(out, ec) && !fs::is_directory(out, ec)) {
        return "the output folder " + Quoted(outFolder) + " is a file, not a folder";
    }
    for (const ArtCategory target : kCategories) {
        const fs::path written = Resolved(ExportFolder(outFolder, target));
        const std::optional<fs::path> inGame = RelativeInside(written, game);
        if (inGame && *inGame == ".") {
            return "the output folder " + Quoted(outFolder) +
                   " would put images straight into the game folder " + Quoted(gameFolder);
        }
        for (const ArtCategory category : kCategories) {
            const char* subFolder = InfoOf(category).subFolder;
            // The game's own folder under any spelling of its name, and wherever a link
            // to it leads.
            const bool byName =
                inGame && LowerAscii(inGame->begin()->string()) == LowerAscii(subFolder);
            const bool byLink =
                RelativeInside(written, Resolved(GameFolderEntry(gameFolder, subFolder)))
                    .has_value();
            if (byName || byLink) {
                return "the output folder " + Quoted(outFolder) + " lies inside the game's " +
                       subFolder + " folder; the game's files are never written to";
            }
        }
    }
    return {};
}

ByteArray EncodeImageFile(std::int32_t width, std::int32_t height,
                          std::span<const std::uint8_t> pixels, const Palette& palette,
                          ImageFormat format)
{
    if (format == ImageFormat::Png) {
        return EncodePngImage(width, height, pixels, palette);
    }
    return BuildBmpImage(width, height, pixels, palette);
}

ExportSummary ExportGameFolder(const fs::path& gameFolder, const fs::path& outFolder,
                               const ExportOptions& options, ExportListener& listener)
{
    return Export(gameFolder, outFolder, options, listener).Run();
}

}  // namespace varek
