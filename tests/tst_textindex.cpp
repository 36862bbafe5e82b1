// The reader's own text index: built from the pages of books that have no full-text index or
// one that holds only titles (or no word a reader can type), it must answer words, phrases,
// +word and -word with exactly the pages that hold them. The oracle is a plain scan of the
// pages' HTML (the sources the test books were compiled from, or the pages of a real book).

#include "lchmfile.h"
#include "testbooks.h"
#include "textindex.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

namespace {

using PageSet = QSet<QString>;

// One page as the oracle reads it: its title and body as sequences of folded words, where a
// run of Chinese or Japanese characters counts one word per character.
struct ScannedPage
{
    QStringList title;
    QStringList body;
};

QStringList foldedWords(const QString& text)
{
    static const QRegularExpression breaks(QStringLiteral("[^\\p{L}\\p{N}\\p{M}_]+"),
                                           QRegularExpression::UseUnicodePropertiesOption);
    static const QRegularExpression marks(QStringLiteral("\\p{M}"),
                                          QRegularExpression::UseUnicodePropertiesOption);
    QStringList words;
    for (QString token : text.split(breaks, Qt::SkipEmptyParts)) {
        token = token.normalized(QString::NormalizationForm_D).remove(marks).toLower();
        if (token.isEmpty())
            continue;
        if (token.at(0).unicode() >= 0x2E80) {
            for (QChar c : std::as_const(token))
                words.append(QString(c));
        } else {
            words.append(token);
        }
    }
    return words;
}

ScannedPage scanPage(const QString& html)
{
    static const QRegularExpression hidden(QStringLiteral("<!--.*?-->|<(script|style)\\b.*?</\\1\\s*>"),
                                           QRegularExpression::DotMatchesEverythingOption
                                               | QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression title(QStringLiteral("<title\\b[^>]*>(.*?)</title\\s*>"),
                                          QRegularExpression::DotMatchesEverythingOption
                                              | QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression tags(QStringLiteral("<[^>]*>"));
    static const QRegularExpression entity(QStringLiteral("&(#?\\w+);"));
    static const QHash<QString, QString> names = {{"amp", "&"}, {"lt", "<"}, {"gt", ">"}, {"quot", "\""},
                                                  {"nbsp", " "}, {"eacute", QString(QChar(0xE9))}};
    const auto text = [](QString s) {
        s.replace(tags, QStringLiteral(" "));
        QString out;
        qsizetype from = 0;
        for (auto it = entity.globalMatch(s); it.hasNext();) {
            const QRegularExpressionMatch m = it.next();
            out += QStringView(s).mid(from, m.capturedStart() - from);
            from = m.capturedEnd();
            const QString name = m.captured(1);
            out += name.startsWith(QLatin1Char('#')) ? QString(QChar(name.mid(1).toInt())) : names.value(name);
        }
        return out + s.mid(from);
    };
    QString page = html;
    page.remove(hidden);
    ScannedPage scanned;
    const QRegularExpressionMatch m = title.match(page);
    if (m.hasMatch()) {
        scanned.title = foldedWords(text(m.captured(1)));
        page.remove(m.capturedStart(), m.capturedLength());
    }
    scanned.body = foldedWords(text(page));
    return scanned;
}

bool holdsSequence(const QStringList& words, const QStringList& sequence)
{
    if (sequence.isEmpty())
        return false;
    for (qsizetype i = 0; i + sequence.size() <= words.size(); ++i) {
        if (words.mid(i, sequence.size()) == sequence)
            return true;
    }
    return false;
}

// The pages that answer `query`, found by scanning.
PageSet expectedPages(const QHash<QString, ScannedPage>& pages, const QString& query)
{
    static const QRegularExpression terms(QStringLiteral("\"([^\"]*)\"|(\\S+)"));
    PageSet result;
    bool first = true;
    QStringList excluded;
    for (auto it = terms.globalMatch(query); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        QString term = m.captured(1).isNull() ? m.captured(2) : m.captured(1);
        if (m.captured(1).isNull() && term.startsWith(QLatin1Char('-'))) {
            excluded.append(term.mid(1));
            continue;
        }
        if (term.startsWith(QLatin1Char('+')))
            term.remove(0, 1);
        const QStringList sequence = foldedWords(term);
        PageSet holding;
        for (auto p = pages.cbegin(); p != pages.cend(); ++p) {
            if (holdsSequence(p->title, sequence) || holdsSequence(p->body, sequence))
                holding.insert(p.key());
        }
        result = first ? holding : result.intersect(holding);
        first = false;
    }
    for (const QString& word : std::as_const(excluded)) {
        const QStringList sequence = foldedWords(word);
        for (auto p = pages.cbegin(); p != pages.cend(); ++p) {
            if (holdsSequence(p->title, sequence) || holdsSequence(p->body, sequence))
                result.remove(p.key());
        }
    }
    return result;
}

// The pages of a test book's sources (UTF-8 in the repository), by in-book path.
QHash<QString, ScannedPage> scanSources(const QString& folder)
{
    QHash<QString, ScannedPage> pages;
    const QDir dir(QStringLiteral(PAGEWICK_BOOK_SOURCES "/") + folder);
    QDirIterator it(dir.path(), {QStringLiteral("*.htm")}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QFile file(it.next());
        if (file.open(QIODevice::ReadOnly))
            pages.insert(QLatin1Char('/') + dir.relativeFilePath(file.fileName()),
                         scanPage(QString::fromUtf8(file.readAll())));
    }
    return pages;
}

// The pages of a book read from the book itself (its pages are plain ASCII).
QHash<QString, ScannedPage> scanBookPages(LCHMFile& book)
{
    QHash<QString, ScannedPage> pages;
    for (const QString& path : TextIndex::htmlPages(book)) {
        QByteArray html;
        if (book.readFileBytes(&html, path))
            pages.insert(path, scanPage(QString::fromLatin1(html)));
    }
    return pages;
}

TextIndex buildIndex(LCHMFile& book)
{
    TextIndex index;
    for (const QString& path : TextIndex::htmlPages(book))
        index.addPage(book, path);
    return index;
}

PageSet found(const TextIndex& index, LCHMFile& book, const QString& query)
{
    QStringList results;
    index.search(book, query, &results, 700);
    return PageSet(results.cbegin(), results.cend());
}

QString bookPath(const QString& name)
{
    return QFileInfo::exists(testBookPath(name)) ? testBookPath(name) : sharedBookPath(name);
}

} // namespace

class TestTextIndex : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void pageText_data();
    void pageText();
    void queries_data();
    void queries();
    void bookIndexCoversPages_data();
    void bookIndexCoversPages();
    void cache();
};

void TestTextIndex::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
}

// What the index reads of a page: text only, entities decoded, in the declared charset,
// and never more than its bound however the page is made.
void TestTextIndex::pageText_data()
{
    QTest::addColumn<QByteArray>("html");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("body");   // simplified

    QTest::newRow("tags, entities") << QByteArray("<html><head><title>A &amp; B</title></head>"
                                                  "<body><p>Caf&eacute;&nbsp;&#x41;&#66;<br>one<b>two</b></p></body></html>")
                                    << "A & B" << QString::fromUtf8("Café AB one two");
    QTest::newRow("scripts, styles, comments") << QByteArray("<p>kept<script type=x>if (a<b) hidden()</script>"
                                                             "<STYLE>p{}</STYLE><!-- <p>gone</p> -->too</p>")
                                               << "" << "kept too";
    QTest::newRow("a lone < and & are text") << QByteArray("a < b & c &unknown; d") << ""
                                              << "a < b & c &unknown; d";
    QTest::newRow("unterminated comment") << QByteArray("before<!-- after") << "" << "before";
    QTest::newRow("unterminated script") << QByteArray("before<script>after") << "" << "before";
    QTest::newRow("declared charset") << QByteArray("<meta http-equiv=Content-Type content=\"text/html; charset=windows-1251\">"
                                                    "<title>\xC7\xE8\xEC\xE0</title>")
                                      << QString::fromUtf8("Зима") << "";
    QTest::newRow("names the sitemap knew") << QByteArray("x &minus; &beta;") << "" << QString::fromUtf8("x - β");
    QTest::newRow("numbers beyond Unicode") << QByteArray("&#x110000;&#0;") << "" << QString(2, QChar(0xFFFD));
}

void TestTextIndex::pageText()
{
    QFETCH(QByteArray, html);
    QFETCH(QString, title);
    QFETCH(QString, body);
    LCHMFile none;   // no book: Latin-1 unless the page says otherwise
    const PageText text = TextIndex::pageText(none, html);
    QCOMPARE(text.title, title);
    QCOMPARE(text.body.simplified(), body);
}

// Every query gives exactly the pages that the scan finds, in the book's own script.
void TestTextIndex::queries_data()
{
    QTest::addColumn<QString>("book");
    QTest::addColumn<QString>("sources");   // folder of the book's sources; empty: scan the book
    QTest::addColumn<QString>("query");
    QTest::addColumn<int>("atLeast");        // pages the scan must find, so that rows test something

    const auto row = [](const char* name, const char* book, const char* sources, const QString& query, int atLeast) {
        QTest::newRow(name) << QString::fromLatin1(book) << QString::fromLatin1(sources) << query << atLeast;
    };
    // No full-text index at all.
    row("english: word", "english-noindex.chm", "english", "miller", 1);
    row("english: word on many pages", "english-noindex.chm", "english", "the", 4);
    row("english: accented word", "english-noindex.chm", "english", QString::fromUtf8("CAFÉ"), 1);
    row("english: phrase", "english-noindex.chm", "english", "\"the second chapter\"", 1);
    row("english: phrase across a tag", "english-noindex.chm", "english", "\"a page in a folder\"", 1);
    row("english: +word", "english-noindex.chm", "english", "+chapter +river", 1);
    row("english: -word", "english-noindex.chm", "english", "the -chapter", 1);
    row("english: word in no page", "english-noindex.chm", "english", "xylophone", 0);
    row("english: script text is no text", "english-noindex.chm", "english", "function", 0);
    // chmcmd's index of these books holds no word of their script.
    row("russian: word", "russian.chm", "russian", QString::fromUtf8("Зима"), 1);
    row("russian: capitals fold", "russian.chm", "russian", QString::fromUtf8("РЕКА"), 2);
    row("russian: phrase", "russian.chm", "russian", QString::fromUtf8("\"река выходит из берегов\""), 1);
    row("russian: -word", "russian.chm", "russian", QString::fromUtf8("река -весной"), 1);
    row("japanese: word", "japanese.chm", "japanese", QString::fromUtf8("申請"), 2);
    row("japanese: characters with 0x5C trail bytes", "japanese.chm", "japanese", QString::fromUtf8("表示"), 2);
    row("japanese: -word", "japanese.chm", "japanese", QString::fromUtf8("予定 -構造"), 1);
    row("japanese: phrase", "japanese.chm", "japanese", QString::fromUtf8("\"能力と予定\""), 1);
    // An index of titles only (Free Pascal's chm writer).
    row("fpc: word of the text", "fpc-fpdoc.chm", "", "canneyt", 1);
    row("fpc: phrase", "fpc-fpdoc.chm", "", "\"free pascal\"", 2);
    row("fpc: +word -word", "fpc-fpdoc.chm", "", "+documentation -installation", 1);
}

void TestTextIndex::queries()
{
    QFETCH(QString, book);
    QFETCH(QString, sources);
    QFETCH(QString, query);
    QFETCH(int, atLeast);

    const QString path = bookPath(book);
    if (path.isEmpty())
        QSKIP("the real books are not beside the repository");
    LCHMFile file;
    QVERIFY(file.openBook(path));
    QVERIFY(!TextIndex::bookIndexCoversPages(file));
    const QHash<QString, ScannedPage> pages = sources.isEmpty() ? scanBookPages(file) : scanSources(sources);
    QVERIFY(!pages.isEmpty());

    const PageSet expected = expectedPages(pages, query);
    QVERIFY2(expected.size() >= atLeast, qPrintable(QStringList(expected.cbegin(), expected.cend()).join(' ')));
    const TextIndex index = buildIndex(file);
    QCOMPARE(index.pageCount(), pages.size());
    const PageSet got = found(index, file, query);
    QStringList gotList(got.cbegin(), got.cend()), expectedList(expected.cbegin(), expected.cend());
    gotList.sort();
    expectedList.sort();
    QCOMPARE(gotList, expectedList);

    // Read back from its cache file, whose postings are decoded as queries ask, the index
    // answers the same.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString cache = dir.filePath(QStringLiteral("index.idx"));
    const TextIndex::CacheStamp identity = TextIndex::cacheStampOf(file);
    QVERIFY(index.save(cache, identity));
    TextIndex loaded;
    QVERIFY(loaded.load(cache, identity));
    QCOMPARE(loaded.wordCount(), index.wordCount());
    QCOMPARE(found(loaded, file, query), got);
}

// The reader's index takes over when the book's own index does not hold its pages' words.
void TestTextIndex::bookIndexCoversPages_data()
{
    QTest::addColumn<QString>("book");
    QTest::addColumn<bool>("covers");
    QTest::newRow("chmcmd, English") << "english.chm" << true;
    QTest::newRow("no index") << "english-noindex.chm" << false;
    QTest::newRow("chmcmd, Russian: no Cyrillic word indexed") << "russian.chm" << false;
    QTest::newRow("chmcmd, Japanese: no Japanese word indexed") << "japanese.chm" << false;
    QTest::newRow("Free Pascal: titles only") << "fpc-fpdoc.chm" << false;
    QTest::newRow("Microsoft, English") << "keepass.chm" << true;
    QTest::newRow("Microsoft, Russian") << "filmcollection-ru.chm" << true;
    QTest::newRow("Microsoft, UTF-8 pages in a Russian book") << "stepmap-ru.chm" << false;
    QTest::newRow("Halibut: no index") << "halibut-putty.chm" << false;
}

void TestTextIndex::bookIndexCoversPages()
{
    QFETCH(QString, book);
    QFETCH(bool, covers);
    const QString path = bookPath(book);
    if (path.isEmpty())
        QSKIP("the real books are not beside the repository");
    LCHMFile file;
    QVERIFY(file.openBook(path));
    QCOMPARE(TextIndex::bookIndexCoversPages(file), covers);
}

// The cache answers as the index it was written from; a damaged file, or one written for
// another state of the book, is refused and the job builds the index anew.
void TestTextIndex::cache()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("book.chm"));
    QVERIFY(QFile::copy(testBookPath(QStringLiteral("russian.chm")), path));
    QVERIFY(TextIndex::cacheFile(path).startsWith(QStandardPaths::writableLocation(QStandardPaths::CacheLocation)));
    QFile::remove(TextIndex::cacheFile(path));

    // A page too long for the index is cut at its bound.
    LCHMFile none;
    const PageText longPage = TextIndex::pageText(none, QByteArray("<title>t</title>") + QByteArray(3 << 20, 'a'));
    const qsizetype kept = longPage.title.size() + longPage.body.size();
    QVERIFY(kept <= TextIndex::MaxPageText && kept > TextIndex::MaxPageText - 4);

    LCHMFile book;
    QVERIFY(book.openBook(path));
    const TextIndex built = buildIndex(book);
    const TextIndex::CacheStamp identity = TextIndex::cacheStampOf(book);
    const QString cache = dir.filePath(QStringLiteral("index.idx"));
    QVERIFY(built.save(cache, identity));
    const QString query = QString::fromUtf8("\"река покрыта\" -весной");
    const PageSet expected = found(built, book, query);
    QCOMPARE(expected, PageSet({QStringLiteral("/glava1.htm")}));

    TextIndex loaded;
    QVERIFY(loaded.load(cache, identity));
    QCOMPARE(found(loaded, book, query), expected);
    QCOMPARE(loaded.pageTitle(QStringLiteral("/glava1.htm")), QString::fromUtf8("Глава первая: Зима"));

    TextIndex::CacheStamp changed = identity;
    changed.modified += 1000;
    QVERIFY(!loaded.load(cache, changed));
    QCOMPARE(loaded.pageCount(), 0);

    QFile file(cache);
    QVERIFY(file.open(QIODevice::ReadWrite));
    const QByteArray whole = file.readAll();
    for (const qsizetype at : {qsizetype(8), whole.size() / 2, whole.size() - 1}) {
        QByteArray damaged = whole;
        damaged[at] = char(damaged.at(at) ^ 0x40);
        file.seek(0);
        file.write(damaged);
        file.flush();
        QVERIFY2(!loaded.load(cache, identity), qPrintable(QString::number(at)));
    }
    file.resize(whole.size() / 2);
    file.close();
    QVERIFY(!loaded.load(cache, identity));

    // A job builds the index and caches it; the next one loads it from there.
    TextIndexJob first(path, TextIndex::cacheFile(path));
    first.run();
    QVERIFY(first.isFinished());
    QVERIFY(!first.loadedFromCache());
    TextIndexJob second(path, TextIndex::cacheFile(path));
    second.run();
    QVERIFY(second.loadedFromCache());
    QCOMPARE(second.pagesTotal(), 3);
    QStringList results;
    QVERIFY(second.search(book, query, &results, 700));
    QCOMPARE(results, QStringList{QStringLiteral("/glava1.htm")});
}

QTEST_GUILESS_MAIN(TestTextIndex)
#include "tst_textindex.moc"
