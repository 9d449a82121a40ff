// Speed of the region codec on a 24-megapixel photograph (6000 x 4000, made
// of data/photos/astronaut.png and its mirror images): decoding a compressed
// block file (entropy decoding and expansion), the entropy decoding alone,
// the expansion alone, and encoding, each in megapixels per second on one
// core, at max diff 1, 2, 4, 8 and 16 (encoding at 2 and 8). Rates are per
// CPU second (the machine may be shared). Google Benchmark's options work as
// usual.

#include "codec/qimage/regionimagefile.h"
#include "codec/region/regionexpansion.h"
#include "codec/region/regionfile.h"

#include <QImage>
#include <QPainter>

#include <benchmark/benchmark.h>

#include <map>

using namespace veltrano;

namespace {

const QSize benchSize(6000, 4000);

QImage photo()
{
    static QImage image;
    if (!image.isNull())
        return image;
    const QImage tile = QImage(QStringLiteral(VELTRANO_SOURCE_DIR "/data/photos/astronaut.png"))
                            .convertToFormat(QImage::Format_RGB32);
    // Tiles alternate with their mirror images, so no seam is a step.
    image = QImage(benchSize, QImage::Format_RGB32);
    QPainter painter(&image);
    for (int ty = 0; ty * tile.height() < benchSize.height(); ++ty)
        for (int tx = 0; tx * tile.width() < benchSize.width(); ++tx)
            painter.drawImage(tx * tile.width(), ty * tile.height(), tile.mirrored(tx % 2 == 1, ty % 2 == 1));
    return image;
}

const QByteArray &blockFile(int maxDiff)
{
    static std::map<int, QByteArray> files;
    QByteArray &data = files[maxDiff];
    if (data.isEmpty()) {
        RegionParameters parameters;
        parameters.maxDiff = float(maxDiff);
        RegionImage blocks;
        QString error;
        if (encodeRegionQImage(photo(), parameters, &blocks, &error))
            data = writeRegionFile(blocks);
    }
    return data;
}

void report(benchmark::State &state, const QByteArray &data)
{
    const double pixels = double(benchSize.width()) * benchSize.height();
    state.counters["MP/s"] = benchmark::Counter(pixels / 1e6, benchmark::Counter::kIsIterationInvariantRate);
    state.counters["bpp"] = data.size() * 8.0 / pixels;
}

void regionDecode(benchmark::State &state)
{
    const QByteArray &data = blockFile(int(state.range(0)));
    std::vector<uint32_t> pixels(size_t(benchSize.width()) * benchSize.height());
    // As ftjpeg region decompress and Open image decode: row of roots by row.
    auto rowDone = [&](const RegionImage &rows, int first) {
        expandRegionBlocks(rows, first, pixels.data(), benchSize.width());
    };
    for (auto _ : state) {
        QString error;
        if (!decodeRegionFile(data, qint64(1) << 28, &error, {}, rowDone)) {
            state.SkipWithError(qPrintable(error));
            break;
        }
        benchmark::DoNotOptimize(pixels.data());
    }
    report(state, data);
}

// The arithmetic decoding alone: the blocks of each row of roots are dropped.
void regionEntropy(benchmark::State &state)
{
    const QByteArray &data = blockFile(int(state.range(0)));
    for (auto _ : state) {
        QString error;
        int blocks = 0;
        auto rowDone = [&](const RegionImage &rows, int first) { blocks += rows.blocks.size() - first; };
        if (!decodeRegionFile(data, qint64(1) << 28, &error, {}, rowDone)) {
            state.SkipWithError(qPrintable(error));
            break;
        }
        benchmark::DoNotOptimize(blocks);
        state.counters["blocks"] = blocks;
    }
    report(state, data);
}

void regionExpand(benchmark::State &state)
{
    const QByteArray &data = blockFile(int(state.range(0)));
    RegionImage blocks;
    QString error;
    readRegionFile(data, &blocks, &error, qint64(1) << 28);
    state.counters["components"] = double(blocks.components.size());
    std::vector<uint32_t> pixels(size_t(benchSize.width()) * benchSize.height());
    for (auto _ : state) {
        expandRegionImage(blocks, pixels.data(), benchSize.width());
        benchmark::DoNotOptimize(pixels.data());
    }
    report(state, data);
}

void regionEncode(benchmark::State &state)
{
    RegionParameters parameters;
    parameters.maxDiff = float(state.range(0));
    QByteArray data;
    for (auto _ : state) {
        RegionImage blocks;
        QString error;
        encodeRegionQImage(photo(), parameters, &blocks, &error);
        data = writeRegionFile(blocks);
    }
    report(state, data);
}

} // namespace

BENCHMARK(regionDecode)->Arg(1)->Arg(2)->Arg(4)->Arg(8)->Arg(16)->Unit(benchmark::kMillisecond);
BENCHMARK(regionEntropy)->Arg(1)->Arg(2)->Arg(4)->Arg(8)->Arg(16)->Unit(benchmark::kMillisecond);
BENCHMARK(regionExpand)->Arg(1)->Arg(2)->Arg(4)->Arg(8)->Arg(16)->Unit(benchmark::kMillisecond);
BENCHMARK(regionEncode)->Arg(2)->Arg(8)->Iterations(1)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
