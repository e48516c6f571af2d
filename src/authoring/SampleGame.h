#pragma once

#include <filesystem>

#include "util/ByteWriter.h"

namespace varek {

// Writes a complete synthetic game folder made by this project's own code:
// PALETTE.PAL, walls and sprites in CELS3, still pictures in STILLCEL and
// animations in FLI. Creates folder if needed. Throws Error on a write failure.
void WriteSampleGameFolder(const std::filesystem::path& folder);

// A 320 x 200 animation of frameCount frames, written as an FLI file: one
// line-compression chunk a frame, about a tenth of the pixels changing each time.
ByteArray MakeSampleAnimation(int frameCount);

// A 320 x 200 FLI animation of frameCount frames of mostly flat pictures: bands
// and large tiles of one colour with six small striped sprites moving over them.
ByteArray MakeFlatAnimation(int frameCount);

// A width x height animation of frameCount frames, written as an FLC file at 40 ms
// a frame: a prefix chunk, a first frame of 256-level colours, a postage stamp and
// a byte-run image, then about a tenth of the lines changing each frame (and the
// colours every tenth frame), and the ring frame. Frames are made one at a time,
// so only the compressed file is held. Throws an Error for sizes of 0 or past 65535.
ByteArray MakeSampleFlc(int width, int height, int frameCount);

}  // namespace varek
