#ifndef RDVIEWER_H
#define RDVIEWER_H

#include "study/rdpoint.h"

#include <QByteArray>
#include <QHash>
#include <QImage>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QVector>

#include <mutex>

namespace veltrano {

// The study's image viewer (ftjpeg rd --view): viewer.html beside
// report.html, and a folder view/ holding the viewer's script and style, an
// index of the points (index.js, a script that assigns the data, since a
// page opened from file:// may not fetch files) and per image a folder with
// the source and the decoded image of every point as lossless PNG:
//
//   view/<image stem>/original.png, view/<image stem>/<scheme>_<setting>.png
//   view/<image stem>/preview/...   (the same, reduced, for large images)
//
// The PNGs hold the decoders' own pixels; the viewer loads them lazily.
namespace RdViewer {

// The folder of the viewer's files inside the output folder.
QString folderName();

// The folder name of an image under view/: its file name without the last
// suffix, with "-" and the image index appended when the stem is taken
// already (by an earlier image or by one of the viewer's own files).
QString imageFolder(const QString &imageFile, int index, QStringList *taken);

// The file of a decoded point: the scheme's name ("%", "/", "\" and
// control characters as "%" and two hexadecimal digits), "_", the setting,
// ".png".
QString pointFileName(const QString &scheme, int setting);
QString originalFileName();

// By how much an image of this size is reduced for its preview (a power of
// two), 1 when it gets none: previews are made when the longer side exceeds
// 2560 pixels, at most 1600 pixels long.
int previewReduction(const QSize &size);

// The PNG files written to one folder, by their content, so that a second
// image with the same pixels (jpeg-opt decodes to jpeg's) becomes a hard
// link to the first. Shared by threads.
class WrittenImages
{
public:
    // The file already written with this content, or empty, in which case
    // name is recorded for it.
    QString claim(const QByteArray &digest, const QString &name);

private:
    std::mutex mutex;
    QHash<QByteArray, QString> names;
};

// Writes the image as PNG (grey images with one channel, alpha dropped) to
// folder/name, and its preview to folder/preview/name when it has one; as a
// hard link to an earlier file of the same content when written is given.
bool writeImage(const QImage &image, const QString &folder, const QString &name, QString *error,
                WrittenImages *written = nullptr);

// The bit rates every scheme of an image reaches: from the largest of the
// schemes' lowest rates to the smallest of their highest, over the points
// with a finite positive rate. Schemes with fewer than two points in that
// range (or none at all, or a range that is empty) are named in notes.
struct SharedRates
{
    double low = 0.0;
    double high = 0.0;
    bool shared = false;
    QStringList notes;
};
SharedRates sharedRates(const RdImageResult &image, const QStringList &schemes,
                        const QVector<RdSkippedImage> &failures);

// The viewer's address that opens an image (its place in the study) with a
// scheme at a bit rate, relative to the output folder.
QString pointLink(int image, const QString &scheme, double bpp);

// Writes viewer.html, view/viewer.js, view/viewer.css and view/index.js
// for the study into the output folder (the decoded images are there
// already).
bool writeViewer(const RdStudy &study, const QString &directory, QString *error);

// The folders of decoded images of every image of a merged study, taken
// from the shards' view/ folders (hard links where the file system allows,
// copies otherwise) into directory/view/, and set in each image's
// viewFolder. Images whose shard ran without --view keep an empty folder;
// *missing gets their names.
bool mergeImages(RdStudy *study, const QStringList &shardDirectories, const QString &directory,
                 QStringList *missing, QString *error);

} // namespace RdViewer

} // namespace veltrano

#endif // RDVIEWER_H
