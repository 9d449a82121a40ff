#ifndef RDPOINT_H
#define RDPOINT_H

#include <QString>
#include <QVector>

// The two schemes of the study, as points.csv names them.
inline QString jpegScheme() { return QStringLiteral("jpeg"); }
inline QString hybridScheme() { return QStringLiteral("hybrid"); }

// One measured point: an image compressed by one scheme at one quality.
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
};

struct RdSkippedImage
{
    int index = 0;
    QString image;
    QString reason;
};

// Which part of the input a run covered: every count-th image from index.
struct RdShard
{
    int index = 0;
    int count = 1;
    int inputImages = 0;
};

// The results of a run or of merged runs, images in input order.
struct RdStudy
{
    QVector<RdImageResult> images;
    QVector<RdSkippedImage> skipped;
    QVector<RdShard> shards;
};

#endif // RDPOINT_H
