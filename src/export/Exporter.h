#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <stop_token>
#include <string>
#include <utility>
#include <vector>

#include "art/GameFolder.h"
#include "export/OutputFolder.h"
#include "imaging/Palette.h"
#include "util/ByteWriter.h"

namespace varek {

// Walls and stills are one file each in every format (a plain PNG for Apng, a
// lossless still WebP for Webp); an animation is one file a picture as BMP or
// PNG, one animated file as GIF, APNG or WebP.
enum class ImageFormat { Bmp, Png, Gif, Apng, Webp };

struct ExportOptions {
    ImageFormat format = ImageFormat::Bmp;
    bool rotate =
        true;  // walls and sprites turned a quarter turn clockwise, as the window shows them
    std::array<bool, kCategoryCount> categories{true, true, true};  // indexed by ArtCategory
    // One image for each file frame instead of each picture: a picture that stands
    // for several file frames is written once for each, numbered by file frame.
    bool timeline = false;
    // Every picture enlarged by this whole factor, kMinScale to kMaxScale, each
    // pixel drawn as a square of scale x scale, in every format.
    int scale = 1;
    // Sprite sheets instead of image files: one PNG for each animation holding every
    // picture in a grid, and NAME.json describing it; one for the walls and one
    // for the stills. format does not apply. sheetColumns pictures a row, or for
    // 0 the smallest square grid.
    bool sheet = false;
    int sheetColumns = 0;
    // Once a stop is requested, from any thread, the export starts no further file
    // and returns soon; an image already being written is finished, so every file
    // it leaves is whole.
    std::stop_token stop;
};

struct ExportSummary {
    std::size_t filesRead = 0;
    std::size_t imagesWritten = 0;
    std::size_t failures = 0;
    bool cancelled = false;  // stopped through options.stop before everything was written
    // Animation pictures a GIF file leaves out: each lasted less than the 2
    // hundredths a GIF frame needs to play at its speed, and its time went to the
    // picture after it.
    std::size_t picturesMerged = 0;

    bool operator==(const ExportSummary&) const = default;
};

// What an export tells its user while it runs. Source files are named by their
// category folder and file name, "FLI/INTRO.FLI"; position counts them from 1 to total.
// Calls come one at a time, but those about animation frames may come from the
// threads that write them.
class ExportListener {
public:
    virtual ~ExportListener() = default;
    virtual void FileStarted(std::size_t /*position*/, std::size_t /*total*/,
                             const std::string& /*name*/)
    {
    }
    virtual void FrameWritten(std::size_t /*position*/, std::size_t /*total*/,
                              const std::string& /*name*/, std::size_t /*frame*/,
                              std::size_t /*frameCount*/)
    {
    }
    virtual void FileFinished(std::size_t /*position*/, std::size_t /*total*/,
                              const std::string& /*name*/, std::size_t /*imagesWritten*/)
    {
    }
    // A failure the export went on after; each one counts in the summary.
    virtual void Failed(const std::string& name, const std::string& reason) = 0;
    // Something the user should know about a source that is no failure, told once:
    // its image files' names had to be shortened.
    virtual void Noted(const std::string& /*name*/, const std::string& /*note*/) {}
};

// The name of an image file as the export writes it. frame 0 is not an animation
// frame; an animation's frame numbers take the digits of its pictureCount, at
// least two, so that every listing keeps them in order. A name longer than
// longest bytes is cut before its frame number to fit, as SuggestedName cuts it.
std::string ExportFileName(const std::string& sourceName, ImageFormat format, int frame = 0,
                           int pictureCount = 0, std::size_t longest = std::string::npos);

// The image file of width x height top-down pixels with palette: the BMP the
// window saves, an 8-bit indexed PNG (for Png and Apng) or GIF of the same
// pixels and 256 colours, or a lossless WebP of the same colours.
// Throws Error when the image cannot be encoded.
ByteArray EncodeImageFile(std::int32_t width, std::int32_t height,
                          std::span<const std::uint8_t> pixels, const Palette& palette,
                          ImageFormat format);

// The files of the chosen categories of a game folder, in the order an export
// takes them, and the categories whose folder cannot be listed, with the reason.
struct ExportListing {
    std::vector<std::pair<ArtCategory, std::string>> files;
    std::vector<std::pair<ArtCategory, std::string>> unlisted;
};

ExportListing ListExportFiles(const GameFolder& game, const ExportOptions& options);

// Exports every file of the chosen categories of game into outFolder, which passed
// CheckOutputFolder. Failures, a category folder that cannot be listed among them,
// are told to listener and the export goes on; nothing is written to the game
// folder. The temporary files an earlier export left when it was killed are
// removed from every category folder of outFolder first, as ExportAnimation does.
// listing, when given, is what ListExportFiles gave for game and options.
ExportSummary ExportGameFolder(const GameFolder& game, const std::filesystem::path& outFolder,
                               const ExportOptions& options, ExportListener& listener);
ExportSummary ExportGameFolder(const GameFolder& game, const ExportListing& listing,
                               const std::filesystem::path& outFolder, const ExportOptions& options,
                               ExportListener& listener);

// Exports the pictures of one animation of game, name being a file of its FLI folder
// matched ignoring case, as ExportGameFolder exports them: the same files of the
// same bytes in outFolder's FLI folder. options.categories is not consulted.
ExportSummary ExportAnimation(const GameFolder& game, const std::string& name,
                              const std::filesystem::path& outFolder, const ExportOptions& options,
                              ExportListener& listener);

}  // namespace varek
