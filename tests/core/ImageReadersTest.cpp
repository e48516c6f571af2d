// The readers of edited images and the rule that turns their colours into palette
// indices. Test files are written by libpng's and giflib's own writers and by hand.
#include <gif_lib.h>
#include <gtest/gtest.h>
#include <png.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "imaging/BmpImage.h"
#include "imaging/ColorMapping.h"
#include "imaging/DecodedImage.h"
#include "imaging/GifImage.h"
#include "imaging/PaletteFile.h"
#include "support/ErrorKindOf.h"
#include "support/GifFixtures.h"
#include "util/ByteWriter.h"
#include "util/Error.h"

using namespace varek;
using varek::test::ErrorKindOf;
using varek::test::GifFrame;
using varek::test::WriteGif;

namespace {

// Every pixel's colour, which is what a viewer shows.
std::vector<ColorValue> Shown(const DecodedImage& image)
{
    std::vector<ColorValue> colors;
    for (std::size_t i = 0; i < image.PixelCount(); ++i) {
        colors.push_back(image.ColorAt(i));
    }
    return colors;
}

// A PNG written by libpng's simplified writer: format's bytes a pixel, or one
// index a pixel into map (RGB or RGBA entries) for a colour-mapped format.
ByteArray WritePng(std::uint32_t format, int width, int height,
                   const std::vector<std::uint8_t>& pixels,
                   const std::vector<std::uint8_t>& map = {})
{
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(width);
    image.height = static_cast<png_uint_32>(height);
    image.format = format;
    image.colormap_entries =
        static_cast<png_uint_32>(map.size() / PNG_IMAGE_SAMPLE_CHANNELS(format));
    png_alloc_size_t size = 0;
    EXPECT_NE(png_image_write_to_memory(&image, nullptr, &size, 0, pixels.data(), 0, map.data()),
              0);
    ByteArray out(size);
    EXPECT_NE(png_image_write_to_memory(&image, out.data(), &size, 0, pixels.data(), 0, map.data()),
              0);
    out.resize(size);
    return out;
}

// A BMP file laid out by hand: header size 40, 108 or 124; bits 1, 4, 8 or 24;
// rows as given (top row first) stored bottom-up or top-down. Other depths get
// rows of zeros, for the refusals.
ByteArray WriteBmp(std::uint32_t headerSize, std::uint16_t bits,
                   const std::vector<ColorValue>& table, int width, int height, bool topDown,
                   const std::vector<std::uint32_t>& values, std::uint32_t compression = 0)
{
    const std::size_t stride = (static_cast<std::size_t>(width) * bits + 31) / 32 * 4;
    ByteArray rows(stride * static_cast<std::size_t>(height), 0);
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row =
            rows.data() + static_cast<std::size_t>(topDown ? y : height - 1 - y) * stride;
        for (int x = 0; x < width; ++x) {
            const std::uint32_t v = values[static_cast<std::size_t>(y * width + x)];
            if (bits == 24) {
                row[3 * x] = BlueOf(v);
                row[3 * x + 1] = GreenOf(v);
                row[3 * x + 2] = RedOf(v);
            } else if (bits <= 8) {
                const int bit = x * bits;
                row[bit / 8] |= static_cast<std::uint8_t>(v << (8 - bits - bit % 8));
            }
        }
    }
    ByteArray out;
    ByteWriter w(out);
    const std::uint32_t pixelOffset =
        14 + headerSize + 4 * static_cast<std::uint32_t>(table.size());
    w.U8('B');
    w.U8('M');
    w.U32(pixelOffset + static_cast<std::uint32_t>(rows.size()));
    w.U32(0);
    w.U32(pixelOffset);
    w.U32(headerSize);
    w.U32(static_cast<std::uint32_t>(width));
    w.U32(static_cast<std::uint32_t>(topDown ? -height : height));
    w.U16(1);
    w.U16(bits);
    w.U32(compression);
    w.U32(static_cast<std::uint32_t>(rows.size()));
    w.U32(2835);
    w.U32(2835);
    w.U32(static_cast<std::uint32_t>(table.size()));
    w.U32(0);
    w.Fill(14 + headerSize - out.size(), 0);
    for (const ColorValue c : table) {
        w.U8(BlueOf(c));
        w.U8(GreenOf(c));
        w.U8(RedOf(c));
        w.U8(0);
    }
    w.Bytes(rows);
    return out;
}

constexpr ColorValue kRed = MakeColor(255, 0, 0);
constexpr ColorValue kGreen = MakeColor(0, 255, 0);
constexpr ColorValue kBlue = MakeColor(0, 0, 255);
constexpr ColorValue kBlack = MakeColor(0, 0, 0);
constexpr ColorValue kWhite = MakeColor(255, 255, 255);

}  // namespace

// Every kind of PNG an editor saves gives the colours it shows; indexed ones keep
// their indices and table at any bit depth; a pixel not fully opaque is refused.
TEST(ImageReaders, PngOfEveryKind)
{
    const std::vector<std::uint8_t> indices = {0, 1, 1, 0, 1, 0};
    const std::vector<std::uint8_t> rgbMap = {255, 0, 0, 0, 255, 0};
    const DecodedImage twoColours =
        ReadPngImage(WritePng(PNG_FORMAT_RGB_COLORMAP, 3, 2, indices, rgbMap));
    EXPECT_EQ(twoColours.colors, (std::vector{kRed, kGreen}));
    EXPECT_EQ(twoColours.indices, indices);

    std::vector<std::uint8_t> map;
    for (int i = 0; i < 256; ++i) {
        map.insert(map.end(),
                   {static_cast<std::uint8_t>(i), 7, static_cast<std::uint8_t>(255 - i)});
    }
    const std::vector<std::uint8_t> wide = {0, 17, 200, 255};
    const DecodedImage fullTable = ReadPngImage(WritePng(PNG_FORMAT_RGB_COLORMAP, 2, 2, wide, map));
    EXPECT_EQ(fullTable.indices, wide);
    EXPECT_EQ(fullTable.ColorAt(2), MakeColor(200, 7, 55));

    const std::vector<ColorValue> expected = {kRed,   kGreen, kBlue,
                                              kWhite, kBlack, MakeColor(9, 8, 7)};
    std::vector<std::uint8_t> rgb, rgba, grey;
    for (const ColorValue c : expected) {
        rgb.insert(rgb.end(), {RedOf(c), GreenOf(c), BlueOf(c)});
        rgba.insert(rgba.end(), {RedOf(c), GreenOf(c), BlueOf(c), 255});
        grey.push_back(RedOf(c));
    }
    EXPECT_EQ(Shown(ReadPngImage(WritePng(PNG_FORMAT_RGB, 3, 2, rgb))), expected);
    EXPECT_EQ(Shown(ReadPngImage(WritePng(PNG_FORMAT_RGBA, 3, 2, rgba))), expected);
    const DecodedImage greyImage = ReadPngImage(WritePng(PNG_FORMAT_GRAY, 3, 2, grey));
    EXPECT_FALSE(greyImage.indexed());
    EXPECT_EQ(greyImage.ColorAt(5), MakeColor(9, 9, 9));

    rgba[4 * 4 + 3] = 128;
    const std::vector<std::uint8_t> seeThrough = {255, 0, 0, 255, 0, 255, 0, 0};
    const struct {
        ByteArray bytes;
        ErrorKind kind;
    } refused[] = {
        {WritePng(PNG_FORMAT_RGBA, 3, 2, rgba), ErrorKind::Unsupported},
        {WritePng(PNG_FORMAT_RGBA_COLORMAP, 3, 2, indices, seeThrough), ErrorKind::Unsupported},
        {ByteArray(rgb.begin(), rgb.end()), ErrorKind::Corrupt},
        {ByteArray(twoColours.indices.begin(), twoColours.indices.end()), ErrorKind::Corrupt},
    };
    for (std::size_t i = 0; i < std::size(refused); ++i) {
        EXPECT_EQ(ErrorKindOf([&] { ReadPngImage(refused[i].bytes); }), refused[i].kind)
            << "case " << i;
    }
    // Cut anywhere before the image data's checksum; what follows it is not needed.
    const ByteArray whole = WritePng(PNG_FORMAT_RGB, 3, 2, rgb);
    for (std::size_t cut = 0; cut + 16 < whole.size(); ++cut) {
        EXPECT_TRUE(ErrorKindOf([&] { ReadPngImage({whole.data(), cut}); }).has_value()) << cut;
    }
}

// Bottom-up and top-down, the three info headers, any table size and the bit
// depths editors write; what cannot be read is refused by kind.
TEST(ImageReaders, BmpOfEveryLayout)
{
    const std::vector<ColorValue> table = {kRed, kGreen, kBlue, kWhite};
    const std::vector<std::uint32_t> indices = {0, 1, 2, 3, 3, 2, 1, 0, 1, 1};
    std::vector<std::uint32_t> colours;
    std::vector<ColorValue> shown;
    for (const std::uint32_t i : indices) {
        colours.push_back(table[i]);
        shown.push_back(table[i]);
    }
    for (const std::uint32_t header : {40u, 108u, 124u}) {
        for (const bool topDown : {false, true}) {
            for (const std::uint16_t bits :
                 {std::uint16_t{4}, std::uint16_t{8}, std::uint16_t{24}}) {
                const ByteArray bmp = bits == 24
                                          ? WriteBmp(header, bits, {}, 5, 2, topDown, colours)
                                          : WriteBmp(header, bits, table, 5, 2, topDown, indices);
                const DecodedImage image = ReadBmpImage(bmp);
                EXPECT_EQ(Shown(image), shown) << header << " " << bits << " " << topDown;
                EXPECT_EQ(image.indexed(), bits != 24);
            }
        }
    }
    const std::vector<std::uint32_t> bits1 = {0, 1, 1, 0, 1, 1, 1, 1, 1, 0};
    EXPECT_EQ(ReadBmpImage(WriteBmp(40, 1, {kBlack, kWhite}, 10, 1, false, bits1)).ColorAt(9),
              kBlack);
    Palette palette;
    palette[3] = kBlue;
    EXPECT_EQ(
        ReadBmpImage(BuildBmpImage(2, 1, std::vector<std::uint8_t>{3, 0}, palette)).ColorAt(0),
        kBlue);

    ByteArray shortHeader = WriteBmp(40, 8, table, 5, 2, false, indices);
    StoreU32(shortHeader.data() + 14, 12);
    const struct {
        ByteArray bytes;
        ErrorKind kind;
    } refused[] = {
        {WriteBmp(40, 8, table, 5, 2, false, indices, 1), ErrorKind::Unsupported},
        {WriteBmp(40, 8, {kRed, kGreen}, 5, 2, false, indices), ErrorKind::Corrupt},
        {WriteBmp(40, 16, {}, 5, 2, false, indices), ErrorKind::Unsupported},
        {shortHeader, ErrorKind::Unsupported},
        {ByteArray(40, 'B'), ErrorKind::Corrupt},
    };
    for (std::size_t i = 0; i < std::size(refused); ++i) {
        EXPECT_EQ(ErrorKindOf([&] { ReadBmpImage(refused[i].bytes); }), refused[i].kind)
            << "case " << i;
    }
    const ByteArray whole = WriteBmp(124, 8, table, 5, 2, true, indices);
    for (std::size_t cut = 0; cut < whole.size(); ++cut) {
        EXPECT_EQ(ErrorKindOf([&] {
                      ReadBmpImage({whole.data(), cut});
                  }),
                  ErrorKind::Truncated)
            << cut;
    }
}

// Each frame is drawn over what the ones before left, as their disposal says, and
// shows the colours a viewer shows; the writer's own animations read back whole.
TEST(ImageReaders, GifFramesComposeOntoTheCanvas)
{
    const std::vector<ColorValue> global = {kBlack, kRed, kGreen, kBlue};
    const std::vector<GifFrame> frames = {
        {0, 0, 3, 2, {1, 1, 1, 1, 1, 1}, {}, DISPOSE_DO_NOT, NO_TRANSPARENT_COLOR, 5},
        {1, 0, 2, 1, {2, 0}, {}, DISPOSE_PREVIOUS, 0, 7},  // 0 transparent: keeps red
        {0, 1, 1, 1, {3}, {}, DISPOSE_DO_NOT, NO_TRANSPARENT_COLOR, 9},
        // Colours of its own, in another order, that still show what it leaves.
        {2, 1, 1, 1, {0}, {kGreen, kBlue, kRed, kBlack}, DISPOSE_DO_NOT, NO_TRANSPARENT_COLOR, 1},
    };
    const std::vector<DecodedFrame> read = ReadGifAnimation(WriteGif(3, 2, global, frames));
    ASSERT_EQ(read.size(), 4u);
    EXPECT_EQ(Shown(read[0].image), std::vector<ColorValue>(6, kRed));
    EXPECT_EQ(Shown(read[1].image), (std::vector{kRed, kGreen, kRed, kRed, kRed, kRed}));
    EXPECT_EQ(Shown(read[2].image), (std::vector{kRed, kRed, kRed, kBlue, kRed, kRed}));
    EXPECT_EQ(Shown(read[3].image), (std::vector{kRed, kRed, kRed, kBlue, kRed, kGreen}));
    EXPECT_EQ(read[3].image.colors, frames[3].local);
    EXPECT_EQ(read[3].image.indices[0], 2);
    EXPECT_EQ((std::vector{read[0].delayCentiseconds, read[1].delayCentiseconds,
                           read[3].delayCentiseconds}),
              (std::vector<std::int64_t>{5, 7, 1}));

    Palette first;
    Palette second;
    for (std::size_t i = 0; i < kPaletteEntries; ++i) {
        first[i] = MakeColor(static_cast<std::uint8_t>(i), 0, 0);
        second[i] = MakeColor(0, static_cast<std::uint8_t>(i), 0);
    }
    second[1] = first[1];
    const IndexedImage a{4, 2, {1, 1, 1, 1, 2, 3, 4, 5}};
    const IndexedImage b{4, 2, {1, 1, 1, 1, 9, 9, 4, 5}};
    GifWriter writer(4, 2);
    writer.AddPicture(a, first, 3);
    writer.AddPicture(b, second, 4);
    const std::vector<DecodedFrame> ours = ReadGifAnimation(writer.Finish());
    ASSERT_EQ(ours.size(), 2u);
    for (std::size_t p = 0; p < 8; ++p) {
        EXPECT_EQ(ours[0].image.ColorAt(p), first[a.pixels[p]]) << p;
        EXPECT_EQ(ours[1].image.ColorAt(p), second[b.pixels[p]]) << p;
    }

    const ByteArray whole = WriteGif(3, 2, global, frames);
    const struct {
        ByteArray bytes;
        ErrorKind kind;
    } refused[] = {
        // Its own colours lack the blue of a pixel it leaves.
        {WriteGif(3, 2, global, {frames[0], frames[2], {2, 1, 1, 1, {0}, {kRed, kGreen}}}),
         ErrorKind::Unsupported},
        // A canvas pixel nothing was drawn on.
        {WriteGif(3, 2, global, {frames[1]}), ErrorKind::Unsupported},
        // A pixel cleared by the disposal to the background and not drawn again.
        {WriteGif(3, 2, global,
                  {{0, 0, 3, 2, {1, 1, 1, 1, 1, 1}, {}, DISPOSE_BACKGROUND}, frames[2]}),
         ErrorKind::Unsupported},
        {WriteGif(3, 2, global, {}), ErrorKind::Corrupt},
        {ByteArray(whole.begin(), whole.begin() + 40), ErrorKind::Truncated},
    };
    for (std::size_t i = 0; i < std::size(refused); ++i) {
        EXPECT_EQ(ErrorKindOf([&] { ReadGifAnimation(refused[i].bytes); }), refused[i].kind)
            << "case " << i;
    }
    EXPECT_EQ(ErrorKindOf([&] { ReadImageFile(whole); }), ErrorKind::Unsupported);
    for (std::size_t cut = 0; cut < whole.size(); ++cut) {
        EXPECT_TRUE(ErrorKindOf([&] { ReadGifAnimation({whole.data(), cut}); }).has_value()) << cut;
    }
}

// The one colour rule: the palette's own order keeps indices, other images map by
// colour to the lowest free index, and foreign colours are refused or quantized.
TEST(ColorMapping, IndicesByColourOrRefusal)
{
    Palette palette;
    for (std::size_t i = 0; i < kPaletteEntries; ++i) {
        palette[i] = MakeColor(static_cast<std::uint8_t>(i), 100, 100);
    }
    palette[1] = kRed;
    palette[2] = kRed;
    palette[3] = MakeColor(0, 200, 0);
    palette[4] = MakeColor(0, 210, 0);
    auto rgb = [](std::vector<ColorValue> colors) {
        DecodedImage image{static_cast<std::int32_t>(colors.size()), 1, {}, {}, std::move(colors)};
        return image;
    };
    MappingOptions reserve1;
    reserve1.reserved[1] = true;
    MappingOptions quantize;
    quantize.quantize = true;
    MappingOptions quantizeReserve4 = quantize;
    quantizeReserve4.reserved[4] = true;
    const struct {
        DecodedImage image;
        MappingOptions options;
        std::vector<std::uint8_t> pixels;
        std::size_t changed;
        int largestError;
    } cases[] = {
        // Its own table in the palette's order: indices kept, duplicates and reserved ones too.
        {{2, 1, {palette[0], kRed, kRed}, {2, 1}, {}}, reserve1, {2, 1}, 0, 0},
        // Another table, or colours: the lowest index of each colour that is free.
        {{2, 1, {MakeColor(0, 200, 0), kRed}, {0, 1}, {}}, {}, {3, 1}, 0, 0},
        {rgb({kRed, MakeColor(7, 100, 100)}), {}, {1, 7}, 0, 0},
        {rgb({kRed}), reserve1, {2}, 0, 0},
        // Nearest, ties to the lowest index, reserved ones left out.
        {rgb({MakeColor(250, 0, 0), MakeColor(0, 205, 0)}), quantize, {1, 3}, 2, 5},
        {rgb({MakeColor(0, 209, 0)}), quantizeReserve4, {3}, 1, 9},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        MappingReport report;
        EXPECT_EQ(MapToPalette(cases[i].image, palette, cases[i].options, report).pixels,
                  cases[i].pixels)
            << "case " << i;
        EXPECT_EQ(report.changedPixels, cases[i].changed) << "case " << i;
        EXPECT_EQ(report.largestError, cases[i].largestError) << "case " << i;
    }
    MappingReport report;
    try {
        MapToPalette(rgb({kRed, MakeColor(1, 2, 3), MakeColor(1, 2, 3), MakeColor(4, 5, 6)}),
                     palette, {}, report);
        ADD_FAILURE() << "foreign colours mapped";
    } catch (const Error& error) {
        EXPECT_EQ(error.kind(), ErrorKind::Unsupported);
        EXPECT_EQ(error.detail(),
                  "2 colours are not in the palette; the first, 1 2 3, is at column 1, row 0");
    }
}

// 8-bit colours to 6-bit levels: the inverse of the colour rule, the replaced
// file's raw levels kept where they show the same, anything else refused or rounded.
TEST(ColorMapping, SixBitLevels)
{
    PaletteBlock keep{};
    keep[0] = 70;  // shown as 255
    keep[3] = 12;
    const struct {
        std::vector<ColorValue> colors;
        bool withKeep;
        bool quantize;
        std::vector<std::uint8_t> firstLevels;  // of entries 0 and 1
        std::size_t adjusted;
        bool refused;
    } cases[] = {
        {{MakeColor(252, 0, 4), MakeColor(128, 8, 0)},
         false,
         false,
         {63, 0, 1, 32, 2, 0},
         0,
         false},
        {{MakeColor(255, 0, 0), MakeColor(48, 0, 0)}, true, false, {70, 0, 0, 12, 0, 0}, 0, false},
        {{MakeColor(255, 0, 0)}, false, false, {}, 0, true},
        {{MakeColor(130, 0, 0)}, true, false, {}, 0, true},
        {{MakeColor(255, 130, 1), MakeColor(8, 0, 0)}, false, true, {63, 33, 0, 2, 0, 0}, 1, false},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        std::size_t adjusted = 0;
        if (cases[i].refused) {
            EXPECT_EQ(ErrorKindOf([&] {
                          ToVgaLevels(cases[i].colors, cases[i].withKeep ? &keep : nullptr, false,
                                      adjusted);
                      }),
                      ErrorKind::Unsupported)
                << "case " << i;
            continue;
        }
        const PaletteBlock block = ToVgaLevels(cases[i].colors, cases[i].withKeep ? &keep : nullptr,
                                               cases[i].quantize, adjusted);
        EXPECT_EQ(std::vector<std::uint8_t>(block.begin(), block.begin() + 6), cases[i].firstLevels)
            << "case " << i;
        EXPECT_EQ(adjusted, cases[i].adjusted) << "case " << i;
    }
}

// What the palette writers write reads back; the quirks of editors' files are
// taken, damaged files refused by kind.
TEST(PaletteFile, ReadsWhatEditorsWrite)
{
    Palette palette;
    for (std::size_t i = 0; i < kPaletteEntries; ++i) {
        palette[i] = MakeColor(static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(255 - i), 7);
    }
    const std::vector<ColorValue> all(palette.Colors.begin(), palette.Colors.end());
    for (const PaletteFileFormat format :
         {PaletteFileFormat::Gimp, PaletteFileFormat::Jasc, PaletteFileFormat::Adobe}) {
        EXPECT_EQ(ReadPaletteFile(EncodePaletteFile(palette, format), format), all);
    }
    auto text = [](const std::string& s) { return ByteArray(s.begin(), s.end()); };
    ByteArray act = EncodePaletteFile(palette, PaletteFileFormat::Adobe);
    act.insert(act.end(), {0, 3, 0xFF, 0xFF});
    EXPECT_EQ(ReadPaletteFile(act, PaletteFileFormat::Adobe),
              std::vector(all.begin(), all.begin() + 3));
    EXPECT_EQ(ReadPaletteFile(text("GIMP Palette\r\nName: x\nColumns: 4\n# c\n\n  1   2 3\tdark\n"),
                              PaletteFileFormat::Gimp),
              std::vector{MakeColor(1, 2, 3)});
    const struct {
        std::string text;
        PaletteFileFormat format;
        ErrorKind kind;
    } refused[] = {
        {"GIMP Palette\n1 2 256\n", PaletteFileFormat::Gimp, ErrorKind::Corrupt},
        {"GIMP Palette\n1 2\n", PaletteFileFormat::Gimp, ErrorKind::Corrupt},
        {"GIMP Palette\n", PaletteFileFormat::Gimp, ErrorKind::NotFound},
        {"JASC-PAL\n0100\n3\n1 2 3\n", PaletteFileFormat::Jasc, ErrorKind::Truncated},
        {"JASC-PAL\n0100\n300\n", PaletteFileFormat::Jasc, ErrorKind::TooLarge},
        {"RIFF", PaletteFileFormat::Jasc, ErrorKind::Corrupt},
        {"abc", PaletteFileFormat::Adobe, ErrorKind::Corrupt},
    };
    for (std::size_t i = 0; i < std::size(refused); ++i) {
        EXPECT_EQ(ErrorKindOf([&] { ReadPaletteFile(text(refused[i].text), refused[i].format); }),
                  refused[i].kind)
            << "case " << i;
    }
    std::string many = "GIMP Palette\n";
    for (int i = 0; i < 257; ++i) {
        many += "1 1 1\n";
    }
    EXPECT_EQ(ErrorKindOf([&] { ReadPaletteFile(text(many), PaletteFileFormat::Gimp); }),
              ErrorKind::TooLarge);
}
