// Opening the same book again: an unchanged file reuses what its first open read; a file
// changed in any way (rewritten in place, its notes record written, touched, replaced) is
// read anew and shows its new content. The book's identity follows the same changes, and
// its names (the origin host) stay with the file's canonical path.
#include "chmwriter.h"
#include "lchmfile.h"
#include "userdata.h"

#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <fcntl.h>
#include <sys/stat.h>

namespace {

// A book whose title, home page and one topic's title are stored uncompressed, so that a test
// can rewrite them byte for byte. Titles of equal length give files of equal size.
QVector<ChmWriterObject> bookTitled(const QByteArray& title)
{
    QByteArray strings(1, '\0');
    const quint32 titleAt = quint32(strings.size());
    strings += title + '\0';
    QByteArray system;
    appendLe32(system, 3);
    for (const auto& [code, text] : {std::pair<quint16, QByteArray>{2, "a.htm"}, {3, title}}) {
        appendLe16(system, code);
        appendLe16(system, quint16(text.size() + 1));
        system += text + '\0';
    }
    QByteArray topics, urltbl, urlstr(8, '\0');
    appendLe32(topics, 0);
    appendLe32(topics, titleAt);
    appendLe32(topics, 0);   // its /#URLTBL record
    appendLe32(topics, 0);
    appendLe32(urltbl, 0);
    appendLe32(urltbl, 0);
    appendLe32(urltbl, 0);   // its path at /#URLSTR offset 0 + 8
    urlstr += "a.htm";
    urlstr += '\0';
    return {{"/#SYSTEM", system}, {"/#STRINGS", strings}, {"/#TOPICS", topics}, {"/#URLTBL", urltbl},
            {"/#URLSTR", urlstr}, {"/a.htm", "<p>" + title + "</p>"}};
}

// A stamp kept by a file system whose clock ticks every few milliseconds (or whole seconds)
// does not tell two writes within one tick apart, so a book read that soon after a write is
// not kept. Waits until the file's last change lies beyond that.
void waitForSettledStamp(const QString& path)
{
    struct stat st;
    QVERIFY(::stat(QFile::encodeName(path).constData(), &st) == 0);
    const bool wholeSeconds = st.st_ctim.tv_nsec == 0 && st.st_mtim.tv_nsec == 0;
    QThread::msleep(wholeSeconds ? 2100 : 30);
}

} // namespace

class TestBookCache : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void secondOpen_data();
    void secondOpen();
};

void TestBookCache::secondOpen_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<bool>("reused");
    QTest::addColumn<QString>("titleAfter");
    QTest::addColumn<bool>("sameFile");

    QTest::newRow("unchanged") << "none" << true << "Alpha" << true;
    QTest::newRow("opened through a symbolic link") << "link" << true << "Alpha" << true;
    QTest::newRow("rewritten in place, same size") << "rewrite" << false << "Omega" << true;
    QTest::newRow("notes record written") << "notes" << false << "Alpha" << true;
    QTest::newRow("modification time touched") << "touch" << false << "Alpha" << true;
    QTest::newRow("another book renamed over it") << "replace" << false << "Omega" << false;
}

void TestBookCache::secondOpen()
{
    QFETCH(QString, change);
    QFETCH(bool, reused);
    QFETCH(QString, titleAfter);
    QFETCH(bool, sameFile);

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("book.chm"));
    QString opened = path;
    BookIdentity before;
    QVERIFY(writeChmContainer(path, bookTitled("Alpha")));
    waitForSettledStamp(path);

    {
        LCHMFile first;
        QVERIFY(first.openBook(path));
        QVERIFY(!first.reusedParse());
        QCOMPARE(first.bookTitle(), QStringLiteral("Alpha"));
        before = first.identity();
    }

    if (change == QLatin1String("link")) {
        opened = dir.filePath(QStringLiteral("link.chm"));
        QVERIFY(QFile::link(path, opened));
    } else if (change == QLatin1String("rewrite")) {
        const QByteArray omega = buildChmContainer(bookTitled("Omega"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadWrite));   // same file, same inode, same size
        QCOMPARE(file.size(), omega.size());
        QCOMPARE(file.write(omega), omega.size());
    } else if (change == QLatin1String("notes")) {
        BookUserData data(path);
        QVERIFY(data.hasUserData() || data.stored() == BookUserData::Stored::Nothing);
        QVERIFY2(data.writeUserData(NoteStore(), {QStringLiteral("A"), QStringLiteral("/a.htm")}),
                 qPrintable(data.errorString()));
    } else if (change == QLatin1String("touch")) {
        const timespec times[2] = {{0, UTIME_OMIT}, {0, UTIME_NOW}};
        QVERIFY(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0) == 0);
    } else if (change == QLatin1String("replace")) {
        const QString other = dir.filePath(QStringLiteral("other.chm"));
        QVERIFY(writeChmContainer(other, bookTitled("Omega")));
        QVERIFY(::rename(QFile::encodeName(other).constData(), QFile::encodeName(path).constData()) == 0);
    }

    LCHMFile again;
    QVERIFY(again.openBook(opened));
    QCOMPARE(again.reusedParse(), reused);
    QCOMPARE(again.identity() == before, reused);
    QCOMPARE(again.identity().stamp().isSameFile(before.stamp()), sameFile);
    QCOMPARE(again.identity().originHost(), before.originHost());
    QCOMPARE(BookIdentity::ofPath(opened), again.identity());
    QCOMPARE(again.bookTitle(), titleAfter);
    QCOMPARE(again.topicTitleForUrl(QStringLiteral("/a.htm")), titleAfter);
    QCOMPARE(again.homePage(), QStringLiteral("/a.htm"));
    QByteArray page;
    QVERIFY(again.readFileBytes(&page, QStringLiteral("/a.htm")));
    QCOMPARE(page, "<p>" + titleAfter.toLatin1() + "</p>");
}

QTEST_MAIN(TestBookCache)
#include "tst_bookcache.moc"
