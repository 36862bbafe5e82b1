#pragma once

#include "booklocation.h"

#include <QString>
#include <QUrl>

// Book URLs name a page inside a book file: "mk:@MSITStore:" + book file + "::" + in-book path.
// Links into another book are written "ms-its:" + book file + "::" + in-book path, the book
// file often relative to the folder of the book that holds the link.

// The book URL of an in-book path (cleaned as a BookLocation path).
QString makeBookUrl(const QString& bookPath, const QString& inBookPath);

// The QUrl to load for a URL text. In book URLs the book file part is percent-encoded, so that
// spaces, '#', '?', '%' and letters beyond ASCII in folder and file names stay part of the
// path; the in-book part is taken as written (it may carry a "#fragment").
QUrl urlFromText(const QString& text);

// Splits a book URL ("mk:@MSITStore:book::path", "ms-its:book::path", "its:book::path") into
// its decoded book file and in-book path (fragment and query left out). A book URL without
// a book part ("mk:/images/a.gif") gives an empty book. False for URLs of other schemes.
// encodedInBookPath, when given, receives the in-book path still percent-encoded, as written.
bool splitBookUrl(const QUrl& url, QString* bookFile, QString* inBookPath, QString* encodedInBookPath = nullptr);

// The place a book URL names: its book file decoded (empty when it names none), its in-book
// path and query still percent-encoded, as written, and its fragment. A URL of another scheme
// gives a location outside the books holding its text.
BookLocation bookLocationOf(const QUrl& bookUrl);

// The book file a text names, as a file to open: a name written percent-encoded (copied from a
// reported URL, where '#' and '%' stay encoded) is taken decoded when only that form names a
// file.
QString bookFileAsNamed(const QString& written);

// The in-book part of a URL the browser reports when it names a page of the book at
// bookPath, however the browser encoded the book part; otherwise the URL unchanged.
QString inBookPathOf(const QString& reportedUrl, const QString& bookPath);
