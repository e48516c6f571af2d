#include "util/GameFolder.h"

#include <system_error>

#include "util/FileIO.h"

namespace fs = std::filesystem;

namespace varek {

namespace {

constexpr CategoryInfo kCategories[] = {
    {"Walls/Sprites", "CELS3", "*.CEL"},
    {"Other Art", "STILLCEL", "*.CEL"},
    {"Animated", "FLI", "*.FLI"},
};

constexpr const char* kMessageTail = "\r\n\r\nBe sure this program is in the same folder as Vorlund.";

bool IsHidden(const fs::path& path)
{
    const auto name = path.filename().string();
    return !name.empty() && name.front() == '.';
}

}  // namespace

const CategoryInfo& InfoOf(ArtCategory category)
{
    return kCategories[static_cast<int>(category)];
}

fs::path GameFolderEntry(const fs::path& gameFolder, const std::string& name)
{
    return FindEntryIgnoringCase(gameFolder, name).value_or(gameFolder / name);
}

std::string CheckGameFolder(const fs::path& gameFolder)
{
    std::error_code ec;
    const auto palette = GameFolderEntry(gameFolder, kPaletteFileName);
    if (!fs::is_regular_file(palette, ec) || IsHidden(palette)) {
        return std::string("Could not find file: ") + kPaletteFileName + kMessageTail;
    }
    for (const CategoryInfo& category : kCategories) {
        const auto folder = GameFolderEntry(gameFolder, category.subFolder);
        const auto status = fs::status(folder, ec);
        if (!(fs::is_directory(status) || fs::is_regular_file(status)) || IsHidden(folder)) {
            return std::string("Could not find path: ") + category.subFolder + kMessageTail;
        }
    }
    return {};
}

}  // namespace varek
