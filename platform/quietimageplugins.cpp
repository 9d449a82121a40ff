#include "platform/quietimageplugins.h"

QtMessageHandler QuietImagePlugins::previous = nullptr;

QuietImagePlugins::QuietImagePlugins()
{
    previous = qInstallMessageHandler(&QuietImagePlugins::handle);
}

QuietImagePlugins::~QuietImagePlugins()
{
    qInstallMessageHandler(previous);
}

void QuietImagePlugins::handle(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if ((type == QtCriticalMsg || type == QtFatalMsg) && previous)
        previous(type, context, message);
}
