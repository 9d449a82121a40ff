#include "study/rdoutputfolder.h"
#include "platform/messagetext.h"

#include "study/rdcommandscheme.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <csignal>
#include <pthread.h>
#include <dirent.h>
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace veltrano {

namespace {

// The viewer's folder (rdviewer.h): its script, style and index, and per
// image a folder of PNG files with at most a preview folder of PNG files in
// it; no links.
bool isViewerTree(const QString &path, int depth)
{
    static const QRegularExpression own(QStringLiteral("^[^/]+\\.(js|css)$"));
    const QFileInfoList entries =
        QDir(path).entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo &entry : entries) {
        if (entry.isSymLink())
            return false;
        if (entry.isDir()) {
            if (depth == 2 || (depth == 1 && entry.fileName() != QLatin1String("preview"))
                || !isViewerTree(entry.filePath(), depth + 1))
                return false;
        } else if (!entry.isFile()
                   || !(depth == 0 ? own.match(entry.fileName()).hasMatch()
                                   : entry.fileName().endsWith(QLatin1String(".png")))) {
            return false;
        }
    }
    return true;
}

// The files a study writes at the top of its folder.
bool isStudyFile(const QFileInfo &info)
{
    static const QRegularExpression names(QStringLiteral("^([^/]+\\.csv|plot-[^/]*\\.png|[^/]+\\.html)$"));
    if (info.fileName() == QLatin1String("view") && info.isDir() && !info.isSymLink())
        return isViewerTree(info.filePath(), 0);
    return info.isFile() && !info.isSymLink() && names.match(info.fileName()).hasMatch();
}

// Swaps two paths in one step where the system can (both exist), so that
// the output folder is never missing; two renames otherwise.
bool exchange(const QString &from, const QString &to)
{
    const QByteArray a = QFile::encodeName(from);
    const QByteArray b = QFile::encodeName(to);
#if defined(RENAME_EXCHANGE)
    if (::renameat2(AT_FDCWD, a.constData(), AT_FDCWD, b.constData(), RENAME_EXCHANGE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
#endif
    const QByteArray aside = b + ".old";
    if (std::rename(b.constData(), aside.constData()) != 0)
        return false;
    if (std::rename(a.constData(), b.constData()) != 0) {
        std::rename(aside.constData(), b.constData());
        return false;
    }
    return std::rename(aside.constData(), a.constData()) == 0;
}

// The new folder and the lock of the run in progress, for the signal
// handler: a run stopped by SIGINT, SIGTERM or SIGHUP removes them before it
// ends. The folder holds files (tables, plots, the report) and the viewer's
// folders, at most four levels deep (view/<image>/preview/<file>).
char pendingFolder[4096];
char pendingLock[4096];
struct sigaction previousActions[3];
const int caughtSignals[3] = {SIGINT, SIGTERM, SIGHUP};
constexpr int pendingDepth = 4;

// Async-signal-safe: raw directory reads and unlinks, no allocation. Removes
// what the folder open as `folder` holds, subfolders down to `levels`.
void removeContents(int folder, int levels)
{
    alignas(8) char buffer[4096];
    for (;;) {
        const long count = ::syscall(SYS_getdents64, folder, buffer, sizeof buffer);
        if (count <= 0)
            break;
        for (long at = 0; at < count;) {
            const auto *entry = reinterpret_cast<const struct dirent64 *>(buffer + at);
            at += entry->d_reclen;
            if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0)
                continue;
            if (::unlinkat(folder, entry->d_name, 0) == 0 || levels <= 1)
                continue;
            const int child = ::openat(folder, entry->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (child < 0)
                continue;
            removeContents(child, levels - 1);
            ::close(child);
            ::unlinkat(folder, entry->d_name, AT_REMOVEDIR);
        }
    }
}

void removePending(int signal)
{
    // No encoder or decoder of a command scheme outlives the run.
    rdKillRunningCommands();
    if (pendingFolder[0]) {
        const int folder = ::open(pendingFolder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (folder >= 0) {
            removeContents(folder, pendingDepth);
            ::close(folder);
        }
        ::rmdir(pendingFolder);
    }
    if (pendingLock[0])
        ::unlink(pendingLock);
    for (int i = 0; i < 3; ++i)
        if (caughtSignals[i] == signal)
            ::sigaction(signal, &previousActions[i], nullptr);
    ::raise(signal);
}

bool copyPath(char *target, const QByteArray &path)
{
    if (path.size() >= 4096)
        return false;
    std::memcpy(target, path.constData(), std::size_t(path.size()) + 1);
    return true;
}

// From here on a signal removes the lock (and the new folder, once named).
void catchSignals(const QString &lockName)
{
    if (!copyPath(pendingLock, QFile::encodeName(lockName)))
        return;
    struct sigaction action{};
    action.sa_handler = removePending;
    sigemptyset(&action.sa_mask);
    for (int i = 0; i < 3; ++i)
        ::sigaction(caughtSignals[i], &action, &previousActions[i]);
}

void releaseSignals()
{
    if (!pendingLock[0])
        return;
    for (int i = 0; i < 3; ++i)
        ::sigaction(caughtSignals[i], &previousActions[i], nullptr);
    pendingFolder[0] = 0;
    pendingLock[0] = 0;
}

// The caught signals held back while the lock is taken and the handler set.
class SignalsHeld
{
public:
    SignalsHeld()
    {
        sigset_t set;
        sigemptyset(&set);
        for (int signal : caughtSignals)
            sigaddset(&set, signal);
        pthread_sigmask(SIG_BLOCK, &set, &previous);
    }
    ~SignalsHeld() { pthread_sigmask(SIG_SETMASK, &previous, nullptr); }

private:
    sigset_t previous;
};

} // namespace

RdOutputFolder::RdOutputFolder(const QString &directory)
    : directory(QDir::cleanPath(QFileInfo(directory).absoluteFilePath())),
      givenName(directory),
      lockName(QFileInfo(this->directory).absolutePath() + QStringLiteral("/.") + QFileInfo(this->directory).fileName()
               + QStringLiteral(".lock")),
      lock(lockName)
{
}

RdOutputFolder::~RdOutputFolder()
{
    if (!staging.isEmpty())
        QDir(staging).removeRecursively();
    lock.unlock();
    releaseSignals();
}

bool RdOutputFolder::begin(QString *error)
{
    const QFileInfo info(directory);
    const QString parent = info.absolutePath();
    const QString name = info.fileName();
    if (name.isEmpty() || info.isRoot()) {
        *error = QStringLiteral("cannot replace the folder %1 as a whole; name a folder of its own with --out")
                     .arg(displayName(givenName));
        return false;
    }
    if (!QDir().mkpath(parent)) {
        *error = QStringLiteral("cannot create the folder %1").arg(displayName(parent));
        return false;
    }
    // A lock whose process is gone is taken over; a live one never is, however
    // long its study runs.
    lock.setStaleLockTime(0);
    const SignalsHeld held;
    if (lock.tryLock(0))
        catchSignals(lockName);
    else {
        qint64 pid = 0;
        QString host;
        QString application;
        if (lock.getLockInfo(&pid, &host, &application))
            *error = QStringLiteral("another study (process %1) is writing to %2; wait for it to end or choose "
                                    "another --out")
                         .arg(pid)
                         .arg(displayName(givenName));
        else
            *error = QStringLiteral("cannot lock the folder %1 (%2)").arg(displayName(givenName), lockName);
        return false;
    }
    if (info.exists()) {
        if (!info.isDir() || info.isSymLink()) {
            *error = QStringLiteral("the output %1 is not a folder").arg(displayName(givenName));
            return false;
        }
        const QFileInfoList entries =
            QDir(directory).entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
        for (const QFileInfo &entry : entries) {
            if (!isStudyFile(entry)) {
                *error = QStringLiteral("the output folder %1 holds %2, which no study wrote; the folder is "
                                        "replaced as a whole, so choose an empty or new one")
                             .arg(displayName(givenName), entry.fileName());
                return false;
            }
        }
    }
    // The new folder of a run that was killed; none is in use while the lock
    // is held. It is named for the handler before it is made.
    staging = parent + QStringLiteral("/.") + name + QStringLiteral(".new");
    QDir(staging).removeRecursively();
    if (!copyPath(pendingFolder, QFile::encodeName(staging)) || !QDir().mkdir(staging)) {
        *error = QStringLiteral("cannot create the folder %1").arg(displayName(staging));
        staging.clear();
        return false;
    }
    return true;
}

QString RdOutputFolder::stagingPath() const
{
    return staging.isEmpty() ? directory : staging;
}

bool RdOutputFolder::commit(QString *error)
{
    if (staging.isEmpty()) {
        *error = QStringLiteral("no new folder for %1").arg(displayName(givenName));
        return false;
    }
    const bool done = QFileInfo::exists(directory)
        ? exchange(staging, directory)
        : std::rename(QFile::encodeName(staging).constData(), QFile::encodeName(directory).constData()) == 0;
    if (!done) {
        *error = QStringLiteral("cannot put the new results in place of %1: %2")
                     .arg(displayName(givenName), QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    // The new folder's name now holds the earlier folder (or nothing).
    QDir(staging).removeRecursively();
    staging.clear();
    releaseSignals();
    return true;
}

bool RdOutputFolder::contains(const QString &fileName) const
{
    const QString path = QDir::cleanPath(QFileInfo(fileName).absoluteFilePath());
    return path.startsWith(directory + QLatin1Char('/'));
}

} // namespace veltrano
