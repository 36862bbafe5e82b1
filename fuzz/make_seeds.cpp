// Writes seed corpora for every fuzz target from books: `make_seeds <corpus folder> <book>...`
// makes <corpus folder>/<target>/ for each target and puts there, per book:
//   fuzz_book, fuzz_extract   the book itself
//   fuzz_bookpage             the home page's and a few other objects' paths, each before the book
//   fuzz_sitemap              the book's contents and index files, behind the two selector bytes
//   fuzz_search               the book's full-text index behind each language byte
//   fuzz_userdata             a notes-and-bookmarks record on the book's contents, in the
//                             target's three input forms

#include "lchmfile.h"
#include "userdata.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdio>

namespace {

QDir g_root;

void put(const char* target, const QByteArray& bytes)
{
    const QDir dir(g_root.filePath(QString::fromLatin1(target)));
    dir.mkpath(QStringLiteral("."));
    QFile file(dir.filePath(QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha1).toHex())));
    if (file.open(QIODevice::WriteOnly))
        file.write(bytes);
}

void seedsOf(const QString& bookPath)
{
    QFile file(bookPath);
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QByteArray bytes = file.readAll();
    put("fuzz_book", bytes);
    put("fuzz_extract", bytes);

    LCHMFile book;
    if (!book.openBook(bookPath)) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(bookPath), qPrintable(book.errorString()));
        return;
    }
    QStringList paths{book.homePage()};
    QStringList listed;
    book.listFiles(&listed);
    NoteStore notes;
    QStringList bookmarks;
    int pages = 0;
    for (const QString& path : std::as_const(listed)) {
        const QString lower = path.toLower();
        QByteArray object;
        if ((lower.endsWith(QLatin1String(".hhc")) || lower.endsWith(QLatin1String(".hhk")))
            && book.readFileBytes(&object, path)) {
            put("fuzz_sitemap", QByteArray("\x01\x08", 2) + object.left(64 << 10));
        }
        if (lower == QLatin1String("/$fiftimain") && book.readFileBytes(&object, path)) {
            for (char language = 0; language < 4; ++language)
                put("fuzz_search", language + object);
        }
        if (lower.endsWith(QLatin1String(".htm")) || lower.endsWith(QLatin1String(".html"))) {
            if (++pages <= 3)
                paths << path;
            if (pages <= 8) {
                notes.addMark(path, {pages * 10, pages});
                bookmarks << book.topicTitleForUrl(path) << path;
            }
        }
    }
    for (const QString& path : std::as_const(paths))
        put("fuzz_bookpage", path.toUtf8() + '\n' + bytes);
    put("fuzz_userdata", '\0' + UserDataRecord::encodePayload(notes, bookmarks));
    put("fuzz_userdata", '\1' + UserDataRecord::encode(notes, bookmarks));
    put("fuzz_userdata", '\2' + UserDataRecord::encode(notes, bookmarks));
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3) {
        std::fprintf(stderr, "usage: make_seeds <corpus folder> <book>...\n");
        return 2;
    }
    g_root = QDir(args.at(1));
    for (const QString& book : args.mid(2))
        seedsOf(book);
    return 0;
}
