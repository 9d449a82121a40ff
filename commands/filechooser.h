#ifndef FILECHOOSER_H
#define FILECHOOSER_H

#include <QString>

#include <functional>

class QWidget;

namespace veltrano {

// How Open image asks for a file. By default Qt's standard open-file dialog;
// tests install a chooser that returns a name (or an empty one, as a
// cancelled dialog does) while the real slot runs.
using OpenFileChooser = std::function<QString(QWidget *parent, const QString &caption, const QString &directory)>;

// Installs a chooser; an empty one restores the dialog.
void setOpenFileChooser(OpenFileChooser chooser);

QString chooseFileToOpen(QWidget *parent, const QString &caption, const QString &directory);

// How the panes' "Save image as" asks for a file name, in the same way: by
// default Qt's standard save-file dialog, starting at `suggestion` (a folder,
// or a file name in one).
using SaveFileChooser = OpenFileChooser;

void setSaveFileChooser(SaveFileChooser chooser);

QString chooseFileToSave(QWidget *parent, const QString &caption, const QString &suggestion);

} // namespace veltrano

#endif // FILECHOOSER_H
