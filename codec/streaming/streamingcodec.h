#ifndef STREAMINGCODEC_H
#define STREAMINGCODEC_H

#include <QByteArray>
#include <QList>
#include <QString>

#include <memory>

namespace veltrano {

class ImageRowReader;

// The codec's file-to-file operations done row by row: the input is read,
// transformed and written as its rows come, in memory that grows with the
// width of the images only, with the writing on a second thread when the
// machine has one. The files they write are byte for byte those of the
// in-memory operations (read the whole image with readImageFile, transform
// it, write it with writeImageFile or as a hybrid file).
//
// Each handles what its readers and writers reproduce exactly
// (ImageRowReader, ImageRowWriter) and answers NotStreamed for the rest,
// without writing anything: unsupported formats, images too small for the
// transform, weights tables too short, inputs that turn out damaged while
// they are read. The caller then runs the in-memory operation, which reads
// the file with Qt's reader and reports what is wrong with it in its own
// words. Failed means the output could not be written; *error says why.
enum class StreamOutcome
{
    Done,
    Failed,
    NotStreamed,
};

// For streamed operations of other layers (the region codec's): the input's
// row reader, or null with *outcome telling whether the input was refused
// outright (Failed, *error set) or is left to the in-memory path
// (NotStreamed); and, once reading has failed, the outcome: Failed with the
// in-memory path's own message when the reader knows it, else NotStreamed.
std::unique_ptr<ImageRowReader> openStreamInput(const QString &input, QString *error, StreamOutcome *outcome);
StreamOutcome streamReaderFailure(const ImageRowReader &reader, QString *error);

// The transforms' outputs carry the default resolution of a new image, which
// in a program without a QGuiApplication is Qt's 100 dpi (96 dpi under
// Qt::AA_Use96Dpi); where a QGuiApplication exists a screen may change it,
// so streamDirectTransform and streamInverseTransform answer NotStreamed
// there. The hybrid operations write a fixed resolution and stream anywhere.

// The component image of the input (directFTransform) in the given format.
StreamOutcome streamDirectTransform(const QString &input, const QString &output, const QByteArray &format, int step,
                                    const QList<float> &kernel, QString *error);

// The input expanded to width x height (inverseFTransform). The caller has
// checked the table's length for the output size.
StreamOutcome streamInverseTransform(const QString &input, const QString &output, const QByteArray &format,
                                     int width, int height, int step, int radius, const QList<float> &weights,
                                     QString *error);

// The hybrid file of the input (encodeHybridJpeg) at the given quality
// (0 .. 100). *pixels receives the input's pixel count, *bytes the file's size.
StreamOutcome streamHybridCompress(const QString &input, const QString &output, int quality,
                                   const QList<float> &weights, qint64 *pixels, qint64 *bytes, QString *error);

// The hybrid file decoded (decompressHybrid with the table) in the given format.
StreamOutcome streamHybridDecompress(const QString &input, const QString &output, const QByteArray &format,
                                     const QList<float> &weights, QString *error);

} // namespace veltrano

#endif // STREAMINGCODEC_H
