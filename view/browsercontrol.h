#pragma once

#include "booklocation.h"
#include "textrange.h"

#include <QPoint>
#include <QSet>
#include <QString>
#include <QUrl>
#include <QVariant>
#include <QWebEnginePage>
#include <QWidget>

#include <functional>
#include <optional>

class BookOrigins;
class BookRequestInterceptor;
class BookSchemeHandler;
class QPageLayout;
class QPrinter;
class QWebEngineProfile;
class QWebEngineView;

// The browser control of the page view: a web view that reads book pages from the book files
// and offers the few operations and two events the page view is built on.
//
// Events. navigateComplete(url) reports every address the view arrives at (links followed in
// pages, back and forward included), before documentComplete(hasDocument) of the same page,
// which ends the load. A move to an anchor within the page shown reports navigateComplete
// alone. A load that ends without a document (a web address that cannot be reached, a page
// whose process died) reports false. A navigation refused or given up before it replaced the
// page shown reports nothing: that page stays. Pages of books are reported as book URLs,
// "mk:@MSITStore:" + book file + "::" + in-book path, whatever address the browser loads them
// under (each book is an origin of its own, see bookorigin.h). arrivedAt(place) comes just
// before each navigateComplete with the same address as a place.
//
// What pages may start. A book page may go anywhere in its own book. It opens a page of another
// book ("ms-its:other.chm::/page.htm", a book file without a folder lying beside its own) only
// when the reader clicks that link; it then shows in this view, and back returns. A web link
// the reader clicks in a book page goes to the web link handler (the desktop's browser), never
// into this view. The same holds for links clicked in frames of the book; the frame stays. A
// click counts only when it is the reader's own, on that very link, a moment ago: scripts,
// forms and new windows reach neither another book nor the web. A web page never takes the
// view into a book. What the view is sent to itself (navigate, back, forward) is always loaded.
//
// The characters of a page are the UTF-16 code units of the text nodes under its body, in
// document order, without the text of script, style, noscript and template elements; element
// boundaries add nothing. They depend on the page's HTML alone, never on fonts, zoom or window
// size. They are captured once per load, before documentComplete, and text ranges count in them.
//
// Calls marked "waits" ask the page and wait for its answer in a local event loop (user input
// is held back meanwhile); after a few seconds, or when another such call is already waiting,
// they give up and answer as if there were no document.
class BrowserControl : public QWidget
{
    Q_OBJECT
public:
    explicit BrowserControl(QWidget* parent = nullptr);
    ~BrowserControl() override;

    // Navigation
    void navigate(const QString& url);
    // A place in a book is loaded under its page address, its book named without a folder
    // resolved against the book shown; a location outside the books is loaded as its address.
    void navigate(const BookLocation& place);
    // Back and forward pass over the entries not worth returning to: blank pages and pages
    // whose last load failed. They do nothing where there is nowhere to go; historyChanged()
    // tells when that may have changed.
    void goBack();
    void goForward();
    bool canGoBack() const { return historyTarget(-1) >= 0; }
    bool canGoForward() const { return historyTarget(1) >= 0; }
    // The book file that book names without a folder and "/"-rooted page names resolve against
    // until a book page is shown; reported book URLs name this book so written.
    void setBookPath(const QString& bookPath);
    // Where web links the reader clicks in book pages go: by default the desktop's browser
    // (QDesktopServices::openUrl). An empty handler brings the default back.
    using WebLinkHandler = std::function<void(const QUrl& url)>;
    void setWebLinkHandler(WebLinkHandler handler);

    // The document of the last completed load
    bool hasDocument() const { return m_hasDocument; }
    QString pageText() const { return m_pageText; }
    QString pageTitle() const { return m_pageTitle; }
    TextRange documentRange() const { return TextRange(m_pageText, 0, int(m_pageText.size())); }
    // Captures the characters and title of the page shown again; done(ok) follows.
    void captureText(std::function<void(bool ok)> done);

    // Page operations. Ranges count in the characters captured last.
    std::optional<TextRange> selection();                 // waits; collapsed when nothing is selected
    void selectAll();
    void unselect();
    void paintBackground(const TextRange& range, const QString& colorName);
    std::optional<QPoint> scrollPosition();               // waits
    void scrollTo(int left, int top);
    // The zoom of the page body: 0 when unset or not a number. When the page still holds the
    // value written last by setZoom, that value is answered exactly as it was written (the
    // page keeps it only to a few digits).
    std::optional<double> zoom();                         // waits
    void setZoom(double zoom);

    // Page commands, without dialogs: the page view asks the user first. A book page saved as
    // HTML is written at once as the book holds it, and savePage is false when that write
    // fails (the file is then left as it was); other saves finish in the background, and
    // savePage only starts them.
    //
    // Printing. The engine lays the page out for a page layout and prints it as a PDF that
    // keeps the page's text and drawing as they are (no page is turned into an image). Only
    // one print runs at a time: one asked for meanwhile fails at once.
    // printToPdf writes that PDF into a file; pdfOfPage hands it over as bytes, empty on failure.
    // Both answer later, from the event loop; done is not called when the control is gone.
    void printToPdf(const QString& filePath, const QPageLayout& layout, std::function<void(bool ok)> done);
    void pdfOfPage(const QPageLayout& layout, std::function<void(const QByteArray& pdf)> done);
    // Prints onto printer and waits. A printer that writes a PDF file gets the engine's PDF;
    // any other (a device, a print preview) gets the PDF's pages as images of at most maxDpi,
    // progress and budgetBytes as in paintPdfPages.
    bool printPage(QPrinter* printer, int maxDpi = kPrinterDpi,
                   const std::function<bool(int done, int total)>& progress = {},
                   qint64 budgetBytes = 0);   // waits until printed
    bool savePage(const QString& filePath, bool singleFileArchive);
    void copy();

    // Page colours. Dark pages are dark whatever the book says, laid out as the book lays them
    // out: text and backgrounds turn from light to dark, while photographs, screenshots and the
    // marks of notes and search hits keep their own colours (see pagecolors.js). A page with dark
    // styles of its own is given those and is not darkened. Frames are darkened with their
    // page. Takes effect on the page shown at once, at its place, and on every page after.
    // Printing, previews and saved pages always have the book's own colours.
    void setDarkPages(bool dark);
    bool darkPages() const { return m_dark; }

    QWebEngineView* webView() const { return m_view; }

    // Runs a script of our own on the page and waits for its value; invalid when there is no
    // answer in time.
    QVariant evaluate(const QString& script, int timeoutMs = kAnswerTimeoutMs);

    static constexpr int kAnswerTimeoutMs = 5000;
    // Resolution of pages printed as images: enough for print, a fraction of a printer's own.
    static constexpr int kPrinterDpi = 300;
    // How long a print may take the engine before it is given up as failed.
    static constexpr int kPrintTimeoutMs = 120000;

signals:
    void arrivedAt(const BookLocation& place);
    void navigateComplete(const QString& url);
    void documentComplete(bool hasDocument);
    // A request of a page that was refused: a web address, local file or another book asked
    // for by a book page, a book asked for by a web page. Queued.
    void requestBlocked(const QUrl& url);
    // The reader turned the wheel with Ctrl held over the page: steps up (positive) or down.
    // The engine does not zoom by itself; what it should do is the receiver's to say.
    void zoomWheeled(int steps);
    // The history moved or grew, or a load failed: canGoBack and canGoForward may answer anew.
    void historyChanged();

private:
    friend class BookPage;
    friend class NewWindowPage;

    // Whether the page (or the stand-in of a new window) may go on to url; loads what goes on
    // under another address itself.
    bool acceptNavigation(const QUrl& url, QWebEnginePage::NavigationType type, bool isMainFrame, bool newWindow);
    // Runs follow when the reader's last click, just now, was on a link to url; else refuses it.
    void ifReaderClicked(const QUrl& url, std::function<void()> follow);
    void refuse(const QUrl& url);
    // The index of the history entry that `step` (-1 back, 1 forward) leads to, or -1.
    int historyTarget(int step) const;
    void goToHistoryEntry(int step);
    void reportHistoryLater();
    void loadLater(const QUrl& url);
    BookOrigins& origins() const;
    void loadOrReload(const QUrl& target);
    // arrivedAt and navigateComplete for the address url.
    void reportArrival(const QUrl& url);

    void onLoadStarted();
    void newDocument();
    // The page ended without a document to show: no text, no title, documentComplete(false).
    void completeWithoutDocument();
    void onUrlChanged(const QUrl& url);
    // Drops of files pass through the view's widgets to the window, which opens dropped books;
    // Ctrl+wheel becomes zoomWheeled.
    bool eventFilter(QObject* watched, QEvent* event) override;
    void watchForDrops(QObject* object);
    void onLoadFinished(bool ok);
    void runOnPage(const QString& call);
    // The page colours script, for every document made from now on, at the colours asked for.
    void installColorsScript();
    // Runs then with the page in its book colours for print (at once when it is not dark), or
    // on screen too (`onScreen`, for saving: the page is light meanwhile); then darkAgain()
    // with the same `onScreen` gives the page its dark colours again.
    void inBookColors(bool onScreen, std::function<void()> then);
    void darkAgain(bool onScreen);

    QWebEngineProfile* m_profile = nullptr;
    BookSchemeHandler* m_schemeHandler = nullptr;
    BookRequestInterceptor* m_interceptor = nullptr;
    QWebEnginePage* m_page = nullptr;
    QWebEngineView* m_view = nullptr;

    bool m_loading = false;
    bool m_committed = false;     // the load under way has replaced the page
    quint64 m_documentSerial = 0; // counts the pages shown
    bool m_hasDocument = false;
    QString m_pageText;
    QString m_pageTitle;

    // The zoom written last, exactly, and as the page read it back.
    std::optional<double> m_zoomWritten;
    std::optional<double> m_zoomReadBack;

    int m_wheelZoom = 0;         // Ctrl+wheel turned, in eighths of a degree, not yet a step
    bool m_waiting = false;      // a call is waiting for the page
    bool m_printing = false;
    bool m_dark = false;
    QString m_bookPath;          // what book names without a folder resolve against
    QSet<QUrl> m_failedUrls;     // addresses whose last load failed
    bool m_historyReportPending = false;
    WebLinkHandler m_webLinkHandler;
};
