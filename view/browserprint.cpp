// Printing the page shown in the browser control: the engine's PDF of the page, as a file,
// as bytes, or onto a printer (see BrowserControl), always in the page's book colours.

#include "browsercontrol.h"

#include "pdfpages.h"

#include <QEventLoop>
#include <QPageLayout>
#include <QPointer>
#include <QPrinter>
#include <QTimer>
#include <QWebEnginePage>

#include <memory>

void BrowserControl::printToPdf(const QString& filePath, const QPageLayout& layout, std::function<void(bool)> done)
{
    if (m_printing) {
        QMetaObject::invokeMethod(this, [done] { done(false); }, Qt::QueuedConnection);
        return;
    }
    m_printing = true;
    auto connection = std::make_shared<QMetaObject::Connection>();
    *connection = connect(m_page, &QWebEnginePage::pdfPrintingFinished, this,
                          [this, connection, filePath, done](const QString& written, bool ok) {
                              if (written != filePath)
                                  return;
                              disconnect(*connection);
                              m_printing = false;
                              darkAgain(false);
                              done(ok);
                          });
    inBookColors(false, [this, filePath, layout] { m_page->printToPdf(filePath, layout); });
}

void BrowserControl::pdfOfPage(const QPageLayout& layout, std::function<void(const QByteArray&)> done)
{
    if (m_printing) {
        QMetaObject::invokeMethod(this, [done] { done({}); }, Qt::QueuedConnection);
        return;
    }
    m_printing = true;
    QPointer<BrowserControl> self(this);
    inBookColors(false, [self, done, layout] {
        self->m_page->printToPdf([self, done](const QByteArray& pdf) {
            if (!self)
                return;
            self->m_printing = false;
            self->darkAgain(false);
            // Answered from the event loop, so that the receiver may print or ask the page.
            QMetaObject::invokeMethod(self, [done, pdf] { done(pdf); }, Qt::QueuedConnection);
        }, layout);
    });
}

bool BrowserControl::printPage(QPrinter* printer, int maxDpi, const std::function<bool(int, int)>& progress,
                               qint64 budgetBytes)
{
    if (!printer || m_printing)
        return false;
    QEventLoop loop;
    QTimer::singleShot(kPrintTimeoutMs, &loop, &QEventLoop::quit);
    connect(m_page, &QWebEnginePage::renderProcessTerminated, &loop, &QEventLoop::quit);
    QPointer<QEventLoop> waiting(&loop);
    auto answer = std::make_shared<std::pair<bool, QByteArray>>();   // answered, PDF
    const bool toPdfFile = printer->outputFormat() == QPrinter::PdfFormat && !printer->outputFileName().isEmpty();
    if (toPdfFile) {
        printToPdf(printer->outputFileName(), printer->pageLayout(), [answer, waiting](bool ok) {
            *answer = {true, ok ? QByteArrayLiteral("ok") : QByteArray()};
            if (waiting)
                waiting->quit();
        });
    } else {
        pdfOfPage(printer->pageLayout(), [answer, waiting](const QByteArray& pdf) {
            *answer = {true, pdf};
            if (waiting)
                waiting->quit();
        });
    }
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    if (!answer->first || answer->second.isEmpty())
        return false;
    return toPdfFile || paintPdfPages(answer->second, printer, maxDpi, progress, budgetBytes);
}
