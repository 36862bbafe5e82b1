// The window's commands that turn the book, or a chapter of it, into one PDF: "Export Book as
// PDF…" (exportBookAction, for the window's menus) and the contents tree's chapter and book
// commands, printing and previewing through the same bound PDF. One export runs at a time; the
// window goes on answering while it runs, with a progress dialog whose Cancel ends it.

#include "mainwindow.h"

#include "backgroundrunner.h"
#include "bookpdfexport.h"
#include "contentswidget.h"
#include "pdfpages.h"
#include "printpreview.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QPointer>
#include <QPrintDialog>
#include <QPrinter>
#include <QProgressDialog>
#include <QSaveFile>
#include <QTemporaryDir>
#include <QTimer>

namespace {
// Sheets go to a printer as images of this resolution, as a printed page's do.
constexpr int kPrinterDpi = 300;
} // namespace

void MainWindow::initExport()
{
    exportBookAction = new QAction(tr("Export Book as PDF\u2026"), this);
    exportBookAction->setStatusTip(tr("Write the whole book as one PDF, its contents as the PDF's outline"));
    connect(exportBookAction, &QAction::triggered, this, [this] { exportPdf(-1); });
    connect(contentsWidget, &ContentsWidget::exportBookRequested, this, [this] { exportPdf(-1); });
    connect(contentsWidget, &ContentsWidget::exportChapterRequested, this, &MainWindow::exportPdf);
    connect(contentsWidget, &ContentsWidget::printBookRequested, this, [this] { printBook(-1); });
    connect(contentsWidget, &ContentsWidget::printChapterRequested, this, &MainWindow::printBook);
    connect(contentsWidget, &ContentsWidget::previewChapterRequested, this, &MainWindow::previewBook);
}

void MainWindow::exportPdf(int chapter)
{
    if (bookPath.isEmpty())
        return;
    const QString suggested = QFileInfo(bookPath).dir().filePath(QFileInfo(bookPath).completeBaseName() + QStringLiteral(".pdf"));
    const QString path = QFileDialog::getSaveFileName(this, chapter < 0 ? tr("Export Book as PDF") : tr("Export Chapter as PDF"),
                                                      suggested, tr("PDF documents (*.pdf)"));
    if (path.isEmpty())
        return;
    QPrinter printer(QPrinter::HighResolution);   // the paper and margins of the default printer
    runExport(chapter, path, printer.pageLayout(), [this](bool ok, const QString& message) {
        showMessage(ok ? QMessageBox::Information : QMessageBox::Warning, tr("Pagewick"), message);
    });
}

void MainWindow::printBook(int chapter)
{
    if (bookPath.isEmpty())
        return;
    auto printer = std::make_shared<QPrinter>(QPrinter::HighResolution);
    QPrintDialog dialog(printer.get(), this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    // Print to File takes the bound PDF as it is; a printer gets its sheets drawn.
    if (printer->outputFormat() == QPrinter::PdfFormat && !printer->outputFileName().isEmpty()) {
        runExport(chapter, printer->outputFileName(), printer->pageLayout(), [this](bool ok, const QString& message) {
            if (!ok)
                showMessage(QMessageBox::Warning, tr("Pagewick"), message);
        });
        return;
    }
    auto folder = std::make_shared<QTemporaryDir>();
    if (!folder->isValid()) {
        showMessage(QMessageBox::Warning, tr("Pagewick"), tr("No temporary folder to print from: %1").arg(folder->errorString()));
        return;
    }
    const QString pdfPath = folder->filePath(QStringLiteral("book.pdf"));
    runExport(chapter, pdfPath, printer->pageLayout(), [this, printer, folder, pdfPath](bool ok, const QString& message) {
        QFile pdf(pdfPath);
        if (!ok || !pdf.open(QIODevice::ReadOnly)) {
            showMessage(QMessageBox::Warning, tr("Pagewick"), message);
            return;
        }
        QProgressDialog progress(tr("Printing..."), tr("Cancel"), 0, 0, this);
        progress.setWindowModality(Qt::WindowModal);
        progress.setMinimumDuration(300);
        const bool printed = paintPdfPages(pdf.readAll(), printer.get(), kPrinterDpi, [&progress](int done, int total) {
            progress.setLabelText(tr("Printing page %1 of %2...").arg(done).arg(total));
            progress.setMaximum(total);
            progress.setValue(done);   // lets the window answer
            return !progress.wasCanceled();
        });
        if (!printed && !progress.wasCanceled())
            showMessage(QMessageBox::Warning, tr("Pagewick"), tr("The book could not be printed."));
    });
}

void MainWindow::previewBook(int chapter)
{
    if (bookPath.isEmpty())
        return;
    auto printer = std::make_shared<QPrinter>(QPrinter::HighResolution);
    auto folder = std::make_shared<QTemporaryDir>();
    if (!folder->isValid()) {
        showMessage(QMessageBox::Warning, tr("Pagewick"), tr("No temporary folder to preview from: %1").arg(folder->errorString()));
        return;
    }
    const QString pdfPath = folder->filePath(QStringLiteral("book.pdf"));
    runExport(chapter, pdfPath, printer->pageLayout(), [this, printer, folder, pdfPath](bool ok, const QString& message) {
        QFile file(pdfPath);
        if (!ok || !file.open(QIODevice::ReadOnly)) {
            showMessage(QMessageBox::Warning, tr("Pagewick"), message);
            return;
        }
        const QByteArray pdf = file.readAll();
        file.close();
        // The preview opens once the export has done answering; the temporary PDF goes when it
        // closes, with the last copy of folder.
        QTimer::singleShot(0, this, [this, printer, folder, pdf] {
            showPrintPreview(this, printer.get(), kPrinterDpi,
                             [this, &pdf](QPrinter* target, int maxDpi, const std::function<bool(int, int)>& progress,
                                          qint64 budgetBytes) {
                                 // Print to File from the preview writes the bound PDF itself, links and
                                 // outline kept; the preview's own sheets come with a budget.
                                 if (budgetBytes > 0 || target->outputFormat() != QPrinter::PdfFormat
                                     || target->outputFileName().isEmpty())
                                     return paintPdfPages(pdf, target, maxDpi, progress, budgetBytes);
                                 QSaveFile out(target->outputFileName());
                                 if (out.open(QIODevice::WriteOnly) && out.write(pdf) == pdf.size() && out.commit())
                                     return true;
                                 showMessage(QMessageBox::Warning, tr("Pagewick"),
                                             tr("The PDF could not be written to %1: %2").arg(target->outputFileName(), out.errorString()));
                                 return false;
                             });
        });
    });
}

void MainWindow::runExport(int chapter, const QString& outputPath, const QPageLayout& layout,
                           std::function<void(bool, const QString&)> done)
{
    if (pdfExport && pdfExport->isRunning()) {
        showMessage(QMessageBox::Information, tr("Pagewick"), tr("A PDF is being made already; wait for it or cancel it."));
        return;
    }
    if (!pdfExport)
        pdfExport = new BookPdfExport(*runner, this);
    QPointer<QProgressDialog> progress = new QProgressDialog(tr("Reading the contents..."), tr("Cancel"), 0, 0, this);
    progress->setAttribute(Qt::WA_DeleteOnClose);
    progress->setWindowModality(Qt::WindowModal);
    progress->setMinimumDuration(300);
    progress->setValue(0);
    BookPdfExport* exporter = pdfExport;
    connect(progress, &QProgressDialog::canceled, exporter, &BookPdfExport::cancel);
    auto progressConnection = connect(exporter, &BookPdfExport::progress, progress, [progress](int page, int total) {
        progress->setLabelText(tr("Printing page %1 of %2...").arg(page).arg(total));
        progress->setMaximum(total + 1);   // the last step writes the PDF
        progress->setValue(page - 1);
    });
    auto finished = std::make_shared<QMetaObject::Connection>();
    *finished = connect(exporter, &BookPdfExport::finished, this,
                        [progress, progressConnection, finished, done = std::move(done)](bool ok, const QString& message) {
                            QObject::disconnect(progressConnection);
                            QObject::disconnect(*finished);
                            const bool cancelled = progress && progress->wasCanceled();
                            if (progress)
                                progress->close();
                            if (!cancelled)
                                done(ok, message);
                        });
    PdfExportRequest request;
    request.bookPath = bookPath;
    request.chapter.entry = chapter;
    request.outputPath = outputPath;
    request.layout = layout;
    exporter->start(request);
}
