#ifndef FILEDROPHANDLER_H
#define FILEDROPHANDLER_H

#include <QObject>
#include <QString>

#include <functional>

class QPlainTextEdit;
class QWidget;

namespace veltrano {

// Files dropped on the window: one local file is handed to `open` (once the
// drop is over, so that the drag's source is not kept waiting); anything else
// is refused with a console line. Widgets of the window that take drops of
// their own (the console, the spin box's text) keep drops of text.
class FileDropHandler : public QObject
{
    Q_OBJECT

public:
    FileDropHandler(QWidget *window, QPlainTextEdit *console, std::function<void(const QString &)> open);

    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QWidget *window;
    QPlainTextEdit *console;
    std::function<void(const QString &)> open;
};

} // namespace veltrano

#endif // FILEDROPHANDLER_H
