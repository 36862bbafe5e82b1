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
    void codePageCodecs_data();
    void codePageCodecs();
    void noLcidReadsLatin1();
    void setUpCodecFailures_data();
    void setUpCodecFailures();
    void twoNameRowsDecodeWithFirst();
    void decodeStopsAtNul();
    void utf8InLegacyBooks_data();
    void utf8InLegacyBooks();
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
    // The Windows code page of the language wins over the table's first row.
    QTest::newRow("Chinese, Taiwan: Big5 (950)") << 0x0404 << QByteArray("Big5");
    QTest::newRow("Japanese: Shift-JIS (932)") << 0x0411 << QByteArray("windows-31j");
    QTest::newRow("Korean: 949") << 0x0412 << QByteArray("windows-949");
    QTest::newRow("Thai: 874") << 0x041E << QByteArray("windows-874");
    QTest::newRow("Chinese, PRC") << 0x0804 << QByteArray("GBK");
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

void TestEncoding::codePageCodecs_data()
{
    QTest::addColumn<int>("lcid");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");

    // Characters only the Windows code pages hold (932's ～ and NEC/IBM rows, 950's box
    // drawing and euro, 949's extra syllables, 874's euro and quotes), and double-byte
    // characters whose trail byte is "\" or "|".
    QTest::newRow("932") << 0x0411 << QByteArray("\x81\x60\x87\x40\xFA\x40\x83\x5C\x95\x5C\x94\x5C\x83\x7C")
                         << QString::fromUtf8("～①ⅰソ表能ポ");
    QTest::newRow("950") << 0x0404 << QByteArray("\xF9\xF9\xA3\xE1\xA5\x5C\xB3\x5C")
                         << QString::fromUtf8("═€功許");
    QTest::newRow("949") << 0x0412 << QByteArray("\x81\x41\xB0\xA1") << QString::fromUtf8("갂가");
    QTest::newRow("874") << 0x041E << QByteArray("\x80\x91\xA1") << QString::fromUtf8("€‘ก");
}

void TestEncoding::codePageCodecs()
{
    QFETCH(int, lcid);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);

    LCHMFileImpl impl;
    impl.lcid = quint16(lcid);
    QVERIFY(impl.chooseCodecByLcid());
    QCOMPARE(impl.decodeText(bytes), text);
    QCOMPARE(impl.codec->fromUnicode(text), bytes);
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

void TestEncoding::utf8InLegacyBooks_data()
{
    QTest::addColumn<QByteArray>("codec");  // empty: no codec
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("fromUtf8Table");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("table");  // a table of it twice and one legacy string reads as UTF-8

    const QByteArray gbk("GBK"), cp1252("CP1252");
    QTest::newRow("UTF-8 title, Chinese book") << gbk << QByteArray("a (\xE6\xB7\xBB\xE5\x8A\xA0) \xE5\x91\xBD\xE4\xBB\xA4")
                                               << false << QString::fromUtf8("a (添加) 命令") << true;
    QTest::newRow("GBK") << gbk << QByteArray("\xB3\xA3\xB9\xE6\xD0\xC5\xCF\xA2") << false << QString::fromUtf8("常规信息") << false;
    // 目前为止 in GBK is well-formed UTF-8 of four two-byte characters (ĿǰΪֹ).
    QTest::newRow("GBK, valid as UTF-8") << gbk << QByteArray("\xC4\xBF\xC7\xB0\xCE\xAA\xD6\xB9") << false
                                         << QString::fromUtf8("目前为止") << false;
    QTest::newRow("CP1251") << QByteArray("CP1251") << QByteArray("\xCE\xF8\xE8\xE1\xEA\xE8") << false
                            << QString::fromUtf8("Ошибки") << false;
    QTest::newRow("UTF-8, Russian book") << QByteArray("CP1251") << QByteArray("\xD0\x9E\xD1\x88\xD0\xB8\xD0\xB1\xD0\xBA\xD0\xB8")
                                         << false << QString::fromUtf8("Ошибки") << true;
    QTest::newRow("CP932") << QByteArray("windows-31j") << QByteArray("\x95\x5C\x8E\xA6\x90\xDD\x92\xE8") << false
                           << QString::fromUtf8("表示設定") << false;
    QTest::newRow("ASCII") << gbk << QByteArray("7-Zip") << true << QStringLiteral("7-Zip") << false;
    QTest::newRow("UTF-8, no language") << QByteArray() << QByteArray("Caf\xC3\xA9 cr\xC3\xA8me") << false
                                        << QString::fromUtf8("Café crème") << true;
    // One pair alone is not enough (in CP1256, D3 90 is the Persian word سگ); from a table
    // of UTF-8 titles, or with another beside it in the table, it is.
    QTest::newRow("one pair") << QByteArray("CP1256") << QByteArray("\xD3\x90") << false << QString::fromUtf8("سگ") << true;
    QTest::newRow("one pair, UTF-8 table") << cp1252 << QByteArray("Caf\xC3\xA9") << true << QString::fromUtf8("Café") << true;
    // Forms that are not UTF-8: encoded surrogates, overlong forms, a cut sequence.
    QTest::newRow("surrogates") << cp1252 << QByteArray("\xED\xA0\x80\xED\xB0\x80") << true << QString::fromUtf8("í\u00A0€í°€") << false;
    QTest::newRow("overlong") << cp1252 << QByteArray("\xC0\xAF\xE0\x80\xAF") << true << QString::fromUtf8("À¯à€¯") << false;
    QTest::newRow("cut") << cp1252 << QByteArray("\xC3\xA4\xC3\xB6\xE2\x82") << true << QString::fromUtf8("Ã¤Ã¶â‚") << false;
    QTest::newRow("UTF-16 book") << QByteArray("UTF-16LE") << QByteArray("\xC3\xA4\xC3\xB6") << true
                                 << QString::fromUtf16(u"\uA4C3\uB6C3") << false;
}

void TestEncoding::utf8InLegacyBooks()
{
    QFETCH(QByteArray, codec);
    QFETCH(QByteArray, bytes);
    QFETCH(bool, fromUtf8Table);
    QFETCH(QString, text);
    QFETCH(bool, table);

    LCHMFileImpl impl;
    if (!codec.isEmpty())
        QVERIFY(impl.setUpCodec(codec));
    QCOMPARE(impl.decodeText(bytes, fromUtf8Table), text);
    // A table reads as UTF-8 when more of its strings are UTF-8 than are not, so one such
    // string beside a legacy one does not make it so.
    const QByteArray head("\0main\0", 6);
    const QByteArray other(codec == "GBK" ? "\xCB\xCE\xCC\xE5,9,1" : "\xE9t\xE9");
    QCOMPARE(impl.stringTableIsUtf8(head + bytes + '\0' + bytes + '\0' + other + '\0'), table);
    QVERIFY(!impl.stringTableIsUtf8(head + bytes + '\0' + other + '\0'));
}

void TestEncoding::searchWordBytes_data()
{
    QTest::addColumn<QByteArray>("codec");  // empty: no codec
    QTest::addColumn<QString>("word");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("sharp s") << QByteArray("CP1252") << QStringLiteral("Stra\u00DFe") << QByteArray("strasse");
    QTest::newRow("ligature") << QByteArray("CP1252") << QStringLiteral("\u0152uvre") << QByteArray("oeuvre");
    QTest::newRow("removed byte, next still folded") << QByteArray("CP1252") << QStringLiteral("\u00D7\u00E9") << QByteArray("e");
    QTest::newRow("two removals in a row") << QByteArray("CP1252") << QStringLiteral("\u00D7\u00F7\u00E9x") << QByteArray("ex");
    QTest::newRow("thorn kept and lowered") << QByteArray("CP1252") << QStringLiteral("a\u00DEb") << QByteArray("a\xFE" "b");
    QTest::newRow("accents") << QByteArray("CP1252")
                             << QStringLiteral("\u00C5\u00C9\u00CE\u00D5\u00DC\u00D1\u00C7\u00D0\u0178")
                             << QByteArray("aeiouncdy");
    QTest::newRow("no codec") << QByteArray() << QStringLiteral("ABC") << QByteArray("abc");

    // Double-byte characters pass whole: a trail byte in the ASCII range is neither folded
    // nor lower-cased, while the ASCII letters around them are.
    QTest::newRow("Shift-JIS trail bytes") << QByteArray("windows-31j") << QString::fromUtf8("Aソ表アB")
                                           << QByteArray("a\x83\x5C\x95\x5C\x83\x41" "b");
    QTest::newRow("Big5 trail bytes") << QByteArray("Big5") << QString::fromUtf8("功Z") << QByteArray("\xA5\x5Cz");
}

void TestEncoding::searchWordBytes()
{
    QFETCH(QByteArray, codec);
    QFETCH(QString, word);
    QFETCH(QByteArray, expected);

    LCHMFileImpl impl;
    if (!codec.isEmpty())
        QVERIFY(impl.setUpCodec(codec));
    QCOMPARE(impl.searchWordBytes(word), expected);
}

QTEST_GUILESS_MAIN(TestEncoding)
#include "tst_encoding.moc"
