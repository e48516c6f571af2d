#include "export/OutputFolder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "export/Exporter.h"
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

}  // namespace

fs::path ExportFolder(const fs::path& outFolder, ArtCategory category)
{
    return outFolder / InfoOf(category).subFolder;
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
    const bool loose = game.LooseCategory().has_value();
    if (out == gameFolder && !loose) {
        Refuse("the output folder " + Quoted(outFolder) +
               " is the game folder; the game's files are never written to");
    }
    std::error_code ec;
    if (fs::exists(out, ec) && !fs::is_directory(out, ec)) {
        Refuse("the output folder " + Quoted(outFolder) + " is a file, not a folder");
    }
    if (loose) {
        // A file opened on its own: its images may go anywhere but beside it.
        for (const ArtCategory target : kAllCategories) {
            if (located(ExportFolder(outFolder, target)) == gameFolder) {
                Refuse("the output folder " + Quoted(outFolder) +
                       " would put images straight into the folder of the file");
            }
        }
        return;
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

void MakeOutputFolder(const fs::path& outFolder, const ExportOptions& options)
{
    std::error_code ec;
    fs::create_directories(outFolder, ec);
    if (ec) {
        throw Error(ErrorKind::CannotWrite,
                    "cannot create the output folder " + Quoted(outFolder) + ": " + ec.message());
    }
    // Asked once here rather than learnt from every image written: a folder that
    // takes no file would fail each of them, and so would anything else in a
    // category folder's place.
    std::vector<fs::path> folders{outFolder};
    for (const ArtCategory category : kAllCategories) {
        const fs::path folder = ExportFolder(outFolder, category);
        if (!options.categories[static_cast<std::size_t>(category)]) {
            continue;
        }
        if (fs::is_directory(folder, ec)) {
            folders.push_back(folder);
        } else if (fs::exists(fs::symlink_status(folder, ec))) {
            throw Error(ErrorKind::CannotWrite, "cannot write in the output folder " +
                                                    Quoted(folder) + ": it is not a folder");
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

}  // namespace varek
