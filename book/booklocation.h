#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

// The schemes of the book URL forms ("mk", "ms-its", "its"), in lower case; matched in any case.
QStringList bookSchemes();
bool isBookScheme(const QString& scheme);
// The schemes of the web (http, https, ftp), in any case: links to them leave the books.
bool isWebScheme(const QString& scheme);

// The length of the head of a book URL text ("mk:@MSITStore:", "ms-its:", "its:", in any
// case), or 0 when the text is not written as one.
int bookUrlHeadLength(const QString& text);

// True for a text that is already a whole address rather than an in-book path: one that
// starts with a book or web scheme and ":", or "about:".
bool isWholeUrl(const QString& text);

// An in-book path as the key every part of the reader finds its page under: backslashes become
// "/", empty and "." steps go, ".." removes the step before it (and stays where there is
// none), the result starts with "/" and does not end with one (unless it is just "/").
// Case, escapes, query and fragment are kept. Links that leave the book pass unchanged: web
// addresses ("scheme://" of a web scheme, "news" or "mailto", in any case), "mailto:",
// "javascript://" and other-book links ("ms-its:book::page", in any case).
QString makeAbsolutePath(const QString& url);

// A target written in a sitemap, as an in-book path: escapes such as %20 decoded once, a
// relative target resolved against the folder of the sitemap file `sitemapPath` (an in-book
// path such as "/Documents/toc.hhc"), and ".." never leading above the book's root (such
// steps are dropped, as a browser does at a site's root). Links that leave the book pass
// unchanged, as in makeAbsolutePath.
QString resolveSitemapTarget(const QString& target, const QString& sitemapPath);

// The place of a page: a book file, an in-book path and a fragment ("/intro.htm" and "part" for
// "/intro.htm#part"). Pages travel between the panels, the view and its browser as this value;
// it becomes text only at the edges: the bare in-book path the panels and the notes use, the
// book URLs "mk:@MSITStore:" + book file + "::" + in-book path and "ms-its:" + ... that pages
// and bookmarks write, and the addresses the browser reports.
//
// What holds for a place in a book (isValid):
// - the in-book path starts with "/", has no backslashes, empty, "." or ".." steps (see
//   makeAbsolutePath) and no fragment; a query and percent escapes are kept as written, since
//   they are what the page's own links and the reported addresses carry;
// - the book file is as written in the text it came from, or, when the text named the current
//   book in any of its spellings (spaces as "%20", letters beyond ASCII encoded), the current
//   book's own path; it is empty when the text named no book ("mk:/images/a.gif").
//
// An address outside any book (a web page, "about:blank") is not a place in a book: it parses
// to an invalid location that keeps the address, so that it can be shown and reported as it
// came. A null location (an empty text) is nowhere.
class BookLocation
{
public:
    BookLocation() = default;
    // A place in bookFile; path is cleaned as above, a "#" in it starts the fragment when
    // fragment is empty.
    BookLocation(const QString& bookFile, const QString& path, const QString& fragment = QString());
    // An address outside any book, kept as written.
    static BookLocation outside(const QString& address);

    // Reads every form a place is written in: a bare in-book path, with or without a fragment,
    // naming a page of currentBook; "mk:@MSITStore:<book>::<path>", "ms-its:<book>::<path>" and
    // "its:<book>::<path>" in any case (a missing "::" names the book's root, "/"); and
    // "mk:<path>", a page of currentBook. A folder name holding "::" is found when it is part
    // of currentBook. Web and "about:" addresses give an invalid location that keeps them.
    static BookLocation fromText(const QString& text, const QString& currentBook = QString());
    // Reads a book URL as the browser holds it ("mk:@MSITStore:book::path", "ms-its:…",
    // "its:…", their book part percent-encoded as urlFromText writes it): the book file
    // decoded (empty for "mk:/images/a.gif", which names none), the in-book path and query
    // still percent-encoded, as written, and the fragment. Some requests repeat the whole head
    // inside the path ("…::/@MSITStore:…::/style.css"): the page is what follows the last
    // "::". A URL of another scheme gives a location outside the books holding its text.
    static BookLocation fromUrl(const QUrl& url);
    // The URL to load for a text. In book URLs the book file part is percent-encoded, so that
    // spaces, '#', '?', '%' and letters beyond ASCII in folder and file names stay part of the
    // path (a name written encoded is taken as bookFileAsNamed finds it); the in-book part is
    // taken as written (it may carry a "#fragment"). Other texts are taken as URLs.
    static QUrl urlFromText(const QString& text);
    // The book file a text names, as a file to open: a name written percent-encoded (copied
    // from a reported URL, where '#' and '%' stay encoded) is taken decoded when only that
    // form names a file.
    static QString bookFileAsNamed(const QString& written);

    bool isNull() const { return m_kind == Kind::Null; }
    bool isValid() const { return m_kind == Kind::InBook; }

    QString bookFile() const { return m_bookFile; }
    QString path() const { return m_path; }
    QString fragment() const { return m_fragment; }
    // The address of an invalid location; empty for a place in a book.
    QString address() const { return m_kind == Kind::Outside ? m_address : QString(); }

    // True when this place lies in bookFile.
    bool isInBook(const QString& bookFile) const;

    // The bare form: in-book path and "#fragment".
    QString pathWithFragment() const;
    // "mk:@MSITStore:" + book file + "::" + bare form ("mk:" + bare form without a book file).
    QString toStoreUrl() const;
    // How a place is told to the panels while currentBook is open: the bare form for a page of
    // currentBook, the store URL for a page of another book, the address for anything else,
    // empty for nowhere.
    QString toText(const QString& currentBook) const;
    // What the browser is sent: the store URL, or the address outside any book.
    QString toAddress() const;

    bool operator==(const BookLocation& other) const;
    bool operator!=(const BookLocation& other) const { return !(*this == other); }

private:
    enum class Kind { Null, InBook, Outside };
    Kind m_kind = Kind::Null;
    QString m_bookFile;
    QString m_path;
    QString m_fragment;
    QString m_address;
};
