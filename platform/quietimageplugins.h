#ifndef QUIETIMAGEPLUGINS_H
#define QUIETIMAGEPLUGINS_H

#include <QtGlobal>

// While it lives, Qt's debug, info and warning messages are dropped; critical
// and fatal ones still pass. Qt's image plugins report problems of the files
// they read as warnings on standard error (libjpeg's "Premature end of JPEG
// file", libpng's, from worker threads too); the command-line tools report
// every failure themselves in one line, with the reader's reason.
class QuietImagePlugins
{
public:
    QuietImagePlugins();
    ~QuietImagePlugins();
    QuietImagePlugins(const QuietImagePlugins &) = delete;
    QuietImagePlugins &operator=(const QuietImagePlugins &) = delete;

private:
    static void handle(QtMsgType type, const QMessageLogContext &context, const QString &message);
    static QtMessageHandler previous;
};

#endif // QUIETIMAGEPLUGINS_H
