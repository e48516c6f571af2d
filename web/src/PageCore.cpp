// What the page asks of the core, as plain C functions over numbers, strings and
// one buffer at a time: the folder the user chose is read file by file through the
// page's worker, never copied whole, and every answer is a small JSON text.
#include <emscripten/emscripten.h>

#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <new>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "art/GameFolder.h"
#include "art/Naming.h"
#include "art/Playback.h"
#include "imaging/BmpImage.h"
#include "imaging/GifImage.h"
#include "util/Error.h"

using namespace varek;

// Reads count bytes from offset of the chosen folder's file number file into into;
// false when the browser could not read it.
// clang-format off
EM_JS(int, ReadChosenFile, (int file, double offset, int count, std::uint8_t* into), {
    const bytes = Module.readChosenFile(file, offset, count);
    if (!bytes || bytes.length !== count) {
        return 0;
    }
    HEAPU8.set(bytes, into);
    return 1;
});
// clang-format on

namespace {

// One file of the chosen folder, read on demand.
class ChosenFile final : public SourceFile {
public:
    ChosenFile(int index, std::uint64_t size, std::string name)
        : m_index(index), m_size(size), m_name(std::move(name))
    {
    }

    std::uint64_t Size() const override { return m_size; }

    ByteArray ReadStart(std::uint64_t count) const override
    {
        ByteArray bytes(static_cast<std::size_t>(std::min(count, m_size)));
        if (!bytes.empty() &&
            ReadChosenFile(m_index, 0, static_cast<int>(bytes.size()), bytes.data()) == 0) {
            throw Error(ErrorKind::CannotRead, "\"" + m_name + "\": the browser could not read it");
        }
        return bytes;
    }

    FileBytes ReadFront(std::uint64_t count) const override { return FileBytes(ReadStart(count)); }

private:
    int m_index;
    std::uint64_t m_size;
    std::string m_name;
};

// The folder the user chose, as the browser lists it: names relative to its top.
// Finding and listing are the in-memory source's, over empty stand-ins of the
// files; opening reads the real file.
class ChosenFolder final : public ByteSource {
public:
    struct Entry {
        int index;
        std::uint64_t size;
    };

    ChosenFolder(std::map<std::string, Entry> files, std::map<std::string, ByteArray> names)
        : m_files(std::move(files)), m_names(std::move(names))
    {
    }

    FoundEntry FindEntry(const std::string& name) const override { return m_names.FindEntry(name); }

    std::vector<std::string> ListFiles(const std::string& folder,
                                       const std::string& pattern) const override
    {
        return m_names.ListFiles(folder, pattern);
    }

    std::unique_ptr<SourceFile> Open(const std::string& name) const override
    {
        const auto found = m_files.find(name);
        if (found == m_files.end()) {
            return m_names.Open(name);  // throws as the in-memory source does
        }
        m_names.Open(name);  // hidden names are refused alike
        return std::make_unique<ChosenFile>(found->second.index, found->second.size, name);
    }

private:
    std::map<std::string, Entry> m_files;
    MemorySource m_names;
};

std::string Json(const std::string& text)
{
    std::string out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

// The reason a file cannot be shown, as the window words it.
std::string ReasonOf(const std::exception& error)
{
    if (dynamic_cast<const std::bad_alloc*>(&error) != nullptr) {
        return "There is not enough memory for it.";
    }
    const auto* failure = dynamic_cast<const Error*>(&error);
    if (failure != nullptr && failure->kind() == ErrorKind::NotFound) {
        return "The file is missing or empty.";
    }
    return error.what();
}

struct Page {
    std::optional<GameFolder> game;
    Palette wallPalette;
    ArtCategory category = ArtCategory::WallsSprites;
    std::string name;
    // A wall or still; an animation's pictures come from frames, which keeps the
    // file and a snapshot every so many pictures, so any length fits a tab.
    std::optional<Picture> still;
    FrameSeeker frames;
    Animation animation;
    // The picture on show, and what the last call handed out.
    Picture shown;
    int shownNumber = 0;  // the animation picture on show, counted from 1; 0 for a still
    ByteArray out;
    std::string answer;
};

Page& ThePage()
{
    static Page page;
    return page;
}

const char* Answer(std::string text)
{
    Page& page = ThePage();
    page.answer = std::move(text);
    return page.answer.c_str();
}

const char* Failure(const std::string& reason)
{
    return Answer("{\"error\":" + Json(reason) + "}");
}

std::size_t PictureCount(const Page& page)
{
    if (page.still) {
        return 1;
    }
    return std::min(page.animation.pictures.size(), page.frames.FrameCount());
}

}  // namespace

extern "C" {

// Opens the chosen folder, listed as lines of a name and then its size in bytes, each
// file numbered by its place in the list. Answers {"error"} with the start-up
// check's message, or the three categories' lists.
EMSCRIPTEN_KEEPALIVE const char* varek_open(const char* listing)
{
    Page& page = ThePage();
    page.game.reset();
    page.still.reset();
    page.frames.Clear();
    page.animation = {};
    try {
        std::map<std::string, ChosenFolder::Entry> files;
        std::map<std::string, ByteArray> names;
        std::istringstream lines(listing);
        std::string name;
        std::string size;
        int index = 0;
        while (std::getline(lines, name) && std::getline(lines, size)) {
            files[name] = {index++, std::stoull(size)};
            names[name] = {};
        }
        auto source = std::make_shared<ChosenFolder>(std::move(files), std::move(names));
        const std::string missing = GameFolder::Check(*source);
        if (!missing.empty()) {
            return Failure(missing);
        }
        page.game.emplace(GameFolder::Open(source));
        std::string text = "{\"lists\":[";
        for (const ArtCategory category : kAllCategories) {
            text += category == ArtCategory::WallsSprites ? "{" : ",{";
            try {
                text += "\"files\":[";
                bool first = true;
                for (const std::string& file : page.game->ReadFileList(category)) {
                    text += (first ? "" : ",") + Json(file);
                    first = false;
                }
                text += "]";
            } catch (const std::exception& error) {
                text += "],\"error\":" + Json(error.what());
            }
            text += "}";
        }
        text += "]";
        const WallPalette palette = page.game->LoadWallPalette();
        page.wallPalette = palette.palette;
        if (palette.fault) {
            text += ",\"paletteNote\":" +
                    Json(std::string(kPaletteFileName) + " holds " +
                         std::to_string(palette.entriesRead) +
                         " of the 256 colours of a palette; the others are shown black.");
        }
        return Answer(text + "}");
    } catch (const std::exception& error) {
        page.game.reset();
        return Failure(ReasonOf(error));
    }
}

// Loads a file of the category; walls turned with rotate. Answers {"error"} or the
// picture count, the frame count and each picture's first file frame and start in
// milliseconds (the loop's length last), and the load's fault.
EMSCRIPTEN_KEEPALIVE const char* varek_load(int category, const char* name, int rotate)
{
    Page& page = ThePage();
    page.still.reset();
    page.frames.Clear();
    page.animation = {};
    if (!page.game) {
        return Failure("No game folder is open.");
    }
    page.category = static_cast<ArtCategory>(category);
    page.name = name;
    try {
        switch (page.category) {
            case ArtCategory::WallsSprites:
                page.still = page.game->LoadWall(name, page.wallPalette, rotate != 0);
                return Answer("{\"pictures\":1}");
            case ArtCategory::OtherArt:
                page.still = page.game->LoadStill(name);
                return Answer("{\"pictures\":1}");
            case ArtCategory::Animated:
                break;
        }
        page.animation = page.game->LoadAnimation(name, page.frames);
    } catch (const std::exception& error) {
        page.frames.Clear();
        page.animation = {};
        return Failure(ReasonOf(error));
    }
    const std::size_t count = PictureCount(page);
    if (count == 0) {
        return Failure(page.animation.stop ? ReasonOf(*page.animation.stop)
                                           : "The animation holds no frames.");
    }
    const PlaybackSchedule schedule(std::span(page.animation.pictures).first(count));
    std::string text = "{\"pictures\":" + std::to_string(count) +
                       ",\"fileFrames\":" + std::to_string(page.animation.fileFrames) +
                       ",\"firstFrames\":[";
    for (std::size_t i = 0; i < count; ++i) {
        text += (i == 0 ? "" : ",") + std::to_string(page.animation.pictures[i].firstFrame);
    }
    text += "],\"starts\":[";
    for (int i = 0; i <= static_cast<int>(count); ++i) {
        const std::int64_t start =
            i < static_cast<int>(count) ? schedule.StartOf(i) : schedule.LoopLength();
        text += (i == 0 ? "" : ",") + std::to_string(static_cast<double>(start) / 1e6);
    }
    text += "]";
    std::size_t faults = page.animation.lineFaultCount();
    if (page.animation.stop) {
        text += ",\"stop\":" + Json(ReasonOf(*page.animation.stop));
    }
    if (faults > 0) {
        text += ",\"lineFaults\":" + std::to_string(faults);
    }
    return Answer(text + "}");
}

// Makes picture (0-based) of the file loaded the one on show; answers its width
// and height, and varek_rgba then points at its colours, 4 bytes a pixel.
EMSCRIPTEN_KEEPALIVE const char* varek_show(int picture)
{
    Page& page = ThePage();
    const std::size_t count = PictureCount(page);
    if (picture < 0 || static_cast<std::size_t>(picture) >= count) {
        return Failure("There is no such picture.");
    }
    try {
        page.shown = page.still ? *page.still
                                : PictureOf(page.frames.at(static_cast<std::size_t>(picture) + 1));
        page.shownNumber = page.still ? 0 : picture + 1;
        const IndexedImage& image = page.shown.image;
        page.out.resize(image.pixels.size() * 4);
        for (std::size_t i = 0; i < image.pixels.size(); ++i) {
            const ColorValue color = page.shown.palette[image.pixels[i]];
            page.out[i * 4] = RedOf(color);
            page.out[i * 4 + 1] = GreenOf(color);
            page.out[i * 4 + 2] = BlueOf(color);
            page.out[i * 4 + 3] = 255;
        }
        return Answer("{\"width\":" + std::to_string(image.width) +
                      ",\"height\":" + std::to_string(image.height) +
                      ",\"bytes\":" + std::to_string(page.out.size()) + "}");
    } catch (const std::exception& error) {
        return Failure(ReasonOf(error));
    }
}

// The file of the picture on show as the window saves it (format 0, BMP), its
// palette indices then the 256 colours as red, green, blue (1, for the page's PNG),
// or the whole animation as the exporter's GIF (2). Answers {"error"}, or how many
// bytes varek_bytes points at and the name the window or the exporter gives the file.
EMSCRIPTEN_KEEPALIVE const char* varek_file(int format)
{
    Page& page = ThePage();
    try {
        const IndexedImage& image = page.shown.image;
        if (format == 0) {
            page.out = BuildBmpImage(image, page.shown.palette);
        } else if (format == 1) {
            page.out = image.pixels;
            for (const ColorValue color : page.shown.palette.Colors) {
                page.out.insert(page.out.end(), {RedOf(color), GreenOf(color), BlueOf(color)});
            }
        } else {
            if (!page.game || page.category != ArtCategory::Animated) {
                return Failure("Only an animation is saved as GIF.");
            }
            // Streamed as the exporter streams it: one picture held at a time.
            ByteArray bytes;
            std::optional<GifWriter> gif;
            GifDelayClock clock;
            page.game->StreamAnimation(page.name, [&](const StreamedPicture& picture) {
                if (!gif) {
                    gif.emplace(picture.record.Width, picture.record.Height,
                                [&bytes](std::span<const std::uint8_t> piece) {
                                    bytes.insert(bytes.end(), piece.begin(), piece.end());
                                });
                }
                gif->AddPicture(picture.record.Pixels, picture.record.Colors,
                                clock.Next(picture.frames));
            });
            if (!gif) {
                return Failure("The animation holds no frames.");
            }
            gif->Finish();
            page.out = std::move(bytes);
        }
        const std::optional<int> frame =
            page.shownNumber > 0 && format != 2 ? std::optional(page.shownNumber) : std::nullopt;
        const char* extension = format == 0 ? ".bmp" : format == 1 ? ".png" : ".gif";
        return Answer("{\"bytes\":" + std::to_string(page.out.size()) + ",\"width\":" +
                      std::to_string(image.width) + ",\"height\":" + std::to_string(image.height) +
                      ",\"name\":" + Json(SuggestedName(page.name, frame, extension)) + "}");
    } catch (const std::exception& error) {
        page.out.clear();
        return Failure(ReasonOf(error));
    }
}

EMSCRIPTEN_KEEPALIVE const std::uint8_t* varek_bytes()
{
    return ThePage().out.data();
}

}  // extern "C"
