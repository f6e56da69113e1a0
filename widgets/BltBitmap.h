// The off-screen bitmap the gauge draws its layers on.
#pragma once

#include <QImage>

namespace brenwick {

class TBltBitmap : public QImage {
  public:
    TBltBitmap() = default;

    // Takes the width and height of `other` and fills the whole bitmap with the system colour of window
    // frames, as a solid brush would.
    void MakeLike(const QImage& other);
};

// Fills the whole bitmap with black (the BLACKNESS raster operation over its area).
void ClearToBlack(QImage& image);

}  // namespace brenwick
