// The book file: opening containers, metadata rules, the topic map, reading and listing.
#include "chmwriter.h"
#include "lchmfile.h"
#include "lchmfileimpl.h"
#include "testbooks.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QScopeGuard>
#include <QUrl>
#include <QtTest>

#include <sys/fsuid.h>
#include <unistd.h>

namespace {

using Objects = QVector<ChmWriterObject>;

// /#STRINGS with its strings at known offsets; offset 0 holds the customary empty string.
struct Strings
{
    QByteArray data = QByteArray(1, '\0');
    quint32 add(const QByteArray& s)
    {
        const quint32 at = quint32(data.size());
        data += s;
        data += '\0';
        return at;
    }
};

// One /#WINDOWS entry: title, contents file and default topic offsets into /#STRINGS.
struct Window
{
    quint32 title = 0, contents = 0, home = 0;
};

QByteArray windowsFile(const QVector<Window>& windows, quint32 entrySize = 0x11C)
{
    QByteArray out;
    appendLe32(out, quint32(windows.size()));
    appendLe32(out, entrySize);
    for (const Window& w : windows) {
        QByteArray entry(int(entrySize), '\0');
        auto put = [&](int at, quint32 v) {
            if (at + 4 <= entry.size())
                qToLittleEndian(v, entry.data() + at);
        };
        put(0x14, w.title);
        put(0x60, w.contents);
        put(0x68, w.home);
        out += entry;
    }
    return out;
}

QByteArray systemRecord(quint16 code, const QByteArray& data, bool terminate = true)
{
    QByteArray out;
    const QByteArray body = terminate ? data + '\0' : data;
    appendLe16(out, code);
    appendLe16(out, quint16(body.size()));
    return out + body;
}

QByteArray systemFile(const QVector<QByteArray>& records)
{
    QByteArray out;
    appendLe32(out, 3);  // version
    for (const QByteArray& r : records)
        out += r;
    return out;
}

QByteArray lcidRecord(quint16 lcid)
{
    QByteArray data;
    appendLe16(data, lcid);
    appendLe16(data, 0);
    appendLe32(data, 0);
    return systemRecord(4, data, false);
}

class BookDir
{
public:
    QString write(const Objects& objects, const ChmWriterOptions& options = {})
    {
        const QString path = m_dir.filePath(QStringLiteral("book%1.chm").arg(++m_count));
        if (!writeChmContainer(path, objects, options))
            return QString();
        return path;
    }
    QString path(const QString& name) const { return m_dir.filePath(name); }

private:
    QTemporaryDir m_dir;
    int m_count = 0;
};

} // namespace

Q_DECLARE_METATYPE(Objects)

class TestBookFile : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void metadata_data();
    void metadata();
    void systemReadIsCutAt4096();
    void topicTitles();
    void missingTopicTables();
    void listingFindsEveryChunk();
    void reading();
    void fileUrlPrefix();
    void compiledBooks_data();
    void compiledBooks();
    void compiledPagesMatchSources();
    void realBooks_data();
    void realBooks();
    void compressedSectionClaimingTooMuch_data();
    void compressedSectionClaimingTooMuch();
    void damagedBooksNeverCrash_data();
    void damagedBooksNeverCrash();
    void notABook_data();
    void notABook();
    void helpContexts_data();
    void helpContexts();

private:
    BookDir m_books;
};

void TestBookFile::metadata_data()
{
    QTest::addColumn<Objects>("objects");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("home");
    QTest::addColumn<QByteArray>("contents");

    const QByteArray page = "<html><body>x</body></html>";
    {
        Strings s;
        Window w{s.add("Window title"), s.add("win.hhc"), s.add("win.htm")};
        QTest::newRow("windows names win over system codes 0 and 2; code 3 title wins")
            << Objects{{"/#WINDOWS", windowsFile({w})}, {"/#STRINGS", s.data},
                       {"/#SYSTEM", systemFile({systemRecord(0, "sys.hhc"), systemRecord(2, "sys.htm"),
                                                systemRecord(3, "System title")})},
                       {"/win.hhc", page}, {"/sys.hhc", page}}
            << "System title" << "/win.htm" << QByteArray("/win.hhc");
    }
    {
        Strings s;
        Window w{s.add("Window title"), 0, s.add("")};
        QTest::newRow("an empty windows default topic gives way to code 2")
            << Objects{{"/#WINDOWS", windowsFile({w})}, {"/#STRINGS", s.data},
                       {"/#SYSTEM", systemFile({systemRecord(2, "sys.htm")})}}
            << "Window title" << "/sys.htm" << QByteArray();
    }
    {
        Strings s;
        const quint32 t1 = s.add("First"), h1 = s.add("one.htm"), c2 = s.add("two.hhc"), h2 = s.add("two.htm");
        QTest::newRow("two windows entries: each field from the last entry that sets it")
            << Objects{{"/#WINDOWS", windowsFile({Window{t1, 0, h1}, Window{0, c2, h2}})}, {"/#STRINGS", s.data}}
            << "First" << "/two.htm" << QByteArray("/two.hhc");
    }
    {
        Strings s;
        Window w{s.add("Short"), s.add("never.hhc"), s.add("never.htm")};
        QTest::newRow("a windows entry too short for its fields keeps only what it holds")
            << Objects{{"/#WINDOWS", windowsFile({w}, 0x20)}, {"/#STRINGS", s.data}}
            << "Short" << "/" << QByteArray();
    }
    {
        Strings s;
        s.data += "cut";  // the title has no NUL before the end of /#STRINGS
        Window w{1, 0, 0};
        QTest::newRow("a string without NUL ends with the file")
            << Objects{{"/#WINDOWS", windowsFile({w})}, {"/#STRINGS", s.data}} << "cut" << "/" << QByteArray();
    }
    {
        Strings s;
        QByteArray far(5000, 'x');
        s.data = QByteArray(4096 - 2, 'p') + "ab";  // "ab" runs into the next 4 KiB page without a NUL
        s.data += far;
        Window w{4096 - 2, 0, 0};
        QTest::newRow("a string is read within its 4 KiB page only")
            << Objects{{"/#WINDOWS", windowsFile({w})}, {"/#STRINGS", s.data}} << "ab" << "/" << QByteArray();
    }
    {
        Strings s;
        Window w{0x7fffffff, 0x7ffffffe, 0x12345678};
        QTest::newRow("offsets past /#STRINGS are ignored")
            << Objects{{"/#WINDOWS", windowsFile({w})}, {"/#STRINGS", s.data}} << "" << "/" << QByteArray();
    }
    QTest::newRow("windows entry count far beyond the data")
        << Objects{{"/#WINDOWS", QByteArray::fromHex("ffffffff" "6c000000") + QByteArray(0x6c, '\0')},
                   {"/#STRINGS", QByteArray(16, '\0')}}
        << "" << "/" << QByteArray();
    QTest::newRow("toc.hhc is used when nothing names a contents file")
        << Objects{{"/#SYSTEM", systemFile({systemRecord(3, "T")})}, {"/toc.hhc", page}, {"/other.hhc", page}}
        << "T" << "/" << QByteArray("/toc.hhc");
    QTest::newRow("code 6 names the contents file by the compiled file's base name")
        << Objects{{"/#SYSTEM", systemFile({systemRecord(6, "help")})}, {"/help.hhc", page}, {"/toc.hhc", page}}
        << "" << "/" << QByteArray("/help.hhc");
    QTest::newRow("code 6 is skipped when its file is missing")
        << Objects{{"/#SYSTEM", systemFile({systemRecord(6, "help"), systemRecord(0, "zero.hhc")})}}
        << "" << "/" << QByteArray("/zero.hhc");
    QTest::newRow("the single sitemap at the root serves when none is named")
        << Objects{{"/#SYSTEM", systemFile({systemRecord(3, "T")})}, {"/main.hhc", page}, {"/sub/x.hhc", page}}
        << "T" << "/" << QByteArray("/main.hhc");
    QTest::newRow("two sitemaps at the root: none is guessed")
        << Objects{{"/a.hhc", page}, {"/b.hhc", page}} << "" << "/" << QByteArray();
    QTest::newRow("a record whose length runs past the data")
        << Objects{{"/#SYSTEM", systemFile({systemRecord(3, "T"), QByteArray::fromHex("0300ffff") + "Lost"})}}
        << "Los" << "/" << QByteArray();  // the last byte read is replaced by NUL
    QTest::newRow("a record header cut short")
        << Objects{{"/#SYSTEM", systemFile({systemRecord(3, "T")}) + QByteArray::fromHex("0300")}}
        << "T" << "/" << QByteArray();
    QTest::newRow("no metadata at all") << Objects{{"/index.htm", page}} << "" << "/" << QByteArray();
}

void TestBookFile::metadata()
{
    QFETCH(Objects, objects);
    QFETCH(QString, title);
    QFETCH(QString, home);
    QFETCH(QByteArray, contents);

    const QString path = m_books.write(objects);
    QVERIFY(!path.isEmpty());
    LCHMFileImpl book;
    QVERIFY(book.openBook(path));
    QCOMPARE(book.bookTitle(), title);
    QCOMPARE(book.homePage(), home);
    QCOMPARE(book.contentsFile, contents);
}

void TestBookFile::systemReadIsCutAt4096()
{
    // The title record's data runs past the 4096 bytes read after the version: the last byte
    // read is replaced by NUL, so the title is what fits before it.
    const QByteArray lead = systemRecord(0x10, QByteArray(4000, 'z'));
    const QByteArray title(500, 'T');
    const QString path = m_books.write({{"/#SYSTEM", systemFile({lead, systemRecord(3, title), lcidRecord(0x419)})}});
    LCHMFileImpl book;
    QVERIFY(book.openBook(path));
    const int fits = 4096 - lead.size() - 4 - 1;
    QCOMPARE(book.bookTitle(), QString(fits, QLatin1Char('T')));
    QCOMPARE(book.lcid, quint16(0));  // the language record lies beyond the read
}

namespace {

// Topic tables for the given (path, title offset) pairs.
Objects topicTables(const QVector<QPair<QByteArray, quint32>>& topics, Strings& strings)
{
    QByteArray topicsFile, urltbl, urlstr(8, '\0');
    for (const auto& [path, titleOffset] : topics) {
        const quint32 urlOffset = quint32(urlstr.size()) - 8;
        urlstr += QByteArray(8, '\0');
        urlstr += path + '\0';
        const quint32 tableOffset = quint32(urltbl.size());
        appendLe32(urltbl, 0);
        appendLe32(urltbl, 0);
        appendLe32(urltbl, urlOffset + 8);
        appendLe32(topicsFile, 0);
        appendLe32(topicsFile, titleOffset);
        appendLe32(topicsFile, tableOffset);
        appendLe32(topicsFile, 0);
    }
    return {{"/#TOPICS", topicsFile}, {"/#URLTBL", urltbl}, {"/#URLSTR", urlstr}, {"/#STRINGS", strings.data}};
}

} // namespace

void TestBookFile::topicTitles()
{
    Strings s;
    const quint32 alpha = s.add("Alpha"), beta = s.add("Beta"), later = s.add("Later");
    Objects objects = topicTables({{"a.htm", alpha}, {"./dir//b.htm", 0xffffffff}, {"c.htm", quint32(s.data.size())},
                                   {"/d.htm", beta}, {"a.htm", later}},
                                  s);
    QByteArray& topicsFile = objects[0].data;
    // A record pointing past /#URLTBL, and a cut record at the end: both are skipped.
    appendLe32(topicsFile, 0);
    appendLe32(topicsFile, alpha);
    appendLe32(topicsFile, 0x7ffffff0);
    appendLe32(topicsFile, 0);
    topicsFile += "\x01\x02\x03\x04\x05";
    objects.append({"/$FIftiMain", QByteArray(64, '\0')});

    LCHMFileImpl book;
    QVERIFY(book.openBook(m_books.write(objects)));
    QVERIFY(book.tablesValid);
    QVERIFY(book.hasSearchIndex);
    QCOMPARE(book.topicTitleForUrl("/a.htm"), QStringLiteral("Later"));  // the later record replaces
    QCOMPARE(book.topicTitleForUrl("/dir/b.htm"), QStringLiteral("Untitled"));
    QCOMPARE(book.topicTitleForUrl("/c.htm"), QStringLiteral("Untitled"));
    QCOMPARE(book.topicTitleForUrl("/d.htm"), QStringLiteral("Beta"));
    QVERIFY(book.topicTitleForUrl("/A.htm").isNull());
    QVERIFY(book.topicTitleForUrl("a.htm").isNull());
    QCOMPARE(book.topics() ? book.topics()->size() : 0, 4);
}

void TestBookFile::missingTopicTables()
{
    Strings s;
    Objects objects = topicTables({{"a.htm", s.add("Alpha")}}, s);
    objects.removeAt(1);  // no /#URLTBL
    objects.append({"/$FIftiMain", QByteArray(64, '\0')});
    LCHMFileImpl book;
    QVERIFY(book.openBook(m_books.write(objects)));
    QVERIFY(!book.tablesValid);
    QVERIFY(!book.hasSearchIndex);
    QVERIFY(book.topicTitleForUrl("/a.htm").isNull());
}

void TestBookFile::listingFindsEveryChunk()
{
    Objects objects;
    for (int i = 0; i < 60; ++i)
        objects.append({QByteArray("/page") + QByteArray::number(i) + ".htm", QByteArray::number(i)});
    ChmWriterOptions options;
    options.chunkSize = 256;
    options.firstListingChunkDelta = 1;  // the header names chunk 1 as the first listing chunk
    LCHMFile book;
    QVERIFY(book.openBook(m_books.write(objects, options)));
    QStringList files;
    QVERIFY(book.listFiles(&files));
    QCOMPARE(files.size(), objects.size());
    for (const ChmWriterObject& o : objects) {
        QVERIFY2(files.contains(QString::fromLatin1(o.path)), o.path.constData());
        QByteArray bytes;
        QVERIFY(book.readFileBytes(&bytes, QString::fromLatin1(o.path)));
        QCOMPARE(bytes, o.data);
    }

    const QString fpdoc = sharedBookPath("fpc-fpdoc.chm");
    if (fpdoc.isEmpty())
        QSKIP("real books not available");
    QVERIFY(book.openBook(fpdoc));
    QVERIFY(book.listFiles(&files));
    QCOMPARE(files.size(), 147);
    QVERIFY(files.contains("/#SYSTEM"));
}

void TestBookFile::reading()
{
    const QString path = m_books.write({{"/empty.htm", QByteArray()}, {"/a.htm", "<p>caf\xe9</p>"},
                                        {"/Mixed.HTM", "mixed"}, {"/caf\xc3\xa9.htm", "utf-8 name"}});
    LCHMFileImpl book;
    QVERIFY(book.openBook(path));
    QByteArray bytes = "untouched";
    QVERIFY(!book.readFileBytes(&bytes, "/empty.htm"));
    QVERIFY(!book.readFileBytes(&bytes, "/missing.htm"));
    QVERIFY(book.readFileBytes(&bytes, "/a.htm"));
    QCOMPARE(bytes, QByteArray("<p>caf\xe9</p>"));
    QVERIFY(book.readFileBytes(&bytes, "/mixed.htm"));  // names are found regardless of case
    QCOMPARE(bytes, QByteArray("mixed"));
    // A name stored as UTF-8 is found by its text, and by the Latin-1 text listFiles gives.
    QVERIFY(book.readFileBytes(&bytes, QString::fromUtf8("/café.htm")));
    QCOMPARE(bytes, QByteArray("utf-8 name"));
    QStringList listed;
    QVERIFY(book.listFiles(&listed));
    QVERIFY(listed.contains(QString::fromLatin1("/caf\xc3\xa9.htm")));
    QVERIFY(book.readFileBytes(&bytes, QString::fromLatin1("/caf\xc3\xa9.htm")));
    QCOMPARE(bytes, QByteArray("utf-8 name"));
    QString text;
    QVERIFY(book.readFileText("/a.htm", &text));
    QCOMPARE(text, QString::fromLatin1("<p>caf\xe9</p>"));  // no codec: Latin-1
    QVERIFY(!book.readFileText("/empty.htm", &text));

    book.closeBook();
    QVERIFY(!book.readFileBytes(&bytes, "/a.htm"));
    QStringList files{"stale"};
    QVERIFY(!book.listFiles(&files));
    QVERIFY(files.isEmpty());
    QCOMPARE(book.homePage(), QStringLiteral("/"));
}

void TestBookFile::fileUrlPrefix()
{
    const QString path = m_books.write({{"/#SYSTEM", systemFile({systemRecord(3, "Prefixed")})}});
    LCHMFileImpl book;
    QVERIFY(book.openBook(QStringLiteral("file://") + path));   // the prefix is dropped
    QCOMPARE(book.bookTitle(), QStringLiteral("Prefixed"));
    QVERIFY(!book.openBook(QStringLiteral("FILE://") + path));  // only the lower-case prefix is dropped
    QVERIFY(book.bookTitle().isEmpty());                        // a failed open leaves the object closed
}

void TestBookFile::compiledBooks_data()
{
    QTest::addColumn<QString>("book");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("home");
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<int>("lcid");
    QTest::addColumn<QString>("firstEntry");
    QTest::addColumn<bool>("searchIndex");

    QTest::newRow("english") << "english.chm" << "Tom & Jerry's Guide" << "/index.htm" << QByteArray("/contents.hhc")
                             << 0x409 << "Welcome" << true;
    QTest::newRow("russian") << "russian.chm" << QString::fromUtf8("Руководство читателя") << "/index.htm"
                             << QByteArray("/toc.hhc") << 0x419 << QString::fromUtf8("Добро пожаловать") << true;
    QTest::newRow("no contents named") << "nocontents.chm" << "A Book Without a Named Contents File" << "/"
                                       << QByteArray("/main.hhc") << 0x409 << QString() << false;
}

void TestBookFile::compiledBooks()
{
    QFETCH(QString, book);
    QFETCH(QString, title);
    QFETCH(QString, home);
    QFETCH(QByteArray, contents);
    QFETCH(int, lcid);
    QFETCH(QString, firstEntry);
    QFETCH(bool, searchIndex);

    LCHMFileImpl file;
    QVERIFY2(file.openBook(testBookPath(book)), qPrintable(testBookPath(book)));
    QCOMPARE(file.bookTitle(), title);
    QCOMPARE(file.homePage(), home);
    QCOMPARE(file.contentsFile, contents);
    QCOMPARE(int(file.lcid), lcid);
    QCOMPARE(file.hasSearchIndex, searchIndex);
    QVector<LCHMParsedEntry> entries;
    QVERIFY(file.parseContents(&entries));
    QVERIFY(!entries.isEmpty());
    if (!firstEntry.isEmpty())
        QCOMPARE(entries.first().name, firstEntry);
    if (searchIndex) {
        QVERIFY(file.tablesValid);
        QVERIFY(!file.topicTitleForUrl(home).isEmpty());
    }
}

void TestBookFile::compiledPagesMatchSources()
{
    // Every file of the English book comes out of the compressed section byte for byte.
    const QDir sources(QFINDTESTDATA("books/english"));
    QVERIFY(sources.exists());
    LCHMFile book;
    QVERIFY(book.openBook(testBookPath("english.chm")));
    QStringList files;
    QVERIFY(book.listFiles(&files));
    int compared = 0;
    for (const QString& name : files) {
        const QString source = sources.filePath(name.mid(1));
        if (!name.startsWith('/') || name.startsWith("/#") || name.startsWith("/$") || !QFileInfo(source).isFile())
            continue;
        QFile f(source);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QByteArray bytes;
        QVERIFY2(book.readFileBytes(&bytes, name), qPrintable(name));
        QCOMPARE(bytes, f.readAll());
        ++compared;
    }
    QVERIFY2(compared >= 10, qPrintable(QString::number(compared)));
}

void TestBookFile::realBooks_data()
{
    QTest::addColumn<QString>("book");
    QTest::addColumn<int>("objects");
    QTest::addColumn<bool>("hasContents");
    QTest::addColumn<QString>("topic");   // a topic and its title in the topic tables
    QTest::addColumn<QString>("title");

    // Its titles are UTF-8 (copied from its UTF-8 pages) while it declares Chinese (GBK).
    QTest::newRow("7zip") << "7zip-zh-cn.chm" << 92 << true << "/fm/plugins/index.htm" << QString::fromUtf8("插件");
    QTest::newRow("autohotkey") << "autohotkey-ko.chm" << 374 << true << "/docs/AutoHotkey.htm" << "AutoHotkey";
    QTest::newRow("chesspeer") << "chesspeer-tr.chm" << 30 << true << "/ecTOC.HHC" << "Untitled";
    QTest::newRow("filmcollection") << "filmcollection-ru.chm" << 131 << true << "/about.htm"
                                    << QString::fromUtf8("О программе");
    QTest::newRow("fpdoc") << "fpc-fpdoc.chm" << 147 << false << "/fpdoc/fpdocch1.html" << "1 Introduction";
    QTest::newRow("fpc-toc") << "fpc-toc.chm" << 19 << false << "/toc/toc.html" << "Untitled";
    QTest::newRow("putty") << "halibut-putty.chm" << 532 << true << "/config-altf4.html"
                           << QString::fromUtf8("‘Window closes on ALT-F4’");
    QTest::newRow("puzzles") << "halibut-puzzles.chm" << 143 << true << "/common-type.html"
                             << QString::fromUtf8("The ‘Type’ menu");
    QTest::newRow("keepass") << "keepass.chm" << 125 << true << "/help/base/autourl.html" << "URL Field Capabilities - KeePass";
    // Its contents file is /Documents/Table of Contents.hhc, its targets "../page%201.html".
    QTest::newRow("pychm-example") << "pychm-example.chm" << 25 << true << "/page 1.html" << "page 1";
    // UTF-8 titles in a Russian (CP1251) book.
    QTest::newRow("stepmap") << "stepmap-ru.chm" << 73 << true << "/interface.htm" << QString::fromUtf8("Внешний вид");
    QTest::newRow("supertexttoolbox") << "supertexttoolbox-zh.chm" << 40 << true << "/page_2.html"
                                      << QString::fromUtf8("翻译功能");
}

void TestBookFile::realBooks()
{
    QFETCH(QString, book);
    QFETCH(int, objects);
    QFETCH(bool, hasContents);
    QFETCH(QString, topic);
    QFETCH(QString, title);
    const QString path = sharedBookPath(book);
    if (path.isEmpty())
        QSKIP("real books not available");

    LCHMFile file;
    QVERIFY(file.openBook(path));
    QCOMPARE(file.topicTitleForUrl(topic), title);
    QStringList files;
    QVERIFY(file.listFiles(&files));
    QCOMPARE(files.size(), objects);

    // Every object reads whole, as long as the directory says (an empty one reads as nothing);
    // the home page and every contents target that is a file exist.
    ItsfArchive listed;
    QVERIFY(listed.open(path));
    for (const QString& name : files) {
        ItsfUnit unit;
        QVERIFY2(listed.resolve(name.toLatin1(), &unit), qPrintable(name));
        QByteArray bytes;
        QCOMPARE(file.readFileBytes(&bytes, name), unit.length > 0);
        QVERIFY2(quint64(bytes.size()) == unit.length, qPrintable(name));
    }
    QVector<LCHMParsedEntry> entries;
    QCOMPARE(file.parseContents(&entries), hasContents);
    if (hasContents) {
        QVERIFY(!entries.isEmpty());
        int found = 0, targets = 0;
        for (const LCHMParsedEntry& e : entries) {
            for (const QString& url : e.urls) {
                // Targets come decoded ("a%20b.htm" is a b.htm) and resolved against the
                // sitemap's folder.
                const QString page = url.section('#', 0, 0);
                if (!page.startsWith('/') || page.contains("::"))
                    continue;
                ++targets;
                QByteArray bytes;
                found += file.readFileBytes(&bytes, page) ? 1 : 0;
            }
        }
        QVERIFY2(found == targets, qPrintable(QStringLiteral("%1 of %2 targets").arg(found).arg(targets)));
    }
    QByteArray home;
    const QString homePath = QUrl::fromPercentEncoding(file.homePage().section('#', 0, 0).toLatin1());
    QVERIFY2(file.readFileBytes(&home, homePath), qPrintable(file.homePage()));
}

void TestBookFile::compressedSectionClaimingTooMuch_data()
{
    QTest::addColumn<Objects>("objects");
    QTest::addColumn<QByteArray>("read");   // the object to read after opening; empty: none

    constexpr quint32 frames = 32768;  // 1 GiB of content claimed
    constexpr quint64 claimed = quint64(frames) * 32768;
    QByteArray windows;  // 4,096 window entries of 256 KiB each: 1 GiB
    appendLe32(windows, 4096);
    appendLe32(windows, 256 << 10);
    windows += QByteArray(0x200, 'w');

    QTest::newRow("an object over data that decodes to nothing")
        << (claimingCompressedSection(frames) << ChmWriterObject{"/big.htm", {}, true, 0, claimed})
        << QByteArray("/big.htm");
    QTest::newRow("an object over one real frame")
        << (claimingCompressedSection(frames, "<p>one frame</p>") << ChmWriterObject{"/big.htm", {}, true, 0, claimed})
        << QByteArray("/big.htm");
    QTest::newRow("/#WINDOWS claiming 1 GiB of entries at opening")
        << (claimingCompressedSection(frames, windows) << ChmWriterObject{"/#WINDOWS", {}, true, 0, claimed})
        << QByteArray();
}

// A reset table that claims far more content than its compressed data decodes to: opening and
// reading never size memory by the claim, and an object that does not decode whole fails.
void TestBookFile::compressedSectionClaimingTooMuch()
{
    QFETCH(Objects, objects);
    QFETCH(QByteArray, read);
    const QString path = m_books.write(objects);
    QVERIFY(!path.isEmpty());
    QVERIFY(QFileInfo(path).size() < 300 * 1024);

    const qint64 before = peakMemoryKiB();
    LCHMFile book;
    QVERIFY2(book.openBook(path), qPrintable(book.errorString()));
    if (!read.isEmpty()) {
        QByteArray bytes;
        QVERIFY(!book.readFileBytes(&bytes, QString::fromLatin1(read)));
        QVERIFY(bytes.isEmpty());
        QVERIFY(!book.errorString().isEmpty());
    }
    QVERIFY2(peakMemoryKiB() - before < 64 * 1024, qPrintable(QString::number(peakMemoryKiB() - before)));
}

void TestBookFile::damagedBooksNeverCrash_data()
{
    QTest::addColumn<QString>("book");
    QTest::newRow("compiled") << testBookPath("english.chm");
    QTest::newRow("real") << sharedBookPath("fpc-toc.chm");
}

void TestBookFile::damagedBooksNeverCrash()
{
    QFETCH(QString, book);
    if (book.isEmpty())
        QSKIP("real books not available");
    QFile f(book);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray original = f.readAll();
    QRandomGenerator random(20261208);
    const QtMessageHandler previous = qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    const auto restore = qScopeGuard([previous] { qInstallMessageHandler(previous); });

    // Cut at many lengths, and damaged at random places: opening and every operation must
    // come back (the sanitizer build checks that nothing is read out of bounds).
    for (int round = 0; round < 160; ++round) {
        QByteArray damaged = original;
        if (round < 40) {
            damaged.truncate(int(qint64(original.size()) * round / 40));
        } else {
            const int flips = 1 + int(random.bounded(8));
            for (int i = 0; i < flips; ++i)
                damaged[int(random.bounded(quint32(damaged.size())))] = char(random.bounded(256));
        }
        const QString path = m_books.path("damaged.chm");
        QFile out(path);
        QVERIFY(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
        out.write(damaged);
        out.close();

        LCHMFile file;
        if (!file.openBook(path))
            continue;
        (void)file.bookTitle();
        (void)file.homePage();
        QVector<LCHMParsedEntry> entries;
        file.parseContents(&entries);
        QStringList files;
        file.listFiles(&files);
        for (const QString& name : files) {
            QByteArray bytes;
            file.readFileBytes(&bytes, name);
        }
        QStringList results;
        file.fullTextSearch("quick", &results, 700);
    }
}

void TestBookFile::notABook_data()
{
    QTest::addColumn<QString>("kind");   // "bytes": a file of these bytes; "missing", "unreadable"
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("reason");

    const QString notABook = QStringLiteral("The file is not a Compiled HTML Help (CHM) book.");
    QTest::newRow("missing") << "missing" << QByteArray() << "The file does not exist.";
    QTest::newRow("no permission") << "unreadable" << QByteArray("ITSF") << "You have no permission to read the file.";
    QTest::newRow("folder") << "folder" << QByteArray() << "This is a folder, not a book.";
    QTest::newRow("empty") << "bytes" << QByteArray() << notABook;
    QTest::newRow("text") << "bytes" << QByteArray("this is a text file named like a book\n") << notABook;
    QTest::newRow("bare signature") << "bytes" << QByteArray("ITSF")
                                    << "The book is damaged: the file ends inside its header.";
    QTest::newRow("header without directory") << "bytes" << QByteArray("ITSF") + QByteArray(0x5c, '\0')
                                              << "The book is damaged: its directory is unreadable.";

    const QByteArray book = buildChmContainer({{"/index.htm", "<p>page</p>"}});
    QTest::newRow("cut inside its directory") << "bytes" << book.left(0x100)
                                              << "The book is damaged: the file is cut short before the end of its directory.";
    QByteArray badDirectory = book;
    badDirectory.replace(badDirectory.indexOf("ITSP"), 4, "XXXX");
    QTest::newRow("bad directory") << "bytes" << badDirectory << "The book is damaged: its directory is unreadable.";
}

// A file that does not open as a book says why: each kind of failure has its own reason.
void TestBookFile::notABook()
{
    QFETCH(QString, kind);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, reason);
    const QString path = m_books.path(QStringLiteral("notabook-%1.chm").arg(QTest::currentDataTag()));
    if (kind == QLatin1String("folder")) {
        QVERIFY(QDir().mkpath(path));
    } else if (kind != QLatin1String("missing")) {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
        f.close();
    }
    // Root reads any file: for the permission case, file access runs as an ordinary user.
    if (kind == QLatin1String("unreadable"))
        QVERIFY(QFile::setPermissions(path, QFile::Permissions()));
    const bool asUser = kind == QLatin1String("unreadable") && ::geteuid() == 0;
    if (asUser)
        ::setfsuid(65534);
    LCHMFile book;
    const bool opened = book.openBook(path);
    if (asUser)
        ::setfsuid(0);
    QVERIFY(!opened);
    QCOMPARE(book.errorString(), reason);
    QVERIFY(book.bookTitle().isEmpty());
}

// /#IVB: a 32-bit byte count, then (context number, offset into /#STRINGS) pairs.
QByteArray contextTable(const QVector<QPair<quint32, quint32>>& pairs, qint64 declared = -1)
{
    QByteArray out;
    appendLe32(out, quint32(declared < 0 ? pairs.size() * 8 : declared));
    for (const auto& [context, offset] : pairs) {
        appendLe32(out, context);
        appendLe32(out, offset);
    }
    return out;
}

void TestBookFile::helpContexts_data()
{
    QTest::addColumn<QString>("book");      // a compiled book, a real one ("shared/"), or empty for `objects`
    QTest::addColumn<Objects>("objects");
    QTest::addColumn<quint32>("context");
    QTest::addColumn<QString>("topic");

    // chmcmd stores each [ALIAS] target as the path of the page on the compiling machine.
    QTest::newRow("chmcmd: decimal") << "contexts.chm" << Objects() << 2u << "/html/dialogs/options.htm";
    QTest::newRow("chmcmd: written in hex") << "contexts.chm" << Objects() << 0x1F4u << "/html/general.htm";
    QTest::newRow("chmcmd: at the root") << "contexts.chm" << Objects() << 1000u << "/index.htm";
    QTest::newRow("chmcmd: unknown number") << "contexts.chm" << Objects() << 3u << "";
    QTest::newRow("real book") << "shared/stepmap-ru.chm" << Objects() << 2u << "/Newtopic2.htm";
    QTest::newRow("real book: mapped to a page it lacks") << "shared/stepmap-ru.chm" << Objects() << 3u << "";

    const QByteArray strings("\0C:\\work\\help\\html\\ui.htm\0/Plain.HTM#part\0/html/missing.htm\0", 60);
    const auto book = [&strings](const QByteArray& table) {
        return Objects{{"/#IVB", table}, {"/#STRINGS", strings}, {"/html/ui.htm", "ui"}, {"/plain.htm", "plain"}};
    };
    const QVector<QPair<quint32, quint32>> pairs{{7, 1}, {8, 26}, {9, 42}, {10, 60}, {11, 4000}};
    QTest::newRow("path of the compiling machine") << "" << book(contextTable(pairs)) << 7u << "/html/ui.htm";
    QTest::newRow("named as stored, fragment kept") << "" << book(contextTable(pairs)) << 8u << "/Plain.HTM#part";
    QTest::newRow("names no object") << "" << book(contextTable(pairs)) << 9u << "";
    QTest::newRow("offset at the end of the strings") << "" << book(contextTable(pairs)) << 10u << "";
    QTest::newRow("offset beyond the strings") << "" << book(contextTable(pairs)) << 11u << "";
    QTest::newRow("count larger than the object") << "" << book(contextTable(pairs, 0x7FFFFFF0)) << 8u << "/Plain.HTM#part";
    QTest::newRow("count shorter than the pairs") << "" << book(contextTable(pairs, 8)) << 8u << "";
    QTest::newRow("last pair cut short") << "" << book(contextTable({{8, 26}}).chopped(4)) << 8u << "";
    QTest::newRow("empty table") << "" << book(contextTable({})) << 7u << "";
    QTest::newRow("table of no bytes") << "" << book(QByteArray()) << 7u << "";
    QTest::newRow("no strings") << "" << Objects{{"/#IVB", contextTable(pairs)}, {"/html/ui.htm", "ui"}} << 7u << "";
}

void TestBookFile::helpContexts()
{
    QFETCH(QString, book);
    QFETCH(Objects, objects);
    QFETCH(quint32, context);
    QFETCH(QString, topic);

    const QString path = book.isEmpty() ? m_books.write(objects)
        : book.startsWith(QLatin1String("shared/")) ? sharedBookPath(book.mid(7)) : testBookPath(book);
    if (path.isEmpty())
        QSKIP("the real books are not here");
    LCHMFile file;
    QVERIFY(file.openBook(path));
    QCOMPARE(file.topicForContext(context), topic);
}

QTEST_GUILESS_MAIN(TestBookFile)
#include "tst_bookfile.moc"
