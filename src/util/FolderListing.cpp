#include "util/FolderListing.h"

#include <algorithm>
#include <string_view>
#include <system_error>

#include "util/Error.h"
#include "util/Text.h"

namespace fs = std::filesystem;

namespace varek {

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

namespace {

bool MatchesOnePattern(const std::string& name, std::string_view pattern)
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

}  // namespace

bool MatchesPattern(const std::string& name, const std::string& pattern)
{
    std::string_view rest = pattern;
    for (;;) {
        const std::size_t end = rest.find(';');
        if (MatchesOnePattern(name, rest.substr(0, end))) {
            return true;
        }
        if (end == std::string_view::npos) {
            return false;
        }
        rest.remove_prefix(end + 1);
    }
}

std::vector<std::string> ListMatchingFiles(const fs::path& folder, const std::string& pattern)
{
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const auto name = it->path().filename().string();
        if (!IsHiddenName(name) && MatchesPattern(name, pattern)) {
            names.push_back(name);
        }
    }
    // A listing cut short would pass for a folder holding fewer files.
    if (ec == std::errc::no_such_file_or_directory) {
        throw Error(ErrorKind::NotFound, "there is no folder " + Quoted(folder));
    }
    if (ec == std::errc::not_a_directory) {
        throw Error(ErrorKind::CannotRead, Quoted(folder) + ": it is not a folder");
    }
    if (ec) {
        throw Error(ErrorKind::CannotRead, Quoted(folder) + ": " + ec.message());
    }
    std::sort(names.begin(), names.end(), LessIgnoringCase);
    return names;
}

}  // namespace varek
