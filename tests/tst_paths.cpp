// In-book path keys and the link forms that pass through unchanged.

#include "lchmurl.h"

#include <QtTest>

class TestPaths : public QObject
{
    Q_OBJECT

private slots:
    void makeAbsolutePath_data();
    void makeAbsolutePath();
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
    QTest::newRow("https is not listed") << "https://x" << "/https:/x";
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

QTEST_APPLESS_MAIN(TestPaths)
#include "tst_paths.moc"
