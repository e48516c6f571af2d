#include "art/GameFolder.h"

#include <system_error>

#include "art/ArtFiles.h"
#include "util/FileIO.h"
#include "util/Text.h"

namespace fs = std::filesystem;

namespace varek {

namespace {

constexpr CategoryInfo kCategories[kCategoryCount] = {
    {"Walls/Sprites", "CELS3", "*.CEL", "walls"},
    {"Other Art", "STILLCEL", "*.CEL", "stills"},
    {"Animated", "FLI", "*.FLI", "animations"},
};

constexpr const char* kMessageTail =
    "\r\n\r\nBe sure this program is in the same folder as Vorlund.";

fs::path EntryOf(const fs::path& folder, const std::string& name)
{
    return FindEntryIgnoringCase(folder, name).value_or(folder / name);
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
    std::error_code ec;
    const auto palette = EntryOf(folder, kPaletteFileName);
    if (needed[static_cast<std::size_t>(ArtCategory::WallsSprites)] &&
        (!fs::is_regular_file(palette, ec) || IsHiddenName(palette.filename().string()))) {
        return std::string("Could not find file: ") + kPaletteFileName + kMessageTail;
    }
    for (const ArtCategory which : kAllCategories) {
        if (!needed[static_cast<std::size_t>(which)]) {
            continue;
        }
        const CategoryInfo& category = InfoOf(which);
        const auto entry = EntryOf(folder, category.subFolder);
        const auto status = fs::status(entry, ec);
        if (!(fs::is_directory(status) || fs::is_regular_file(status)) ||
            IsHiddenName(entry.filename().string())) {
            return std::string("Could not find path: ") + category.subFolder + kMessageTail;
        }
    }
    return {};
}

GameFolder GameFolder::Open(const fs::path& folder, const std::array<bool, kCategoryCount>& needed)
{
    std::string missing = Check(folder, needed);
    if (!missing.empty()) {
        throw Error(ErrorKind::NotFound, std::move(missing));
    }
    return GameFolder(folder);
}

fs::path GameFolder::Entry(const std::string& name) const
{
    return EntryOf(m_path, name);
}

fs::path GameFolder::CategoryFolder(ArtCategory category) const
{
    return Entry(InfoOf(category).subFolder);
}

fs::path GameFolder::FilePath(ArtCategory category, const std::string& name) const
{
    return CategoryFolder(category) / name;
}

std::vector<std::string> GameFolder::ReadFileList(ArtCategory category) const
{
    return ListMatchingFiles(CategoryFolder(category), InfoOf(category).pattern);
}

std::vector<std::string> GameFolder::ListFiles(ArtCategory category) const
{
    try {
        return ReadFileList(category);
    } catch (const Error&) {
        return {};
    }
}

WallPalette GameFolder::LoadWallPalette() const
{
    WallPalette result;
    ByteArray bytes;
    try {
        bytes = InputFile(Entry(kPaletteFileName))
                    .ReadStart(kPaletteFileBlockOffset + kPaletteBlockSize);
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
        ReadGameFileStart(FilePath(ArtCategory::WallsSprites, name), kWallBytes);
    return Picture{BuildWallImage(bytes, rotate), palette};
}

Picture GameFolder::LoadStill(const std::string& name) const
{
    // The header first, then no more than the pixels it asks for.
    const InputFile file(FilePath(ArtCategory::OtherArt, name));
    if (file.Size() == 0) {
        throw Error(ErrorKind::NotFound, "the file is empty");
    }
    ByteArray bytes = file.ReadStart(kCelPixelOffset);
    const auto used = static_cast<std::uint64_t>(CelFileBytesUsed(ReadCelHeader(bytes)));
    bytes = file.ReadStart(used);
    IndexedImage image = BuildCelImage(bytes);
    return Picture{std::move(image), DecodePaletteBlock(bytes, kStillArtBlockOffset).palette};
}

Animation GameFolder::LoadAnimation(const std::string& name, FrameStore& store,
                                    const LoadProgress& progress) const
{
    return LoadFLIFile(FilePath(ArtCategory::Animated, name), store, progress);
}

Animation GameFolder::StreamAnimation(const std::string& name, const PictureSink& sink,
                                      const LoadProgress& progress) const
{
    FileBytes bytes;
    try {
        bytes = ReadFLIFile(FilePath(ArtCategory::Animated, name));
    } catch (const Error& error) {
        Animation animation;
        animation.stop = error;
        return animation;
    }
    return StreamFLIFile(bytes.bytes(), sink, progress);
}

}  // namespace varek
