// The contents sitemap scanner, quoted values and HTML entities, on a closed LCHMFileImpl.

#include "lchmfileimpl.h"

#include <QtTest>

namespace {

// One entry as "indent|name|url,url|image" so that whole outputs compare in one line.
QStringList describe(const QVector<LCHMParsedEntry>& entries)
{
    QStringList lines;
    for (const LCHMParsedEntry& e : entries)
        lines << QStringLiteral("%1|%2|%3|%4").arg(e.indent).arg(e.name, e.urls.join(u',')).arg(e.imageNumber);
    return lines;
}

// A sitemap object from its params, given as name=value pairs.
QString object(std::initializer_list<std::pair<const char*, QString>> params)
{
    QString text = QStringLiteral("<LI><OBJECT type=\"text/sitemap\">");
    for (const auto& [name, value] : params)
        text += QStringLiteral("<param name=\"%1\" value=\"%2\">").arg(QLatin1String(name), value);
    return text + QStringLiteral("</OBJECT>");
}

QString item(const QString& name)
{
    return object({ { "Name", name } });
}

} // namespace

class TestSitemap : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void parse_data();
    void parse();
    void targets_data();
    void targets();
    void appendsToOutput();
    void missingSitemap();
    void findStringInQuotes_data();
    void findStringInQuotes();
    void decodeEntity_data();
    void decodeEntity();
    void entitiesFollowCodec();
};

void TestSitemap::init()
{
    // Every diagnostic a case expects is announced with ignoreMessage; anything else fails.
    QTest::failOnWarning(QRegularExpression(QStringLiteral(".*")));
}

void TestSitemap::parse_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("result");
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<QStringList>("warnings");

    const QString nested = "<UL>" + object({ { "Name", "A" }, { "Local", "a.htm" } }) + "<UL>" + item("B") + "</UL></UL>";
    QTest::newRow("nesting") << nested << true << QStringList{ "0|A|/a.htm|-2", "1|B||-2" } << QStringList();
    QTest::newRow("improper index")
        << "<UL>" + nested + "</UL>" << true << QStringList{ "0|A|/a.htm|-2", "1|B||-2" }
        << QStringList{ "CHM has improper index; root indent offset is 2" };
    QTest::newRow("surplus closing lists")
        << "</ul></ul><ul>" + item("A") + "<ul>" + item("B") + "</ul></ul></ul></ul>" + item("C") << true
        << QStringList{ "0|A||-2", "1|B||-2", "0|C||-2" } << QStringList();

    QTest::newRow("duplicate targets")
        << object({ { "Name", "A" }, { "Local", "a.htm" }, { "Local", "a.htm" }, { "Local", "./a.htm" },
                    { "Local", "b.htm" } })
        << true << QStringList{ "0|A|/a.htm,/b.htm|-2" } << QStringList();
    QTest::newRow("later name wins, empty name ignored, trimmed")
        << object({ { "Name", "First" }, { "Name", " Second\t" }, { "Name", "" } }) << true
        << QStringList{ "0|Second||-2" } << QStringList();
    QTest::newRow("entities") << item("Tom &amp; Jerry &#65;") << true << QStringList{ "0|Tom & Jerry A||-2" }
                              << QStringList();
    // An "&" that begins no known entity stays, as browsers show it.
    QTest::newRow("unknown entity stays literal")
        << item("&bogus; tail") << true << QStringList{ "0|&bogus; tail||-2" }
        << QStringList{ "LCHMFileImpl::decodeEntity: could not decode HTML entity 'bogus'" };
    QTest::newRow("ampersand in a name") << item("AT&T Syntax & more &amp; &c") << true
                                         << QStringList{ "0|AT&T Syntax & more & &c||-2" } << QStringList();
    QTest::newRow("inner quotes") << item("say \"hi\"") << true << QStringList{ "0|say \"hi\"||-2" } << QStringList();
    QTest::newRow("image numbers")
        << object({ { "Name", "A" }, { "ImageNumber", "41" } }) + object({ { "Name", "B" }, { "ImageNumber", "0" } })
               + object({ { "Name", "C" }, { "ImageNumber", "7" }, { "ImageNumber", "42" }, { "ImageNumber", "-1" },
                          { "ImageNumber", "3a" }, { "ImageNumber", "" } })
        << true << QStringList{ "0|A||41", "0|B||0", "0|C||7" } << QStringList();

    QTest::newRow("other objects and stray params ignored")
        << "<OBJECT type=\"text/site properties\"><param name=\"Name\" value=\"Props\"></OBJECT>"
           "<param name=\"Name\" value=\"Stray\"></object>" + item("A")
        << true << QStringList{ "0|A||-2" } << QStringList();
    QTest::newRow("case of tags and parameter names")
        << "<Object TYPE=\"TEXT/SITEMAP\"><PARAM NAME=\"name\" VALUE=\"N\"><Param Name=\"LOCAL\" Value=\"x.htm\">"
           "</OBJECT><UL>" + item("M") + "</Ul>"
        << true << QStringList{ "0|N|/x.htm|-2", "1|M||-2" } << QStringList();
    QTest::newRow("object without name or url")
        << "<object type=\"text/sitemap\"></object>" + item("A") << true << QStringList{ "0|A||-2" }
        << QStringList{ "LCHMFileImpl::ParseAndFillTopicsTree: <object> tag is parsed, but both name and url are empty." };
    QTest::newRow("object with url only")
        << object({ { "Local", "d/../a.htm" } }) << true << QStringList()
        << QStringList{ "LCHMFileImpl::ParseAndFillTopicsTree: <object> tag with url \"/a.htm\" is parsed, but name is empty." };

    // A single quote without a partner skips to the next ">" and the tag goes on to the one
    // after it, swallowing the first object's opening tag.
    QTest::newRow("apostrophe in attribute")
        << "<a title='it's'>text <OBJECT type=\"text/sitemap\"><param name=\"Name\" value=\"Lost\"></OBJECT>"
               + item("Kept")
        << true << QStringList{ "0|Kept||-2" } << QStringList();
    QTest::newRow("unbalanced quote at the end")
        << item("A") + "<a title='x" << false << QStringList{ "0|A||-2" }
        << QStringList{ "LCHMFileImpl::ParseHhcAndFillTree: corrupted TOC: 'x" };
    QTest::newRow("tag cut by the end") << item("A") + "<ul" << true << QStringList{ "0|A||-2" } << QStringList();
    QTest::newRow("lone < at the end") << item("A") + "<" << true << QStringList{ "0|A||-2" } << QStringList();

    // Malformed params are reported and skipped; the rest of the object still counts.
    const auto badParam = [](const char* name, const char* param, const char* warning) {
        QTest::newRow(name) << "<object type=\"text/sitemap\">" + QString::fromLatin1(param)
                                   + "<param name=\"Name\" value=\"A\"></object>"
                            << true << QStringList{ "0|A||-2" } << QStringList{ QString::fromLatin1(warning) };
    };
    badParam("param without quotes", "<param name=Local value=x.htm>",
             "LCHMFileImpl::findStringInQuotes: cannot find first quote in <param> tag: 'param name=Local value=x.htm'");
    badParam("param without name=", "<param value=\"x\">",
             "LCHMFileImpl::ParseAndFillTopicsTree: bad <param> tag 'param value=\"x\"': no name=\n");
    badParam("param without value=", "<param name=\"Local\" val=\"x\">",
             "LCHMFileImpl::ParseAndFillTopicsTree: bad <param> tag 'param name=\"Local\" val=\"x\"': no value=\n");
    badParam("param with single-quoted value", "<param name=\"Name\" value='B'>",
             "LCHMFileImpl::findStringInQuotes: cannot find first quote in <param> tag: 'param name=\"Name\" value='B''");

    // The 256th level is refused and the level stays at 255; the parse goes on.
    QTest::newRow("nesting limit")
        << "<ul>" + item("A") + QStringLiteral("<ul>").repeated(255) + item("B") + "</ul>" + item("C") << true
        << QStringList{ "0|A||-2", "254|B||-2", "253|C||-2" }
        << QStringList{ "LCHMFileImpl::ParseAndFillTopicsTree: max nest depth (256) is reached, error in help file" };
    // Thousands of levels past the limit are reported once, not once a level.
    QTest::newRow("nesting far past the limit")
        << "<ul>" + item("A") + QStringLiteral("<ul>").repeated(20000) + item("B") << true
        << QStringList{ "0|A||-2", "254|B||-2" }
        << QStringList{ "LCHMFileImpl::ParseAndFillTopicsTree: max nest depth (256) is reached, error in help file" };
}

void TestSitemap::parse()
{
    QFETCH(QString, text);
    QFETCH(bool, result);
    QFETCH(QStringList, entries);
    QFETCH(QStringList, warnings);

    for (const QString& w : warnings)
        QTest::ignoreMessage(QtWarningMsg, qPrintable(w));
    LCHMFileImpl impl;
    QVector<LCHMParsedEntry> out;
    QCOMPARE(impl.parseSitemapText(text, &out), result);
    QCOMPARE(describe(out), entries);
}

void TestSitemap::targets_data()
{
    QTest::addColumn<QString>("sitemap");  // the sitemap's own in-book path
    QTest::addColumn<QString>("local");
    QTest::addColumn<QString>("url");

    const QString folder = QStringLiteral("/Documents/Table of Contents.hhc");
    QTest::newRow("relative, in the sitemap's folder") << folder << "page.htm" << "/Documents/page.htm";
    QTest::newRow("up one, escaped space") << folder << "../page%201.html" << "/page 1.html";
    QTest::newRow("absolute") << folder << "/other/x.htm" << "/other/x.htm";
    QTest::newRow("backslashes") << "/a\\toc.hhc" << "sub\\x.htm#part" << "/a/sub/x.htm#part";
    QTest::newRow("decoded once") << folder << "100%2541.htm" << "/Documents/100%41.htm";
    QTest::newRow("escapes that are no UTF-8 stay") << folder << "caf%E9.htm" << "/Documents/caf%E9.htm";
    QTest::newRow("UTF-8 escapes") << "/toc.hhc" << "%E8%A1%A8.htm" << QString::fromUtf8("/表.htm");
    QTest::newRow("climbing above the root stops there") << "/a/toc.hhc" << "../../../etc/x.htm" << "/etc/x.htm";
    QTest::newRow("escaped climb stops there too") << "/a/toc.hhc" << "%2e%2e/%2E%2E/x.htm" << "/x.htm";
    QTest::newRow("absolute climb") << "/toc.hhc" << "/../x.htm" << "/x.htm";
    QTest::newRow("web link") << folder << "http://example.com/a%20b" << "http://example.com/a%20b";
    QTest::newRow("secure web link") << folder << "HTTPS://example.com/a/../b" << "HTTPS://example.com/a/../b";
    QTest::newRow("other book") << folder << "ms-its:other.chm::/p.htm" << "ms-its:other.chm::/p.htm";
}

void TestSitemap::targets()
{
    QFETCH(QString, sitemap);
    QFETCH(QString, local);
    QFETCH(QString, url);

    LCHMFileImpl impl;
    QVector<LCHMParsedEntry> out;
    QVERIFY(impl.parseSitemapText(object({ { "Name", "A" }, { "Local", local } }), &out, sitemap));
    QCOMPARE(out.size(), 1);
    QCOMPARE(out.constFirst().urls, QStringList{ url });
}

void TestSitemap::appendsToOutput()
{
    LCHMFileImpl impl;
    QVector<LCHMParsedEntry> out(1);
    out[0].name = QStringLiteral("kept");
    QVERIFY(impl.parseSitemapText(item("A"), &out));
    QCOMPARE(describe(out), (QStringList{ "0|kept||-2", "0|A||-2" }));
}

void TestSitemap::missingSitemap()
{
    // A closed book has no sitemap: false, nothing appended, no message.
    LCHMFileImpl impl;
    QVector<LCHMParsedEntry> out;
    QVERIFY(!impl.ParseAndFillTopicsTree(QStringLiteral("/toc.hhc"), &out));
    QVERIFY(out.isEmpty());
}

void TestSitemap::findStringInQuotes_data()
{
    QTest::addColumn<QString>("tag");
    QTest::addColumn<int>("start");
    QTest::addColumn<bool>("firstQuote");
    QTest::addColumn<QString>("value");
    QTest::addColumn<int>("position");  // after the closing quote, -1 on error
    QTest::addColumn<QString>("warning");

    const QString tag = QStringLiteral("param name=\"Name\" value=\"a \"b\" c\"");
    const QString noFirst = "LCHMFileImpl::findStringInQuotes: cannot find first quote in <param> tag: '%1'";
    const QString noLast = "LCHMFileImpl::findStringInQuotes: cannot find last quote in <param> tag: '%1'";
    QTest::newRow("next quote") << tag << 11 << true << "Name" << 17 << QString();
    QTest::newRow("last quote") << tag << 24 << false << "a \"b\" c" << int(tag.size()) << QString();
    QTest::newRow("negative start") << tag << -3 << true << "Name" << 17 << QString();
    QTest::newRow("start past the end") << tag << 1000 << true << QString() << -1 << noFirst.arg(tag);
    QTest::newRow("one quote, next") << "p \"x" << 0 << true << QString() << -1 << noLast.arg("p \"x");
    QTest::newRow("one quote, last") << "p \"x" << 0 << false << QString() << -1 << noLast.arg("p \"x");

    // Entities, decoded in the rows whose tag starts with "value=": an entity still open at
    // the closing quote, and an empty one. The position is the tag's length.
    const auto row = [](const char* name, const char* inner, const QString& value, const QString& warning) {
        const QString tag = QStringLiteral("value=\"%1\"").arg(QLatin1String(inner));
        QTest::newRow(name) << tag << 0 << false << value << int(tag.size()) << warning;
    };
    row("entity without semicolon stays", "a &amp b", "a &amp b", QString());
    row("empty entity stays", "a&;b", "a&;b", QString());
    row("entity open at the closing quote", "a &#65", "a &#65", QString());
}

void TestSitemap::findStringInQuotes()
{
    QFETCH(QString, tag);
    QFETCH(int, start);
    QFETCH(bool, firstQuote);
    QFETCH(QString, value);
    QFETCH(int, position);
    QFETCH(QString, warning);

    if (!warning.isEmpty())
        QTest::ignoreMessage(QtWarningMsg, qPrintable(warning));
    LCHMFileImpl impl;
    QString out = QStringLiteral("stale");
    const bool decode = tag.startsWith(QLatin1String("value="));
    QCOMPARE(impl.findStringInQuotes(tag, start, out, firstQuote, decode), position);
    QCOMPARE(out, value);
}

void TestSitemap::decodeEntity_data()
{
    QTest::addColumn<QString>("entity");
    QTest::addColumn<QString>("decoded");  // null: cannot be decoded

    QTest::newRow("Prime is a double quote") << "Prime" << "\"";
    QTest::newRow("code page, no codec") << "eacute" << QStringLiteral("\u00E9");
    QTest::newRow("Dstrok") << "Dstrok" << QStringLiteral("\u00D0");
    QTest::newRow("hellip") << "hellip" << QStringLiteral("\u2026");
    QTest::newRow("lte") << "lte" << QStringLiteral("\u2264");
    QTest::newRow("rArr") << "rArr" << QStringLiteral("\u21D2");
    QTest::newRow("a name page text knew") << "larr" << QStringLiteral("\u2190");
    QTest::newRow("decimal") << "#0065" << "A";
    QTest::newRow("decimal low 16 bits") << "#65601" << "A";
    QTest::newRow("decimal beyond 32 bits") << "#4294967361" << "A";
    QTest::newRow("hexadecimal is no number") << "#x41" << QString();
    QTest::newRow("sign is no number") << "#-5" << QString();
    QTest::newRow("hash alone") << "#" << QString();
    QTest::newRow("case matters") << "AMP" << QString();
    QTest::newRow("not in the table") << "alpha" << QString();
}

void TestSitemap::decodeEntity()
{
    QFETCH(QString, entity);
    QFETCH(QString, decoded);

    LCHMFileImpl impl;
    if (decoded.isNull()) {
        QTest::ignoreMessage(QtWarningMsg,
                             qPrintable("LCHMFileImpl::decodeEntity: could not decode HTML entity '" + entity + "'"));
    }
    const QString result = impl.decodeEntity(entity);
    QCOMPARE(result.isNull(), decoded.isNull());
    QCOMPARE(result, decoded);
}

void TestSitemap::entitiesFollowCodec()
{
    // In a Cyrillic book the byte E9 is "й", and that is what &eacute; stands for.
    LCHMFileImpl impl;
    QVERIFY(impl.setUpCodec("CP1251"));
    QVector<LCHMParsedEntry> out;
    QVERIFY(impl.parseSitemapText(item("caf&eacute; &hellip;"), &out));
    QCOMPARE(describe(out), QStringList{ QStringLiteral("0|caf\u0439 \u2026||-2") });

    // A byte the codec cannot decode alone still leaves the entity known.
    QVERIFY(impl.setUpCodec("UTF-8"));
    QVERIFY(!impl.decodeEntity(QStringLiteral("eacute")).isNull());
}

QTEST_GUILESS_MAIN(TestSitemap)
#include "tst_sitemap.moc"
