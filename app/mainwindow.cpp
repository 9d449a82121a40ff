#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include "experiments/colorbatch.h"
#include "commands/commandcontext.h"
#include "commands/compresscommand.h"
#include "app/filedrophandler.h"
#include "experiments/hdrevaluation.h"
#include "experiments/jpegqualitysweep.h"
#include "commands/openimagecommand.h"
#include "app/paneviewer.h"

#include <QShortcut>

using namespace veltrano;

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
    , ui(new Ui::MainWindow)
{
    ui->setupUi(this);
    imageOpened = false;
    setStyleSheet(QStringLiteral("MainWindow {background-image: url(pattern.png)}"));

    // Start-up conversion; a missing or unreadable PNG is silently skipped.
    QImage startImage(QStringLiteral("hdr_triang_4.png"));
    if (!startImage.isNull())
        startImage.save(QStringLiteral("hdr_triang_4.jpg"), "jpg", 70);

    // Inspection of the panes, files dropped on the window and the keyboard
    // shortcuts of the two commands; none of them adds a widget to the form.
    new PaneViewer(this, {ui->image_original, ui->image_current, ui->image_current_2}, ui->plainTextEdit);
    new FileDropHandler(this, ui->plainTextEdit,
                        [this](const QString &fileName) { openImageFile(commandContext(), fileName); });
    const QKeySequence openKeys(Qt::CTRL | Qt::Key_O);
    connect(new QShortcut(openKeys, this), &QShortcut::activated, ui->pushButton_2, &QPushButton::click);
    for (const int enter : {Qt::Key_Return, Qt::Key_Enter})
        connect(new QShortcut(QKeySequence(Qt::CTRL | enter), this), &QShortcut::activated, ui->pushButton_3,
                &QPushButton::click);
}

MainWindow::~MainWindow()
{
    delete ui;
}

CommandContext MainWindow::commandContext()
{
    CommandContext context;
    context.window = this;
    context.console = ui->plainTextEdit;
    context.originalPane = ui->image_original;
    context.jpegPane = ui->image_current;
    context.hybridPane = ui->image_current_2;
    context.quality = ui->jpeg_qual;
    context.currentImage = &currentImage;
    context.imageOpened = &imageOpened;
    return context;
}

// "Open image"
void MainWindow::on_pushButton_2_clicked()
{
    openImageCommand(commandContext());
}

// "Compress "
void MainWindow::on_pushButton_3_clicked()
{
    compressCommand(commandContext());
}

// "C/D adjoint": has no command.
void MainWindow::on_pushButton_5_clicked()
{
}

// "C/D adjoint color": the colour batch reads the spin box once per image.
void MainWindow::on_pushButton_6_clicked()
{
    QSpinBox *quality = ui->jpeg_qual;
    runColorBatch([quality] { return quality->value(); });
}

// "Evaluate"
void MainWindow::on_pushButton_7_clicked()
{
    runHdrEvaluation();
}

// "jpeg stat"
void MainWindow::on_pushButton_8_clicked()
{
    runJpegQualitySweep();
}
