#pragma once

#include <QImage>

#include "imaging/IndexedImage.h"
#include "imaging/Palette.h"

namespace varek {

// The one way indexed pixels become a QImage: 8-bit indexed, its colour table the
// palette, rows copied one by one (QImage rows are 4-byte aligned). Null for an
// image without pixels; throws std::bad_alloc when Qt cannot hold the image.
QImage ToQImage(const IndexedImage& image, const Palette& palette);

}  // namespace varek
