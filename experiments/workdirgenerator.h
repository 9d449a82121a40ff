#ifndef WORKDIRGENERATOR_H
#define WORKDIRGENERATOR_H

#include <QList>
#include <QString>

#include <functional>

namespace veltrano {

// Lays out a working directory with every input file that the window's
// commands and the batch experiments read, made from the files of the data
// folder (data/ of the source tree):
//
//   weights_out.txt          501 lines, line i = workingDirectoryWeight(i)
//   pattern.png, hdr_triang_4.png   copied from data/
//   in/fireworks.ppm         the middle 400x300 pixels of
//                            photos/hubble_deep_field.jpg
//   in/texture.ppm           photos/brick.png scaled to 256x256
//   temp/texture_bic_sm_<q>.jpg, .ppm   for q = 0, 10, ..., 100: the texture
//                            as JPEG at quality q, and that JPEG decoded
//   out/hdr.ppm              photos/chelsea.png cut to 4:3 and scaled to
//                            128x96
//   out/hdr_decompressed_ftih_4_0_<i>_70.png   for i = 4 .. 100: out/hdr.ppm
//                            through the F-transform codec with step 4,
//                            kernel radius 4, its components as JPEG at
//                            quality 70, reconstructed with radius i and the
//                            weights above
//   photos/                  a copy of data/photos, LICENSE.txt included
//
// The folders are created as needed. Existing files of these names are
// replaced, each only once its new content is complete; nothing else in the
// directory is touched. The output depends only on the data folder, so two
// runs write identical bytes.
//
// progress, when given, is called after each file with the number of files
// written so far and the number there will be. Returns false with *error
// set on the first failure.
bool generateWorkingDirectory(const QString &dataDirectory, const QString &directory, QString *error,
                              const std::function<void(int done, int total)> &progress = {});

// The weights table: entry i is the weight of a node at i / 20 node spacings
// from a pixel, 1 / (1 + (i / 20)^2). It is 1 at the node and falls smoothly
// and slowly (0.8 at one spacing, 1/626 at 25), so every entry a radius
// reaches adds a little more of the farther nodes: in the HDR series (step 4,
// radii up to 100 pixels, i.e. indexes up to 500) each larger radius smooths
// more, and the hybrid codec's entries 0 and 10 are both well away from 0.
constexpr int workingDirectoryWeightCount = 501;
double workingDirectoryWeight(int index);

// The whole table, as readWeightsFile reads it from the weights_out.txt the
// generator writes.
QList<float> workingDirectoryWeights();

// The data folder ftjpeg workdir uses without --data: the installed one when
// it is there, else data/ of the source tree this program was built from
// (recorded at configure time, so any build folder finds it).
QString defaultDataDirectory();

} // namespace veltrano

#endif // WORKDIRGENERATOR_H
