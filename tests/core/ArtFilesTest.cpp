#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "art/ArtFiles.h"
#include "art/GameBackup.h"
#include "art/GameFolder.h"
#include "art/Naming.h"
#include "art/Replacement.h"
#include "authoring/CelWriter.h"
#include "fli/FliFormat.h"
#include "fli/FliWriter.h"
#include "support/ErrorKindOf.h"
#include "support/TempFolder.h"
#include "util/Text.h"

namespace fs = std::filesystem;
using namespace varek;
using varek::test::ErrorKindOf;
using varek::test::ReadAll;
using varek::test::TempFolder;

namespace {

ByteArray WallBytes(std::size_t size)
{
    ByteArray bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<std::uint8_t>(i * 31 + i / 64);
    }
    return bytes;
}

}  // namespace

// Row r, column c of the file is shown turned at row c, column 63 - r: byte 0
// top-right, byte 63 bottom-right, byte 4032 top-left. Bytes past 4096 are never shown.
// WallFilePixel leads each shown pixel back to its place in the file.
TEST(WallImage, ShowsTheFirst4096BytesInFileOrderOrTurnedAQuarterClockwise)
{
    for (const std::size_t size : {0, 1, 64, 4095, 4096, 5000}) {
        const ByteArray bytes = WallBytes(size);
        for (const bool rotate : {false, true}) {
            SCOPED_TRACE(std::to_string(size) + (rotate ? " bytes turned" : " bytes"));
            if (size < 4096) {
                EXPECT_EQ(ErrorKindOf([&] { BuildWallImage(bytes, rotate); }),
                          ErrorKind::Truncated);
                continue;
            }
            const IndexedImage image = BuildWallImage(bytes, rotate);
            EXPECT_EQ(image.width, 64);
            EXPECT_EQ(image.height, 64);
            ASSERT_EQ(image.pixels.size(), 4096u);
            for (int r = 0; r < 64; ++r) {
                for (int c = 0; c < 64; ++c) {
                    ASSERT_EQ(image.pixels[rotate ? c * 64 + 63 - r : r * 64 + c],
                              bytes[r * 64 + c])
                        << r << "," << c;
                    // The shown pixel at column c, row r leads back to its file byte.
                    const PixelPlace file = WallFilePixel({c, r}, rotate);
                    ASSERT_EQ(bytes[static_cast<std::size_t>(file.y * 64 + file.x)],
                              image.pixels[static_cast<std::size_t>(r * 64 + c)])
                        << r << "," << c;
                }
            }
        }
    }
}

TEST(CelImage, HeaderFieldsPaletteAndPixelsAt800)
{
    IndexedImage image{5, 3, ByteArray(15)};
    for (std::size_t i = 0; i < 15; ++i) {
        image.pixels[i] = static_cast<std::uint8_t>(100 + i);
    }
    PaletteBlock colors{};
    colors[0] = 63;
    colors[767] = 1;
    const ByteArray file = EncodeCelImage(image, colors);
    ASSERT_EQ(file.size(), 815u);
    const CelHeader header = ReadCelHeader(file);
    EXPECT_EQ(header.width, 5);
    EXPECT_EQ(header.height, 3);
    EXPECT_EQ(header.pixelCount, 15u);
    EXPECT_EQ(file[800], 100);
    EXPECT_EQ(file[32], 63);
    EXPECT_EQ(BuildCelImage(file), image);
    const Palette palette = DecodePaletteBlock(file, kStillArtBlockOffset).palette;
    EXPECT_EQ(palette[0], 252u);
    EXPECT_EQ(palette[255], MakeColor(0, 0, 4));
}

TEST(CelImage, BadCountsAreCorruptAndShortFilesTruncated)
{
    const IndexedImage image{5, 3, ByteArray(15, 9)};
    const ByteArray good = EncodeCelImage(image, PaletteBlock{});
    auto withCount = [&](std::int32_t count, std::size_t length, std::uint16_t width = 5,
                         std::uint16_t height = 3) {
        ByteArray file = good;
        StoreU16(file.data() + 2, width);
        StoreU16(file.data() + 4, height);
        StoreU32(file.data() + 12, static_cast<std::uint32_t>(count));
        file.resize(length);
        return file;
    };
    // An animation where a still picture belongs, FLI and FLC (the later cels); the
    // game folder shows an FLC's first picture as the still.
    std::vector<AnimationFrame> frames(1);
    const ByteArray fli = WriteAnimation(frames);
    ByteArray flc = fli;
    flc[4] = 0x12;
    const struct {
        ByteArray file;
        ErrorKind kind;
        std::string says = {};  // part of the message, when it matters
    } bad[] = {
        {withCount(0, 815), ErrorKind::Corrupt},
        {withCount(14, 815), ErrorKind::Corrupt},
        {withCount(INT32_MIN, 815, 65535, 65535), ErrorKind::Corrupt,
         "of 65535 x 65535 pixels gives its pixel count as 2147483648"},  // the field is unsigned
        {fli, ErrorKind::Unsupported, "Unsupported: the file is an FLI animation, not a still"},
        {withCount(15, 815, 0), ErrorKind::Corrupt},  // a size without pixels, whatever the count
        {withCount(4097 * 4096, 815, 4097, 4096), ErrorKind::TooLarge},  // past 4096 x 4096
        {withCount(15, 814), ErrorKind::Truncated},
        {withCount(100, 814), ErrorKind::Truncated},
        {withCount(15, 800), ErrorKind::Truncated},
        {withCount(15, 15), ErrorKind::Truncated},  // inside the header
        {ByteArray{}, ErrorKind::Truncated},
    };
    EXPECT_EQ(ErrorKindOf([&] { BuildCelImage(flc); }), ErrorKind::Unsupported);
    // The same verdict through the game folder, which reads the header and then no
    // more than the pixels it asks for; an empty file is missing there.
    std::map<std::string, ByteArray> files;
    for (std::size_t i = 0; i < std::size(bad); ++i) {
        files["STILLCEL/" + std::to_string(i)] = bad[i].file;
    }
    const GameFolder game =
        GameFolder::Open(std::make_shared<MemorySource>(files), {false, true, false});
    for (std::size_t i = 0; i < std::size(bad); ++i) {
        EXPECT_EQ(ErrorKindOf([&] { BuildCelImage(bad[i].file); }), bad[i].kind) << "case " << i;
        try {
            game.LoadStill(std::to_string(i));
            ADD_FAILURE() << "case " << i;
        } catch (const Error& error) {
            EXPECT_EQ(error.kind(), bad[i].file.empty() ? ErrorKind::NotFound : bad[i].kind)
                << "case " << i;
            EXPECT_NE(std::string(error.what()).find(bad[i].says), std::string::npos)
                << error.what();
        }
    }
    // A count above width x height is allowed, up to 2^32 - 1; the bytes it claims
    // beyond are not needed.
    EXPECT_EQ(BuildCelImage(withCount(100, 815)), image);
    EXPECT_EQ(BuildCelImage(withCount(-1, 815)), image);
}

TEST(SuggestedName, DropsTheLastExtensionAndNumbersFrames)
{
    EXPECT_EQ(SuggestedName("A.B.CEL"), "A.B.bmp");
    EXPECT_EQ(SuggestedName("WALL01.CEL"), "WALL01.bmp");
    EXPECT_EQ(SuggestedName("NODOT"), "NODOT.bmp");
    EXPECT_EQ(SuggestedName("INTRO.FLI", 1), "INTRO-01.bmp");
    EXPECT_EQ(SuggestedName("INTRO.FLI", 9), "INTRO-09.bmp");
    EXPECT_EQ(SuggestedName("INTRO.FLI", 100), "INTRO-100.bmp");
    EXPECT_EQ(SuggestedName("INTRO.FLI", 12, ".png"), "INTRO-12.png");
    // Numbered for a listing: as many digits as the count has, at least two.
    const struct {
        int frame;
        int count;
        const char* name;
    } padded[] = {{7, 9, "A-07.bmp"},
                  {7, 99, "A-07.bmp"},
                  {7, 100, "A-007.bmp"},
                  {173, 173, "A-173.bmp"},
                  {12, 20000, "A-00012.bmp"}};
    for (const auto& c : padded) {
        EXPECT_EQ(SuggestedName("A.FLI", c.frame, ".bmp", c.count), c.name) << c.count;
    }
    // Cut before the number to fit a longest name, never inside a character.
    const struct {
        std::string file;
        std::size_t longest;
        std::string name;
    } cut[] = {
        {"ABCDEF.FLI", 12, "ABCDE-01.bmp"},
        {"ABCDE.FLI", 12, "ABCDE-01.bmp"},
        {"AB\xc3\xa9\xe2\x82\xac\x46.FLI", 12, "AB\xc3\xa9-01.bmp"},
        {"AB\xc3\xa9\xe2\x82\xac\x46.FLI", 10, "AB-01.bmp"},
        {"A.FLI", 5, "A-01.bmp"},  // not even the number fits: left whole
    };
    for (const auto& c : cut) {
        EXPECT_EQ(SuggestedName(c.file, 1, ".bmp", 9, c.longest), c.name) << c.file;
    }
}

TEST(GameFolder, CheckNamesTheFirstMissingItemInOrderAndOpenRefusesIt)
{
    TempFolder folder;
    const std::string tail = "\r\n\r\nBe sure this program is in the same folder as Vorlund.";
    auto expectMissing = [&](const std::string& message) {
        EXPECT_EQ(GameFolder::Check(folder.path()), message);
        try {
            GameFolder::Open(folder.path());
            ADD_FAILURE() << "Open took an incomplete folder";
        } catch (const Error& error) {
            EXPECT_EQ(error.kind(), ErrorKind::NotFound);
            EXPECT_EQ(error.detail(), message);
        }
    };
    expectMissing("Could not find file: PALETTE.PAL" + tail);
    // What is there but cannot be used says why.
    fs::create_directory(folder / "PALETTE.PAL");
    expectMissing("Could not read file: PALETTE.PAL: it is not an ordinary file" + tail);
    fs::remove(folder / "PALETTE.PAL");
    ASSERT_EQ(::mkfifo((folder / "PALETTE.PAL").c_str(), 0600), 0);
    expectMissing("Could not read file: PALETTE.PAL: it is not an ordinary file" + tail);
    if (::geteuid() != 0) {  // permission bits do not stop root
        fs::permissions(folder.path(), fs::perms::none);
        expectMissing("Could not read file: PALETTE.PAL: " + Quoted(folder.path()) +
                      ": Permission denied" + tail);
        fs::permissions(folder.path(), fs::perms::owner_all);
    }
    fs::remove(folder / "PALETTE.PAL");
    fs::create_directory(folder / "CELS3");
    ASSERT_EQ(::mkfifo((folder / "STILLCEL").c_str(), 0600), 0);
    EXPECT_EQ(GameFolder::Check(folder.path(), {false, true, false}),
              "Could not read path: STILLCEL: it is not a folder" + tail);
    fs::remove(folder / "STILLCEL");
    fs::remove(folder / "CELS3");
    // Each category needs only its own folder, and walls the palette as well.
    fs::create_directory(folder / "STILLCEL");
    const std::pair<std::array<bool, kCategoryCount>, std::string> needs[] = {
        {{false, true, false}, ""},
        {{false, true, true}, "Could not find path: FLI" + tail},
        {{true, false, false}, "Could not find file: PALETTE.PAL" + tail},
    };
    for (const auto& [needed, message] : needs) {
        EXPECT_EQ(GameFolder::Check(folder.path(), needed), message);
    }
    folder.Write("palette.pal", {});  // an empty palette passes the check
    EXPECT_EQ(GameFolder::Check(folder.path(), {true, false, false}),
              "Could not find path: CELS3" + tail);
    fs::create_directory(folder / "FLI");
    expectMissing("Could not find path: CELS3" + tail);
    folder.Write("CELS3", {1});  // a plain file passes, as a folder would
    fs::remove(folder / "STILLCEL");
    expectMissing("Could not find path: STILLCEL" + tail);
    fs::create_directory(folder / "stillcel");
    fs::remove(folder / "FLI");
    expectMissing("Could not find path: FLI" + tail);
    fs::create_directory(folder / "fli");
    EXPECT_EQ(GameFolder::Check(folder.path()), "");
    const GameFolder game = GameFolder::Open(folder.path());
    EXPECT_EQ(game.Entry("STILLCEL"), folder / "stillcel");
    EXPECT_EQ(game.Entry("Palette.PAL"), folder / "palette.pal");
    EXPECT_EQ(game.FilePath(ArtCategory::Animated, "A.FLI"), folder / "fli" / "A.FLI");
}

TEST(GameFolder, LoadsDrawEachPictureInItsOwnColoursOrGiveTheFault)
{
    PaletteBlock wallColors{};
    for (std::size_t i = 0; i < 256; ++i) {
        wallColors[3 * i] = static_cast<std::uint8_t>(i % 64);
        wallColors[3 * i + 1] = 1;
    }
    const ByteArray paletteFile(wallColors.begin(), wallColors.end());
    const ByteArray wall = WallBytes(4096);
    const IndexedImage stillImage{3, 2, {1, 2, 3, 4, 5, 6}};
    PaletteBlock stillColors{};
    stillColors.fill(63);
    const std::map<std::string, ByteArray> files{
        {"PALETTE.PAL", paletteFile},
        {"CELS3/WALL.CEL", wall},
        {"CELS3/SHORT.CEL", WallBytes(4095)},
        {"CELS3/EMPTY.CEL", {}},
        {"STILLCEL/STILL.CEL", EncodeCelImage(stillImage, stillColors)},
        {"STILLCEL/EMPTY.CEL", {}},
        {"FLI/EMPTY.FLI", {}},
    };
    TempFolder folder;
    for (const auto& [name, bytes] : files) {
        folder.Write(name, bytes);
    }
    const GameFolder onDisk = GameFolder::Open(folder.path());
    const GameFolder inMemory = GameFolder::Open(std::make_shared<MemorySource>(files));
    EXPECT_EQ(inMemory.Path(), fs::path());
    EXPECT_EQ(inMemory.FilePath(ArtCategory::OtherArt, "STILL.CEL"), "STILLCEL/STILL.CEL");

    const Palette palette = PaletteFromBlock(wallColors);
    for (const GameFolder* game : {&onDisk, &inMemory}) {
        SCOPED_TRACE(game == &onDisk ? "folder" : "memory");
        EXPECT_EQ(game->LoadWallPalette().palette, palette);
        // A wall in the palette it is given, turned: byte 0 top-right, byte 4032 top-left.
        const Picture turned = game->LoadWall("WALL.CEL", palette, true);
        EXPECT_EQ(turned.palette, palette);
        ASSERT_EQ(turned.image.pixels.size(), 4096u);
        EXPECT_EQ(turned.image.pixels[63], wall[0]);
        EXPECT_EQ(turned.image.pixels[0], wall[4032]);
        EXPECT_EQ(game->LoadWall("WALL.CEL", palette, false).image.pixels, wall);
        // A still picture in the colours of its own block, whatever the wall palette.
        const Picture still = game->LoadStill("STILL.CEL");
        EXPECT_EQ(still.image, stillImage);
        EXPECT_EQ(still.palette, PaletteFromBlock(stillColors));

        // No art file of the game is empty: an empty one is as missing as one that is
        // not there.
        const struct {
            const char* what;
            std::function<void()> load;
            ErrorKind kind;
        } faults[] = {
            {"empty wall", [&] { game->LoadWall("EMPTY.CEL", palette, false); },
             ErrorKind::NotFound},
            {"missing wall", [&] { game->LoadWall("NONE.CEL", palette, true); },
             ErrorKind::NotFound},
            {"short wall", [&] { game->LoadWall("SHORT.CEL", palette, true); },
             ErrorKind::Truncated},
            {"empty still", [&] { game->LoadStill("EMPTY.CEL"); }, ErrorKind::NotFound},
        };
        for (const auto& c : faults) {
            EXPECT_EQ(ErrorKindOf(c.load), c.kind) << c.what;
        }
    }

    // The wall palette holds what the file holds; the rest stays black, with the reason.
    const struct {
        std::optional<ByteArray> file;  // nullopt: the file has gone since the folder was opened
        std::size_t entriesRead;
        std::optional<ErrorKind> fault;
    } palettes[] = {
        {paletteFile, 256, std::nullopt},
        {ByteArray(paletteFile.begin(), paletteFile.begin() + 100), 33, ErrorKind::Truncated},
        {ByteArray{}, 0, ErrorKind::Truncated},
        {std::nullopt, 0, ErrorKind::NotFound},
    };
    for (const auto& c : palettes) {
        if (c.file) {
            folder.Write("PALETTE.PAL", *c.file);
        } else {
            fs::remove(folder / "PALETTE.PAL");
        }
        const WallPalette loaded = onDisk.LoadWallPalette();
        EXPECT_EQ(loaded.entriesRead, c.entriesRead);
        EXPECT_EQ(loaded.fault ? std::optional(loaded.fault->kind()) : std::nullopt, c.fault)
            << c.entriesRead;
        for (std::size_t i = 0; i < 256; ++i) {
            ASSERT_EQ(loaded.palette[i],
                      i < c.entriesRead ? VgaColor(static_cast<std::uint8_t>(i % 64), 1, 0) : 0u)
                << c.entriesRead << " entry " << i;
        }
    }
}

// The one listing call: a category folder that cannot be listed is an error, never
// an empty list.
TEST(GameFolder, ReadFileListSaysWhyACategoryCannotBeListed)
{
    TempFolder folder;
    folder.Write("PALETTE.PAL", ByteArray(768));
    folder.Write("CELS3/B.CEL", {1});
    folder.Write("CELS3/a.cel", {1});
    folder.Write("STILLCEL", {1});
    fs::create_directory(folder / "FLI");
    const GameFolder game = GameFolder::Open(folder.path());
    EXPECT_EQ(game.ReadFileList(ArtCategory::WallsSprites),
              (std::vector<std::string>{"a.cel", "B.CEL"}));
    // A file in its place is no empty folder.
    EXPECT_EQ(ErrorKindOf([&] { game.ReadFileList(ArtCategory::OtherArt); }),
              ErrorKind::CannotRead);
    if (::geteuid() != 0) {
        fs::permissions(folder / "CELS3", fs::perms::owner_exec);
        EXPECT_EQ(ErrorKindOf([&] { game.ReadFileList(ArtCategory::WallsSprites); }),
                  ErrorKind::CannotRead);
        fs::permissions(folder / "CELS3", fs::perms::owner_all);
    }
    fs::remove(folder / "FLI");
    EXPECT_EQ(ErrorKindOf([&] { game.ReadFileList(ArtCategory::Animated); }), ErrorKind::NotFound);
}

// A file opened on its own is told by its bytes, not its name; its folder's files
// of its kind are listed, and the file itself whatever its name.
TEST(GameFolder, OpenFileTellsALooseFileByItsBytesAndListsItsFolder)
{
    const IndexedImage stillImage{3, 2, {1, 2, 3, 4, 5, 6}};
    const ByteArray still = EncodeCelImage(stillImage, PaletteBlock{});
    const std::vector<FliFrameData> frames{FliFrameData{{FliChunkData{FLI_BLACK, {}}}}};
    const ByteArray animation = WriteFLIFile(frames);
    ByteArray flc = animation;
    flc[kFliMagicOffset] = static_cast<std::uint8_t>(kFlcFileMagic & 0xFF);
    ByteArray shortStill = still;
    shortStill.resize(803);
    TempFolder folder;
    folder.Write("a.fli", animation);
    folder.Write("INTRO.FLI", animation);
    folder.Write("intro.dat", animation);
    folder.Write("LATER.FLC", flc);
    folder.Write("PIC.CEL", still);
    folder.Write("SHORT.CEL", shortStill);
    folder.Write("WALL.CEL", WallBytes(4096));
    folder.Write("WALL.BIN", WallBytes(4096));
    folder.Write("EMPTY.FLI", {});
    folder.Write(".HIDDEN.FLI", animation);
    fs::create_directory(folder / "SUB.FLI");

    struct Case {
        const char* name;
        std::optional<ArtCategory> category;  // or refused with kind and words
        ErrorKind kind;
        const char* words;
    };
    const Case cases[] = {
        {"INTRO.FLI", ArtCategory::Animated, {}, ""},
        {"intro.dat", ArtCategory::Animated, {}, ""},
        {"LATER.FLC", ArtCategory::Animated, {}, ""},
        {"PIC.CEL", ArtCategory::OtherArt, {}, ""},
        {"SHORT.CEL", ArtCategory::OtherArt, {}, ""},  // whose load says it is cut short
        {"WALL.CEL", std::nullopt, ErrorKind::Unsupported, "open its game folder"},
        {"WALL.BIN", std::nullopt, ErrorKind::Unsupported, "neither"},
        {"EMPTY.FLI", std::nullopt, ErrorKind::NotFound, "empty"},
        {"GONE.FLI", std::nullopt, ErrorKind::NotFound, ""},
        {"SUB.FLI", std::nullopt, ErrorKind::Unsupported, "folder"},
        {".HIDDEN.FLI", std::nullopt, ErrorKind::Unsupported, "hidden"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (!c.category) {
            try {
                GameFolder::OpenFile(folder / c.name);
                ADD_FAILURE() << "opened";
            } catch (const Error& error) {
                EXPECT_EQ(error.kind(), c.kind);
                EXPECT_NE(std::string(error.what()).find(c.words), std::string::npos)
                    << error.what();
            }
            continue;
        }
        const LooseFile loose = GameFolder::OpenFile(folder / c.name);
        EXPECT_EQ(loose.category, *c.category);
        EXPECT_EQ(loose.folder.LooseCategory(), c.category);
        EXPECT_EQ(loose.folder.FilePath(loose.category, loose.name), folder / c.name);
        EXPECT_EQ(ErrorKindOf([&] { loose.folder.ReadFileList(ArtCategory::WallsSprites); }),
                  ErrorKind::NotFound);
    }

    // The list: the pattern's files in name order ignoring case, with the file opened.
    EXPECT_EQ(GameFolder::OpenFile(folder / "intro.dat").folder.ReadFileList(ArtCategory::Animated),
              (std::vector<std::string>{"a.fli", "EMPTY.FLI", "intro.dat", "INTRO.FLI", "LATER.FLC",
                                        "SUB.FLI"}));
    const GameFolder stills = GameFolder::OpenFile(folder / "PIC.CEL").folder;
    EXPECT_EQ(stills.ReadFileList(ArtCategory::OtherArt),
              (std::vector<std::string>{"PIC.CEL", "SHORT.CEL", "WALL.CEL"}));
    EXPECT_EQ(stills.LoadStill("PIC.CEL").image, stillImage);
    EXPECT_EQ(ErrorKindOf([&] { stills.LoadStill("SHORT.CEL"); }), ErrorKind::Truncated);
    FrameStore store;
    const GameFolder animations = GameFolder::OpenFile(folder / "INTRO.FLI").folder;
    EXPECT_FALSE(animations.LoadAnimation("a.fli", store).stop);
    EXPECT_EQ(store.FrameCount(), 1U);
}

// A still picture takes the image's own colours as 6-bit levels, or maps a
// colour image to its old colours; the header's other fields stay, and only the
// size fields follow a new size.
TEST(Replacement, StillKeepsItsHeaderAndTakesTheImage)
{
    PaletteBlock colors{};
    for (std::size_t i = 0; i < colors.size(); ++i) {
        colors[i] = static_cast<std::uint8_t>(i % 64);
    }
    ByteArray old = EncodeCelImage(IndexedImage{3, 2, {1, 2, 3, 4, 5, 6}}, colors);
    old[0] = 0x7A;  // fields beyond width, height and pixel count
    old[8] = 0x11;
    old[31] = 0x22;
    const Palette shown = DecodePaletteBlock(old, kStillArtBlockOffset).palette;
    DecodedImage bigger{4, 1, {shown[0], shown[1], MakeColor(8, 4, 0)}, {2, 1, 0, 2}, {}};
    ReplacementReport report;
    const ByteArray replaced = BuildStillFile(old, bigger, {}, report);
    ASSERT_EQ(replaced.size(), kCelPixelOffset + 4);
    EXPECT_TRUE(std::equal(old.begin(), old.begin() + 2, replaced.begin()));
    EXPECT_EQ((std::vector<std::uint8_t>{replaced[2], replaced[4], replaced[8], replaced[12],
                                         replaced[31]}),
              (std::vector<std::uint8_t>{4, 1, 0x11, 4, 0x22}));
    EXPECT_EQ((std::vector<std::uint8_t>(replaced.begin() + 38, replaced.begin() + 41)),
              (std::vector<std::uint8_t>{2, 1, 0}));
    EXPECT_EQ(BuildCelImage(replaced).pixels, (std::vector<std::uint8_t>{2, 1, 0, 2}));
    EXPECT_EQ(report.colorsChanged, 1u);
    EXPECT_EQ(report.sizeAfter, "4 x 1");

    DecodedImage colours{
        3, 2, {}, {}, {shown[6], shown[5], shown[4], shown[3], shown[2], shown[1]}};
    EXPECT_EQ(BuildCelImage(BuildStillFile(old, colours, {}, report)).pixels,
              (std::vector<std::uint8_t>{6, 5, 4, 3, 2, 1}));
    EXPECT_EQ(report.pixelsChanged, 6u);
    bigger.colors[2] = MakeColor(9, 4, 0);
    EXPECT_EQ(ErrorKindOf([&] { BuildStillFile(old, bigger, {}, report); }),
              ErrorKind::Unsupported);
    ReplacementOptions quantize;
    quantize.mapping.quantize = true;
    EXPECT_EQ(BuildStillFile(old, bigger, quantize, report)[38], 2);
    EXPECT_EQ(report.gridAdjusted, 1u);
}

// The newest backup is the latest date and time, then the highest "-N" taken
// within its second; putting one back skips the files already as it holds them.
TEST(GameBackup, NewestIsTheLastMadeAndRestoringSkipsFilesAlreadyBack)
{
    TempFolder game;
    EXPECT_FALSE(NewestBackup(game.path()));
    for (const char* name : {"20260314-101500", "20260314-101500-2", "20260314-101500-10",
                             "20260313-235959-3", ".hidden"}) {
        fs::create_directories(game / kBackupFolderName / name);
    }
    EXPECT_EQ(NewestBackup(game.path())->filename(), "20260314-101500-10");

    game.Write("CELS3/A.CEL", {1});
    game.Write("CELS3/B.CEL", {2});
    const std::vector<GameFileChange> changes{{game / "CELS3/A.CEL", "CELS3/A.CEL", {3}},
                                              {game / "CELS3/B.CEL", "CELS3/B.CEL", {4}},
                                              {game / "CELS3/NEW.CEL", "CELS3/NEW.CEL", {5}}};
    const fs::path backup = BackUpGameFiles(game.path(), changes);
    EXPECT_EQ(NewestBackup(game.path()), backup);
    EXPECT_EQ(
        WriteGameFiles(
            changes, [](const GameFileChange& change) { return change.relative != "CELS3/B.CEL"; }),
        2u);
    EXPECT_EQ(ReadAll(game / "CELS3/A.CEL"), ByteArray{3});
    EXPECT_EQ(ReadAll(game / "CELS3/B.CEL"), ByteArray{4});
    EXPECT_FALSE(fs::exists(game / "CELS3/NEW.CEL"));
    const std::vector<GameFileChange> restore = RestoreChanges(game.path(), backup);
    ASSERT_EQ(restore.size(), 2u);
    for (const GameFileChange& change : restore) {
        EXPECT_EQ(change.bytes,
                  ByteArray{change.relative == "CELS3/A.CEL" ? std::uint8_t{1} : std::uint8_t{2}});
    }
    game.Write("CELS3/A.CEL", {1});
    EXPECT_EQ(RestoreChanges(game.path(), backup).size(), 1u);
}
