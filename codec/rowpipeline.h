#ifndef ROWPIPELINE_H
#define ROWPIPELINE_H

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

class ImageRowWriter;

// Hands rows to an image writer on a thread of its own, so that the rows'
// encoding runs beside the work that makes them. Rows travel in blocks
// through a ring of a few blocks; a producer that gets ahead waits, so the
// memory held stays a few blocks of rows, whatever the image's height.
class RowPipeline
{
public:
    RowPipeline(ImageRowWriter &writer, int width);
    // Stops the writer's thread; rows not yet written are dropped.
    ~RowPipeline();
    RowPipeline(const RowPipeline &) = delete;
    RowPipeline &operator=(const RowPipeline &) = delete;

    // Queues a copy of the row; false once the writer has failed.
    bool push(const std::uint32_t *row);
    // Waits until every queued row is written; whether all were.
    bool drain();

private:
    void run();
    void publish();

    ImageRowWriter &writer;
    const int width;
    static constexpr int blockRows = 16;
    static constexpr int blockCount = 4;
    std::vector<std::uint32_t> rows;
    int blockFill[blockCount] = {};
    int filling = 0;            // rows in the block being filled
    long long published = 0;    // blocks handed to the writer's thread
    long long written = 0;      // blocks it has written
    bool stopping = false;
    std::atomic<bool> writerFailed{false};
    std::mutex mutex;
    std::condition_variable changed;
    std::thread thread;
};

#endif // ROWPIPELINE_H
