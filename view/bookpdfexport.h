#pragma once

#include <QObject>
#include <QPageLayout>
#include <QString>
#include <QStringList>

#include "bookexportplan.h"

#include <memory>

class BackgroundRunner;

// What to turn into one PDF.
struct PdfExportRequest
{
    QString bookPath;
    // A contents entry and all under it (bookexportplan.h); none: the whole book.
    BookChapter chapter;
    QString outputPath;
    QPageLayout layout;
    // How long one page may take to load and print before it is skipped. A page whose script
    // never ends would otherwise hold up the book for good.
    int pageTimeoutMs = 30000;
    // At most this many entries of the contents when above 0 (see planBookExport).
    int maxEntries = 0;
};

// Turns a book, or one chapter of it, into one PDF (see bookexportplan.h for which pages, in
// which order). Each page is loaded into a browser control of its own, with the same
// navigation policy as the view (nothing a page does reaches another book or the network),
// laid out by the page engine for the request's page layout as vector text, written to a
// temporary file and appended to a PdfBinder, which keeps only the page objects: the pages'
// contents stay on disk until the bound PDF is written. The outline is the contents tree (a
// heading without a page of its own leads to the first page under it), the
// document title the book's title, and links between pages of the PDF become links inside it;
// links into the book that lead out of the PDF become "mk:@MSITStore:<book>::/<page>", web
// links keep their address.
//
// Failures. A page that fails to load or print, or that takes longer than pageTimeoutMs (its
// renderer is then ended and a new one started), is skipped and named in skippedPages() and
// in the final message; it does not end the export. The PDF is written through a temporary
// file beside the output, renamed into place when complete: cancel() (or a failure) leaves no
// file behind, and an existing file at the output stays as it was.
//
// Runs on the thread that owns it, which must be the application's thread (the page engine
// lives there); it never blocks that thread: planning and writing run on the runner, pages are
// loaded and printed by the engine's own processes. Signals arrive on the owner's thread; after
// finished() nothing more comes.
class BookPdfExport : public QObject
{
    Q_OBJECT

public:
    explicit BookPdfExport(BackgroundRunner& runner, QObject* parent = nullptr);
    ~BookPdfExport() override;

    // Starts the export; false when one is already running.
    bool start(const PdfExportRequest& request);
    void cancel();
    bool isRunning() const;

    // Each page skipped so far: its in-book path and why, "/page.htm (reason)".
    QStringList skippedPages() const;
    int pagesWritten() const;

signals:
    // Printing page `page` (from 1) of `total`; total counts the pages of the plan.
    void progress(int page, int total);
    // Something the reader should know on the way (pages left out, a page skipped), in words.
    void note(const QString& text);
    // The end: ok when the PDF was written, `message` saying what was written and what was
    // skipped, or why nothing was.
    void finished(bool ok, const QString& message);

private:
    struct Private;
    std::unique_ptr<Private> d;
    void planned(bool ok, const QString& error);
    void nextPage();
    void pageLoaded(bool hasDocument);
    void pagePrinted(const QByteArray& pdf);
    void skipPage(const QString& reason);
    void pageTimedOut();
    void writePdf();
    void finish(bool ok, const QString& message);
};
