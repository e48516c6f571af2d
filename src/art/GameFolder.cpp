#include "art/GameFolder.h"

#include <algorithm>
#include <utility>

#include "art/ArtFiles.h"
#include "fli/FliFormat.h"
#include "util/FolderListing.h"
#include "util/Text.h"

namespace fs = std::filesystem;

namespace varek {

namespace {

constexpr CategoryInfo kCategories[kCategoryCount] = {
    {"Walls/Sprites", "CELS3", "*.CEL", "walls"},
    {"Other Art", "STILLCEL", "*.CEL", "stills"},
    {"Animated", "FLI", "*.FLI;*.FLC", "animations"},
};

constexpr const char* kMessageTail =
    "\r\n\r\nBe sure this program is in the same folder as Vorlund.";

// No art file of the game is empty: an empty one is as missing as one that is not there.
std::unique_ptr<SourceFile> OpenGameFile(const ByteSource& source, const std::string& name)
{
    std::unique_ptr<SourceFile> file = source.Open(name);
    if (file->Size() == 0) {
        throw Error(ErrorKind::NotFound, "the file is empty");
    }
    return file;
}

// What a file on its own is, by its bytes: an animation by the magic of either
// FLIC format (the decoder says which it reads), a still by a header whose
// picture fits the file. A still cut short is still a still, whose load says so,
// unless the file has a wall's size and name.
ArtCategory LooseCategoryOf(const SourceFile& file, const std::string& name)
{
    const std::uint64_t size = file.Size();
    if (size == 0) {
        throw Error(ErrorKind::NotFound, "the file is empty");
    }
    const ByteArray start = file.ReadStart(kCelPixelOffset);
    if (start.size() >= kFliMagicOffset + 2) {
        const auto magic =
            static_cast<std::uint16_t>(start[kFliMagicOffset] | start[kFliMagicOffset + 1] << 8);
        if (magic == kFliFileMagic || magic == kFlcFileMagic) {
            return ArtCategory::Animated;
        }
    }
    const bool wallLike = size == kWallBytes && MatchesPattern(name, "*.CEL");
    try {
        const auto used = static_cast<std::uint64_t>(CelFileBytesUsed(ReadCelHeader(start)));
        if (used <= size || !wallLike) {
            return ArtCategory::OtherArt;
        }
    } catch (const Error&) {
        // Not a still; the wall's advice or the plain refusal below.
    }
    if (wallLike) {
        throw Error(ErrorKind::Unsupported,
                    "a wall or sprite is drawn in its game's colours, which PALETTE.PAL holds: "
                    "open its game folder instead");
    }
    throw Error(ErrorKind::Unsupported, "it is neither an animation nor a still picture");
}

}  // namespace

const CategoryInfo& InfoOf(ArtCategory category)
{
    return kCategories[static_cast<std::size_t>(category)];
}

Picture PictureOf(const FrameRecord& record)
{
    return Picture{FrameImage(record), record.Colors};
}

std::string GameFolder::Check(const fs::path& folder,
                              const std::array<bool, kCategoryCount>& needed)
{
    return Check(FolderSource(folder), needed);
}

std::string GameFolder::Check(const ByteSource& source,
                              const std::array<bool, kCategoryCount>& needed)
{
    // What is there but cannot be used says why; only what is not there is missing.
    if (needed[static_cast<std::size_t>(ArtCategory::WallsSprites)]) {
        const FoundEntry palette = source.FindEntry(kPaletteFileName);
        const std::string file = std::string(": ") + kPaletteFileName;
        if (palette.kind == EntryKind::Unreadable) {
            return "Could not read file" + file + ": " + palette.reason + kMessageTail;
        }
        if (palette.kind == EntryKind::Folder || palette.kind == EntryKind::Other) {
            return "Could not read file" + file + ": it is not an ordinary file" + kMessageTail;
        }
        if (palette.kind != EntryKind::File || IsHiddenName(palette.name)) {
            return "Could not find file" + file + kMessageTail;
        }
    }
    for (const ArtCategory which : kAllCategories) {
        if (!needed[static_cast<std::size_t>(which)]) {
            continue;
        }
        const FoundEntry entry = source.FindEntry(InfoOf(which).subFolder);
        const std::string path = std::string(": ") + InfoOf(which).subFolder;
        if (entry.kind == EntryKind::Unreadable) {
            return "Could not read path" + path + ": " + entry.reason + kMessageTail;
        }
        if (entry.kind == EntryKind::Other) {
            return "Could not read path" + path + ": it is not a folder" + kMessageTail;
        }
        if (!(entry.kind == EntryKind::Folder || entry.kind == EntryKind::File) ||
            IsHiddenName(entry.name)) {
            return "Could not find path" + path + kMessageTail;
        }
    }
    return {};
}

GameFolder GameFolder::Open(const fs::path& folder, const std::array<bool, kCategoryCount>& needed)
{
    return Open(std::make_shared<FolderSource>(folder), needed);
}

GameFolder GameFolder::Open(std::shared_ptr<const ByteSource> source,
                            const std::array<bool, kCategoryCount>& needed)
{
    std::string missing = Check(*source, needed);
    if (!missing.empty()) {
        throw Error(ErrorKind::NotFound, std::move(missing));
    }
    return GameFolder(std::move(source));
}

LooseFile GameFolder::OpenFile(const fs::path& file)
{
    std::error_code ec;
    fs::path absolute = fs::absolute(file, ec);
    absolute = (ec ? file : absolute).lexically_normal();
    return OpenFile(std::make_shared<FolderSource>(absolute.parent_path()),
                    absolute.filename().string());
}

LooseFile GameFolder::OpenFile(std::shared_ptr<const ByteSource> source, const std::string& name)
{
    const FoundEntry entry = source->FindEntry(name);
    if (entry.kind == EntryKind::Folder) {
        throw Error(ErrorKind::Unsupported, Quoted(name) + " is a folder, not a file");
    }
    if (IsHiddenName(entry.name)) {
        // Sources neither list nor open hidden files, so it would read as missing.
        throw Error(ErrorKind::Unsupported,
                    Quoted(name) + " is a hidden file: rename it without the leading dot");
    }
    const ArtCategory category = LooseCategoryOf(*source->Open(entry.name), entry.name);
    GameFolder folder(std::move(source));
    folder.m_loose = category;
    folder.m_looseName = entry.name;
    return LooseFile{std::move(folder), category, entry.name};
}

GameFolder::GameFolder(std::shared_ptr<const ByteSource> source)
    : m_source(std::move(source)), m_path(m_source->Root())
{
}

fs::path GameFolder::Entry(const std::string& name) const
{
    return m_path / m_source->FindEntry(name).name;
}

fs::path GameFolder::CategoryFolder(ArtCategory category) const
{
    const std::string name = CategoryName(category);
    return name.empty() ? m_path : m_path / name;
}

fs::path GameFolder::FilePath(ArtCategory category, const std::string& name) const
{
    return m_path / FileName(category, name);
}

std::string GameFolder::CategoryName(ArtCategory category) const
{
    if (m_loose) {
        return {};
    }
    return m_source->FindEntry(InfoOf(category).subFolder).name;
}

std::string GameFolder::FileName(ArtCategory category, const std::string& name) const
{
    const std::string folder = CategoryName(category);
    return folder.empty() ? name : folder + '/' + name;
}

std::vector<std::string> GameFolder::ReadFileList(ArtCategory category) const
{
    if (m_loose && category != *m_loose) {
        throw Error(ErrorKind::NotFound, "a file opened on its own has no game folder to list");
    }
    std::vector<std::string> names =
        m_source->ListFiles(CategoryName(category), InfoOf(category).pattern);
    if (m_loose && std::find(names.begin(), names.end(), m_looseName) == names.end()) {
        names.insert(std::upper_bound(names.begin(), names.end(), m_looseName, LessIgnoringCase),
                     m_looseName);
    }
    return names;
}

WallPalette GameFolder::LoadWallPalette() const
{
    WallPalette result;
    ByteArray bytes;
    try {
        bytes = m_source->ReadStart(m_source->FindEntry(kPaletteFileName).name,
                                    kPaletteFileBlockOffset + kPaletteBlockSize);
    } catch (const Error& error) {
        result.fault = error;
        return result;
    }
    const DecodedPalette decoded = DecodePaletteBlock(bytes, kPaletteFileBlockOffset);
    result.palette = decoded.palette;
    result.entriesRead = decoded.entriesRead;
    if (!decoded.complete()) {
        result.fault = Error(ErrorKind::Truncated,
                             "the file holds " + Counted(bytes.size(), "byte", "bytes") +
                                 ", too few for its 768-byte colour block: colours " +
                                 std::to_string(decoded.entriesRead) + " to 255 are black");
    }
    return result;
}

Picture GameFolder::LoadWall(const std::string& name, const Palette& palette, bool rotate) const
{
    const ByteArray bytes =
        OpenGameFile(*m_source, FileName(ArtCategory::WallsSprites, name))->ReadStart(kWallBytes);
    return Picture{BuildWallImage(bytes, rotate), palette};
}

namespace {

// The first picture of an FLC file, with its colours. Throws the load's stop
// when it gives no picture.
Picture LoadFlcStill(const SourceFile& file)
{
    const FileBytes bytes = ReadFLIBytes(file);
    FrameStore store;
    const FliLoad load = DecodeFLIFile(bytes.bytes(), store, [&store](std::int32_t, std::int32_t) {
        return store.FrameCount() == 0;
    });
    if (store.FrameCount() == 0) {
        throw load.stop.value_or(Error(ErrorKind::Corrupt, "the file gives no picture"));
    }
    return Picture{FrameImage(store[1]), store[1].Colors};
}

}  // namespace

Picture GameFolder::LoadStill(const std::string& name) const
{
    // The header first, then no more than the pixels it asks for.
    const std::unique_ptr<SourceFile> file =
        OpenGameFile(*m_source, FileName(ArtCategory::OtherArt, name));
    ByteArray bytes = file->ReadStart(kCelPixelOffset);
    if (IsFlcStill(bytes)) {
        return LoadFlcStill(*file);
    }
    const auto used = static_cast<std::uint64_t>(CelFileBytesUsed(ReadCelHeader(bytes)));
    bytes = file->ReadStart(used);
    IndexedImage image = BuildCelImage(bytes);
    return Picture{std::move(image), DecodePaletteBlock(bytes, kStillArtBlockOffset).palette};
}

Animation GameFolder::LoadAnimation(const std::string& name, FrameStore& store,
                                    const LoadProgress& progress) const
{
    FileBytes bytes;
    try {
        bytes = ReadAnimation(name);
    } catch (const Error& error) {
        store.Reset();
        store.ReleaseUnused();
        Animation animation;
        animation.stop = error;
        return animation;
    }
    return DecodeFLIFile(bytes.bytes(), store, progress);
}

Animation GameFolder::LoadAnimation(const std::string& name, FrameSeeker& seeker,
                                    const LoadProgress& progress) const
{
    FileBytes bytes;
    try {
        bytes = ReadAnimation(name);
    } catch (const Error& error) {
        seeker.Clear();
        Animation animation;
        animation.stop = error;
        return animation;
    }
    return seeker.Load(std::move(bytes), progress);
}

Animation GameFolder::StreamAnimation(const std::string& name, const PictureSink& sink,
                                      const LoadProgress& progress) const
{
    FileBytes bytes;
    try {
        bytes = ReadAnimation(name);
    } catch (const Error& error) {
        Animation animation;
        animation.stop = error;
        return animation;
    }
    return StreamFLIFile(bytes.bytes(), sink, progress);
}

Animation GameFolder::OutlineAnimation(const std::string& name) const
{
    try {
        const FileBytes bytes = ReadAnimation(name);
        return OutlineFLIFile(bytes.bytes());
    } catch (const Error& error) {
        Animation animation;
        animation.stop = error;
        return animation;
    }
}

FileBytes GameFolder::ReadAnimation(const std::string& name) const
{
    return ReadFLIBytes(*OpenGameFile(*m_source, FileName(ArtCategory::Animated, name)));
}

}  // namespace varek
