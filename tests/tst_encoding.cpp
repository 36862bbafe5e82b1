// Codec choice by language identifier, decoding of book text and search-word folding.
// None of this needs an open book: it runs on a closed LCHMFileImpl.

#include "lchmfileimpl.h"

#include <QTextCodec>
#include <QtTest>

class TestEncoding : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void lcidLookup_data();
    void lcidLookup();
    void everySelectableCodecExists();
    void noLcidReadsLatin1();
    void setUpCodecFailures_data();
    void setUpCodecFailures();
    void twoNameRowsDecodeWithFirst();
    void decodeStopsAtNul();
    void searchWordBytes_data();
    void searchWordBytes();
};

void TestEncoding::init()
{
    // Every diagnostic a case expects is announced with ignoreMessage; anything else fails.
    QTest::failOnWarning(QRegularExpression(QStringLiteral(".*")));
}

void TestEncoding::lcidLookup_data()
{
    QTest::addColumn<int>("lcid");
    QTest::addColumn<QByteArray>("codecName");  // null: no row

    QTest::newRow("English") << 0x0409 << QByteArray("CP1252");
    QTest::newRow("Russian") << 0x0419 << QByteArray("CP1251");
    QTest::newRow("0404: first row wins over Big5") << 0x0404 << QByteArray("GB18030");
    QTest::newRow("0411: first of three") << 0x0411 << QByteArray("eucJP");
    QTest::newRow("042C: Turkish before Western") << 0x042C << QByteArray("CP1254");
    QTest::newRow("081A: Central European first") << 0x081A << QByteArray("CP1250");
    QTest::newRow("Hong Kong") << 0x0C04 << QByteArray("Big5");
    QTest::newRow("last of a list") << 0x044F << QByteArray("CP1252");
    QTest::newRow("unknown") << 0x1234 << QByteArray();
    QTest::newRow("list end marker") << 0x0000 << QByteArray();
}

void TestEncoding::lcidLookup()
{
    QFETCH(int, lcid);
    QFETCH(QByteArray, codecName);
    const LCHMTextEncoding* row = LCHMFileImpl::findEncodingByLcid(quint16(lcid));
    QCOMPARE(row ? QByteArray(row->codecName) : QByteArray(), codecName);
}

void TestEncoding::everySelectableCodecExists()
{
    // Any row an identifier can select must name codecs the registry knows (GB2312 included).
    for (int id = 1; id <= 0xFFFF; ++id) {
        const LCHMTextEncoding* row = LCHMFileImpl::findEncodingByLcid(quint16(id));
        if (!row)
            continue;
        LCHMFileImpl impl;
        impl.lcid = quint16(id);
        QVERIFY2(impl.chooseCodecByLcid() && impl.codec, row->codecName);
    }
}

void TestEncoding::noLcidReadsLatin1()
{
    LCHMFileImpl impl;
    QTest::ignoreMessage(QtWarningMsg, "Could not detect text encoding by LCID");
    QVERIFY(!impl.chooseCodecByLcid());
    QVERIFY(!impl.codec);
    QCOMPARE(impl.decodeText(QByteArray("\xC0\xC1")), QStringLiteral("\u00C0\u00C1"));
}

void TestEncoding::setUpCodecFailures_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QByteArray>("reported");
    QTest::addColumn<QByteArray>("codecAfter");  // null: no codec

    QTest::newRow("unknown name") << QByteArray("NoSuch") << QByteArray("NoSuch") << QByteArray();
    QTest::newRow("unknown first name") << QByteArray("NoSuch/CP1251") << QByteArray("NoSuch") << QByteArray();
    QTest::newRow("unknown second name") << QByteArray("CP1251/NoSuch") << QByteArray("NoSuch")
                                         << QByteArray("windows-1251");
}

void TestEncoding::setUpCodecFailures()
{
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, reported);
    QFETCH(QByteArray, codecAfter);

    LCHMFileImpl impl;
    QVERIFY(impl.setUpCodec("CP1252"));
    QCOMPARE(impl.decodeEntity(QStringLiteral("eacute")), QStringLiteral("\u00E9"));

    QTest::ignoreMessage(QtWarningMsg, "Could not set up Text Codec for encoding '" + reported + "'");
    QVERIFY(!impl.setUpCodec(name));
    QCOMPARE(impl.codec ? impl.codec->name() : QByteArray(), codecAfter);

    // Entities decoded under the old codec must not outlive it.
    QCOMPARE(impl.decodeEntity(QStringLiteral("eacute")), impl.decodeText(QByteArray("\xE9")));
}

void TestEncoding::twoNameRowsDecodeWithFirst()
{
    // E9 is "й" in CP1251 and "И" in KOI8-R.
    for (const auto& [lcid, decoded] : { std::pair(0x7002, u'\u0439'), std::pair(0x7003, u'\u0418') }) {
        LCHMFileImpl impl;
        impl.lcid = quint16(lcid);
        QVERIFY(impl.chooseCodecByLcid());
        QCOMPARE(impl.decodeText(QByteArray("\xE9")), QString(QChar(decoded)));
    }
}

void TestEncoding::decodeStopsAtNul()
{
    const QByteArray bytes("ab\xE9\0cd", 6);
    LCHMFileImpl impl;
    QCOMPARE(impl.decodeText(bytes), QStringLiteral("ab\u00E9"));
    QCOMPARE(impl.decodeText(bytes.constData()), QStringLiteral("ab\u00E9"));
    QVERIFY(impl.setUpCodec("CP1251"));
    QCOMPARE(impl.decodeText(bytes), QStringLiteral("ab\u0439"));
    QCOMPARE(impl.decodeText(bytes.constData()), QStringLiteral("ab\u0439"));
    QVERIFY(impl.decodeText(static_cast<const char*>(nullptr)).isEmpty());
}

void TestEncoding::searchWordBytes_data()
{
    QTest::addColumn<bool>("cp1252");  // else no codec
    QTest::addColumn<QString>("word");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("sharp s") << true << QStringLiteral("Stra\u00DFe") << QByteArray("strasse");
    QTest::newRow("ligature") << true << QStringLiteral("\u0152uvre") << QByteArray("oeuvre");
    QTest::newRow("removed byte, next still folded") << true << QStringLiteral("\u00D7\u00E9") << QByteArray("e");
    QTest::newRow("two removals in a row") << true << QStringLiteral("\u00D7\u00F7\u00E9x") << QByteArray("ex");
    QTest::newRow("thorn kept and lowered") << true << QStringLiteral("a\u00DEb") << QByteArray("a\xFE" "b");
    QTest::newRow("accents") << true << QStringLiteral("\u00C5\u00C9\u00CE\u00D5\u00DC\u00D1\u00C7\u00D0\u0178")
                             << QByteArray("aeiouncdy");
    QTest::newRow("no codec") << false << QStringLiteral("ABC") << QByteArray("abc");
}

void TestEncoding::searchWordBytes()
{
    QFETCH(bool, cp1252);
    QFETCH(QString, word);
    QFETCH(QByteArray, expected);

    LCHMFileImpl impl;
    if (cp1252)
        QVERIFY(impl.setUpCodec("CP1252"));
    QCOMPARE(impl.searchWordBytes(word), expected);
}

QTEST_GUILESS_MAIN(TestEncoding)
#include "tst_encoding.moc"
