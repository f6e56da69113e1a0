// JPEG decoding through libjpeg's own interface (not Qt's image plug-ins) into a QImage.
#pragma once

#include <QByteArray>
#include <QImage>

namespace brenwick {

// The decoded picture in RGB888, or a null image when the data is not a whole, sound JPEG picture: every
// error and every warning about damaged data ends the decode, which never ends the program.
QImage DecodeJpeg(const QByteArray& data);

}  // namespace brenwick
