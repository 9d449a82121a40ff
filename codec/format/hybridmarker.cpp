#include "codec/format/hybridmarker.h"

#include <QFile>
#include <QIODevice>

namespace veltrano {

namespace {

// Whether the first line of data starting with `head` (at most 13 bytes of
// it) holds at least 13 bytes: no line feed among bytes 0 to 11.
bool firstLineReachesMarker(const QByteArray &head)
{
    if (head.size() <= hybridMarkerOffset)
        return false;
    for (int i = 0; i < hybridMarkerOffset; ++i)
        if (head.at(i) == '\n')
            return false;
    return true;
}

} // namespace

QByteArray readFirstLine(QIODevice &device)
{
    return device.readLine(maxFirstLineBytes);
}

bool isHybridJpeg(const QByteArray &firstLine)
{
    return firstLine.size() > hybridMarkerOffset && firstLine.at(hybridMarkerOffset) == hybridMarker;
}

bool isHybridJpegData(const QByteArray &data)
{
    const int lineFeed = data.indexOf('\n');
    const QByteArray firstLine = lineFeed < 0 ? data : data.left(lineFeed + 1);
    return firstLine.startsWith("\xFF\xD8") && isHybridJpeg(firstLine);
}

bool markHybridJpegData(QByteArray &data)
{
    if (!firstLineReachesMarker(data.left(hybridMarkerOffset + 1)))
        return false;
    data[hybridMarkerOffset] = hybridMarker;
    return true;
}

void markHybridJpeg(const QString &fileName)
{
    // ExistingOnly: marking must never create a file.
    QFile file(fileName);
    if (!file.open(QIODevice::ReadWrite | QIODevice::ExistingOnly))
        return;
    const QByteArray head = file.read(hybridMarkerOffset + 1);
    if (!firstLineReachesMarker(head) || head.at(hybridMarkerOffset) == hybridMarker)
        return;
    // The first line is written back unchanged but for byte 12, so that byte
    // is all that needs to be written.
    if (file.seek(hybridMarkerOffset))
        file.write(&hybridMarker, 1);
}

} // namespace veltrano
