#ifndef RDPROGRESS_H
#define RDPROGRESS_H

#include <QElapsedTimer>

#include <cstdio>
#include <mutex>

namespace veltrano {

// A progress bar with the estimated time left, redrawn in place on a
// terminal. Safe to advance from several threads. A disabled bar (standard
// error is no terminal) prints nothing at all.
class RdProgress
{
public:
    RdProgress(int total, bool enabled, FILE *stream = stderr);
    ~RdProgress();
    RdProgress(const RdProgress &) = delete;
    RdProgress &operator=(const RdProgress &) = delete;

    void advance(int steps = 1);
    // Prints a line of its own (a message), above the bar when it is drawn.
    void printLine(const QByteArray &text);
    // Draws the final state and ends the line; called by the destructor too.
    void finish();

    // The bar for done of total after elapsedMs, as drawn (no line end).
    static QByteArray line(int done, int total, qint64 elapsedMs);

private:
    void draw();

    std::mutex mutex;
    QElapsedTimer timer;
    qint64 lastDrawMs = -1;
    int total;
    int done = 0;
    bool enabled;
    bool finished = false;
    FILE *stream;
};

} // namespace veltrano

#endif // RDPROGRESS_H
