#include "rowpipeline.h"

#include "imagerowwriter.h"

RowPipeline::RowPipeline(ImageRowWriter &writer, int width)
    : writer(writer)
    , ring(width)
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
    while (const std::uint32_t *row = ring.take()) {
        if (!writer.writeRow(row)) {
            writerFailed = true;
            ring.cancel();
            return;
        }
    }
}

bool RowPipeline::push(const std::uint32_t *row)
{
    return ring.push(row) && !writerFailed;
}

bool RowPipeline::drain()
{
    ring.close();
    if (thread.joinable())
        thread.join();
    return !writerFailed;
}
