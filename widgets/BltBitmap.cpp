// The gauge's off-screen bitmap.
#include "widgets/BltBitmap.h"

#include <QGuiApplication>
#include <QPalette>

namespace brenwick {

void TBltBitmap::MakeLike(const QImage& other) {
    QImage::operator=(QImage(other.size(), QImage::Format_RGB32));
    // Window frames are drawn in the palette's shadow colour (black in the standard palettes).
    fill(QGuiApplication::palette().color(QPalette::Shadow));
}

void ClearToBlack(QImage& image) {
    image.fill(Qt::black);
}

}  // namespace brenwick
