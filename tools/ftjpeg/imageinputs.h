#ifndef IMAGEINPUTS_H
#define IMAGEINPUTS_H

#include <QString>
#include <QStringList>

namespace veltrano {

// The image files of command-line arguments, as ftjpeg rd and fit-weights
// take them: a folder stands for the png, jpg, jpeg, bmp, ppm and pgm files
// (by suffix, in any case) in it and in its subfolders, sorted by path and
// named through the folder as given; anything else stands for itself. Files
// inside any of excludedFolders (an output folder, which may hold the plots of
// an earlier run, or a folder of kept encoded files) are left out; empty
// names are ignored.
QStringList imageInputs(const QStringList &arguments, const QStringList &excludedFolders = QStringList());

} // namespace veltrano

#endif // IMAGEINPUTS_H
