#ifndef RDOUTPUTFOLDER_H
#define RDOUTPUTFOLDER_H

#include <QLockFile>
#include <QString>

namespace veltrano {

// The output folder of one study run. The run locks it from its start
// (".NAME.lock" beside it), so a second run on the same folder is refused
// with the first one's process; it writes everything into a new hidden
// folder beside it (".NAME.new") and only at the end swaps that in for the
// output folder, whose earlier contents are then removed. A run that stops
// before the end leaves the earlier folder as it was; the hidden folder of
// one that was killed is removed by the next run on the folder.
class RdOutputFolder
{
public:
    explicit RdOutputFolder(const QString &directory);
    ~RdOutputFolder();

    // Takes the lock and makes the new folder. Fails, with *error set, when
    // another run holds the lock, when the output folder holds anything a
    // study does not write (it would be replaced as a whole), or when the
    // new folder cannot be made.
    bool begin(QString *error);

    // The folder to write this run's files to.
    QString stagingPath() const;

    // Puts the new folder in the output folder's place and removes the
    // earlier one.
    bool commit(QString *error);

    // Whether a file lies inside the output folder (which the run replaces).
    bool contains(const QString &fileName) const;

private:
    QString directory;
    QString givenName;
    QString lockName;
    QLockFile lock;
    QString staging;
};

} // namespace veltrano

#endif // RDOUTPUTFOLDER_H
