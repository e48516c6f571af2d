#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "art/GameFolder.h"
#include "authoring/CelWriter.h"
#include "fli/FliWriter.h"
#include "authoring/SampleGame.h"
#include "cli/RunProgram.h"
#include "fli/FliDecoder.h"
#include "imaging/BmpImage.h"
#include "imaging/BmpReader.h"
#include "imaging/WebpImage.h"
#include "support/FliFixtures.h"
#include "support/FolderSnapshot.h"
#include "support/TempFolder.h"
#include "util/Error.h"

namespace varek::test {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> Names(const Snapshot& snapshot)
{
    std::vector<std::string> names;
    for (const auto& entry : snapshot) {
        names.push_back(entry.first);
    }
    return names;
}

std::string Stem(const std::string& name)
{
    return name.substr(0, name.rfind('.'));
}

std::size_t U16At(const ByteArray& bytes, std::size_t at)
{
    return bytes[at] | static_cast<std::size_t>(bytes[at + 1]) << 8;
}

// The files of folder whose names end in extension, ignoring case.
std::map<std::string, ByteArray> FilesOf(const fs::path& folder, const std::string& extension)
{
    std::map<std::string, ByteArray> files;
    for (const auto& entry : fs::directory_iterator(folder)) {
        std::string lower = entry.path().extension().string();
        std::transform(lower.begin(), lower.end(), lower.begin(), ::tolower);
        // Links lead to what is no art here: nowhere, round in a loop, system files.
        std::error_code ec;
        if (!entry.is_symlink(ec) && entry.is_regular_file(ec) && lower == extension) {
            files[entry.path().filename().string()] = ReadAll(entry.path());
        }
    }
    return files;
}

// What "Save to BMP" writes for every file of a game folder, built here from the
// game's bytes, by the path the export should give it. Files too short to show
// have no image; an animation has the frames decoded before its fault.
Snapshot ExpectedExport(const fs::path& game, bool rotate)
{
    Snapshot images;
    const Palette wallColors = DecodePaletteBlock(ReadAll(game / "PALETTE.PAL"), 0).palette;
    for (const auto& [name, bytes] : FilesOf(game / "CELS3", ".cel")) {
        if (bytes.size() >= 4096) {
            IndexedImage image{64, 64, ByteArray(4096)};
            for (int r = 0; r < 64; ++r) {
                for (int c = 0; c < 64; ++c) {
                    image.pixels[rotate ? c * 64 + 63 - r : r * 64 + c] = bytes[r * 64 + c];
                }
            }
            images["CELS3/" + Stem(name) + ".bmp"] = BuildBmpImage(image, wallColors);
        }
    }
    for (const auto& [name, bytes] : FilesOf(game / "STILLCEL", ".cel")) {
        const std::size_t width = U16At(bytes, 2);
        const std::size_t height = U16At(bytes, 4);
        if (bytes.size() >= 800 + width * height) {
            const ByteArray pixels(bytes.begin() + 800, bytes.begin() + 800 + width * height);
            images["STILLCEL/" + Stem(name) + ".bmp"] =
                BuildBmpImage(static_cast<std::int32_t>(width), static_cast<std::int32_t>(height),
                              pixels, DecodePaletteBlock(bytes, 32).palette);
        }
    }
    for (const auto& [name, bytes] : FilesOf(game / "FLI", ".fli")) {
        FrameStore store;
        DecodeFLIFile(bytes, store);
        // Numbers as wide as the count of pictures, at least two digits.
        const int width = std::max(2, static_cast<int>(std::to_string(store.FrameCount()).size()));
        for (std::size_t frame = 1; frame <= store.FrameCount(); ++frame) {
            char suffix[32];
            std::snprintf(suffix, sizeof suffix, "-%0*zu.bmp", width, frame);
            images["FLI/" + Stem(name) + suffix] =
                BuildBmpImage(320, 200, store[frame].Pixels, store[frame].Colors);
        }
    }
    return images;
}

// Every image written equals the one expected, and nothing else was written.
void ExpectExported(const fs::path& out, const Snapshot& expected)
{
    const Snapshot written = TakeSnapshot(out);
    ASSERT_EQ(Names(written), Names(expected));
    for (const auto& [name, bytes] : expected) {
        EXPECT_TRUE(written.at(name) == bytes) << name;
    }
}

ProgramResult Export(const std::vector<std::string>& args)
{
    return RunProgram(VAREK_EXPORT_PROGRAM, args);
}

// Runs the exporter with both output streams going into a pipe whose reader has
// gone, as `varek-export ... | head -1` leaves them once head has its line, and
// SIGPIPE as the shell leaves it. The exit status, or -1 when a signal ended it.
int ExportIntoClosedPipe(const std::vector<std::string>& args)
{
    int ends[2];
    if (::pipe(ends) != 0) {
        return -2;
    }
    ::close(ends[0]);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, ends[1], 1);
    posix_spawn_file_actions_adddup2(&actions, ends[1], 2);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
    std::vector<std::string> words{VAREK_EXPORT_PROGRAM};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    pid_t child = 0;
    int status = 0;
    const bool started =
        posix_spawn(&child, VAREK_EXPORT_PROGRAM, &actions, &attributes, argv.data(), environ) == 0;
    ::close(ends[1]);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (!started || ::waitpid(child, &status, 0) != child) {
        return -2;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

constexpr const char* kTail = "\n\nBe sure this program is in the same folder as Vorlund.\n";

class ExportTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_sample = new TempFolder;
        WriteSampleGameFolder(s_sample->path());
    }
    static void TearDownTestSuite()
    {
        delete s_sample;
        s_sample = nullptr;
    }

    static std::string Sample() { return s_sample->path().string(); }

    // The sample's files as the export names them, in the order it takes them.
    static std::vector<std::string> SampleSources()
    {
        const GameFolder game = GameFolder::Open(Sample());
        std::vector<std::string> sources;
        for (const ArtCategory category : kAllCategories) {
            for (const std::string& name : game.ReadFileList(category)) {
                sources.push_back(std::string(InfoOf(category).subFolder) + "/" + name);
            }
        }
        return sources;
    }

    // "[position/total] " for source in the sample's export.
    static std::string Counter(const std::string& source)
    {
        const auto sources = SampleSources();
        const auto at = std::find(sources.begin(), sources.end(), source) - sources.begin();
        return "[" + std::to_string(at + 1) + "/" + std::to_string(sources.size()) + "] ";
    }
    std::string Out() const { return (m_work / "out").string(); }

    // A copy of the sample folder that a test may change.
    fs::path CopyOfSample(const std::string& name = "game") const
    {
        fs::copy(s_sample->path(), m_work / name, fs::copy_options::recursive);
        return m_work / name;
    }

    static inline TempFolder* s_sample = nullptr;
    TempFolder m_work;
};

TEST_F(ExportTest, WritesEveryImageAsTheWindowSavesItAndLeavesTheGameAlone)
{
    const Snapshot gameBefore = TakeSnapshot(Sample(), true);
    const ProgramResult result = Export({Sample(), Out()});
    ASSERT_EQ(result.exitCode, 0) << result.err;

    const Snapshot expected = ExpectedExport(Sample(), true);
    ExpectExported(Out(), expected);
    EXPECT_TRUE(fs::exists(fs::path(Out()) / "FLI" / "INTRO-09.bmp"));
    EXPECT_TRUE(fs::exists(fs::path(Out()) / "STILLCEL" / "TITLE.bmp"));

    const auto sources = SampleSources();
    const std::string summary = std::to_string(sources.size()) + " files read, " +
                                std::to_string(expected.size()) + " images written, 0 failures\n";
    EXPECT_EQ(result.out, summary);
    // Not a terminal: one line a source file.
    EXPECT_EQ(static_cast<std::size_t>(std::count(result.err.begin(), result.err.end(), '\n')),
              sources.size());
    EXPECT_NE(result.err.find(Counter(sources.front()) + sources.front() + ": 1 image\n"),
              std::string::npos);
    const auto intro = std::count_if(expected.begin(), expected.end(), [](const auto& entry) {
        return entry.first.starts_with("FLI/INTRO-");
    });
    EXPECT_NE(result.err.find(Counter("FLI/INTRO.FLI") + "FLI/INTRO.FLI: " + std::to_string(intro) +
                              " images\n"),
              std::string::npos);
    EXPECT_EQ(TakeSnapshot(Sample(), true), gameBefore);

    // Again, over damaged images and with a terminal: the images are replaced in
    // place, no temporary file is left, and the terminal gets one line kept up to date.
    m_work.Write("out/CELS3/TORCH.bmp", ByteArray(70000, 9));
    m_work.Write("out/FLI/FIRE-03.bmp", ByteArray(10, 9));
    const ProgramResult again = RunProgram(VAREK_EXPORT_PROGRAM, {Sample(), Out()}, true);
    ASSERT_EQ(again.exitCode, 0) << again.err;
    ExpectExported(Out(), expected);
    EXPECT_EQ(again.out, summary);
    const auto fire =
        std::to_string(std::count_if(expected.begin(), expected.end(), [](const auto& entry) {
            return entry.first.starts_with("FLI/FIRE-");
        }));
    EXPECT_TRUE(again.err.starts_with("\r" + Counter(sources.front()) + sources.front() + "\x1b[K"))
        << again.err;
    EXPECT_NE(again.err.find("\r" + Counter("FLI/FIRE.FLI") + "FLI/FIRE.FLI frame " + fire + "/" +
                             fire + "\x1b[K"),
              std::string::npos);
    EXPECT_TRUE(again.err.ends_with("\r\x1b[K")) << again.err;
    EXPECT_EQ(again.err.find('\n'), std::string::npos);
}

// More pictures than the window's store holds, and more than a signed count reads:
// the export holds only the frames in flight, so the longest animation a header
// allows is written whole.
TEST_F(ExportTest, TheLongestAnimationIsExportedWhole)
{
    PaletteBlock distinct{};
    for (std::size_t i = 0; i < 256; ++i) {
        distinct[i * 3] = static_cast<std::uint8_t>(i & 63);
        distinct[i * 3 + 1] = static_cast<std::uint8_t>(i >> 6);
    }
    std::vector<FliFrameData> frames(65535);
    for (std::size_t i = 0; i < frames.size(); ++i) {
        frames[i].chunks.push_back(Chunk(FLI_LC, LcRow(0, static_cast<std::uint8_t>(i % 250 + 1))));
    }
    frames[0].chunks.insert(frames[0].chunks.begin(), Chunk(FLI_COLOR, EncodeColorChunk(distinct)));
    const fs::path game = CopyOfSample();
    fs::remove_all(game / "FLI");
    m_work.Write("game/FLI/LONG.FLI", WriteFLIFile(frames));

    const ProgramResult result =
        Export({"-q", "--format", "gif", "--category", "animations", game.string(), Out()});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    QImageReader reader(QString::fromStdString((fs::path(Out()) / "FLI" / "LONG.gif").string()));
    EXPECT_EQ(reader.imageCount(), 65535);
}

TEST_F(ExportTest, TimelineWritesAPictureForEveryFileFrame)
{
    std::vector<AnimationFrame> pictures(2);
    pictures[0].pixels.fill(3);
    pictures[1].pixels.fill(4);
    std::vector<FliFrameData> frames = EncodeAnimation(pictures);
    // Two frames that hold no picture: the first picture stands for file frames 1 to 3.
    frames.insert(frames.begin() + 1, 2, FliFrameData{});
    const fs::path game = CopyOfSample();
    fs::remove_all(game / "FLI");
    m_work.Write("game/FLI/T.FLI", WriteFLIFile(frames));

    // Without --timeline the pictures alone are written, as every other test shows.
    const Snapshot expected = ExpectedExport(game, true);
    ASSERT_EQ(
        Export({"-q", "--timeline", "--category", "animations", game.string(), Out()}).exitCode, 0);
    const Snapshot byFrame = TakeSnapshot(fs::path(Out()) / "FLI");
    EXPECT_EQ(Names(byFrame),
              (std::vector<std::string>{"T-01.bmp", "T-02.bmp", "T-03.bmp", "T-04.bmp"}));
    for (const char* name : {"T-01.bmp", "T-02.bmp", "T-03.bmp"}) {
        EXPECT_TRUE(byFrame.at(name) == expected.at("FLI/T-01.bmp")) << name;
    }
    EXPECT_TRUE(byFrame.at("T-04.bmp") == expected.at("FLI/T-02.bmp"));
}

// Qt's GIF reader, independent of the giflib writer, plays every animation back
// exactly: each picture in its own colours, for as long as its file frames last.
TEST_F(ExportTest, GifAnimationsPlayBackEveryPictureInItsOwnColours)
{
    const ProgramResult result =
        Export({"-q", "--format", "gif", "--category", "animations", Sample(), Out()});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const GameFolder game = GameFolder::Open(Sample());
    for (const std::string& name : game.ReadFileList(ArtCategory::Animated)) {
        FrameStore store;
        const Animation animation = game.LoadAnimation(name, store);
        const std::string gif = (fs::path(Out()) / "FLI" / (Stem(name) + ".gif")).string();
        QImageReader reader(QString::fromStdString(gif));
        ASSERT_TRUE(reader.canRead()) << gif;
        std::int64_t shownMs = 0;
        QImage frame;
        std::size_t picture = 1;
        while (picture <= store.FrameCount()) {
            ASSERT_TRUE(reader.read(&frame)) << gif << " picture " << picture;
            const Picture expected = PictureOf(store[picture]);
            auto colourAt = [&](int x, int y) {
                const std::uint8_t index =
                    expected.image.pixels[static_cast<std::size_t>(y * 320 + x)];
                const ColorValue c = expected.palette[index];
                return qRgb(RedOf(c), GreenOf(c), BlueOf(c));
            };
            for (int y = 0; y < 200; y += 7) {
                for (int x = 0; x < 320; x += 5) {
                    ASSERT_EQ(frame.pixel(x, y) & 0xFFFFFF, colourAt(x, y) & 0xFFFFFF)
                        << gif << " picture " << picture << " at " << x << "," << y;
                }
            }
            shownMs += reader.nextImageDelay();
            // Pictures that look the same as this one were merged into it.
            ++picture;
            while (picture <= store.FrameCount() &&
                   PictureOf(store[picture]).image == expected.image &&
                   store[picture].Colors == expected.palette) {
                ++picture;
            }
        }
        const std::int64_t ticks = animation.header.frameDuration / kFliTick;
        std::int64_t frames = 0;
        for (const PictureFrames& p : animation.pictures) {
            frames += p.frameCount;
        }
        EXPECT_NEAR(static_cast<double>(shownMs), frames * ticks * 1000.0 / 70, 10.0) << gif;
    }
}

// At speed 1 pictures last 1.43 hundredths: those a GIF frame would show for 1
// give way to the next, the file's time stays exact and the summary counts them.
TEST_F(ExportTest, GifMergesPicturesTooShortForBrowsersAndSaysSo)
{
    std::vector<AnimationFrame> pictures(7);
    for (std::size_t i = 0; i < pictures.size(); ++i) {
        pictures[i].pixels.fill(static_cast<std::uint8_t>(i + 1));
        pictures[i].colors.fill(static_cast<std::uint8_t>(i * 9));  // grey i * 36
    }
    const fs::path game = CopyOfSample();
    fs::remove_all(game / "FLI");
    m_work.Write("game/FLI/FAST.FLI", WriteAnimation(pictures, 1));

    const ProgramResult result =
        Export({"-q", "--format", "gif", "--category", "animations", game.string(), Out()});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.out.find(", 4 short GIF pictures merged"), std::string::npos) << result.out;
    EXPECT_NE(result.err.find("FLI/FAST.FLI: 4 pictures shorter than 2 hundredths"),
              std::string::npos)
        << result.err;
    QImageReader reader(QString::fromStdString((fs::path(Out()) / "FLI" / "FAST.gif").string()));
    std::vector<int> delays;
    QImage frame;
    while (reader.read(&frame)) {
        delays.push_back(reader.nextImageDelay());
    }
    // Pictures 2, 4 and 7 end at 3, 6 and 10 hundredths: 100 ms, 7/70 s.
    EXPECT_EQ(delays, (std::vector<int>{30, 30, 40}));
}

// APNG and WebP: one looping file an animation, 8-bit indexed APNG when the
// colours never change; walls and stills as single images.
TEST_F(ExportTest, ApngAndWebpWriteOneFileAnAnimation)
{
    std::vector<AnimationFrame> pictures(3);
    for (std::size_t i = 0; i < pictures.size(); ++i) {
        pictures[i].pixels.fill(static_cast<std::uint8_t>(i + 1));
        for (std::size_t c = 0; c < pictures[i].colors.size(); ++c) {
            pictures[i].colors[c] = static_cast<std::uint8_t>(c % 64);
        }
    }
    const fs::path game = CopyOfSample();
    m_work.Write("game/FLI/SAME.FLI", WriteAnimation(pictures));
    const auto has = [](const ByteArray& bytes, const std::string& text) {
        return std::search(bytes.begin(), bytes.end(), text.begin(), text.end()) != bytes.end();
    };
    for (const std::string format : {"apng", "webp"}) {
        if (format == "webp" && !WebpSupported()) {
            continue;
        }
        const fs::path out = fs::path(Out()) / format;
        const ProgramResult result =
            Export({"-q", "--format", format, game.string(), out.string()});
        ASSERT_EQ(result.exitCode, 0) << result.err;
        const std::string extension = format == "apng" ? ".png" : ".webp";
        const ByteArray same = ReadAll(out / "FLI" / ("SAME" + extension));
        const ByteArray intro = ReadAll(out / "FLI" / ("INTRO" + extension));
        const Snapshot walls = TakeSnapshot(out / "CELS3");
        ASSERT_FALSE(walls.empty());
        EXPECT_EQ(walls.begin()->first.substr(walls.begin()->first.rfind('.')), extension);
        const ByteArray& wall = walls.begin()->second;
        if (format == "apng") {
            ASSERT_GT(same.size(), 26u);
            EXPECT_EQ(same[25], 3) << "indexed";
            EXPECT_EQ(intro[25], 6) << "RGBA: its colours change";
            EXPECT_FALSE(has(wall, "acTL"));
            // The frame count, put in place once known, long after it went to the file.
            for (const ByteArray* file : {&same, &intro}) {
                const std::string control = "acTL";
                const auto at =
                    std::search(file->begin(), file->end(), control.begin(), control.end());
                ASSERT_NE(at, file->end());
                const std::size_t count = std::size_t{at[4]} << 24 | std::size_t{at[5]} << 16 |
                                          std::size_t{at[6]} << 8 | at[7];
                std::size_t frames = 0;
                const std::string frame = "fcTL";
                for (auto f = file->begin();
                     (f = std::search(f, file->end(), frame.begin(), frame.end())) != file->end();
                     ++f) {
                    ++frames;
                }
                EXPECT_EQ(count, frames);
                EXPECT_GT(frames, 2u);
            }
            EXPECT_GT(intro.size(), std::size_t{1} << 16);
        } else {
            EXPECT_TRUE(has(same, "ANIM") && has(intro, "ANIM"));
            EXPECT_TRUE(has(wall, "WEBPVP8L"));
        }
    }
}

TEST_F(ExportTest, NoRotateAndCategoriesLimitWhatIsWritten)
{
    ProgramResult result =
        Export({"--quiet", "--no-rotate", "--category", "walls", Sample(), Out()});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.err, "");
    Snapshot walls = ExpectedExport(Sample(), false);
    std::erase_if(walls, [](const auto& entry) { return !entry.first.starts_with("CELS3/"); });
    ExpectExported(Out(), walls);

    // Frame numbers as wide as the count of pictures sort in every listing.
    const fs::path game = CopyOfSample();
    m_work.Write("game/FLI/LONG.FLI", MakeSampleAnimation(100));
    const fs::path others = m_work / "others";
    result = Export(
        {"-q", "--category=stills", "--category", "animations", game.string(), others.string()});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    Snapshot rest = ExpectedExport(game, true);
    std::erase_if(rest, [](const auto& entry) { return entry.first.starts_with("CELS3/"); });
    ExpectExported(others, rest);
    EXPECT_TRUE(fs::exists(others / "FLI" / "LONG-001.bmp"));
    EXPECT_TRUE(fs::exists(others / "FLI" / "LONG-100.bmp"));
}

// One file on its own is written as the folder's export writes it, the same
// names and bytes under the same options, wherever the output folder lies; a
// wall, which needs its game's palette, is refused.
TEST_F(ExportTest, OneFileIsExportedAsTheFolderExportWritesIt)
{
    const fs::path game = CopyOfSample();
    const GameFolder folder = GameFolder::Open(game);
    const std::string animation = folder.ReadFileList(ArtCategory::Animated).front();
    const std::string still = folder.ReadFileList(ArtCategory::OtherArt).front();
    const std::string all = (m_work / "all").string();
    ProgramResult result = Export({"-q", "--format", "png", "--timeline", game.string(), all});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    Snapshot expected = TakeSnapshot(all);
    const std::string frames = "FLI/" + fs::path(animation).stem().string() + "-";
    const std::string picture = "STILLCEL/" + fs::path(still).stem().string() + ".png";
    std::erase_if(expected, [&](const auto& entry) {
        return !entry.first.starts_with(frames) && entry.first != picture;
    });
    ASSERT_GT(expected.size(), 2U);

    // The output folder may lie in the file's folder.
    const fs::path out = game / "FLI" / "out";
    for (const fs::path& file : {folder.FilePath(ArtCategory::Animated, animation),
                                 folder.FilePath(ArtCategory::OtherArt, still)}) {
        result = Export({"-q", "--format", "png", "--timeline", file.string(), out.string()});
        ASSERT_EQ(result.exitCode, 0) << file << result.err;
        EXPECT_TRUE(result.out.starts_with("1 file read, ")) << result.out;
    }
    EXPECT_EQ(TakeSnapshot(out), expected);

    const std::string wall = folder.ReadFileList(ArtCategory::WallsSprites).front();
    result = Export({folder.FilePath(ArtCategory::WallsSprites, wall).string(), Out()});
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_NE(result.err.find("open its game folder"), std::string::npos) << result.err;
    // Images straight into the file's own folder are refused.
    result = Export({folder.FilePath(ArtCategory::Animated, animation).string(), game.string()});
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_NE(result.err.find("straight into the folder of the file"), std::string::npos);
    EXPECT_FALSE(fs::exists(Out()));
}

TEST_F(ExportTest, PngFilesHoldTheSameIndicesAndColours)
{
    const ProgramResult result = Export({"-q", "--format", "png", Sample(), Out()});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const Snapshot expected = ExpectedExport(Sample(), true);
    EXPECT_EQ(TakeSnapshot(Out()).size(), expected.size());
    for (const auto& [name, bmp] : expected) {
        const std::string png = Stem(name) + ".png";
        QImage image;
        ASSERT_TRUE(image.load(QString::fromStdString((fs::path(Out()) / png).string()))) << png;
        ASSERT_EQ(image.format(), QImage::Format_Indexed8) << png;
        ASSERT_EQ(image.colorCount(), 256) << png;
        for (int i = 0; i < 256; ++i) {
            const std::uint8_t* entry = bmp.data() + 54 + 4 * i;  // blue, green, red, 0
            ASSERT_EQ(image.color(i), qRgb(entry[2], entry[1], entry[0])) << png << " colour " << i;
        }
        const IndexedImage pixels = ReadBmpPixels(bmp);
        ASSERT_EQ(image.width(), pixels.width);
        ASSERT_EQ(image.height(), pixels.height);
        for (int y = 0; y < pixels.height; ++y) {
            for (int x = 0; x < pixels.width; ++x) {
                ASSERT_EQ(image.pixelIndex(x, y), pixels.pixels[y * pixels.width + x])
                    << png << " at " << x << ", " << y;
            }
        }
    }
}

// Every format enlarges every picture, walls, stills and animation frames alike,
// by whole pixels: pixel (x, y) of an image at 3x is pixel (x / 3, y / 3) of the
// picture at 1x, in its colours. A GIF animation is checked by its first picture.
TEST_F(ExportTest, ScaleEnlargesEveryPictureByWholePixels)
{
    const fs::path game = CopyOfSample();
    fs::remove_all(game / "FLI");
    m_work.Write("game/FLI/A.FLI", MakeSampleAnimation(3));
    const Snapshot expected = ExpectedExport(game, true);
    constexpr int kScale = 3;
    for (const std::string format : {"bmp", "png", "gif"}) {
        SCOPED_TRACE(format);
        const fs::path out = m_work / format;
        const ProgramResult result = Export({"-q", "--scale", std::to_string(kScale), "--format",
                                             format, game.string(), out.string()});
        ASSERT_EQ(result.exitCode, 0) << result.err;
        std::size_t checked = 0;
        for (const auto& [name, bmp] : expected) {
            std::string file = Stem(name) + "." + format;
            if (format == "gif" && name.starts_with("FLI/")) {
                if (!name.ends_with("-01.bmp")) {
                    continue;
                }
                file = "FLI/A.gif";
            }
            QImage image;
            ASSERT_TRUE(image.load(QString::fromStdString((out / file).string()))) << file;
            const IndexedImage pixels = ReadBmpPixels(bmp);
            ASSERT_EQ(image.width(), pixels.width * kScale) << file;
            ASSERT_EQ(image.height(), pixels.height * kScale) << file;
            for (int y = 0; y < image.height(); ++y) {
                for (int x = 0; x < image.width(); ++x) {
                    const std::uint8_t* entry =
                        bmp.data() + 54 +
                        4 * pixels.pixels[(y / kScale) * pixels.width + x / kScale];
                    ASSERT_EQ(image.pixel(x, y) & 0xFFFFFF,
                              qRgb(entry[2], entry[1], entry[0]) & 0xFFFFFF)
                        << file << " at " << x << ", " << y;
                }
            }
            ++checked;
        }
        EXPECT_EQ(checked, format == "gif" ? expected.size() - 2 : expected.size());
    }

    // A picture past 16384 x 16384 pixels enlarged is one failure, not gigabytes
    // of memory; the rest is written.
    m_work.Write("game/STILLCEL/HUGE.CEL",
                 EncodeCelImage({4096, 4096, ByteArray(4096 * 4096, 5)}, PaletteBlock{}));
    const fs::path out = m_work / "huge";
    const ProgramResult result = Export({"-q", "--scale", "5", "--category", "stills", "--format",
                                         "png", game.string(), out.string()});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("STILLCEL/HUGE.CEL: Too large: a picture of 4096 x 4096 pixels is "
                              "too large to enlarge 5 times"),
              std::string::npos)
        << result.err;
    EXPECT_FALSE(fs::exists(out / "STILLCEL" / "HUGE.png"));
    EXPECT_TRUE(fs::exists(out / "STILLCEL" / "TITLE.png"));
}

// Sprite sheets, read back through Qt's PNG and JSON readers: each frame the JSON
// names holds its picture, enlarged, in its colours; an animation's durations add
// up to its own length to the millisecond; a sheet is indexed exactly when its
// pictures share their colours, as the JSON says.
TEST_F(ExportTest, SheetsHoldEveryPictureWhereTheirJsonSaysForAsLongAsItSays)
{
    const fs::path game = CopyOfSample();
    fs::remove(GameFolder::Open(game).FilePath(ArtCategory::Animated, "FIRE.FLI"));
    const GameFolder folder = GameFolder::Open(game);
    constexpr int kScale = 2;
    const ProgramResult result =
        Export({"-q", "--sheet", "--sheet-columns", "3", "--scale", "2", game.string(), Out()});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "16 files read, 4 images written, 0 failures\n");

    // Each sheet's pictures in order with their names and durations.
    struct Expected {
        std::string name;
        Picture picture;
        std::optional<double> milliseconds;
    };
    std::map<std::string, std::vector<Expected>> sheets;
    const Palette wallColors = folder.LoadWallPalette().palette;
    for (const std::string& name : folder.ReadFileList(ArtCategory::WallsSprites)) {
        sheets["CELS3/walls"].push_back(
            {Stem(name) + ".png", folder.LoadWall(name, wallColors, true), std::nullopt});
    }
    for (const std::string& name : folder.ReadFileList(ArtCategory::OtherArt)) {
        sheets["STILLCEL/stills"].push_back(
            {Stem(name) + ".png", folder.LoadStill(name), std::nullopt});
    }
    for (const std::string& name : folder.ReadFileList(ArtCategory::Animated)) {
        FrameStore store;
        const Animation animation = folder.LoadAnimation(name, store);
        for (std::size_t i = 1; i <= store.FrameCount(); ++i) {
            char number[8];
            std::snprintf(number, sizeof number, "-%02zu.png", i);
            const FrameDuration duration = animation.pictures[i - 1].duration;
            sheets["FLI/" + Stem(name)].push_back(
                {Stem(name) + number, PictureOf(store[i]),
                 std::chrono::duration<double, std::milli>(duration).count()});
        }
    }
    ASSERT_EQ(sheets.size(), 4u);
    for (const auto& [sheet, pictures] : sheets) {
        SCOPED_TRACE(sheet);
        const fs::path base = fs::path(Out()) / sheet;
        QFile jsonFile(QString::fromStdString(base.string() + ".json"));
        ASSERT_TRUE(jsonFile.open(QIODevice::ReadOnly));
        QJsonParseError error;
        const QJsonObject json = QJsonDocument::fromJson(jsonFile.readAll(), &error).object();
        ASSERT_EQ(error.error, QJsonParseError::NoError);
        QImage image;
        ASSERT_TRUE(image.load(QString::fromStdString(base.string() + ".png")));
        const QJsonObject meta = json["meta"].toObject();
        EXPECT_EQ(meta["image"].toString().toStdString(), base.filename().string() + ".png");
        EXPECT_EQ(meta["size"].toObject(),
                  (QJsonObject{{"w", image.width()}, {"h", image.height()}}));
        EXPECT_EQ(meta["scale"].toString(), "2");
        bool shared = true;
        for (const Expected& expected : pictures) {
            shared = shared && expected.picture.palette == pictures.front().picture.palette;
        }
        EXPECT_EQ(image.format() == QImage::Format_Indexed8, shared);
        EXPECT_EQ(meta["format"].toString(), shared ? "I8" : "RGB888");

        const QJsonArray frames = json["frames"].toArray();
        ASSERT_EQ(frames.size(), static_cast<qsizetype>(pictures.size()));
        double exactMs = 0;
        std::int64_t totalMs = 0;
        for (std::size_t i = 0; i < pictures.size(); ++i) {
            const QJsonObject frame = frames[static_cast<qsizetype>(i)].toObject();
            const Expected& expected = pictures[i];
            EXPECT_EQ(frame["filename"].toString().toStdString(), expected.name);
            const IndexedImage& pixels = expected.picture.image;
            const QJsonObject place = frame["frame"].toObject();
            const int left = place["x"].toInt();
            const int top = place["y"].toInt();
            ASSERT_EQ(place["w"].toInt(), pixels.width * kScale) << expected.name;
            ASSERT_EQ(place["h"].toInt(), pixels.height * kScale) << expected.name;
            // Three columns of the widest picture at most; rows start at the left.
            EXPECT_EQ(left == 0, i % 3 == 0) << expected.name;
            for (int y = 0; y < pixels.height; ++y) {
                for (int x = 0; x < pixels.width; ++x) {
                    const ColorValue c =
                        expected.picture.palette[pixels.pixels[y * pixels.width + x]];
                    // Both corners of the enlarged pixel's square.
                    for (const int d : {0, kScale - 1}) {
                        ASSERT_EQ(
                            image.pixel(left + x * kScale + d, top + y * kScale + d) & 0xFFFFFF,
                            qRgb(RedOf(c), GreenOf(c), BlueOf(c)) & 0xFFFFFF)
                            << expected.name << " at " << x << ", " << y;
                    }
                }
            }
            ASSERT_EQ(frame.contains("duration"), expected.milliseconds.has_value());
            if (expected.milliseconds) {
                exactMs += *expected.milliseconds;
                totalMs += frame["duration"].toInteger();
                EXPECT_LE(std::abs(static_cast<double>(totalMs) - exactMs), 0.5) << expected.name;
            }
        }
    }
}

// The game folder's check, whose messages the core's tests cover, is the one the
// window makes at start-up, asked only for the categories chosen; an output
// folder in the game's folders is refused. Nothing is written either way.
TEST_F(ExportTest, RefusesAnUnusableGameOrOutputFolder)
{
    const fs::path game = CopyOfSample();
    fs::remove_all(game / "FLI");
    fs::remove_all(game / "STILLCEL");
    const Snapshot before = TakeSnapshot(game, true);
    for (const char* category : {"", "stills"}) {
        std::vector<std::string> args{game.string(), Out()};
        if (*category != '\0') {
            args.insert(args.begin(), {"--category", category});
        }
        const ProgramResult result = Export(args);
        EXPECT_EQ(result.exitCode, 2) << category;
        EXPECT_EQ(result.err, "Could not find path: STILLCEL" + std::string(kTail));
        EXPECT_EQ(result.out, "");
    }
    EXPECT_FALSE(fs::exists(Out()));
    const ProgramResult walls = Export({"-q", "--category", "walls", game.string(), Out()});
    EXPECT_EQ(walls.exitCode, 0) << walls.err;

    // A file where a category folder belongs is no empty category: a failure that
    // names it, and with nothing else chosen nothing to export.
    fs::rename(game / "CELS3", m_work / "cels3");
    m_work.Write("game/CELS3", {1});
    const std::string notAFolder =
        "CELS3: Cannot read \"" + (game / "CELS3").string() + "\": it is not a folder\n";
    const ProgramResult file = Export({"-q", "--category", "walls", game.string(), Out() + "2"});
    EXPECT_EQ(file.exitCode, 2);
    EXPECT_EQ(file.err, "varek-export: " + notAFolder);
    EXPECT_FALSE(fs::exists(Out() + "2"));
    fs::create_directory(game / "FLI");
    const ProgramResult withOther = Export(
        {"-q", "--category", "walls", "--category", "animations", game.string(), Out() + "2"});
    EXPECT_EQ(withOther.exitCode, 1);
    EXPECT_EQ(withOther.err, notAFolder);
    EXPECT_EQ(withOther.out, "0 files read, 0 images written, 1 failure\n");
    fs::remove(game / "CELS3");
    fs::remove(game / "FLI");
    fs::rename(m_work / "cels3", game / "CELS3");

    const std::string inside = (game / "cels3" / "new").string();
    const ProgramResult refused = Export({"--category", "walls", game.string(), inside});
    EXPECT_EQ(refused.exitCode, 2);
    EXPECT_EQ(refused.err, "varek-export: the output folder \"" + inside +
                               "\" lies inside the game's CELS3 folder; the game's files are never "
                               "written to\n");
    EXPECT_EQ(refused.out, "");
    EXPECT_EQ(TakeSnapshot(game, true), before);
}

// Three frames, the second with a line-compression chunk that claims 100 pixels
// and holds 3: the decoder reports it, keeps the record and goes on.
ByteArray AnimationWithFaultyLineCompression()
{
    std::vector<AnimationFrame> pictures(3);
    for (std::size_t i = 0; i < pictures.size(); ++i) {
        pictures[i].pixels.fill(static_cast<std::uint8_t>(40 + i));
    }
    std::vector<FliFrameData> frames = EncodeAnimation(pictures);
    frames[1].chunks = {{FLI_LC, {0, 0, 1, 0, 1, 5, 100, 7, 8, 9}}};
    return WriteFLIFile(frames);
}

TEST_F(ExportTest, BadFilesAreReportedAndEverythingElseIsWritten)
{
    const fs::path game = CopyOfSample();
    const ByteArray map = ReadAll(game / "STILLCEL" / "MAP.CEL");
    const ByteArray fire = ReadAll(game / "FLI" / "FIRE.FLI");
    m_work.Write("game/CELS3/SHORT.CEL", ByteArray(100, 7));
    m_work.Write("game/CELS3/EMPTY.CEL", {});
    m_work.Write("game/CELS3/brick01.CEL", ReadAll(game / "CELS3" / "TORCH.CEL"));
    m_work.Write("game/CELS3/NOTES.TXT", ByteArray(5000, 1));
    m_work.Write("game/STILLCEL/CUT.CEL", ByteArray(map.begin(), map.begin() + 2000));
    m_work.Write("game/FLI/CUT.FLI", ByteArray(fire.begin(), fire.begin() + fire.size() / 2));
    m_work.Write("game/FLI/FAULTY.FLI", AnimationWithFaultyLineCompression());
    // 25 faults in one frame: ten are told, the rest counted.
    std::vector<FliFrameData> many = EncodeAnimation(std::vector<AnimationFrame>(2));
    many[1].chunks.assign(25, {FLI_LC, {}});
    m_work.Write("game/FLI/MANY.FLI", WriteFLIFile(many));
    // Files that give no picture.
    ByteArray none = fire;
    none[6] = none[7] = 0;  // a frame count of 0
    m_work.Write("game/FLI/NONE.FLI", none);
    m_work.Write("game/FLI/ODD.FLI", WriteFLIFile(std::vector<FliFrameData>(
                                         2, FliFrameData{{{14, ByteArray(8, 1)}, {99, {}}}})));
    // The bytes decide the format, not the name: an FLC (magic number 0xAF12)
    // named .FLI is exported as one.
    ByteArray newer = fire;
    newer[4] = 0x12;
    m_work.Write("game/FLI/NEWER.FLI", newer);
    m_work.Write("game/FLI/NOISE.FLI", ByteArray(fire.rbegin(), fire.rend()));
    // Names come from the game folder: what they hold must not act on the terminal.
    m_work.Write("game/CELS3/E\x1b]0;owned\x07\x1b[2J\xc2\x9b.CEL", ByteArray(10, 1));
    // Nor may bytes that are no UTF-8, or that turn the text's direction round.
    m_work.Write("game/CELS3/F\xff\xe2\x80\xae.CEL", ByteArray(10, 1));
    // An animation where a still picture belongs.
    m_work.Write("game/STILLCEL/ANIM.CEL", fire);
    // Named like art, and no ordinary file.
    const fs::path walls = game / "CELS3";
    ASSERT_EQ(::mkfifo((walls / "FIFO.CEL").c_str(), 0600), 0);
    fs::create_directory(walls / "FOLDER.CEL");
    fs::create_symlink("nowhere", walls / "BROKEN.CEL");
    fs::create_symlink("LOOP.CEL", walls / "LOOP.CEL");
    fs::create_symlink("/dev/null", walls / "DEVICE.CEL");
    fs::create_symlink("/proc/self/mem", walls / "MEM.CEL");

    const ProgramResult result = Export({"-q", game.string(), Out()});
    EXPECT_EQ(result.exitCode, 1);
    Snapshot expected = ExpectedExport(game, true);
    // The name BRICK01.bmp belongs to BRICK01.CEL, listed first.
    expected.erase("CELS3/brick01.bmp");
    expected.erase("STILLCEL/ANIM.bmp");
    EXPECT_TRUE(expected.contains("FLI/NEWER-01.bmp"));
    ExpectExported(Out(), expected);
    EXPECT_TRUE(expected.contains("FLI/CUT-01.bmp"));
    EXPECT_TRUE(expected.contains("FLI/FAULTY-03.bmp"));

    for (const char* problem : {
             "CELS3/SHORT.CEL: Truncated: the file holds 100 bytes, a wall or sprite needs 4096\n",
             "CELS3/EMPTY.CEL: Missing: the file is empty\n",
             "CELS3/brick01.CEL: not written: brick01.bmp is already the image of "
             "CELS3/BRICK01.CEL\n",
             "STILLCEL/CUT.CEL: Truncated: ",
             "FLI/CUT.FLI: Truncated: ",
             "FLI/FAULTY.FLI: Truncated: in frame 2, the line-compression chunk holds ",
             "FLI/MANY.FLI: and 15 more faults in line-compression chunks\n",
             "FLI/NONE.FLI: Corrupt: the header counts 0 frames, though ",
             "FLI/ODD.FLI: Unsupported: none of its 2 frames holds a chunk of a type this "
             "program decodes; it skipped 2 chunks of type 14, 2 of type 99; no frame could be "
             "decoded\n",
             "FLI/NOISE.FLI: Corrupt: the file is not an FLI animation: ",
             "CELS3/E\\x1b]0;owned\\x07\\x1b[2J\\u009b.CEL: Truncated: ",
             "CELS3/F\\xff\\u202e.CEL: Truncated: ",
             "STILLCEL/ANIM.CEL: Unsupported: the file is an FLI animation, not a still "
             "picture\n",
             "FIFO.CEL\": it is not an ordinary file: a FIFO\n",
             "FOLDER.CEL\": it is not an ordinary file: a folder\n",
             "BROKEN.CEL\": it is not an ordinary file: a link that leads nowhere\n",
             "LOOP.CEL\": it is not an ordinary file: a link that leads round in a loop\n",
             "DEVICE.CEL\": it is not an ordinary file: a device\n",
             "MEM.CEL\": it is not an ordinary file: it gives its size as 0 and cannot be read",
         }) {
        EXPECT_NE(result.err.find(problem), std::string::npos) << problem << "\n" << result.err;
    }
    EXPECT_NE(result.err.find(" decoded before it are written\n"), std::string::npos);
    const auto told = [&](const std::string& line) {
        std::size_t count = 0;
        for (std::size_t at = result.err.find(line); at != std::string::npos;
             at = result.err.find(line, at + 1)) {
            ++count;
        }
        return count;
    };
    EXPECT_EQ(told("FLI/MANY.FLI: Truncated: in frame 2, "), 10u) << result.err;
    EXPECT_EQ(result.err.find('\x1b'), std::string::npos);
    EXPECT_EQ(result.err.find('\x07'), std::string::npos);
    EXPECT_EQ(result.out, "30 files read, " + std::to_string(expected.size()) +
                              " images written, 43 failures\n");
}

TEST_F(ExportTest, GameFoldersWithOtherCaseWork)
{
    const fs::path game = CopyOfSample();
    const std::pair<const char*, const char*> renamed[] = {
        {"PALETTE.PAL", "palette.pal"}, {"CELS3", "cels3"}, {"cels3/TORCH.CEL", "cels3/torch.cel"},
        {"STILLCEL", "StillCel"},       {"FLI", "Fli"},     {"Fli/INTRO.FLI", "Fli/intro.fli"}};
    for (const auto& [from, to] : renamed) {
        fs::rename(game / from, game / to);
    }
    const ProgramResult result = Export({"-q", game.string(), Out()});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    // The images take the names' own spelling.
    Snapshot expected;
    for (const auto& [name, bytes] : ExpectedExport(Sample(), true)) {
        expected[name == "CELS3/TORCH.bmp"        ? "CELS3/torch.bmp"
                 : name.starts_with("FLI/INTRO-") ? "FLI/intro" + name.substr(9)
                                                  : name] = bytes;
    }
    ExpectExported(Out(), expected);
    EXPECT_TRUE(fs::exists(fs::path(Out()) / "FLI" / "intro-01.bmp"));
}

// A name as long as the file system takes gives frame names that are longer: they
// are shortened to fit, the same for every frame, and that is said once.
TEST_F(ExportTest, FrameNamesAreShortenedToFitTheFileSystem)
{
    const fs::path game = CopyOfSample();
    const std::string stem(251, 'A');
    fs::rename(game / "FLI" / "FIRE.FLI", game / "FLI" / (stem + ".FLI"));
    const ProgramResult result = Export({"-q", "--category", "animations", game.string(), Out()});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    Snapshot expected;
    for (const auto& [name, bytes] : ExpectedExport(game, true)) {
        if (name.starts_with("FLI/AAAA")) {
            // "-NN.bmp" after as much of the name as 255 bytes leave room for.
            const std::string tail = name.substr(name.size() - 7);
            expected["FLI/" + stem.substr(0, 255 - tail.size()) + tail] = bytes;
        } else if (name.starts_with("FLI/")) {
            expected[name] = bytes;
        }
    }
    ExpectExported(Out(), expected);
    EXPECT_EQ(result.err, "FLI/" + stem +
                              ".FLI: the image file names are shortened to fit the "
                              "output folder, which takes names of at most 255 bytes: " +
                              stem.substr(0, 248) + "-01.bmp\n");
}

// Lines nobody reads any more are dropped; the export itself goes on to the end
// and its exit status is the usual one.
TEST_F(ExportTest, AClosedOutputPipeDoesNotEndTheExport)
{
    EXPECT_EQ(ExportIntoClosedPipe({Sample(), Out()}), 0);
    ExpectExported(Out(), ExpectedExport(Sample(), true));
    EXPECT_EQ(ExportIntoClosedPipe({"--help"}), 0);
}

TEST_F(ExportTest, OptionsHelpAndVersion)
{
    const ProgramResult version = Export({"--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out, std::string("varek-export ") + VAREK_VERSION + "\n");

    const ProgramResult help = Export({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(help.out.starts_with("Usage: varek-export [options] GAME_FOLDER OUT_FOLDER\n"));

    const std::vector<std::string> wrong[] = {
        {},
        {Sample()},
        {Sample(), Out(), "third"},
        {"--format", "tiff", Sample(), Out()},
        {"--category", "monsters", Sample(), Out()},
        {"--scale", "0", Sample(), Out()},
        {"--scale=9", Sample(), Out()},
        {"--scale", "+2", Sample(), Out()},
        {"--scale", "2x", Sample(), Out()},
        {"--sheet", "--format", "gif", Sample(), Out()},
        {"--sheet", "--timeline", Sample(), Out()},
        {"--sheet-columns", "2", Sample(), Out()},
        {"--sheet", "--sheet-columns", "0", Sample(), Out()},
        {"--category"},
        {"--colour", Sample(), Out()},
        {Sample(), ""},
        {"", Out()},
    };
    for (const auto& args : wrong) {
        const ProgramResult result = Export(args);
        EXPECT_EQ(result.exitCode, 2) << ::testing::PrintToString(args);
        EXPECT_TRUE(result.err.starts_with("varek-export: ")) << result.err;
        EXPECT_NE(result.err.find("--help"), std::string::npos);
    }
    EXPECT_FALSE(fs::exists(Out()));

    // The program needs nothing beside it, PNG files included.
    fs::copy_file(VAREK_EXPORT_PROGRAM, m_work / "alone");
    const std::string alone = (m_work / "alone").string();
    EXPECT_EQ(RunProgram(alone, {"-q", "--format", "png", Sample(), Out()}).exitCode, 0);
}

}  // namespace
}  // namespace varek::test
