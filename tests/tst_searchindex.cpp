// The full-text index reader and query evaluation against indexes written by the test itself:
// the integer codings (with the container's), word trees of several depths, the query language, the result limit,
// accent folding, and damaged indexes that must give "not found" without crashing or hanging.

#include "bytereader.h"
#include "chmwriter.h"
#include "indexwriter.h"
#include "lchmfile.h"
#include "lchmfileimpl.h"

#include <QElapsedTimer>
#include <QMap>
#include <QTemporaryDir>
#include <QTest>
#include <QTextCodec>

#include <algorithm>

namespace {

// ---------------------------------------------------------------------------------------
// A book around an index: topic i is "/t<i>.htm", its /#URLSTR entry is found through
// /#TOPICS and /#URLTBL just as in a compiled book.

struct BookShape
{
    int topicCount = 8;
    quint16 lcid = 0x409;
    QHash<int, int> sameUrlAs;   // topic -> earlier topic whose table entry it shares
};

QVector<ChmWriterObject> bookObjects(const BookShape& book, const QByteArray& fifti)
{
    QByteArray topics, urltbl, urlstr, strings;
    strings.append('\0');
    urlstr.append('\0');
    for (int i = 0; i < book.topicCount; ++i) {
        const quint32 titleOffset = quint32(strings.size());
        strings += "Topic " + QByteArray::number(i) + '\0';
        appendLe32(urltbl, quint32(0x1000 + i));   // an id
        appendLe32(urltbl, quint32(i));            // the topic
        appendLe32(urltbl, quint32(urlstr.size()));
        appendLe32(urlstr, 0);
        appendLe32(urlstr, 0);
        urlstr += "t" + QByteArray::number(i) + ".htm" + '\0';

        const int tableEntry = book.sameUrlAs.value(i, i);
        appendLe32(topics, 0);
        appendLe32(topics, titleOffset);
        appendLe32(topics, quint32(tableEntry * 12));
        appendLe32(topics, 6);
    }

    QByteArray system;
    appendLe32(system, 3);   // version
    appendLe16(system, 4);   // language record
    appendLe16(system, 28);
    appendLe32(system, book.lcid);
    system.append(QByteArray(24, '\0'));
    appendLe16(system, 3);   // title
    appendLe16(system, 12);
    system.append("Index book\0\0", 12);

    QVector<ChmWriterObject> objects = {
        {"/#SYSTEM", system},   {"/#TOPICS", topics}, {"/#URLTBL", urltbl},
        {"/#URLSTR", urlstr},   {"/#STRINGS", strings},
        {"/t0.htm", "<html><body>page</body></html>"},
    };
    if (!fifti.isNull())
        objects.append({"/$FIftiMain", fifti});
    return objects;
}

QVector<Posting> onTopics(std::initializer_list<int> topics)
{
    QVector<Posting> postings;
    for (int t : topics)
        postings.append(Posting{t, {0}});
    return postings;
}

QStringList paths(std::initializer_list<int> topics)
{
    QStringList out;
    for (int t : topics)
        out << QStringLiteral("/t%1.htm").arg(t);
    return out;
}

// The words of the query tests. Location codes are positions in the topic's text.
IndexShape queryIndex()
{
    IndexShape shape;
    shape.words["apple"] = {{0, {1, 7}}, {2, {4}}, {3, {9}}, {5, {0}}};
    shape.words["red"] = {{0, {0}}, {2, {9}}, {3, {8}}, {5, {3}}};
    shape.words["ripe"] = {{0, {5}}, {3, {10}}};
    shape.words["banana"] = {{2, {1}}, {4, {0}}};
    shape.words["cherry"] = {{1, {0}}};
    shape.words["date"] = {{4, {1}}};
    shape.words["green"] = {{3, {0}}, {6, {5}}};
    shape.words["tree"] = {{3, {1}}, {7, {6}}};
    shape.words["dont"] = {{6, {0}}};
    shape.words["v1.2"] = {{7, {0}}};
    shape.words["ab"] = {{1, {3}}};
    shape.words["nowhere"] = {};   // known to the index, listed in no topic
    return shape;
}

} // namespace

class TestSearchIndex : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void variableLengthNumbers_data();
    void variableLengthNumbers();
    void littleEndianBounds_data();
    void littleEndianBounds();
    void readScaleRootInt_data();
    void readScaleRootInt();
    void scaleRootRoundTrip();
    void cleanSearchWord_data();
    void cleanSearchWord();

    void treeWalk_data();
    void treeWalk();
    void query_data();
    void query();
    void phraseLocations();
    void sharedTopicGivesOnePath();
    void limit_data();
    void limit();
    void folding_data();
    void folding();
    void noIndex();
    void indexHoldsWords_data();
    void indexHoldsWords();
    void titleAndBodyEntries_data();
    void titleAndBodyEntries();
    void ideographicBook_data();
    void ideographicBook();

    void damagedIndex_data();
    void damagedIndex();

private:
    // Writes a book around `fifti` and opens it; the file lives as long as the test dir.
    bool openBook(LCHMFile& file, const QByteArray& fifti, const BookShape& book = {});
    // The same book's path; empty when it could not be written.
    QString writeBook(const QByteArray& fifti, const BookShape& book = {});

    QTemporaryDir m_dir;
    int m_books = 0;
};

void TestSearchIndex::initTestCase()
{
    QVERIFY(m_dir.isValid());
}

QString TestSearchIndex::writeBook(const QByteArray& fifti, const BookShape& book)
{
    const QString path = m_dir.filePath(QStringLiteral("book%1.chm").arg(++m_books));
    return writeChmContainer(path, bookObjects(book, fifti)) ? path : QString();
}

bool TestSearchIndex::openBook(LCHMFile& file, const QByteArray& fifti, const BookShape& book)
{
    const QString path = writeBook(fifti, book);
    return !path.isEmpty() && file.openBook(path);
}

// Both variable-length codings read every row: the index's (low group first, 32 bits) and
// the container directory's (high group first, 64 bits). A number that does not fit, or is
// longer than its width needs, is refused by both, never cut to its low bits.
void TestSearchIndex::variableLengthNumbers_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("varintOk");
    QTest::addColumn<quint32>("varint");
    QTest::addColumn<bool>("encIntOk");
    QTest::addColumn<quint64>("encInt");
    QTest::addColumn<int>("used");   // by each reader that accepts the number

    const auto hex = [](const char* h) { return QByteArray::fromHex(h); };
    QTest::newRow("two bytes") << hex("8501") << true << 133u << true << quint64(641) << 2;
    QTest::newRow("one byte") << hex("7f") << true << 127u << true << quint64(127) << 1;
    QTest::newRow("zero") << hex("00") << true << 0u << true << quint64(0) << 1;
    QTest::newRow("stops at the first byte without the high bit") << hex("0185") << true << 1u << true
                                                                   << quint64(1) << 1;
    QTest::newRow("32 bits") << hex("ffffffff0f") << true << 0xFFFFFFFFu << true << quint64(0x7FFFFFF8F) << 5;
    QTest::newRow("33 bits") << hex("8080808010") << false << 0u << true << quint64(16) << 5;
    QTest::newRow("eight bytes") << hex("8080808080808001") << false << 0u << true << quint64(1) << 8;
    QTest::newRow("64 bits") << hex("81ffffffffffffffff7f") << false << 0u << true << ~quint64(0) << 10;
    QTest::newRow("65 bits") << hex("82ffffffffffffffff7f") << false << 0u << false << quint64(0) << 0;
    QTest::newRow("eleven bytes") << hex("8080808080808080808001") << false << 0u << false << quint64(0) << 0;
    QTest::newRow("ends inside the number") << hex("8585") << false << 0u << false << quint64(0) << 0;
    QTest::newRow("no bytes") << QByteArray() << false << 0u << false << quint64(0) << 0;
}

void TestSearchIndex::variableLengthNumbers()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, varintOk);
    QFETCH(quint32, varint);
    QFETCH(bool, encIntOk);
    QFETCH(quint64, encInt);
    QFETCH(int, used);

    const auto* u = reinterpret_cast<const uchar*>(bytes.constData());
    const uchar* p = u;
    quint32 v = 0;
    QCOMPARE(ByteReader::readVarint32(p, u + bytes.size(), &v), varintOk);
    if (varintOk) {
        QCOMPARE(v, varint);
        QCOMPARE(int(p - u), used);
        QByteArray written;
        ByteReader::appendVarint32(&written, v);
        QCOMPARE(written, bytes.left(used));
    }

    const char* q = bytes.constData();
    quint64 e = 0;
    QCOMPARE(ByteReader::readEncInt(q, bytes.constData() + bytes.size(), &e), encIntOk);
    if (encIntOk) {
        QCOMPARE(e, encInt);
        QCOMPARE(int(q - bytes.constData()), used);
    }
}

void TestSearchIndex::littleEndianBounds_data()
{
    QTest::addColumn<quint64>("at");
    QTest::addColumn<int>("width");   // bytes
    QTest::addColumn<bool>("ok");
    QTest::addColumn<quint64>("value");

    QTest::newRow("16 at the start") << quint64(0) << 2 << true << quint64(0x0201);
    QTest::newRow("32 ending at the end") << quint64(4) << 4 << true << quint64(0x08070605);
    QTest::newRow("64 whole") << quint64(0) << 8 << true << quint64(0x0807060504030201);
    QTest::newRow("32 one byte past the end") << quint64(5) << 4 << false << quint64(0);
    QTest::newRow("16 at the end") << quint64(8) << 2 << false << quint64(0);
    QTest::newRow("offset that wraps around") << ~quint64(0) - 1 << 4 << false << quint64(0);
}

void TestSearchIndex::littleEndianBounds()
{
    QFETCH(quint64, at);
    QFETCH(int, width);
    QFETCH(bool, ok);
    QFETCH(quint64, value);

    const QByteArray data = QByteArray::fromHex("0102030405060708");
    bool read = true;
    const quint64 got = width == 2 ? ByteReader::le16(data, at, &read)
        : width == 4 ? ByteReader::le32(data, at, &read) : ByteReader::le64(data, at, &read);
    QCOMPARE(read, ok);
    QCOMPARE(got, value);

    ByteReader::ByteCursor cursor(QByteArrayView(data).sliced(qsizetype(std::min<quint64>(at, 8))));
    const quint64 walked = width == 2 ? cursor.u16() : width == 4 ? cursor.u32() : cursor.u64();
    QCOMPARE(cursor.ok(), ok);
    QCOMPARE(walked, value);
}

void TestSearchIndex::readScaleRootInt_data()
{
    QTest::addColumn<QString>("bits");   // the stream, most significant bit first
    QTest::addColumn<int>("scale");
    QTest::addColumn<int>("root");
    QTest::addColumn<int>("startBit");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<quint64>("value");
    QTest::addColumn<int>("consumed");   // bits

    QTest::newRow("p 0: 0 11") << "011" << 2 << 2 << 7 << true << quint64(3) << 3;
    QTest::newRow("p 1: 10 01") << "1001" << 2 << 2 << 7 << true << quint64(5) << 4;
    QTest::newRow("p 2: 110 101") << "110101" << 2 << 2 << 7 << true << quint64(13) << 6;
    QTest::newRow("root 0, zero width") << "0" << 2 << 0 << 7 << true << quint64(0) << 1;
    QTest::newRow("root 0, p 1") << "10" << 2 << 0 << 7 << true << quint64(1) << 2;
    QTest::newRow("crosses a byte") << "1111111110" "11111111" << 2 << 0 << 0 << true
                                    << quint64(0x1FF) << 18;
    QTest::newRow("starts inside a byte") << "011" << 2 << 2 << 4 << true << quint64(3) << 3;
    QTest::newRow("stream ends in the prefix") << "11111111" << 2 << 2 << 7 << false << ~quint64(0) << -1;
    QTest::newRow("stream ends in the value") << "11111110" << 2 << 2 << 7 << false << ~quint64(0) << -1;
    QTest::newRow("scale 3") << "011" << 3 << 2 << 7 << false << ~quint64(0) << 0;
    QTest::newRow("bit position 8") << "011" << 2 << 2 << 8 << false << ~quint64(0) << 0;
    QTest::newRow("wider than 63 bits") << QString(70, QLatin1Char('1')) + "0" + QString(80, QLatin1Char('0'))
                                        << 2 << 2 << 7 << false << ~quint64(0) << -1;
    QTest::newRow("root 200") << "0" + QString(210, QLatin1Char('0')) << 2 << 200 << 7 << false
                              << ~quint64(0) << -1;
}

void TestSearchIndex::readScaleRootInt()
{
    QFETCH(QString, bits);
    QFETCH(int, scale);
    QFETCH(int, root);
    QFETCH(int, startBit);
    QFETCH(bool, ok);
    QFETCH(quint64, value);
    QFETCH(int, consumed);

    // The stream begins at `startBit` of byte 0: the bits above it are ones, to be ignored.
    const int lead = startBit <= 7 ? 7 - startBit : 0;
    const QString stream = QString(lead, QLatin1Char('1')) + bits;
    QByteArray bytes((stream.size() + 7) / 8, '\0');
    for (int i = 0; i < stream.size(); ++i) {
        if (stream.at(i) == QLatin1Char('1'))
            bytes[i / 8] = char(uchar(bytes[i / 8]) | (0x80 >> (i % 8)));
    }

    LCHMFileImpl::BitCursor cursor;
    cursor.data = reinterpret_cast<const unsigned char*>(bytes.constData());
    cursor.size = size_t(bytes.size());
    cursor.bit = startBit;
    bool gotOk = !ok;
    const quint64 got = LCHMFileImpl::readScaleRootInt(&cursor, quint8(scale), quint8(root), &gotOk);
    QCOMPARE(gotOk, ok);
    QCOMPARE(got, value);
    if (consumed == 0) {
        QCOMPARE(int(cursor.byte), 0);
        QCOMPARE(cursor.bit, startBit);
    } else if (consumed > 0) {
        QCOMPARE(int(cursor.byte) * 8 + (7 - cursor.bit) - lead, consumed);
    }
    QVERIFY(cursor.byte <= cursor.size);
}

void TestSearchIndex::scaleRootRoundTrip()
{
    // The encoder of these tests against the reader, over every root a real index uses.
    for (int root = 0; root <= 8; ++root) {
        QVector<quint64> values;
        for (quint64 v = 0; v < 600; ++v)
            values << v;
        values << 65535 << 65536 << 0xFFFFFFFFull << (quint64(1) << 40) + 12345
               << (quint64(1) << 62) + 7;
        BitWriter writer;
        for (quint64 v : values)
            writer.putScaleRoot(v, root);
        const QByteArray bytes = writer.bytes();
        LCHMFileImpl::BitCursor cursor;
        cursor.data = reinterpret_cast<const unsigned char*>(bytes.constData());
        cursor.size = size_t(bytes.size());
        for (quint64 v : values) {
            bool ok = false;
            QCOMPARE(LCHMFileImpl::readScaleRootInt(&cursor, 2, quint8(root), &ok), v);
            QVERIFY(ok);
        }
    }
}

void TestSearchIndex::cleanSearchWord_data()
{
    QTest::addColumn<QString>("word");
    QTest::addColumn<QString>("cleaned");

    QTest::newRow("apostrophe") << "don't" << "dont";
    QTest::newRow("point stays") << "v1.2" << "v1.2";
    QTest::newRow("underscore stays") << "a_b" << "a_b";
    QTest::newRow("inner signs") << "a+b-c" << "abc";
    QTest::newRow("lone quote") << "\"word" << "word";
    QTest::newRow("letters of any script") << QString::fromUtf8("Straße книга 中文") << QString::fromUtf8("Straßeкнига中文");
    QTest::newRow("combining mark stays") << QString::fromUtf8("cafe\u0301") << QString::fromUtf8("cafe\u0301");
    QTest::newRow("non-BMP letter stays") << QString::fromUtf8("a\U00020000b") << QString::fromUtf8("a\U00020000b");
    QTest::newRow("only punctuation") << "?!*" << "";
}

void TestSearchIndex::cleanSearchWord()
{
    QFETCH(QString, word);
    QFETCH(QString, cleaned);
    LCHMFileImpl::cleanSearchWord(word);
    QCOMPARE(word, cleaned);
}

void TestSearchIndex::treeWalk_data()
{
    QTest::addColumn<quint32>("nodeSize");
    QTest::addColumn<int>("leafCapacity");
    QTest::addColumn<int>("indexCapacity");
    QTest::addColumn<int>("depth");
    QTest::addColumn<bool>("padLastNodes");

    QTest::newRow("depth 1") << 4096u << (1 << 30) << (1 << 30) << 1 << false;
    QTest::newRow("depth 2") << 4096u << 8 << (1 << 30) << 2 << false;
    QTest::newRow("depth 3") << 4096u << 5 << 4 << 3 << false;
    QTest::newRow("depth 3, full small nodes") << 96u << (1 << 30) << (1 << 30) << 3 << false;
    // chmcmd puts two zero bytes before the entries of the last index node of each level.
    QTest::newRow("depth 3, chmcmd's padded last nodes") << 4096u << 5 << 4 << 3 << true;
}

void TestSearchIndex::treeWalk()
{
    QFETCH(quint32, nodeSize);
    QFETCH(int, leafCapacity);
    QFETCH(int, indexCapacity);
    QFETCH(int, depth);
    QFETCH(bool, padLastNodes);

    // 60 words with shared prefixes, each in its own pattern of topics.
    IndexShape shape;
    shape.nodeSize = nodeSize;
    shape.leafCapacity = leafCapacity;
    shape.indexCapacity = indexCapacity;
    QMap<QString, QStringList> expected;
    for (int i = 0; i < 60; ++i) {
        const QByteArray word = "w" + QByteArray::number(i / 10) + "x" + QByteArray::number(i % 10) + "word";
        QVector<Posting> postings;
        QStringList topicPaths;
        for (int t = 0; t < 8; ++t) {
            if ((i + t) % 3 == 0) {
                postings.append(Posting{t, {quint64(i)}});
                topicPaths << QStringLiteral("/t%1.htm").arg(t);
            }
        }
        shape.words[word] = postings;
        expected.insert(QString::fromLatin1(word), topicPaths);
    }
    BuiltIndex built = buildIndex(shape);
    QCOMPARE(built.depth, depth);
    if (padLastNodes) {
        for (int level = 0; level + 1 < built.levels.size(); ++level) {
            const int node = int(built.levels.at(level).last());
            const int nodeSize = int(shape.nodeSize);
            const quint16 freeSpace = quint16(uchar(built.data[node]) | (uchar(built.data[node + 1]) << 8));
            QVERIFY(freeSpace >= 2);
            const QByteArray entries = built.data.mid(node + 2, nodeSize - 4);
            putLe16(built.data, node, quint16(freeSpace - 2));
            built.data.replace(node + 2, nodeSize - 2, QByteArray(2, '\0') + entries);
        }
    }

    LCHMFile file;
    QVERIFY(openBook(file, built.data));
    for (auto it = expected.cbegin(); it != expected.cend(); ++it) {
        QStringList results;
        QVERIFY2(file.fullTextSearch(it.key(), &results, 700), qPrintable(it.key()));
        QCOMPARE(results, it.value());
    }

    // Before the first word, between two leaves, after the last word of the tree, and
    // words that only share a prefix with an indexed one.
    const QStringList absent = {"a", "w0x9wordz", "w1x0wor", "w5x9wordd", "zzz", "w5x9word0", "w"};
    for (const QString& word : absent) {
        QStringList results;
        QVERIFY2(!file.fullTextSearch(word, &results, 700), qPrintable(word));
        QVERIFY(results.isEmpty());
    }
}

void TestSearchIndex::query_data()
{
    QTest::addColumn<QString>("query");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("one word") << "apple" << true << paths({0, 2, 3, 5});
    QTest::newRow("case folded") << "APPLE" << true << paths({0, 2, 3, 5});
    QTest::newRow("two words") << "apple banana" << true << paths({2});
    QTest::newRow("plus word") << "+apple +ripe" << true << paths({0, 3});
    QTest::newRow("minus word") << "apple -banana" << true << paths({0, 3, 5});
    QTest::newRow("minus word first in the query") << "-ripe apple" << true << paths({2, 5});
    QTest::newRow("minus word not in the index") << "apple -missing" << true << paths({0, 2, 3, 5});
    QTest::newRow("only minus words") << "-apple -banana" << true << QStringList();
    QTest::newRow("empty") << "" << true << QStringList();
    QTest::newRow("blanks") << " \t " << true << QStringList();
    QTest::newRow("word not in the index") << "apple missing" << false << QStringList();
    QTest::newRow("prefix of a word") << "appl" << false << QStringList();
    QTest::newRow("lone plus") << "apple +" << false << QStringList();
    QTest::newRow("no shared topic, third word found") << "cherry date apple" << true << QStringList();
    QTest::newRow("no shared topic, third word missing") << "cherry date missing" << false << QStringList();
    QTest::newRow("known word in no topic") << "nowhere" << true << QStringList();
    QTest::newRow("known word in no topic narrows") << "apple nowhere" << true << QStringList();
    QTest::newRow("phrase") << "\"red apple\"" << true << paths({0, 3});
    QTest::newRow("phrase case folded") << "\"Red APPLE\"" << true << paths({0, 3});
    QTest::newRow("phrase of three") << "\"red apple ripe\"" << true << paths({3});
    QTest::newRow("phrase in reverse order") << "\"apple red\"" << false << QStringList();
    QTest::newRow("phrase: following codes in other topics don't join") << "\"green tree\"" << true << paths({3});
    QTest::newRow("phrase words in different topics only") << "\"ripe banana\"" << false << QStringList();
    QTest::newRow("two phrases") << "\"red apple\" \"green tree\"" << true << paths({3});
    QTest::newRow("phrase and word") << "banana \"red apple\"" << true << QStringList();
    QTest::newRow("phrase and minus word") << "\"red apple\" -ripe" << true << QStringList();
    QTest::newRow("phrase and other minus word") << "\"red apple\" -green" << true << paths({0});
    QTest::newRow("empty phrase") << "apple \"\"" << false << QStringList();
    QTest::newRow("phrase with a leading blank") << "\" red apple\"" << false << QStringList();
    QTest::newRow("phrase with a trailing blank") << "\"red apple \"" << false << QStringList();
    QTest::newRow("unpaired quote") << "\"apple" << true << paths({0, 2, 3, 5});
    QTest::newRow("text around a phrase joins") << "ap\"red apple\"ple" << true << paths({0, 3});
    QTest::newRow("apostrophe removed") << "don't" << true << paths({6});
    QTest::newRow("point kept") << "v1.2" << true << paths({7});
    QTest::newRow("inner plus removed") << "a+b" << true << paths({1});
    QTest::newRow("minus then plus") << "-+apple banana" << true << paths({4});
}

void TestSearchIndex::query()
{
    QFETCH(QString, query);
    QFETCH(bool, ok);
    QFETCH(QStringList, expected);

    LCHMFile file;
    QVERIFY(openBook(file, buildIndex(queryIndex()).data));
    QStringList results;
    QCOMPARE(file.fullTextSearch(query, &results, 700), ok);
    QCOMPARE(results, expected);
}

void TestSearchIndex::phraseLocations()
{
    // lookupPhrase works on the location codes; lookupWord stores them only when asked.
    LCHMFileImpl book;
    QVERIFY(book.openBook(writeBook(buildIndex(queryIndex()).data)));
    LCHMFileImpl* impl = &book;

    SearchHitList hits;
    QVERIFY(impl->lookupWord(QStringLiteral("apple"), true, &hits));
    QCOMPARE(hits.size(), 4);
    QCOMPARE(hits.at(0).locations, (QVector<quint64>{1, 7}));
    QCOMPARE(hits.at(1).locations, (QVector<quint64>{4}));

    SearchHitList plain;
    QVERIFY(impl->lookupWord(QStringLiteral("apple"), false, &plain));
    QCOMPARE(plain.size(), 4);
    for (const SearchHit& hit : std::as_const(plain))
        QVERIFY(hit.locations.isEmpty());
    for (int i = 0; i < 4; ++i)
        QCOMPARE(plain.at(i).urlOffset, hits.at(i).urlOffset);

    // Hits are appended behind what the list holds; the phrase result carries no codes.
    SearchHitList phrase = plain;
    QVERIFY(impl->lookupPhrase({QStringLiteral("red"), QStringLiteral("apple")}, &phrase));
    QCOMPARE(phrase.size(), 6);
    QVERIFY(phrase.at(4).locations.isEmpty());
    QCOMPARE(phrase.at(4).urlOffset, hits.at(0).urlOffset);
    QCOMPARE(phrase.at(5).urlOffset, hits.at(2).urlOffset);

    SearchHitList nothing;
    QVERIFY(!impl->lookupPhrase({QStringLiteral("apple"), QStringLiteral("red")}, &nothing));
    QVERIFY(nothing.isEmpty());
}

void TestSearchIndex::sharedTopicGivesOnePath()
{
    // Topics 1 and 2 share one /#URLTBL entry: one path, in the place of the first.
    IndexShape shape;
    shape.words["word"] = onTopics({0, 1, 2, 3});
    BookShape book;
    book.sameUrlAs.insert(2, 1);
    LCHMFile file;
    QVERIFY(openBook(file, buildIndex(shape).data, book));
    QStringList results;
    QVERIFY(file.fullTextSearch(QStringLiteral("word"), &results, 700));
    QCOMPARE(results, paths({0, 1, 3}));
}

void TestSearchIndex::limit_data()
{
    QTest::addColumn<int>("limit");
    QTest::addColumn<QStringList>("before");
    QTest::addColumn<int>("appended");

    QTest::newRow("700 of 800") << 700 << QStringList() << 700;
    QTest::newRow("1") << 1 << QStringList() << 1;
    QTest::newRow("more than there are") << 5000 << QStringList() << 800;
    QTest::newRow("paths already in the list are not counted")
        << 700 << QStringList{QStringLiteral("/t1.htm"), QStringLiteral("/other.htm")} << 700;
}

void TestSearchIndex::limit()
{
    QFETCH(int, limit);
    QFETCH(QStringList, before);
    QFETCH(int, appended);

    IndexShape shape;
    for (int t = 0; t < 800; ++t)
        shape.words["common"].append(Posting{t, {quint64(t % 5)}});
    BookShape book;
    book.topicCount = 800;
    LCHMFile file;
    QVERIFY(openBook(file, buildIndex(shape).data, book));

    QStringList results = before;
    QVERIFY(file.fullTextSearch(QStringLiteral("common"), &results, limit));
    QCOMPARE(results.size(), before.size() + appended);
    QCOMPARE(results.mid(0, before.size()), before);
    QCOMPARE(results.at(before.size()), QStringLiteral("/t0.htm"));
    QCOMPARE(results.last(), QStringLiteral("/t%1.htm").arg(appended - 1));
}

void TestSearchIndex::folding_data()
{
    QTest::addColumn<int>("lcid");
    QTest::addColumn<QByteArray>("stored");   // the word as the index holds it
    QTest::addColumn<QString>("query");

    QTest::newRow("sharp s") << 0x409 << QByteArray("strasse") << QString::fromUtf8("Straße");
    QTest::newRow("acute accent, capitals") << 0x409 << QByteArray("cafe") << QString::fromUtf8("CAFÉ");
    QTest::newRow("ligature") << 0x409 << QByteArray("oeuvre") << QString::fromUtf8("Œuvre");
    QTest::newRow("thorn stays a byte of its own") << 0x409 << QByteArray("\xfe" "ing") << QString::fromUtf8("Þing");
    QTest::newRow("no codec: lower case") << 0 << QByteArray("abc") << QStringLiteral("ABC");
}

void TestSearchIndex::folding()
{
    QFETCH(int, lcid);
    QFETCH(QByteArray, stored);
    QFETCH(QString, query);

    IndexShape shape;
    shape.words[stored] = onTopics({1});
    shape.words["zzz"] = onTopics({2});
    BookShape book;
    book.lcid = quint16(lcid);
    LCHMFile file;
    QVERIFY(openBook(file, buildIndex(shape).data, book));
    QStringList results;
    QVERIFY(file.fullTextSearch(query, &results, 700));
    QCOMPARE(results, paths({1}));
    QVERIFY(file.fullTextSearch(QStringLiteral("\"%1\"").arg(query), &results, 700));
    QCOMPARE(results, paths({1, 1}));   // appended to what the list held
}

void TestSearchIndex::noIndex()
{
    LCHMFile file;
    QVERIFY(openBook(file, QByteArray()));
    QStringList results{QStringLiteral("/kept.htm")};
    QVERIFY(!file.fullTextSearch(QStringLiteral("apple"), &results, 700));
    QVERIFY(file.fullTextSearch(QStringLiteral("-apple"), &results, 700));
    QCOMPARE(results, QStringList{QStringLiteral("/kept.htm")});

    LCHMFile closed;
    QVERIFY(!closed.fullTextSearch(QStringLiteral("apple"), &results, 700));
    SearchHitList hits;
    QVERIFY(!LCHMFileImpl().lookupWord(QStringLiteral("apple"), false, &hits));
}

// Whether a book offers search depends on its index listing words at all, in any script.
void TestSearchIndex::indexHoldsWords_data()
{
    QTest::addColumn<QByteArray>("fifti");   // null: no index
    QTest::addColumn<bool>("holdsWords");

    QTest::newRow("words in topics") << buildIndex(queryIndex()).data << true;
    QTest::newRow("no index") << QByteArray() << false;
    QTest::newRow("empty index object") << QByteArray("") << false;
    QTest::newRow("header cut") << buildIndex(queryIndex()).data.left(40) << false;
    QTest::newRow("no words") << buildIndex(IndexShape()).data << false;

    IndexShape unlisted;
    for (const char* word : {"a", "b", "c", "d", "e"})
        unlisted.words[word] = {};
    QTest::newRow("words listed in no topic") << buildIndex(unlisted).data << false;
    unlisted.words["f"] = onTopics({3});
    unlisted.leafCapacity = 2;
    QTest::newRow("a listed word in the third leaf") << buildIndex(unlisted).data << true;
}

void TestSearchIndex::indexHoldsWords()
{
    QFETCH(QByteArray, fifti);
    QFETCH(bool, holdsWords);

    LCHMFile file;
    QVERIFY(openBook(file, fifti));
    QCOMPARE(file.hasSearchWords(), holdsWords);
}

void TestSearchIndex::titleAndBodyEntries_data()
{
    QTest::addColumn<bool>("titleFirst");
    QTest::addColumn<int>("leafCapacity");

    // Both orders occur: chmcmd writes a word's title entry first, Microsoft's compiler its
    // body entry. Small leaves put the two entries of "bb" into different leaves.
    QTest::newRow("title first") << true << (1 << 30);
    QTest::newRow("body first") << false << (1 << 30);
    QTest::newRow("title first, split between two leaves") << true << 2;
    QTest::newRow("body first, split between two leaves") << false << 2;
    QTest::newRow("title first, one entry per leaf") << true << 1;
    QTest::newRow("body first, one entry per leaf") << false << 1;
}

void TestSearchIndex::titleAndBodyEntries()
{
    QFETCH(bool, titleFirst);
    QFETCH(int, leafCapacity);

    // t1 body "aa bb"; t2 title "bb", body "cc"; t3 title "bb cc"; t4 body "bb cc".
    IndexShape shape;
    shape.titleEntriesFirst = titleFirst;
    shape.leafCapacity = leafCapacity;
    shape.words["aa"] = {{1, {0}}};
    shape.words["bb"] = {{1, {1}}, {4, {0}}};
    shape.words["cc"] = {{2, {0}}, {4, {1}}};
    shape.titleWords["bb"] = {{2, {0}}, {3, {0}}};
    shape.titleWords["cc"] = {{3, {1}}};
    LCHMFile file;
    QVERIFY(openBook(file, buildIndex(shape).data));

    const QVector<QPair<QString, QStringList>> cases = {
        {"bb", paths({1, 2, 3, 4})},
        {"cc", paths({2, 3, 4})},
        {"aa bb", paths({1})},
        {"\"bb cc\"", paths({3, 4})},   // not t2: a phrase does not run from title into body
        {"\"aa bb\"", paths({1})},
        {"\"bb aa\"", {}},
    };
    for (const auto& [query, expected] : cases) {
        QStringList results;
        QCOMPARE(file.fullTextSearch(query, &results, 700), !expected.isEmpty());
        QCOMPARE(results, expected);
    }
}

void TestSearchIndex::ideographicBook_data()
{
    QTest::addColumn<int>("lcid");
    QTest::addColumn<QString>("codec");

    QTest::newRow("Chinese, GBK") << 0x804 << "GBK";
    QTest::newRow("Korean, 949") << 0x412 << "windows-949";
    QTest::newRow("Japanese, Shift-JIS") << 0x411 << "windows-31j";
}

void TestSearchIndex::ideographicBook()
{
    QFETCH(int, lcid);
    QFETCH(QString, codec);

    // The index of such a book keeps every character as a word of its own, as the book's
    // code page writes it, and runs of ASCII as words: "文件" is two words in a row.
    QTextCodec* textCodec = QTextCodec::codecForName(codec.toLatin1());
    QVERIFY(textCodec);
    const QByteArray wen = textCodec->fromUnicode(QString::fromUtf8("文"));
    const QByteArray jian = textCodec->fromUnicode(QString::fromUtf8("件"));
    IndexShape shape;
    shape.words[wen] = {{1, {3}}, {2, {0}}};
    shape.words[jian] = {{1, {4}}, {2, {5}}};
    shape.words["7z"] = {{1, {5}}, {2, {1}}};
    BookShape book;
    book.lcid = quint16(lcid);
    LCHMFile file;
    QVERIFY(openBook(file, buildIndex(shape).data, book));

    const QVector<QPair<QString, QStringList>> cases = {
        {QString::fromUtf8("文"), paths({1, 2})},
        {QString::fromUtf8("文件"), paths({1})},
        {QString::fromUtf8("件文"), {}},
        {QString::fromUtf8("\"文件 7z\""), paths({1})},
        {QString::fromUtf8("文件7Z"), paths({1})},
        {QString::fromUtf8("7z -文件"), paths({2})},
        {QString::fromUtf8("文件 7z"), paths({1})},
    };
    for (const auto& [query, expected] : cases) {
        QStringList results;
        QCOMPARE(file.fullTextSearch(query, &results, 700), !expected.isEmpty());
        QCOMPARE(results, expected);
    }
}

// Damage done to a well-formed three-level index of the words below.
enum class Damage {
    None,
    RootPointsToItself,
    ChildPointsToRoot,
    RootPointsToLeafLevelSkipped,
    Depth65535,
    DepthZero,
    RootOffsetZero,
    RootOffsetPastEnd,
    NodeSizeZero,
    NodeSizeHuge,
    NodeSizeTiny,
    FreeSpaceAboveNodeSize,
    LeafFreeSpaceAboveNodeSize,
    ZeroLengthEntry,
    EntryLengthPastNode,
    ScaleThree,
    CountHuge,
    CountBeyondList,
    ListSizeShort,
    ListSizeHuge,
    ListOffsetPastEnd,
    ListOffsetZero,
    TopicPastTable,
    UrlTablePastEnd,
    HeaderCut,
};
Q_DECLARE_METATYPE(Damage)

void TestSearchIndex::damagedIndex_data()
{
    QTest::addColumn<Damage>("damage");
    QTest::addColumn<bool>("mustFail");   // false where the damage leaves garbage to read

    QTest::newRow("none") << Damage::None << false;
    QTest::newRow("root points to itself") << Damage::RootPointsToItself << true;
    QTest::newRow("child points back to the root") << Damage::ChildPointsToRoot << true;
    QTest::newRow("root points to a leaf, a level early") << Damage::RootPointsToLeafLevelSkipped << false;
    QTest::newRow("depth 65535") << Damage::Depth65535 << true;
    QTest::newRow("depth 0") << Damage::DepthZero << true;
    QTest::newRow("root offset 0") << Damage::RootOffsetZero << true;
    QTest::newRow("root offset past the end") << Damage::RootOffsetPastEnd << true;
    QTest::newRow("node size 0") << Damage::NodeSizeZero << true;
    QTest::newRow("node size 2^32-1") << Damage::NodeSizeHuge << true;
    QTest::newRow("node size 3") << Damage::NodeSizeTiny << true;
    QTest::newRow("index free space above node size") << Damage::FreeSpaceAboveNodeSize << true;
    QTest::newRow("leaf free space above node size") << Damage::LeafFreeSpaceAboveNodeSize << true;
    QTest::newRow("entry of length 0") << Damage::ZeroLengthEntry << true;
    QTest::newRow("entries of length 255") << Damage::EntryLengthPastNode << false;
    QTest::newRow("scale 3") << Damage::ScaleThree << true;
    QTest::newRow("count 2^31") << Damage::CountHuge << true;
    QTest::newRow("count one more than listed") << Damage::CountBeyondList << true;
    QTest::newRow("list size cuts the records") << Damage::ListSizeShort << true;
    QTest::newRow("list size 2^32-1") << Damage::ListSizeHuge << false;
    QTest::newRow("list offset past the end") << Damage::ListOffsetPastEnd << true;
    QTest::newRow("list offset 0") << Damage::ListOffsetZero << false;
    QTest::newRow("topic past /#TOPICS") << Damage::TopicPastTable << true;
    QTest::newRow("/#URLTBL offset past its end") << Damage::UrlTablePastEnd << true;
    QTest::newRow("header of 40 bytes") << Damage::HeaderCut << true;
}

void TestSearchIndex::damagedIndex()
{
    QFETCH(Damage, damage);
    QFETCH(bool, mustFail);

    IndexShape shape;
    shape.leafCapacity = 4;
    shape.indexCapacity = 3;
    for (int i = 0; i < 30; ++i) {
        const QByteArray word = "word" + QByteArray::number(100 + i);
        shape.words[word] = {{1, {0, 3}}, {3, {quint64(i)}}, {6, {1}}};
    }
    const QByteArray target = "word117";
    BookShape book;
    switch (damage) {
    case Damage::CountHuge: shape.countOverride.insert(target, 0x80000000u); break;
    case Damage::CountBeyondList: shape.countOverride.insert(target, 4); break;
    case Damage::ListSizeShort: shape.sizeOverride.insert(target, 1); break;
    case Damage::ListSizeHuge: shape.sizeOverride.insert(target, 0xFFFFFFFFu); break;
    case Damage::ListOffsetPastEnd: shape.offsetOverride.insert(target, 0x7FFFFFF0u); break;
    case Damage::ListOffsetZero: shape.offsetOverride.insert(target, 0); break;
    case Damage::TopicPastTable: book.topicCount = 4; break;
    default: break;
    }
    BuiltIndex built = buildIndex(shape);
    QCOMPARE(built.depth, 3);
    QByteArray& data = built.data;
    const quint32 root = built.root;
    const quint32 middle = built.levels.at(1).first();
    const quint32 leaf = built.levels.at(2).first();

    // Points every child offset of an index node at `target`.
    const auto retarget = [&data](quint32 node, quint32 target) {
        for (int pos = int(node) + 2; uchar(data[pos]) != 0; pos += uchar(data[pos]) + 7)
            putLe32(data, pos + 2 + uchar(data[pos]) - 1, target);
    };
    switch (damage) {
    case Damage::RootPointsToItself: retarget(root, root); break;
    case Damage::ChildPointsToRoot:
        for (quint32 node : built.levels.at(1))
            retarget(node, root);
        break;
    case Damage::RootPointsToLeafLevelSkipped: retarget(root, leaf); break;
    case Damage::Depth65535: putLe16(data, 0x18, 0xFFFF); break;
    case Damage::DepthZero: putLe16(data, 0x18, 0); break;
    case Damage::RootOffsetZero: putLe32(data, 0x14, 0); break;
    case Damage::RootOffsetPastEnd: putLe32(data, 0x14, quint32(data.size() + 100)); break;
    case Damage::NodeSizeZero: putLe32(data, 0x2E, 0); break;
    case Damage::NodeSizeHuge: putLe32(data, 0x2E, 0xFFFFFFFFu); break;
    case Damage::NodeSizeTiny: putLe32(data, 0x2E, 3); break;
    case Damage::FreeSpaceAboveNodeSize:
        putLe16(data, int(root), 0xFFFF);
        putLe16(data, int(middle), 0xFFFF);
        break;
    case Damage::LeafFreeSpaceAboveNodeSize:
        for (quint32 node : built.levels.at(2))
            putLe16(data, int(node) + 6, 0xFFFF);
        break;
    case Damage::ZeroLengthEntry:
        for (quint32 node : built.levels.at(2))
            data[int(node) + 8] = 0;
        data[int(root) + 2] = 0;
        break;
    case Damage::EntryLengthPastNode:
        for (quint32 node : built.levels.at(2))
            data[int(node) + 8] = char(0xFF);
        for (quint32 node : built.levels.at(1))
            data[int(node) + 2] = char(0xFF);
        break;
    case Damage::ScaleThree: data[0x1E] = 3; break;
    case Damage::UrlTablePastEnd: break;   // below, in the book
    case Damage::HeaderCut: data.truncate(40); break;
    default: break;
    }

    QVector<ChmWriterObject> objects = bookObjects(book, data);
    if (damage == Damage::UrlTablePastEnd) {
        for (ChmWriterObject& o : objects) {
            if (o.path == "/#TOPICS")
                putLe32(o.data, 3 * 16 + 8, 0x10000);
        }
    }
    const QString path = m_dir.filePath(QStringLiteral("damaged%1.chm").arg(++m_books));
    QVERIFY(writeChmContainer(path, objects));
    LCHMFile file;
    QVERIFY(file.openBook(path));

    QElapsedTimer timer;
    timer.start();
    QStringList results;
    const bool found = file.fullTextSearch(QString::fromLatin1(target), &results, 700);
    if (mustFail) {
        QVERIFY(!found);
        QVERIFY(results.isEmpty());
    } else if (damage == Damage::None || damage == Damage::ListSizeHuge) {
        QVERIFY(found);
        QCOMPARE(results, paths({1, 3, 6}));
    }
    // Every kind of query runs to its end on the damaged index.
    const QStringList queries = {"word100", "word129", "word117 word100", "\"word117 word118\"",
                                 "word100 -word117", "-word117", "zzz", "a"};
    for (const QString& q : queries) {
        QStringList more;
        file.fullTextSearch(q, &more, 700);
        for (const QString& p : std::as_const(more))
            QVERIFY2(p.startsWith(QLatin1String("/t")), qPrintable(p));
    }
    QVERIFY2(timer.elapsed() < 5000, "a damaged index must not make the search slow");
}

QTEST_GUILESS_MAIN(TestSearchIndex)
#include "tst_searchindex.moc"
