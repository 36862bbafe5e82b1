// In-book path keys, the link forms that pass through unchanged, and the place of a page
// read from and written back to each of its text forms.

#include "booklocation.h"

#include <QtTest>

class TestPaths : public QObject
{
    Q_OBJECT

private slots:
    void makeAbsolutePath_data();
    void makeAbsolutePath();
    void bookLocationForms_data();
    void bookLocationForms();
    void bookUrls_data();
    void bookUrls();
};

void TestPaths::makeAbsolutePath_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("expected");

    QTest::newRow("relative") << "a.htm" << "/a.htm";
    QTest::newRow("absolute") << "/a.htm" << "/a.htm";
    QTest::newRow("dot and double slash") << "./dir//b.htm" << "/dir/b.htm";
    QTest::newRow("backslashes") << "dir\\sub\\c.htm" << "/dir/sub/c.htm";
    QTest::newRow("dot-dot removes segment") << "dir/../d.htm" << "/d.htm";
    QTest::newRow("empty") << "" << "/";
    QTest::newRow("leading dot-dot stays") << "../e.htm" << "/../e.htm";
    QTest::newRow("absolute leading dot-dot stays") << "/../e.htm" << "/../e.htm";
    QTest::newRow("dot-dot past the start") << "a/../../b.htm" << "/../b.htm";
    QTest::newRow("mixed dots") << "a/b/../../c/./d/.." << "/c";
    QTest::newRow("leading double slash") << "//server/p.htm" << "/server/p.htm";
    QTest::newRow("trailing slash") << "dir/sub/" << "/dir/sub";
    QTest::newRow("fragment kept") << "page.htm#part" << "/page.htm#part";
    QTest::newRow("query, escapes and case kept") << "Dir/P%20Q.HTM?x=1" << "/Dir/P%20Q.HTM?x=1";

    // Link forms that are not paths stay as written, whatever their dots and slashes.
    QTest::newRow("http") << "http://example.com/a/../b" << "http://example.com/a/../b";
    QTest::newRow("https") << "https://example.com/a/../b" << "https://example.com/a/../b";
    QTest::newRow("HTTP capitals") << "HTTP://Example.com/x" << "HTTP://Example.com/x";
    QTest::newRow("ftp mixed case") << "fTp://host//f" << "fTp://host//f";
    QTest::newRow("news") << "NEWS://server/group" << "NEWS://server/group";
    QTest::newRow("mailto") << "mailto:someone@example.com" << "mailto:someone@example.com";
    QTest::newRow("javascript") << "javascript://void" << "javascript://void";
    QTest::newRow("other book") << "ms-its:a.chm::/p.htm" << "ms-its:a.chm::/p.htm";
    QTest::newRow("other book capitals") << "MS-ITS:a.chm::/p.htm" << "MS-ITS:a.chm::/p.htm";

    // Look-alikes are cleaned like any path.
    QTest::newRow("MAILTO capitals") << "MAILTO:someone@example.com" << "/MAILTO:someone@example.com";
    QTest::newRow("news without slashes") << "news:group" << "/news:group";
    QTest::newRow("file scheme") << "file://x" << "/file:/x";
    QTest::newRow("javascript case") << "JavaScript://void" << "/JavaScript:/void";
    QTest::newRow("scheme not at start") << " http://x" << "/ http:/x";
    QTest::newRow("other book without page") << "ms-its:a.chm" << "/ms-its:a.chm";
}

void TestPaths::makeAbsolutePath()
{
    QFETCH(QString, input);
    QFETCH(QString, expected);
    QCOMPARE(::makeAbsolutePath(input), expected);
}

void TestPaths::bookLocationForms_data()
{
    // A text read while the book `open` is open: the place it names, then how the panels are
    // told it (bare for the open book) and what the browser is sent.
    QTest::addColumn<QString>("open");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("inBook");
    QTest::addColumn<QString>("book");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("fragment");
    QTest::addColumn<QString>("told");
    QTest::addColumn<QString>("sent");
    const QString open = QStringLiteral("/b/my book.chm");
    const QString store = QStringLiteral("mk:@MSITStore:/b/my book.chm::");

    QTest::newRow("bare path") << open << "/a/p.htm" << true << open << "/a/p.htm" << "" << "/a/p.htm" << store + "/a/p.htm";
    QTest::newRow("bare with fragment") << open << "a\\p.htm#part" << true << open << "/a/p.htm" << "part"
                                        << "/a/p.htm#part" << store + "/a/p.htm#part";
    QTest::newRow("fragment only") << open << "#top" << true << open << "/" << "top" << "/#top" << store + "/#top";
    QTest::newRow("escapes and query kept") << open << "/x/../P%20Q.htm?a=1#f" << true << open << "/P%20Q.htm?a=1" << "f"
                                            << "/P%20Q.htm?a=1#f" << store + "/P%20Q.htm?a=1#f";
    QTest::newRow("store URL of the open book") << open << store + "/a.htm" << true << open << "/a.htm" << "" << "/a.htm"
                                                << store + "/a.htm";
    QTest::newRow("open book with %20") << open << "mk:@MSITStore:/b/my%20book.chm::/a.htm#x" << true << open << "/a.htm"
                                        << "x" << "/a.htm#x" << store + "/a.htm#x";
    QTest::newRow("upper-case MS-ITS") << open << "MS-ITS:/b/my book.chm::\\a.htm" << true << open << "/a.htm" << ""
                                       << "/a.htm" << store + "/a.htm";
    QTest::newRow("its") << open << "its:/b/my book.chm::/a.htm" << true << open << "/a.htm" << "" << "/a.htm"
                         << store + "/a.htm";
    QTest::newRow("open book's folder holding ::") << "/b/x::y/c.chm" << "mk:@MSITStore:/b/x::y/c.chm::/a.htm" << true
                                                  << "/b/x::y/c.chm" << "/a.htm" << "" << "/a.htm"
                                                  << "mk:@MSITStore:/b/x::y/c.chm::/a.htm";
    // Any other book ends at the first "::".
    QTest::newRow("other folder holding ::") << open << "mk:@MSITStore:/b/x::y/c.chm::/a.htm" << true << "/b/x"
                                             << "/y/c.chm::/a.htm" << "" << "mk:@MSITStore:/b/x::/y/c.chm::/a.htm"
                                             << "mk:@MSITStore:/b/x::/y/c.chm::/a.htm";
    QTest::newRow("another book") << open << "ms-its:other.chm::/p.htm#f" << true << "other.chm" << "/p.htm" << "f"
                                  << "mk:@MSITStore:other.chm::/p.htm#f" << "mk:@MSITStore:other.chm::/p.htm#f";
    QTest::newRow(":: missing") << open << "ms-its:other.chm" << true << "other.chm" << "/" << ""
                                << "mk:@MSITStore:other.chm::/" << "mk:@MSITStore:other.chm::/";
    QTest::newRow("mk without a book") << open << "mk:/images/a.gif" << true << open << "/images/a.gif" << ""
                                       << "/images/a.gif" << store + "/images/a.gif";
    QTest::newRow("web page") << open << "http://example.com/a::b.htm" << false << "" << "" << ""
                              << "http://example.com/a::b.htm" << "http://example.com/a::b.htm";
    QTest::newRow("blank") << open << "about:blank" << false << "" << "" << "" << "about:blank" << "about:blank";
    QTest::newRow("nothing") << open << "" << false << "" << "" << "" << "" << "";
}

void TestPaths::bookLocationForms()
{
    QFETCH(QString, open);
    QFETCH(QString, text);
    QFETCH(bool, inBook);
    QFETCH(QString, book);
    QFETCH(QString, path);
    QFETCH(QString, fragment);
    QFETCH(QString, told);
    QFETCH(QString, sent);
    const BookLocation location = BookLocation::fromText(text, open);
    QCOMPARE(location.isValid(), inBook);
    QCOMPARE(location.bookFile(), book);
    QCOMPARE(location.path(), path);
    QCOMPARE(location.fragment(), fragment);
    QCOMPARE(location.toText(open), told);
    QCOMPARE(location.toAddress(), sent);
    // Each written form reads back as the same place.
    QCOMPARE(BookLocation::fromText(told, open), location);
    QCOMPARE(BookLocation::fromText(sent, open), location);
    if (inBook)
        QCOMPARE(BookLocation::fromText(QStringLiteral("ms-its:") + location.bookFile() + QStringLiteral("::")
                                            + location.pathWithFragment(), open), location);
    // Read with no book open, the book URL names its book by itself (unless the book's own
    // folder holds "::", which only the open book can tell).
    if (inBook && !location.bookFile().contains(QLatin1String("::")))
        QCOMPARE(BookLocation::fromText(location.toStoreUrl(), QString()), location);
}

void TestPaths::bookUrls_data()
{
    // A URL text as the view loads it (BookLocation::urlFromText) and read back as the browser
    // holds it (BookLocation::fromUrl): its book, the page the scheme handler reads, fragment.
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("inBook");
    QTest::addColumn<QString>("book");
    QTest::addColumn<QString>("inBookPath");
    QTest::addColumn<QString>("fragment");
    const auto store = [](const char* book, const char* path) {
        return BookLocation(QString::fromUtf8(book), QString::fromUtf8(path)).toStoreUrl();
    };
    QTest::newRow("plain") << store("/books/a.chm", "/dir/p.htm") << true << "/books/a.chm" << "/dir/p.htm" << "";
    QTest::newRow("fragment") << store("/books/a.chm", "/p.htm#part") << true << "/books/a.chm" << "/p.htm" << "part";
    QTest::newRow("spaces") << store("/my books/a b.chm", "/a%20b.htm") << true << "/my books/a b.chm" << "/a b.htm" << "";
    QTest::newRow("letters") << store("/книги/é.chm", "/глава.htm") << true << QString::fromUtf8("/книги/é.chm")
                             << QString::fromUtf8("/глава.htm") << "";
    QTest::newRow("URL signs in the book") << store("/50% #1/a?b&c;d.chm", "/p.htm#x") << true
                                           << "/50% #1/a?b&c;d.chm" << "/p.htm" << "x";
    QTest::newRow("other book") << "ms-its:other.chm::/p.htm" << true << "other.chm" << "/p.htm" << "";
    QTest::newRow("head repeated in the path") << "mk:@MSITStore:a.chm::/@MSITStore:a.chm::/s.css" << true << "a.chm"
                                               << "/s.css" << "";
    QTest::newRow("mk without a book") << "mk:/images/a.gif" << true << "" << "/images/a.gif" << "";
    QTest::newRow("web") << "http://example.com/a::b" << false << "" << "" << "";
}

void TestPaths::bookUrls()
{
    QFETCH(QString, text);
    QFETCH(bool, inBook);
    QFETCH(QString, book);
    QFETCH(QString, inBookPath);
    QFETCH(QString, fragment);
    const QUrl url = BookLocation::urlFromText(text);
    QVERIFY(url.isValid());
    const BookLocation read = BookLocation::fromUrl(url);
    QCOMPARE(read.isValid(), inBook);
    QCOMPARE(read.bookFile(), book);
    QCOMPARE(QUrl::fromPercentEncoding(read.path().toUtf8()), inBookPath);
    QCOMPARE(read.fragment(), fragment);
    // What the browser reports for it reads as a page of the same book (a head repeated in the
    // path comes only in requests).
    if (!book.isEmpty() && text.count(QLatin1String("::")) == 1) {
        const BookLocation reported = BookLocation::fromText(url.toString(), book);
        QVERIFY(reported.isInBook(book));
        QCOMPARE(QUrl::fromPercentEncoding(reported.path().toUtf8()), inBookPath);
    }
    QVERIFY(isWholeUrl(text));
    QVERIFY(!isWholeUrl(read.path()));
    QVERIFY(!isWholeUrl(QStringLiteral("javascript://void")) && !isWholeUrl(QStringLiteral("file:///etc/passwd")));
}

QTEST_APPLESS_MAIN(TestPaths)
#include "tst_paths.moc"
