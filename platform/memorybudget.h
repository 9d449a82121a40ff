#ifndef MEMORYBUDGET_H
#define MEMORYBUDGET_H

#include <QString>

namespace veltrano {

// Bytes this process can still allocate, as far as can be told before
// trying: the smaller of what its address-space limit (ulimit -v) leaves
// beside what is mapped already, and the memory and swap the system has
// available. -1 when neither can be told.
qint64 availableMemory();

// True when `bytes` fit in availableMemory(); otherwise false, with *error
// (when given) set to "not enough memory for WHAT: about N MB are needed,
// M MB are available".
bool fitsInMemory(qint64 bytes, const QString &what, QString *error);

// "not enough memory for WHAT", the message of an allocation that failed
// although the estimate let it start.
QString notEnoughMemoryMessage(const QString &what);

// Gives the heap's freed pages back to the system, so that a long-running
// process does not keep the peak of its last large command.
void releaseFreedMemory();

} // namespace veltrano

#endif // MEMORYBUDGET_H
