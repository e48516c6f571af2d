#include "imaging/DecodedImage.h"

#include <cstring>
#include <string>

#include "util/Error.h"

namespace varek {

DecodedImage ReadImageFile(std::span<const std::uint8_t> bytes)
{
    static constexpr std::uint8_t kPngSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (bytes.size() >= sizeof kPngSignature &&
        std::memcmp(bytes.data(), kPngSignature, sizeof kPngSignature) == 0) {
        return ReadPngImage(bytes);
    }
    if (IsGifFile(bytes)) {
        std::vector<DecodedFrame> frames = ReadGifAnimation(bytes);
        if (frames.size() != 1) {
            throw Error(ErrorKind::Unsupported, "the GIF file holds " +
                                                    std::to_string(frames.size()) +
                                                    " pictures where one is needed");
        }
        return std::move(frames.front().image);
    }
    if (bytes.size() >= 2 && bytes[0] == 'B' && bytes[1] == 'M') {
        return ReadBmpImage(bytes);
    }
    throw Error(ErrorKind::Unsupported, "the file is no PNG, GIF or BMP image");
}

}  // namespace varek
