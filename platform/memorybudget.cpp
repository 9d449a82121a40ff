#include "platform/memorybudget.h"

#include <QByteArray>
#include <QFile>

#include <algorithm>

#ifdef Q_OS_UNIX
#include <sys/resource.h>
#endif
#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace veltrano {

namespace {

// The value in kB of a "Name:   1234 kB" line of a /proc file, -1 when
// there is none.
qint64 procValue(const char *fileName, const QByteArray &name)
{
    QFile file(QString::fromLatin1(fileName));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    // Both files are a few kB; bounded all the same.
    const QByteArray text = file.read(64 * 1024);
    for (const QByteArray &line : text.split('\n')) {
        if (!line.startsWith(name))
            continue;
        bool ok = false;
        const qint64 value = line.mid(name.size()).simplified().split(' ').value(0).toLongLong(&ok);
        return ok ? value : -1;
    }
    return -1;
}

} // namespace

qint64 availableMemory()
{
    qint64 available = -1;
    const qint64 systemKb = procValue("/proc/meminfo", "MemAvailable:");
    const qint64 swapKb = procValue("/proc/meminfo", "SwapFree:");
    if (systemKb >= 0)
        available = (systemKb + std::max<qint64>(0, swapKb)) * 1024;
#ifdef Q_OS_UNIX
    rlimit limit{};
    if (::getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
        const qint64 mappedKb = procValue("/proc/self/status", "VmSize:");
        const qint64 left = std::max<qint64>(0, qint64(limit.rlim_cur) - std::max<qint64>(0, mappedKb) * 1024);
        available = available < 0 ? left : std::min(available, left);
    }
#endif
    return available;
}

bool fitsInMemory(qint64 bytes, const QString &what, QString *error)
{
    const qint64 available = availableMemory();
    if (available < 0 || bytes <= available)
        return true;
    if (error) {
        const qint64 mega = 1024 * 1024;
        *error = QStringLiteral("not enough memory for %1: about %2 MB are needed, %3 MB are available")
                     .arg(what)
                     .arg((bytes + mega - 1) / mega)
                     .arg(available / mega);
    }
    return false;
}

QString notEnoughMemoryMessage(const QString &what)
{
    return QStringLiteral("not enough memory for %1").arg(what);
}

void releaseFreedMemory()
{
#if defined(__GLIBC__)
    ::malloc_trim(0);
#endif
}

} // namespace veltrano
