#ifndef INMEMORYCODEC_H
#define INMEMORYCODEC_H

#include <QByteArray>
#include <QList>
#include <QString>

namespace veltrano {

class SubcommandParser;
struct VariantOptions;

// What ftjpeg direct, inverse, compress and decompress do with the whole
// image in memory, through Qt's readers and writers: for the formats and
// cases the streamed operations (streamingcodec.h) leave to them, and for
// variant files. Each reports its failure and returns the exit status.
//
// The full program (inmemorycodec.cpp) does the work. The small front end
// that starts every ftjpeg command links no QtGui: its versions return
// ExitInFullProgram at once, having written and printed nothing, and the
// front end then runs the whole command in the full program.

int directInMemory(const QString &input, const QString &output, const QByteArray &format, int step, int radius);

// withinMemoryLimit: whether width x height is within the in-memory limit.
int inverseInMemory(const QString &input, const QString &output, const QByteArray &format, int width, int height,
                    int step, int radius, const QList<float> &weights, bool withinMemoryLimit);

// decodedFormat is empty when no decoded image is asked for.
int compressInMemory(const QString &input, const QString &output, int quality, const QList<float> &weights,
                     const QString &weightsFile, const QString &decodedFile, const QByteArray &decodedFormat);

// A variant file, its parameters read from the parser's variant options.
int compressVariantInMemory(const SubcommandParser &parser, const VariantOptions &options, const QString &input,
                            const QString &output, int quality, const QString &weightsFile,
                            const QString &decodedFile, const QByteArray &decodedFormat);

int decompressInMemory(const QString &input, const QString &output, const QByteArray &format,
                       const QList<float> &weights, const QString &weightsFile);

// A variant file, with the weights it records.
int decompressVariantInMemory(const QString &input, const QString &output, const QByteArray &format);

} // namespace veltrano

#endif // INMEMORYCODEC_H
