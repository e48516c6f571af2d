#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "art/ArtFiles.h"
#include "authoring/CelWriter.h"
#include "fli/FliWriter.h"
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
                           const fs::path& target, const std::string& reason)
    {
        EXPECT_EQ(result.exitCode, 1) << result.err;
        EXPECT_NE(result.err.find(source + ": Cannot write \"" + target.string() + "\": " + reason +
                                  "\n"),
                  std::string::npos)
            << result.err;
    }

    TempFolder m_work;
    Snapshot m_images;
};

// A folder that takes no file is refused before anything is tried, not once for
// every image.
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
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_TRUE(result.err.starts_with("varek-export: cannot write in the output folder \"" +
                                       out.path().string() + "\": "))
        << result.err;
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
    EXPECT_EQ(TakeSnapshot(out.path(), true), before);
    EXPECT_EQ(result.out, "");
}

// A category folder that cannot be used, because it is a file here, is refused
// up front as a read-only one is; one that is not chosen is not in the way.
TEST_F(ExportFaultTest, CategoryFolderThatIsAFile)
{
    const fs::path out = m_work / "out";
    m_work.Write("out/FLI", ByteArray(3, 1));
    const Snapshot before = TakeSnapshot(out, true);
    const ProgramResult result = Export(out);
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_EQ(result.err, "varek-export: cannot write in the output folder \"" +
                              (out / "FLI").string() + "\": it is not a folder\n");
    EXPECT_EQ(TakeSnapshot(out, true), before);
    const ProgramResult walls =
        RunProgram(VAREK_EXPORT_PROGRAM,
                   {"-q", "--category", "walls", (m_work / "game").string(), out.string()});
    EXPECT_EQ(walls.exitCode, 0) << walls.err;
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
    ExpectTold(result, "CELS3/W.CEL", out.path() / "CELS3" / "W.bmp", "No space left on device");
    ExpectTold(result, "FLI/F.FLI", out.path() / "FLI" / "F-01.bmp", "No space left on device");
    ExpectTold(result, "FLI/F.FLI", out.path() / "FLI" / "F-02.bmp", "No space left on device");
    EXPECT_EQ(TakeSnapshot(out.path()), With(before, {"STILLCEL/S.bmp"}));
    EXPECT_EQ(result.out, "3 files read, 1 image written, 3 failures\n");
}

// A target that is a folder fails alone, a wall's as an animation frame's.
TEST_F(ExportFaultTest, TargetThatIsAFolder)
{
    m_work.Write("out/CELS3/W.bmp/inside", ByteArray(300, 0xAB));
    m_work.Write("out/FLI/F-01.bmp/inside", ByteArray(300, 0xAB));
    const Snapshot before = TakeSnapshot(m_work / "out", true);
    const ProgramResult result = Export(m_work / "out");
    ExpectTold(result, "CELS3/W.CEL", m_work / "out" / "CELS3" / "W.bmp", "it is a folder");
    ExpectTold(result, "FLI/F.FLI", m_work / "out" / "FLI" / "F-01.bmp", "it is a folder");
    Snapshot expected = With(before, {"STILLCEL/S.bmp", "FLI/F-02.bmp"});
    expected["STILLCEL/"] = {};
    EXPECT_EQ(TakeSnapshot(m_work / "out", true), expected);
    EXPECT_EQ(result.out, "3 files read, 2 images written, 2 failures\n");
}

// Files of 2 TB with the art at their start, as a sparse file shows them: each is
// read only as far as its format uses it.
TEST_F(ExportFaultTest, HugeFilesAreReadOnlyAsFarAsTheArtGoes)
{
    for (const char* name : {"PALETTE.PAL", "CELS3/W.CEL", "STILLCEL/S.CEL"}) {
        const fs::path file = m_work / "game" / name;
        const int descriptor = ::open(file.c_str(), O_WRONLY);
        ASSERT_GE(descriptor, 0) << file;
        const int done = ::ftruncate(descriptor, off_t{2} << 40);
        const int error = errno;
        ::close(descriptor);
        if (done != 0) {
            GTEST_SKIP() << "the file system takes no file of 2 TB: " << std::strerror(error);
        }
    }
    const ProgramResult result = Export(m_work / "out");
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(TakeSnapshot(m_work / "out"), m_images);
    EXPECT_EQ(result.out, "3 files read, 4 images written, 0 failures\n");

    // An animation as far as its header's size field says; frames that need more
    // than 1 GiB are refused before they are read.
    const fs::path animation = m_work / "game" / "FLI" / "F.FLI";
    fs::resize_file(animation, std::uintmax_t{2} << 40);
    const int descriptor = ::open(animation.c_str(), O_WRONLY);
    ASSERT_GE(descriptor, 0);
    const auto patch = [descriptor](std::initializer_list<std::uint8_t> bytes, off_t at) {
        const std::vector<std::uint8_t> data(bytes);
        return ::pwrite(descriptor, data.data(), data.size(), at) ==
               static_cast<ssize_t>(data.size());
    };
    // The size the file was written with, then one of 4 GiB, more than is ever read.
    for (const char* out : {"sized", "oversized"}) {
        const ProgramResult sized = Export(m_work / out);
        EXPECT_EQ(sized.exitCode, 0) << sized.err;
        EXPECT_EQ(TakeSnapshot(m_work / out), m_images) << out;
        ASSERT_TRUE(patch({0xF0, 0xFF, 0xFF, 0xFF}, 0));
    }
    // No size field, and a first frame of 2 GiB without chunks.
    const bool patched =
        patch({0, 0, 0, 0}, 0) && patch({0xF0, 0xFF, 0xFF, 0x7F, 0xFA, 0xF1, 0, 0}, kFliHeaderSize);
    ::close(descriptor);
    ASSERT_TRUE(patched);
    const ProgramResult huge = Export(m_work / "huge");
    EXPECT_EQ(huge.exitCode, 1);
    EXPECT_NE(huge.err.find("FLI/F.FLI: Too large: its frames need more than the 1,073,741,824 "
                            "bytes read of an animation at most"),
              std::string::npos)
        << huge.err;
}

// A category folder that cannot be listed leaves its files out: that is a failure.
TEST_F(ExportFaultTest, UnreadableCategoryFolder)
{
    if (::geteuid() == 0) {
        GTEST_SKIP() << "permission bits do not stop root";
    }
    const fs::path stills = m_work / "game" / "STILLCEL";
    fs::permissions(stills, fs::perms::owner_write | fs::perms::owner_exec);
    const ProgramResult result = Export(m_work / "out");
    fs::permissions(stills, fs::perms::owner_all);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(
        result.err.find("STILLCEL: Cannot read \"" + stills.string() + "\": Permission denied\n"),
        std::string::npos)
        << result.err;
    EXPECT_EQ(TakeSnapshot(m_work / "out"),
              With({}, {"CELS3/W.bmp", "FLI/F-01.bmp", "FLI/F-02.bmp"}));
    EXPECT_EQ(result.out, "2 files read, 3 images written, 1 failure\n");
}

// SIGINT and SIGTERM stop an export that replaces older images the way Cancel does:
// the images are whole, old or new, no temporary file is left, and the exit status
// is 128 + the signal. Temporary files a killed export left are cleared.
TEST_F(ExportFaultTest, SignalsStopAReExportLeavingOnlyWholeFiles)
{
    const ByteArray wall = ReadAll(m_work / "game" / "CELS3" / "W.CEL");
    for (int i = 0; i < 3000; ++i) {
        m_work.Write("game/CELS3/W" + std::to_string(i) + ".CEL", wall);
    }
    const fs::path out = m_work / "out";
    const std::vector<std::string> args{
        "--format", "png", "--category", "walls", (m_work / "game").string(), out.string()};
    ASSERT_EQ(RunProgram(VAREK_EXPORT_PROGRAM, args).exitCode, 0);
    Snapshot exported = TakeSnapshot(out);

    // What an export killed outright leaves: temporary files of a process that is
    // gone, in a category folder this export writes to and in one it does not. A
    // user's file that merely looks like one stays.
    const pid_t gone = ::fork();
    if (gone == 0) {
        ::_exit(0);
    }
    ::waitpid(gone, nullptr, 0);
    const std::string mark = ".varek-" + std::to_string(gone) + "-000001.tmp";
    m_work.Write("out/CELS3/.W.png" + mark, ByteArray(10, 1));
    m_work.Write("out/FLI/.F-01.png" + mark, ByteArray(10, 1));
    const std::string users = "CELS3/.W1.png." + std::to_string(gone) + "-000002.tmp";
    m_work.Write("out/" + users, ByteArray(10, 1));
    exported[users] = ByteArray(10, 1);

    for (const int signal : {SIGINT, SIGTERM}) {
        const ProgramResult result =
            RunProgram(VAREK_EXPORT_PROGRAM, args, false, [&](pid_t child, const fs::path& err) {
                // Under way: the first wall is done.
                std::error_code ec;
                while (fs::file_size(err, ec) == 0 || ec) {
                    std::this_thread::sleep_for(std::chrono::microseconds(200));
                }
                ::kill(child, signal);
            });
        EXPECT_EQ(result.exitCode, 128 + signal);  // not ended by the signal itself
        EXPECT_NE(result.err.find("varek-export: stopped by "), std::string::npos) << result.err;
        EXPECT_EQ(TakeSnapshot(out), exported) << "signal " << signal;
    }
}

}  // namespace
}  // namespace varek::test
