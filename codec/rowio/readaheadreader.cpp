#include "codec/rowio/readaheadreader.h"

#include <cstring>

namespace veltrano {

ReadAheadReader::ReadAheadReader(std::unique_ptr<ImageRowReader> reader)
    : ImageRowReader(reader->width(), reader->height())
    , source(std::move(reader))
    , ring(std::size_t(source->width()) * sizeof(std::uint32_t))
{
    thread = std::thread(&ReadAheadReader::run, this);
}

ReadAheadReader::~ReadAheadReader()
{
    ring.cancel();
    join();
}

void ReadAheadReader::run()
{
    const int rows = source->height();
    for (int y = 0; y < rows; ++y) {
        const std::uint32_t *row = source->row(y);
        if (source->failed())
            break;
        if (!ring.push(row))
            return;
    }
    ring.close();
    sourceFinished = !source->failed() && source->finish();
}

void ReadAheadReader::join()
{
    if (thread.joinable())
        thread.join();
}

bool ReadAheadReader::readRow(std::uint32_t *out)
{
    const unsigned char *row = ring.take();
    if (!row) {
        join();
        damageMessage = source->damage();
        return false;
    }
    std::memcpy(out, row, std::size_t(width()) * sizeof(std::uint32_t));
    return true;
}

bool ReadAheadReader::readEnd()
{
    join();
    damageMessage = source->damage();
    return sourceFinished;
}

} // namespace veltrano
