// Fuzzes the reader of the notes-and-bookmarks record behind a book's declared length, and the
// writer that replaces it.
//
// The first input byte picks what the rest is: 0 a payload, 1 the bytes behind the declared
// length, 2 those bytes behind a minimal container in a file, which is then read and written
// back. Whatever is read must write back as exactly one record that reads the same again, and the
// container's bytes must never change. An input that finds a fault belongs in
// tests/tst_userdata.cpp as a test case.

#include "userdata.h"

#include <QByteArray>
#include <QDir>
#include <QFile>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <unistd.h>

namespace {

void check(bool condition)
{
    if (!condition)
        std::abort();
}

// Whatever decoding gives must survive a second trip through the writer unchanged.
void checkRoundTrip(const NoteStore& notes, const QStringList& bookmarks)
{
    if (notes.isEmpty() && bookmarks.isEmpty())
        return;
    NoteStore again;
    QStringList againBookmarks;
    check(UserDataRecord::decode(UserDataRecord::encode(notes, bookmarks), &again, &againBookmarks)
          == UserDataRecord::Decoded::Complete);
    check(again == notes && againBookmarks == bookmarks);
}

// "ITSF" and a declared length of 112 at offset 104: the smallest file the writer accepts.
QByteArray container()
{
    QByteArray head(112, '\0');
    head.replace(0, 4, "ITSF");
    head[104] = char(112);
    return head;
}

void fuzzFile(const QByteArray& tail)
{
    static const QString path =
        QDir::temp().filePath(QStringLiteral("pagewick-fuzz-userdata-%1.chm").arg(::getpid()));
    static const QByteArray head = container();
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return;
        file.write(head + tail);
    }
    BookUserData data(path);
    check(data.hasUserData() == !tail.isEmpty());
    NoteStore notes;
    QStringList bookmarks;
    const bool whole = data.readUserData(&notes, &bookmarks);
    check(bookmarks.size() % 2 == 0);
    const auto contents = [] {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };

    // A record that cannot be read whole stays byte for byte until replacing it is allowed.
    const bool unreadable = data.stored() == BookUserData::Stored::Unreadable;
    check(unreadable == (!whole && tail.startsWith(QByteArray::fromHex("00000000012DFBE1"))));
    if (unreadable) {
        check(!data.writeUserData(notes, bookmarks));
        check(contents() == head + tail);
        data.setReplaceUnreadable(true);
    }
    check(data.writeUserData(notes, bookmarks));

    const QByteArray after = contents();
    check(after.startsWith(head));
    const QByteArray record = UserDataRecord::encode(notes, bookmarks);
    if (!record.isEmpty())
        check(after == head + record);
    else if (tail.startsWith(QByteArray::fromHex("00000000012DFBE1")))
        check(after == head);
    else
        check(after == head + tail);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // Damaged records make zlib complain; that is expected and would only slow the run.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const QByteArray input(reinterpret_cast<const char*>(data) + 1, qsizetype(size - 1));
    NoteStore notes;
    QStringList bookmarks;
    switch (data[0] % 3) {
    case 0:
        UserDataRecord::decodePayload(input, &notes, &bookmarks);
        check(bookmarks.size() % 2 == 0);
        checkRoundTrip(notes, bookmarks);
        break;
    case 1:
        UserDataRecord::decode(input, &notes, &bookmarks);
        check(bookmarks.size() % 2 == 0);
        checkRoundTrip(notes, bookmarks);
        break;
    default:
        fuzzFile(input);
        break;
    }
    return 0;
}
