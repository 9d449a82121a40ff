#include "rowring.h"

#include <cstring>

RowRing::RowRing(int width)
    : width(width)
    , rows(std::size_t(width) * blockRows * blockCount)
{
}

void RowRing::publish(bool waitForRoom)
{
    std::unique_lock<std::mutex> lock(mutex);
    blockFill[published % blockCount] = filling;
    ++published;
    filling = 0;
    changed.notify_all();
    // The next block to fill must be free.
    if (waitForRoom)
        changed.wait(lock, [this] { return cancelled || published - released < blockCount; });
}

bool RowRing::push(const std::uint32_t *row)
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (cancelled)
            return false;
    }
    // The block being filled is the consumer's only once published.
    const int block = int(published % blockCount);
    std::memcpy(rows.data() + (std::size_t(block) * blockRows + std::size_t(filling)) * std::size_t(width), row,
                std::size_t(width) * sizeof(std::uint32_t));
    if (++filling == blockRows)
        publish(true);
    return true;
}

void RowRing::close()
{
    if (filling > 0)
        publish(false);
    std::lock_guard<std::mutex> lock(mutex);
    closed = true;
    changed.notify_all();
}

const std::uint32_t *RowRing::take()
{
    std::unique_lock<std::mutex> lock(mutex);
    if (holding && taken == blockFill[released % blockCount]) {
        ++released;
        holding = false;
        changed.notify_all();
    }
    if (!holding) {
        changed.wait(lock, [this] { return cancelled || closed || published > released; });
        if (cancelled || published == released)
            return nullptr;
        holding = true;
        taken = 0;
    }
    if (cancelled)
        return nullptr;
    const std::size_t at = std::size_t(released % blockCount) * blockRows + std::size_t(taken);
    ++taken;
    return rows.data() + at * std::size_t(width);
}

void RowRing::cancel()
{
    std::lock_guard<std::mutex> lock(mutex);
    cancelled = true;
    changed.notify_all();
}
