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

}  // namespace varek
