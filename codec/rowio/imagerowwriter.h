#ifndef IMAGEROWWRITER_H
#define IMAGEROWWRITER_H

#include "codec/rowio/streamoutputfile.h"

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <memory>

namespace veltrano {

// An image file written one row at a time, top to bottom, byte for byte as
// Qt's writer would write an opaque ARGB32 image of those rows with the same
// resolution and quality (writeImageFile of qimage/imagefile.h). Rows are 32-bit words, red in bits
// 16 to 23, green 8 to 15, blue 0 to 7. The file takes its target's place
// only when finish() succeeds.
class ImageRowWriter
{
public:
    virtual ~ImageRowWriter();

    // Whether files of this format ("jpg", "ppm" ...) are written here.
    static bool handles(const QByteArray &format);

    // A writer of the format, or null when handles() says no. dotsPerMeter is
    // the image's resolution, quality the writer's (-1: its default).
    static std::unique_ptr<ImageRowWriter> create(const QString &fileName, const QByteArray &format, int width,
                                                  int height, int dotsPerMeter, int quality);

    // Opens the target; false, with error() set, when it cannot be written or
    // the format cannot hold an image of this size.
    virtual bool start() = 0;
    // False once anything has failed.
    virtual bool writeRow(const std::uint32_t *row) = 0;
    // writeRow() in two steps, so that a pipeline can pack a row on the
    // thread that makes it and write it on another: the row's packed form,
    // in packedRowBytes() bytes at a multiple of 4 (its words by default),
    // then the packed row written.
    virtual std::size_t packedRowBytes() const { return std::size_t(width) * sizeof(std::uint32_t); }
    virtual void packRow(const std::uint32_t *row, unsigned char *packed) const;
    virtual bool writePacked(const unsigned char *packed);
    // Completes the file and puts it in place.
    virtual bool finish() = 0;

    // The bytes written so far.
    qint64 bytesWritten() const { return output.size(); }
    QString error() const { return message.isEmpty() ? output.error() : message; }

protected:
    ImageRowWriter(const QString &fileName, int width, int height);

    QString fileName;
    int width;
    int height;
    StreamOutputFile output;
    QString message;
};

} // namespace veltrano

#endif // IMAGEROWWRITER_H
