#include <gtest/gtest.h>
#include <sys/mount.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>

#include "export/Exporter.h"
#include "support/FolderSnapshot.h"
#include "support/ScratchFileSystem.h"
#include "support/TempFolder.h"
#include "util/Error.h"
#include "util/Text.h"

namespace varek::test {
namespace {

namespace fs = std::filesystem;

// An empty game folder at path: the palette file and the three art folders.
fs::path MakeGameFolder(const TempFolder& work, const std::string& name)
{
    work.Write(name + "/PALETTE.PAL", ByteArray(768, 1));
    for (const char* folder : {"CELS3", "STILLCEL", "FLI"}) {
        fs::create_directories(work / name / folder);
    }
    return work / name;
}

// The detail of the CannotWrite Error call throws; empty when it returns.
template <typename Call>
std::string RefusalOf(Call&& call)
{
    try {
        call();
    } catch (const Error& error) {
        EXPECT_EQ(error.kind(), ErrorKind::CannotWrite) << error.what();
        return error.detail();
    }
    return {};
}

struct CheckCase {
    fs::path out;
    std::string refusal;  // what follows "the output folder \"OUT\"", empty when taken
};

void ExpectChecked(const GameFolder& game, const CheckCase& c)
{
    const std::string refusal = RefusalOf([&] { CheckOutputFolder(game, c.out); });
    EXPECT_EQ(refusal, c.refusal.empty() ? "" : "the output folder " + Quoted(c.out) + c.refusal)
        << c.out;
}

const std::string kIsGame = " is the game folder; the game's files are never written to";
std::string Inside(const std::string& folder)
{
    return " lies inside the game's " + folder + " folder; the game's files are never written to";
}

// The export never writes into the game folder or its art folders, however the
// output folder's path leads there: spelling, "..", trailing separators, links.
TEST(OutputFolderTest, CheckRefusesTheGamesFoldersByAnyPath)
{
    const TempFolder work;
    const fs::path gamePath = MakeGameFolder(work, "game");
    fs::create_directory_symlink(gamePath / "FLI", work / "link");
    work.Write("notes.txt", ByteArray(3, 1));
    const GameFolder game = GameFolder::Open(gamePath);
    const Snapshot before = TakeSnapshot(gamePath, true);
    const CheckCase cases[] = {
        {gamePath, kIsGame},
        {gamePath.string() + "/", kIsGame},
        {gamePath / "CELS3", Inside("CELS3")},
        {gamePath / "cels3" / "new", Inside("CELS3")},
        {gamePath / "FLI" / ".." / "STILLCEL" / "deeper", Inside("STILLCEL")},
        {work / "link" / "frames", Inside("FLI")},
        {work / "notes.txt", " is a file, not a folder"},
        {gamePath / ".." / "beside", ""},
    };
    for (const CheckCase& c : cases) {
        ExpectChecked(game, c);
    }

    // A game folder named as an art folder: its parent's export would fill it.
    const GameFolder named = GameFolder::Open(MakeGameFolder(work, "nested/STILLCEL"));
    ExpectChecked(named, {work / "nested", " would put images straight into the game folder " +
                                               Quoted(named.Path())});
    EXPECT_EQ(TakeSnapshot(gamePath, true), before);
}

// A bind mount shows the game folder under another path: it is the same folder.
TEST(OutputFolderTest, CheckRefusesTheGamesFoldersThroughABindMount)
{
    const TempFolder work;
    const GameFolder game = GameFolder::Open(MakeGameFolder(work, "game"));
    const fs::path bound = work / "bound";
    fs::create_directory(bound);
    if (::mount(game.Path().c_str(), bound.c_str(), nullptr, MS_BIND, nullptr) != 0) {
        GTEST_SKIP() << "cannot bind-mount a folder: " << std::strerror(errno);
    }
    for (const CheckCase& c :
         {CheckCase{bound, kIsGame}, CheckCase{bound / "CELS3", Inside("CELS3")},
          CheckCase{bound / "cels3" / "new", Inside("CELS3")}}) {
        ExpectChecked(game, c);
    }
    ::umount2(bound.c_str(), MNT_DETACH);
}

// A folder that takes no file is refused once, up front, where it would otherwise
// fail every image; nothing in it changes.
TEST(OutputFolderTest, MakeRefusesAFolderThatTakesNoFile)
{
    const TempFolder work;
    ScratchFileSystem disk(work / "disk", 256 * 1024);
    work.Write("disk/out/CELS3/W.bmp", ByteArray(300, 0xAB));
    const std::string problem = disk.MakeReadOnly();
    if (!problem.empty()) {
        GTEST_SKIP() << problem;
    }
    // An output folder that takes files, whose walls folder does not.
    ScratchFileSystem walls(work / "mixed" / "CELS3", 64 * 1024);
    ASSERT_EQ(walls.MakeReadOnly(), "");
    const Snapshot before = TakeSnapshot(disk.path(), true);
    ExportOptions noWalls;
    noWalls.categories = {false, true, true};
    const struct {
        fs::path out;
        ExportOptions options;
        std::string refusal;  // empty when the folder is taken
    } cases[] = {
        {disk.path() / "out",
         {},
         "cannot write in the output folder " + Quoted(disk.path() / "out")},
        {disk.path() / "new", {}, "cannot create the output folder " + Quoted(disk.path() / "new")},
        {work / "mixed", {}, "cannot write in the output folder " + Quoted(walls.path())},
        {work / "mixed", noWalls, ""},
    };
    for (const auto& c : cases) {
        const std::string refusal = RefusalOf([&] { MakeOutputFolder(c.out, c.options); });
        if (c.refusal.empty()) {
            EXPECT_EQ(refusal, "") << c.out;
        } else {
            EXPECT_TRUE(refusal.starts_with(c.refusal + ": ")) << refusal;
        }
    }
    EXPECT_EQ(TakeSnapshot(disk.path(), true), before);
}

}  // namespace
}  // namespace varek::test
