// The Python module veltrano: the codec, the metrics and the rate-distortion
// study on numpy arrays. Every function hands its work to the libraries the
// tools use, so results are those of ftjpeg to the bit; this file only
// converts arguments and results and releases the GIL around the work.

#include "study/bdrate.h"
#include "metrics/butteraugli.h"
#include "codec/qimage/directtransform.h"
#include "codec/qimage/hybridjpeg.h"
#include "codec/qimage/hybridvariant.h"
#include "metrics/imagemetrics.h"
#include "codec/qimage/inversetransform.h"
#include "codec/transform/kernel.h"
#include "metrics/msssim.h"
#include "study/rdpoint.h"
#include "study/rdpointfields.h"
#include "codec/region/gridsimilarity.h"
#include "codec/region/regionfile.h"
#include "codec/qimage/regionimagefile.h"
#include "study/rdcommandscheme.h"
#include "study/rdoutput.h"
#include "study/rdoutputfolder.h"
#include "study/rdresamplescheme.h"
#include "study/rdrunner.h"
#include "study/rdscheme.h"
#include "study/rdvariantscheme.h"
#include "study/codecs/module/studycodecs.h"
#include "codec/transform/weightsfile.h"
#include "metrics/windowedssim.h"
#include "experiments/workdirgenerator.h"
#include "platform/qtmessages.h"

#include <pybind11/eval.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <QByteArray>
#include <QDir>
#include <QRegularExpression>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QList>
#include <QString>
#include <QTemporaryFile>
#include <QThread>
#include <QVector>

#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <stdexcept>
#include <utility>

using namespace veltrano;

namespace py = pybind11;

namespace {

// The limits ftjpeg puts on its options.
constexpr int maxGeometry = maxTransformStep;
constexpr int maxJobs = 1024;

// Raised as OSError: a file that cannot be read.
class FileError : public std::runtime_error
{
public:
    explicit FileError(const QString &message) : std::runtime_error(message.toStdString()) {}
};

[[noreturn]] void valueError(const QString &message)
{
    throw py::value_error(message.toStdString());
}

QString text(const py::handle &object)
{
    return QString::fromStdString(py::str(object).cast<std::string>());
}

// An integer argument within [minimum, maximum], refused in ftjpeg's words.
int integerArgument(const py::handle &value, const char *name, int minimum, int maximum)
{
    const auto refuse = [&] {
        valueError(QStringLiteral("%1 must be an integer from %2 to %3, not '%4'")
                       .arg(QLatin1String(name))
                       .arg(minimum)
                       .arg(maximum)
                       .arg(text(value)));
    };
    // Python integers, numpy's and anything else with __index__, but not
    // floats or booleans.
    if (PyBool_Check(value.ptr()) || !PyIndex_Check(value.ptr()))
        refuse();
    const py::int_ integer = py::reinterpret_steal<py::int_>(PyNumber_Index(value.ptr()));
    int overflow = 0;
    const long long number = PyLong_AsLongLongAndOverflow(integer.ptr(), &overflow);
    if (overflow != 0 || number < minimum || number > maximum)
        refuse();
    return int(number);
}

QString pathArgument(const py::handle &path)
{
    const py::object fspath = py::module_::import("os").attr("fspath")(path);
    if (py::isinstance<py::bytes>(fspath))
        return QFile::decodeName(QByteArray::fromStdString(fspath.cast<std::string>()));
    return QString::fromStdString(fspath.cast<std::string>());
}

bool isPath(const py::handle &object)
{
    return py::isinstance<py::str>(object) || py::isinstance<py::bytes>(object)
        || py::hasattr(object, "__fspath__");
}

// An image argument: a uint8 array of shape (H, W), (H, W, 3) or (H, W, 4),
// seen as a QImage without a copy when its rows are packed pixels (any row
// stride), copied into packed rows otherwise. The QImage reads the array's
// memory, which `array` keeps alive.
struct ImageArgument
{
    py::array array;
    QImage image;
};

ImageArgument imageArgument(const py::handle &object, const char *name)
{
    ImageArgument argument;
    if (py::isinstance<py::array>(object))
        argument.array = py::reinterpret_borrow<py::array>(object);
    else
        argument.array = py::array::ensure(object);
    if (!argument.array)
        valueError(QStringLiteral("%1 must be a numpy array, not %2")
                       .arg(QLatin1String(name), text(py::type::handle_of(object).attr("__name__"))));
    py::array &array = argument.array;
    const QString shape = text(py::tuple(array.attr("shape")));
    const bool bytes = array.dtype().kind() == 'u' && array.itemsize() == 1;
    const int dimensions = int(array.ndim());
    const int channels = dimensions == 3 ? int(array.shape(2)) : 1;
    if (!bytes || !(dimensions == 2 || (dimensions == 3 && (channels == 3 || channels == 4))))
        valueError(QStringLiteral("%1 must be a uint8 array of shape (H, W), (H, W, 3) or (H, W, 4), not %2 of "
                                  "shape %3")
                       .arg(QLatin1String(name), text(array.dtype()), shape));
    const py::ssize_t height = array.shape(0);
    const py::ssize_t width = array.shape(1);
    if (height < 1 || width < 1)
        valueError(QStringLiteral("%1 is empty (shape %2)").arg(QLatin1String(name), shape));
    if (qint64(width) * qint64(height) > maxDecodedPixels)
        valueError(QStringLiteral("an image of %1x%2 pixels is too large (at most %3 pixels)")
                       .arg(qint64(width))
                       .arg(qint64(height))
                       .arg(maxDecodedPixels));
    const auto packedRows = [&] {
        return array.strides(1) == channels && (dimensions == 2 || array.strides(2) == 1)
            && array.strides(0) >= width * channels && array.strides(0) <= std::numeric_limits<int>::max();
    };
    if (!packedRows())
        array = py::array_t<std::uint8_t, py::array::c_style | py::array::forcecast>::ensure(array);
    const QImage::Format format = channels == 1 ? QImage::Format_Grayscale8
        : channels == 3                         ? QImage::Format_RGB888
                                                : QImage::Format_RGBX8888; // alpha ignored
    argument.image = QImage(static_cast<const uchar *>(array.data()), int(width), int(height),
                            int(array.strides(0)), format);
    if (argument.image.isNull())
        valueError(QStringLiteral("%1 of shape %2 cannot be used as an image").arg(QLatin1String(name), shape));
    return argument;
}

// An image as an array of shape (H, W, 3), red, green, blue: a view of the
// image's own memory (each pixel a 32-bit word 0xAARRGGBB, so red, green and
// blue lie at byte offsets 2, 1, 0 of a little-endian word), which the array
// owns from then on. No pixel is copied.
py::array imageArray(QImage image)
{
    if (image.format() != QImage::Format_RGB32 && image.format() != QImage::Format_ARGB32)
        image = image.convertToFormat(QImage::Format_ARGB32);
    auto *owned = new QImage(std::move(image));
    py::capsule owner(owned, [](void *pointer) { delete static_cast<QImage *>(pointer); });
    // The only reference: bits() does not copy.
    uchar *bits = owned->bits();
    const py::ssize_t height = owned->height();
    const py::ssize_t width = owned->width();
    const py::ssize_t rowStride = owned->bytesPerLine();
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
    return py::array(py::dtype::of<std::uint8_t>(), {height, width, py::ssize_t(3)},
                     {rowStride, py::ssize_t(4), py::ssize_t(-1)}, bits + 2, owner);
#else
    return py::array(py::dtype::of<std::uint8_t>(), {height, width, py::ssize_t(3)},
                     {rowStride, py::ssize_t(4), py::ssize_t(1)}, bits + 1, owner);
#endif
}

// The weights argument: None (the table of the working directory ftjpeg
// workdir writes), a path of a weights file, or a sequence of numbers. A file
// is read by load(), which runs without the GIL.
struct WeightsArgument
{
    QString fileName;
    QList<float> table;

    void load()
    {
        if (fileName.isEmpty())
            return;
        QString error;
        if (!loadWeightsTable(fileName, table, &error))
            throw FileError(error);
    }
};

WeightsArgument weightsArgument(const py::handle &object)
{
    WeightsArgument weights;
    if (object.is_none()) {
        weights.table = workingDirectoryWeights();
    } else if (isPath(object)) {
        weights.fileName = pathArgument(object);
    } else {
        py::array_t<float, py::array::c_style | py::array::forcecast> values;
        try {
            values = py::array_t<float, py::array::c_style | py::array::forcecast>::ensure(object);
        } catch (const py::error_already_set &) {
        }
        if (!values || values.ndim() != 1)
            valueError(QStringLiteral("weights must be None, a weights file or a sequence of numbers, not %1")
                           .arg(text(py::type::handle_of(object).attr("__name__"))));
        weights.table.reserve(int(values.size()));
        for (py::ssize_t i = 0; i < values.size(); ++i)
            weights.table.append(values.data()[i]);
    }
    return weights;
}

void checkWeightCount(const WeightsArgument &weights, int width, int height, int step, int radius)
{
    const int needed = requiredWeightCount(width, height, step, radius);
    if (weights.table.size() < needed)
        valueError(shortWeightsTableMessage(weights.fileName, weights.table.size(), needed, step, radius));
}

py::array weightsArray(const QList<float> &table)
{
    py::array_t<float> array(py::ssize_t(table.size()));
    std::copy(table.cbegin(), table.cend(), array.mutable_data());
    return std::move(array);
}

// --- the codec ---

py::array direct(const py::handle &imageObject, const py::handle &stepObject, const py::handle &radiusObject)
{
    const int step = integerArgument(stepObject, "step", 1, maxGeometry);
    const int radius = integerArgument(radiusObject, "radius", 1, maxGeometry);
    const ImageArgument source = imageArgument(imageObject, "image");
    if (source.image.width() < step || source.image.height() < step)
        valueError(QStringLiteral("an image of %1x%2 pixels is too small for node spacing %3")
                       .arg(source.image.width())
                       .arg(source.image.height())
                       .arg(step));
    QImage components;
    {
        py::gil_scoped_release release;
        components = directFTransform(source.image, step, makeRaisedCosineKernel(radius));
    }
    if (components.isNull())
        valueError(QStringLiteral("cannot compute the component image"));
    return imageArray(std::move(components));
}

// A size as ftjpeg's --size takes it: (width, height) or "WxH".
QSize sizeArgument(const py::handle &object)
{
    QString given;
    qint64 width = 0;
    qint64 height = 0;
    bool ok = false;
    if (py::isinstance<py::str>(object)) {
        given = text(object);
        const QStringList parts = given.split(QLatin1Char('x'));
        bool widthOk = false;
        bool heightOk = false;
        if (parts.size() == 2 && !parts[0].startsWith(QLatin1Char('+')) && !parts[1].startsWith(QLatin1Char('+'))) {
            width = parts[0].toLongLong(&widthOk);
            height = parts[1].toLongLong(&heightOk);
        }
        ok = widthOk && heightOk;
    } else if (py::isinstance<py::sequence>(object) && py::len(object) == 2) {
        const py::sequence pair = py::reinterpret_borrow<py::sequence>(object);
        const py::object w = pair[0];
        const py::object h = pair[1];
        given = QStringLiteral("%1x%2").arg(text(w), text(h));
        const auto integer = [](const py::object &value, qint64 *out) {
            if (PyBool_Check(value.ptr()) || !PyIndex_Check(value.ptr()))
                return false;
            int overflow = 0;
            const py::object index = py::reinterpret_steal<py::object>(PyNumber_Index(value.ptr()));
            *out = PyLong_AsLongLongAndOverflow(index.ptr(), &overflow);
            return overflow == 0;
        };
        ok = integer(w, &width) && integer(h, &height);
    } else {
        given = text(object);
    }
    if (!ok || width < 1 || height < 1 || width > std::numeric_limits<int>::max()
        || height > std::numeric_limits<int>::max() || width * height > maxDecodedPixels)
        valueError(QStringLiteral("size must be WIDTHxHEIGHT, both positive and at most %1 pixels in all, not '%2'")
                       .arg(maxDecodedPixels)
                       .arg(given));
    return QSize(int(width), int(height));
}

py::array inverse(const py::handle &componentsObject, const py::handle &sizeObject, const py::handle &stepObject,
                  const py::handle &radiusObject, const py::handle &weightsObject)
{
    const int step = integerArgument(stepObject, "step", 1, maxGeometry);
    const int radius = integerArgument(radiusObject, "radius", 0, maxGeometry);
    const QSize size = sizeArgument(sizeObject);
    WeightsArgument weights = weightsArgument(weightsObject);
    const ImageArgument components = imageArgument(componentsObject, "components");
    QImage expanded;
    QString error;
    {
        py::gil_scoped_release release;
        weights.load();
        const int needed = requiredWeightCount(size.width(), size.height(), step, radius);
        if (weights.table.size() >= needed)
            expanded = inverseFTransform(components.image, size.width(), size.height(), step, radius,
                                         weights.table, &error);
    }
    checkWeightCount(weights, size.width(), size.height(), step, radius);
    if (expanded.isNull())
        valueError(error);
    return imageArray(std::move(expanded));
}

// The variant options of compress, as ftjpeg compress takes them; false
// when none is given (the classic file).
bool variantArguments(const py::handle &step, const py::handle &kernelRadius, const py::handle &reconstructRadius,
                      bool optimize, bool progressive, const py::handle &chroma, bool clamp, HybridVariant *variant)
{
    if (step.is_none() && kernelRadius.is_none() && reconstructRadius.is_none() && !optimize && !progressive
        && chroma.is_none() && !clamp)
        return false;
    if (!step.is_none())
        variant->step = integerArgument(step, "step", 1, maxTransformStep);
    if (!kernelRadius.is_none())
        variant->kernelRadius = integerArgument(kernelRadius, "kernel_radius", 1, maxTransformStep);
    if (!reconstructRadius.is_none())
        variant->reconstructRadius = integerArgument(reconstructRadius, "reconstruct_radius", 0, maxTransformStep);
    variant->optimize = optimize;
    variant->progressive = progressive;
    variant->clamp = clamp;
    if (!chroma.is_none()) {
        const QString value = text(chroma);
        if (PyBool_Check(chroma.ptr()) || (value != QLatin1String("420") && value != QLatin1String("444")))
            valueError(QStringLiteral("chroma must be 420 or 444, not '%1'").arg(value));
        variant->chroma444 = value == QLatin1String("444");
    }
    const QString invalid = checkHybridVariant(*variant);
    if (!invalid.isEmpty())
        valueError(invalid);
    return true;
}

py::object compress(const py::handle &imageObject, const py::handle &qualityObject,
                    const py::handle &weightsObject, bool decoded, const py::handle &stepObject,
                    const py::handle &kernelRadiusObject, const py::handle &reconstructRadiusObject, bool optimize,
                    bool progressive, const py::handle &chromaObject, bool clamp)
{
    const int quality = integerArgument(qualityObject, "quality", 0, 100);
    HybridVariant variant;
    const bool isVariant = variantArguments(stepObject, kernelRadiusObject, reconstructRadiusObject, optimize,
                                            progressive, chromaObject, clamp, &variant);
    WeightsArgument weights = weightsArgument(weightsObject);
    const ImageArgument source = imageArgument(imageObject, "image");
    const int width = source.image.width();
    const int height = source.image.height();
    QByteArray data;
    QImage expanded;
    QString error;
    {
        py::gil_scoped_release release;
        weights.load();
        if (!isVariant) {
            if (hybridWeightsSuffice(weights.table, width, height, &error, weights.fileName)) {
                data = encodeHybridJpeg(source.image, quality, &error);
                if (decoded && !data.isEmpty())
                    expanded = decodeHybridJpeg(data, width, height, weights.table, &error);
            }
        } else {
            const int needed = requiredWeightCount(width, height, variant.step, variant.reconstructRadius);
            if (weights.table.size() < needed)
                error = shortWeightsTableMessage(weights.fileName, weights.table.size(), needed, variant.step,
                                                 variant.reconstructRadius);
            else if (decoded)
                expanded = compressHybridVariant(source.image, quality, variant, weights.table, &data, &error);
            else
                data = encodeHybridVariant(source.image, quality, variant, weights.table, &error);
        }
    }
    if (data.isEmpty() || (decoded && expanded.isNull()))
        valueError(error);
    py::bytes file(data.constData(), std::size_t(data.size()));
    if (!decoded)
        return std::move(file);
    return py::make_tuple(file, imageArray(std::move(expanded)));
}

py::array decompress(const py::handle &dataObject, const py::handle &weightsObject)
{
    // The bytes are read where they lie: a bytes object is immutable and
    // kept alive here; anything else is copied into one first.
    py::bytes bytes;
    if (py::isinstance<py::bytes>(dataObject)) {
        bytes = py::reinterpret_borrow<py::bytes>(dataObject);
    } else {
        if (!PyObject_CheckBuffer(dataObject.ptr()))
            valueError(QStringLiteral("data must be bytes or another bytes-like object, not %1")
                           .arg(text(py::type::handle_of(dataObject).attr("__name__"))));
        bytes = py::reinterpret_steal<py::bytes>(PyBytes_FromObject(dataObject.ptr()));
        if (!bytes)
            throw py::error_already_set();
    }
    char *pointer = nullptr;
    Py_ssize_t length = 0;
    PyBytes_AsStringAndSize(bytes.ptr(), &pointer, &length);
    if (length > std::numeric_limits<int>::max())
        valueError(QStringLiteral("%1 bytes are more than a hybrid file can hold").arg(qint64(length)));
    const QByteArray data = QByteArray::fromRawData(pointer, int(length));
    if (!isHybridJpegData(data))
        valueError(QStringLiteral("the data is not a hybrid JPEG file (open it as a plain image)"));
    WeightsArgument weights = weightsArgument(weightsObject);
    QImage image;
    QString error;
    {
        py::gil_scoped_release release;
        weights.load();
        // Decoded from a file, as ftjpeg decompress decodes it, with every
        // check of a file read (damaged and truncated streams included); the
        // file is small beside the image it decodes to.
        QTemporaryFile file(QDir::tempPath() + QStringLiteral("/veltrano-XXXXXX.jpg"));
        if (!file.open() || file.write(data) != data.size() || !file.flush())
            throw FileError(QStringLiteral("cannot write a temporary file for the data: %1").arg(file.errorString()));
        // A variant file records its weights; a classic one needs the table.
        if (isHybridVariantFile(file.fileName()))
            image = decompressHybridVariant(file.fileName(), &error);
        else
            image = decompressHybrid(file.fileName(), weights.table, &error, weights.fileName);
        error.replace(QDir::toNativeSeparators(file.fileName()), QStringLiteral("the data"));
    }
    if (image.isNull())
        valueError(error);
    return imageArray(std::move(image));
}

py::array readWeights(const py::handle &path)
{
    WeightsArgument weights;
    weights.fileName = pathArgument(path);
    {
        py::gil_scoped_release release;
        weights.load();
    }
    return weightsArray(weights.table);
}

// --- the metrics ---

// The reference and test images of a metric, of equal sizes.
std::pair<ImageArgument, ImageArgument> imagePair(const py::handle &referenceObject, const py::handle &testObject)
{
    std::pair<ImageArgument, ImageArgument> pair{imageArgument(referenceObject, "reference"),
                                                 imageArgument(testObject, "test")};
    const QImage &reference = pair.first.image;
    const QImage &test = pair.second.image;
    if (reference.size() != test.size())
        valueError(QStringLiteral("the images differ in size (%1x%2 and %3x%4)")
                       .arg(reference.width())
                       .arg(reference.height())
                       .arg(test.width())
                       .arg(test.height()));
    return pair;
}

double checkedFigure(double value, const QString &error)
{
    if (std::isnan(value) && !error.isEmpty())
        valueError(error);
    return value;
}

double metricMse(const py::handle &reference, const py::handle &test)
{
    const auto images = imagePair(reference, test);
    py::gil_scoped_release release;
    return double(mse(images.first.image, images.second.image));
}

double metricSsim(const py::handle &reference, const py::handle &test)
{
    const auto images = imagePair(reference, test);
    py::gil_scoped_release release;
    return double(ssim(images.first.image, images.second.image));
}

// A figure of two images that may fail, computed without the GIL.
template<class Figure>
double pairFigure(const py::handle &reference, const py::handle &test, Figure figure)
{
    const auto images = imagePair(reference, test);
    QString error;
    double value = 0.0;
    {
        py::gil_scoped_release release;
        value = figure(images.first.image, images.second.image, &error);
    }
    return checkedFigure(value, error);
}

double metricPsnr(const py::handle &reference, const py::handle &test)
{
    return pairFigure(reference, test,
                      [](const QImage &a, const QImage &b, QString *error) { return psnr(a, b, error); });
}

double metricWindowedSsim(const py::handle &reference, const py::handle &test, const py::handle &channelObject)
{
    const int channel = channelObject.is_none() ? -1 : integerArgument(channelObject, "channel", 0, 3);
    return pairFigure(reference, test, [channel](const QImage &a, const QImage &b, QString *error) {
        return channel < 0 ? windowedSsimRgbMean(a, b, error) : windowedSsim(a, b, channel, error);
    });
}

double metricMsSsim(const py::handle &reference, const py::handle &test)
{
    return pairFigure(reference, test,
                      [](const QImage &a, const QImage &b, QString *error) { return msSsim(a, b, error); });
}

// Butteraugli and the study's codecs are computed in the study-codec module:
// OSError when it cannot be loaded.
void requireStudyCodecs()
{
    QString error;
    if (!studyCodecs(&error))
        throw FileError(error);
}

py::tuple metricButteraugli(const py::handle &reference, const py::handle &test)
{
    const auto images = imagePair(reference, test);
    requireStudyCodecs();
    QString error;
    ButteraugliDistance distance;
    bool ok = false;
    {
        py::gil_scoped_release release;
        ok = butteraugliDistance(images.first.image, images.second.image, &distance, &error);
    }
    if (!ok)
        valueError(error);
    return py::make_tuple(distance.pNorm3, distance.max);
}

// --- the study ---

QVector<RateQualityPoint> curve(const py::handle &rates, const py::handle &qualities, const char *name)
{
    using Values = py::array_t<double, py::array::c_style | py::array::forcecast>;
    Values rate;
    Values quality;
    try {
        rate = Values::ensure(rates);
        quality = Values::ensure(qualities);
    } catch (const py::error_already_set &) {
    }
    if (!rate || !quality || rate.ndim() != 1 || quality.ndim() != 1 || rate.size() != quality.size())
        valueError(QStringLiteral("rate_%1 and quality_%1 must be sequences of numbers of the same length")
                       .arg(QLatin1String(name)));
    QVector<RateQualityPoint> points;
    for (py::ssize_t i = 0; i < rate.size(); ++i)
        points.append(RateQualityPoint{rate.data()[i], quality.data()[i]});
    return points;
}

BdResult bdResult(const py::handle &rateA, const py::handle &qualityA, const py::handle &rateB,
                  const py::handle &qualityB)
{
    const QVector<RateQualityPoint> a = curve(rateA, qualityA, "a");
    const QVector<RateQualityPoint> b = curve(rateB, qualityB, "b");
    return bjontegaardDelta(a, b);
}

// A Python object that the study's threads may copy and drop without the
// GIL: only the last copy touches the object, taking the GIL to release it.
class SharedObject
{
public:
    explicit SharedObject(py::object object)
        : shared(new py::object(std::move(object)), [](py::object *pointer) {
              py::gil_scoped_acquire gil;
              delete pointer;
          })
    {
    }
    const py::object &get() const { return *shared; }

private:
    std::shared_ptr<py::object> shared;
};

// A Python exception as one line: its type and message.
QString exceptionText(const py::error_already_set &error)
{
    QString message = text(error.value());
    message.replace(QLatin1Char('\n'), QLatin1Char(' '));
    const QString type = text(error.type().attr("__name__"));
    return message.isEmpty() ? type : type + QStringLiteral(": ") + message.simplified();
}

QString typeName(const py::handle &object)
{
    return text(py::type::handle_of(object).attr("__name__"));
}

// An image for Python: a new (H, W, 3) uint8 array of red, green, blue.
py::array sourceArray(const QImage &image)
{
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    py::array_t<std::uint8_t> array({py::ssize_t(rgb.height()), py::ssize_t(rgb.width()), py::ssize_t(3)});
    for (int y = 0; y < rgb.height(); ++y)
        std::copy_n(rgb.constScanLine(y), std::size_t(rgb.width()) * 3, array.mutable_data(y, 0, 0));
    return std::move(array);
}

// A scheme written in Python: an object with name, settings, encode(image,
// setting) -> bytes and decode(data, (height, width)) -> array, and an
// optional suffix. Its calls take the GIL for themselves only; a call that
// raises or returns the wrong type fails its point alone.
RdScheme pythonScheme(const py::handle &object)
{
    for (const char *needed : {"name", "settings", "encode", "decode"})
        if (!py::hasattr(object, needed))
            valueError(QStringLiteral("a scheme must be a name, 'hybrid:SPEC' or an object with name, settings, "
                                      "encode and decode; %1 has no %2")
                           .arg(typeName(object), QLatin1String(needed)));
    RdScheme scheme;
    scheme.name = text(object.attr("name"));
    QString error;
    if (!checkRdSchemeName(scheme.name, &error))
        valueError(QStringLiteral("scheme name '%1': %2").arg(scheme.name, error));
    const py::object settings = object.attr("settings");
    if (!py::isinstance<py::iterable>(settings) || py::isinstance<py::str>(settings))
        valueError(QStringLiteral("scheme %1: settings must be a sequence of integers, not %2")
                       .arg(scheme.name, typeName(settings)));
    for (const py::handle setting : py::reinterpret_borrow<py::iterable>(settings))
        scheme.settings.append(integerArgument(setting, "a setting", -1000000, 1000000));
    if (!checkRdSettings(scheme.settings, &error))
        valueError(QStringLiteral("scheme %1: %2").arg(scheme.name, error));
    scheme.suffix = QStringLiteral("bin");
    if (py::hasattr(object, "suffix") && !object.attr("suffix").is_none()) {
        scheme.suffix = text(object.attr("suffix"));
        if (!QRegularExpression(QStringLiteral("^[A-Za-z0-9]{1,16}$")).match(scheme.suffix).hasMatch())
            valueError(QStringLiteral("scheme %1: a suffix is 1 to 16 letters and digits, not '%2'")
                           .arg(scheme.name, scheme.suffix));
    }
    scheme.settingName = QStringLiteral("%1 setting").arg(scheme.name);
    scheme.skipFailedPoints = true;
    const SharedObject shared{py::reinterpret_borrow<py::object>(object)};
    const QString name = scheme.name;
    scheme.encode = [shared, name](const QImage &source, int setting, QString *error) {
        py::gil_scoped_acquire gil;
        try {
            const py::object result = shared.get().attr("encode")(sourceArray(source), setting);
            if (!PyBytes_Check(result.ptr()) && !PyByteArray_Check(result.ptr())) {
                *error = QStringLiteral("the encoder of %1 returned %2, not bytes").arg(name, typeName(result));
                return QByteArray();
            }
            const std::string bytes = py::bytes(result);
            if (bytes.empty())
                *error = QStringLiteral("the encoder of %1 returned no bytes").arg(name);
            return QByteArray(bytes.data(), int(bytes.size()));
        } catch (py::error_already_set &raised) {
            *error = QStringLiteral("the encoder of %1 raised %2").arg(name, exceptionText(raised));
        }
        return QByteArray();
    };
    scheme.decode = [shared, name](const QByteArray &data, const QSize &size, QString *error) {
        py::gil_scoped_acquire gil;
        try {
            const py::object result = shared.get().attr("decode")(
                py::bytes(data.constData(), std::size_t(data.size())), py::make_tuple(size.height(), size.width()));
            // A copy of the pixels: the array may change or go once the call
            // is over.
            return imageArgument(result, "the decoded image").image.copy();
        } catch (py::error_already_set &raised) {
            *error = QStringLiteral("the decoder of %1 raised %2").arg(name, exceptionText(raised));
        } catch (const std::exception &refused) {
            *error = QStringLiteral("the decoder of %1 returned %2").arg(name, QString::fromUtf8(refused.what()));
        }
        return QImage();
    };
    return scheme;
}

// The images of a study: a path, or a sequence of paths and (name, array)
// pairs. Arrays are copied, so that the study's threads read them without
// the GIL.
QVector<RdInput> studyInputs(const py::handle &imagesObject)
{
    QVector<RdInput> inputs;
    if (isPath(imagesObject)) {
        inputs.append(RdInput{0, pathArgument(imagesObject), QImage()});
        return inputs;
    }
    if (!py::isinstance<py::iterable>(imagesObject))
        valueError(QStringLiteral("images must be a path or a sequence of paths and (name, array) pairs, not %1")
                       .arg(typeName(imagesObject)));
    for (const py::handle item : py::reinterpret_borrow<py::iterable>(imagesObject)) {
        if (isPath(item)) {
            inputs.append(RdInput{inputs.size(), pathArgument(item), QImage()});
            continue;
        }
        if (!py::isinstance<py::tuple>(item) || py::len(item) != 2 || !py::isinstance<py::str>(item[py::int_(0)]))
            valueError(QStringLiteral("images must be paths of image files or (name, array) pairs, not %1")
                           .arg(typeName(item)));
        const QString name = text(item[py::int_(0)]);
        QImage image = imageArgument(item[py::int_(1)], "an image").image.copy();
        if (image.isNull())
            valueError(QStringLiteral("not enough memory for the image %1").arg(name));
        inputs.append(RdInput{inputs.size(), name, image});
    }
    return inputs;
}

// The schemes of a study, checked: names of built-in schemes and
// "hybrid:SPEC" (variants) as strings, a string of names separated by commas,
// or scheme objects (pythonScheme). The variants' weights files are read by
// load().
struct StudySchemes
{
    QStringList names;
    QVector<RdVariantSpec> variants;
    QVector<RdScheme> own;

    QVector<RdScheme> load(const QList<float> &weights) const
    {
        QVector<RdScheme> schemes;
        if (!names.isEmpty())
            selectRdSchemes(names, weights, &schemes, nullptr);
        for (const RdVariantSpec &variant : variants) {
            QList<float> table = weights;
            QString error;
            if (!variant.weightsFile.isEmpty() && !loadWeightsTable(variant.weightsFile, table, &error))
                throw FileError(error);
            schemes.append(rdVariantScheme(variant, table));
        }
        return schemes + own;
    }
};

StudySchemes studySchemes(const py::handle &schemesObject)
{
    StudySchemes result;
    QVector<py::handle> items;
    if (schemesObject.is_none()) {
        result.names = rdStandardSchemeNames();
    } else if (py::isinstance<py::str>(schemesObject)) {
        // One string of names separated by commas, as --schemes takes them,
        // or one variant.
        const QString names = text(schemesObject);
        if (names.startsWith(QLatin1String("hybrid:")))
            items.append(schemesObject);
        else
            for (const QString &name : names.split(QLatin1Char(','), Qt::SkipEmptyParts))
                result.names.append(name.trimmed());
    } else if (py::isinstance<py::iterable>(schemesObject) && !py::hasattr(schemesObject, "encode")) {
        for (const py::handle item : py::reinterpret_borrow<py::iterable>(schemesObject))
            items.append(item);
    } else {
        items.append(schemesObject);
    }
    QStringList taken;
    for (const py::handle item : items) {
        QString error;
        if (py::isinstance<py::str>(item)) {
            const QString name = text(item);
            if (name.startsWith(QLatin1String("hybrid:"))) {
                RdVariantSpec variant;
                if (!parseRdVariantSpec(name.mid(7), &variant, &error))
                    valueError(QStringLiteral("schemes: %1").arg(error));
                result.variants.append(variant);
                taken.append(variant.name);
            } else {
                result.names.append(name);
            }
            continue;
        }
        result.own.append(pythonScheme(item));
        taken.append(result.own.last().name);
    }
    if (!result.names.isEmpty() || taken.isEmpty()) {
        QVector<RdScheme> checked;
        QString error;
        if (!selectRdSchemes(result.names, QList<float>(), &checked, &error))
            valueError(QStringLiteral("schemes: %1").arg(error));
    }
    taken += result.names;
    for (int i = 0; i < taken.size(); ++i)
        if (taken.indexOf(taken[i]) != i)
            valueError(QStringLiteral("schemes: scheme '%1' is given twice").arg(taken[i]));
    return result;
}

// Metrics of the researcher's own: a dict of names and functions
// fn(reference, decoded) -> float, called with the GIL taken.
struct StudyMetrics
{
    QStringList names;
    RdRunner::ExtraMetrics measure;
};

StudyMetrics studyMetrics(const py::handle &metricsObject)
{
    StudyMetrics metrics;
    if (metricsObject.is_none())
        return metrics;
    if (!py::isinstance<py::dict>(metricsObject))
        valueError(QStringLiteral("metrics must be a dict of names and functions, not %1").arg(typeName(metricsObject)));
    auto functions = std::make_shared<std::vector<SharedObject>>();
    static const QStringList fixed{"image_index", "image", "width", "height", "scheme", "quality", "size_bytes",
                                   "bpp", "psnr_db", "ssim", "windowed_ssim", "encode_ms", "decode_ms", "ms_ssim",
                                   "butteraugli", "butteraugli_max", "file", "header_bytes", "payload_bpp"};
    for (const auto item : py::reinterpret_borrow<py::dict>(metricsObject)) {
        const QString name = text(item.first);
        if (!QRegularExpression(QStringLiteral("^[A-Za-z_][A-Za-z0-9_]{0,63}$")).match(name).hasMatch()
            || fixed.contains(name))
            valueError(QStringLiteral("metric name '%1': a metric is named by 1 to 64 letters, digits and '_', not "
                                      "starting with a digit, and not as a column of points.csv")
                           .arg(name));
        if (!PyCallable_Check(item.second.ptr()))
            valueError(QStringLiteral("metric %1 is not callable").arg(name));
        metrics.names.append(name);
        functions->push_back(SharedObject{py::reinterpret_borrow<py::object>(item.second)});
    }
    const QStringList names = metrics.names;
    metrics.measure = [functions, names](const QImage &source, const QImage &decoded, QVector<double> *values,
                                         QString *error) {
        py::gil_scoped_acquire gil;
        const py::array reference = sourceArray(source);
        const py::array test = sourceArray(decoded);
        values->clear();
        for (std::size_t i = 0; i < functions->size(); ++i) {
            try {
                const py::object value = (*functions)[i].get()(reference, test);
                values->append(py::float_(value).cast<double>());
            } catch (py::error_already_set &raised) {
                *error = QStringLiteral("the metric %1 raised %2").arg(names[int(i)], exceptionText(raised));
                return false;
            }
        }
        return true;
    };
    return metrics;
}

// Runs the study without the GIL (Python schemes and metrics take it for
// their own calls), warns of what was skipped.
RdStudy runStudy(const QVector<RdInput> &inputs, const StudySchemes &schemes, const StudyMetrics &metrics,
                 WeightsArgument &weights, int jobs, const QString &keep, RdShard *shard)
{
    // Every point has its Butteraugli distance: without the module, nothing
    // is measured.
    requireStudyCodecs();
    QVector<RdInput> measured;
    for (const RdInput &input : inputs)
        if (!shard || input.index % shard->count == shard->index)
            measured.append(input);
    RdStudy study;
    {
        py::gil_scoped_release release;
        weights.load();
        RdRunner runner(measured, schemes.load(weights.table), jobs);
        if (!keep.isEmpty())
            runner.setKeepDirectory(keep);
        if (metrics.measure)
            runner.setExtraMetrics(metrics.names, metrics.measure);
        study = runner.run();
    }
    if (shard) {
        shard->inputImages = inputs.size();
        study.shards.append(*shard);
    }
    const py::object warn = py::module_::import("warnings").attr("warn");
    for (const RdSkippedImage &skipped : study.skipped + study.failures)
        warn((skipped.scheme.isEmpty() ? QStringLiteral("skipped %1").arg(skipped.reason)
                                       : QStringLiteral("skipped on %1: %2").arg(skipped.image, skipped.reason))
                 .toStdString(),
             py::handle(PyExc_RuntimeWarning), 3);
    return study;
}

int jobsArgument(const py::handle &jobsObject)
{
    return jobsObject.is_none() ? QThread::idealThreadCount() : integerArgument(jobsObject, "jobs", 1, maxJobs);
}

// The arguments rd() and study() share, checked before anything runs.
struct StudyArguments
{
    QVector<RdInput> inputs;
    StudySchemes schemes;
    StudyMetrics metrics;
    int jobs = 1;
    WeightsArgument weights;

    StudyArguments(const py::handle &images, const py::handle &schemesObject, const py::handle &jobsObject,
                   const py::handle &weightsObject, const py::handle &metricsObject)
        : inputs(studyInputs(images)), schemes(studySchemes(schemesObject)), metrics(studyMetrics(metricsObject)),
          jobs(jobsArgument(jobsObject)), weights(weightsArgument(weightsObject))
    {
    }

    RdStudy run(const QString &keep, RdShard *shard)
    {
        return runStudy(inputs, schemes, metrics, weights, jobs, keep, shard);
    }
};

py::object rd(const py::handle &imagesObject, const py::handle &schemesObject, const py::handle &jobsObject,
              const py::handle &weightsObject, const py::handle &metricsObject)
{
    StudyArguments arguments(imagesObject, schemesObject, jobsObject, weightsObject, metricsObject);
    const RdStudy study = arguments.run(QString(), nullptr);

    // The columns of points.csv, from its field table.
    const QVector<RdPointField> fields = rdStudyPointFields(study.extraColumns);
    QStringList columns{"image_index", "image", "width", "height"};
    for (const RdPointField &field : fields)
        columns.append(field.column);
    py::list points;
    for (const RdImageResult &image : study.images)
        for (const RdPoint &point : image.points) {
            py::dict row;
            row["image_index"] = image.index;
            row["image"] = image.image.toStdString();
            row["width"] = image.width;
            row["height"] = image.height;
            for (const RdPointField &field : fields) {
                const py::str key(field.column.toStdString());
                using Format = RdPointField::Format;
                if (field.format == Format::Text)
                    row[key] = field.text(point).toStdString();
                else if (field.format == Format::Integer)
                    row[key] = qint64(field.value(point));
                else if (field.format == Format::OptionalInteger)
                    row[key] = field.value(point) < 0 ? py::object(py::none()) : py::int_(qint64(field.value(point)));
                else
                    row[key] = field.value(point);
            }
            points.append(row);
        }
    py::object pandas;
    try {
        pandas = py::module_::import("pandas");
    } catch (const py::error_already_set &error) {
        if (!error.matches(PyExc_ImportError))
            throw;
        return std::move(points);
    }
    py::list names;
    for (const QString &column : columns)
        names.append(column.toStdString());
    return pandas.attr("DataFrame")(points, py::arg("columns") = names);
}

// The plots are drawn with Qt's fonts, which need a QGuiApplication; a
// Python process has none, so the module makes one, off screen, once.
void ensureGuiApplication()
{
    if (QCoreApplication::instance())
        return;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "veltrano";
    static char *argv[] = {name, nullptr};
    static QGuiApplication *application = new QGuiApplication(argc, argv);
    Q_UNUSED(application);
}

std::string study(const py::handle &imagesObject, const py::handle &schemesObject, const py::handle &outObject,
                  const py::handle &keepObject, const py::handle &jobsObject, const py::handle &shardObject,
                  const py::handle &metricsObject, const py::handle &weightsObject)
{
    StudyArguments arguments(imagesObject, schemesObject, jobsObject, weightsObject, metricsObject);
    const QVector<RdInput> &inputs = arguments.inputs;
    const QString out = pathArgument(outObject);
    const QString keep = keepObject.is_none() ? QString() : pathArgument(keepObject);
    RdShard shard;
    if (!shardObject.is_none()) {
        // "K/N" as --shard takes it, or a pair (K, N).
        const QStringList parts = py::isinstance<py::str>(shardObject)
                                      ? text(shardObject).split(QLatin1Char('/'))
                                      : QStringList{text(shardObject[py::int_(0)]), text(shardObject[py::int_(1)])};
        bool indexOk = false;
        bool countOk = false;
        if (parts.size() == 2) {
            shard.index = parts[0].toInt(&indexOk);
            shard.count = parts[1].toInt(&countOk);
        }
        if (!indexOk || !countOk || shard.count < 1 || shard.index < 0 || shard.index >= shard.count)
            valueError(QStringLiteral("shard must be 'K/N' or (K, N) with 0 <= K < N, not '%1'").arg(text(shardObject)));
    }
    if (inputs.isEmpty())
        valueError(QStringLiteral("no images given"));
    ensureGuiApplication();
    RdOutputFolder folder(out);
    for (const RdInput &input : inputs)
        if (input.image.isNull() && folder.contains(input.fileName))
            valueError(QStringLiteral("the image %1 lies in the output folder %2, which the study replaces")
                           .arg(input.fileName, out));
    if (!keep.isEmpty()
        && (folder.contains(keep) || QFileInfo(keep).absoluteFilePath() == QFileInfo(out).absoluteFilePath()))
        valueError(QStringLiteral("keep must name a folder outside the output folder %1, which the study replaces")
                       .arg(out));
    QString error;
    if (!folder.begin(&error))
        throw FileError(error);
    const RdStudy result = arguments.run(keep, &shard);
    {
        py::gil_scoped_release release;
        if (!RdOutput::writeStudy(result, folder.stagingPath(), &error) || !folder.commit(&error))
            throw FileError(error);
    }
    if (result.images.isEmpty())
        throw FileError(QStringLiteral("no image could be measured"));
    return QDir(out).filePath(QStringLiteral("report.html")).toStdString();
}

// componentGridDistance of two float grids over one extent.
double gridDistance(const py::handle &aObject, int spacingA, const py::handle &bObject, int spacingB,
                    const py::handle &sizeObject)
{
    const auto size = py::cast<std::pair<int, int>>(sizeObject);
    if (size.first < 1 || size.second < 1)
        valueError(QStringLiteral("size must be at least (1, 1), not (%1, %2)").arg(size.first).arg(size.second));
    py::array_t<float, py::array::c_style | py::array::forcecast> grids[2] = {
        py::array_t<float, py::array::c_style | py::array::forcecast>::ensure(aObject),
        py::array_t<float, py::array::c_style | py::array::forcecast>::ensure(bObject)};
    const int spacings[2] = {spacingA, spacingB};
    for (int k = 0; k < 2; ++k) {
        const int s = spacings[k];
        if (s < 1 || s > 1024 || (s & (s - 1)))
            valueError(QStringLiteral("a spacing must be a power of two from 1 to 1024, not %1").arg(s));
        const py::ssize_t rows = regionNodeCount(size.second, s), columns = regionNodeCount(size.first, s);
        if (!grids[k] || grids[k].ndim() != 2 || grids[k].shape(0) != rows || grids[k].shape(1) != columns)
            valueError(QStringLiteral("grid %1 must be a 2-D array of %2 rows and %3 columns for spacing %4 over %5x%6")
                           .arg(QLatin1Char(k == 0 ? 'a' : 'b')).arg(rows).arg(columns).arg(s)
                           .arg(size.first).arg(size.second));
    }
    py::gil_scoped_release release;
    return componentGridDistance(grids[0].data(), spacingA, grids[1].data(), spacingB, size.first, size.second);
}

// ftjpeg region compress on an array: the bytes of the compressed block file.
py::bytes regionCompress(const py::handle &imageObject, int minArea, float maxDiff, int backRejoin, float edge,
                         float sim)
{
    RegionParameters parameters;
    parameters.minArea = minArea;
    parameters.maxDiff = maxDiff;
    parameters.backRejoin = backRejoin;
    parameters.edge = edge;
    parameters.sim = sim;
    QString error;
    if (!checkRegionParameters(parameters, &error))
        valueError(error);
    const ImageArgument source = imageArgument(imageObject, "image");
    QByteArray data;
    {
        py::gil_scoped_release release;
        RegionImage blocks;
        if (encodeRegionQImage(source.image, parameters, &blocks, &error))
            data = writeRegionFile(blocks);
    }
    if (data.isEmpty())
        valueError(error);
    return py::bytes(data.constData(), std::size_t(data.size()));
}

// ftjpeg region decompress of the bytes of a compressed block file.
py::array regionDecompress(const py::bytes &bytes)
{
    const std::string held = bytes;
    const QByteArray data = QByteArray::fromRawData(held.data(), int(qMin<std::size_t>(held.size(), INT_MAX)));
    QImage image;
    QString error;
    {
        py::gil_scoped_release release;
        RegionImage blocks;
        if (readRegionFile(data, &blocks, &error, maxDecodedPixels))
            image = expandRegionQImage(blocks, &error);
    }
    if (image.isNull())
        valueError(QStringLiteral("the data cannot be decoded: %1").arg(error));
    return imageArray(std::move(image));
}

} // namespace

PYBIND11_MODULE(_veltrano, m)
{
    m.doc() = R"(F-transform image compression: the hybrid JPEG codec of ftjpeg on numpy arrays.

Images are uint8 arrays of shape (H, W, 3), red, green, blue; (H, W, 4) is
accepted with alpha ignored, and (H, W) as grey. They may be C-contiguous or
not. Results are the very bytes and pixels ftjpeg writes for the same pixels:
compress() returns what `ftjpeg compress` writes, decompress() what
`ftjpeg decompress` decodes.

Images returned are (H, W, 3) uint8 views of the codec's own memory (no pixel
is copied, so row and channel strides are not those of a packed array; use
numpy.ascontiguousarray for a packed copy). They are writable and owned by
the array.

Weights: every `weights` argument takes None (the table `ftjpeg workdir`
writes, default_weights()), the path of a weights file (one number per line,
as weights_out.txt), or a sequence of numbers (as float32).

Bad arguments raise ValueError with the message ftjpeg gives, files that
cannot be read OSError; Qt's warnings (those of its image plugins about the
data they read) are not printed. Long calls release the GIL, so threads run
in parallel.)";

    // Each docstring starts with the signature in Python's terms.
    py::options options;
    options.disable_function_signatures();

    // The module reports every failure as an exception with the reason, as
    // a command-line program reports it in a line: Qt's warnings (those of
    // its image plugins about the data they read) are not printed.
    QtMessages::install(QtMessages::CommandLine);

    py::register_exception_translator([](std::exception_ptr pointer) {
        try {
            if (pointer)
                std::rethrow_exception(pointer);
        } catch (const FileError &error) {
            PyErr_SetString(PyExc_OSError, error.what());
        }
    });

    m.def("direct", &direct, py::arg("image"), py::arg("step") = 2, py::arg("radius") = 2,
          R"(direct(image, step=2, radius=2) -> numpy.ndarray

The component image of `image`: its direct F-transform with the raised-cosine
kernel of the given radius, one pixel per node at spacing `step`, shape
(H // step, W // step, 3). As `ftjpeg direct --step STEP --radius RADIUS`.)");

    m.def("inverse", &inverse, py::arg("components"), py::arg("size"), py::arg("step") = 2, py::arg("radius") = 1,
          py::arg("weights") = py::none(),
          R"(inverse(components, size, step=2, radius=1, weights=None) -> numpy.ndarray

Expands a component image by the inverse F-transform to `size`, given as
ftjpeg's --size takes it: (width, height) -- note the order, the reverse of
an array's shape -- or the string "WIDTHxHEIGHT". The result has shape
(height, width, 3). As `ftjpeg inverse --size WxH --step STEP --radius RADIUS`.)");

    m.def("compress", &compress, py::arg("image"), py::arg("quality") = 70, py::arg("weights") = py::none(),
          py::arg("decoded") = false, py::kw_only(), py::arg("step") = py::none(),
          py::arg("kernel_radius") = py::none(), py::arg("reconstruct_radius") = py::none(),
          py::arg("optimize") = false, py::arg("progressive") = false, py::arg("chroma") = py::none(),
          py::arg("clamp") = false,
          R"(compress(image, quality=70, weights=None, decoded=False, *, step=None, kernel_radius=None,
         reconstruct_radius=None, optimize=False, progressive=False, chroma=None, clamp=False)
    -> bytes or (bytes, numpy.ndarray)

The hybrid JPEG file of `image`, the component image stored as JPEG at
`quality` (0 to 100): exactly the bytes `ftjpeg compress --quality QUALITY`
writes for the same pixels. With decoded=True, also the image decoded back
at the size of `image`, as `ftjpeg compress --decoded` writes it; the weights
serve that decoding (the table must be long enough in any case, as for
ftjpeg).

Any of the keyword-only options makes a hybrid variant file instead, as
ftjpeg compress --step, --kernel-radius, --reconstruct-radius, --optimize,
--progressive, --chroma 420|444 and --clamp do: it records the source size, its
parameters and the weight entries it uses, and decompress() decodes it to
the source size without any weights.)");

    m.def("decompress", &decompress, py::arg("data"), py::arg("weights") = py::none(),
          R"(decompress(data, weights=None) -> numpy.ndarray

Decodes a hybrid JPEG file (its bytes) to twice its component size, as
`ftjpeg decompress` does; a variant file to its source size, with the
weights it records (`weights` is then not used). Raises ValueError for data that is not a hybrid
file or cannot be decoded.)");

    m.def("read_weights", &readWeights, py::arg("path"),
          R"(read_weights(path) -> numpy.ndarray

The weights table of a file as the codec reads it (float32, one entry per
line; a line that is not a number gives 0). OSError when it cannot be read.)");

    m.def("default_weights", [] { return weightsArray(workingDirectoryWeights()); },
          R"(default_weights() -> numpy.ndarray

The table `ftjpeg workdir` writes as weights_out.txt, as read back
(float32): entry i is 1 / (1 + (i / 20)^2), 501 entries.)");

    m.def("mse", &metricMse, py::arg("reference"), py::arg("test"),
          R"(mse(reference, test) -> float

Mean over red, green and blue of the per-channel mean squared difference
(the figure the experiments report).)");

    m.def("ssim", &metricSsim, py::arg("reference"), py::arg("test"),
          R"(ssim(reference, test) -> float

Structural similarity from global statistics (the whole image one window),
mean over red, green and blue, as the experiments and the study report it.)");

    m.def("psnr", &metricPsnr, py::arg("reference"), py::arg("test"),
          R"(psnr(reference, test) -> float

10 log10(255^2 / MSE) over red, green and blue together, inf for identical
images; the PSNR of ssimdiff_cygwin and of the study.)");

    m.def("windowed_ssim", &metricWindowedSsim, py::arg("reference"), py::arg("test"),
          py::arg("channel") = py::none(),
          R"(windowed_ssim(reference, test, channel=None) -> float

Structural similarity over 11 x 11 Gaussian windows (sigma 1.5) as
ssimdiff_cygwin computes it: the mean over red, green and blue, or one
channel (0 red, 1 green, 2 blue, 3 BT.601 luma). Both sides at least 11
pixels.)");

    m.def("ms_ssim", &metricMsSsim, py::arg("reference"), py::arg("test"),
          R"(ms_ssim(reference, test) -> float

Multi-scale SSIM (five scales), mean over red, green and blue, as the study
records it. Both sides at least 161 pixels.)");

    m.def("butteraugli", &metricButteraugli, py::arg("reference"), py::arg("test"),
          R"(butteraugli(reference, test) -> (float, float)

The Butteraugli distance of libjxl (3-norm of the distance map) and its
largest value, as the study records them. OSError when the study-codec
module, which calls libjxl, cannot be loaded.)");

    m.def(
        "bd_rate",
        [](const py::handle &a, const py::handle &qa, const py::handle &b, const py::handle &qb) {
            return bdResult(a, qa, b, qb).ratePercent;
        },
        py::arg("rate_a"), py::arg("quality_a"), py::arg("rate_b"), py::arg("quality_b"),
        R"(bd_rate(rate_a, quality_a, rate_b, quality_b) -> float

Bjontegaard rate difference of curve b against curve a in percent (-50: b
needs half the rate for the same quality), as in the study's summary.csv:
efficient frontiers, monotone cubic interpolation on log10 rate, exact
integration over the common quality range. NaN when it cannot be computed.)");

    m.def(
        "bd_psnr",
        [](const py::handle &a, const py::handle &qa, const py::handle &b, const py::handle &qb) {
            return bdResult(a, qa, b, qb).quality;
        },
        py::arg("rate_a"), py::arg("quality_a"), py::arg("rate_b"), py::arg("quality_b"),
        R"(bd_psnr(rate_a, quality_a, rate_b, quality_b) -> float

Bjontegaard quality difference of curve b against curve a (dB for PSNR)
over the common rate range, as in the study's summary.csv.)");

    m.def("grid_distance", &gridDistance, py::arg("a"), py::arg("spacing_a"), py::arg("b"), py::arg("spacing_b"),
          py::arg("size"),
          R"(grid_distance(a, spacing_a, b, spacing_b, size) -> float

The component-grid distance of the region codec (ftjpeg region sim): two
F-transform component grids over one extent size = (width, height), 2-D
arrays of ceil((extent - 1) / spacing) + 1 nodes per axis (rows, columns),
each expanded by its raised-cosine basis at the nodes of the common grid of
spacing gcd(spacing_a, spacing_b); the root mean square of the differences
there. 0 for identical grids, symmetric, in the grids' units.)");

    m.def("region_compress", &regionCompress, py::arg("image"), py::arg("min_area") = 4, py::arg("max_diff") = 2.0f,
          py::arg("back_rejoin") = 1, py::arg("edge") = 0.0f, py::arg("sim") = 0.0f,
          R"(region_compress(image, min_area=4, max_diff=2.0, back_rejoin=1, edge=0.0, sim=0.0) -> bytes

The compressed block file of the region codec, as `ftjpeg region compress`
writes it with the same parameters (see the README's "The region codec").)");

    m.def("region_decompress", &regionDecompress, py::arg("data"),
          R"(region_decompress(data) -> numpy.ndarray

The image of a compressed block file, as `ftjpeg region decompress` decodes
it; ValueError naming the fault for damaged data.)");

    m.def("rd", &rd, py::arg("images"), py::arg("schemes") = py::none(), py::arg("jobs") = py::none(),
          py::arg("weights") = py::none(), py::arg("metrics") = py::none(),
          R"(rd(images, schemes=None, jobs=None, weights=None, metrics=None) -> pandas.DataFrame or list of dict

The rate-distortion study of `ftjpeg rd`: every image at each setting of
each scheme, on `jobs` threads (default: the number of cores).

images: a path, or a sequence of paths and (name, array) pairs (the array
an image as every function here takes it; `name` names it in the rows).

schemes: None (every default scheme), one string of names separated by
commas as `ftjpeg rd --schemes` takes them (jpeg, hybrid, jpeg-opt,
resample-box, resample-lanczos, webp, avif, jxl, region), or a sequence of
names, 'hybrid:SPEC' variants (as --hybrid SPEC) and scheme objects. A scheme
object has `name`, `settings` (rising integers), `encode(image, setting) ->
bytes` and `decode(data, (height, width)) -> array`, and may have `suffix`
(veltrano.Scheme makes one of two functions). Its calls take the GIL for
themselves only, from the study's threads; a call that raises or returns the
wrong type skips its point with a RuntimeWarning, the rest is measured.

metrics: a dict of names and functions fn(reference, decoded) -> float, both
(H, W, 3) uint8 arrays; each adds a column after the fixed ones.

One row per point, with the columns of points.csv: image_index, image,
width, height, scheme, quality, size_bytes, bpp, psnr_db, ssim,
windowed_ssim, encode_ms, decode_ms, ms_ssim, butteraugli, butteraugli_max,
then the metrics. A pandas DataFrame when pandas can be imported, else a
list of dicts. Images that cannot be read are skipped with a RuntimeWarning;
OSError, before anything is measured, when the study-codec module
(Butteraugli and the codecs) cannot be loaded.)");

    m.def("study", &study, py::arg("images"), py::arg("schemes") = py::none(), py::kw_only(),
          py::arg("out") = "rd", py::arg("keep") = py::none(), py::arg("jobs") = py::none(),
          py::arg("shard") = py::none(), py::arg("metrics") = py::none(), py::arg("weights") = py::none(),
          R"(study(images, schemes=None, *, out="rd", keep=None, jobs=None, shard=None, metrics=None, weights=None) -> str

The whole study of rd() written to the folder `out` as `ftjpeg rd` writes
it: points.csv (the metrics as columns after the fixed ones), summary.csv,
skipped.csv, shards.csv, the plots and report.html, replacing the folder as a
whole at the end. keep: a folder to keep every encoded file in. shard: 'K/N'
or (K, N), every N-th image from image K, as --shard; `ftjpeg rd --merge`
merges the folders of the shards. Returns the path of report.html. OSError
when the folder is locked by another study or holds files no study wrote.)");

    py::exec(R"py(
class Scheme:
    """A study scheme of two functions: Scheme(name, settings, encode, decode, suffix="bin").

    encode(image, setting) -> bytes gets the source as a (H, W, 3) uint8
    array; decode(data, (height, width)) -> array returns the decoded image
    of the source's size. veltrano.rd and veltrano.study measure it at each
    setting beside the built-in schemes."""

    def __init__(self, name, settings, encode, decode, suffix="bin"):
        self.name = name
        self.settings = list(settings)
        self._encode = encode
        self._decode = decode
        self.suffix = suffix

    def encode(self, image, setting):
        return self._encode(image, setting)

    def decode(self, data, size):
        return self._decode(data, size)

    def __repr__(self):
        return "Scheme(%r, %r)" % (self.name, self.settings)
)py", m.attr("__dict__"));
    m.attr("Scheme").attr("__module__") = "veltrano";
    py::tuple defaults(rdStandardSchemeNames().size());
    for (int i = 0; i < rdStandardSchemeNames().size(); ++i)
        defaults[py::size_t(i)] = rdStandardSchemeNames()[i].toStdString();
    m.attr("default_schemes") = defaults;
}
