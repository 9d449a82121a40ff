#ifndef COMMANDCONTEXT_H
#define COMMANDCONTEXT_H

class QImage;
class QLabel;
class QPlainTextEdit;
class QSpinBox;
class QWidget;

namespace veltrano {

// What the interactive commands use of the window: its widgets and the state
// they share. The window owns everything pointed to.
struct CommandContext
{
    QWidget *window = nullptr;
    QPlainTextEdit *console = nullptr;
    QLabel *originalPane = nullptr;
    QLabel *jpegPane = nullptr;
    QLabel *hybridPane = nullptr;
    QSpinBox *quality = nullptr;
    QImage *currentImage = nullptr;
    bool *imageOpened = nullptr;
};

} // namespace veltrano

#endif // COMMANDCONTEXT_H
