#ifndef PPMROWREADER_H
#define PPMROWREADER_H

#include "codec/rowio/imagerowreader.h"

#include <cstdio>
#include <vector>

namespace veltrano {

// Binary PPM (P6) and PGM (P5) files of maximum value 255, read row by row.
// The header is parsed as Qt's reader parses it (white space and comments
// between the numbers, one white-space byte after the maximum value); the
// file must hold every row it declares.
class PpmRowReader : public ImageRowReader
{
public:
    ~PpmRowReader() override;
    static std::unique_ptr<ImageRowReader> open(const QString &fileName);

protected:
    bool readRow(std::uint32_t *out) override;

private:
    PpmRowReader(std::FILE *file, int width, int height, bool grey);

    std::FILE *file;
    bool grey;
    std::size_t rowBytes;
    std::size_t blockRows; // rows read at a time
    int rowsLeft;          // in the file, not yet read
    std::vector<unsigned char> bytes;
    std::size_t blockFilled = 0; // rows in bytes
    std::size_t blockNext = 0;   // the next of them
};

} // namespace veltrano

#endif // PPMROWREADER_H
