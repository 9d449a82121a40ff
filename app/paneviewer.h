#ifndef PANEVIEWER_H
#define PANEVIEWER_H

#include "app/imagepyramid.h"
#include "app/paneview.h"

#include <QImage>
#include <QList>
#include <QObject>
#include <QPoint>

class QEvent;
class QHelpEvent;
class QKeyEvent;
class QLabel;
class QPlainTextEdit;
class QWidget;

namespace veltrano {

// Inspection of the window's three image panes, on top of the pictures the
// commands put in them. Until the user zooms or pans, the labels draw their
// pictures themselves (unscaled, as placed by the label); afterwards this
// object draws the visible part of each picture, all three with one scale and
// position: the mouse wheel zooms about the cursor, a drag pans, a
// double-click switches between fit and 1:1, and the keys +, - and 0 (on the
// window) do the same. Each pane has a context menu (zoom levels, the
// difference from the original, save and copy of the full image) and a
// tooltip with the pixel under the cursor in all three images. A new picture
// in the original pane (a newly opened image) brings back the initial view.
class PaneViewer : public QObject
{
    Q_OBJECT

public:
    // panes: original, plain JPEG, hybrid JPEG.
    PaneViewer(QWidget *window, const QList<QLabel *> &panes, QPlainTextEdit *console);

    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // A pane's picture as drawn, and its difference from the original once
    // shown, each kept until the pictures change.
    struct CachedImage
    {
        qint64 key = 0;
        ImagePyramid picture;
        qint64 differenceKey = 0;
        qint64 differenceOriginalKey = 0;
        ImagePyramid difference;
        // The last frame drawn and what it was drawn from.
        QImage frame;
        qint64 frameKey = 0;
        qint64 frameOriginalKey = 0;
        bool frameDifference = false;
        double frameScale = 0;
        QPointF frameOffset;
    };

    void synchronise();
    const QImage &paneImage(int pane);
    ImagePyramid &differencePyramid(int pane);
    QPoint panePosition(int pane, const QPointF &labelPosition) const;
    QPointF anchorAt(int pane, const QPointF &labelPosition) const;
    QPointF paneCentre() const;
    bool hasView();
    void changeView();
    void toggleFit(const QPointF &panePoint);
    void paint(int pane);
    void showContextMenu(int pane, const QPoint &labelPosition, const QPoint &globalPosition);
    void showReadout(int pane, QHelpEvent *event);
    bool handleKey(QKeyEvent *event);
    QImage fullImage(int pane);
    void saveImage(int pane);
    void copyImage(int pane);

    QWidget *window;
    QList<QLabel *> panes;
    QPlainTextEdit *console;
    QList<CachedImage> cache;
    QList<bool> difference;
    qint64 referenceKey = 0;
    PaneView view;
    bool viewChanged = false;
    bool dragging = false;
    QPoint dragLast;
    int wheelRemainder = 0;
};

} // namespace veltrano

#endif // PANEVIEWER_H
