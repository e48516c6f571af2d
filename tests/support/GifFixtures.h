#pragma once

#include <gif_lib.h>

#include <vector>

#include "imaging/Palette.h"
#include "util/ByteWriter.h"

namespace varek::test {

// One frame of a GIF written by hand through giflib.
struct GifFrame {
    int left, top, width, height;
    std::vector<std::uint8_t> indices;
    std::vector<ColorValue> local;  // empty: the global colours
    int disposal = DISPOSE_DO_NOT;
    int transparent = NO_TRANSPARENT_COLOR;
    int delay = 0;
};

inline int AppendGif(GifFileType* gif, const GifByteType* data, int length)
{
    auto* out = static_cast<ByteArray*>(gif->UserData);
    out->insert(out->end(), data, data + length);
    return length;
}

inline ColorMapObject* MapOf(const std::vector<ColorValue>& colors)
{
    std::vector<GifColorType> entries;
    for (const ColorValue c : colors) {
        entries.push_back({RedOf(c), GreenOf(c), BlueOf(c)});
    }
    return GifMakeMapObject(static_cast<int>(entries.size()), entries.data());
}

inline ByteArray WriteGif(int width, int height, const std::vector<ColorValue>& global,
                          const std::vector<GifFrame>& frames)
{
    ByteArray out;
    int error = 0;
    GifFileType* gif = EGifOpen(&out, AppendGif, &error);
    EGifSetGifVersion(gif, true);
    ColorMapObject* globalMap = MapOf(global);
    EGifPutScreenDesc(gif, width, height, 8, 0, globalMap);
    for (const GifFrame& f : frames) {
        GraphicsControlBlock control{f.disposal, false, f.delay, f.transparent};
        GifByteType block[4];
        EGifGCBToExtension(&control, block);
        EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, block);
        ColorMapObject* local = f.local.empty() ? nullptr : MapOf(f.local);
        EGifPutImageDesc(gif, f.left, f.top, f.width, f.height, false, local);
        std::vector<GifPixelType> line(f.indices.begin(), f.indices.end());
        for (int y = 0; y < f.height; ++y) {
            EGifPutLine(gif, line.data() + y * f.width, f.width);
        }
        GifFreeMapObject(local);
    }
    GifFreeMapObject(globalMap);
    EGifCloseFile(gif, &error);
    return out;
}

}  // namespace varek::test
