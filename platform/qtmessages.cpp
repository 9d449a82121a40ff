#include "platform/qtmessages.h"

#include <QtGlobal>

#include <atomic>
#include <mutex>

namespace veltrano {

namespace {

// Guards the installing and the putting back of the handler.
std::mutex installing;
// Installed by a program for the whole process (never put back then).
bool installedForProcess = false;
// Sections open in all threads while no program installed the handler.
int openSections = 0;

std::atomic<QtMessageHandler> previousHandler{nullptr};
std::atomic<bool> commandLine{false};
thread_local int sectionDepth = 0;

void handle(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    const bool dropped = type != QtCriticalMsg && type != QtFatalMsg
                         && (commandLine.load(std::memory_order_relaxed) || sectionDepth > 0);
    if (dropped)
        return;
    if (const QtMessageHandler previous = previousHandler.load())
        previous(type, context, message);
}

// Called with `installing` held.
void installHandler()
{
    const QtMessageHandler replaced = qInstallMessageHandler(&handle);
    // Ours already (a handler put back over it by someone else's): the one
    // it replaced stays the one messages go on to.
    if (replaced != &handle)
        previousHandler.store(replaced);
}

} // namespace

void QtMessages::install(Program program)
{
    std::lock_guard<std::mutex> lock(installing);
    commandLine.store(program == CommandLine);
    if (installedForProcess)
        return;
    installedForProcess = true;
    // Open sections installed it already; it now stays.
    if (openSections == 0)
        installHandler();
}

QtMessages::PluginWarningsExpected::PluginWarningsExpected()
{
    ++sectionDepth;
    std::lock_guard<std::mutex> lock(installing);
    if (!installedForProcess && openSections++ == 0)
        installHandler();
}

QtMessages::PluginWarningsExpected::~PluginWarningsExpected()
{
    --sectionDepth;
    std::lock_guard<std::mutex> lock(installing);
    if (!installedForProcess && --openSections == 0)
        qInstallMessageHandler(previousHandler.load());
}

} // namespace veltrano
