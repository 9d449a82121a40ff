#ifndef STREAMOUTPUTFILE_H
#define STREAMOUTPUTFILE_H

#include <QByteArray>
#include <QSaveFile>
#include <QString>

namespace veltrano {

// A file written piece by piece that replaces its target only when commit()
// succeeds, as writeFileAtomically does for bytes held in memory: a failure,
// or destruction without commit, leaves no partial file and keeps an earlier
// one. Writes are collected in a buffer of its own and passed on unbuffered,
// so every short write is seen.
class StreamOutputFile
{
public:
    explicit StreamOutputFile(const QString &fileName);
    ~StreamOutputFile();
    StreamOutputFile(const StreamOutputFile &) = delete;
    StreamOutputFile &operator=(const StreamOutputFile &) = delete;

    // False, with error() set, when the target cannot be written.
    bool open();
    // False once any write has failed; error() tells why.
    bool write(const char *data, qint64 count);
    // Writes bytes over ones written before, from `position` on (the rest of
    // the file stays, and writing goes on at its end); false once any write
    // has failed.
    bool overwrite(qint64 position, const QByteArray &bytes);
    bool commit();

    bool failed() const { return !error_.isEmpty(); }
    const QString &error() const { return error_; }
    // The bytes written so far.
    qint64 size() const { return total; }

private:
    bool flush();
    void fail(const QString &reason);

    QString fileName;
    QSaveFile file;
    QByteArray buffer;
    qint64 used = 0;
    qint64 total = 0;
    qint64 flushed = 0; // bytes passed to the file
    bool opened = false;
    QString error_;
};

} // namespace veltrano

#endif // STREAMOUTPUTFILE_H
