// Full-text search on books whose index was written by real indexers: the test books that
// chmcmd compiles at build time, and real books made by Microsoft's and Free Pascal's
// compilers. The broadest check compares the search with a plain scan of the pages' text.

#include "indexwriter.h"
#include "lchmfile.h"
#include "lchmfileimpl.h"
#include "testbooks.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QMap>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QTextCodec>

namespace {

using TopicSet = QSet<QString>;

TopicSet toSet(const QStringList& list)
{
    return TopicSet(list.cbegin(), list.cend());
}

QString describe(const TopicSet& set)
{
    QStringList list(set.cbegin(), set.cend());
    list.sort();
    return list.join(QLatin1Char(' '));
}

// What a plain scan of a book's pages finds, modelled on chmcmd's indexer as observed on
// books it compiled (probe pages with every kind of token):
// - Text is what lies outside tags, comments, <script> and <style>; attribute values (alt,
//   title, meta content) are not text. The <title> element's words are indexed apart from
//   the body's, so they make a sequence of their own.
// - Entities are not decoded: "&amp;" is the word "amp", "&#233;" the word "233".
// - Words are runs of ASCII letters and digits; every other byte, those above 0x7F
//   included, ends a word. Tags end words too ("one<b>two</b>" is two words).
// - A "." joins into a word only when the word starts with a digit ("3.14", "1.2.3" and
//   even "3." stay whole; "v1.2" is "v1" and "2"). An apostrophe is dropped or kept
//   depending on what follows it ("don't" is "dont", "it's<b>" stays "it's").
// Microsoft's compiler differs in two points: "_" is a word character, and it decodes
// entities and folds accented letters (f&uuml;r is the word "fur"). Its scan turns the
// ASCII entities into their characters and makes every other entity part of an uncertain
// token. In both, a token without letters or digits ("''") is no word and no break.
// The comparison leaves out every word that the scan cannot place with certainty: those
// that come from a token with an apostrophe or an entity, or from a token that starts with
// a digit and holds a "." (their pieces, and the token as written or without apostrophes,
// are all left out). A word is compared by its topics: the pages whose title or body holds it.
class PageScan
{
public:
    explicit PageScan(bool decodesEntities) : m_decodesEntities(decodesEntities) {}

    void addPage(const QString& path, const QByteArray& html)
    {
        static const QRegularExpression comments(QStringLiteral("<!--.*?-->"),
                                                 QRegularExpression::DotMatchesEverythingOption);
        static const QRegularExpression scripts(
            QStringLiteral("<(script|style)\\b.*?</\\1\\s*>"),
            QRegularExpression::DotMatchesEverythingOption | QRegularExpression::CaseInsensitiveOption);
        static const QRegularExpression title(
            QStringLiteral("<title\\b[^>]*>(.*?)</title\\s*>"),
            QRegularExpression::DotMatchesEverythingOption | QRegularExpression::CaseInsensitiveOption);
        static const QRegularExpression tags(QStringLiteral("<[^>]*>"));

        // Latin-1 keeps one character per byte; bytes above 0x7F are never word characters.
        QString text = QString::fromLatin1(html);
        text.remove(comments);
        text.remove(scripts);
        QString titleText;
        const QRegularExpressionMatch m = title.match(text);
        if (m.hasMatch()) {
            titleText = m.captured(1);
            text.remove(m.capturedStart(), m.capturedLength());
        }
        text.replace(tags, QStringLiteral(" "));
        titleText.replace(tags, QStringLiteral(" "));
        if (m_decodesEntities) {
            text = decodeEntities(text);
            titleText = decodeEntities(titleText);
        }

        m_pages.append(path);
        addSequence(path, titleText);
        addSequence(path, text);
    }

    QSet<QString> certainWords() const
    {
        QSet<QString> words;
        for (auto it = m_topics.cbegin(); it != m_topics.cend(); ++it) {
            if (!m_uncertain.contains(it.key()))
                words.insert(it.key());
        }
        return words;
    }
    TopicSet topicsOf(const QString& word) const { return m_topics.value(word); }

    // Adjacent pairs of certain words, with the pages that hold them.
    QMap<QString, TopicSet> pairs() const
    {
        QMap<QString, TopicSet> result;
        for (auto it = m_pairs.cbegin(); it != m_pairs.cend(); ++it) {
            const QStringList words = it.key().split(QLatin1Char(' '));
            if (!m_uncertain.contains(words.at(0)) && !m_uncertain.contains(words.at(1)))
                result.insert(it.key(), it.value());
        }
        return result;
    }
    const QStringList& pages() const { return m_pages; }
    // The part of a search result that lies among the scanned pages.
    TopicSet scanned(const QStringList& results) const
    {
        const TopicSet pages(m_pages.cbegin(), m_pages.cend());
        return toSet(results).intersect(pages);
    }

private:
    // ASCII entities become their characters; any other becomes a character that the
    // tokens take in and that makes them uncertain.
    static QString decodeEntities(const QString& text)
    {
        static const QRegularExpression entity(QStringLiteral("&(#?\\w+);"));
        static const QHash<QString, QString> ascii = {
            {"amp", "&"}, {"lt", "<"}, {"gt", ">"}, {"quot", "\""}, {"apos", "'"}, {"nbsp", " "}};
        QString out;
        qsizetype from = 0;
        for (auto it = entity.globalMatch(text); it.hasNext();) {
            const QRegularExpressionMatch m = it.next();
            out += QStringView(text).mid(from, m.capturedStart() - from);
            from = m.capturedEnd();
            const QString name = m.captured(1);
            bool numeric = false;
            const int code = name.startsWith(QLatin1Char('#')) ? name.mid(1).toInt(&numeric) : -1;
            if (ascii.contains(name))
                out += ascii.value(name);
            else if (numeric && code > 0 && code < 0x80)
                out += QChar(code);
            else
                out += kUncertainMark;
        }
        out += QStringView(text).mid(from);
        return out;
    }

    void addSequence(const QString& path, const QString& text)
    {
        static const QRegularExpression chmcmdTokens(QStringLiteral("[A-Za-z0-9'.\\x{1}]+"));
        static const QRegularExpression microsoftTokens(QStringLiteral("[A-Za-z0-9_'.\\x{1}]+"));
        static const QRegularExpression notAlnum(QStringLiteral("[^A-Za-z0-9]+"));
        static const QRegularExpression alnum(QStringLiteral("[A-Za-z0-9]"));
        const QRegularExpression& tokens = m_decodesEntities ? microsoftTokens : chmcmdTokens;
        QString previous;   // empty after anything that breaks a phrase
        for (auto it = tokens.globalMatch(text); it.hasNext();) {
            const QString token = it.next().captured().toLower();
            if (!token.contains(alnum)) {
                if (token.contains(QLatin1Char('_')))
                    previous.clear();   // Microsoft's indexer may count "_" as a word
                continue;
            }
            const bool digitStart = token.at(0).isDigit();
            if (token.contains(QLatin1Char('\'')) || token.contains(kUncertainMark)
                || (digitStart && token.contains(QLatin1Char('.')))) {
                for (const QString& piece : token.split(notAlnum, Qt::SkipEmptyParts))
                    m_uncertain.insert(piece);
                m_uncertain.insert(token);
                m_uncertain.insert(QString(token).remove(QLatin1Char('\'')));
                previous.clear();
                continue;
            }
            for (const QString& word : token.split(QLatin1Char('.'), Qt::SkipEmptyParts)) {
                m_topics[word].insert(path);
                if (!previous.isEmpty())
                    m_pairs[previous + QLatin1Char(' ') + word].insert(path);
                previous = word;
            }
        }
    }

    static constexpr QChar kUncertainMark = QChar(1);
    bool m_decodesEntities;
    QStringList m_pages;
    QHash<QString, TopicSet> m_topics;
    QMap<QString, TopicSet> m_pairs;
    QSet<QString> m_uncertain;
};

// Scans every pageStep-th page of the book.
bool scanBook(LCHMFile& file, PageScan* scan, int pageStep)
{
    QStringList files;
    if (!file.listFiles(&files))
        return false;
    int index = 0;
    for (const QString& path : std::as_const(files)) {
        if (!path.endsWith(QLatin1String(".htm"), Qt::CaseInsensitive)
            && !path.endsWith(QLatin1String(".html"), Qt::CaseInsensitive))
            continue;
        if (index++ % pageStep)
            continue;
        QByteArray html;
        if (file.readFileBytes(&html, path))
            scan->addPage(path, html);
    }
    return true;
}

// In the expectation column: any non-empty result will do.
const QStringList kSomeTopics{QStringLiteral("*")};

// A book given by where it comes from: a test book compiled at build time, or a real book
// beside the repository (empty when that folder is absent).
QString bookPath(const QString& name)
{
    if (name.startsWith(QLatin1String("shared:")))
        return sharedBookPath(name.mid(7));
    if (name == QLatin1String("big.chm")) {
        // The benchmarks' book of 20,000 topics, when the big_book target has been built.
        const QString big = QDir(testBookPath(QStringLiteral("."))).filePath(QStringLiteral("../../bench/big.chm"));
        return QFileInfo::exists(big) ? QDir::cleanPath(big) : QString();
    }
    return testBookPath(name);
}

const char* missingReason(const QString& book)
{
    return book == QLatin1String("big.chm") ? "the big book is built by the big_book target"
                                            : "the real books are not beside the repository";
}

// Every step-th item of a list, so that at most `most` remain.
template <typename List>
List sample(const List& list, int most)
{
    const qsizetype step = std::max<qsizetype>(1, (list.size() + most - 1) / most);
    List out;
    qsizetype i = 0;
    for (auto it = list.cbegin(); it != list.cend(); ++it, ++i) {
        if (i % step == 0)
            out.insert(out.cend(), *it);
    }
    return out;
}

} // namespace

class TestSearch : public QObject
{
    Q_OBJECT

private slots:
    void words_data();
    void words();
    void resultsAreAppended();
    void limitOnRealIndex();
    void limitOnBigBook();
    void scanAgreesWithIndex_data();
    void scanAgreesWithIndex();
    void phrasesAgreeWithScan_data();
    void phrasesAgreeWithScan();
    void bookInItsScript_data();
    void bookInItsScript();
};

void TestSearch::words_data()
{
    QTest::addColumn<QString>("book");
    QTest::addColumn<QString>("query");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QStringList>("expected");   // as a set

    const QString english = QStringLiteral("english.chm");
    QTest::newRow("word in three topics") << english << "nebula" << true
                                          << QStringList{"/index.htm", "/intro.htm", "/sub/other.htm"};
    QTest::newRow("capitals") << english << "NeBuLa" << true
                              << QStringList{"/index.htm", "/intro.htm", "/sub/other.htm"};
    QTest::newRow("whole words only") << english << "mill" << true
                                      << QStringList{"/chapter1.htm", "/chapter2.htm"};
    QTest::newRow("longer word") << english << "miller" << true << QStringList{"/chapter1.htm"};
    QTest::newRow("prefix is no word") << english << "mil" << false << QStringList();
    QTest::newRow("absent word") << english << "zebra" << false << QStringList();
    QTest::newRow("title and body alike") << english << "chapter" << true
                                          << QStringList{"/index.htm", "/chapter1.htm", "/chapter2.htm"};
    QTest::newRow("title word with body hits") << english << "introduction" << true
                                               << QStringList{"/index.htm", "/intro.htm", "/sub/page.htm"};
    QTest::newRow("title only") << english << "welcome" << true << QStringList{"/index.htm"};
    QTest::newRow("two words") << english << "nebula quasar" << true << QStringList{"/intro.htm"};
    QTest::newRow("minus word") << english << "nebula -quasar" << true
                                << QStringList{"/index.htm", "/sub/other.htm"};
    QTest::newRow("plus words") << english << "+nebula +quasar" << true << QStringList{"/intro.htm"};
    QTest::newRow("only minus words") << english << "-nebula -quasar" << true << QStringList();
    QTest::newRow("one word missing") << english << "nebula zebra" << false << QStringList();
    QTest::newRow("phrase") << english << "\"quick brown\"" << true << QStringList{"/intro.htm"};
    QTest::newRow("phrase reversed") << english << "\"brown quick\"" << true << QStringList{"/sub/other.htm"};
    QTest::newRow("phrase crosses tags") << english << "\"the second chapter\"" << true
                                         << QStringList{"/chapter1.htm", "/chapter2.htm"};
    QTest::newRow("phrase of words in different topics") << english << "\"galaxy nebula\"" << false
                                                         << QStringList();
    QTest::newRow("phrase does not run from title to body") << english << "\"welcome welcome\"" << false
                                                            << QStringList();
    QTest::newRow("phrase in a title") << english << "\"another page\"" << true
                                       << QStringList{"/sub/other.htm"};
    QTest::newRow("phrase and minus word") << english << "\"the start page\" -nebula" << true
                                           << QStringList{"/cafe.htm", "/sub/page.htm", "/sub/deep/leaf.htm"};

    // chmcmd breaks words at every byte above 0x7F: the Russian pages give no Russian words.
    QTest::newRow("chmcmd, Cyrillic word") << "russian.chm" << QString::fromUtf8("Зима") << false << QStringList();

    // Microsoft's compiler folds accents and case the same way as the search.
    const QString keepass = QStringLiteral("shared:keepass.chm");
    QTest::newRow("MS, word") << keepass << "password" << true << kSomeTopics;
    QTest::newRow("MS, umlaut") << keepass << QString::fromUtf8("Für") << true
                                << QStringList{"/help/base/disclaimer.html"};
    QTest::newRow("MS, umlaut in capitals") << keepass << QString::fromUtf8("MÖGLICH") << true
                                            << QStringList{"/help/base/disclaimer.html"};
    QTest::newRow("MS, folded form typed") << keepass << "moglich" << true
                                           << QStringList{"/help/base/disclaimer.html"};
    QTest::newRow("MS, Russian word") << "shared:filmcollection-ru.chm" << QString::fromUtf8("Фильм") << true
                                      << QStringList{"/editFilm.htm"};
    QTest::newRow("MS, Korean word") << "shared:autohotkey-ko.chm" << QString::fromUtf8("호환성") << true << kSomeTopics;
    QTest::newRow("MS, Korean phrase") << "shared:autohotkey-ko.chm" << QString::fromUtf8("\"스크립트 호환성\"")
                                       << true << kSomeTopics;
    QTest::newRow("MS, ASCII word in a Chinese book") << "shared:7zip-zh-cn.chm" << "archive" << true << kSomeTopics;
}

void TestSearch::words()
{
    QFETCH(QString, book);
    QFETCH(QString, query);
    QFETCH(bool, ok);
    QFETCH(QStringList, expected);
    const QString path = bookPath(book);
    if (path.isEmpty())
        QSKIP(missingReason(book));

    LCHMFile file;
    QVERIFY(file.openBook(path));
    QStringList results;
    QCOMPARE(file.fullTextSearch(query, &results, 700), ok);
    if (expected == kSomeTopics) {
        QVERIFY(!results.isEmpty());
        return;
    }
    QCOMPARE(results.size(), toSet(results).size());
    QCOMPARE(describe(toSet(results)), describe(toSet(expected)));
}

void TestSearch::resultsAreAppended()
{
    LCHMFile file;
    QVERIFY(file.openBook(testBookPath(QStringLiteral("english.chm"))));
    QStringList results{QStringLiteral("/kept.htm")};
    QVERIFY(file.fullTextSearch(QStringLiteral("miller"), &results, 700));
    QVERIFY(file.fullTextSearch(QStringLiteral("galaxy"), &results, 700));
    QVERIFY(!file.fullTextSearch(QStringLiteral("zebra"), &results, 700));
    QCOMPARE(results, (QStringList{"/kept.htm", "/chapter1.htm", "/sub/page.htm"}));
}

void TestSearch::limitOnRealIndex()
{
    // "the" is in every page of the book; a limit cuts the list, in topic order.
    LCHMFile file;
    QVERIFY(file.openBook(testBookPath(QStringLiteral("english.chm"))));
    QStringList all;
    QVERIFY(file.fullTextSearch(QStringLiteral("the"), &all, 700));
    QVERIFY(all.size() >= 5);
    QStringList some{QStringLiteral("/kept.htm")};
    QVERIFY(file.fullTextSearch(QStringLiteral("the"), &some, 3));
    QCOMPARE(some, QStringList{QStringLiteral("/kept.htm")} + all.mid(0, 3));
}

void TestSearch::limitOnBigBook()
{
    const QString path = bookPath(QStringLiteral("big.chm"));
    if (path.isEmpty())
        QSKIP("the big book is built by the big_book target");
    LCHMFile file;
    QVERIFY(file.openBook(path));

    // "omnibus" is on all 20,000 pages: 700 paths, each once, in topic order.
    QStringList results{QStringLiteral("/kept.htm")};
    QVERIFY(file.fullTextSearch(QStringLiteral("omnibus"), &results, 700));
    QCOMPARE(results.size(), 701);
    QCOMPARE(toSet(results).size(), 701);
    QStringList counted;
    QVERIFY(file.fullTextSearch(QStringLiteral("omnibus"), &counted, 1 << 30));
    QCOMPARE(counted.size(), 20000);
    QCOMPARE(results.mid(1), counted.mid(0, 700));

    const QVector<QPair<QString, int>> known = {
        {"zeitgeist", 100}, {"quixotic", 3}, {"xylograph", 1}, {"\"every age has its zeitgeist\"", 100},
        {"omnibus -zeitgeist", 700}, {"quixotic -omnibus", 0}};
    for (const auto& [query, count] : known) {
        QStringList found;
        QVERIFY2(file.fullTextSearch(query, &found, 700), qPrintable(query));
        QCOMPARE(found.size(), count);
    }
}

void TestSearch::scanAgreesWithIndex_data()
{
    QTest::addColumn<QString>("book");
    QTest::addColumn<int>("minimumWords");
    QTest::addColumn<bool>("decodesEntities");
    QTest::addColumn<int>("pageStep");   // scan every pageStep-th page; compare on those
    QTest::addColumn<int>("most");       // words, and pairs, compared at most

    QTest::newRow("english.chm (chmcmd)") << "english.chm" << 150 << false << 1 << 3000;
    QTest::newRow("fpc-toc.chm (Free Pascal)") << "shared:fpc-toc.chm" << 15 << false << 1 << 3000;
    QTest::newRow("keepass.chm (Microsoft)") << "shared:keepass.chm" << 2500 << true << 1 << 3000;
    QTest::newRow("big.chm (chmcmd, 20,000 topics)") << "big.chm" << 2000 << false << 97 << 80;
}

void TestSearch::scanAgreesWithIndex()
{
    QFETCH(QString, book);
    QFETCH(int, minimumWords);
    QFETCH(bool, decodesEntities);
    QFETCH(int, pageStep);
    QFETCH(int, most);
    const QString path = bookPath(book);
    if (path.isEmpty())
        QSKIP(missingReason(book));

    LCHMFile file;
    QVERIFY(file.openBook(path));
    PageScan scan(decodesEntities);
    QVERIFY(scanBook(file, &scan, pageStep));
    QVERIFY(!scan.pages().isEmpty());

    // Every word of the book, each searched on its own: the topics must be those of the scan.
    QStringList words(scan.certainWords().cbegin(), scan.certainWords().cend());
    words.sort();
    QVERIFY2(words.size() >= minimumWords, qPrintable(QString::number(words.size())));
    words = sample(words, most);
    QStringList mismatches;
    for (const QString& word : std::as_const(words)) {
        QStringList results;
        const bool ok = file.fullTextSearch(word, &results, 1 << 30);
        const TopicSet found = scan.scanned(results);
        if (!ok || found != scan.topicsOf(word) || toSet(results).size() != results.size())
            mismatches << QStringLiteral("%1: index {%2} scan {%3}")
                              .arg(word, describe(found), describe(scan.topicsOf(word)));
    }
    QVERIFY2(mismatches.isEmpty(),
             qPrintable(QStringLiteral("%1 of %2 words differ:\n").arg(mismatches.size()).arg(words.size())
                        + mismatches.mid(0, 20).join(QLatin1Char('\n'))));
}

void TestSearch::phrasesAgreeWithScan_data()
{
    scanAgreesWithIndex_data();
}

void TestSearch::phrasesAgreeWithScan()
{
    QFETCH(QString, book);
    QFETCH(bool, decodesEntities);
    QFETCH(int, pageStep);
    QFETCH(int, most);
    const QString path = bookPath(book);
    if (path.isEmpty())
        QSKIP(missingReason(book));

    LCHMFile file;
    QVERIFY(file.openBook(path));
    PageScan scan(decodesEntities);
    QVERIFY(scanBook(file, &scan, pageStep));

    // Every pair of words that follow each other somewhere (or an even sample of them), as a
    // quoted phrase: the topics must be those where the scan saw the pair.
    const QMap<QString, TopicSet> pairs = scan.pairs();
    QVERIFY(pairs.size() >= 10);
    const qsizetype step = std::max<qsizetype>(1, (pairs.size() + most - 1) / most);
    QStringList mismatches;
    int compared = 0;
    qsizetype index = 0;
    for (auto it = pairs.cbegin(); it != pairs.cend(); ++it, ++index) {
        if (index % step)
            continue;
        ++compared;
        QStringList results;
        const bool ok = file.fullTextSearch(QLatin1Char('"') + it.key() + QLatin1Char('"'), &results, 1 << 30);
        if (!ok || scan.scanned(results) != it.value())
            mismatches << QStringLiteral("\"%1\": index {%2} scan {%3}")
                              .arg(it.key(), describe(scan.scanned(results)), describe(it.value()));
    }
    QVERIFY2(mismatches.isEmpty(),
             qPrintable(QStringLiteral("%1 of %2 phrases differ:\n").arg(mismatches.size()).arg(compared)
                        + mismatches.mid(0, 20).join(QLatin1Char('\n'))));
}

// Books compiled in the Windows code page of their language (the sources are UTF-8 and are
// converted when the books are built): title, contents and topic titles must read exactly as
// written. chmcmd indexes none of these scripts, so the search runs on a copy of each book
// with an index of one word per character in the book's code page, as such books carry.
void TestSearch::bookInItsScript_data()
{
    QTest::addColumn<QString>("book");
    QTest::addColumn<QByteArray>("codePage");   // for the index of the copy
    QTest::addColumn<QString>("title");
    QTest::addColumn<QStringList>("contents");
    QTest::addColumn<QStringList>("topicTitles");   // of /index.htm and /second.htm
    QTest::addColumn<QString>("query");
    QTest::addColumn<QStringList>("found");

    const auto u = [](const char* text) { return QString::fromUtf8(text); };
    const auto list = [](std::initializer_list<const char*> texts) {
        QStringList out;
        for (const char* text : texts)
            out << QString::fromUtf8(text);
        return out;
    };
    // 構 (8D 5C), 表 (95 5C), ソ (83 5C), 申 (90 5C) and ポ (83 7C) end in "\" or "|".
    QTest::newRow("Japanese, 932") << "japanese.chm" << QByteArray("windows-31j") << u("ソフトの表示と構造")
                                   << list({"表示の予定", "構造と能力", "ポイント申請"})
                                   << list({"表示の予定", "ポイント申請"}) << u("構造") << QStringList{"/index.htm"};
    // 功 (A5 5C) and 許 (B3 5C) end in "\".
    QTest::newRow("Chinese, Taiwan, 950") << "chinese-tw.chm" << QByteArray("Big5") << u("功能說明書")
                                          << list({"許可與功能", "說明", "搜尋檔案"})
                                          << list({"許可與功能", "搜尋檔案"}) << u("功能說明")
                                          << QStringList{"/index.htm"};
    // 똠 is in code page 949 only, not in EUC-KR.
    QTest::newRow("Korean, 949") << "korean.chm" << QByteArray("windows-949") << u("도움말 파일")
                                 << list({"시작 페이지", "기능", "검색 기능"}) << list({"시작 페이지", "검색 기능"})
                                 << u("똠방") << QStringList{"/second.htm"};
    QTest::newRow("Chinese, PRC, GBK") << "chinese-cn.chm" << QByteArray("GBK") << u("帮助文件")
                                       << list({"欢迎使用", "功能", "搜索功能"}) << list({"欢迎使用", "搜索功能"})
                                       << u("查找") << QStringList{"/second.htm"};
}

void TestSearch::bookInItsScript()
{
    QFETCH(QString, book);
    QFETCH(QByteArray, codePage);
    QFETCH(QString, title);
    QFETCH(QStringList, contents);
    QFETCH(QStringList, topicTitles);
    QFETCH(QString, query);
    QFETCH(QStringList, found);

    LCHMFile file;
    QVERIFY(file.openBook(testBookPath(book)));
    QCOMPARE(file.bookTitle(), title);
    QVector<LCHMParsedEntry> entries;
    QVERIFY(file.parseContents(&entries));
    QStringList names;
    for (const LCHMParsedEntry& entry : std::as_const(entries))
        names << entry.name;
    QCOMPARE(names, contents);
    QCOMPARE(QStringList({file.topicTitleForUrl(QStringLiteral("/index.htm")),
                          file.topicTitleForUrl(QStringLiteral("/second.htm"))}),
             topicTitles);
    file.closeBook();

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString indexed = dir.filePath(book);
    QVERIFY(rebuildWithCharacterIndex(testBookPath(book), indexed, QTextCodec::codecForName(codePage)));
    QVERIFY(file.openBook(indexed));
    QVERIFY(file.hasSearchWords());
    QStringList results;
    QVERIFY(file.fullTextSearch(query, &results, 700));
    QCOMPARE(results, found);
}

QTEST_GUILESS_MAIN(TestSearch)
#include "tst_search.moc"
