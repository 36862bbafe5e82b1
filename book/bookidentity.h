#pragma once

#include "itsfarchive.h"

#include <QByteArray>
#include <QString>

// Which book a file is: its canonical path and the state of the file (ItsfFileStamp). Every
// name and check the reader keeps for a book derives from this one value, so that they agree
// on what "the same book" is: the origin its pages load under, the name of its cached text
// index, the key of its settings, the books the page handler keeps open, and whether the file
// about to be written is the one that was read.
//
// A small value, copied freely and never changed. An open book gives the identity of the file
// it opened (LCHMFile::identity()); a path gives the identity of whatever file it names now.
class BookIdentity
{
public:
    BookIdentity() = default;
    BookIdentity(const QString& canonicalPath, const ItsfFileStamp& stamp) : m_path(canonicalPath), m_stamp(stamp) {}

    // The identity of the file at `path` now. The stamp is all zero when the file cannot be
    // asked (it does not exist, say).
    static BookIdentity ofPath(const QString& path);
    // The canonical path of a book file: symbolic links, "." and ".." resolved; the cleaned
    // absolute path while no such file exists.
    static QString canonicalPathOf(const QString& path);

    QString canonicalPath() const { return m_path; }
    const ItsfFileStamp& stamp() const { return m_stamp; }

    // The host of the book's origin in the browser: 32 hex digits of a SHA-256 of the
    // canonical path, so it holds no name from the disk and one file always gets one host.
    QString originHost() const;
    // The base name of files cached for the book across runs: the hex SHA-1 of the canonical
    // path.
    QString cacheName() const;
    // 20 bytes that follow the state of the file (a SHA-1 of the whole stamp): a cache made
    // from the book and stamped with them stands for the file only while they are the same.
    QByteArray stampDigest() const;

    bool operator==(const BookIdentity& o) const { return m_path == o.m_path && m_stamp == o.m_stamp; }
    bool operator!=(const BookIdentity& o) const { return !(*this == o); }

private:
    QString m_path;
    ItsfFileStamp m_stamp;
};
