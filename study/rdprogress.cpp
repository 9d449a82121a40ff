#include "study/rdprogress.h"

#include <QByteArray>

namespace veltrano {

namespace {

constexpr int barWidth = 30;
// Redraws closer together than this gain nothing on a terminal.
constexpr qint64 redrawIntervalMs = 100;

QByteArray clock(qint64 seconds)
{
    const qint64 hours = seconds / 3600;
    const qint64 minutes = seconds / 60 % 60;
    const qint64 rest = seconds % 60;
    QByteArray text;
    if (hours > 0)
        text = QByteArray::number(hours) + ':' + QByteArray::number(minutes).rightJustified(2, '0');
    else
        text = QByteArray::number(minutes);
    return text + ':' + QByteArray::number(rest).rightJustified(2, '0');
}

} // namespace

RdProgress::RdProgress(int total, bool enabled, FILE *stream)
    : total(total), enabled(enabled), stream(stream)
{
    timer.start();
    if (enabled) {
        std::lock_guard<std::mutex> lock(mutex);
        draw();
    }
}

RdProgress::~RdProgress()
{
    finish();
}

QByteArray RdProgress::line(int done, int total, qint64 elapsedMs)
{
    const double fraction = total > 0 ? double(done) / double(total) : 1.0;
    const int filled = int(fraction * barWidth);
    QByteArray bar(filled, '#');
    bar += QByteArray(barWidth - filled, '.');
    QByteArray text = '[' + bar + "] " + QByteArray::number(int(fraction * 100.0)).rightJustified(3, ' ') + "% "
        + QByteArray::number(done) + '/' + QByteArray::number(total) + " points";
    if (done >= total)
        text += ", " + clock(elapsedMs / 1000) + " in all";
    else if (done > 0)
        text += ", " + clock((elapsedMs * qint64(total - done) / done + 999) / 1000) + " left";
    else
        text += ", estimating the time left";
    return text;
}

void RdProgress::advance(int steps)
{
    if (!enabled)
        return;
    std::lock_guard<std::mutex> lock(mutex);
    done += steps;
    const qint64 now = timer.elapsed();
    if (now - lastDrawMs >= redrawIntervalMs || done >= total)
        draw();
}

void RdProgress::printLine(const QByteArray &text)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (enabled && !finished)
        std::fputs("\r\033[K", stream);
    std::fprintf(stream, "%s\n", text.constData());
    if (enabled && !finished)
        draw();
    std::fflush(stream);
}

void RdProgress::finish()
{
    if (!enabled)
        return;
    std::lock_guard<std::mutex> lock(mutex);
    if (finished)
        return;
    finished = true;
    draw();
    std::fputc('\n', stream);
    std::fflush(stream);
}

void RdProgress::draw()
{
    lastDrawMs = timer.elapsed();
    // "\r" returns to the start of the line, "\033[K" clears what is left of
    // a longer earlier line.
    std::fprintf(stream, "\r%s\033[K", line(done, total, lastDrawMs).constData());
    std::fflush(stream);
}

} // namespace veltrano
