// Speed of the F-transform codec on photographs of 1, 4, 16 and 24
// megapixels made by mirrored tiling of data/photos/astronaut.png: the fast
// transforms against the per-pixel reference of tests/referencetransforms.h,
// hybrid compression and decompression end to end, and plain JPEG.
//
// Run without arguments it prints one Markdown table on standard output;
// progress goes to standard error when that is a terminal.
// Google Benchmark's own options (--benchmark_filter ...) work as usual.
// Two helper modes serve bench/run.sh:
//   transformbench --write-photo FILE MEGAPIXELS   writes the test photograph
//                                                  (PPM when FILE ends in .ppm, else PNG)
//   transformbench --compress IN OUT WEIGHTS       what `ftjpeg compress` does
//                                                  (for a memory measurement)

#include "codec/dsp/cpufeatures.h"
#include "codec/qimage/directtransform.h"
#include "codec/qimage/hybridjpeg.h"
#include "codec/qimage/imagefile.h"
#include "codec/qimage/inversetransform.h"
#include "codec/transform/kernel.h"
#include "referencetransforms.h"
#include "codec/transform/weightsfile.h"

#include <QCoreApplication>
#include <QImageReader>
#include <QImageWriter>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <string>
#include <unistd.h>
#include <vector>

using namespace veltrano;

namespace {

const int megapixels[] = {1, 4, 16, 24};
constexpr int sizeCount = 4;

// The reference runs on a full-width band of at most this many pixels: its
// cost per pixel does not depend on the number of rows (one QImage::pixel()
// call per tap), so the band's megapixels per second are the whole image's.
constexpr double referenceBandPixels = 4.0e6;

// 3:2 images of the given megapixels: 24 gives 6000 x 4000.
QSize photoSize(int mp)
{
    const int width = int(std::lround(std::sqrt(mp * 1.0e6 * 1.5)));
    const int height = int(std::lround(mp * 1.0e6 / width));
    return QSize(width, height);
}

int mirrored(int i, int n)
{
    const int tile = i / n;
    const int offset = i % n;
    return tile % 2 == 0 ? offset : n - 1 - offset;
}

QImage tiledPhoto(const QSize &size)
{
    const QImage tile = QImage(QStringLiteral(VELTRANO_SOURCE_DIR "/data/photos/astronaut.png"))
                            .convertToFormat(QImage::Format_RGB32);
    if (tile.isNull())
        return tile;
    QImage image(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y) {
        const QRgb *in = reinterpret_cast<const QRgb *>(tile.constScanLine(mirrored(y, tile.height())));
        QRgb *out = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < size.width(); ++x)
            out[x] = in[mirrored(x, tile.width())];
    }
    return image;
}

QList<float> benchWeights()
{
    QList<float> weights;
    for (int i = 0; i <= 20; ++i)
        weights.append(1.0f - float(i) / 40.0f);
    return weights;
}

struct Fixture
{
    QImage photo;
    QImage band; // the reference's band of photo, rows a multiple of 6
    QImage components22;
    QImage bandComponents22;
    QImage components34;
    QImage bandComponents34;
    QString hybridFile;
};

QTemporaryDir &scratch()
{
    static QTemporaryDir dir;
    return dir;
}

Fixture &fixture(int index)
{
    static std::map<int, Fixture> fixtures;
    auto found = fixtures.find(index);
    if (found != fixtures.end())
        return found->second;
    Fixture &f = fixtures[index];
    f.photo = tiledPhoto(photoSize(megapixels[index]));
    const int bandRows = std::min(f.photo.height(),
                                  std::max(6, int(referenceBandPixels / f.photo.width()) / 6 * 6));
    f.band = f.photo.copy(0, 0, f.photo.width(), bandRows);
    f.components22 = directFTransform(f.photo, 2, makeRaisedCosineKernel(2));
    f.bandComponents22 = directFTransform(f.band, 2, makeRaisedCosineKernel(2));
    f.components34 = directFTransform(f.photo, 3, makeRaisedCosineKernel(4));
    f.bandComponents34 = directFTransform(f.band, 3, makeRaisedCosineKernel(4));
    f.hybridFile = scratch().filePath(QStringLiteral("hybrid_%1.jpg").arg(megapixels[index]));
    QString error;
    compressHybrid(f.photo, 70, benchWeights(), &error, f.hybridFile);
    return f;
}

void setPixels(benchmark::State &state, const QImage &image)
{
    state.counters["pixels"] = double(image.width()) * double(image.height());
}

void progress(const char *what, int index)
{
    static const bool terminal = isatty(2);
    if (terminal)
        std::fprintf(stderr, "\r%-40s", (std::string(what) + " at " + std::to_string(megapixels[index]) + " MP").c_str());
}

void direct22(benchmark::State &state)
{
    const int index = int(state.range(0));
    progress("direct 2/2", index);
    const Fixture &f = fixture(index);
    const QList<float> kernel = makeRaisedCosineKernel(2);
    for (auto _ : state)
        benchmark::DoNotOptimize(directFTransform(f.photo, 2, kernel));
    setPixels(state, f.photo);
}

void direct22Reference(benchmark::State &state)
{
    const int index = int(state.range(0));
    progress("reference direct 2/2", index);
    const Fixture &f = fixture(index);
    const QList<float> kernel = makeRaisedCosineKernel(2);
    for (auto _ : state)
        benchmark::DoNotOptimize(referenceDirectFTransform(f.band, 2, kernel));
    setPixels(state, f.band);
}

void inverse21(benchmark::State &state)
{
    const int index = int(state.range(0));
    progress("inverse 2/1", index);
    const Fixture &f = fixture(index);
    const QList<float> weights = benchWeights();
    for (auto _ : state)
        benchmark::DoNotOptimize(
            inverseFTransform(f.components22, f.photo.width(), f.photo.height(), 2, 1, weights));
    setPixels(state, f.photo);
}

void inverse21Reference(benchmark::State &state)
{
    const int index = int(state.range(0));
    progress("reference inverse 2/1", index);
    const Fixture &f = fixture(index);
    const QList<float> weights = benchWeights();
    for (auto _ : state)
        benchmark::DoNotOptimize(
            referenceInverseFTransform(f.bandComponents22, f.band.width(), f.band.height(), 2, 1, weights));
    setPixels(state, f.band);
}

// The general case: step 3, extra radius 1 (kernel radius 4), inverse radius 2.
void general34(benchmark::State &state)
{
    const int index = int(state.range(0));
    progress("general direct 3/4", index);
    const Fixture &f = fixture(index);
    const QList<float> kernel = makeRaisedCosineKernel(4);
    for (auto _ : state)
        benchmark::DoNotOptimize(directFTransform(f.photo, 3, kernel));
    setPixels(state, f.photo);
}

void general34Reference(benchmark::State &state)
{
    const int index = int(state.range(0));
    progress("reference general direct 3/4", index);
    const Fixture &f = fixture(index);
    const QList<float> kernel = makeRaisedCosineKernel(4);
    for (auto _ : state)
        benchmark::DoNotOptimize(referenceDirectFTransform(f.band, 3, kernel));
    setPixels(state, f.band);
}

void general32(benchmark::State &state)
{
    const int index = int(state.range(0));
    progress("general inverse 3/2", index);
    const Fixture &f = fixture(index);
    const QList<float> weights = benchWeights();
    for (auto _ : state)
        benchmark::DoNotOptimize(
            inverseFTransform(f.components34, f.photo.width(), f.photo.height(), 3, 2, weights));
    setPixels(state, f.photo);
}

void general32Reference(benchmark::State &state)
{
    const int index = int(state.range(0));
    progress("reference general inverse 3/2", index);
    const Fixture &f = fixture(index);
    const QList<float> weights = benchWeights();
    for (auto _ : state)
        benchmark::DoNotOptimize(
            referenceInverseFTransform(f.bandComponents34, f.band.width(), f.band.height(), 3, 2, weights));
    setPixels(state, f.band);
}

// As the Compress command and `ftjpeg compress` do it: components, JPEG at
// q + 50 = 70 written and marked, read back, expanded to the source size.
void hybridCompress(benchmark::State &state)
{
    const int index = int(state.range(0));
    progress("hybrid compress", index);
    const Fixture &f = fixture(index);
    const QList<float> weights = benchWeights();
    const QString file = scratch().filePath(QStringLiteral("compress.jpg"));
    for (auto _ : state) {
        QString error;
        const QImage decoded = compressHybrid(f.photo, 70, weights, &error, file);
        if (decoded.isNull()) {
            state.SkipWithError(qPrintable(error));
            break;
        }
        benchmark::DoNotOptimize(decoded);
    }
    setPixels(state, f.photo);
}

void hybridDecompress(benchmark::State &state)
{
    const int index = int(state.range(0));
    progress("hybrid decompress", index);
    const Fixture &f = fixture(index);
    const QList<float> weights = benchWeights();
    QImage decoded;
    for (auto _ : state) {
        QString error;
        decoded = decompressHybrid(f.hybridFile, weights, &error);
        if (decoded.isNull()) {
            state.SkipWithError(qPrintable(error));
            break;
        }
        benchmark::DoNotOptimize(decoded);
    }
    setPixels(state, decoded);
}

// Plain JPEG of the same photograph at q = 20, as the Compress command makes
// jpeg.jpg: written to a file, read back.
void plainJpeg(benchmark::State &state)
{
    const int index = int(state.range(0));
    progress("plain JPEG", index);
    const Fixture &f = fixture(index);
    const QString file = scratch().filePath(QStringLiteral("plain.jpg"));
    for (auto _ : state) {
        QString error;
        QImage decoded;
        if (!writeImageFile(file, f.photo, "jpg", 20, &error) || !readImageFile(file, decoded, &error)) {
            state.SkipWithError(qPrintable(error));
            break;
        }
        benchmark::DoNotOptimize(decoded);
    }
    setPixels(state, f.photo);
}

double minimum(const std::vector<double> &values)
{
    return values.empty() ? 0.0 : *std::min_element(values.begin(), values.end());
}

// Fast code: repeated for at least 0.2 s, five times; the reference: one pass
// per repetition. The repetitions of all benchmarks run interleaved in random
// order (see main), so that every column samples the same moments of a shared
// machine, and the table takes the fastest repetition of each.
constexpr int repetitions = 5;

void configure(benchmark::internal::Benchmark *b, bool reference)
{
    b->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(repetitions)->ReportAggregatesOnly(true);
    b->ComputeStatistics("min", minimum);
    if (reference)
        b->Iterations(1);
    else
        b->MinTime(0.2);
    for (int i = 0; i < sizeCount; ++i)
        b->Arg(i);
}

struct Column
{
    const char *name;
    const char *fast;
    const char *reference;
};

const Column columns[] = {
    {"direct 2/2", "direct22", "direct22Reference"},
    {"inverse 2/1", "inverse21", "inverse21Reference"},
    {"general direct 3/4", "general34", "general34Reference"},
    {"general inverse 3/2", "general32", "general32Reference"},
    {"hybrid compress", "hybridCompress", nullptr},
    {"hybrid decompress", "hybridDecompress", nullptr},
    {"JPEG q20 write+read", "plainJpeg", nullptr},
};

// Collects the fastest repetition of each benchmark and prints the table.
class TableReporter : public benchmark::BenchmarkReporter
{
public:
    bool ReportContext(const Context &) override { return true; }

    void ReportRuns(const std::vector<Run> &runs) override
    {
        for (const Run &run : runs) {
            if (run.error_occurred) {
                errors.push_back(run.benchmark_name() + ": " + run.error_message);
                continue;
            }
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name != "min")
                continue;
            const auto pixels = run.counters.find("pixels");
            if (pixels == run.counters.end())
                continue;
            const int index = std::stoi(run.run_name.args);
            const double seconds = run.GetAdjustedRealTime() / 1000.0;
            Measure &m = measures[run.run_name.function_name][index];
            if (m.seconds == 0.0 || seconds < m.seconds) {
                m.seconds = seconds;
                m.pixels = pixels->second.value;
            }
        }
    }

    void Finalize() override
    {
        if (isatty(2))
            std::fprintf(stderr, "\r%-40s\r", "");
        std::printf("Megapixels per second (MP/s), fastest of %d repetitions; \"x ref\": speed-up over the per-pixel "
                    "reference; transforms on the %s code path.\n\n",
                    repetitions, simdLevelName(transformSimdLevel()));
        std::printf("| image |");
        for (const Column &c : columns)
            std::printf(c.reference ? " %s MP/s | x ref |" : " %s MP/s |", c.name);
        std::printf(" hybrid / JPEG time |\n|---|");
        for (const Column &c : columns)
            std::printf(c.reference ? "---:|---:|" : "---:|");
        std::printf("---:|\n");
        for (int i = 0; i < sizeCount; ++i) {
            const QSize size = photoSize(megapixels[i]);
            std::printf("| %d MP (%dx%d) |", megapixels[i], size.width(), size.height());
            for (const Column &c : columns) {
                std::printf(" %s |", number(rate(c.fast, i), 1).c_str());
                if (c.reference)
                    std::printf(" %s |", number(rate(c.fast, i) / rate(c.reference, i), 1).c_str());
            }
            std::printf(" %s |\n", number(seconds("hybridCompress", i) / seconds("plainJpeg", i), 2).c_str());
        }
        std::printf("| 24 MP / 4 MP |");
        for (const Column &c : columns) {
            std::printf(" %s |", number(rate(c.fast, 3) / rate(c.fast, 1), 2).c_str());
            if (c.reference)
                std::printf(" |");
        }
        std::printf(" |\n");
        for (const std::string &e : errors)
            std::printf("\nfailed: %s\n", e.c_str());
        std::fflush(stdout);
    }

private:
    struct Measure
    {
        double seconds = 0.0;
        double pixels = 0.0;
    };

    double seconds(const char *name, int index)
    {
        const auto family = measures.find(name);
        if (family == measures.end() || !family->second.count(index))
            return NAN;
        return family->second[index].seconds;
    }
    double rate(const char *name, int index)
    {
        const auto family = measures.find(name);
        if (family == measures.end() || !family->second.count(index))
            return NAN;
        const Measure &m = family->second[index];
        return m.pixels / 1.0e6 / m.seconds;
    }
    static std::string number(double value, int decimals)
    {
        if (!std::isfinite(value))
            return "-";
        char text[32];
        std::snprintf(text, sizeof text, "%.*f", decimals, value);
        return text;
    }

    std::map<std::string, std::map<int, Measure>> measures;
    std::vector<std::string> errors;
};

int writePhoto(const QString &file, int mp)
{
    const QImage photo = tiledPhoto(photoSize(mp));
    QString error;
    const QByteArray format = file.endsWith(QLatin1String(".ppm")) ? "ppm" : "png";
    if (photo.isNull() || !writeImageFile(file, photo, format, -1, &error)) {
        std::fprintf(stderr, "transformbench: %s\n", qPrintable(error.isEmpty() ? QStringLiteral("no photo") : error));
        return 1;
    }
    return 0;
}

int compressOnly(const QString &input, const QString &output, const QString &weightsFile)
{
    QList<float> weights;
    QString error;
    QImage source;
    if (!loadWeightsTable(weightsFile, weights, &error) || !readImageFile(input, source, &error)) {
        std::fprintf(stderr, "transformbench: %s\n", qPrintable(error));
        return 1;
    }
    if (compressHybrid(source, 70, weights, &error, output).isNull()) {
        std::fprintf(stderr, "transformbench: %s\n", qPrintable(error));
        return 1;
    }
    return 0;
}

} // namespace

BENCHMARK(direct22)->Apply([](benchmark::internal::Benchmark *b) { configure(b, false); });
BENCHMARK(direct22Reference)->Apply([](benchmark::internal::Benchmark *b) { configure(b, true); });
BENCHMARK(inverse21)->Apply([](benchmark::internal::Benchmark *b) { configure(b, false); });
BENCHMARK(inverse21Reference)->Apply([](benchmark::internal::Benchmark *b) { configure(b, true); });
BENCHMARK(general34)->Apply([](benchmark::internal::Benchmark *b) { configure(b, false); });
BENCHMARK(general34Reference)->Apply([](benchmark::internal::Benchmark *b) { configure(b, true); });
BENCHMARK(general32)->Apply([](benchmark::internal::Benchmark *b) { configure(b, false); });
BENCHMARK(general32Reference)->Apply([](benchmark::internal::Benchmark *b) { configure(b, true); });
BENCHMARK(hybridCompress)->Apply([](benchmark::internal::Benchmark *b) { configure(b, false); });
BENCHMARK(hybridDecompress)->Apply([](benchmark::internal::Benchmark *b) { configure(b, false); });
BENCHMARK(plainJpeg)->Apply([](benchmark::internal::Benchmark *b) { configure(b, false); });

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() == 4 && arguments.at(1) == QLatin1String("--write-photo"))
        return writePhoto(arguments.at(2), arguments.at(3).toInt());
    if (arguments.size() == 5 && arguments.at(1) == QLatin1String("--compress"))
        return compressOnly(arguments.at(2), arguments.at(3), arguments.at(4));

    // Interleaved repetitions by default; options given on the command line
    // come later and win.
    std::string interleave = "--benchmark_enable_random_interleaving=true";
    std::vector<char *> options{argv[0], &interleave[0]};
    for (int i = 1; i < argc; ++i)
        options.push_back(argv[i]);
    int count = int(options.size());
    options.push_back(nullptr);
    benchmark::Initialize(&count, options.data());
    if (benchmark::ReportUnrecognizedArguments(count, options.data()))
        return 2;
    if (!scratch().isValid()) {
        std::fprintf(stderr, "transformbench: cannot make a temporary folder\n");
        return 1;
    }
    TableReporter table;
    benchmark::RunSpecifiedBenchmarks(&table);
    benchmark::Shutdown();
    return 0;
}
