#ifndef ROWRING_H
#define ROWRING_H

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

namespace veltrano {

// Rows handed from one thread to another through a ring of a few blocks of
// rows: the producer copies rows in and waits while every block is full,
// the consumer takes them in order. The memory held is a few blocks of rows,
// however many rows pass.
class RowRing
{
public:
    // Rows of rowBytes bytes each, every row at a multiple of 4 bytes when
    // rowBytes is one.
    explicit RowRing(std::size_t rowBytes);
    RowRing(const RowRing &) = delete;
    RowRing &operator=(const RowRing &) = delete;

    // Producer: where the next row goes, to be filled and then passed on
    // with commit(); null once the consumer has cancelled.
    unsigned char *slot();
    // Producer: passes on the row filled at slot(); false once cancelled.
    bool commit();
    // Producer: slot(), a copy of the row, commit().
    bool push(const void *row);
    // Producer: no more rows; those pushed stay to be taken.
    void close();

    // Consumer: the next row, valid until the next call; null once the ring
    // is closed and every row taken, or cancelled.
    const unsigned char *take();
    // Either side: stops both; push() and take() fail from now on.
    void cancel();

private:
    void publish(bool waitForRoom);

    const std::size_t rowBytes;
    static constexpr int blockRows = 16;
    static constexpr int blockCount = 4;
    std::vector<std::uint32_t> storage; // words, for the rows' alignment
    int blockFill[blockCount] = {};
    int filling = 0;          // producer: rows in the block being filled
    long long published = 0;  // blocks handed to the consumer
    long long released = 0;   // blocks the consumer is done with
    int taken = 0;            // consumer: rows taken from block `released`
    bool holding = false;     // consumer: reads block `released`
    bool closed = false;
    bool cancelled = false;
    std::mutex mutex;
    std::condition_variable changed;
};

} // namespace veltrano

#endif // ROWRING_H
