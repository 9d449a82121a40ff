#ifndef MAINWINDOW_H
#define MAINWINDOW_H

#include <QImage>
#include <QMainWindow>

namespace Ui {
class MainWindow;
}

namespace veltrano {
struct CommandContext;
} // namespace veltrano

// The testbed's only window: the controls, the output console and the three
// image panes. Each button runs its command synchronously in a private slot
// connected by name (on_<objectName>_clicked).
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // Read-only views of the state the commands share, for tools and tests.
    const QImage &openedImage() const { return currentImage; }
    bool isImageOpened() const { return imageOpened; }

private slots:
    void on_pushButton_2_clicked();
    void on_pushButton_3_clicked();
    void on_pushButton_5_clicked();
    void on_pushButton_6_clicked();
    void on_pushButton_7_clicked();
    void on_pushButton_8_clicked();

private:
    veltrano::CommandContext commandContext();

    Ui::MainWindow *ui;
    QImage currentImage;
    bool imageOpened;
};

#endif // MAINWINDOW_H
