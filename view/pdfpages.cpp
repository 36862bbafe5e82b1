#include "pdfpages.h"

#include <QBuffer>
#include <QImage>
#include <QLoggingCategory>
#include <QPainter>
#include <QPdfDocument>
#include <QPrinter>

#include <algorithm>
#include <cmath>

Q_LOGGING_CATEGORY(lcPrint, "pagewick.view.print", QtWarningMsg)

bool paintPdfPages(const QByteArray& pdf, QPrinter* printer, int maxDpi,
                   const std::function<bool(int done, int total)>& progress, qint64 budgetBytes)
{
    if (!printer || maxDpi <= 0)
        return false;
    QBuffer source;
    source.setData(pdf);
    source.open(QIODevice::ReadOnly);
    QPdfDocument document;
    document.load(&source);
    if (document.status() != QPdfDocument::Status::Ready || document.pageCount() <= 0) {
        qCWarning(lcPrint) << "the printed page is no readable PDF:" << document.error();
        return false;
    }

    int first = 0;
    int last = document.pageCount() - 1;
    if (printer->printRange() == QPrinter::PageRange && printer->fromPage() > 0) {
        first = std::clamp(printer->fromPage() - 1, 0, last);
        last = std::clamp(printer->toPage() > 0 ? printer->toPage() - 1 : last, first, last);
    }
    const int total = last - first + 1;

    // Sheets are drawn whole, margins included: the engine laid the page out inside them.
    const QRectF sheet = printer->paperRect(QPrinter::DevicePixel);
    const QRectF target = sheet.translated(-printer->pageRect(QPrinter::DevicePixel).topLeft());
    double dpi = std::min(double(maxDpi), double(printer->resolution()));
    if (budgetBytes > 0) {
        double squareInches = 0;
        for (int page = first; page <= last; ++page) {
            const QSizeF points = document.pagePointSize(page);
            squareInches += points.width() / 72.0 * points.height() / 72.0;
        }
        constexpr double kBytesPerPixel = 3;   // QImage::Format_RGB888
        if (squareInches > 0)
            dpi = std::min(dpi, std::max(double(kMinBudgetDpi), std::sqrt(budgetBytes / kBytesPerPixel / squareInches)));
    }

    QPainter painter;
    if (!painter.begin(printer)) {
        qCWarning(lcPrint) << "the printer cannot be painted on";
        return false;
    }
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    for (int page = first; page <= last; ++page) {
        if (page > first && !printer->newPage())
            return false;
        // The PDF page's size in points (1/72 inch) gives its size in image pixels.
        const QSizeF points = document.pagePointSize(page);
        const QSize pixels(std::max(1, int(std::lround(points.width() * dpi / 72.0))),
                           std::max(1, int(std::lround(points.height() * dpi / 72.0))));
        QImage image = document.render(page, pixels);
        if (image.isNull()) {
            qCWarning(lcPrint) << "page" << page + 1 << "could not be rendered";
            return false;
        }
        // Images without alpha take less room, on the way to the printer and in a preview.
        image = std::move(image).convertToFormat(QImage::Format_RGB888);
        // A sheet laid out for other paper (a bound PDF previewed after the paper was changed)
        // is scaled to fit, keeping its shape.
        const QSizeF fitted = QSizeF(points).scaled(target.size(), Qt::KeepAspectRatio);
        painter.drawImage(QRectF(target.topLeft() + QPointF((target.width() - fitted.width()) / 2,
                                                            (target.height() - fitted.height()) / 2),
                                 fitted),
                          image);
        if (progress && !progress(page - first + 1, total))
            return false;
    }
    return painter.end();
}
