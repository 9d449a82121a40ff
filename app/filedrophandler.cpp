#include "app/filedrophandler.h"

#include "commands/consolelog.h"

#include <QDropEvent>
#include <QMetaObject>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QUrl>
#include <QWidget>

namespace veltrano {

FileDropHandler::FileDropHandler(QWidget *window, QPlainTextEdit *console,
                                 std::function<void(const QString &)> open)
    : QObject(window)
    , window(window)
    , console(console)
    , open(std::move(open))
{
    window->setAcceptDrops(true);
    window->installEventFilter(this);
    for (QWidget *child : window->findChildren<QWidget *>())
        if (child->acceptDrops())
            child->installEventFilter(this);
}

bool FileDropHandler::eventFilter(QObject *watched, QEvent *event)
{
    const QEvent::Type type = event->type();
    if (type != QEvent::DragEnter && type != QEvent::DragMove && type != QEvent::Drop)
        return false;
    auto *drop = static_cast<QDropEvent *>(event);
    if (watched != window && !drop->mimeData()->hasUrls())
        return false;
    drop->acceptProposedAction();
    if (type != QEvent::Drop)
        return true;

    const QList<QUrl> urls = drop->mimeData()->urls();
    if (urls.size() != 1 || !urls.first().isLocalFile()) {
        appendStatusLine(console, tr(" - Drop refused: only a single local file can be opened."));
        return true;
    }
    const QString fileName = urls.first().toLocalFile();
    QMetaObject::invokeMethod(
        this, [this, fileName] { open(fileName); }, Qt::QueuedConnection);
    return true;
}

} // namespace veltrano
