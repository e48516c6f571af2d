// End-to-end tests of varek-import: the export's images put back unchanged change
// nothing, refused inputs write nothing, and every write is backed up, undoable
// and whole when a signal stops it.
#include <gtest/gtest.h>
#include <signal.h>

#include <QColor>
#include <QImage>
#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "art/GameFolder.h"
#include "authoring/SampleGame.h"
#include "cli/RunProgram.h"
#include "fli/FliDecoder.h"
#include "fli/FliWriter.h"
#include "imaging/BmpImage.h"
#include "imaging/BmpReader.h"
#include "imaging/PaletteFile.h"
#include "imaging/PngImage.h"
#include "support/FolderSnapshot.h"
#include "support/GifFixtures.h"
#include "support/TempFolder.h"

namespace varek::test {
namespace {

namespace fs = std::filesystem;

// What a player sees of an animation: each picture and the file frames and time
// it stands for.
struct Shown {
    std::vector<Picture> pictures;
    std::vector<PictureFrames> timing;

    bool operator==(const Shown&) const = default;
};

Shown ShownOf(const ByteArray& bytes)
{
    Shown shown;
    const FliLoad load = StreamFLIFile(bytes, [&](const StreamedPicture& picture) {
        shown.pictures.push_back(PictureOf(picture.record));
    });
    EXPECT_TRUE(load.complete());
    shown.timing = load.pictures;
    return shown;
}

// An FLC of the writer's own, with frames of their own delays and one frame
// without a picture of its own.
ByteArray WideFlc()
{
    std::vector<FlcAnimationFrame> pictures(3);
    for (std::size_t p = 0; p < pictures.size(); ++p) {
        pictures[p].picture = IndexedImage{51, 30, std::vector<std::uint8_t>(51 * 30)};
        for (std::size_t i = 0; i < pictures[p].picture.pixels.size(); ++i) {
            pictures[p].picture.pixels[i] = static_cast<std::uint8_t>((i * (p + 1)) % 200);
        }
        for (std::size_t i = 0; i < kPaletteBlockSize; ++i) {
            pictures[p].colors[i] = static_cast<std::uint8_t>(i * 7 + p);
        }
    }
    pictures[1].delay = 40;
    std::vector<FliFrameData> frames = EncodeFlcAnimation(pictures);
    frames.insert(frames.begin() + 2, FliFrameData{{}, 25});
    FlcAnimationFrame pair[2] = {pictures.back(), pictures.front()};
    pair[1].delay = 0;
    FlcHeader header;
    header.width = 51;
    header.height = 30;
    header.speed = 90;
    return WriteFLCFile(header, frames, &EncodeFlcAnimation(pair)[1]);
}

class ImportTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        WriteSampleGameFolder(Game());
        m_work.Write("game/FLI/WIDE.FLC", WideFlc());
        m_original = TakeSnapshot(Game());
    }

    fs::path Game() const { return m_work / "game"; }

    // The game folder's files, the backups left out.
    Snapshot GameFiles() const
    {
        Snapshot files = TakeSnapshot(Game());
        std::erase_if(files,
                      [](const auto& entry) { return entry.first.starts_with(".varek-backup/"); });
        return files;
    }

    Palette WallPalette() const
    {
        return DecodePaletteBlock(ReadAll(Game() / "PALETTE.PAL"), 0).palette;
    }

    // The torch wall as exported (turned), one pixel given another colour.
    ByteArray EditedTorch() const
    {
        IndexedImage wall{64, 64, {}};
        const ByteArray file = ReadAll(Game() / "CELS3/TORCH.CEL");
        for (int y = 0; y < 64; ++y) {
            for (int x = 0; x < 64; ++x) {
                wall.pixels.push_back(file[static_cast<std::size_t>((63 - x) * 64 + y)]);
            }
        }
        wall.pixels[5] = static_cast<std::uint8_t>(wall.pixels[5] + 1);
        return BuildBmpImage(wall, WallPalette());
    }

    TempFolder m_work;
    Snapshot m_original;
};

ProgramResult Import(const std::vector<std::string>& args)
{
    return RunProgram(VAREK_IMPORT_PROGRAM, args);
}

// Export, then import what it wrote: every file comes back byte for byte, in
// every format and form (an animation's unchanged pictures keep their frames).
TEST_F(ImportTest, ExportThenImportChangesNothing)
{
    const Palette palette = WallPalette();
    const struct {
        const char* format;
        bool turnedAndTimeline;
        const char* paletteFile;
    } cases[] = {{"bmp", false, "PALETTE.gpl"}, {"png", false, "PALETTE.pal"},
                 {"gif", false, "PALETTE.act"}, {"bmp", true, "PALETTE.png"},
                 {"png", true, "PALETTE.gpl"},  {"gif", true, "PALETTE.pal"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.format) +
                     (c.turnedAndTimeline ? " --timeline --no-rotate" : ""));
        const fs::path out =
            m_work / (std::string("out-") + c.format + (c.turnedAndTimeline ? "-t" : ""));
        std::vector<std::string> flags = {"-q", "--format", c.format};
        if (c.turnedAndTimeline) {
            flags.insert(flags.end(), {"--timeline", "--no-rotate"});
        }
        std::vector<std::string> exportArgs = flags;
        exportArgs.insert(exportArgs.end(), {Game().string(), out.string()});
        ASSERT_EQ(RunProgram(VAREK_EXPORT_PROGRAM, exportArgs).exitCode, 0);
        std::vector<std::uint8_t> order(256);
        for (std::size_t i = 0; i < order.size(); ++i) {
            order[i] = static_cast<std::uint8_t>(i);
        }
        m_work.Write(fs::relative(out / c.paletteFile, m_work.path()).string(),
                     std::string(c.paletteFile) == "PALETTE.png"
                         ? EncodePngImage(16, 16, order, palette)
                         : EncodePaletteFile(palette, PaletteFileFormatOf(c.paletteFile)));

        std::vector<std::string> importArgs = {"--into"};
        if (c.turnedAndTimeline) {
            importArgs.insert(importArgs.end(), {"--timeline", "--no-rotate"});
        }
        importArgs.insert(importArgs.end(), {Game().string(), out.string()});
        const ProgramResult result = Import(importArgs);
        ASSERT_EQ(result.exitCode, 0) << result.err;
        EXPECT_NE(result.out.find("PALETTE.PAL: 8,960 bytes now, 8,960 after; unchanged"),
                  std::string::npos)
            << result.out;
        EXPECT_EQ(result.out.find("after; unchanged\n"), result.out.find("after; "));
        EXPECT_EQ(GameFiles(), m_original);
        for (const auto& [name, bytes] : m_original) {
            m_work.Write("game/" + name, bytes);
        }
    }
}

// An edited picture re-encodes the frames around it: the animation shows the edit
// and every other picture for the same time as before, whatever chunks the file
// had; an FLC of another size follows the pictures.
TEST_F(ImportTest, EditedAnimationKeepsItsOtherPicturesAndTiming)
{
    const fs::path out = m_work / "out";
    ASSERT_EQ(RunProgram(VAREK_EXPORT_PROGRAM, {"-q", "--format", "png", "--category", "animations",
                                                Game().string(), out.string()})
                  .exitCode,
              0);
    for (const char* name : {"FIRE", "WIDE"}) {
        SCOPED_TRACE(name);
        const std::string fileName =
            std::string("FLI/") + name + (name == std::string("WIDE") ? ".FLC" : ".FLI");
        Shown expected = ShownOf(m_original.at(fileName));
        const std::size_t number = std::min<std::size_t>(10, expected.pictures.size());
        Picture& edited = expected.pictures[number - 1];
        edited.image.pixels[77] = static_cast<std::uint8_t>(edited.image.pixels[77] ^ 1);
        m_work.Write(std::string("out/FLI/") + name + (number < 10 ? "-0" : "-") +
                         std::to_string(number) + ".png",
                     EncodePngImage(edited.image.width, edited.image.height, edited.image.pixels,
                                    edited.palette));
        const ProgramResult result = Import({"--into", Game().string(), (out / "FLI").string()});
        ASSERT_EQ(result.exitCode, 0) << result.err;
        EXPECT_EQ(ShownOf(ReadAll(Game() / fileName)), expected);
    }
    // Other pictures' count and size: one frame each at the file's speed, as FLC.
    const ByteArray small = EncodePngImage(8, 6, std::vector<std::uint8_t>(48, 3), Palette{});
    m_work.Write("seq/FLI/ORBIT-1.png", small);
    m_work.Write("seq/FLI/ORBIT-2.png", small);
    ASSERT_EQ(Import({"--into", Game().string(), (m_work / "seq").string()}).exitCode, 0);
    const ByteArray orbit = ReadAll(Game() / "FLI/ORBIT.FLI");
    const Shown two = ShownOf(orbit);
    ASSERT_EQ(two.pictures.size(), 2u);
    EXPECT_EQ(two.pictures[1].image.width, 8);
    // The FLI's 5/70 s to the nearest millisecond.
    EXPECT_EQ(ReadFlicHeader(orbit).frameDuration, 71 * kFlcMillisecond);
}

// An input that cannot be honoured is named with the reason and nothing is
// written, nor backed up; --keep-going writes the rest, --quantize maps colours.
TEST_F(ImportTest, RefusedInputsWriteNothing)
{
    const Palette palette = WallPalette();
    QImage foreign(64, 64, QImage::Format_RGB32);
    for (int y = 0; y < 64; ++y) {
        for (int x = 0; x < 64; ++x) {
            const ColorValue c = palette[static_cast<std::size_t>((x + y) % 256)];
            foreign.setPixel(x, y, qRgb(RedOf(c), GreenOf(c), BlueOf(c)));
        }
    }
    foreign.setPixel(3, 2, qRgb(1, 2, 3));
    const fs::path foreignPng = m_work / "foreign.png";
    ASSERT_TRUE(foreign.save(QString::fromStdString(foreignPng.string()), "PNG"));
    const ByteArray small =
        BuildBmpImage(IndexedImage{32, 32, std::vector<std::uint8_t>(1024)}, palette);
    std::string offGrid = "GIMP Palette\n1 2 3\n";
    for (int i = 1; i < 256; ++i) {
        offGrid += "0 0 0\n";
    }
    const ByteArray orbitPicture =
        EncodePngImage(320, 200, std::vector<std::uint8_t>(64000), palette);
    const std::vector<ColorValue> two = {MakeColor(0, 0, 0), MakeColor(4, 4, 4)};
    const ByteArray unhonoured =
        WriteGif(320, 200, two,
                 {{0, 0, 320, 200, std::vector<std::uint8_t>(64000, 1), {}},
                  {0, 0, 1, 1, {0}, {MakeColor(8, 8, 8), MakeColor(12, 12, 12)}}});
    const struct {
        std::map<std::string, ByteArray> files;
        const char* reason;
    } cases[] = {
        {{{"CELS3/BARREL.bmp", small}}, "a wall or sprite is 64 x 64 pixels, the image 32 x 32"},
        {{{"CELS3/BARREL.png", ReadAll(foreignPng)}},
         "1 colour is not in the palette; the first, 1 2 3, is at column 3, row 2"},
        {{{"PALETTE.gpl", ByteArray(offGrid.begin(), offGrid.end())}},
         "none the game's 6-bit palette shows"},
        {{{"FLI/ORBIT-01.png", orbitPicture}, {"FLI/ORBIT-03.png", orbitPicture}},
         "picture 2 of the numbered sequence is missing"},
        {{{"FLI/ORBIT.gif", unhonoured}}, "has colours of its own without the colour of a pixel"},
        {{{"CELS3/NOSUCH.bmp", small}}, "names no file of the game's CELS3 folder"},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const fs::path in = m_work / ("in" + std::to_string(i));
        m_work.Write("in" + std::to_string(i) + "/CELS3/TORCH.bmp", EditedTorch());
        for (const auto& [name, bytes] : cases[i].files) {
            m_work.Write("in" + std::to_string(i) + "/" + name, bytes);
        }
        const ProgramResult result = Import({"--into", Game().string(), in.string()});
        EXPECT_EQ(result.exitCode, 1) << "case " << i;
        EXPECT_NE(result.err.find(cases[i].reason), std::string::npos)
            << "case " << i << ": " << result.err;
        EXPECT_NE(result.err.find("nothing written"), std::string::npos) << result.err;
        EXPECT_EQ(TakeSnapshot(Game()), m_original) << "case " << i;
    }

    const fs::path in = m_work / "in1";
    const ProgramResult kept = Import({"--into", "--keep-going", Game().string(), in.string()});
    EXPECT_EQ(kept.exitCode, 1);
    EXPECT_NE(ReadAll(Game() / "CELS3/TORCH.CEL"), m_original.at("CELS3/TORCH.CEL"));
    EXPECT_EQ(ReadAll(Game() / "CELS3/BARREL.CEL"), m_original.at("CELS3/BARREL.CEL"));

    const ProgramResult mapped =
        Import({"--quantize", "--reserve", "200-255", Game().string(), in.string()});
    EXPECT_EQ(mapped.exitCode, 0) << mapped.err;
    EXPECT_NE(mapped.out.find("1 pixel given the nearest palette colour (largest error "),
              std::string::npos)
        << mapped.out;
    EXPECT_EQ(Import({"--reserve", "300", Game().string(), in.string()}).exitCode, 2);
    EXPECT_EQ(Import({Game().string(), (m_work / "missing.png").string()}).exitCode, 2);
}

// A dry run writes nothing; --into backs up each file before replacing it; --undo
// puts the last backup back, backing up what it replaces, so a second undo redoes.
TEST_F(ImportTest, BackupAndUndo)
{
    m_work.Write("in/CELS3/torch.BMP", EditedTorch());
    const std::string in = (m_work / "in").string();
    const ProgramResult dry = Import({Game().string(), in});
    EXPECT_EQ(dry.exitCode, 0) << dry.err;
    EXPECT_NE(
        dry.out.find(
            "CELS3/TORCH.CEL: 4,096 bytes now, 4,096 after; 1 pixel changed; 0 colours changed"),
        std::string::npos)
        << dry.out;
    EXPECT_EQ(TakeSnapshot(Game()), m_original);

    ASSERT_EQ(Import({"--into", Game().string(), in}).exitCode, 0);
    const ByteArray edited = ReadAll(Game() / "CELS3/TORCH.CEL");
    EXPECT_NE(edited, m_original.at("CELS3/TORCH.CEL"));
    Snapshot backups = TakeSnapshot(Game() / ".varek-backup");
    ASSERT_EQ(backups.size(), 1u);
    EXPECT_TRUE(backups.begin()->first.ends_with("/CELS3/TORCH.CEL"));
    EXPECT_EQ(backups.begin()->second, m_original.at("CELS3/TORCH.CEL"));

    ASSERT_EQ(Import({"--undo", Game().string()}).exitCode, 0);
    EXPECT_EQ(GameFiles(), m_original);
    ASSERT_EQ(Import({"--undo", Game().string()}).exitCode, 0);
    EXPECT_EQ(ReadAll(Game() / "CELS3/TORCH.CEL"), edited);
    EXPECT_EQ(TakeSnapshot(Game() / ".varek-backup").size(), 3u);
}

// SIGINT or SIGTERM during the writes: the file being written is finished, the
// rest keep their old bytes, no temporary file stays, and the status says so.
TEST_F(ImportTest, SignalDuringTheWritesLeavesEveryFileOldOrNew)
{
    const ByteArray wall = m_original.at("CELS3/TORCH.CEL");
    const ByteArray edited = EditedTorch();
    for (int i = 0; i < 1000; ++i) {
        const std::string name = "W" + std::to_string(i);
        m_work.Write("game/CELS3/" + name + ".CEL", wall);
        m_work.Write("in/CELS3/" + name + ".bmp", edited);
    }
    const Snapshot before = GameFiles();
    for (const int signal : {SIGINT, SIGTERM}) {
        const ProgramResult result = RunProgram(
            VAREK_IMPORT_PROGRAM, {"--into", Game().string(), (m_work / "in").string()}, false,
            [&](pid_t child, const fs::path& err) {
                // The backup is made and the writes have begun.
                const fs::path out = err.parent_path() / "out";
                for (ByteArray shown;
                     std::string(shown.begin(), shown.end()).find("Backup:") == std::string::npos;
                     shown = ReadAll(out)) {
                    std::this_thread::sleep_for(std::chrono::microseconds(100));
                }
                ::kill(child, signal);
            });
        EXPECT_EQ(result.exitCode, 128 + signal) << result.err;
        std::size_t written = 0;
        for (const auto& [name, bytes] : GameFiles()) {
            if (name.starts_with("CELS3/W")) {
                EXPECT_TRUE(bytes == wall || bytes != before.at(name)) << name;
                written += bytes != wall ? 1 : 0;
            } else {
                EXPECT_EQ(bytes, before.at(name)) << name;
            }
        }
        EXPECT_LT(written, 1000u);
        ASSERT_EQ(Import({"--undo", Game().string()}).exitCode, 0);
        EXPECT_EQ(GameFiles(), before);
    }
}

}  // namespace
}  // namespace varek::test
