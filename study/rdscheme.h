#ifndef RDSCHEME_H
#define RDSCHEME_H

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QVector>

#include <functional>

namespace veltrano {

// How a scheme that reduces the image by the F-transform stores the
// reduction: its node spacing and JPEG coding, which its matched ablations
// (rdresamplescheme.h) take over. Step 0 for every other scheme.
struct RdReduction
{
    int step = 0;
    // The classic hybrid file's writer (Qt's, three channels, baseline
    // 4:2:0), or else a variant file's (libjpeg with the flags below, grey
    // images in one channel).
    bool classicCoding = false;
    bool optimize = false;
    bool progressive = false;
    bool chroma444 = false;
};

// One scheme of the study: a name (as points.csv writes it), the settings it
// is swept over, and how it encodes an image at a setting and decodes the
// data back to an image of the source's size. Encode and decode are called
// from several threads at once, so they keep no state between calls.
struct RdScheme
{
    QString name;
    // What a setting is, for the report: "JPEG quality", "AVIF quality" ...
    QString settingName;
    // The suffix of a kept file: jpg, webp, avif, jxl.
    QString suffix;
    QVector<int> settings;
    // The encoded file; empty, with *error set, on failure.
    std::function<QByteArray(const QImage &source, int setting, QString *error)> encode;
    // The decoded image of size (the source's); null, with *error set, on
    // failure.
    std::function<QImage(const QByteArray &data, const QSize &size, QString *error)> decode;
    RdReduction reduction;
    // A failed point leaves out that point alone, the scheme's other settings
    // on the image still measured (schemes of programs from elsewhere, whose
    // failures are the point's own); otherwise it leaves out the scheme on
    // that image.
    bool skipFailedPoints = false;
};

// The schemes of ftjpeg rd, in their default order: jpeg, hybrid,
// jpeg-opt, resample-box, resample-lanczos, webp, avif, jxl. The hybrid
// scheme decodes with the given weights table.
QVector<RdScheme> rdStandardSchemes(const QList<float> &weights);

// Their names, in the same order.
QStringList rdStandardSchemeNames();

// The standard schemes of the names, in the order given. False, with *error
// naming the known schemes, for an unknown name, a name given twice, or no
// name at all. region (rdregionscheme.h) is found by name, not in the defaults.
bool selectRdSchemes(const QStringList &names, const QList<float> &weights, QVector<RdScheme> *schemes,
                     QString *error);

// The settings of the standard schemes.
QVector<int> rdQualities();        // jpeg, jpeg-opt, hybrid, resample-*: 0, 5, ..., 100
QVector<int> rdWebpQualities();    // 0, 5, 10, 20, ..., 90, 95, 100
QVector<int> rdAvifQualities();    // 0, 10, ..., 50, 55, ..., 90
QVector<int> rdJxlQualities();     // 0, 10, ..., 80, 85, 90, 95

// One item of a comma-separated scheme spec (--hybrid, --resample): "key" or
// "key=value", trimmed.
struct RdSpecItem
{
    QString item;
    QString key;
    QString value;
    bool hasValue = false;
};

// The items of a spec. False, with *error, for an empty spec ("an empty
// <what> spec") or a key given twice.
bool splitRdSpec(const QString &spec, const QString &what, QVector<RdSpecItem> *items, QString *error);

} // namespace veltrano

#endif // RDSCHEME_H
