// Notes and bookmarks kept in the book file: the record's bytes, the write and read cycle on
// real books, files that are not containers, damaged records and writes that fail midway.

#include "chmwriter.h"
#include "hostilerecords.h"
#include "lchmfile.h"
#include "testbooks.h"
#include "userdata.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <atomic>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <zlib.h>

using Decoded = UserDataRecord::Decoded;
Q_DECLARE_METATYPE(Decoded)

namespace {

QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool putFile(const QString& path, const QByteArray& bytes)
{
    QFile::remove(path);
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray be32(quint32 v)
{
    const char b[4] = {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
    return QByteArray(b, 4);
}

// A string as the record stores it: byte count, then UTF-16 big-endian.
QByteArray beString(const QString& s)
{
    QByteArray out = be32(quint32(s.size() * 2));
    for (QChar c : s) {
        out.append(char(c.unicode() >> 8));
        out.append(char(c.unicode() & 0xFF));
    }
    return out;
}

QByteArray header(quint32 blockSize)
{
    return QByteArray::fromHex("00000000012DFBE1") + be32(8) + be32(0) + be32(blockSize);
}

QByteArray recordOfBlock(const QByteArray& block)
{
    return header(quint32(block.size())) + block;
}

QByteArray recordOfPayload(const QByteArray& payload)
{
    return recordOfBlock(qCompress(payload, 7));
}

QByteArray pageEntry(const QString& path, const QVector<QPair<qint32, qint32>>& marks)
{
    QByteArray out = beString(path) + be32(quint32(marks.size()));
    for (const auto& m : marks)
        out += be32(quint32(m.first)) + be32(quint32(m.second));
    return out;
}

NoteStore sampleNotes(int marksPerPage = 2)
{
    NoteStore notes;
    for (int i = 0; i < marksPerPage; ++i) {
        notes.addMark(QStringLiteral("/intro.htm"), NoteMark{10 * i, 5 + i});
        notes.addMark(QStringLiteral("/sub/глава.htm"), NoteMark{i, 1});
    }
    return notes;
}

const QStringList sampleBookmarks{QStringLiteral("Introduction"), QStringLiteral("/intro.htm"),
                                  QString(QLatin1String("")), QStringLiteral("/sub/page.htm#part"),
                                  QStringLiteral("Café ☕"), QStringLiteral("/cafe.htm")};

// A reader of the record written from its byte layout alone, with zlib for the block.
struct IndependentRecord
{
    bool ok = false;
    QByteArray magic;
    quint32 version = 0, reserved = 0, blockSize = 0, uncompressedSize = 0;
    QByteArray payload;
    QVector<QPair<QString, QVector<QPair<qint32, qint32>>>> pages;
    QStringList strings;
};

IndependentRecord readIndependently(const QByteArray& rec)
{
    IndependentRecord r;
    const auto u32 = [](const QByteArray& b, qsizetype at) {
        const auto u = [&](qsizetype i) { return quint32(quint8(b.at(at + i))); };
        return (u(0) << 24) | (u(1) << 16) | (u(2) << 8) | u(3);
    };
    if (rec.size() < 24)
        return r;
    r.magic = rec.left(8);
    r.version = u32(rec, 8);
    r.reserved = u32(rec, 12);
    r.blockSize = u32(rec, 16);
    if (qsizetype(r.blockSize) + 20 != rec.size())
        return r;   // nothing may follow the block
    r.uncompressedSize = u32(rec, 20);
    QByteArray payload(qsizetype(r.uncompressedSize), '\0');
    uLongf length = uLongf(payload.size());
    if (uncompress(reinterpret_cast<Bytef*>(payload.data()), &length,
                   reinterpret_cast<const Bytef*>(rec.constData() + 24), uLong(r.blockSize - 4)) != Z_OK
        || length != r.uncompressedSize)
        return r;
    r.payload = payload;

    qsizetype at = 0;
    const auto str = [&](QString* out) {
        const quint32 bytes = u32(payload, at);
        at += 4;
        if (bytes == 0xFFFFFFFFu) {
            *out = QString();
            return;
        }
        QString s;
        for (quint32 i = 0; i < bytes; i += 2)
            s.append(QChar(char16_t((quint8(payload.at(at + i)) << 8) | quint8(payload.at(at + i + 1)))));
        if (bytes == 0)
            s = QString(QLatin1String(""));
        at += bytes;
        *out = s;
    };
    const quint32 pageCount = u32(payload, at);
    at += 4;
    for (quint32 p = 0; p < pageCount; ++p) {
        QString path;
        str(&path);
        const quint32 markCount = u32(payload, at);
        at += 4;
        QVector<QPair<qint32, qint32>> marks;
        for (quint32 m = 0; m < markCount; ++m, at += 8)
            marks.append({qint32(u32(payload, at)), qint32(u32(payload, at + 4))});
        r.pages.append({path, marks});
    }
    const quint32 stringCount = u32(payload, at);
    at += 4;
    for (quint32 s = 0; s < stringCount; ++s) {
        QString value;
        str(&value);
        r.strings.append(value);
    }
    r.ok = at == payload.size();
    return r;
}

// The shared books worth a full cycle, by file name; a row whose book is absent skips.
const char* const kSharedBooks[] = {"7zip-zh-cn.chm", "autohotkey-ko.chm", "chesspeer-tr.chm", "filmcollection-ru.chm",
                                    "fpc-fpdoc.chm", "fpc-toc.chm", "halibut-putty.chm", "halibut-puzzles.chm",
                                    "keepass.chm", "stepmap-ru.chm", "supertexttoolbox-zh.chm"};

// Every object of the book as the book access layer reads it.
QMap<QString, QByteArray> objectsOf(const QString& bookPath)
{
    QMap<QString, QByteArray> objects;
    LCHMFile book;
    if (!book.openBook(bookPath))
        return objects;
    QStringList paths;
    book.listFiles(&paths);
    for (const QString& path : paths) {
        QByteArray bytes;
        objects.insert(path, book.readFileBytes(&bytes, path) ? bytes : QByteArray("<unreadable>"));
    }
    return objects;
}

// What one of two writers saves on its i-th round: records of changing length, so that each
// writer both extends and cuts the file the other wrote.
NoteStore roundNotes(const QString& writer, int round)
{
    NoteStore notes;
    for (int m = 0; m <= round % 7; ++m)
        notes.addMark(QStringLiteral("/%1/%2.htm").arg(writer).arg(m), NoteMark{round, m});
    return notes;
}

QStringList roundBookmarks(const QString& writer, int round)
{
    return {QStringLiteral("%1 %2").arg(writer).arg(round), QStringLiteral("/%1.htm").arg(writer)};
}

// The child process of concurrentSaves: saves `rounds` records into the book, one after another.
int saveLoop(const QString& path, const QString& writer, int rounds)
{
    BookUserData data(path);
    data.hasUserData();
    data.setLockTimeout(30000);
    for (int round = 0; round < rounds; ++round) {
        if (!data.writeUserData(roundNotes(writer, round), roundBookmarks(writer, round))) {
            fprintf(stderr, "round %d: %s\n", round, qPrintable(data.errorString()));
            return 1;
        }
    }
    return 0;
}

// A folder for tests that write a lot: in memory when the machine has one, where syncing costs
// nothing.
QString fastTempPattern()
{
    return QFileInfo(QStringLiteral("/dev/shm")).isWritable() ? QStringLiteral("/dev/shm/pagewick-XXXXXX")
                                                               : QDir::tempPath() + QStringLiteral("/pagewick-XXXXXX");
}

} // namespace

class TestUserData : public QObject
{
    Q_OBJECT

private slots:
    void examplePayload();
    void recordLayout();
    void cycle_data();
    void cycle();
    void notAContainer_data();
    void notAContainer();
    void foreignTrailingBytes();
    void readOnlyBook();
    void failedWrite_data();
    void failedWrite();
    void damaged_data();
    void damaged();
    void damagedInFile();
    void concurrentSaves();
    void renamedDuringSave();
    void hostile_data();
    void hostile();

private:
    QTemporaryDir m_dir{fastTempPattern()};
    int m_serial = 0;
    QString copyOf(const QString& source, const QByteArray& bytes = {});
};

QString TestUserData::copyOf(const QString& source, const QByteArray& bytes)
{
    const QString path = m_dir.filePath(QStringLiteral("book%1.chm").arg(++m_serial));
    putFile(path, bytes.isNull() ? fileBytes(source) : bytes);
    return path;
}

void TestUserData::examplePayload()
{
    const QByteArray payload = UserDataRecord::encodePayload({}, {QStringLiteral("A"), QStringLiteral("/a")});
    QCOMPARE(payload.toHex(' '), QByteArray("00 00 00 00 00 00 00 02 00 00 00 02 00 41 00 00 00 04 00 2f 00 61"));
    NoteStore notes;
    QStringList bookmarks;
    QCOMPARE(UserDataRecord::decodePayload(payload, &notes, &bookmarks), Decoded::Complete);
    QVERIFY(notes.isEmpty());
    QCOMPARE(bookmarks, (QStringList{"A", "/a"}));
}

void TestUserData::recordLayout()
{
    NoteStore notes = sampleNotes();
    notes.append(PageNotes{QString(), {NoteMark{0, 0}}});   // a null path stays null
    const QByteArray payload = UserDataRecord::encodePayload(notes, sampleBookmarks);
    const QByteArray record = UserDataRecord::encode(notes, sampleBookmarks);
    QVERIFY(UserDataRecord::encode({}, {}).isEmpty());

    const IndependentRecord r = readIndependently(record);
    QVERIFY(r.ok);
    QCOMPARE(r.magic.toHex(' '), QByteArray("00 00 00 00 01 2d fb e1"));
    QCOMPARE(r.version, 8u);
    QCOMPARE(r.reserved, 0u);
    QCOMPARE(r.payload, payload);
    // zlib at level 7, byte for byte what zlib itself makes at that level.
    QByteArray expected(int(compressBound(uLong(payload.size()))), '\0');
    uLongf length = uLongf(expected.size());
    QCOMPARE(compress2(reinterpret_cast<Bytef*>(expected.data()), &length,
                       reinterpret_cast<const Bytef*>(payload.constData()), uLong(payload.size()), 7), Z_OK);
    QCOMPARE(record.mid(24), expected.left(int(length)));

    QCOMPARE(r.pages.size(), notes.size());
    for (int i = 0; i < notes.size(); ++i) {
        QCOMPARE(r.pages[i].first, notes[i].path);
        QCOMPARE(r.pages[i].first.isNull(), notes[i].path.isNull());
        QCOMPARE(r.pages[i].second.size(), notes[i].marks.size());
        for (int m = 0; m < notes[i].marks.size(); ++m)
            QCOMPARE(r.pages[i].second[m], qMakePair(notes[i].marks[m].start, notes[i].marks[m].length));
    }
    QCOMPARE(r.strings, sampleBookmarks);

    NoteStore readNotes;
    QStringList readBookmarks;
    QCOMPARE(UserDataRecord::decode(record, &readNotes, &readBookmarks), Decoded::Complete);
    QCOMPARE(readNotes, notes);
    QCOMPARE(readBookmarks, sampleBookmarks);
    QVERIFY(readNotes.last().path.isNull());
    QVERIFY(!readBookmarks[2].isNull());
    QCOMPARE(UserDataRecord::encode(readNotes, readBookmarks), record);
}

void TestUserData::cycle_data()
{
    QTest::addColumn<QString>("book");
    QTest::newRow("english.chm") << testBookPath(QStringLiteral("english.chm"));
    for (const char* name : kSharedBooks)
        QTest::newRow(name) << sharedBookPath(QString::fromLatin1(name));
}

void TestUserData::cycle()
{
    QFETCH(QString, book);
    if (book.isEmpty())
        QSKIP("real books not available");
    const QByteArray original = fileBytes(book);
    QVERIFY(!original.isEmpty());
    const QString path = copyOf(book);
    const QMap<QString, QByteArray> objects = objectsOf(book);
    QVERIFY(!objects.isEmpty());

    BookUserData data(path);
    QVERIFY(!data.hasUserData());
    QVERIFY(data.isContainer());
    QCOMPARE(data.declaredLength(), qint64(original.size()));
    QCOMPARE(data.userDataLength(), qint64(0));
    QVERIFY(!data.userDataPresent());

    // Close with notes and bookmarks: exactly one record behind the untouched container.
    const NoteStore notes = sampleNotes();
    QVERIFY(data.writeUserData(notes, sampleBookmarks));
    QByteArray bytes = fileBytes(path);
    QCOMPARE(bytes.left(original.size()), original);
    const IndependentRecord r = readIndependently(bytes.mid(original.size()));
    QVERIFY(r.ok);
    QCOMPARE(r.strings, sampleBookmarks);
    QCOMPARE(objectsOf(path), objects);

    // Open again: the same notes and bookmarks.
    BookUserData reopened(path);
    QVERIFY(reopened.hasUserData());
    QCOMPARE(reopened.declaredLength(), qint64(original.size()));
    QCOMPARE(reopened.userDataLength(), qint64(bytes.size() - original.size()));
    NoteStore readNotes;
    QStringList readBookmarks;
    QVERIFY(reopened.readUserData(&readNotes, &readBookmarks));
    QCOMPARE(readNotes, notes);
    QCOMPARE(readBookmarks, sampleBookmarks);
    QCOMPARE(reopened.userDataBytes(), bytes.mid(original.size()));

    // Close without a change: the file is not touched.
    QVERIFY(reopened.writeUserData(readNotes, readBookmarks));
    QCOMPARE(reopened.bytesWritten(), qint64(0));
    QCOMPARE(fileBytes(path), bytes);

    // Erase everything: the book is its original self again.
    QVERIFY(reopened.writeUserData({}, {}));
    QCOMPARE(fileBytes(path), original);
    QVERIFY(!BookUserData(path).hasUserData());
}

void TestUserData::notAContainer_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<qint64>("declared");

    const QByteArray book = fileBytes(testBookPath(QStringLiteral("english.chm")));
    QVERIFY(book.size() > 200);
    const auto patched = [&](int at, const QByteArray& with) {
        QByteArray b = book;
        b.replace(at, with.size(), with);
        return b;
    };
    QByteArray text;
    for (int i = 0; i < 20; ++i)
        text += "This is a plain text file that happens to be called x.chm.\n";
    QTest::newRow("text file") << text << qint64(qFromLittleEndian<qint32>(text.constData() + 104));
    QTest::newRow("shorter than declared") << book.left(book.size() - 100) << qint64(book.size());
    QTest::newRow("declared length negative")
        << patched(104, QByteArray::fromHex("f0ffffff")) << qint64(-16);
    QTest::newRow("declared length zero, bytes behind") << patched(104, QByteArray(4, '\0')) << qint64(0);
    QTest::newRow("declared length inside the header")
        << patched(104, QByteArray::fromHex("64000000")) << qint64(100);
    QTest::newRow("declared length of 4 GiB and more")
        << patched(108, QByteArray::fromHex("01")) << qint64(book.size());
    QTest::newRow("no ITSF signature") << patched(0, "ITSX") << qint64(book.size());
    QTest::newRow("shorter than the header") << book.left(106) << qint64(0);
}

void TestUserData::notAContainer()
{
    QFETCH(QByteArray, bytes);
    QFETCH(qint64, declared);
    const QString path = copyOf(QString(), bytes);
    BookUserData data(path);
    QVERIFY(!data.hasUserData());
    QVERIFY(!data.isContainer());
    QCOMPARE(data.declaredLength(), declared);
    NoteStore notes;
    QStringList bookmarks;
    QVERIFY(!data.readUserData(&notes, &bookmarks));
    QVERIFY(notes.isEmpty() && bookmarks.isEmpty());

    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("is not a book container"));
    QVERIFY(!data.writeUserData(sampleNotes(), sampleBookmarks));
    QVERIFY(data.writeUserData({}, {}));   // nothing to store, nothing to do
    QCOMPARE(data.bytesWritten(), qint64(0));
    QCOMPARE(fileBytes(path), bytes);
}

void TestUserData::foreignTrailingBytes()
{
    const QByteArray book = fileBytes(testBookPath(QStringLiteral("english.chm")));
    const QByteArray foreign = QByteArray("PK\x03\x04 another program's data ") + QByteArray(3000, 'x');
    const QString path = copyOf(QString(), book + foreign);

    BookUserData data(path);
    QVERIFY(data.hasUserData());
    NoteStore notes;
    QStringList bookmarks;
    QVERIFY(!data.readUserData(&notes, &bookmarks));
    QVERIFY(notes.isEmpty() && bookmarks.isEmpty());

    QVERIFY(data.writeUserData({}, {}));
    QCOMPARE(fileBytes(path), book + foreign);

    // With something to store the record takes the place behind the container.
    QVERIFY(data.writeUserData({}, sampleBookmarks));
    QCOMPARE(fileBytes(path), book + UserDataRecord::encode({}, sampleBookmarks));
}

void TestUserData::readOnlyBook()
{
    const auto modeOf = [](const QString& path) {
        struct stat st;
        return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
    };
    const QByteArray book = fileBytes(testBookPath(QStringLiteral("english.chm")));
    for (int mode : {0444, 0400, 0440, 0604}) {
        const QString path = copyOf(QString(), book);
        QCOMPARE(::chmod(QFile::encodeName(path).constData(), mode_t(mode)), 0);
        QVERIFY(BookUserData(path).writeUserData(sampleNotes(), sampleBookmarks));
        QCOMPARE(modeOf(path), mode);
        NoteStore notes;
        QStringList bookmarks;
        QVERIFY(BookUserData(path).readUserData(&notes, &bookmarks));
        QCOMPARE(bookmarks, sampleBookmarks);

        QVERIFY(BookUserData(path).writeUserData({}, {}));
        QCOMPARE(modeOf(path), mode);
        QCOMPARE(fileBytes(path), book);
    }
}

void TestUserData::failedWrite_data()
{
    QTest::addColumn<int>("oldMarks");   // -1: no record before
    QTest::addColumn<int>("newMarks");   // -1: nothing to store

    QTest::newRow("first record") << -1 << 3;
    QTest::newRow("longer record") << 1 << 60;
    QTest::newRow("shorter record") << 60 << 1;
    QTest::newRow("record of about the same length") << 2 << 3;
}

// Every possible point of failure: a write that fails there leaves the file as it was; a
// process that dies there leaves a record that reads as the old one or the new one.
void TestUserData::failedWrite()
{
    QFETCH(int, oldMarks);
    QFETCH(int, newMarks);
    const QByteArray book = fileBytes(testBookPath(QStringLiteral("english.chm")));
    const NoteStore oldNotes = oldMarks < 0 ? NoteStore() : sampleNotes(oldMarks);
    const NoteStore newNotes = newMarks < 0 ? NoteStore() : sampleNotes(newMarks);
    const QStringList oldBookmarks = oldMarks < 0 ? QStringList() : sampleBookmarks;
    const QStringList newBookmarks = sampleBookmarks.mid(0, 2);
    const QByteArray before = book + UserDataRecord::encode(oldNotes, oldBookmarks);

    qint64 total = 0;
    {
        const QString path = copyOf(QString(), before);
        BookUserData data(path);
        QVERIFY(data.writeUserData(newNotes, newBookmarks));
        total = data.bytesWritten();
        QVERIFY(total > 0);
    }

    // Torn records make qUncompress complain; that is expected here.
    static QtMessageHandler previous = nullptr;
    previous = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext& context, const QString& text) {
        if (!text.startsWith(QLatin1String("qUncompress")))
            previous(type, context, text);
    });
    const auto restore = qScopeGuard([] { qInstallMessageHandler(previous); });
    for (BookUserData::Fault fault : {BookUserData::Fault::FailWrite, BookUserData::Fault::Crash}) {
        for (qint64 budget = 0; budget < total; ++budget) {
            const QString path = copyOf(QString(), before);
            BookUserData data(path);
            QVERIFY(data.hasUserData() == (oldMarks >= 0));
            data.setFault(fault, budget);
            QVERIFY(!data.writeUserData(newNotes, newBookmarks));
            const QByteArray after = fileBytes(path);
            QCOMPARE(after.left(book.size()), book);
            if (fault == BookUserData::Fault::FailWrite) {
                QCOMPARE(after, before);
                continue;
            }
            NoteStore notes;
            QStringList bookmarks;
            BookUserData reader(path);
            reader.readUserData(&notes, &bookmarks);
            const bool isOld = notes == oldNotes && bookmarks == oldBookmarks;
            const bool isNew = notes == newNotes && bookmarks == newBookmarks;
            if (!isOld && !isNew)
                QFAIL(qPrintable(QStringLiteral("crash after %1 bytes loses the record").arg(budget)));
            // The next close leaves exactly one record again.
            QVERIFY(reader.writeUserData(newNotes, newBookmarks));
            QCOMPARE(fileBytes(path), book + UserDataRecord::encode(newNotes, newBookmarks));
        }
    }
}

void TestUserData::damaged_data()
{
    QTest::addColumn<QByteArray>("tail");
    QTest::addColumn<Decoded>("decoded");
    QTest::addColumn<QStringList>("pages");
    QTest::addColumn<QStringList>("bookmarks");

    const QByteArray good = UserDataRecord::encode(sampleNotes(), sampleBookmarks);
    const QStringList goodPages{"/intro.htm", "/sub/глава.htm"};
    const QByteArray one = pageEntry(QStringLiteral("/a.htm"), {{1, 2}});
    const QByteArray strings = beString("t1") + beString("/p1") + beString("t2") + beString("/p2");
    QByteArray noise(300, Qt::Uninitialized);
    QRandomGenerator rng(1979);
    for (char& c : noise)
        c = char(rng.bounded(256));

    QTest::newRow("whole") << good << Decoded::Complete << goodPages << sampleBookmarks;
    QTest::newRow("bytes behind the block are ignored")
        << good + "junk" << Decoded::Complete << goodPages << sampleBookmarks;
    QTest::newRow("foreign bytes") << QByteArray("PK\x03\x04 data") << Decoded::NotARecord << QStringList()
                                   << QStringList();
    QTest::newRow("cut inside the magic") << good.left(5) << Decoded::NotARecord << QStringList() << QStringList();
    QTest::newRow("cut inside the header") << good.left(14) << Decoded::Damaged << QStringList() << QStringList();
    QTest::newRow("cut inside the block") << good.left(good.size() - 3) << Decoded::Damaged << QStringList()
                                          << QStringList();
    QTest::newRow("random bytes after the magic")
        << good.left(8) + noise << Decoded::Damaged << QStringList() << QStringList();
    QTest::newRow("block size beyond the data")
        << header(0xFFFFFFF0u) + good.mid(20) << Decoded::Damaged << QStringList() << QStringList();
    QTest::newRow("block that does not uncompress")
        << recordOfBlock(be32(200) + noise.left(40)) << Decoded::Damaged << QStringList() << QStringList();
    QTest::newRow("block claiming 4 GiB")
        << recordOfBlock(be32(0xFFFFFFF0u) + qCompress(QByteArray(8, '\0')).mid(4)) << Decoded::Damaged
        << QStringList() << QStringList();
    QTest::newRow("page count 2^31, one page there")
        << recordOfPayload(be32(0x80000000u) + one) << Decoded::Damaged << QStringList{"/a.htm"} << QStringList();
    QTest::newRow("mark count beyond the data")
        << recordOfPayload(be32(2) + one + beString("/b.htm") + be32(0x10000000u) + be32(1) + be32(2) + be32(0))
        << Decoded::Damaged << QStringList{"/a.htm"} << QStringList();
    QTest::newRow("odd string byte count in a path")
        << recordOfPayload(be32(1) + be32(3) + "abc" + be32(0) + be32(0)) << Decoded::Damaged << QStringList()
        << QStringList();
    QTest::newRow("string count 2^31 in 40 bytes")
        << recordOfPayload(be32(0) + be32(0x80000000u) + strings.left(26) + beString("x")) << Decoded::Damaged
        << QStringList() << QStringList{"t1", "/p1", "t2", "x"};
    QTest::newRow("odd string count")
        << recordOfPayload(be32(1) + one + be32(3) + strings.left(26)) << Decoded::Damaged
        << QStringList{"/a.htm"} << QStringList{"t1", "/p1"};
    QTest::newRow("string longer than the data")
        << recordOfPayload(be32(0) + be32(2) + beString("t1") + be32(0x7FFFFFFE) + "ab") << Decoded::Damaged
        << QStringList() << QStringList();
    QTest::newRow("no string count") << recordOfPayload(be32(1) + one) << Decoded::Damaged
                                     << QStringList{"/a.htm"} << QStringList();
    QTest::newRow("negative marks are dropped")
        << recordOfPayload(be32(1) + pageEntry("/a.htm", {{-1, 4}, {3, -2}, {4, 6}}) + be32(0))
        << Decoded::Complete << QStringList{"/a.htm"} << QStringList();
    QTest::newRow("repeated page merges")
        << recordOfPayload(be32(2) + one + one + be32(0)) << Decoded::Complete << QStringList{"/a.htm"}
        << QStringList();

    // What a writer that died while replacing a record leaves: a torn record, a copy at the end.
    const QByteArray copy = UserDataRecord::encode({}, {"t1", "/p1"});
    QByteArray torn = good;
    torn.replace(30, 10, QByteArray(10, '\x55'));
    QTest::newRow("torn record, whole copy at the end")
        << torn + QByteArray(7, '\0') + copy << Decoded::Complete << QStringList() << QStringList{"t1", "/p1"};
    QTest::newRow("torn record, copy not at the end")
        << torn + copy + "x" << Decoded::Damaged << QStringList() << QStringList();
    QTest::newRow("torn record, torn copy")
        << torn + copy.left(copy.size() - 1) + "x" << Decoded::Damaged << QStringList() << QStringList();
}

void TestUserData::damaged()
{
    QFETCH(QByteArray, tail);
    QFETCH(Decoded, decoded);
    QFETCH(QStringList, pages);
    QFETCH(QStringList, bookmarks);

    QElapsedTimer timer;
    timer.start();
    NoteStore readNotes;
    QStringList readBookmarks;
    QCOMPARE(UserDataRecord::decode(tail, &readNotes, &readBookmarks), decoded);
    QVERIFY2(timer.elapsed() < 200, qPrintable(QString::number(timer.elapsed())));
    QStringList readPages;
    for (const PageNotes& page : std::as_const(readNotes)) {
        readPages << page.path;
        for (const NoteMark& mark : page.marks)
            QVERIFY(mark.start >= 0 && mark.length >= 0);
    }
    QCOMPARE(readPages, pages);
    QCOMPARE(readBookmarks, bookmarks);
    if (QByteArray(QTest::currentDataTag()) == "negative marks are dropped")
        QCOMPARE(readNotes.first().marks, (QVector<NoteMark>{{4, 6}}));
    if (QByteArray(QTest::currentDataTag()) == "repeated page merges")
        QCOMPARE(readNotes.first().marks, (QVector<NoteMark>{{1, 2}, {1, 2}}));
}

void TestUserData::damagedInFile()
{
    // A damaged record loads what is sound and stays byte for byte until the reader agrees to
    // replace it; then the next close replaces it with one whole record.
    const QByteArray book = fileBytes(testBookPath(QStringLiteral("english.chm")));
    const QByteArray one = pageEntry(QStringLiteral("/a.htm"), {{1, 2}});
    const QString path = copyOf(QString(), book + recordOfPayload(be32(1) + one + be32(3) + beString("t") + beString("/p")));
    BookUserData data(path);
    QVERIFY(data.hasUserData());
    NoteStore notes;
    QStringList bookmarks;
    QVERIFY(!data.readUserData(&notes, &bookmarks));
    NoteStore expected;
    expected.addMark(QStringLiteral("/a.htm"), NoteMark{1, 2});
    QCOMPARE(notes, expected);
    QCOMPARE(bookmarks, (QStringList{"t", "/p"}));
    QCOMPARE(data.stored(), BookUserData::Stored::Unreadable);
    const QByteArray damaged = fileBytes(path);
    QVERIFY(data.sameAsRead(notes, bookmarks));
    for (const QStringList& marks : {bookmarks, QStringList()}) {
        QVERIFY(!data.writeUserData(notes, marks));
        QVERIFY(data.errorString().contains("could not be read"));
        QCOMPARE(fileBytes(path), damaged);
    }
    data.setReplaceUnreadable(true);
    QVERIFY(data.writeUserData(notes, bookmarks));
    QCOMPARE(fileBytes(path), book + UserDataRecord::encode(notes, bookmarks));
}

// Two processes save different records into the same copy of a book, 200 times each, while the
// test reads it again and again: every read finds the unchanged container and one whole record,
// and in the end the book holds the last record of one of the writers. First the test holds the
// book's lock itself: a writer that cannot take it fails as busy, having written nothing.
void TestUserData::concurrentSaves()
{
    QTemporaryDir dir(fastTempPattern());
    const QByteArray book = fileBytes(testBookPath(QStringLiteral("english.chm")));
    const QString path = dir.filePath(QStringLiteral("shared.chm"));
    QVERIFY(putFile(path, book + UserDataRecord::encode(sampleNotes(), sampleBookmarks)));
    const QByteArray before = fileBytes(path);

    {
        const int held = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
        QVERIFY(held >= 0 && ::flock(held, LOCK_EX) == 0);
        BookUserData data(path);
        QVERIFY(data.hasUserData());
        data.setLockTimeout(100);
        QVERIFY(!data.writeUserData({}, {QStringLiteral("t"), QStringLiteral("/p")}));
        QCOMPARE(data.errorString(), QStringLiteral("the book is busy: another window is saving notes into it"));
        QCOMPARE(data.bytesWritten(), qint64(0));
        ::close(held);
        QCOMPARE(fileBytes(path), before);
    }

    constexpr int rounds = 200;
    QProcess a, b;
    for (QProcess* p : {&a, &b}) {
        p->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p->start(QCoreApplication::applicationFilePath(),
                 {QStringLiteral("--save-loop"), path, p == &a ? QStringLiteral("a") : QStringLiteral("b"),
                  QString::number(rounds)});
    }
    // Meanwhile a reader sees, each time, the container and exactly one whole record behind it.
    int observed = 0;
    QElapsedTimer clock;
    clock.start();
    while (!(a.state() == QProcess::NotRunning || a.waitForFinished(1))
           || !(b.state() == QProcess::NotRunning || b.waitForFinished(1))) {
        QVERIFY(clock.elapsed() < 120000);
        BookUserData reader(path);
        reader.setLockTimeout(30000);
        NoteStore notes;
        QStringList bookmarks;
        QVERIFY2(reader.readUserData(&notes, &bookmarks), qPrintable(QString::number(observed)));
        QCOMPARE(reader.userDataBytes(), UserDataRecord::encode(notes, bookmarks));
        QCOMPARE(reader.declaredLength(), qint64(book.size()));
        ++observed;
    }
    qInfo("%d states seen while the writers ran", observed);
    for (QProcess* p : {&a, &b}) {
        QCOMPARE(p->exitStatus(), QProcess::NormalExit);
        QCOMPARE(p->exitCode(), 0);
    }

    const QByteArray after = fileBytes(path);
    QCOMPARE(after.left(book.size()), book);
    const QByteArray record = after.mid(book.size());
    const QByteArray lastA = UserDataRecord::encode(roundNotes("a", rounds - 1), roundBookmarks("a", rounds - 1));
    const QByteArray lastB = UserDataRecord::encode(roundNotes("b", rounds - 1), roundBookmarks("b", rounds - 1));
    QVERIFY2(record == lastA || record == lastB, qPrintable(record.toHex()));
}

// While one book is being saved again and again, the path is flipped between it and another book
// by renames. Every save fails, or lands in the book that was opened; the other book never
// changes by a byte.
void TestUserData::renamedDuringSave()
{
    QTemporaryDir dir(fastTempPattern());
    const QByteArray bookA = fileBytes(testBookPath(QStringLiteral("english.chm")));
    const QByteArray bookB = fileBytes(testBookPath(QStringLiteral("russian.chm")));
    QVERIFY(!bookA.isEmpty() && !bookB.isEmpty());
    const QByteArray path = QFile::encodeName(dir.filePath(QStringLiteral("book.chm")));
    const QByteArray keepA = QFile::encodeName(dir.filePath(QStringLiteral("a.keep")));
    const QByteArray keepB = QFile::encodeName(dir.filePath(QStringLiteral("b.keep")));
    const QByteArray swap = QFile::encodeName(dir.filePath(QStringLiteral("swap.chm")));
    QVERIFY(putFile(QFile::decodeName(path), bookA));
    QVERIFY(putFile(QFile::decodeName(keepB), bookB));
    QCOMPARE(::link(path.constData(), keepA.constData()), 0);

    BookUserData data(QFile::decodeName(path));
    QVERIFY(!data.hasUserData());

    std::atomic<bool> stop{false};
    std::thread flipper([&] {
        for (int i = 0; !stop; ++i) {
            ::link(i % 2 ? keepA.constData() : keepB.constData(), swap.constData());
            ::rename(swap.constData(), path.constData());
            ::unlink(swap.constData());   // left when both names were the same file already
        }
    });
    QByteArray landed;   // the last record a save reported
    int saved = 0, refused = 0;
    for (int round = 0; round < 200; ++round) {
        const NoteStore notes = roundNotes(QStringLiteral("a"), round);
        const QStringList bookmarks = roundBookmarks(QStringLiteral("a"), round);
        if (data.writeUserData(notes, bookmarks)) {
            landed = UserDataRecord::encode(notes, bookmarks);
            ++saved;
        } else {
            QVERIFY2(data.errorString().contains(QLatin1String("replaced")), qPrintable(data.errorString()));
            ++refused;
        }
    }
    stop = true;
    flipper.join();
    qInfo("%d saves landed in the opened book, %d were refused", saved, refused);

    QCOMPARE(fileBytes(QFile::decodeName(keepB)), bookB);
    QCOMPARE(fileBytes(QFile::decodeName(keepA)), bookA + landed);
}

void TestUserData::hostile_data()
{
    QTest::addColumn<QByteArray>("tail");
    QTest::addColumn<Decoded>("decoded");
    QTest::addColumn<int>("pages");
    QTest::addColumn<int>("marks");

    constexpr qint64 MiB = qint64(1) << 20;
    const QByteArray gibOfZeros = HostileRecords::zeroBlock({}, 1024 * MiB, {});
    const QByteArray gibClaiming30 = HostileRecords::zeroBlock({}, 1024 * MiB, {}, 30 * MiB);
    QTest::newRow("1 GiB of zeros") << HostileRecords::record(gibOfZeros) << Decoded::Damaged << 0 << 0;
    QTest::newRow("1 GiB of zeros claiming 30 MiB")
        << HostileRecords::record(gibClaiming30) << Decoded::Damaged << 0 << 0;
    QTest::newRow("eight nested copies") << HostileRecords::nested(gibClaiming30, 8) << Decoded::Damaged << 0 << 0;
    QTest::newRow("50 million marks") << HostileRecords::record(HostileRecords::marksBlock(50000000))
                                      << Decoded::Damaged << 0 << 0;
    QTest::newRow("50 million marks claiming 30 MiB")
        << HostileRecords::record(HostileRecords::marksBlock(50000000, 30 * MiB)) << Decoded::Damaged << 0 << 0;
    QTest::newRow("2 million marks, within the cap")
        << HostileRecords::record(HostileRecords::marksBlock(2000000)) << Decoded::Complete << 1 << 2000000;
    QTest::newRow("100,000 pages") << HostileRecords::manyPages(100000) << Decoded::Complete << 100000 << 100000;
}

// Records made to cost time and memory read within the cap, in under a second each.
void TestUserData::hostile()
{
    QFETCH(QByteArray, tail);
    QFETCH(Decoded, decoded);
    QFETCH(int, pages);
    QFETCH(int, marks);

    QElapsedTimer clock;
    clock.start();
    NoteStore notes;
    QStringList bookmarks;
    QCOMPARE(UserDataRecord::decode(tail, &notes, &bookmarks), decoded);
    const qint64 elapsed = clock.elapsed();
    qInfo("%s: %lld ms", QTest::currentDataTag(), elapsed);
    QVERIFY2(elapsed < 1000, qPrintable(QString::number(elapsed)));
    QCOMPARE(notes.size(), pages);
    qsizetype markCount = 0;
    for (const PageNotes& page : std::as_const(notes))
        markCount += page.marks.size();
    QCOMPARE(markCount, qsizetype(marks));
    QCOMPARE(bookmarks.size(), pages == 100000 ? 2 * pages : 0);
}

// Run with "--save-loop <book> <writer> <rounds>", the program is one of concurrentSaves' writers.
int main(int argc, char** argv)
{
    if (argc == 5 && qstrcmp(argv[1], "--save-loop") == 0)
        return saveLoop(QFile::decodeName(argv[2]), QString::fromLocal8Bit(argv[3]), QByteArray(argv[4]).toInt());
    QCoreApplication app(argc, argv);
    TestUserData test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_userdata.moc"
