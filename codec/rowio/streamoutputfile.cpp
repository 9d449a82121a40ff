#include "codec/rowio/streamoutputfile.h"

#include <QDir>

#include <cstring>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <unistd.h>
#endif

namespace veltrano {

namespace {

constexpr qint64 bufferBytes = qint64(1) << 18;

} // namespace

StreamOutputFile::StreamOutputFile(const QString &fileName)
    : fileName(fileName)
    , file(fileName)
{
}

StreamOutputFile::~StreamOutputFile()
{
    if (opened)
        file.cancelWriting();
}

void StreamOutputFile::fail(const QString &reason)
{
    if (error_.isEmpty())
        error_ = QStringLiteral("cannot write %1: %2").arg(QDir::toNativeSeparators(fileName), reason);
}

bool StreamOutputFile::open()
{
    // QSaveFile asks with the real user's rights whether the target may be
    // replaced; it is replaced with the effective user's.
#ifdef Q_OS_UNIX
    const QByteArray name = QFile::encodeName(fileName);
    if (::faccessat(AT_FDCWD, name.constData(), F_OK, AT_EACCESS) == 0
        && ::faccessat(AT_FDCWD, name.constData(), W_OK, AT_EACCESS) != 0) {
        fail(QStringLiteral("Existing file %1 is not writable").arg(QDir::toNativeSeparators(fileName)));
        return false;
    }
#endif
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        fail(file.errorString());
        return false;
    }
    opened = true;
    buffer.resize(int(bufferBytes));
    return true;
}

bool StreamOutputFile::flush()
{
    qint64 written = 0;
    while (written < used) {
        const qint64 count = file.write(buffer.constData() + written, used - written);
        if (count <= 0) {
            fail(file.error() != QFileDevice::NoError ? file.errorString()
                                                      : QStringLiteral("the data could not all be written"));
            return false;
        }
        written += count;
    }
#ifdef Q_OS_LINUX
    // The data go to the disk while the rest is computed, so the commit's
    // wait for them is short.
    ::sync_file_range(file.handle(), flushed, used, SYNC_FILE_RANGE_WRITE);
#endif
    flushed += used;
    used = 0;
    return true;
}

bool StreamOutputFile::write(const char *data, qint64 count)
{
    if (!opened || failed())
        return false;
    total += count;
    while (count > 0) {
        const qint64 room = bufferBytes - used;
        const qint64 part = count < room ? count : room;
        std::memcpy(buffer.data() + used, data, std::size_t(part));
        used += part;
        data += part;
        count -= part;
        if (used == bufferBytes && !flush())
            return false;
    }
    return true;
}

bool StreamOutputFile::overwrite(qint64 position, const QByteArray &bytes)
{
    if (!opened || failed() || position < 0 || position + bytes.size() > total || !flush())
        return false;
    if (!file.seek(position) || file.write(bytes) != bytes.size() || !file.seek(total)) {
        fail(file.error() != QFileDevice::NoError ? file.errorString()
                                                  : QStringLiteral("the data could not all be written"));
        return false;
    }
    return true;
}

bool StreamOutputFile::commit()
{
    if (!opened || failed() || !flush())
        return false;
    opened = false;
    if (!file.commit()) {
        fail(file.errorString());
        return false;
    }
    return true;
}

} // namespace veltrano
