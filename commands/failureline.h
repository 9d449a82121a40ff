#ifndef FAILURELINE_H
#define FAILURELINE_H

#include <QString>

class QPlainTextEdit;

namespace veltrano {

// A status line telling why a step failed, in the console's own style: the
// time, " - ", then the reason as a sentence (first letter upper case, a full
// stop at the end), e.g. "09:05:03 - Cannot write jpeg.jpg: Permission denied."
void appendFailureLine(QPlainTextEdit *console, const QString &reason);

} // namespace veltrano

#endif // FAILURELINE_H
