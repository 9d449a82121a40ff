#include "codec/rowio/rowpipeline.h"

#include "codec/rowio/imagerowwriter.h"

namespace veltrano {

RowPipeline::RowPipeline(ImageRowWriter &writer)
    : writer(writer)
    , ring(writer.packedRowBytes())
{
    thread = std::thread(&RowPipeline::run, this);
}

RowPipeline::~RowPipeline()
{
    ring.cancel();
    if (thread.joinable())
        thread.join();
}

void RowPipeline::run()
{
    while (const unsigned char *row = ring.take()) {
        if (!writer.writePacked(row)) {
            writerFailed = true;
            ring.cancel();
            return;
        }
    }
}

bool RowPipeline::push(const std::uint32_t *row)
{
    unsigned char *packed = ring.slot();
    if (!packed)
        return false;
    writer.packRow(row, packed);
    return ring.commit() && !writerFailed;
}

bool RowPipeline::drain()
{
    ring.close();
    if (thread.joinable())
        thread.join();
    return !writerFailed;
}

} // namespace veltrano
