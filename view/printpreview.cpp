#include "printpreview.h"

#include <QCoreApplication>
#include <QPaintEngine>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QProgressDialog>

void showPrintPreview(QWidget* parent, QPrinter* printer, int printDpi, const PaintSheets& paint)
{
    QPrintPreviewDialog preview(printer, parent);
    QObject::connect(&preview, &QPrintPreviewDialog::paintRequested, &preview, [&preview, printDpi, &paint](QPrinter* target) {
        const auto tr = [](const char* text) { return QCoreApplication::translate("PrintPreview", text); };
        QProgressDialog progress(tr("Preparing the preview..."), tr("Cancel"), 0, 0, &preview);
        progress.setWindowModality(Qt::WindowModal);
        progress.setMinimumDuration(500);
        // The dialog paints its own screen sheets through a picture engine; anything else prints.
        const bool forScreen = target->paintEngine() && target->paintEngine()->type() == QPaintEngine::Picture;
        paint(target, forScreen ? kPreviewDpi : printDpi,
              [&progress, &tr](int done, int total) {
                  progress.setLabelText(tr("Preparing page %1 of %2...").arg(done).arg(total));
                  progress.setMaximum(total);
                  progress.setValue(done);
                  return !progress.wasCanceled();
              },
              forScreen ? kPreviewBudgetBytes : 0);
    });
    preview.exec();
}
