#include "study/rdrunner.h"

#include "codec/qimage/imagefile.h"
#include "platform/memorybudget.h"
#include "study/rdmeasurement.h"
#include "study/rdviewer.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

namespace veltrano {

namespace {

// A reason on one line: reader messages may carry line breaks.
QString oneLine(QString text)
{
    text.replace(QLatin1Char('\r'), QLatin1Char(' '));
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return text.simplified();
}

// The smallest image the study takes: the hybrid scheme and the resampling
// anchors halve it.
constexpr int minimumSide = 2;

// What one point of an image takes beside its source, at most: the encoded
// data, the decoded image, converted copies and the metrics' planes.
constexpr qint64 measureBytesPerPixel = 24;

// The state of one image while its points are measured: the source is read
// by the first point that needs it and dropped after the last.
struct ImageWork
{
    std::mutex mutex;
    bool loaded = false;
    bool skipped = false;
    QString reason;
    QImage source;
    QSize size;
    QString keepFolder;
    // The viewer's folder of the image (its name, and the whole path).
    QString viewName;
    QString viewFolder;
    RdViewer::WrittenImages viewImages;
    int remaining = 0;
    // Per scheme and setting.
    std::vector<std::vector<RdPoint>> points;
    std::vector<QString> failure;
    // The reasons of the points that failed alone (RdScheme::skipFailedPoints),
    // per scheme and setting; empty where the point was measured.
    std::vector<std::vector<QString>> pointFailure;
};

struct Task
{
    int image;
    int scheme;
    int setting;
};

} // namespace

RdRunner::RdRunner(const QVector<RdInput> &inputs, const QVector<RdScheme> &schemes, int jobs)
    : inputs(inputs), schemes(schemes), jobs(std::max(1, jobs))
{
}

int RdRunner::pointsPerImage() const
{
    int count = 0;
    for (const RdScheme &scheme : schemes)
        count += scheme.settings.size();
    return count;
}

RdStudy RdRunner::run()
{
    const int imageCount = inputs.size();
    std::vector<std::unique_ptr<ImageWork>> work;
    QSet<QString> stems;
    QStringList viewNames;
    for (int i = 0; i < imageCount; ++i) {
        auto image = std::make_unique<ImageWork>();
        image->remaining = pointsPerImage();
        image->points.resize(std::size_t(schemes.size()));
        image->failure.resize(std::size_t(schemes.size()));
        image->pointFailure.resize(std::size_t(schemes.size()));
        for (int s = 0; s < schemes.size(); ++s) {
            image->points[std::size_t(s)].resize(std::size_t(schemes[s].settings.size()));
            image->pointFailure[std::size_t(s)].resize(std::size_t(schemes[s].settings.size()));
        }
        if (!keepDirectory.isEmpty()) {
            QString stem = QFileInfo(inputs[i].fileName).completeBaseName();
            if (stems.contains(stem))
                stem += QStringLiteral("-%1").arg(inputs[i].index);
            stems.insert(stem);
            image->keepFolder = QDir::cleanPath(keepDirectory + QLatin1Char('/') + stem);
        }
        if (!viewDirectory.isEmpty()) {
            image->viewName = RdViewer::imageFolder(inputs[i].fileName, inputs[i].index, &viewNames);
            image->viewFolder = QDir::cleanPath(viewDirectory + QLatin1Char('/') + image->viewName);
        }
        work.push_back(std::move(image));
    }

    // The largest images first, so that no large image is left to run alone
    // at the end; the results go to their input positions all the same.
    std::vector<int> order(static_cast<std::size_t>(imageCount));
    std::vector<qint64> pixels(static_cast<std::size_t>(imageCount));
    for (int i = 0; i < imageCount; ++i) {
        order[std::size_t(i)] = i;
        const QSize size = inputs[i].image.isNull() ? readImageSize(inputs[i].fileName) : inputs[i].image.size();
        pixels[std::size_t(i)] = size.isValid() ? qint64(size.width()) * size.height() : 0;
    }
    std::stable_sort(order.begin(), order.end(),
                     [&pixels](int a, int b) { return pixels[std::size_t(a)] > pixels[std::size_t(b)]; });
    std::vector<Task> tasks;
    for (int image : order)
        for (int s = 0; s < schemes.size(); ++s)
            for (int k = 0; k < schemes[s].settings.size(); ++k)
                tasks.push_back(Task{image, s, k});

    std::atomic<std::size_t> next{0};
    std::mutex callbackMutex;
    const auto report = [&](const RdSkippedImage &skipped) {
        std::lock_guard<std::mutex> lock(callbackMutex);
        if (imageSkipped)
            imageSkipped(skipped);
    };

    const auto measure = [&](const Task &task) {
        ImageWork &image = *work[std::size_t(task.image)];
        const RdInput &input = inputs[task.image];
        const RdScheme &scheme = schemes[task.scheme];
        QImage source;
        bool writeOriginal = false;
        {
            std::lock_guard<std::mutex> lock(image.mutex);
            if (!image.loaded) {
                image.loaded = true;
                writeOriginal = !image.viewFolder.isEmpty();
                QString error;
                if (!input.image.isNull())
                    image.source = input.image;
                if ((input.image.isNull() && !readImageFile(input.fileName, image.source, &error))
                    || !fitsInMemory(qint64(image.source.width()) * image.source.height() * measureBytesPerPixel,
                                     QStringLiteral("measuring %1 (%2x%3 pixels)")
                                         .arg(QDir::toNativeSeparators(input.fileName))
                                         .arg(image.source.width())
                                         .arg(image.source.height()),
                                     &error)) {
                    image.skipped = true;
                    image.reason = oneLine(error);
                    image.source = QImage();
                } else if (image.source.width() < minimumSide || image.source.height() < minimumSide) {
                    image.skipped = true;
                    image.reason = QStringLiteral("%1: an image of %2x%3 pixels is too small for a component image")
                                       .arg(QDir::toNativeSeparators(input.fileName))
                                       .arg(image.source.width())
                                       .arg(image.source.height());
                    image.source = QImage();
                }
                image.size = image.source.size();
                if (image.skipped)
                    report(RdSkippedImage{input.index, input.fileName, image.reason, QString()});
            }
            if (image.skipped || !image.failure[std::size_t(task.scheme)].isEmpty())
                return;
            source = image.source;
        }
        QString error;
        if (writeOriginal
            && !RdViewer::writeImage(source, image.viewFolder, RdViewer::originalFileName(), &error)) {
            std::lock_guard<std::mutex> lock(image.mutex);
            image.skipped = true;
            image.reason = oneLine(error);
            report(RdSkippedImage{input.index, input.fileName, image.reason, QString()});
            return;
        }
        RdPoint point;
        QByteArray data;
        QImage decoded;
        const int setting = scheme.settings[task.setting];
        const bool needDecoded = !image.viewFolder.isEmpty() || extraMetrics;
        bool ok = measurePoint(source, scheme, setting, &point, &data, &error, needDecoded ? &decoded : nullptr);
        if (ok && extraMetrics) {
            QString reason;
            ok = extraMetrics(source, decoded, &point.extra, &reason) && point.extra.size() == extraColumns.size();
            if (!ok)
                error = QStringLiteral("%1 at %2: %3").arg(scheme.name).arg(setting).arg(reason);
        }
        if (ok && !image.viewFolder.isEmpty())
            ok = RdViewer::writeImage(decoded, image.viewFolder, RdViewer::pointFileName(scheme.name, setting),
                                      &error, &image.viewImages);
        decoded = QImage();
        if (ok && !image.keepFolder.isEmpty()) {
            point.file = QStringLiteral("%1/%2_%3.%4").arg(image.keepFolder, scheme.name).arg(setting).arg(scheme.suffix);
            ok = QDir().mkpath(image.keepFolder) && writeFileAtomically(point.file, data, &error);
            if (!ok && error.isEmpty())
                error = QStringLiteral("cannot create the folder %1").arg(QDir::toNativeSeparators(image.keepFolder));
        }
        std::lock_guard<std::mutex> lock(image.mutex);
        if (ok) {
            image.points[std::size_t(task.scheme)][std::size_t(task.setting)] = point;
        } else if (scheme.skipFailedPoints) {
            image.pointFailure[std::size_t(task.scheme)][std::size_t(task.setting)] = oneLine(error);
            report(RdSkippedImage{input.index, input.fileName, oneLine(error), scheme.name});
        } else if (image.failure[std::size_t(task.scheme)].isEmpty()) {
            image.failure[std::size_t(task.scheme)] = oneLine(error);
            report(RdSkippedImage{input.index, input.fileName, oneLine(error), scheme.name});
        }
    };

    const auto worker = [&] {
        for (;;) {
            const std::size_t taken = next.fetch_add(1);
            if (taken >= tasks.size())
                return;
            const Task &task = tasks[taken];
            ImageWork &image = *work[std::size_t(task.image)];
            try {
                measure(task);
            } catch (const std::bad_alloc &) {
                // The image is skipped when it could not even be read, the
                // scheme otherwise; the other images are measured.
                const RdInput &input = inputs[task.image];
                const QString reason = notEnoughMemoryMessage(
                    QStringLiteral("measuring %1").arg(QDir::toNativeSeparators(input.fileName)));
                const QString scheme = schemes[task.scheme].name;
                std::lock_guard<std::mutex> lock(image.mutex);
                if (!image.skipped && !image.size.isValid()) {
                    image.skipped = true;
                    image.reason = reason;
                    image.source = QImage();
                    report(RdSkippedImage{input.index, input.fileName, reason, QString()});
                } else if (!image.skipped && image.failure[std::size_t(task.scheme)].isEmpty()) {
                    image.failure[std::size_t(task.scheme)] = reason;
                    report(RdSkippedImage{input.index, input.fileName, reason, scheme});
                }
            }
            {
                std::lock_guard<std::mutex> lock(image.mutex);
                if (--image.remaining == 0)
                    image.source = QImage();
            }
            std::lock_guard<std::mutex> lock(callbackMutex);
            if (pointDone)
                pointDone();
        }
    };

    const int threads = int(std::min<std::size_t>(std::size_t(jobs), std::max<std::size_t>(1, tasks.size())));
    std::vector<std::thread> workers;
    for (int i = 1; i < threads; ++i)
        workers.emplace_back(worker);
    worker();
    for (std::thread &thread : workers)
        thread.join();

    RdStudy study;
    study.extraColumns = extraColumns;
    for (int i = 0; i < imageCount; ++i) {
        ImageWork &image = *work[std::size_t(i)];
        const RdInput &input = inputs[i];
        if (image.skipped || !image.loaded) {
            study.skipped.append(RdSkippedImage{input.index, input.fileName, image.reason, QString()});
            continue;
        }
        RdImageResult result;
        result.index = input.index;
        result.image = input.fileName;
        result.width = image.size.width();
        result.height = image.size.height();
        result.viewFolder = image.viewName;
        for (int s = 0; s < schemes.size(); ++s) {
            if (!image.failure[std::size_t(s)].isEmpty()) {
                study.failures.append(
                    RdSkippedImage{input.index, input.fileName, image.failure[std::size_t(s)], schemes[s].name});
                continue;
            }
            for (const RdPoint &point : image.points[std::size_t(s)])
                if (!point.scheme.isEmpty())
                    result.points.append(point);
            for (const QString &reason : image.pointFailure[std::size_t(s)])
                if (!reason.isEmpty())
                    study.failures.append(RdSkippedImage{input.index, input.fileName, reason, schemes[s].name});
        }
        study.images.append(result);
    }
    return study;
}

RdStudy runRdStudy(const QStringList &imageFiles, const QVector<RdScheme> &schemes, int jobs,
                   const QString &keepDirectory)
{
    QVector<RdInput> inputs;
    for (int i = 0; i < imageFiles.size(); ++i)
        inputs.append(RdInput{i, imageFiles[i], QImage()});
    RdRunner runner(inputs, schemes, jobs);
    runner.setKeepDirectory(keepDirectory);
    return runner.run();
}

} // namespace veltrano
