#include "codec/streaming/streamingcodec.h"
#include "platform/messagetext.h"

#include "codec/format/hybridmarker.h"
#include "codec/rowio/imagerowreader.h"
#include "codec/rowio/imagerowwriter.h"
#include "codec/rowio/jpegrowwriter.h"
#include "codec/transform/kernel.h"
#include "codec/rowio/readaheadreader.h"
#include "codec/rowio/rowpipeline.h"
#include "codec/transform/rowtransforms.h"

#include <QCoreApplication>
#include <QDir>

#include <functional>
#include <memory>
#include <thread>

namespace veltrano {

namespace {

// Where the transform's rows go: the writer, through the pipeline when there
// is one. The transform stops as soon as the reader has failed.
struct RowSink
{
    ImageRowReader *reader;
    ImageRowWriter *writer;
    RowPipeline *pipeline;

    static bool take(void *context, int, const std::uint32_t *row)
    {
        RowSink *sink = static_cast<RowSink *>(context);
        if (sink->reader->failed())
            return false;
        return sink->pipeline ? sink->pipeline->push(row) : sink->writer->writeRow(row);
    }
};

using Transform = std::function<bool(transformkernels::TakeRow take, void *sink, QString *reason)>;

bool secondCore()
{
    return std::thread::hardware_concurrency() > 1;
}

// How the input is read: on the transform's thread, or decoded ahead on a
// thread of its own. Reading ahead pays where decoding is a large part of
// the work (the inverse transform's JPEG of components); where the writer's
// encoding is, a third thread only competes with it for the second core.
enum class Reading
{
    InTurn,
    Ahead,
};

// The transform's rows from the reader, to the writer. With a second core
// the writer encodes behind the transform on a thread of its own, and the
// reader decodes ahead when asked; the transform reads through `input`,
// which is replaced for that.
StreamOutcome run(std::unique_ptr<ImageRowReader> &input, Reading reading, ImageRowWriter &writer,
                  const Transform &transform, QString *error)
{
    if (!writer.start()) {
        *error = writer.error();
        return StreamOutcome::Failed;
    }
    if (reading == Reading::Ahead && secondCore())
        input.reset(new ReadAheadReader(std::move(input)));
    ImageRowReader &reader = *input;
    std::unique_ptr<RowPipeline> pipeline;
    if (secondCore())
        pipeline.reset(new RowPipeline(writer));
    RowSink sink{&reader, &writer, pipeline.get()};
    QString reason;
    const bool transformed = transform(&RowSink::take, &sink, &reason);
    const bool written = pipeline ? pipeline->drain() : true;
    // A damaged input is reported as the in-memory path reports it, or left
    // to that path, whatever was written.
    if (reader.failed())
        return streamReaderFailure(reader, error);
    if (!written || !transformed) {
        *error = written && !reason.isEmpty() ? reason : writer.error();
        return StreamOutcome::Failed;
    }
    if (!reader.finish())
        return streamReaderFailure(reader, error);
    if (!writer.finish()) {
        *error = writer.error();
        return StreamOutcome::Failed;
    }
    return StreamOutcome::Done;
}

// The resolution of a new image, which the transforms' outputs carry: Qt's
// 100 dpi when no screen is known, 96 dpi under Qt::AA_Use96Dpi. Only a
// QGuiApplication can know a screen and change it.
int defaultDotsPerMeter()
{
    return QCoreApplication::testAttribute(Qt::AA_Use96Dpi) ? 3780 : 3937;
}

bool guiApplication()
{
    const QCoreApplication *application = QCoreApplication::instance();
    return application && application->inherits("QGuiApplication");
}

// The direct transform of the reader's image into the writer, its rows read
// in turn; failure is the message should the transform fail.
StreamOutcome runDirect(std::unique_ptr<ImageRowReader> &reader, ImageRowWriter &writer, int step,
                        const QList<float> &kernel, const QString &failure, QString *error)
{
    const int width = reader->width();
    const int height = reader->height();
    return run(reader, Reading::InTurn, writer,
               [&](transformkernels::TakeRow take, void *sink, QString *reason) {
                   if (directFTransformRows(width, height, step, kernel, &ImageRowReader::fetch, reader.get(), take,
                                            sink))
                       return true;
                   *reason = failure;
                   return false;
               },
               error);
}

// The inverse transform of the reader's components to width x height into the
// writer, the components decoded ahead; a failure's reason follows prefix.
StreamOutcome runInverse(std::unique_ptr<ImageRowReader> &reader, ImageRowWriter &writer, int width, int height,
                         int step, int radius, const QList<float> &weights, const QString &prefix, QString *error)
{
    return run(reader, Reading::Ahead, writer,
               [&](transformkernels::TakeRow take, void *sink, QString *reason) {
                   QString message;
                   if (inverseFTransformRows(reader->width(), reader->height(), &ImageRowReader::fetch, reader.get(),
                                             width, height, step, radius, weights, take, sink, &message))
                       return true;
                   *reason = prefix + message;
                   return false;
               },
               error);
}

} // namespace

StreamOutcome streamReaderFailure(const ImageRowReader &reader, QString *error)
{
    if (reader.damage().isEmpty())
        return StreamOutcome::NotStreamed;
    *error = reader.damage();
    return StreamOutcome::Failed;
}

std::unique_ptr<ImageRowReader> openStreamInput(const QString &input, QString *error, StreamOutcome *outcome)
{
    std::unique_ptr<ImageRowReader> reader = ImageRowReader::open(input, error);
    *outcome = error->isEmpty() ? StreamOutcome::NotStreamed : StreamOutcome::Failed;
    return reader;
}

StreamOutcome streamDirectTransform(const QString &input, const QString &output, const QByteArray &format, int step,
                                    const QList<float> &kernel, QString *error)
{
    if (guiApplication() || !ImageRowWriter::handles(format) || step < 1 || kernel.isEmpty())
        return StreamOutcome::NotStreamed;
    StreamOutcome refused = StreamOutcome::NotStreamed;
    std::unique_ptr<ImageRowReader> reader = openStreamInput(input, error, &refused);
    if (!reader || reader->width() < step || reader->height() < step)
        return refused;
    const int width = reader->width();
    const int height = reader->height();
    const std::unique_ptr<ImageRowWriter> writer =
        ImageRowWriter::create(output, format, width / step, height / step, defaultDotsPerMeter(), -1);
    return runDirect(reader, *writer, step, kernel,
                     QStringLiteral("%1: cannot compute the component image").arg(displayName(input)), error);
}

StreamOutcome streamInverseTransform(const QString &input, const QString &output, const QByteArray &format,
                                     int width, int height, int step, int radius, const QList<float> &weights,
                                     QString *error)
{
    if (guiApplication() || !ImageRowWriter::handles(format))
        return StreamOutcome::NotStreamed;
    StreamOutcome refused = StreamOutcome::NotStreamed;
    std::unique_ptr<ImageRowReader> reader = openStreamInput(input, error, &refused);
    if (!reader)
        return refused;
    const std::unique_ptr<ImageRowWriter> writer =
        ImageRowWriter::create(output, format, width, height, defaultDotsPerMeter(), -1);
    return runInverse(reader, *writer, width, height, step, radius, weights, displayName(input) + QStringLiteral(": "),
                      error);
}

StreamOutcome streamHybridCompress(const QString &input, const QString &output, int quality,
                                   const QList<float> &weights, qint64 *pixels, qint64 *bytes, QString *error)
{
    if (quality < 0 || quality > 100)
        return StreamOutcome::NotStreamed;
    StreamOutcome refused = StreamOutcome::NotStreamed;
    std::unique_ptr<ImageRowReader> reader = openStreamInput(input, error, &refused);
    if (!reader || reader->width() < 2 || reader->height() < 2)
        return refused;
    const int width = reader->width();
    const int height = reader->height();
    if (weights.size() < requiredWeightCount(width, height, 2, 1))
        return StreamOutcome::NotStreamed;
    JpegRowWriter writer(output, width / 2, height / 2, hybridDotsPerMeter, quality);
    writer.setHybridMarker(true);
    const StreamOutcome outcome =
        runDirect(reader, writer, 2, makeRaisedCosineKernel(2),
                  QStringLiteral("cannot compress %1: cannot compute the component image").arg(displayName(input)),
                  error);
    *pixels = qint64(width) * qint64(height);
    *bytes = writer.bytesWritten();
    return outcome;
}

StreamOutcome streamHybridDecompress(const QString &input, const QString &output, const QByteArray &format,
                                     const QList<float> &weights, QString *error)
{
    if (!ImageRowWriter::handles(format))
        return StreamOutcome::NotStreamed;
    StreamOutcome refused = StreamOutcome::NotStreamed;
    std::unique_ptr<ImageRowReader> reader = openStreamInput(input, error, &refused);
    if (!reader)
        return refused;
    const qint64 width = qint64(reader->width()) * 2;
    const qint64 height = qint64(reader->height()) * 2;
    if (weights.size() < requiredWeightCount(int(width), int(height), 2, 1))
        return StreamOutcome::NotStreamed;
    const std::unique_ptr<ImageRowWriter> writer =
        ImageRowWriter::create(output, format, int(width), int(height), hybridDotsPerMeter, -1);
    return runInverse(reader, *writer, int(width), int(height), 2, 1, weights,
                      QStringLiteral("cannot decode %1: ").arg(displayName(input)), error);
}

} // namespace veltrano
