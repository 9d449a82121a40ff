#ifndef ROWPIPELINE_H
#define ROWPIPELINE_H

#include "codec/rowio/rowring.h"

#include <atomic>
#include <cstdint>
#include <thread>

namespace veltrano {

class ImageRowWriter;

// Hands rows to an image writer on a thread of its own, so that the rows'
// encoding runs beside the work that makes them. A producer that gets ahead
// waits (RowRing), so the memory held stays a few blocks of rows, whatever
// the image's height.
class RowPipeline
{
public:
    explicit RowPipeline(ImageRowWriter &writer);
    // Stops the writer's thread; rows not yet written are dropped.
    ~RowPipeline();
    RowPipeline(const RowPipeline &) = delete;
    RowPipeline &operator=(const RowPipeline &) = delete;

    // Queues the row, packed by the writer on this thread; false once the
    // writer has failed.
    bool push(const std::uint32_t *row);
    // Waits until every queued row is written; whether all were.
    bool drain();

private:
    void run();

    ImageRowWriter &writer;
    RowRing ring;
    std::atomic<bool> writerFailed{false};
    std::thread thread;
};

} // namespace veltrano

#endif // ROWPIPELINE_H
