#include "art/ArtFiles.h"

#include <algorithm>
#include <string>

#include "fli/FliFormat.h"
#include "util/ByteReader.h"
#include "util/Error.h"
#include "util/Text.h"

namespace varek {

IndexedImage BuildWallImage(std::span<const std::uint8_t> bytes, bool rotate)
{
    if (bytes.size() < kWallBytes) {
        throw Error(ErrorKind::Truncated, "the file holds " +
                                              Counted(bytes.size(), "byte", "bytes") +
                                              ", a wall or sprite needs 4096");
    }
    IndexedImage image;
    image.width = kWallSize;
    image.height = kWallSize;
    image.pixels.assign(bytes.begin(), bytes.begin() + kWallBytes);
    if (rotate) {
        const std::uint8_t* source = bytes.data();
        std::uint8_t* target = image.pixels.data();
        for (int i = 0; i < kWallSize; ++i) {
            for (int j = 0; j < kWallSize; ++j) {
                target[j * kWallSize + i] = source[(kWallSize - 1 - i) * kWallSize + j];
            }
        }
    }
    return image;
}

namespace {

// The magic number of an FLI or FLC file where a still picture belongs: it falls
// on the still's height and its first frame's on bytes of the still's colour
// block, which no 6-bit colour value makes. 0 for a still picture.
std::uint16_t FlicMagicOfStill(std::span<const std::uint8_t> bytes)
{
    const ByteReader reader(bytes, "the still picture");
    constexpr std::int64_t kFirstFrameMagic = kFliHeaderSize + kFliFrameMagicOffset;
    if (bytes.size() >= kFirstFrameMagic + 2 && (reader.U16(kFirstFrameMagic) == kFliFrameMagic ||
                                                 reader.U16(kFirstFrameMagic) == kFlcPrefixMagic)) {
        const std::uint16_t magic = reader.U16(kFliMagicOffset);
        return magic == kFliFileMagic || magic == kFlcFileMagic ? magic : 0;
    }
    return 0;
}

}  // namespace

bool IsFlcStill(std::span<const std::uint8_t> bytes)
{
    return FlicMagicOfStill(bytes) == kFlcFileMagic;
}

CelHeader ReadCelHeader(std::span<const std::uint8_t> bytes)
{
    const ByteReader reader(bytes, "the still picture");
    {
        const std::uint16_t magic = FlicMagicOfStill(bytes);
        if (magic == kFliFileMagic) {
            throw Error(ErrorKind::Unsupported,
                        "the file is an FLI animation, not a still picture");
        }
        if (magic == kFlcFileMagic) {
            throw Error(ErrorKind::Unsupported,
                        "the file is an FLC animation or a cel of the later kind, which is one, "
                        "not a still picture");
        }
    }
    CelHeader header;
    header.width = reader.U16(2);
    header.height = reader.U16(4);
    header.pixelCount = reader.U32(12);
    return header;
}

std::int64_t CelFileBytesUsed(const CelHeader& header)
{
    const std::int64_t pixels = static_cast<std::int64_t>(header.width) * header.height;
    const std::string size = std::to_string(header.width) + " x " + std::to_string(header.height);
    if (pixels == 0) {
        throw Error(ErrorKind::Corrupt, "the still picture is " + size + " pixels: it has none");
    }
    if (header.pixelCount == 0) {
        throw Error(ErrorKind::Corrupt, "the still picture gives its pixel count as " +
                                            std::to_string(header.pixelCount));
    }
    if (header.pixelCount < pixels) {
        throw Error(ErrorKind::Corrupt, "the still picture of " + size +
                                            " pixels gives its pixel count as " +
                                            std::to_string(header.pixelCount));
    }
    if (pixels > kMaxStillPixels) {
        throw Error(ErrorKind::TooLarge, "the still picture of " + size +
                                             " pixels has more than the " +
                                             std::to_string(kMaxStillPixels) +
                                             " (4096 x 4096) a still picture may have");
    }
    return static_cast<std::int64_t>(kCelPixelOffset) + pixels;
}

IndexedImage BuildCelImage(std::span<const std::uint8_t> bytes)
{
    const CelHeader header = ReadCelHeader(bytes);
    const std::int64_t needed =
        CelFileBytesUsed(header) - static_cast<std::int64_t>(kCelPixelOffset);
    const std::int64_t available =
        static_cast<std::int64_t>(bytes.size()) - static_cast<std::int64_t>(kCelPixelOffset);
    if (available < needed) {
        throw Error(ErrorKind::Truncated, "the still picture of " + std::to_string(header.width) +
                                              " x " + std::to_string(header.height) +
                                              " pixels holds " +
                                              std::to_string(std::max<std::int64_t>(available, 0)) +
                                              " of its " + std::to_string(needed) + " pixel bytes");
    }
    IndexedImage image;
    image.width = header.width;
    image.height = header.height;
    const auto first = bytes.begin() + kCelPixelOffset;
    image.pixels.assign(first, first + needed);
    return image;
}

IndexedImage FrameImage(const FrameRecord& record)
{
    IndexedImage image;
    image.width = record.Width;
    image.height = record.Height;
    image.pixels.assign(record.Pixels.begin(), record.Pixels.end());
    return image;
}

}  // namespace varek
