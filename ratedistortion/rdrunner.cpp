#include "rdrunner.h"

#include "imagefile.h"
#include "rdmeasurement.h"

#include <QDir>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

namespace {

// A reason on one line: reader messages may carry line breaks.
QString oneLine(QString text)
{
    text.replace(QLatin1Char('\r'), QLatin1Char(' '));
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return text.simplified();
}

} // namespace

RdRunner::RdRunner(const QVector<RdInput> &inputs, const QList<float> &weights, int jobs)
    : inputs(inputs), weights(weights), jobs(std::max(1, jobs))
{
}

int RdRunner::pointsPerImage()
{
    return 2 * rdQualities().size();
}

RdStudy RdRunner::run()
{
    struct Outcome
    {
        bool measured = false;
        RdImageResult result;
        QString reason;
    };
    std::vector<Outcome> outcomes(std::size_t(inputs.size()));
    // The largest images first, so that no large image is left to run alone
    // at the end; the results go to their input positions all the same.
    std::vector<int> order(std::size_t(inputs.size()));
    std::vector<qint64> pixels(std::size_t(inputs.size()));
    for (int i = 0; i < inputs.size(); ++i) {
        order[std::size_t(i)] = i;
        const QSize size = readImageSize(inputs[i].fileName);
        pixels[std::size_t(i)] = size.isValid() ? qint64(size.width()) * size.height() : 0;
    }
    std::stable_sort(order.begin(), order.end(),
                     [&pixels](int a, int b) { return pixels[std::size_t(a)] > pixels[std::size_t(b)]; });
    std::atomic<int> next{0};
    std::mutex callbackMutex;

    const auto work = [&] {
        for (;;) {
            const int taken = next.fetch_add(1);
            if (taken >= inputs.size())
                return;
            const int position = order[std::size_t(taken)];
            const RdInput &input = inputs[position];
            Outcome &outcome = outcomes[std::size_t(position)];
            QImage source;
            QString error;
            int reported = 0;
            const auto done = [&] {
                ++reported;
                if (pointDone) {
                    std::lock_guard<std::mutex> lock(callbackMutex);
                    pointDone();
                }
            };
            if (readImageFile(input.fileName, source, &error)) {
                RdImageResult &result = outcome.result;
                result.index = input.index;
                result.image = input.fileName;
                result.width = source.width();
                result.height = source.height();
                outcome.measured = measureImage(source, weights, &result.points, &error, done);
                if (!outcome.measured)
                    error = QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(input.fileName), error);
            }
            if (!outcome.measured) {
                outcome.reason = oneLine(error);
                // The points an image did not get still count as done.
                std::lock_guard<std::mutex> lock(callbackMutex);
                for (; reported < pointsPerImage(); ++reported)
                    if (pointDone)
                        pointDone();
                if (imageSkipped)
                    imageSkipped(RdSkippedImage{input.index, input.fileName, outcome.reason});
            }
        }
    };

    const int threads = std::min<int>(jobs, std::max(1, inputs.size()));
    std::vector<std::thread> workers;
    for (int i = 1; i < threads; ++i)
        workers.emplace_back(work);
    work();
    for (std::thread &worker : workers)
        worker.join();

    RdStudy study;
    for (std::size_t i = 0; i < outcomes.size(); ++i) {
        if (outcomes[i].measured)
            study.images.append(outcomes[i].result);
        else
            study.skipped.append(RdSkippedImage{inputs[int(i)].index, inputs[int(i)].fileName, outcomes[i].reason});
    }
    return study;
}
