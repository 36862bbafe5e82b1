#pragma once

#include "booklocation.h"

#include <QHash>
#include <QString>
#include <QUrl>

// Every book file is a security origin of its own. The browser is never shown a book URL
// ("mk:@MSITStore:book::/page.htm", "ms-its:…", "its:…"): pages are loaded as
// "pagewick-book://<host>/<in-book path>", where the host stands for one book file. The engine
// then keeps books apart by itself: a page cannot read another book's frames, windows or
// storage, and "/"-rooted and relative links resolve inside the book.
//
// The host is a digest of the book's canonical path, so it holds no name from the disk and
// the same file always gets the same host. Only hosts registered here (books the view was
// sent to, or the reader followed a link into) are served; what a page sees of other books is
// decided by the request interceptor and the page (see bookscheme.h, navigationpolicy.cpp).
//
// The book URL forms stay the view's language: addresses are converted on the way in
// (pageUrl) and on the way out (locationOf), so reported URLs, in-book paths and bookmarks
// read as before.

// The scheme of the addresses the browser loads book pages under.
QString pageScheme();
bool isPageScheme(const QString& scheme);

// The host that stands for a book file: its identity's origin host (BookIdentity::originHost,
// a digest of its canonical path).
QString bookHost(const QString& bookFile);

class BookOrigins
{
public:
    // Makes host-to-book lookups answer bookFile, written as given here: reported URLs then
    // name the book exactly so, even when it was first reached under another name.
    void setPreferredName(const QString& bookFile);

    // The book file behind a host, as first named (or as preferred); empty when unknown.
    QString bookOfHost(const QString& host) const { return m_books.value(host); }
    // The book file of a page address (pageScheme), of an origin such as a request's
    // initiator, or of a document shown under a book URL (registerDocument); empty for
    // anything else.
    QString bookOf(const QUrl& url) const;

    // A page may put itself (or another page of its book) under a book URL, as written
    // ("location.replace('ms-its:book.chm::/page.htm')"): the document is then served under that
    // address, so that the page's scripts find the address they wrote and do not ask for it
    // again. Such a document has no origin of its own book; what it may load is told by the
    // book registered for its address here (query and fragment left out), which is kept until
    // many more are registered.
    void registerDocument(const QUrl& bookUrl, const QString& bookFile);
    QString bookOfDocument(const QUrl& bookUrl) const;

    // The book file a place names, its relative name resolved against the folder of
    // relativeTo, a place without a book file ("mk:/a.gif") naming relativeTo itself; a book
    // name written percent-encoded is taken decoded when only that form names a file. Empty
    // for a location outside the books.
    static QString bookNamedBy(const BookLocation& place, const QString& relativeTo);

    // The page address of a place (its book file as bookNamedBy names it), its query and
    // fragment kept; the book is registered. Invalid when there is no book to name.
    QUrl pageUrl(const BookLocation& location, const QString& relativeTo);

    // True when target is an object of the book whose page made the request (the initiator,
    // an origin): a page address of the same host, or a book URL naming the same file. Any
    // other initiator (a web page, a blank or sandboxed frame, none) owns no book.
    bool isOwnBook(const QUrl& initiator, const QUrl& target) const;

    // The place an address shows, which the view reports: for a page address, or a document
    // shown under a book URL, the book file (as bookOf names it), in-book path with query, and
    // fragment, as the URL reads decoded (reported as "mk:@MSITStore:" + book file + "::" +
    // in-book part); anything else is outside the books, holding the URL's text.
    BookLocation locationOf(const QUrl& url) const;

private:
    QString registered(const QString& bookFile);

    QHash<QString, QString> m_books;   // host -> book file
    QHash<QUrl, QString> m_documents;  // book URL of a document -> book file
};
