#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "util/ByteWriter.h"
#include "util/FileRead.h"

namespace varek {

// What a name stands for in a ByteSource: Other is neither a file nor a folder (a
// FIFO, a device); Unreadable is what cannot be looked at, in a folder that cannot
// be read or searched.
enum class EntryKind { Missing, File, Folder, Other, Unreadable };

struct FoundEntry {
    std::string name;  // as the source spells it; the name asked for when Missing
    EntryKind kind = EntryKind::Missing;
    std::string reason = {};  // why, when Unreadable: "\"game\": Permission denied"

    bool operator==(const FoundEntry&) const = default;
};

// One file of a ByteSource, opened once: every read sees the same file, however
// the name changes in between. Lives no longer than its source.
class SourceFile {
public:
    virtual ~SourceFile() = default;

    // The size the file had when it was opened.
    virtual std::uint64_t Size() const = 0;
    // The first count bytes, or as many as the file holds; memory for no more than
    // min(count, Size()) bytes is taken. Throws a CannotRead Error.
    virtual ByteArray ReadStart(std::uint64_t count) const = 0;
    // The first count bytes, or as many as the file holds, in memory of their own
    // as ReadAll holds them. Throws a CannotRead Error.
    virtual FileBytes ReadFront(std::uint64_t count) const = 0;
    // Every byte the file holds.
    FileBytes ReadAll() const { return ReadFront(Size()); }
};

// Where art is read from: a tree of named files. Names are relative to the
// source's top, folders separated by '/'. Failures are thrown as varek::Error.
class ByteSource {
public:
    virtual ~ByteSource() = default;

    // The entry named name ignoring ASCII case in its last part (the folders before
    // it taken as given), preferring an exact match. Never throws: what cannot be
    // looked at is Unreadable, with the reason.
    virtual FoundEntry FindEntry(const std::string& name) const = 0;

    // The not hidden entries of folder matching a "*.EXT"-style pattern ignoring
    // case, whatever they are (Open says why one that is not an ordinary file
    // cannot be read), in name order (ASCII case-insensitive, then exact). Throws
    // NotFound when the folder is not there, CannotRead when it cannot be listed or
    // is not a folder.
    virtual std::vector<std::string> ListFiles(const std::string& folder,
                                               const std::string& pattern) const = 0;

    // The file named name, exactly. Throws NotFound when there is none (or its name
    // is hidden), CannotRead when what is there is not an ordinary file.
    virtual std::unique_ptr<SourceFile> Open(const std::string& name) const = 0;

    // The folder names are relative to, for messages and for comparing folders;
    // empty where no folder stands behind the source.
    virtual std::filesystem::path Root() const { return {}; }

    // The whole file; TooLarge, before anything is read, past limit bytes.
    FileBytes ReadAll(const std::string& name, std::uint64_t limit = kNoReadLimit) const;
    // The file's first count bytes, or all it holds when it is shorter.
    ByteArray ReadStart(const std::string& name, std::uint64_t count) const;
};

// The files of a folder on disk, each read through one descriptor opened without
// waiting (InputFile), whole files into large pages.
class FolderSource final : public ByteSource {
public:
    explicit FolderSource(std::filesystem::path root) : m_root(std::move(root)) {}

    FoundEntry FindEntry(const std::string& name) const override;
    std::vector<std::string> ListFiles(const std::string& folder,
                                       const std::string& pattern) const override;
    std::unique_ptr<SourceFile> Open(const std::string& name) const override;
    std::filesystem::path Root() const override { return m_root; }

private:
    std::filesystem::path m_root;
};

// Files held in memory by name ("FLI/INTRO.FLI"). Folders are implied by the names
// of the files in them; a name ending in '/' is a folder of its own, empty or not.
class MemorySource final : public ByteSource {
public:
    explicit MemorySource(std::map<std::string, ByteArray> files) : m_files(std::move(files)) {}

    FoundEntry FindEntry(const std::string& name) const override;
    std::vector<std::string> ListFiles(const std::string& folder,
                                       const std::string& pattern) const override;
    std::unique_ptr<SourceFile> Open(const std::string& name) const override;

private:
    // The entries directly inside folder ("" the top), each with whether it is a folder.
    std::map<std::string, bool> EntriesOf(const std::string& folder) const;
    bool IsFolder(const std::string& name) const;

    std::map<std::string, ByteArray> m_files;
};

}  // namespace varek
