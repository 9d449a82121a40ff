#include "commands/busycursor.h"

#include <QCursor>
#include <QGuiApplication>

namespace veltrano {

BusyCursor::BusyCursor()
    : active(qobject_cast<QGuiApplication *>(QCoreApplication::instance()) != nullptr)
{
    if (active)
        QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
}

BusyCursor::~BusyCursor()
{
    if (active)
        QGuiApplication::restoreOverrideCursor();
}

} // namespace veltrano
