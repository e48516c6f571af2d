#pragma once

#include <QImage>
#include <QPixmap>
#include <cstdint>
#include <span>

#include "imaging/IndexedImage.h"
#include "imaging/Palette.h"
#include "util/ErrorReporter.h"

namespace varek {

// An 8-bit indexed QImage of image whose colour table is palette. Null for an
// image without pixels.
QImage ToQImage(const IndexedImage& image, const Palette& palette);

// The picture of a BMP file image as the builder lays it out, every pixel the
// colour of its index in palette (the image's own colour table is not used).
// Any failure is reported as "LoadPictureFromByteArray" and gives no picture.
QPixmap LoadPictureFromByteArray(std::span<const std::uint8_t> bmp, const Palette& palette,
                                 ErrorReporter& reporter);

// The displayable picture of image; a failure is reported as
// "CreatePictureFromBitmap" and gives no picture.
QPixmap CreatePictureFromBitmap(const QImage& image, ErrorReporter& reporter);

}  // namespace varek
