#include "rowpipeline.h"

#include "imagerowwriter.h"

#include <cstring>

RowPipeline::RowPipeline(ImageRowWriter &writer, int width)
    : writer(writer)
    , width(width)
    , rows(std::size_t(width) * blockRows * blockCount)
{
    thread = std::thread(&RowPipeline::run, this);
}

RowPipeline::~RowPipeline()
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
    }
    changed.notify_all();
    thread.join();
}

void RowPipeline::run()
{
    for (;;) {
        int block = 0;
        int count = 0;
        {
            std::unique_lock<std::mutex> lock(mutex);
            changed.wait(lock, [this] { return stopping || written < published; });
            if (written == published)
                return;
            block = int(written % blockCount);
            count = blockFill[block];
            if (stopping || writerFailed)
                return;
        }
        bool ok = true;
        const std::uint32_t *row = rows.data() + std::size_t(block) * blockRows * std::size_t(width);
        for (int i = 0; i < count && ok; ++i, row += width)
            ok = writer.writeRow(row);
        {
            std::lock_guard<std::mutex> lock(mutex);
            ++written;
            if (!ok)
                writerFailed = true;
        }
        changed.notify_all();
    }
}

void RowPipeline::publish()
{
    std::unique_lock<std::mutex> lock(mutex);
    blockFill[published % blockCount] = filling;
    ++published;
    filling = 0;
    changed.notify_all();
    // The next block to fill must be free.
    changed.wait(lock, [this] { return writerFailed || published - written < blockCount; });
}

bool RowPipeline::push(const std::uint32_t *row)
{
    if (writerFailed)
        return false;
    const int block = int(published % blockCount);
    std::memcpy(rows.data() + (std::size_t(block) * blockRows + std::size_t(filling)) * std::size_t(width), row,
                std::size_t(width) * sizeof(std::uint32_t));
    if (++filling == blockRows)
        publish();
    return !writerFailed;
}

bool RowPipeline::drain()
{
    if (filling > 0 && !writerFailed)
        publish();
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [this] { return writerFailed || written == published; });
    return !writerFailed;
}
