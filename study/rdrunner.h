#ifndef RDRUNNER_H
#define RDRUNNER_H

#include "study/rdpoint.h"
#include "study/rdscheme.h"

#include <QImage>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVector>

#include <functional>

namespace veltrano {

// One image file of the study with its place in the whole input list.
struct RdInput
{
    int index = 0;
    // The file; with an image given, only its name in the outputs.
    QString fileName;
    // An image held in memory (from Python), measured instead of a file.
    QImage image;
};

// Measures the points of every image, scheme and setting in parallel (one
// point per worker at a time) and collects them in input order, then
// scheme order, then setting order, so the results do not depend on the
// number of threads. An image that cannot be read is skipped, with the
// reason; a scheme that fails on an image is reported for that image and
// scheme, its points of the image left out, and the run goes on.
class RdRunner
{
public:
    RdRunner(const QVector<RdInput> &inputs, const QVector<RdScheme> &schemes, int jobs);

    // Keeps every encoded file as DIR/<stem>/<scheme>_<setting>.<suffix>,
    // the stem being the image file's name without its last suffix ("-" and
    // the image index appended when an earlier image of the run has the
    // same stem); points.csv names it.
    void setKeepDirectory(const QString &directory) { keepDirectory = directory; }

    // Writes the source and the decoded image of every point of an image as
    // PNG for the viewer, to DIR/<folder>/ (rdviewer.h names the folder and
    // the files), and sets RdImageResult::viewFolder. A point whose image
    // cannot be written fails its scheme on that image, as a failed encoder
    // does; an image whose source cannot be written is skipped.
    void setViewDirectory(const QString &directory) { viewDirectory = directory; }

    // Called after every point from the worker threads, one call at a time.
    void setPointDone(const std::function<void()> &callback) { pointDone = callback; }
    // Called once for each skipped image and once for each scheme that fails
    // on an image (RdSkippedImage::scheme set), from the worker threads, one
    // call at a time.
    void setImageSkipped(const std::function<void(const RdSkippedImage &)> &callback) { imageSkipped = callback; }

    // Metrics of the researcher's own, columns after the fixed ones of every
    // point (RdStudy::extraColumns): measure(source, decoded, values, error)
    // sets one value per name, or fails the point with *error. Called from
    // the worker threads, several at a time.
    using ExtraMetrics = std::function<bool(const QImage &source, const QImage &decoded, QVector<double> *values,
                                            QString *error)>;
    void setExtraMetrics(const QStringList &names, const ExtraMetrics &measure)
    {
        extraColumns = names;
        extraMetrics = measure;
    }

    // The images, skipped images and failures, each in input order.
    RdStudy run();

    // The points each image contributes: every setting of every scheme.
    int pointsPerImage() const;

private:
    QVector<RdInput> inputs;
    QVector<RdScheme> schemes;
    int jobs;
    QString keepDirectory;
    QString viewDirectory;
    std::function<void()> pointDone;
    std::function<void(const RdSkippedImage &)> imageSkipped;
    QStringList extraColumns;
    ExtraMetrics extraMetrics;
};

// The study of a list of image files with the given schemes on `jobs`
// threads, without progress or messages: the entry point for programs that
// run it in-process. Files are kept in keepDirectory unless it is empty.
RdStudy runRdStudy(const QStringList &imageFiles, const QVector<RdScheme> &schemes, int jobs,
                   const QString &keepDirectory = QString());

} // namespace veltrano

#endif // RDRUNNER_H
