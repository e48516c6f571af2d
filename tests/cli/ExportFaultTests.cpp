#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "art/ArtFiles.h"
#include "authoring/CelWriter.h"
#include "authoring/FliWriter.h"
#include "cli/RunProgram.h"
#include "fli/FliDecoder.h"
#include "imaging/BmpImage.h"
#include "support/FolderSnapshot.h"
#include "support/ScratchFileSystem.h"
#include "support/TempFolder.h"

namespace varek::test {
namespace {

namespace fs = std::filesystem;

PaletteBlock Block(int seed)
{
    PaletteBlock block{};
    for (std::size_t i = 0; i < block.size(); ++i) {
        block[i] = static_cast<std::uint8_t>((i * 7 + static_cast<std::size_t>(seed)) % 64);
    }
    return block;
}

// Writes into the exporter's output folder go wrong in every way a disk can make
// them: nothing that was there is lost, nothing half-written is left, each failure
// is named on standard error with its reason, the rest is still written, and the
// exit status is 1.
class ExportFaultTest : public ::testing::Test {
protected:
    // A game folder of one wall, one small still picture and two frames.
    void SetUp() override
    {
        const PaletteBlock palette = Block(0);
        m_work.Write("game/PALETTE.PAL", ByteArray(palette.begin(), palette.end()));
        ByteArray wall(kWallBytes);
        for (std::size_t i = 0; i < wall.size(); ++i) {
            wall[i] = static_cast<std::uint8_t>(i / 64);
        }
        m_work.Write("game/CELS3/W.CEL", wall);
        IndexedImage still{9, 5, ByteArray(45, 3)};
        m_work.Write("game/STILLCEL/S.CEL", EncodeCelImage(still, Block(1)));
        std::vector<AnimationFrame> frames(2);
        frames[0].pixels.fill(1);
        frames[0].colors = Block(2);
        frames[1].pixels.fill(2);
        frames[1].colors = Block(3);
        m_work.Write("game/FLI/F.FLI", WriteAnimation(frames));

        m_images["CELS3/W.bmp"] =
            BuildBmpImage(BuildWallImage(wall, true), PaletteFromBlock(palette));
        m_images["STILLCEL/S.bmp"] = BuildBmpImage(still, PaletteFromBlock(Block(1)));
        FrameStore store;
        DecodeFLIFile(WriteAnimation(frames), store);
        ASSERT_EQ(store.FrameCount(), 2u);
        m_images["FLI/F-01.bmp"] = BuildBmpImage(FrameImage(store[1]), store[1].Colors);
        m_images["FLI/F-02.bmp"] = BuildBmpImage(FrameImage(store[2]), store[2].Colors);
    }

    ProgramResult Export(const fs::path& out) const
    {
        return RunProgram(VAREK_EXPORT_PROGRAM, {"-q", (m_work / "game").string(), out.string()});
    }

    // The old output folder's files, plus the images named, as the game gives them.
    Snapshot With(Snapshot files, const std::vector<std::string>& images) const
    {
        for (const std::string& name : images) {
            files[name] = m_images.at(name);
        }
        return files;
    }

    static void ExpectTold(const ProgramResult& result, const std::string& source,
                           const fs::path& target, const std::vector<std::string>& reasons)
    {
        EXPECT_EQ(result.exitCode, 1) << result.err;
        const std::string line = source + ": Cannot write \"" + target.string() + "\": ";
        const std::size_t at = result.err.find(line);
        ASSERT_NE(at, std::string::npos) << result.err;
        const std::string reason =
            result.err.substr(at + line.size(), result.err.find('\n', at) - at - line.size());
        EXPECT_NE(std::find(reasons.begin(), reasons.end(), reason), reasons.end()) << reason;
    }

    TempFolder m_work;
    Snapshot m_images;
};

TEST_F(ExportFaultTest, ReadOnlyOutputFolder)
{
    ScratchFileSystem out(m_work / "out", 256 * 1024);
    m_work.Write("out/CELS3/W.bmp", ByteArray(300, 0xAB));
    const std::string problem = out.MakeReadOnly();
    if (!problem.empty()) {
        GTEST_SKIP() << problem;
    }
    const Snapshot before = TakeSnapshot(out.path(), true);
    const ProgramResult result = Export(out.path());
    ExpectTold(result, "CELS3/W.CEL", out.path() / "CELS3" / "W.bmp",
               {"Read-only file system", "Permission denied"});
    EXPECT_NE(
        result.err.find("STILLCEL/S.CEL: Cannot write \"" + (out.path() / "STILLCEL").string() +
                        "\": the folder cannot be made: "),
        std::string::npos)
        << result.err;
    EXPECT_EQ(TakeSnapshot(out.path(), true), before);
    EXPECT_EQ(result.out, "3 files read, 0 images written, 3 failures\n");
}

TEST_F(ExportFaultTest, ReadOnlyTargetFile)
{
    const fs::path old = m_work.Write("out/CELS3/W.bmp", ByteArray(300, 0xAB));
    fs::permissions(old, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    const Snapshot before = TakeSnapshot(m_work / "out");
    const ProgramResult result = Export(m_work / "out");
    ExpectTold(result, "CELS3/W.CEL", old, {"the file is read-only"});
    EXPECT_EQ(TakeSnapshot(m_work / "out"),
              With(before, {"STILLCEL/S.bmp", "FLI/F-01.bmp", "FLI/F-02.bmp"}));
    EXPECT_EQ(result.out, "3 files read, 3 images written, 1 failure\n");
}

TEST_F(ExportFaultTest, DiskFull)
{
    ScratchFileSystem out(m_work / "out", 256 * 1024);
    m_work.Write("out/CELS3/W.bmp", ByteArray(300, 0xAB));
    m_work.Write("out/FLI/F-02.bmp", ByteArray(70000, 0xCD));
    // Room for the still picture, not for a wall, which fails part-way.
    const std::string problem = out.LeaveFree("filler", 4096);
    if (!problem.empty()) {
        GTEST_SKIP() << problem;
    }
    ASSERT_LT(out.FreeBytes(), m_images.at("CELS3/W.bmp").size());
    const Snapshot before = TakeSnapshot(out.path());
    const ProgramResult result = Export(out.path());
    ExpectTold(result, "CELS3/W.CEL", out.path() / "CELS3" / "W.bmp", {"No space left on device"});
    ExpectTold(result, "FLI/F.FLI", out.path() / "FLI" / "F-01.bmp", {"No space left on device"});
    ExpectTold(result, "FLI/F.FLI", out.path() / "FLI" / "F-02.bmp", {"No space left on device"});
    EXPECT_EQ(TakeSnapshot(out.path()), With(before, {"STILLCEL/S.bmp"}));
    EXPECT_EQ(result.out, "3 files read, 1 image written, 3 failures\n");
}

TEST_F(ExportFaultTest, TargetThatIsAFolder)
{
    m_work.Write("out/FLI/F-01.bmp/inside", ByteArray(300, 0xAB));
    const Snapshot before = TakeSnapshot(m_work / "out", true);
    const ProgramResult result = Export(m_work / "out");
    ExpectTold(result, "FLI/F.FLI", m_work / "out" / "FLI" / "F-01.bmp", {"it is a folder"});
    Snapshot expected = With(before, {"CELS3/W.bmp", "STILLCEL/S.bmp", "FLI/F-02.bmp"});
    expected["CELS3/"] = expected["STILLCEL/"] = {};
    EXPECT_EQ(TakeSnapshot(m_work / "out", true), expected);
    EXPECT_EQ(result.out, "3 files read, 3 images written, 1 failure\n");
}

// Frame images add three bytes to the animation's name: from a name of 253 bytes
// or more they pass the file system's 255. Names up to that limit are written, an
// old file under one replaced.
TEST_F(ExportFaultTest, NamesTheFileSystemRefuses)
{
    const std::string longest(251, 'L');
    fs::rename(m_work / "game" / "FLI" / "F.FLI", m_work / "game" / "FLI" / (longest + ".FLI"));
    fs::rename(m_work / "game" / "CELS3" / "W.CEL", m_work / "game" / "CELS3" / (longest + ".CEL"));
    m_work.Write("out/CELS3/" + longest + ".bmp", ByteArray(300, 0xAB));
    const Snapshot before = TakeSnapshot(m_work / "out");
    const ProgramResult result = Export(m_work / "out");
    for (const char* frame : {"-01.bmp", "-02.bmp"}) {
        ExpectTold(result, "FLI/" + longest + ".FLI", m_work / "out" / "FLI" / (longest + frame),
                   {"File name too long"});
    }
    Snapshot expected = With(before, {"STILLCEL/S.bmp"});
    expected["CELS3/" + longest + ".bmp"] = m_images.at("CELS3/W.bmp");
    EXPECT_EQ(TakeSnapshot(m_work / "out"), expected);
    EXPECT_EQ(result.out, "3 files read, 2 images written, 2 failures\n");
}

}  // namespace
}  // namespace varek::test
