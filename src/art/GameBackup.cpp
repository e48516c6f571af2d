#include "art/GameBackup.h"

#include <algorithm>
#include <ctime>
#include <string>
#include <system_error>

#include "fli/FliFormat.h"
#include "util/AtomicWrite.h"
#include "util/FileRead.h"
#include "util/Text.h"

namespace fs = std::filesystem;

namespace varek {

namespace {

// Game files are read whole; none is larger than the largest animation read.
ByteArray ReadGameFile(const fs::path& path)
{
    return ReadFileBytes(path, kMaxFliFileBytes);
}

// Names are the date and time, then "-N" for a second within the same second,
// so that later is larger.
bool MadeEarlier(const fs::path& a, const fs::path& b)
{
    const std::string x = a.filename().string();
    const std::string y = b.filename().string();
    return x.size() != y.size() && x.compare(0, 15, y, 0, 15) == 0 ? x.size() < y.size() : x < y;
}

}  // namespace

fs::path BackUpGameFiles(const fs::path& game, std::span<const GameFileChange> changes)
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    const fs::path root = game / kBackupFolderName;
    fs::create_directories(root);
    fs::path folder;
    for (int attempt = 1;; ++attempt) {
        std::string name = stamp;
        if (attempt > 1) {
            name += '-';
            name += std::to_string(attempt);
        }
        folder = root / name;
        if (fs::create_directory(folder)) {
            break;
        }
    }
    for (const GameFileChange& change : changes) {
        std::error_code ec;
        if (!fs::exists(change.target, ec)) {
            continue;
        }
        const ByteArray old = ReadGameFile(change.target);
        fs::create_directories((folder / change.relative).parent_path());
        WriteFileAtomically(folder / change.relative, old);
    }
    return folder;
}

std::size_t WriteGameFiles(std::span<const GameFileChange> changes,
                           const std::function<bool(const GameFileChange&)>& written)
{
    std::size_t count = 0;
    for (const GameFileChange& change : changes) {
        WriteFileAtomically(change.target, change.bytes);
        ++count;
        if (written && !written(change)) {
            break;
        }
    }
    return count;
}

std::optional<fs::path> NewestBackup(const fs::path& game)
{
    std::optional<fs::path> newest;
    std::error_code ec;
    for (const fs::directory_entry& entry : fs::directory_iterator(game / kBackupFolderName, ec)) {
        if (entry.is_directory(ec) && !IsHiddenName(entry.path().filename().string()) &&
            (!newest || MadeEarlier(*newest, entry.path()))) {
            newest = entry.path();
        }
    }
    return newest;
}

std::vector<GameFileChange> RestoreChanges(const fs::path& game, const fs::path& backup)
{
    std::vector<GameFileChange> changes;
    for (fs::recursive_directory_iterator it(backup), end; it != end; ++it) {
        if (!it->is_regular_file()) {
            continue;
        }
        const fs::path relative = fs::relative(it->path(), backup);
        ByteArray bytes = ReadGameFile(it->path());
        std::error_code ec;
        if (fs::is_regular_file(game / relative, ec) && ReadGameFile(game / relative) == bytes) {
            continue;
        }
        changes.push_back({game / relative, relative, std::move(bytes)});
    }
    return changes;
}

}  // namespace varek
