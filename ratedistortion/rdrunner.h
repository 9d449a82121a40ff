#ifndef RDRUNNER_H
#define RDRUNNER_H

#include "rdpoint.h"

#include <QList>
#include <QString>
#include <QVector>

#include <functional>

// One image file of the study with its place in the whole input list.
struct RdInput
{
    int index = 0;
    QString fileName;
};

// Measures images in parallel, each image on one worker thread, and collects
// the results in input order, so they do not depend on the number of
// threads. An image that cannot be read or measured is skipped, with the
// reason.
class RdRunner
{
public:
    RdRunner(const QVector<RdInput> &inputs, const QList<float> &weights, int jobs);

    // Called after every point from the worker threads, one call at a time.
    void setPointDone(const std::function<void()> &callback) { pointDone = callback; }
    // Called once for each skipped image, from the worker threads, one call
    // at a time.
    void setImageSkipped(const std::function<void(const RdSkippedImage &)> &callback) { imageSkipped = callback; }

    // The images and skipped images, each in input order.
    RdStudy run();

    // The points each image contributes: both schemes at every quality.
    static int pointsPerImage();

private:
    QVector<RdInput> inputs;
    QList<float> weights;
    int jobs;
    std::function<void()> pointDone;
    std::function<void(const RdSkippedImage &)> imageSkipped;
};

#endif // RDRUNNER_H
