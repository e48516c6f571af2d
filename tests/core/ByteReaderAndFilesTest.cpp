#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <limits>
#include <map>
#include <thread>
#include <variant>

#include "support/ErrorKindOf.h"
#include "support/ScratchFileSystem.h"
#include "support/TempFolder.h"
#include "util/AtomicWrite.h"
#include "util/ByteReader.h"
#include "util/ByteSource.h"
#include "util/Error.h"
#include "util/FileRead.h"
#include "util/Text.h"

namespace fs = std::filesystem;
using namespace varek;
using varek::test::ErrorKindOf;
using varek::test::ReadAll;
using varek::test::TempFolder;

namespace {

bool HasTemporaryFile(const fs::path& folder)
{
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.path().extension() == ".tmp") {
            return true;
        }
    }
    return false;
}

using Read = std::variant<ByteArray, ErrorKind>;

Read ResultOf(const std::function<ByteArray()>& read)
{
    try {
        return read();
    } catch (const Error& error) {
        return error.kind();
    }
}

}  // namespace

TEST(ByteReader, ReadsLittleEndianAndRefusesEveryReadOutside)
{
    const ByteArray bytes{0x01, 0x80, 0xFE, 0xFF, 0x7F};
    const ByteReader reader(bytes, "the sample");
    EXPECT_EQ(reader.U16(0), 0x8001);
    EXPECT_EQ(reader.I16(0), -32767);
    EXPECT_EQ(reader.U32(1), 0x7FFFFE80u);
    EXPECT_EQ(reader.I32(0), static_cast<std::int32_t>(0xFFFE8001u));
    EXPECT_EQ(reader.Slice(5, 0).size(), 0u);
    for (const auto& [offset, count] : {std::pair<std::int64_t, std::int64_t>{5, 1},
                                        {-1, 1},
                                        {4, 2},
                                        {0, 6},
                                        {6, 0},
                                        {1, INT64_MAX},
                                        {INT64_MAX, 1}}) {
        EXPECT_EQ(ErrorKindOf([&] { reader.Slice(offset, count); }), ErrorKind::Truncated)
            << offset << "+" << count;
    }
    const std::pair<std::function<void()>, const char*> texts[] = {
        {[&] { reader.U32(3); },
         "Truncated: the sample holds 5 bytes, too few for 4 bytes at offset 3"},
        {[&] { reader.U8(5); }, "Truncated: the sample holds 5 bytes, too few for byte 5"},
        {[] { ByteReader(ByteArray(1)).U16(0); },
         "Truncated: data holds 1 byte, too few for 2 bytes at offset 0"},
    };
    for (const auto& [read, text] : texts) {
        try {
            read();
            ADD_FAILURE() << "no Error was thrown for " << text;
        } catch (const Error& error) {
            EXPECT_STREQ(error.what(), text);
        }
    }
}

TEST(Error, TextIsThePrefixOfItsKindThenTheDetail)
{
    const struct {
        ErrorKind kind;
        const char* detail;
        const char* text;
    } cases[] = {
        {ErrorKind::NotFound, "there is no file", "Missing: there is no file"},
        {ErrorKind::CannotRead, "x", "Cannot read: x"},
        {ErrorKind::Truncated, "x", "Truncated: x"},
        {ErrorKind::Corrupt, "x", "Corrupt: x"},
        {ErrorKind::Unsupported, "x", "Unsupported: x"},
        {ErrorKind::TooLarge, "x", "Too large: x"},
        {ErrorKind::CannotWrite, "x", "Cannot write: x"},
        // A detail naming a file first goes on from the prefix as one phrase.
        {ErrorKind::CannotWrite, "\"A.bmp\": full", "Cannot write \"A.bmp\": full"},
        {ErrorKind::CannotRead, "\"A.CEL\"", "Cannot read \"A.CEL\""},
        {ErrorKind::Corrupt, "", "Corrupt: "},
    };
    for (const auto& c : cases) {
        const Error error(c.kind, c.detail);
        EXPECT_STREQ(error.what(), c.text);
        EXPECT_EQ(error.detail(), c.detail);
        EXPECT_EQ(error.kind(), c.kind);
    }
}

TEST(ReadFileBytes, GivesTheWholeFileOrSaysWhyNot)
{
    TempFolder folder;
    ByteArray content(1000);
    for (std::size_t i = 0; i < content.size(); ++i) {
        content[i] = static_cast<std::uint8_t>(i * 7 + 3);
    }
    const auto file = folder.Write("ART.CEL", content);
    fs::create_directory(folder / "FOLDER");
    folder.Write("EMPTY", {});
    folder.Write(".hidden", {1, 2, 3});
    folder.Write("ZERO", {0});
    ASSERT_EQ(::mkfifo((folder / "FIFO").c_str(), 0600), 0);
    const auto locked = folder.Write("LOCKED", {1, 2});
    fs::permissions(locked, fs::perms::none);
    const auto shut = folder.Write("SHUT/IN", {3});
    fs::permissions(folder / "SHUT", fs::perms::none);
    // Permission bits do not stop root, who reads the file like any other.
    const bool root = ::geteuid() == 0;

    const struct {
        fs::path path;
        Read bytes;
    } cases[] = {
        {"", ErrorKind::NotFound},
        {folder / "MISSING", ErrorKind::NotFound},
        {folder / ".hidden", ErrorKind::NotFound},
        {folder / "EMPTY", ByteArray{}},
        {locked, root ? Read(ByteArray{1, 2}) : ErrorKind::CannotRead},
        {shut, root ? Read(ByteArray{3}) : ErrorKind::CannotRead},
        {folder / "ZERO", ByteArray{0}},
        {file, content},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ResultOf([&] { return ReadFileBytes(c.path); }), c.bytes) << c.path;
    }
    fs::permissions(folder / "SHUT", fs::perms::owner_all);

    // What is not an ordinary file cannot be read, and is named for what it is.
    fs::create_symlink("nowhere", folder / "BROKEN");
    fs::create_symlink("LOOP", folder / "LOOP");
    const int socket = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string socketPath = (folder / "SOCKET").string();
    ASSERT_LT(socketPath.size(), sizeof address.sun_path);
    socketPath.copy(address.sun_path, socketPath.size());
    ASSERT_EQ(::bind(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    const std::pair<fs::path, std::string> named[] = {
        {folder / "FOLDER", "a folder"},
        {folder / "FIFO", "a FIFO"},
        {"/dev/zero", "a device"},
        {folder / "SOCKET", "a socket"},
        {folder / "BROKEN", "a link that leads nowhere"},
        {folder / "LOOP", "a link that leads round in a loop"},
        // Made up as it is read: its size is 0, and it is not empty, or not readable.
        {"/proc/self/status",
         "it gives its size as 0 but holds bytes, as files the system "
         "makes up do"},
        {"/proc/self/mem", "it gives its size as 0 and cannot be read: Input/output error"},
    };
    for (const auto& [path, what] : named) {
        try {
            ReadFileBytes(path);
            ADD_FAILURE() << "read " << path;
        } catch (const Error& error) {
            EXPECT_EQ(error.kind(), ErrorKind::CannotRead) << path;
            EXPECT_TRUE(
                std::string(error.what()).ends_with(": it is not an ordinary file: " + what))
                << error.what();
        }
    }
    ::close(socket);

    // Limits: a larger file is refused before anything is read; a start is cut.
    const struct {
        std::function<ByteArray()> read;
        Read result;
    } limited[] = {
        {[&] { return ReadFileBytes(file, 1000); }, content},
        {[&] { return ReadFileBytes(file, 999); }, ErrorKind::TooLarge},
        {[&] { return ReadFileBytes(folder / "EMPTY", 0); }, ByteArray{}},
        {[&] { return InputFile(file).ReadStart(4); },
         ByteArray(content.begin(), content.begin() + 4)},
        {[&] { return InputFile(file).ReadStart(5000); }, content},
    };
    for (std::size_t i = 0; i < std::size(limited); ++i) {
        EXPECT_EQ(ResultOf(limited[i].read), limited[i].result) << "case " << i;
    }
}

// A file swapped for a FIFO while it is read (a game folder changed under a
// running export): the read never waits for a writer that will not come.
TEST(ReadFileBytes, NeverWaitsOnAFifoSwappedIn)
{
    TempFolder folder;
    const auto target = folder / "ART.CEL";
    folder.Write("REGULAR", ByteArray(4096, 5));
    ASSERT_EQ(::mkfifo((folder / "FIFO").c_str(), 0600), 0);
    fs::copy_file(folder / "REGULAR", target);

    std::atomic<bool> done{false};
    std::atomic<bool> stop{false};
    std::atomic<int> reads{0};
    // Each read is a chance for the swap to fall between two steps of it.
    std::thread reader([&] {
        for (; reads < 100000 && !stop; ++reads) {
            try {
                ReadFileBytes(target);
            } catch (const Error&) {
            }
        }
        done = true;
    });
    // Each swap is atomic: the name is always either file.
    const auto swapIn = [&](const char* name) {
        fs::create_hard_link(folder / name, folder / "next");
        fs::rename(folder / "next", target);
    };
    // A reader that makes no progress for seconds waits on the FIFO.
    int lastReads = -1;
    auto lastProgress = std::chrono::steady_clock::now();
    while (!done && std::chrono::steady_clock::now() - lastProgress < std::chrono::seconds(5)) {
        swapIn("FIFO");
        swapIn("REGULAR");
        if (reads != lastReads) {
            lastReads = reads;
            lastProgress = std::chrono::steady_clock::now();
        }
    }
    EXPECT_TRUE(done) << "a read waited on the FIFO after " << reads << " reads";
    // Release a reader stuck opening the FIFO, however often it gets there.
    stop = true;
    while (!done) {
        const int writer = ::open((folder / "FIFO").c_str(), O_WRONLY | O_NONBLOCK);
        if (writer >= 0) {
            ::close(writer);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    reader.join();
}

TEST(WriteFileAtomically, RefusesFolderAndReadOnlyTargetsLeavingThemAlone)
{
    TempFolder folder;
    fs::create_directory(folder / "DIR");
    const auto readOnly = folder.Write("LOCKED.bmp", {7, 7});
    fs::permissions(readOnly, fs::perms::owner_read | fs::perms::group_read);
    const std::pair<fs::path, std::string> cases[] = {{folder / "DIR", "it is a folder"},
                                                      {readOnly, "the file is read-only"}};
    for (const auto& [target, reason] : cases) {
        try {
            WriteFileAtomically(target, {1, 2, 3, 4});
            ADD_FAILURE() << "wrote " << target;
        } catch (const Error& error) {
            EXPECT_EQ(error.kind(), ErrorKind::CannotWrite);
            EXPECT_EQ(error.what(), "Cannot write " + Quoted(target) + ": " + reason);
        }
    }
    EXPECT_TRUE(fs::is_directory(folder / "DIR"));
    EXPECT_EQ(ReadAll(readOnly), (ByteArray{7, 7}));
    EXPECT_FALSE(HasTemporaryFile(folder.path()));
}

TEST(WriteFileAtomically, FailsInAReadOnlyFolder)
{
    TempFolder folder;
    varek::test::ScratchFileSystem readOnly(folder / "RO", 64 * 1024);
    const std::string problem = readOnly.MakeReadOnly();
    if (!problem.empty()) {
        GTEST_SKIP() << problem;
    }
    EXPECT_EQ(ErrorKindOf([&] { WriteFileAtomically(readOnly.path() / "A.bmp", {1}); }),
              ErrorKind::CannotWrite);
    EXPECT_TRUE(fs::is_empty(readOnly.path()));
}

TEST(WriteFileAtomically, TakesEveryNameTheFileSystemTakesAndNoOther)
{
    TempFolder folder;
    for (const std::size_t length : {5u, 243u, 244u, 255u}) {
        const auto file = folder / std::string(length, 'N');
        WriteFileAtomically(file, ByteArray(500, 9));
        WriteFileAtomically(file, {2, 3});  // over an old file as well, replacing it whole
        EXPECT_EQ(ReadAll(file), (ByteArray{2, 3})) << length;
    }
    WriteFileAtomically(folder / "EMPTY", {});
    EXPECT_TRUE(fs::is_regular_file(folder / "EMPTY"));
    EXPECT_EQ(fs::file_size(folder / "EMPTY"), 0u);
    EXPECT_EQ(ErrorKindOf([&] { WriteFileAtomically(folder / std::string(256, 'N'), {1}); }),
              ErrorKind::CannotWrite);

    // Up to the NUL the name is another file, which must stay as it was.
    const auto other = folder.Write("A.bmp", {7});
    EXPECT_EQ(
        ErrorKindOf([&] { WriteFileAtomically(folder / std::string("A.bmp\0B.bmp", 11), {1}); }),
        ErrorKind::CannotWrite);
    EXPECT_EQ(ReadAll(other), ByteArray{7});
    EXPECT_FALSE(HasTemporaryFile(folder.path()));
    EXPECT_EQ(std::distance(fs::directory_iterator(folder.path()), fs::directory_iterator()), 6);
}

TEST(ByteSource, FindsEntriesAndListsMatchingFilesIgnoringCase)
{
    TempFolder folder;
    for (const char* name :
         {"b.CEL", "C.CEL", "A.cel", "c.cel", "x.fli", "y.FLC", ".hidden.cel", "cel"}) {
        folder.Write(name, {1});
    }
    fs::create_directory(folder / "dir.cel");

    // The folder as a byte source, and the same names in memory: they list, find and
    // read alike, matching names ignoring case but the exact name first.
    std::map<std::string, ByteArray> files{{"dir.cel/", {}}};
    for (const auto& entry : fs::directory_iterator(folder.path())) {
        if (entry.is_regular_file()) {
            files[entry.path().filename().string()] = ReadAll(entry.path());
        }
    }
    const FolderSource onDisk(folder.path());
    const MemorySource inMemory(files);
    for (const ByteSource* source : std::initializer_list<const ByteSource*>{&onDisk, &inMemory}) {
        const std::string which = source == &onDisk ? "folder" : "memory";
        // A folder named like a file is listed, for its reader to say why it cannot be read.
        EXPECT_EQ(source->ListFiles("", "*.CEL"),
                  (std::vector<std::string>{"A.cel", "b.CEL", "C.CEL", "c.cel", "dir.cel"}))
            << which;
        // Patterns parted by ';' list the names matching any of them, in one order.
        EXPECT_EQ(source->ListFiles("", "*.FLC;*.fli"),
                  (std::vector<std::string>{"x.fli", "y.FLC"}))
            << which;
        EXPECT_EQ(ErrorKindOf([&] { source->ListFiles("missing", "*.CEL"); }), ErrorKind::NotFound)
            << which;
        EXPECT_EQ(ErrorKindOf([&] { source->ListFiles("x.fli", "*.CEL"); }), ErrorKind::CannotRead)
            << which;
        const std::pair<std::string, FoundEntry> found[] = {
            {"a.CEL", {"A.cel", EntryKind::File}},
            {"c.cel", {"c.cel", EntryKind::File}},
            {"c.Cel", {"C.CEL", EntryKind::File}},
            {"DIR.CEL", {"dir.cel", EntryKind::Folder}},
            {"NONE", {"NONE", EntryKind::Missing}},
            {"missing/a.cel", {"missing/a.cel", EntryKind::Missing}},
        };
        for (const auto& [name, entry] : found) {
            EXPECT_EQ(source->FindEntry(name), entry) << which << " " << name;
        }
        EXPECT_EQ(source->ReadStart("x.fli", 5), ByteArray{1}) << which;
        const FileBytes whole = source->ReadAll("x.fli");
        EXPECT_EQ(ByteArray(whole.bytes().begin(), whole.bytes().end()), ByteArray{1}) << which;
        const std::pair<std::function<void()>, ErrorKind> faults[] = {
            {[&] { source->ReadAll("x.fli", 0); }, ErrorKind::TooLarge},
            {[&] { source->Open("dir.cel"); }, ErrorKind::CannotRead},
            {[&] { source->Open(".hidden.cel"); }, ErrorKind::NotFound},
            {[&] { source->Open("X.FLI"); }, ErrorKind::NotFound},  // names are read as given
        };
        for (std::size_t i = 0; i < std::size(faults); ++i) {
            EXPECT_EQ(ErrorKindOf(faults[i].first), faults[i].second) << which << " case " << i;
        }
    }
    // A listing that cannot be made is an error, never an empty folder.
    if (::geteuid() != 0) {
        fs::permissions(folder.path(), fs::perms::owner_write | fs::perms::owner_exec);
        EXPECT_EQ(ErrorKindOf([&] { onDisk.ListFiles("", "*.CEL"); }), ErrorKind::CannotRead);
        fs::permissions(folder.path(), fs::perms::owner_all);
    }
}

TEST(RemoveStaleTemporaryFiles, RemovesOnlyWhatAWriterNoLongerRunningLeft)
{
    // A process number no process has: a child that has ended and been waited for.
    const pid_t child = ::fork();
    if (child == 0) {
        ::_exit(0);
    }
    ASSERT_GT(child, 0);
    ::waitpid(child, nullptr, 0);
    const std::string dead = std::to_string(child);
    const std::string alive = std::to_string(::getpid());

    TempFolder folder;
    const struct {
        std::string name;
        bool removed;
    } cases[] = {
        {".A-01.bmp.varek-" + dead + "-012345.tmp", true},
        // A user's own files that merely look like one: no mark, or not ours.
        {".A-01.bmp.012345.tmp", false},
        {".A-01.bmp." + dead + "-012345.tmp", false},
        {".A-04.bmp.varek-" + dead + "-012345.tmp", false},  // another user's, given below
        {".A-02.bmp.varek-" + alive + "-012345.tmp", false},
        {".A-03.bmp.varek-1-012345.tmp", false},  // init always runs
        {"A-01.bmp", false},
        {".A-01.bmp.varek-" + dead + "-12345.tmp", false},
        {".A-01.bmp.varek-" + dead + "-0123456.tmp", false},
        {"A-01.bmp.varek-" + dead + "-012345.tmp", false},
        {".notes.tmp", false},
        {".012345.tmp", false},
    };
    for (const auto& c : cases) {
        folder.Write(c.name, {1});
    }
    const fs::path others = folder / (".A-04.bmp.varek-" + dead + "-012345.tmp");
    // Only root can give a file away; for anyone else the case drops out.
    const bool othersKept = ::geteuid() == 0 && ::chown(others.c_str(), 65534, 65534) == 0;
    if (!othersKept) {
        fs::remove(others);
    }
    fs::create_directory(folder / (".D.varek-" + dead + "-012345.tmp"));  // not a file
    EXPECT_EQ(RemoveStaleTemporaryFiles(folder.path()), 1u);
    for (const auto& c : cases) {
        if (othersKept || folder / c.name != others) {
            EXPECT_EQ(fs::exists(folder / c.name), !c.removed) << c.name;
        }
    }
    EXPECT_TRUE(fs::is_directory(folder / (".D.varek-" + dead + "-012345.tmp")));
    EXPECT_EQ(RemoveStaleTemporaryFiles(folder / "missing"), 0u);
}
