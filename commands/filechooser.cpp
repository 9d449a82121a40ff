#include "commands/filechooser.h"

#include <QFileDialog>

namespace veltrano {

namespace {
OpenFileChooser &installedChooser()
{
    static OpenFileChooser chooser;
    return chooser;
}

SaveFileChooser &installedSaveChooser()
{
    static SaveFileChooser chooser;
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

void setSaveFileChooser(SaveFileChooser chooser)
{
    installedSaveChooser() = std::move(chooser);
}

QString chooseFileToSave(QWidget *parent, const QString &caption, const QString &suggestion)
{
    if (installedSaveChooser())
        return installedSaveChooser()(parent, caption, suggestion);
    return QFileDialog::getSaveFileName(parent, caption, suggestion);
}

} // namespace veltrano
