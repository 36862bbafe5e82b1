// Fuzzes the full-text index reader and the query evaluation: the input is a book's
// /$FIftiMain (after one byte that picks the book's language), placed in a small valid book
// with 64 topics, which is then searched with words, phrases and "+"/"-" words.
//
// Seeds: the /$FIftiMain of books compiled by chmcmd and by Microsoft's compiler, and
// hand-built trees of two and three levels, each behind its language byte. An input that
// finds a fault belongs in tests/tst_searchindex.cpp as a test case.

#include "chmwriter.h"
#include "lchmfile.h"

#include <QDir>
#include <QFile>
#include <QStringList>

#include <cstddef>
#include <cstdint>
#include <unistd.h>

namespace {

constexpr int kTopics = 64;

// The topic tables and metadata of the book around the index, built once.
QVector<ChmWriterObject> bookObjects(quint16 lcid)
{
    QByteArray topics, urltbl, urlstr, strings;
    strings.append('\0');
    urlstr.append('\0');
    for (int i = 0; i < kTopics; ++i) {
        const quint32 titleOffset = quint32(strings.size());
        strings += "Topic " + QByteArray::number(i) + '\0';
        appendLe32(urltbl, quint32(0x1000 + i));
        appendLe32(urltbl, quint32(i));
        appendLe32(urltbl, quint32(urlstr.size()));
        appendLe32(urlstr, 0);
        appendLe32(urlstr, 0);
        urlstr += "t" + QByteArray::number(i) + ".htm" + '\0';
        appendLe32(topics, 0);
        appendLe32(topics, titleOffset);
        appendLe32(topics, quint32(i * 12));
        appendLe32(topics, 6);
    }
    QByteArray system;
    appendLe32(system, 3);
    appendLe16(system, 4);
    appendLe16(system, 28);
    appendLe32(system, lcid);
    system.append(QByteArray(24, '\0'));
    return {{"/#SYSTEM", system}, {"/#TOPICS", topics}, {"/#URLTBL", urltbl},
            {"/#URLSTR", urlstr}, {"/#STRINGS", strings}};
}

const QStringList& queries()
{
    static const QStringList list = {
        QStringLiteral("the"),
        QStringLiteral("a"),
        QStringLiteral("chapter"),
        QStringLiteral("password"),
        QStringLiteral("nebula -quasar"),
        QStringLiteral("+keepass database"),
        QStringLiteral("\"the start page\""),
        QStringLiteral("\"in the\" \"of the\""),
        QStringLiteral("-the"),
        QStringLiteral("zzzz"),
        QString::fromUtf8("Straße café"),
        QString::fromUtf8("스크립트 \"호환성 the\""),
    };
    return list;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // Books without a language record say so on every opening; keep the output readable.
    static const bool quiet = (qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {}), true);
    (void)quiet;
    static const QString path = QDir::temp().filePath(
        QStringLiteral("fuzz_search_%1.chm").arg(qint64(getpid())));
    static const quint16 lcids[] = {0x409, 0x412, 0x419, 0};
    static QVector<ChmWriterObject> books[4] = {bookObjects(lcids[0]), bookObjects(lcids[1]),
                                                bookObjects(lcids[2]), bookObjects(lcids[3])};

    if (size < 1)
        return 0;
    QVector<ChmWriterObject> objects = books[data[0] % 4];
    objects.append({"/$FIftiMain", QByteArray(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1))});
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return 0;
    file.write(buildChmContainer(objects));
    file.close();

    LCHMFile book;
    if (!book.openBook(path))
        return 0;
    for (const QString& query : queries()) {
        QStringList results;
        book.fullTextSearch(query, &results, 700);
    }
    return 0;
}
