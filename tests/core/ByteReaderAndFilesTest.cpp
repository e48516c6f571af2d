#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <limits>

#include "support/ErrorKindOf.h"
#include "support/RecordingReporter.h"
#include "support/ScratchFileSystem.h"
#include "support/TempFolder.h"
#include "util/ByteReader.h"
#include "util/Error.h"
#include "util/FileIO.h"
#include "util/GameFolder.h"

namespace fs = std::filesystem;
using namespace varek;
using varek::test::ErrorKindOf;
using varek::test::ReadAll;
using varek::test::RecordingReporter;
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
        EXPECT_EQ(ErrorKindOf([&] { reader.Slice(offset, count); }), ErrorKind::IndexOutOfRange)
            << offset << "+" << count;
    }
    try {
        reader.U32(3);
        ADD_FAILURE() << "no Error was thrown";
    } catch (const Error& error) {
        EXPECT_STREQ(error.what(),
                     "Index out of range: 4 bytes at offset 3 of the sample that holds 5 bytes");
    }
}

TEST(FileExistsAndReadFileBytes, GiveTheWholeFileOrOneZeroByte)
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

    const struct {
        fs::path path;
        bool exists;
        ByteArray bytes;
    } cases[] = {
        {"", false, {0}},
        {folder / "FOLDER", false, {0}},
        {folder / "EMPTY", false, {0}},
        {folder / ".hidden", false, {0}},
        {folder / "MISSING", false, {0}},
        {folder / "ZERO", true, {0}},
        {file, true, content},
    };
    for (const auto& c : cases) {
        RecordingReporter reporter;
        EXPECT_EQ(FileExists(c.path, reporter), c.exists) << c.path;
        EXPECT_EQ(ReadFileBytes(c.path, reporter), c.bytes) << c.path;
        EXPECT_TRUE(reporter.messages.empty());
    }
}

TEST(WriteFileAtomically, ReplacesTheOldFileWhole)
{
    TempFolder folder;
    const auto file = folder.Write("OUT.bmp", ByteArray(500, 9));
    WriteFileAtomically(file, {1, 2, 3});
    EXPECT_EQ(ReadAll(file), (ByteArray{1, 2, 3}));
    WriteFileAtomically(folder / "NEW.bmp", {});
    EXPECT_TRUE(fs::is_regular_file(folder / "NEW.bmp"));
    EXPECT_EQ(fs::file_size(folder / "NEW.bmp"), 0u);
    EXPECT_FALSE(HasTemporaryFile(folder.path()));
}

TEST(WriteFileAtomically, RefusesFolderAndReadOnlyTargetsLeavingThemAlone)
{
    TempFolder folder;
    fs::create_directory(folder / "DIR");
    const auto readOnly = folder.Write("LOCKED.bmp", {7, 7});
    fs::permissions(readOnly, fs::perms::owner_read | fs::perms::group_read);
    for (const auto& target : {folder / "DIR", readOnly}) {
        EXPECT_EQ(ErrorKindOf([&] {
                      WriteFileAtomically(target, {1, 2, 3, 4});
                  }),
                  ErrorKind::FileAccess);
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
              ErrorKind::FileAccess);
    EXPECT_TRUE(fs::is_empty(readOnly.path()));
}

TEST(WriteFileAtomically, TakesEveryNameTheFileSystemTakesAndNoOther)
{
    TempFolder folder;
    for (const std::size_t length : {243u, 244u, 255u}) {
        const auto file = folder / std::string(length, 'N');
        WriteFileAtomically(file, {1});
        WriteFileAtomically(file, {2, 3});  // over an old file as well
        EXPECT_EQ(ReadAll(file), (ByteArray{2, 3})) << length;
    }
    EXPECT_EQ(ErrorKindOf([&] { WriteFileAtomically(folder / std::string(256, 'N'), {1}); }),
              ErrorKind::FileAccess);

    // Up to the NUL the name is another file, which must stay as it was.
    const auto other = folder.Write("A.bmp", {7});
    EXPECT_EQ(ErrorKindOf([&] {
                  WriteFileAtomically(folder / std::string("A.bmp\0B.bmp", 11), {1});
              }),
              ErrorKind::FileAccess);
    EXPECT_EQ(ReadAll(other), ByteArray{7});
    EXPECT_FALSE(HasTemporaryFile(folder.path()));
    EXPECT_EQ(std::distance(fs::directory_iterator(folder.path()), fs::directory_iterator()), 4);
}

TEST(FolderListing, FindsEntriesAndListsMatchingFilesIgnoringCase)
{
    TempFolder folder;
    for (const char* name : {"b.CEL", "C.CEL", "A.cel", "c.cel", "x.fli", ".hidden.cel", "cel"}) {
        folder.Write(name, {1});
    }
    fs::create_directory(folder / "dir.cel");

    EXPECT_EQ(ListMatchingFiles(folder.path(), "*.CEL"),
              (std::vector<std::string>{"A.cel", "b.CEL", "C.CEL", "c.cel"}));
    EXPECT_TRUE(ListMatchingFiles(folder / "missing", "*.CEL").empty());

    EXPECT_EQ(FindEntryIgnoringCase(folder.path(), "a.CEL"), folder / "A.cel");
    EXPECT_EQ(FindEntryIgnoringCase(folder.path(), "c.cel"), folder / "c.cel");  // exact first
    EXPECT_EQ(FindEntryIgnoringCase(folder.path(), "c.Cel"), folder / "C.CEL");
    EXPECT_EQ(FindEntryIgnoringCase(folder.path(), "X.FLI"), folder / "x.fli");
    EXPECT_EQ(FindEntryIgnoringCase(folder.path(), "NONE"), std::nullopt);
    EXPECT_EQ(FindEntryIgnoringCase(folder / "missing", "a.cel"), std::nullopt);
}

TEST(CheckGameFolder, NamesTheFirstMissingItemInOrder)
{
    TempFolder folder;
    const std::string tail = "\r\n\r\nBe sure this program is in the same folder as Vorlund.";
    EXPECT_EQ(CheckGameFolder(folder.path()), "Could not find file: PALETTE.PAL" + tail);
    fs::create_directory(folder / "PALETTE.PAL");
    EXPECT_EQ(CheckGameFolder(folder.path()), "Could not find file: PALETTE.PAL" + tail);
    fs::remove(folder / "PALETTE.PAL");
    folder.Write("palette.pal", {});  // an empty palette passes the check
    fs::create_directory(folder / "STILLCEL");
    fs::create_directory(folder / "FLI");
    EXPECT_EQ(CheckGameFolder(folder.path()), "Could not find path: CELS3" + tail);
    folder.Write("CELS3", {1});  // a plain file passes, as a folder would
    fs::remove(folder / "STILLCEL");
    EXPECT_EQ(CheckGameFolder(folder.path()), "Could not find path: STILLCEL" + tail);
    fs::create_directory(folder / "stillcel");
    fs::remove(folder / "FLI");
    EXPECT_EQ(CheckGameFolder(folder.path()), "Could not find path: FLI" + tail);
    fs::create_directory(folder / "fli");
    EXPECT_EQ(CheckGameFolder(folder.path()), "");
    EXPECT_EQ(GameFolderEntry(folder.path(), "STILLCEL"), folder / "stillcel");
}
