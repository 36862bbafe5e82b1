#include "viewwidget.h"

#include "bookurl.h"
#include "browsercontrol.h"
#include "notelocator.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QVBoxLayout>

#include <algorithm>

ViewWidget::ViewWidget(QWidget* parent)
    : QWidget(parent), homeUrl(QStringLiteral("about:blank")), currentUrl(QStringLiteral("about:blank"))
{
    browser = new BrowserControl(this);
    browser->setFocusPolicy(Qt::StrongFocus);
    browser->navigate(currentUrl);

    connect(browser, &BrowserControl::documentComplete, this, &ViewWidget::selectAllText);
    connect(this, &ViewWidget::currentAllTextSaved, this, &ViewWidget::showNote);
    connect(browser, &BrowserControl::navigateComplete, this, &ViewWidget::setCurrentUrlAgain);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(browser);
    setUpKeys();
}

ViewWidget::~ViewWidget() = default;

QString ViewWidget::urlForPath(const QString& path) const
{
    return isWholeUrl(path) ? path : makeBookUrl(bookPath, path);
}

void ViewWidget::setCurrentPage(QString url)
{
    currentPath = url;
    if (url.isEmpty())
        return;
    currentUrl = urlForPath(url);
    browser->navigate(currentUrl);
}

void ViewWidget::setCurrentPageBySearch(QString url, QString keyW)
{
    currentPath = url;
    searchPending = true;
    searchKeyword = keyW;
    if (url.isEmpty())
        return;
    currentUrl = urlForPath(url);
    browser->navigate(currentUrl);
}

void ViewWidget::setHomeUrl(QString url)
{
    homeUrl = url.isEmpty() ? QStringLiteral("about:blank") : urlForPath(url);
}

void ViewWidget::setCurrentUrlAgain(QString url)
{
    // The control reports spaces in the book's path as "%20" or as they stand, and letters
    // beyond ASCII either way; whichever it is, a page of this book comes out as its bare
    // in-book path and any other address stays whole.
    const QString prefix = QStringLiteral("mk:@MSITStore:") + bookPath + QStringLiteral("::");
    QString path = url;
    path.remove(QString(prefix).replace(QLatin1Char(' '), QStringLiteral("%20")));
    path.remove(prefix);
    if (path == url)
        path = inBookPathOf(url, bookPath);
    currentPath = path;
    emit pathShown(currentPath);
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
    emit urlToFavorites(currentPath);
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
    browser->navigate(homeUrl);
}

void ViewWidget::refresh()
{
    if (currentPath.isEmpty())
        return;
    if (const std::optional<QPoint> scroll = browser->scrollPosition()) {
        savedScrollLeft = scroll->x();
        savedScrollTop = scroll->y();
    }
    currentUrl = urlForPath(currentPath);
    browser->navigate(currentUrl);
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
    const std::optional<double> zoom = browser->zoom();
    if (!zoom)
        return;
    const double z = *zoom;
    double next;
    if (z > 1)
        next = z + 0.1;
    else if (z == 0.9)
        next = 1.0;
    else
        next = 1.1;
    browser->setZoom(next);
    zoomFactor = next;
}

void ViewWidget::zoomOut()
{
    const std::optional<double> zoom = browser->zoom();
    if (!zoom)
        return;
    const double z = *zoom;
    double next;
    if (z >= 1)
        next = z - 0.1;
    else if (z == 0)
        next = 0.9;
    else
        next = z;
    browser->setZoom(next);
    zoomFactor = next;
}

void ViewWidget::print()
{
    QPrinter printer(QPrinter::HighResolution);
    QPrintDialog dialog(&printer, this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    browser->printPage(&printer);
}

void ViewWidget::printPreview()
{
    QPrinter printer(QPrinter::HighResolution);
    QPrintPreviewDialog preview(&printer, this);
    connect(&preview, &QPrintPreviewDialog::paintRequested, this, [this](QPrinter* target) { browser->printPage(target); });
    preview.exec();
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
    browser->savePage(path, chosenFilter == archive);
}

void ViewWidget::copy()
{
    browser->copy();
}
