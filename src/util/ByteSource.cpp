#include "util/ByteSource.h"

#include <algorithm>
#include <cstring>
#include <system_error>

#include "util/Error.h"
#include "util/FolderListing.h"
#include "util/Text.h"

namespace fs = std::filesystem;

namespace varek {

namespace {

class FolderFile final : public SourceFile {
public:
    explicit FolderFile(const fs::path& path) : m_file(path) {}

    std::uint64_t Size() const override { return m_file.Size(); }
    ByteArray ReadStart(std::uint64_t count) const override { return m_file.ReadStart(count); }
    FileBytes ReadFront(std::uint64_t count) const override { return m_file.ReadFront(count); }

private:
    InputFile m_file;
};

class MemoryFile final : public SourceFile {
public:
    explicit MemoryFile(const ByteArray& bytes) : m_bytes(bytes) {}

    std::uint64_t Size() const override { return m_bytes.size(); }
    ByteArray ReadStart(std::uint64_t count) const override
    {
        const auto wanted = static_cast<std::size_t>(std::min<std::uint64_t>(count, Size()));
        return ByteArray(m_bytes.begin(), m_bytes.begin() + static_cast<std::ptrdiff_t>(wanted));
    }
    FileBytes ReadFront(std::uint64_t count) const override { return FileBytes(ReadStart(count)); }

private:
    const ByteArray& m_bytes;
};

// name split at its last '/': the folder ("" the top) and the entry's own name.
std::pair<std::string, std::string> SplitName(const std::string& name)
{
    const std::size_t slash = name.rfind('/');
    if (slash == std::string::npos) {
        return {std::string(), name};
    }
    return {name.substr(0, slash), name.substr(slash + 1)};
}

std::string Joined(const std::string& folder, const std::string& name)
{
    return folder.empty() ? name : folder + '/' + name;
}

}  // namespace

FileBytes ByteSource::ReadAll(const std::string& name, std::uint64_t limit) const
{
    const std::unique_ptr<SourceFile> file = Open(name);
    RefuseLargerThan(file->Size(), limit);
    return file->ReadAll();
}

ByteArray ByteSource::ReadStart(const std::string& name, std::uint64_t count) const
{
    return Open(name)->ReadStart(count);
}

FoundEntry FolderSource::FindEntry(const std::string& name) const
{
    const auto [folder, own] = SplitName(name);
    const fs::path where = folder.empty() ? m_root : m_root / folder;
    const std::optional<fs::path> found = FindEntryIgnoringCase(where, own);
    std::error_code ec;
    if (!found) {
        // A folder that cannot be read hides what it holds: that is not missing.
        const fs::directory_iterator probe(where, ec);
        if (ec && ec != std::errc::no_such_file_or_directory && ec != std::errc::not_a_directory) {
            return {name, EntryKind::Unreadable, Quoted(where) + ": " + ec.message()};
        }
        return {name, EntryKind::Missing};
    }
    const fs::file_status status = fs::status(*found, ec);
    const std::string foundName = Joined(folder, found->filename().string());
    if (ec && ec != std::errc::no_such_file_or_directory) {
        return {foundName, EntryKind::Unreadable, Quoted(*found) + ": " + ec.message()};
    }
    EntryKind kind = EntryKind::Other;
    if (fs::is_regular_file(status)) {
        kind = EntryKind::File;
    } else if (fs::is_directory(status)) {
        kind = EntryKind::Folder;
    } else if (ec || !fs::exists(status)) {
        kind = EntryKind::Missing;
    }
    return {foundName, kind};
}

std::vector<std::string> FolderSource::ListFiles(const std::string& folder,
                                                 const std::string& pattern) const
{
    return ListMatchingFiles(m_root / folder, pattern);
}

std::unique_ptr<SourceFile> FolderSource::Open(const std::string& name) const
{
    return std::make_unique<FolderFile>(m_root / name);
}

std::map<std::string, bool> MemorySource::EntriesOf(const std::string& folder) const
{
    const std::string prefix = folder.empty() ? std::string() : folder + '/';
    std::map<std::string, bool> entries;
    for (auto it = m_files.lower_bound(prefix);
         it != m_files.end() && it->first.compare(0, prefix.size(), prefix) == 0; ++it) {
        const std::string rest = it->first.substr(prefix.size());
        const std::size_t slash = rest.find('/');
        if (!rest.empty() && rest.front() != '/') {
            entries[rest.substr(0, slash)] |= slash != std::string::npos;
        }
    }
    return entries;
}

bool MemorySource::IsFolder(const std::string& name) const
{
    const std::string prefix = name + '/';
    const auto it = m_files.lower_bound(prefix);
    return !name.empty() && it != m_files.end() && it->first.compare(0, prefix.size(), prefix) == 0;
}

FoundEntry MemorySource::FindEntry(const std::string& name) const
{
    const auto [folder, own] = SplitName(name);
    const std::map<std::string, bool> entries = EntriesOf(folder);
    auto found = entries.find(own);
    if (found == entries.end()) {
        // A lambda cannot capture a structured binding under every compiler we build with.
        const std::string& wanted = own;
        found = std::find_if(entries.begin(), entries.end(), [&wanted](const auto& entry) {
            return EqualsIgnoringCase(entry.first, wanted);
        });
    }
    if (found == entries.end()) {
        return {name, EntryKind::Missing};
    }
    return {Joined(folder, found->first), found->second ? EntryKind::Folder : EntryKind::File};
}

std::vector<std::string> MemorySource::ListFiles(const std::string& folder,
                                                 const std::string& pattern) const
{
    if (m_files.count(folder) != 0) {
        throw Error(ErrorKind::CannotRead, Quoted(folder) + ": it is not a folder");
    }
    if (!folder.empty() && !IsFolder(folder)) {
        throw Error(ErrorKind::NotFound, "there is no folder " + Quoted(folder));
    }
    std::vector<std::string> names;
    for (const auto& entry : EntriesOf(folder)) {
        if (!IsHiddenName(entry.first) && MatchesPattern(entry.first, pattern)) {
            names.push_back(entry.first);
        }
    }
    std::sort(names.begin(), names.end(), LessIgnoringCase);
    return names;
}

std::unique_ptr<SourceFile> MemorySource::Open(const std::string& name) const
{
    const auto found = m_files.find(name);
    if (name.empty() || IsHiddenName(SplitName(name).second) ||
        (found == m_files.end() && !IsFolder(name))) {
        throw Error(ErrorKind::NotFound, "there is no file " + Quoted(name));
    }
    if (found == m_files.end()) {
        throw Error(ErrorKind::CannotRead, Quoted(name) + ": it is not an ordinary file: a folder");
    }
    return std::make_unique<MemoryFile>(found->second);
}

}  // namespace varek
