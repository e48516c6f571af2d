#pragma once

#include <array>
#include <cstddef>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "fli/FliDecoder.h"
#include "fli/FrameStore.h"
#include "imaging/IndexedImage.h"
#include "imaging/Palette.h"
#include "util/ByteSource.h"
#include "util/Error.h"

namespace varek {

struct FileFacts;
struct LooseFile;

// The three kinds of art, numbered as the window's category buttons.
enum class ArtCategory { WallsSprites = 0, OtherArt = 1, Animated = 2 };

inline constexpr std::size_t kCategoryCount = 3;
inline constexpr std::array<ArtCategory, kCategoryCount> kAllCategories{
    ArtCategory::WallsSprites, ArtCategory::OtherArt, ArtCategory::Animated};

struct CategoryInfo {
    const char* caption;          // the button's caption
    const char* subFolder;        // folder of the game folder holding the files
    const char* pattern;          // which of its files are listed
    const char* commandLineName;  // the name varek-export's --category takes
};

const CategoryInfo& InfoOf(ArtCategory category);

inline constexpr const char* kPaletteFileName = "PALETTE.PAL";
inline constexpr std::array<bool, kCategoryCount> kEveryCategory{true, true, true};

// A picture ready to show or write: its pixels and the colours they index.
struct Picture {
    IndexedImage image;
    Palette palette;

    bool operator==(const Picture&) const = default;
};

// The palette walls and sprites are drawn with, from PALETTE.PAL.
struct WallPalette {
    Palette palette;              // colours the file does not hold are black
    std::size_t entriesRead = 0;  // how many of the 256 it held
    std::optional<Error> fault;   // why fewer than 256 were read, when they were

    bool complete() const noexcept { return entriesRead == kPaletteEntries; }
};

// The frames of one animation as loaded into the caller's FrameStore: picture i
// is record i + 1, drawn in that record's own colours.
using Animation = FliLoad;

// A picture of an animation: the record's pixels in the record's own colours.
Picture PictureOf(const FrameRecord& record);

// The game folder and every rule about the art in it: where each category lies,
// which files it lists, and which colours each picture is drawn with. Names are
// matched ignoring case; loads read the files afresh each time. Every byte is read
// through the folder's ByteSource: a folder on disk, or files in memory.
class GameFolder {
public:
    // The message for the first item of the folder that is missing or cannot be
    // used, checked in the order PALETTE.PAL, CELS3, STILLCEL, FLI; empty when all
    // are there. The palette must be an ordinary file (an empty one passes); each
    // sub-folder may be a folder or an ordinary file. An item in a folder that
    // cannot be read, or of the wrong kind, is named with the reason, not as missing. With needed,
    // only the folders of the categories marked there, and the palette only for walls and sprites.
    static std::string Check(const std::filesystem::path& folder,
                             const std::array<bool, kCategoryCount>& needed = kEveryCategory);
    static std::string Check(const ByteSource& source,
                             const std::array<bool, kCategoryCount>& needed = kEveryCategory);

    // The folder after Check: throws a NotFound Error whose detail is Check's message.
    static GameFolder Open(const std::filesystem::path& folder,
                           const std::array<bool, kCategoryCount>& needed = kEveryCategory);
    static GameFolder Open(std::shared_ptr<const ByteSource> source,
                           const std::array<bool, kCategoryCount>& needed = kEveryCategory);

    // A file opened on its own, without its game folder: an animation or a still
    // picture with its own colours, told by its bytes whatever its name. The
    // GameFolder returned stands for the file's folder, its category's list being
    // the files there matching the category's pattern, and the file itself
    // whatever its name; the other categories cannot be listed. Throws Error:
    // NotFound for a file that is missing or empty, Unsupported for one that is
    // neither, a wall or sprite with the advice to open its game folder, since it
    // is drawn in PALETTE.PAL's colours.
    static LooseFile OpenFile(const std::filesystem::path& file);
    // name is a file at the source's top.
    static LooseFile OpenFile(std::shared_ptr<const ByteSource> source, const std::string& name);

    // The category of the file opened on its own, or nothing for a game folder.
    const std::optional<ArtCategory>& LooseCategory() const noexcept { return m_loose; }

    // The folder on disk; for a source without one (MemorySource) empty, and the
    // paths below are then the names relative to the source's top.
    const std::filesystem::path& Path() const noexcept { return m_path; }

    // folder / name, with name matched ignoring case against what is there.
    std::filesystem::path Entry(const std::string& name) const;
    std::filesystem::path CategoryFolder(ArtCategory category) const;
    std::filesystem::path FilePath(ArtCategory category, const std::string& name) const;

    // The category's files: not hidden, matching its pattern ignoring case, in name
    // order ignoring case. An entry named like art that is not an ordinary file (a
    // FIFO, a folder, a broken link) is listed too, so that the window and the
    // export both say why its load fails. Throws Error when the folder cannot be
    // listed (NotFound, CannotRead), a file in its place included.
    std::vector<std::string> ReadFileList(ArtCategory category) const;

    // PALETTE.PAL's colour block at offset 0, its first 768 bytes and no more.
    // Never throws for the file: a short, empty or vanished file gives what could
    // be read and the fault.
    WallPalette LoadWallPalette() const;

    // A wall or sprite in palette, from the file's first 4096 bytes; with rotate
    // set, turned a quarter turn clockwise. Throws Error.
    Picture LoadWall(const std::string& name, const Palette& palette, bool rotate) const;

    // A still picture in its own colours, the block at offset 32, reading the
    // header and then only the pixels it asks for. Throws Error.
    Picture LoadStill(const std::string& name) const;

    // An animation, decoded into store as DecodeFLIFile does from the bytes
    // ReadFLIBytes reads; a file that cannot be read (one whose frames need more
    // than kMaxFliFileBytes included) is the stop of a load without pictures, the
    // store emptied.
    Animation LoadAnimation(const std::string& name, FrameStore& store,
                            const LoadProgress& progress = {}) const;
    // The same load into seeker, which keeps the file's bytes to seek in and
    // bounds its memory, not the picture count.
    Animation LoadAnimation(const std::string& name, FrameSeeker& seeker,
                            const LoadProgress& progress = {}) const;

    // An animation, decoded one picture at a time and handed to sink as
    // StreamFLIFile does; a file that cannot be read is the stop of a load
    // without pictures.
    Animation StreamAnimation(const std::string& name, const PictureSink& sink,
                              const LoadProgress& progress = {}) const;

    // The animation's outline (OutlineFLIFile), from its headers alone: what a
    // load would cost, told before it starts. A file that cannot be read is the
    // stop of an outline without pictures.
    Animation OutlineAnimation(const std::string& name) const;

    // The first picture of a file at the window's first look: a wall turned as
    // with "Rotate" checked, in wallPalette; a still in its own colours; an
    // animation's first picture in its colours. Throws Error when there is none.
    Picture LoadFirstPicture(ArtCategory category, const std::string& name,
                             const Palette& wallPalette) const;

    // The facts of a file (FileFacts.h): its size; for a wall or still what it
    // holds besides the pixels shown; for an animation the header's frame count and
    // speed, the ring frame, each picture's file frames with their chunks and
    // whether its colours changed, the line-compression faults and the fault that
    // ended the load. A file that cannot be read gives its size, if known, and why.
    FileFacts DescribeFile(ArtCategory category, const std::string& name) const;

private:
    explicit GameFolder(std::shared_ptr<const ByteSource> source);

    // The source's name of a category's folder, and of one of its files.
    std::string CategoryName(ArtCategory category) const;
    std::string FileName(ArtCategory category, const std::string& name) const;
    FileBytes ReadAnimation(const std::string& name) const;

    std::shared_ptr<const ByteSource> m_source;
    std::filesystem::path m_path;
    std::optional<ArtCategory> m_loose;
    std::string m_looseName;  // the file opened on its own, listed whatever its name
};

struct LooseFile {
    GameFolder folder;
    ArtCategory category;
    std::string name;  // as the folder spells it
};

}  // namespace varek
