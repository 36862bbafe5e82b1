#include "viewwidget.h"

#include "browsercontrol.h"
#include "notelocator.h"
#include "pdfpages.h"
#include "printpreview.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPointer>
#include <QPrintDialog>
#include <QPrinter>
#include <QProgressDialog>
#include <QVBoxLayout>

#include <algorithm>
#include <memory>

ViewWidget::ViewWidget(QWidget* parent)
    : QWidget(parent),
      shown(BookLocation::outside(QStringLiteral("about:blank"))),
      asked(shown),
      homePlace(shown)
{
    browser = new BrowserControl(this);
    browser->setFocusPolicy(Qt::StrongFocus);
    browser->navigate(asked);

    connect(browser, &BrowserControl::documentComplete, this, &ViewWidget::selectAllText);
    connect(this, &ViewWidget::currentAllTextSaved, this, &ViewWidget::showNote);
    connect(browser, &BrowserControl::arrivedAt, this, &ViewWidget::showPlace);
    connect(browser, &BrowserControl::historyChanged, this, &ViewWidget::reportHistory);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(browser);
    setUpKeys();
}

QString ViewWidget::currentPath() const
{
    return shown.toText(bookPath);
}

void ViewWidget::setCurrentPage(QString url)
{
    shown = BookLocation::fromText(url, bookPath);
    if (shown.isNull())
        return;
    asked = shown;
    browser->navigate(asked);
}

void ViewWidget::setCurrentPageAt(QString url, QPoint scroll)
{
    savedScrollLeft = scroll.x();
    savedScrollTop = scroll.y();
    setCurrentPage(url);
}

std::optional<QPoint> ViewWidget::scrollPosition()
{
    return browser->scrollPosition();
}

void ViewWidget::setCurrentPageBySearch(QString url, QString keyW)
{
    searchPending = true;
    searchKeyword = keyW;
    setCurrentPage(url);
}

void ViewWidget::setHomeUrl(QString url)
{
    homePlace = url.isEmpty() ? BookLocation::outside(QStringLiteral("about:blank")) : BookLocation::fromText(url, bookPath);
    reportHistory();
}

void ViewWidget::reportHistory()
{
    emit historyChanged(browser->canGoBack(), browser->canGoForward(),
                        homePlace != BookLocation::outside(QStringLiteral("about:blank")));
}

void ViewWidget::setCurrentUrlAgain(QString url)
{
    // The control reports spaces in the book's path as "%20" or as they stand, and letters
    // beyond ASCII either way; whichever it is, a page of this book comes out as its bare
    // in-book path and any other address stays whole.
    showPlace(BookLocation::fromText(url, bookPath));
}

void ViewWidget::showPlace(const BookLocation& place)
{
    shown = place;
    emit pathShown(currentPath());
}

void ViewWidget::selectAllText()
{
    if (!browser->hasDocument()) {
        emit canNote(false);
        return;
    }
    pageText = compactText(browser->pageText());
    emit currentAllTextSaved();
}

void ViewWidget::showNote()
{
    if (savedScrollLeft != 0 || savedScrollTop != 0) {
        browser->scrollTo(std::max(savedScrollLeft, 0), std::max(savedScrollTop, 0));
        savedScrollLeft = 0;
        savedScrollTop = 0;
    }
    paintStoredNotes();
    if (searchPending)
        paintSearchKeyword();
    if (zoomFactor != 1.0)
        browser->setZoom(zoomFactor);
    emit canNote(true);
    emit urlToFavorites(currentPath());
    emit topicToFavorites(browser->pageTitle());
}

void ViewWidget::tellAboutThis()
{
    warn(tr("Pagewick"), tr("no topics find"));
}

void ViewWidget::setWarningHandler(WarningHandler handler)
{
    warningHandler = std::move(handler);
}

void ViewWidget::warn(const QString& title, const QString& text)
{
    if (warningHandler)
        warningHandler(this, title, text);
    else
        QMessageBox::warning(this, title, text);
}

void ViewWidget::back()
{
    browser->goBack();
}

void ViewWidget::forward()
{
    browser->goForward();
}

void ViewWidget::home()
{
    browser->navigate(homePlace);
}

void ViewWidget::refresh()
{
    if (shown.isNull())
        return;
    if (const std::optional<QPoint> scroll = browser->scrollPosition()) {
        savedScrollLeft = scroll->x();
        savedScrollTop = scroll->y();
    }
    asked = shown;
    browser->navigate(asked);
}

void ViewWidget::showBlank()
{
    browser->navigate(QStringLiteral("about:blank"));
}

void ViewWidget::setBookPath(QString path)
{
    path.replace(QLatin1Char('\\'), QLatin1Char('/'));
    // Book URLs name the book by its whole path: the control reports pages of a book named
    // relative to the working folder under that whole path.
    if (!path.isEmpty())
        path = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    bookPath = path;
    browser->setBookPath(bookPath);
}

void ViewWidget::zoomIn()
{
    stepZoom([](double z) { return z > 1 ? z + 0.1 : z == 0.9 ? 1.0 : 1.1; });
}

void ViewWidget::zoomOut()
{
    stepZoom([](double z) { return z >= 1 ? z - 0.1 : z == 0 ? 0.9 : z; });
}

void ViewWidget::stepZoom(double (*next)(double))
{
    const std::optional<double> zoom = browser->zoom();
    if (!zoom)
        return;
    const double z = next(*zoom);
    browser->setZoom(z);
    zoomFactor = z;
}

void ViewWidget::print()
{
    auto printer = std::make_shared<QPrinter>(QPrinter::HighResolution);
    QPrintDialog dialog(printer.get(), this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    // The window goes on answering while the engine prints; the reader sees that it does.
    QPointer<QProgressDialog> progress = new QProgressDialog(tr("Printing the page..."), tr("Cancel"), 0, 0, this);
    progress->setAttribute(Qt::WA_DeleteOnClose);
    progress->setWindowModality(Qt::WindowModal);
    progress->setMinimumDuration(300);
    progress->setValue(0);
    const auto finished = [this, progress](bool ok) {
        const bool canceled = progress && progress->wasCanceled();
        if (progress)
            progress->close();
        if (!ok && !canceled)
            warn(tr("Pagewick"), tr("The page could not be printed."));
    };
    if (printer->outputFormat() == QPrinter::PdfFormat && !printer->outputFileName().isEmpty()) {
        browser->printToPdf(printer->outputFileName(), printer->pageLayout(), finished);
        return;
    }
    browser->pdfOfPage(printer->pageLayout(), [printer, progress, finished](const QByteArray& pdf) {
        if (progress && progress->wasCanceled())
            return finished(false);
        const bool ok = !pdf.isEmpty() && paintPdfPages(pdf, printer.get(), BrowserControl::kPrinterDpi,
                                                        [progress](int done, int total) {
                                                            if (!progress)
                                                                return false;
                                                            progress->setLabelText(tr("Printing page %1 of %2...").arg(done).arg(total));
                                                            progress->setMaximum(total);
                                                            progress->setValue(done);   // lets the window answer
                                                            return !progress->wasCanceled();
                                                        });
        finished(ok);
    });
}

void ViewWidget::printPreview()
{
    QPrinter printer(QPrinter::HighResolution);
    showPrintPreview(this, &printer, BrowserControl::kPrinterDpi,
                     [this](QPrinter* target, int maxDpi, const std::function<bool(int, int)>& progress, qint64 budgetBytes) {
                         return browser->printPage(target, maxDpi, progress, budgetBytes);
                     });
}

void ViewWidget::saveAs()
{
    const QString htmlOnly = tr("Web page, HTML only (*.htm *.html)");
    const QString archive = tr("Web archive, single file (*.mht *.mhtml)");
    QString title = browser->pageTitle().trimmed();
    title.replace(QLatin1Char('/'), QLatin1Char('_'));
    const QString suggested = QDir::home().filePath((title.isEmpty() ? tr("page") : title) + QStringLiteral(".htm"));
    QString chosenFilter = htmlOnly;
    const QString path = QFileDialog::getSaveFileName(this, tr("Save Page"), suggested,
                                                      htmlOnly + QStringLiteral(";;") + archive, &chosenFilter);
    if (path.isEmpty())
        return;
    if (!browser->savePage(path, chosenFilter == archive))
        warn(tr("Pagewick"), tr("The page could not be saved as %1.").arg(QDir::toNativeSeparators(path)));
}

void ViewWidget::copy()
{
    browser->copy();
}
