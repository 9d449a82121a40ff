#include "app/paneviewer.h"

#include "commands/busycursor.h"
#include "commands/consolelog.h"
#include "commands/failureline.h"
#include "commands/filechooser.h"
#include "codec/qimage/imagefile.h"
#include "app/panerenderer.h"

#include <QAction>
#include <QClipboard>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QStyle>
#include <QToolTip>
#include <QWheelEvent>

#include <cmath>

namespace veltrano {

namespace {
const int originalPane = 0;
// One notch of a mouse wheel.
const int wheelNotch = 120;
// Quarter-octave zoom steps of one notch and of one key press.
const int stepsPerNotch = 1;
const int stepsPerKey = 4;

QPixmap labelPixmap(const QLabel *label)
{
    return label->pixmap(Qt::ReturnByValue);
}
} // namespace

PaneViewer::PaneViewer(QWidget *window, const QList<QLabel *> &panes, QPlainTextEdit *console)
    : QObject(window)
    , window(window)
    , panes(panes)
    , console(console)
{
    for (int i = 0; i < panes.size(); ++i) {
        cache.append(CachedImage());
        difference.append(false);
        panes.at(i)->installEventFilter(this);
    }
    window->installEventFilter(this);
}

bool PaneViewer::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == window) {
        if (event->type() == QEvent::KeyPress)
            return handleKey(static_cast<QKeyEvent *>(event));
        return false;
    }
    // Compared as QObject pointers: the filter also sees the events a label
    // gets while it is destroyed, when it is no longer a QLabel.
    int pane = -1;
    for (int i = 0; i < panes.size() && pane < 0; ++i) {
        if (static_cast<QObject *>(panes.at(i)) == watched)
            pane = i;
    }
    if (pane < 0)
        return false;

    switch (event->type()) {
    case QEvent::Paint:
        synchronise();
        if (!viewChanged && !difference.at(pane))
            return false;
        paint(pane);
        return true;
    case QEvent::Wheel: {
        auto *wheel = static_cast<QWheelEvent *>(event);
        if (!hasView())
            return true;
        wheelRemainder += wheel->angleDelta().y();
        const int notches = wheelRemainder / wheelNotch;
        wheelRemainder -= notches * wheelNotch;
        if (notches != 0) {
            view.zoomBy(notches * stepsPerNotch, anchorAt(pane, wheel->position()));
            changeView();
        }
        return true;
    }
    case QEvent::MouseButtonPress: {
        auto *mouse = static_cast<QMouseEvent *>(event);
        // The keys act on the window: take the focus from a text field.
        window->setFocus(Qt::MouseFocusReason);
        if (mouse->button() != Qt::LeftButton || !hasView())
            return mouse->button() == Qt::LeftButton;
        dragging = true;
        dragLast = mouse->globalPos();
        QGuiApplication::setOverrideCursor(QCursor(Qt::ClosedHandCursor));
        return true;
    }
    case QEvent::MouseMove: {
        auto *mouse = static_cast<QMouseEvent *>(event);
        if (!dragging)
            return false;
        const QPoint delta = mouse->globalPos() - dragLast;
        dragLast = mouse->globalPos();
        if (hasView() && !delta.isNull()) {
            view.panBy(delta);
            changeView();
        }
        return true;
    }
    case QEvent::MouseButtonRelease: {
        auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->button() != Qt::LeftButton || !dragging)
            return false;
        dragging = false;
        QGuiApplication::restoreOverrideCursor();
        return true;
    }
    case QEvent::MouseButtonDblClick: {
        auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->button() != Qt::LeftButton)
            return false;
        if (hasView())
            toggleFit(anchorAt(pane, mouse->localPos()));
        return true;
    }
    case QEvent::ContextMenu: {
        auto *menuEvent = static_cast<QContextMenuEvent *>(event);
        showContextMenu(pane, menuEvent->pos(), menuEvent->globalPos());
        return true;
    }
    case QEvent::ToolTip:
        showReadout(pane, static_cast<QHelpEvent *>(event));
        return true;
    default:
        return false;
    }
}

// A new picture in the original pane is a new image: its first display is
// the label's own, and no difference is shown.
void PaneViewer::synchronise()
{
    const QPixmap reference = labelPixmap(panes.at(originalPane));
    const qint64 key = reference.isNull() ? 0 : reference.cacheKey();
    if (key == referenceKey)
        return;
    referenceKey = key;
    viewChanged = false;
    for (bool &shown : difference)
        shown = false;
    wheelRemainder = 0;
    const QLabel *label = panes.at(originalPane);
    const QRect contents = label->contentsRect();
    const QRect placed = QStyle::alignedRect(
        label->layoutDirection(), QStyle::visualAlignment(label->layoutDirection(), label->alignment()),
        reference.size() / reference.devicePixelRatio(), contents);
    view = PaneView(reference.size(), contents.size(), placed.topLeft() - contents.topLeft());
}

// The pane's picture in a format the renderer reads, converted once per
// picture.
const QImage &PaneViewer::paneImage(int pane)
{
    CachedImage &entry = cache[pane];
    const QPixmap pixmap = labelPixmap(panes.at(pane));
    const qint64 key = pixmap.isNull() ? 0 : pixmap.cacheKey();
    if (key != entry.key) {
        entry.key = key;
        entry.picture.setImage(pixmap.isNull() ? QImage() : viewableFormat(pixmap.toImage()));
    }
    return entry.picture.image();
}

// |pane - original| x 4 at full resolution, computed once for each pair of
// pictures.
ImagePyramid &PaneViewer::differencePyramid(int pane)
{
    paneImage(pane);
    paneImage(originalPane);
    CachedImage &entry = cache[pane];
    const qint64 originalKey = cache.at(originalPane).key;
    if (entry.differenceKey != entry.key || entry.differenceOriginalKey != originalKey) {
        entry.differenceKey = entry.key;
        entry.differenceOriginalKey = originalKey;
        BusyCursor busy;
        entry.difference.setImage(
            differenceImage(entry.picture.image(), cache.at(originalPane).picture.image()));
    }
    return entry.difference;
}

QPoint PaneViewer::panePosition(int pane, const QPointF &labelPosition) const
{
    const QPoint pixel(int(std::floor(labelPosition.x())), int(std::floor(labelPosition.y())));
    return pixel - panes.at(pane)->contentsRect().topLeft();
}

// Zooming keeps the image point under the centre of the pane pixel at
// labelPosition, so the pixel under the cursor stays under it.
QPointF PaneViewer::anchorAt(int pane, const QPointF &labelPosition) const
{
    return QPointF(panePosition(pane, labelPosition)) + QPointF(0.5, 0.5);
}

QPointF PaneViewer::paneCentre() const
{
    const QSize size = panes.at(originalPane)->contentsRect().size();
    return QPointF(size.width() / 2.0, size.height() / 2.0);
}

bool PaneViewer::hasView()
{
    synchronise();
    return !view.isNull();
}

void PaneViewer::changeView()
{
    viewChanged = true;
    for (QLabel *label : panes)
        label->update();
}

void PaneViewer::toggleFit(const QPointF &panePoint)
{
    if (view.isFit())
        view.zoomTo(1.0, panePoint);
    else
        view.fit();
    changeView();
}

void PaneViewer::paint(int pane)
{
    if (paneImage(pane).isNull())
        return;
    const bool showDifference = difference.at(pane);
    ImagePyramid &pyramid = showDifference ? differencePyramid(pane) : cache[pane].picture;
    QLabel *label = panes.at(pane);
    const QRect contents = label->contentsRect();
    // Exposures (a tooltip, a menu) redraw the last frame as it is.
    CachedImage &entry = cache[pane];
    const qint64 originalKey = showDifference ? entry.differenceOriginalKey : 0;
    if (entry.frame.size() != contents.size() || entry.frameKey != entry.key
        || entry.frameOriginalKey != originalKey || entry.frameDifference != showDifference
        || entry.frameScale != view.scale() || entry.frameOffset != view.offset()) {
        double scale = 1;
        const QImage &image = pyramid.levelFor(view.scale(), &scale);
        if (image.isNull())
            return;
        entry.frame = renderPane(image, nullptr, scale, view.offset(), contents.size());
        entry.frameKey = entry.key;
        entry.frameOriginalKey = originalKey;
        entry.frameDifference = showDifference;
        entry.frameScale = view.scale();
        entry.frameOffset = view.offset();
    }
    QPainter painter(label);
    painter.drawImage(contents.topLeft(), entry.frame);
}

void PaneViewer::showContextMenu(int pane, const QPoint &labelPosition, const QPoint &globalPosition)
{
    if (!hasView() || paneImage(pane).isNull())
        return;
    const QPointF at = anchorAt(pane, labelPosition);
    QMenu menu;
    connect(menu.addAction(tr("Fit")), &QAction::triggered, this, [this] {
        view.fit();
        changeView();
    });
    for (int percent : {100, 200, 400}) {
        connect(menu.addAction(tr("%1 %").arg(percent)), &QAction::triggered, this, [this, percent, at] {
            view.zoomTo(percent / 100.0, at);
            changeView();
        });
    }
    menu.addSeparator();
    QAction *differenceAction = menu.addAction(tr("Difference from original \u00d74"));
    differenceAction->setCheckable(true);
    differenceAction->setChecked(difference.at(pane));
    differenceAction->setEnabled(!paneImage(originalPane).isNull());
    connect(differenceAction, &QAction::triggered, this, [this, pane](bool checked) {
        difference[pane] = checked;
        panes.at(pane)->update();
    });
    menu.addSeparator();
    connect(menu.addAction(tr("Save image as\u2026")), &QAction::triggered, this, [this, pane] { saveImage(pane); });
    connect(menu.addAction(tr("Copy")), &QAction::triggered, this, [this, pane] { copyImage(pane); });
    menu.exec(globalPosition);
}

// Image coordinates and the three images' values of the pixel under the
// cursor; the tip stays up while the cursor is on that pixel.
void PaneViewer::showReadout(int pane, QHelpEvent *event)
{
    if (!hasView()) {
        QToolTip::hideText();
        return;
    }
    const QPoint pixel = view.imagePixelAt(panePosition(pane, event->pos()));
    if (pixel.x() < 0 || pixel.y() < 0 || !QRect(QPoint(0, 0), paneImage(pane).size()).contains(pixel)) {
        QToolTip::hideText();
        return;
    }
    const QString names[] = {tr("Original"), tr("JPEG"), tr("Hybrid")};
    QStringList lines{tr("Pixel %1, %2").arg(pixel.x()).arg(pixel.y())};
    for (int i = 0; i < panes.size(); ++i) {
        const QImage &image = paneImage(i);
        const QString name = i < 3 ? names[i] : QString::number(i + 1);
        if (image.isNull() || !image.rect().contains(pixel)) {
            lines << tr("%1: none").arg(name);
            continue;
        }
        const QRgb value = straightPixel(image, pixel);
        lines << tr("%1: R %2  G %3  B %4").arg(name).arg(qRed(value)).arg(qGreen(value)).arg(qBlue(value));
    }
    const QRect area = view.paneRectOf(pixel).translated(panes.at(pane)->contentsRect().topLeft());
    QToolTip::showText(event->globalPos(), lines.join(QLatin1Char('\n')), panes.at(pane), area);
}

bool PaneViewer::handleKey(QKeyEvent *event)
{
    if (event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
        return false;
    const int key = event->key();
    if (key != Qt::Key_Plus && key != Qt::Key_Equal && key != Qt::Key_Minus && key != Qt::Key_0)
        return false;
    if (!hasView())
        return false;
    if (key == Qt::Key_0)
        toggleFit(paneCentre());
    else {
        view.zoomBy(key == Qt::Key_Minus ? -stepsPerKey : stepsPerKey, paneCentre());
        changeView();
    }
    return true;
}

// The pane's picture at full resolution, or its difference from the
// original when that is shown.
QImage PaneViewer::fullImage(int pane)
{
    const QImage &image = paneImage(pane);
    if (difference.at(pane))
        return differencePyramid(pane).image();
    if (image.format() == QImage::Format_ARGB32_Premultiplied)
        return image.convertToFormat(QImage::Format_ARGB32);
    return image;
}

void PaneViewer::saveImage(int pane)
{
    static const char *const suggestions[] = {"original", "jpeg", "hybrid"};
    QString suggestion = QString::fromLatin1(suggestions[qMin(pane, 2)]);
    if (difference.at(pane))
        suggestion += QStringLiteral("_difference");
    const QString fileName = chooseFileToSave(window, tr("Save image as"),
                                              QDir::current().filePath(suggestion + QStringLiteral(".png")));
    if (fileName.isEmpty())
        return;
    BusyCursor busy;
    const QString suffix = QFileInfo(fileName).suffix().toLower();
    QString reason;
    if (suffix.isEmpty()) {
        appendFailureLine(console,
                          tr("cannot write %1: its name has no suffix to give the image format").arg(fileName));
        return;
    }
    if (!writeImageFile(fileName, fullImage(pane), suffix.toLatin1(), -1, &reason)) {
        appendFailureLine(console, reason);
        return;
    }
    appendStatusLine(console, tr(" - Image saved as %1.").arg(fileName));
}

void PaneViewer::copyImage(int pane)
{
    QGuiApplication::clipboard()->setImage(fullImage(pane));
}

} // namespace veltrano
