// Text ranges over a page's captured characters, and the book URLs the page view loads.
#include "textrange.h"

#include <QtTest>

class TestTextRange : public QObject
{
    Q_OBJECT

private slots:
    void moves_data();
    void moves();
    void findText_data();
    void findText();
    void findsWordsOneAfterAnother();
};

void TestTextRange::moves_data()
{
    // Page text "0123456789"; a range [start, end) gets one moveStart and one moveEnd.
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("end");
    QTest::addColumn<int>("startBy");
    QTest::addColumn<int>("endBy");
    QTest::addColumn<int>("newStart");
    QTest::addColumn<int>("newEnd");
    QTest::addColumn<int>("startMoved");
    QTest::addColumn<int>("endMoved");
    QTest::newRow("widen inside") << 4 << 6 << -2 << 2 << 2 << 8 << -2 << 2;
    QTest::newRow("widen past both ends") << 4 << 6 << -20 << 20 << 0 << 10 << -4 << 4;
    QTest::newRow("collapse to the page start") << 4 << 6 << -100000 << -100000 << 0 << 0 << -4 << -6;
    QTest::newRow("start past the end takes it along") << 2 << 4 << 5 << 0 << 7 << 7 << 5 << 0;
    QTest::newRow("end before the start takes it along") << 5 << 8 << 0 << -6 << 2 << 2 << 0 << -6;
    QTest::newRow("place from the page start") << 0 << 0 << 3 << 4 << 3 << 7 << 3 << 4;
    QTest::newRow("huge counts do not overflow") << 5 << 5 << INT_MAX << INT_MIN << 0 << 0 << 5 << -10;
}

void TestTextRange::moves()
{
    QFETCH(int, start);
    QFETCH(int, end);
    QFETCH(int, startBy);
    QFETCH(int, endBy);
    QFETCH(int, newStart);
    QFETCH(int, newEnd);
    QFETCH(int, startMoved);
    QFETCH(int, endMoved);
    TextRange range(QStringLiteral("0123456789"), start, end);
    QCOMPARE(range.moveStart(startBy), startMoved);
    QCOMPARE(range.moveEnd(endBy), endMoved);
    QCOMPARE(range.start(), newStart);
    QCOMPARE(range.end(), newEnd);
    QCOMPARE(range.text(), QStringLiteral("0123456789").mid(newStart, newEnd - newStart));
}

void TestTextRange::findText_data()
{
    QTest::addColumn<int>("from");
    QTest::addColumn<QString>("needle");
    QTest::addColumn<int>("found");   // -1: not found
    const QString page = QStringLiteral("The Nebula and the nebula");
    QTest::newRow("first occurrence") << 0 << "nebula" << 19;
    QTest::newRow("case matters") << 0 << "NEBULA" << -1;
    QTest::newRow("from the range start on") << 5 << "the" << 15;
    QTest::newRow("a match at the start counts") << 4 << "Nebula" << 4;
    QTest::newRow("nothing behind the start") << 20 << "The" << -1;
    QTest::newRow("empty needle") << 0 << "" << -1;
    QTest::newRow("longer than the page") << 0 << "The Nebula and the nebula!" << -1;
}

void TestTextRange::findText()
{
    QFETCH(int, from);
    QFETCH(QString, needle);
    QFETCH(int, found);
    const QString page = QStringLiteral("The Nebula and the nebula");
    TextRange range(page, from, int(page.size()));
    QCOMPARE(range.findText(needle), found >= 0);
    if (found >= 0) {
        QCOMPARE(range.start(), found);
        QCOMPARE(range.text(), needle);
    } else {
        QCOMPARE(range.start(), from);   // a failed search leaves the range alone
        QCOMPARE(range.end(), int(page.size()));
    }
}

void TestTextRange::findsWordsOneAfterAnother()
{
    // The same range serves several searches: each starts where the last match begins.
    TextRange range(QStringLiteral("b a b c a"), 0, 9);
    QVERIFY(range.findText(QStringLiteral("a")));
    QCOMPARE(range.start(), 2);
    QVERIFY(range.findText(QStringLiteral("b")));
    QCOMPARE(range.start(), 4);
    QVERIFY(range.findText(QStringLiteral("a")));
    QCOMPARE(range.start(), 8);
}

QTEST_APPLESS_MAIN(TestTextRange)
#include "tst_textrange.moc"
