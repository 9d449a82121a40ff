#include "codec/rowio/rowring.h"

#include <cstring>

namespace veltrano {

RowRing::RowRing(std::size_t rowBytes)
    : rowBytes(rowBytes)
    , storage((rowBytes * blockRows * blockCount + 3) / 4)
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

unsigned char *RowRing::slot()
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (cancelled)
            return nullptr;
    }
    // The block being filled is the consumer's only once published, and was
    // free when the one before it was published.
    const std::size_t block = std::size_t(published % blockCount);
    return reinterpret_cast<unsigned char *>(storage.data()) + (block * blockRows + std::size_t(filling)) * rowBytes;
}

bool RowRing::commit()
{
    if (++filling == blockRows)
        publish(true);
    std::lock_guard<std::mutex> lock(mutex);
    return !cancelled;
}

bool RowRing::push(const void *row)
{
    unsigned char *to = slot();
    if (!to)
        return false;
    std::memcpy(to, row, rowBytes);
    return commit();
}

void RowRing::close()
{
    if (filling > 0)
        publish(false);
    std::lock_guard<std::mutex> lock(mutex);
    closed = true;
    changed.notify_all();
}

const unsigned char *RowRing::take()
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
    return reinterpret_cast<const unsigned char *>(storage.data()) + at * rowBytes;
}

void RowRing::cancel()
{
    std::lock_guard<std::mutex> lock(mutex);
    cancelled = true;
    changed.notify_all();
}

} // namespace veltrano
