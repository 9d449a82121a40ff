#include "filechooser.h"

#include <QFileDialog>

namespace {
OpenFileChooser &installedChooser()
{
    static OpenFileChooser chooser;
    return chooser;
}
} // namespace

void setOpenFileChooser(OpenFileChooser chooser)
{
    installedChooser() = std::move(chooser);
}

QString chooseFileToOpen(QWidget *parent, const QString &caption, const QString &directory)
{
    if (installedChooser())
        return installedChooser()(parent, caption, directory);
    return QFileDialog::getOpenFileName(parent, caption, directory);
}
