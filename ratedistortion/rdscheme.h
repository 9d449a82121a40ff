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

#endif // RDSCHEME_H
