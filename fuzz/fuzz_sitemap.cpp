// Feeds arbitrary text to the contents sitemap scanner, the quoted-value reader and the
// entity decoder, and checks what they promise about their output.

#include "lchmfileimpl.h"

#include <QtGlobal>

#include <cstdint>
#include <cstdlib>
#include <memory>

namespace {

void discardMessages(QtMsgType, const QMessageLogContext&, const QString&) {}

// One book object per codec, so that entities decode through each.
LCHMFileImpl& bookFor(uint8_t selector)
{
    static const char* const codecNames[] = { nullptr, "CP1252", "CP1251", "UTF-8", "GB18030" };
    constexpr size_t count = sizeof(codecNames) / sizeof(codecNames[0]);
    static std::unique_ptr<LCHMFileImpl> books[count];
    const size_t index = selector % count;
    if (!books[index]) {
        books[index] = std::make_unique<LCHMFileImpl>();
        if (codecNames[index])
            books[index]->setUpCodec(codecNames[index]);
    }
    return *books[index];
}

void check(bool condition)
{
    if (!condition)
        std::abort();
}

void parse(LCHMFileImpl& book, const QString& text)
{
    QVector<LCHMParsedEntry> out;
    book.parseSitemapText(text, &out);
    for (const LCHMParsedEntry& e : out) {
        check(e.indent >= 0 && e.indent < 256);
        check(e.imageNumber == -2 || (e.imageNumber >= 0 && e.imageNumber <= 41));
        check(!e.name.isNull());
        QStringList urls = e.urls;
        check(urls.removeDuplicates() == 0);
    }
}

void quoted(LCHMFileImpl& book, const QString& text, int start)
{
    for (const bool firstQuote : { true, false }) {
        for (const bool decode : { true, false }) {
            QString value;
            const int end = book.findStringInQuotes(text, start, value, firstQuote, decode);
            check(end == -1 || (end > 0 && end <= text.size()));
            check(end != -1 || value.isEmpty());
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    qInstallMessageHandler(discardMessages);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    LCHMFileImpl& book = bookFor(data[0]);
    const int start = int(data[1]) - 8;  // a few negative starts too
    const auto* bytes = reinterpret_cast<const char*>(data + 2);
    const qsizetype length = qsizetype(size - 2);

    const QString latin1 = QString::fromLatin1(bytes, length);
    const QString utf8 = QString::fromUtf8(bytes, length);
    for (const QString& text : { latin1, utf8, book.decodeText(QByteArray(bytes, length)) }) {
        parse(book, text);
        quoted(book, text, start);
    }
    book.decodeEntity(utf8);
    return 0;
}
