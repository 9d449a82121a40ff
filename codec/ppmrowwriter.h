#ifndef PPMROWWRITER_H
#define PPMROWWRITER_H

#include "imagerowwriter.h"

#include <vector>

// Binary PPM (P6, maximum value 255), the header as Qt's writer writes it.
class PpmRowWriter : public ImageRowWriter
{
public:
    PpmRowWriter(const QString &fileName, int width, int height);

    bool start() override;
    bool writeRow(const std::uint32_t *row) override;
    bool finish() override;

private:
    std::vector<char> bytes;
};

#endif // PPMROWWRITER_H
