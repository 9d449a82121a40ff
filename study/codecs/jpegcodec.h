#ifndef JPEGCODEC_H
#define JPEGCODEC_H

#include <QByteArray>
#include <QImage>
#include <QString>

namespace veltrano {

// JPEG through Qt's writer (libjpeg-turbo): the standard quantisation tables
// scaled by the quality, 4:2:0 chroma for colour images, one channel for a
// Format_Grayscale8 image. Plain: fixed Huffman tables and one sequential
// scan (what Qt writes by default); optimised: Huffman tables optimised for
// the image and progressive scans (QImageWriter::setOptimizedWrite and
// setProgressiveScanWrite), the same coefficients otherwise. The image's
// text and colour space (a PNG's text chunks, a JPEG's ICC profile) are not
// written: the file codes pixels only.
// Empty, with *error set, on failure.
QByteArray encodeJpeg(const QImage &image, int quality, bool optimised, QString *error);

// Decodes image data of any format Qt reads (the format told from the
// content). Null, with *error set, on failure.
QImage decodeImageData(const QByteArray &data, QString *error);

} // namespace veltrano

#endif // JPEGCODEC_H
