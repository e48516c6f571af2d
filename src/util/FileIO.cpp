#include "util/FileIO.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <system_error>

#include "util/Error.h"
#include "util/Text.h"

namespace fs = std::filesystem;

namespace varek {

namespace {

bool EqualsIgnoringCase(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return LowerAscii(x) == LowerAscii(y);
           });
}

bool LessIgnoringCase(const std::string& a, const std::string& b)
{
    const auto cmp =
        std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                     [](char x, char y) { return LowerAscii(x) < LowerAscii(y); });
    if (cmp) {
        return true;
    }
    if (EqualsIgnoringCase(a, b)) {
        return a < b;
    }
    return false;
}

// The longest file name the usual file systems take, in bytes, and what a
// temporary name adds to the target's: a dot before, ".NNNNNN.tmp" after.
constexpr std::size_t kLongestName = 255;
constexpr std::size_t kTemporaryNameExtra = 12;

std::string SystemReason(int code)
{
    return std::error_code(code, std::generic_category()).message();
}

}  // namespace

ByteArray ReadFileBytes(const fs::path& path)
{
    std::error_code ec;
    const auto status = fs::status(path, ec);
    if (status.type() == fs::file_type::not_found || IsHiddenName(path.filename().string())) {
        throw Error(ErrorKind::NotFound, "there is no file " + Quoted(path));
    }
    if (ec) {
        throw Error(ErrorKind::CannotRead, Quoted(path) + ": " + ec.message());
    }
    if (!fs::is_regular_file(status)) {
        throw Error(ErrorKind::CannotRead, Quoted(path) + ": it is not an ordinary file");
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw Error(ErrorKind::CannotRead, Quoted(path) + ": " + SystemReason(errno));
    }
    in.seekg(0, std::ios::end);
    const auto length = static_cast<std::streamoff>(in.tellg());
    in.seekg(0, std::ios::beg);
    if (length <= 0) {
        return {};
    }
    ByteArray bytes(static_cast<std::size_t>(length));
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (in.gcount() != static_cast<std::streamsize>(bytes.size())) {
        throw Error(ErrorKind::CannotRead, Quoted(path) + ": the file ended early");
    }
    return bytes;
}

ByteArray ReadGameFile(const fs::path& path)
{
    ByteArray bytes = ReadFileBytes(path);
    if (bytes.empty()) {
        throw Error(ErrorKind::NotFound, "the file is empty");
    }
    return bytes;
}

void WriteFileAtomically(const fs::path& path, const ByteArray& bytes)
{
    // The system would take the name only up to a NUL, which is another file.
    if (path.native().find('\0') != fs::path::string_type::npos) {
        std::string shown = path.string();
        for (std::size_t at = shown.find('\0'); at != std::string::npos;
             at = shown.find('\0', at)) {
            shown.replace(at, 1, "\\0");
        }
        throw Error(
            ErrorKind::CannotWrite,
            Quoted(shown) + ": the name holds a NUL character, which no file name can hold");
    }
    std::error_code ec;
    const auto status = fs::status(path, ec);
    if (fs::is_directory(status)) {
        throw Error(ErrorKind::CannotWrite, Quoted(path) + ": it is a folder");
    }
    if (fs::exists(status) && (status.permissions() & fs::perms::owner_write) == fs::perms::none) {
        throw Error(ErrorKind::CannotWrite, Quoted(path) + ": the file is read-only");
    }

    const fs::path folder = path.has_parent_path() ? path.parent_path() : fs::path(".");
    // Seeded once a thread: opening the random device for each file cost more than
    // writing a 64 KB image.
    thread_local std::mt19937 random(std::random_device{}());
    fs::path temporary;
    std::FILE* file = nullptr;
    int openError = 0;
    for (int attempt = 0; attempt < 16 && file == nullptr; ++attempt) {
        // Cut so that a name the file system takes never gives a temporary one it refuses.
        std::string name(1, '.');
        name += path.filename().string().substr(0, kLongestName - kTemporaryNameExtra);
        name += '.';
        name += std::to_string(random() % 1000000u);
        name += ".tmp";
        temporary = folder / name;
        // "x": fail rather than reuse a name some other writer holds.
        file = std::fopen(temporary.string().c_str(), "wbx");
        openError = errno;
        if (file == nullptr && openError != EEXIST) {
            break;
        }
    }
    if (file == nullptr) {
        throw Error(ErrorKind::CannotWrite, Quoted(path) + ": " + SystemReason(openError));
    }

    bool written =
        bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    int writeError = written ? 0 : errno;
    if (std::fflush(file) != 0 && written) {
        written = false;
        writeError = errno;
    }
    if (std::fclose(file) != 0 && written) {
        written = false;
        writeError = errno;
    }
    if (!written) {
        fs::remove(temporary, ec);
        throw Error(ErrorKind::CannotWrite, Quoted(path) + ": " + SystemReason(writeError));
    }
    fs::rename(temporary, path, ec);
    if (ec) {
        const auto reason = ec.message();
        fs::remove(temporary, ec);
        throw Error(ErrorKind::CannotWrite, Quoted(path) + ": " + reason);
    }
}

std::optional<fs::path> FindEntryIgnoringCase(const fs::path& folder, const std::string& name)
{
    std::error_code ec;
    if (fs::exists(folder / name, ec)) {
        return folder / name;
    }
    std::optional<fs::path> found;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const auto entryName = it->path().filename().string();
        if (EqualsIgnoringCase(entryName, name) &&
            (!found || entryName < found->filename().string())) {
            found = it->path();
        }
    }
    return found;
}

bool MatchesPattern(const std::string& name, const std::string& pattern)
{
    // Iterative glob with backtracking to the last '*'.
    std::size_t n = 0;
    std::size_t p = 0;
    std::size_t starAt = std::string::npos;
    std::size_t resumeAt = 0;
    while (n < name.size()) {
        if (p < pattern.size() &&
            (pattern[p] == '?' || LowerAscii(pattern[p]) == LowerAscii(name[n]))) {
            ++n;
            ++p;
        } else if (p < pattern.size() && pattern[p] == '*') {
            starAt = p++;
            resumeAt = n;
        } else if (starAt != std::string::npos) {
            p = starAt + 1;
            n = ++resumeAt;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') {
        ++p;
    }
    return p == pattern.size();
}

std::vector<std::string> ListMatchingFiles(const fs::path& folder, const std::string& pattern)
{
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const auto name = it->path().filename().string();
        std::error_code statusError;
        if (IsHiddenName(name) || !it->is_regular_file(statusError) || statusError) {
            continue;
        }
        if (MatchesPattern(name, pattern)) {
            names.push_back(name);
        }
    }
    std::sort(names.begin(), names.end(), LessIgnoringCase);
    return names;
}

}  // namespace varek
