#ifndef READAHEADREADER_H
#define READAHEADREADER_H

#include "codec/rowio/imagerowreader.h"
#include "codec/rowio/rowring.h"

#include <memory>
#include <thread>

namespace veltrano {

// The rows of another reader, decoded ahead on a thread of their own so that
// the decoding runs beside the work that uses the rows. The rows, the
// failures and the damage reported are the other reader's.
class ReadAheadReader : public ImageRowReader
{
public:
    explicit ReadAheadReader(std::unique_ptr<ImageRowReader> source);
    ~ReadAheadReader() override;

protected:
    bool readRow(std::uint32_t *out) override;
    bool readEnd() override;

private:
    void run();
    // Waits for the thread; the source is this thread's again afterwards.
    void join();

    std::unique_ptr<ImageRowReader> source;
    RowRing ring;
    bool sourceFinished = false; // set by the thread before it ends
    std::thread thread;
};

} // namespace veltrano

#endif // READAHEADREADER_H
