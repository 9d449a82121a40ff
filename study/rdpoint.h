#ifndef RDPOINT_H
#define RDPOINT_H

#include <QString>
#include <QStringList>
#include <QVector>

namespace veltrano {

// The two schemes the study has always compared, as points.csv names them;
// rdscheme.h has the others.
inline QString jpegScheme() { return QStringLiteral("jpeg"); }
inline QString hybridScheme() { return QStringLiteral("hybrid"); }

// One measured point: an image compressed by one scheme at one setting
// (quality).
struct RdPoint
{
    QString scheme;
    int quality = 0;
    qint64 sizeBytes = 0;
    // The file's bits in single precision over the pixels of the image.
    double bpp = 0.0;
    double psnr = 0.0;
    // Global structural similarity (one window: the whole image).
    float ssim = 0.0f;
    // Structural similarity over Gaussian windows, mean of red, green, blue.
    double windowedSsim = 0.0;
    double encodeMs = 0.0;
    double decodeMs = 0.0;
    // Multi-scale SSIM, mean of red, green, blue (msssim.h); NaN for an image
    // too small for it.
    double msSsim = 0.0;
    // Butteraugli distance (3-norm) and its largest value (butteraugli.h).
    double butteraugli = 0.0;
    double butteraugliMax = 0.0;
    // The kept encoded file, empty when files are not kept.
    QString file;
    // The bytes of a JPEG file that are not entropy-coded data (markers,
    // tables, segments; jpegHeaderBytes), -1 for other formats or when
    // unknown, and the bits per pixel of the rest, NaN then.
    qint64 headerBytes = -1;
    double payloadBpp = 0.0;
    // The values of the study's own metrics (RdStudy::extraColumns), in
    // their order.
    QVector<double> extra;
};

// All points of one image; index is its place in the whole input list, so
// the outputs of shards can be put back in order.
struct RdImageResult
{
    int index = 0;
    QString image;
    int width = 0;
    int height = 0;
    QVector<RdPoint> points;
    // The folder of its decoded images under the viewer's view/ folder
    // (rdviewer.h); empty when the run kept none.
    QString viewFolder;
};

// An image that could not be read or measured at all (scheme empty), or a
// scheme that failed on an image (its points of that image are left out).
struct RdSkippedImage
{
    int index = 0;
    QString image;
    QString reason;
    QString scheme;
};

// Which part of the input a run covered: every count-th image from index.
struct RdShard
{
    int index = 0;
    int count = 1;
    int inputImages = 0;
};

// An image of the study that a scheme's weights table was fitted on (as the
// table's provenance sidecar records it, weightfit.h): its figures for that
// scheme are not a held-out result.
struct RdFittedImage
{
    QString scheme;
    int index = 0;
    QString image;
};

// The results of a run or of merged runs, images in input order.
struct RdStudy
{
    QVector<RdImageResult> images;
    QVector<RdSkippedImage> skipped;
    // Schemes that failed on an image, in image order, then scheme order.
    QVector<RdSkippedImage> failures;
    QVector<RdShard> shards;
    QVector<RdFittedImage> fitted;
    // The names of metrics of the researcher's own, points.csv columns after
    // the fixed ones (none for a study of built-in metrics only).
    QStringList extraColumns;
};

} // namespace veltrano

#endif // RDPOINT_H
