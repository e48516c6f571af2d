#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "art/GameFolder.h"
#include "imaging/ColorMapping.h"
#include "imaging/DecodedImage.h"
#include "util/ByteWriter.h"

namespace varek {

// The way back from the export: image files named as varek-export names its
// output, turned into the game files they stand for.

// What an image file replaces.
enum class ReplacementKind { Wall, Still, Animated, Palette };

// An image file offered for import: the name of the folder it lies in and its
// own name decide its target, as the exporter named it.
struct ImportSource {
    std::string folderName;  // "CELS3", "STILLCEL", "FLI", or any other for a palette
    std::string fileName;
    std::filesystem::path path;
};

// One game file to replace and the image files that make it: one, or an
// animation's numbered sequence in order.
struct Replacement {
    ReplacementKind kind = ReplacementKind::Wall;
    std::string target;          // "CELS3/WALL1.CEL", the game folder's spelling
    std::filesystem::path path;  // the game file itself
    std::vector<std::filesystem::path> inputs;
    bool sequence = false;  // numbered images rather than one GIF, for an animation
};

struct ReplacementPlan {
    std::vector<Replacement> replacements;
    // Sources refused before any is read: the source and why.
    std::vector<std::pair<std::filesystem::path, std::string>> refused;
};

// The targets of sources in game: CELS3/NAME.bmp|png|gif is the wall NAME.CEL,
// STILLCEL/NAME.* the still NAME.CEL, FLI/NAME.gif or FLI/NAME-1..N.bmp|png the
// animation NAME.FLI or NAME.FLC, PALETTE.gpl|pal|act|png (in any folder) the
// palette. Names match ignoring case; the target must be in the game folder. A
// sequence must run from 1 with no number missing. Sources of other names
// (not images) are refused, as is a target given twice.
ReplacementPlan PlanReplacements(const GameFolder& game, std::span<const ImportSource> sources);

struct ReplacementOptions {
    MappingOptions mapping;
    bool rotate = true;     // walls were exported turned a quarter turn
    bool timeline = false;  // a sequence has one image for each file frame
};

// What a replacement changes in its file.
struct ReplacementReport {
    std::size_t pixelsChanged = 0;  // against the file replaced; every pixel for a new size
    std::size_t colorsChanged = 0;  // palette entries, for an animation summed over its pictures
    std::string sizeBefore;         // "320 x 200", set when the size changes
    std::string sizeAfter;
    std::size_t picturesBefore = 0;
    std::size_t picturesAfter = 0;
    std::size_t framesBefore = 0;
    std::size_t framesAfter = 0;
    MappingReport mapping;         // summed over the pictures
    std::size_t gridAdjusted = 0;  // colours moved onto the 6-bit grid
};

// "2 pixels, 1 colour; 12 of 40 pictures" and the like; "no change" for none.
std::string DescribeReport(const ReplacementReport& report, ReplacementKind kind);

// The new game files. old is the file replaced, read whole; each keeps what the
// image does not give from it. Each throws Error naming what is refused.

// A 64 x 64 wall in palette (PALETTE.PAL's colours), its quarter turn undone
// unless options.rotate is off; bytes past the first 4096 kept.
ByteArray BuildWallFile(std::span<const std::uint8_t> old, const DecodedImage& image,
                        const Palette& palette, const ReplacementOptions& options,
                        ReplacementReport& report);

// A still picture: an indexed image brings its own colours, written as 6-bit
// levels; any other is mapped to the replaced picture's colours. The header is
// kept but for width, height and pixel count; at the same size the whole file is
// kept but for colours and pixels.
ByteArray BuildStillFile(std::span<const std::uint8_t> old, const DecodedImage& image,
                         const ReplacementOptions& options, ReplacementReport& report);

// PALETTE.PAL from 256 colours (a palette file's, or a 256-pixel image's pixels in
// order); bytes past the 768 kept.
ByteArray BuildPaletteFile(std::span<const std::uint8_t> old, std::span<const ColorValue> colors,
                           const ReplacementOptions& options, ReplacementReport& report);

// The colours a 256-pixel image gives a palette: its pixels in order.
std::vector<ColorValue> PaletteOfImage(const DecodedImage& image);

// An animation from its pictures: 320 x 200 as FLI (or as FLC where the replaced
// file is one), any other size as FLC; each picture in its own colours (an image
// without a colour table mapped to those of the replaced file's picture). The
// replaced file's speed is kept; where the pictures are as many as its pictures
// (with options.timeline: its file frames), each stands for the file frames its
// counterpart stood for, so frames without a picture of their own stay;
// otherwise each picture is one frame, or lasts its GIF delay.
ByteArray BuildAnimationFile(std::span<const std::uint8_t> old,
                             std::span<const DecodedFrame> pictures, bool fromGif,
                             const ReplacementOptions& options, ReplacementReport& report);

// The new bytes of replacement's game file, read from its image files by the
// rules above; old is the game file read whole, and game gives a wall its palette.
// Throws Error naming what is refused, a sequence's image by its name.
ByteArray BuildReplacement(const GameFolder& game, const Replacement& replacement,
                           std::span<const std::uint8_t> old, const ReplacementOptions& options,
                           ReplacementReport& report);

}  // namespace varek
