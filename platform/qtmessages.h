#ifndef QTMESSAGES_H
#define QTMESSAGES_H

namespace veltrano {

// What becomes of Qt's own messages (qDebug, qInfo, qWarning, qCritical,
// qFatal and those of Qt's image plugins) in every program of the project
// and in the Python module. One handler applies these rules:
//
//  - Critical and fatal messages always go on to the handler that was there
//    before (Qt's, which prints them on standard error).
//  - A command-line program (ftjpeg, both its executable and its module,
//    ssimdiff_cygwin, the Python module) drops every debug, info and warning
//    message, from any thread, for as long as it runs: it reports each of
//    its failures itself, in one line with the reason (the Python module as
//    an exception), and Qt's words beside them would only be noise. Among
//    them are the image plugins' complaints about the files they read
//    (libjpeg's "Premature end of JPEG file", libpng's), which come from the
//    worker threads of a study too, and Qt's note that XDG_RUNTIME_DIR is
//    not set, which the offscreen platform of a tool does not need.
//  - The window passes those messages on, as Qt would.
//  - Whatever the program, a thread inside a PluginWarningsExpected section
//    has its debug, info and warning messages dropped: code that hands a
//    file which may be damaged to Qt's image readers opens one around the
//    reading, since it has checked the file with its own readers and reports
//    the damage in its own words. Messages of other threads are not touched.
//
// A program installs the handler once, first thing in main() (the Python
// module when it is imported). Library code only opens sections; where no
// program installed the handler (a test, a fuzz target), the first open
// section installs it and the last one to close puts back the handler it
// replaced, so that a section also works under QtTest's handler. A module
// linked with its own copy of this library (ftjpeg's) installs its own
// handler on top of the executable's; both apply the same rules.
class QtMessages
{
public:
    enum Program {
        CommandLine, // debug, info and warning messages are dropped
        Window       // they are passed on, outside sections
    };

    // Installs the handler for the whole process, the first time it is
    // called; a later call only changes the kind of program. Thread-safe.
    static void install(Program program);

    // While one lives, Qt's debug, info and warning messages of the thread
    // that made it are dropped. Sections nest, and any number of threads may
    // hold one at a time.
    class PluginWarningsExpected
    {
    public:
        PluginWarningsExpected();
        ~PluginWarningsExpected();
        PluginWarningsExpected(const PluginWarningsExpected &) = delete;
        PluginWarningsExpected &operator=(const PluginWarningsExpected &) = delete;
    };
};

} // namespace veltrano

#endif // QTMESSAGES_H
