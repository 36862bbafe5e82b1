// The main window's start at a topic, its link to the page shown, and the last place: where a
// book opens, and what the window keeps of where the reader left it.

#include "mainwindow.h"

#include "commandline.h"
#include "lchmfile.h"
#include "viewwidget.h"

#include <QApplication>
#include <QBoxLayout>
#include <QClipboard>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QSettings>
#include <QUrl>

#include <memory>

namespace {

QString absoluteBook(const QString& bookPath)
{
    return QDir::cleanPath(QFileInfo(bookPath).absoluteFilePath());
}

// The object a page's in-book path names: without query and fragment, escapes decoded.
QString objectOf(const QString& page)
{
    QString path = BookLocation(QString(), page).path();
    path.truncate(path.indexOf(QLatin1Char('?')) < 0 ? path.size() : path.indexOf(QLatin1Char('?')));
    return QUrl::fromPercentEncoding(path.toUtf8());
}

} // namespace

void MainWindow::setStartTopic(const QString& topic, std::optional<quint32> context)
{
    startTopic = topic;
    startContext = context;
}

QString MainWindow::notice() const
{
    return noticeLabel && !noticeLabel->isHidden() ? noticeLabel->property("message").toString() : QString();
}

void MainWindow::showNotice(const QString& text)
{
    if (!noticeLabel) {
        // A bar above the page, as the find bar is below it; the reader closes it.
        noticeLabel = new QLabel(view);
        noticeLabel->setObjectName(QStringLiteral("notice"));
        noticeLabel->setWordWrap(true);
        noticeLabel->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Maximum);   // the page takes the rest
        noticeLabel->setContentsMargins(8, 4, 8, 4);
        noticeLabel->setAutoFillBackground(true);
        noticeLabel->setBackgroundRole(QPalette::ToolTipBase);
        noticeLabel->setForegroundRole(QPalette::ToolTipText);
        connect(noticeLabel, &QLabel::linkActivated, noticeLabel, &QWidget::hide);
        if (auto* layout = qobject_cast<QBoxLayout*>(view->layout()))
            layout->insertWidget(0, noticeLabel);
    }
    noticeLabel->setProperty("message", text);
    noticeLabel->setText(text.toHtmlEscaped() + QStringLiteral(" <a href=\"close\">") + tr("Close") + QStringLiteral("</a>"));
    noticeLabel->show();
}

// The first page: the topic asked for, the last place, or the home page.
void MainWindow::showStartPage(const QString& homePage)
{
    LCHMFile book;   // takes the parse made when the outline was read
    const bool open = book.openBook(bookPath);
    if (startContext || !startTopic.isEmpty()) {
        QString topic = startTopic;
        if (startContext)
            topic = open ? book.topicForContext(*startContext) : QString();
        if (open && !topic.isEmpty() && book.hasObject(objectOf(topic))) {
            view->setHomeUrl(homePage);
            view->setCurrentPage(topic);
            return;
        }
        showNotice(startContext ? tr("Help context %1 is not in this book.").arg(*startContext)
                                : tr("%1 is not in this book; its home page is shown instead.").arg(startTopic));
    } else if (lastPlace && open && book.hasObject(objectOf(lastPlace->page))) {
        if (BookLocation(QString(), lastPlace->page).path() == BookLocation(QString(), homePage).path()) {
            view->setHomeUrl(homePage);
            view->setCurrentPageAt(lastPlace->page, lastPlace->scroll);
            return;
        }
        // Home first, so that Back leads there; the place once home has arrived and loaded.
        struct Waiting
        {
            QMetaObject::Connection arrival, load;
            bool home = false;
        };
        const auto waiting = std::make_shared<Waiting>();
        const QString home = BookLocation(QString(), homePage).path();
        const LastPlaces::Place place = *lastPlace;
        const auto stop = [this, waiting] {
            disconnect(waiting->arrival);
            disconnect(waiting->load);
        };
        waiting->arrival = connect(view, &ViewWidget::pathShown, this, [waiting, home, stop](const QString& path) {
            const bool atHome = BookLocation(QString(), path).path() == home;
            if (waiting->home && !atHome)
                stop();   // the reader went elsewhere meanwhile
            waiting->home = atHome;
        });
        // Queued: the view finishes telling about the home page first.
        waiting->load = connect(view, &ViewWidget::canNote, this, [this, waiting, place, stop] {
            if (!waiting->home)
                return;
            stop();
            view->setCurrentPageAt(place.page, place.scroll);
        }, Qt::QueuedConnection);
    }
    emit homeUrlChanged(homePage);
}

void MainWindow::copyLink()
{
    const BookLocation shown = view->shownPlace();
    const QString book = absoluteBook(bookPath);
    const QString link = shown.isInBook(book) ? topicLink(book, shown)
        : shown.isValid() ? topicLink(QFileInfo(book).dir().absoluteFilePath(shown.bookFile()), shown)
                          : shown.address();
    if (!link.isEmpty() && link != QLatin1String("about:blank"))
        QApplication::clipboard()->setText(link);
}

void MainWindow::readLastPlace(QSettings& settings)
{
    lastPlace.reset();
    if (startTopic.isEmpty() && !startContext && LastPlaces::enabled(settings))
        lastPlace = LastPlaces::find(settings, bookPath);
}

// Called when the window closes, after the book was last written to.
void MainWindow::keepLastPlace(QSettings& settings)
{
    if (bookPath.isEmpty() || unreadable || !LastPlaces::enabled(settings))
        return;
    const BookLocation shown = view->shownPlace();
    LastPlaces::Place place;
    if (shown.isInBook(absoluteBook(bookPath))) {
        place.page = shown.pathWithFragment();
        place.scroll = view->scrollPosition().value_or(QPoint());
    }
    LastPlaces::remember(settings, bookPath, place);
}
