#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

class LCHMFile;

// What the "mk" scheme handler answers for a book URL, apart from the browser engine: plain
// functions over an open book, so they can be tested and fuzzed without a running engine.

// The object that `inBookPath` (the in-book part of `url`, decoded) names, read whole into
// *data. A name the book does not hold decoded is tried once more as the URL wrote it, escapes
// kept, since some books store names such as "a%20b.htm". False when neither reads whole.
bool readBookObject(LCHMFile& book, const QUrl& url, const QString& inBookPath, QByteArray* data);

// The content type to serve `data` with: `type`, and for HTML that names no character set of
// its own (no byte order mark, no "charset" or "encoding=" near its start) the book's codec.
QByteArray contentTypeWithCharset(const QByteArray& type, const QByteArray& data, const QByteArray& codecName);
