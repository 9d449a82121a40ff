#ifndef IMAGEROWREADER_H
#define IMAGEROWREADER_H

#include "codec/format/imagelimits.h"

#include <QString>

#include <cstdint>
#include <memory>
#include <vector>

namespace veltrano {

// An image file read one row at a time, top to bottom, in memory that
// depends on its width only. Rows are the 32-bit words QImage::pixel() would
// give for the image Qt's reader makes of the same file (red in bits 16 to
// 23, green 8 to 15, blue 0 to 7), so a transform fed from here computes what
// it computes from that image.
//
// Only files whose every pixel is known to come out as Qt's reader gives it
// are opened: PPM and PGM of 8 bits, 8-bit and palette PNG without
// interlacing, single-scan JPEG of one or three components. Anything else,
// and any file that fails or warns while it is read, is left to the caller's
// in-memory path, which reads it with Qt's reader and reports its faults.
// The exceptions are the faults the in-memory path would report in the same
// words: a file its checks before decoding refuse (checkImageHeader of
// format/imageheader.h, with the streamed path's limits), and JPEG or PNG
// data its decoder reports damaged.
//
// Their size limits are those of the streamed path in format/imagelimits.h.

class ImageRowReader
{
public:
    virtual ~ImageRowReader();

    // A reader of the file, or null when it is not one of the above; null
    // with *refusal set when the checks before decoding refuse the file.
    static std::unique_ptr<ImageRowReader> open(const QString &fileName, QString *refusal);

    int width() const { return columns; }
    int height() const { return rows; }

    // Row y, valid until the next call, for y at or after the row asked for
    // last (rows in between are skipped). Once reading has failed, or for
    // an earlier row, a row of zeros, and failed() is true.
    const std::uint32_t *row(int y);

    // row() for the transforms' row fetching.
    static const std::uint32_t *fetch(void *reader, int y);

    // Reads what follows the last row (a JPEG stream's end, a PNG file's
    // chunks up to IEND) and tells whether the whole file was read without
    // fault.
    bool finish();

    bool failed() const { return broken; }
    // After a failure, the in-memory path's message for it when that is
    // known (damaged JPEG or PNG data); empty otherwise.
    const QString &damage() const { return damageMessage; }

protected:
    ImageRowReader(int width, int height);

    // The next row into out (width() words); false on any fault.
    virtual bool readRow(std::uint32_t *out) = 0;
    // What follows the last row; false on any fault.
    virtual bool readEnd() { return true; }

    QString damageMessage;

private:
    int columns;
    int rows;
    int nextRow = 0;
    int lastRow = -1;
    bool broken = false;
    std::vector<std::uint32_t> buffer;
};

} // namespace veltrano

#endif // IMAGEROWREADER_H
