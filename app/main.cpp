#include "app/mainwindow.h"
#include "platform/qtmessages.h"

#include <QApplication>

#include <cstdio>
#include <cstring>

using namespace veltrano;

int main(int argc, char *argv[])
{
    QtMessages::install(QtMessages::Window);
    std::fputs("console: name, min area, max diff, back rejoin, edge, sim\n", stdout);
    std::fflush(stdout);

    if (argc == 1) {
        QApplication application(argc, argv);
        int result;
        {
            MainWindow window;
            window.show();
            result = application.exec();
        }
        return result;
    }

    // Console mode: echo the arguments exactly as received, each followed by
    // a tab. No application object is created, so Qt never sees them.
    std::fputs("combination: ", stdout);
    for (int i = 1; i < argc; ++i) {
        std::fwrite(argv[i], 1, std::strlen(argv[i]), stdout);
        std::fputc('\t', stdout);
    }
    std::fputc('\n', stdout);
    std::fflush(stdout);
    return 1;
}
