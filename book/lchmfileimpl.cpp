#include "lchmfileimpl.h"

#include "bytereader.h"

#include <QCoreApplication>

#include <algorithm>

namespace {

constexpr quint64 StringsPageSize = 4096;
constexpr quint64 SystemReadSize = 4096;
// Window definitions are a few hundred bytes each; more than this is not a book's own.
constexpr quint64 MaxWindowsSize = 1ull << 20;
// Metadata tables are read whole; a table claiming more than this is damaged, not large.
constexpr quint64 MaxTableSize = 32ull << 20;
// Objects read whole into memory. Larger ones (possible only in large books, or claimed by a
// damaged one) are refused rather than held; extraction streams objects of any size.
constexpr quint64 MinHeldObjectLimit = 32ull << 20;
constexpr quint64 ChunkSize = 1ull << 20;

QString tr(const char* text)
{
    return QCoreApplication::translate("LCHMFile", text);
}

} // namespace

using ByteReader::le16;
using ByteReader::le32;
using ByteReader::cStringAt;

bool LCHMFileImpl::openBook(const QString& path)
{
    QString bookPath = path;
    if (bookPath.startsWith(QLatin1String("file://")))
        bookPath.remove(0, 7);
    closeBook();

    errorString.clear();
    container = std::make_unique<ItsfArchive>();
    const bool opened = container->openFile(bookPath);
    // The same book, unchanged since an earlier open in this process, is not read again.
    const auto parsed = opened ? LCHMBookCache::instance().find(container->stamp()) : nullptr;
    if (!opened || (!parsed && !container->readDirectory())) {
        errorString = container->errorString();
        container.reset();
        return false;
    }
    fileName = bookPath;
    if (parsed) {
        container->useDirectory(parsed->directory);
        static_cast<LCHMBookMetadata&>(*this) = parsed->metadata;
        reusedParse = true;
        return true;
    }

    readWindowsAndStrings();
    readSystem();
    chooseCodecByLcid();

    tablesValid = resolvePath(QStringLiteral("/#TOPICS"), &topicsUnit)
        && resolvePath(QStringLiteral("/#STRINGS"), &stringsUnit)
        && resolvePath(QStringLiteral("/#URLTBL"), &urltblUnit)
        && resolvePath(QStringLiteral("/#URLSTR"), &urlstrUnit);
    if (tablesValid) {
        // Built when a title is first asked for: opening does not need it. What it may hold
        // follows from the tables it is built from (paths twice, as UTF-16).
        quint64 estimate = 0;
        for (const ItsfUnit* unit : {&topicsUnit, &urltblUnit, &urlstrUnit, &urlstrUnit, &stringsUnit})
            estimate += std::min(unit->length, MaxTableSize);
        topicMap = std::make_shared<LCHMTopicMapSlot>(estimate);
    }
    hasSearchIndex = tablesValid && resolvePath(QStringLiteral("/$FIftiMain"), &searchUnit);

    if (contentsFile.isEmpty() && resolvePath(QStringLiteral("/toc.hhc"), nullptr))
        contentsFile = "/toc.hhc";
    // A book that names no contents file (or keyword index) but carries exactly one at its
    // root uses that one.
    if (contentsFile.isEmpty())
        contentsFile = singleRootFile(".hhc");
    if (indexFile.isEmpty())
        indexFile = singleRootFile(".hhk");

    // What was read is kept only when the file did not change while it was read.
    if (container->unchangedSinceOpen()) {
        auto parsed = std::make_shared<LCHMParsedBook>();
        parsed->directory = container->directory();
        parsed->metadata = *this;
        LCHMBookCache::instance().insert(container->stamp(), std::move(parsed));
    }
    return true;
}

QByteArray LCHMFileImpl::singleRootFile(const char* extension) const
{
    QByteArray found;
    int count = 0;
    for (const ItsfUnit& unit : container->units()) {
        const QByteArray& p = unit.path;
        if (p.startsWith('/') && p.indexOf('/', 1) < 0 && p.toLower().endsWith(extension)) {
            found = p;
            ++count;
        }
    }
    return count == 1 ? found : QByteArray();
}

void LCHMFileImpl::closeBook()
{
    if (!container)
        return;
    container.reset();
    fileName.clear();
    static_cast<LCHMBookMetadata&>(*this) = LCHMBookMetadata();
    reusedParse = false;
}

bool LCHMFileImpl::resolvePath(const QString& path, ItsfUnit* unit) const
{
    if (!container)
        return false;
    const QByteArray local = path.toLocal8Bit();
    if (container->resolve(local, unit))
        return true;
    // listFiles gives names as Latin-1 text; such a name finds its object again by its bytes.
    const QByteArray latin1 = path.toLatin1();
    return latin1 != local && QString::fromLatin1(latin1) == path && container->resolve(latin1, unit);
}

quint64 LCHMFileImpl::readObjectRange(const ItsfUnit& unit, unsigned char* buffer, quint64 offset, quint64 length)
{
    if (!container)
        return 0;
    return container->retrieve(unit, reinterpret_cast<char*>(buffer), offset, length);
}

// /#WINDOWS holds window definitions whose fields point into /#STRINGS; the title, the default
// topic and the contents file come from the last entry that sets each of them.
void LCHMFileImpl::readWindowsAndStrings()
{
    ItsfUnit windows;
    if (!resolvePath(QStringLiteral("/#WINDOWS"), &windows))
        return;
    unsigned char head[8];
    if (readObjectRange(windows, head, 0, 8) < 8)
        return;
    const quint64 count = le32(QByteArrayView(head, 8), 0);
    const quint64 entrySize = le32(QByteArrayView(head, 8), 4);
    // Both are 32-bit, so the product cannot overflow; only the entries really there are read.
    QByteArray entries;
    const quint64 got = container->read(windows, 8, std::min(count * entrySize, MaxWindowsSize), &entries);
    if (got == 0)
        return;

    ItsfUnit strings;
    if (!resolvePath(QStringLiteral("/#STRINGS"), &strings))
        return;

    // The page of /#STRINGS read last; no page starts at all ones.
    QByteArray page;
    quint64 pageStart = ~quint64(0);
    auto stringAt = [&](quint64 offset, QByteArray* out) {
        const quint64 start = offset - offset % StringsPageSize;
        if (start != pageStart) {
            page.clear();
            container->read(strings, start, StringsPageSize, &page);
            pageStart = start;
        }
        *out = cStringAt(page, offset % StringsPageSize).toByteArray();
        return !page.isEmpty();
    };

    // The fields of an entry: the title, the default topic, the contents and the index file.
    const std::pair<quint64, QByteArray*> fields[] = {
        {0x14, &titleBytes}, {0x68, &homePath}, {0x60, &contentsFile}, {0x64, &indexFile}};
    for (quint64 i = 0; i < count && i * entrySize < got; ++i) {
        for (const auto& [field, value] : fields) {
            // 0 for a field beyond the entry's size or the bytes read: nothing there.
            const quint32 offset = field + 4 <= entrySize ? le32(entries, i * entrySize + field) : 0;
            QByteArray text;
            if (offset != 0 && stringAt(offset, &text))
                *value = value == &titleBytes ? text : "/" + text;
        }
    }
}

// /#SYSTEM is a list of records (code, length, data) behind a 4-byte version.
void LCHMFileImpl::readSystem()
{
    ItsfUnit system;
    if (!resolvePath(QStringLiteral("/#SYSTEM"), &system))
        return;
    QByteArray data;
    const qint64 n = qint64(container->read(system, 4, SystemReadSize, &data));
    if (n == 0)
        return;
    data[qsizetype(n - 1)] = '\0';  // a record cut by the read still ends in a terminated string

    for (qint64 pos = 0; pos < n - 3;) {
        const quint32 code = le16(data, quint64(pos));
        const quint32 length = le16(data, quint64(pos) + 2);
        const qint64 at = pos + 4;
        pos = at + length;
        if (at >= n)
            continue;  // the record's data lies beyond what was read
        switch (code) {
        case 0:   // the contents file
        case 1:   // the index file
            if (QByteArray& file = code == 0 ? contentsFile : indexFile; file.isEmpty())
                file = "/" + cStringAt(data, quint64(at)).toByteArray();
            break;
        case 2:
            if (homePath.isEmpty() || homePath == "/")
                homePath = "/" + cStringAt(data, quint64(at)).toByteArray();
            break;
        case 3:
            titleBytes = cStringAt(data, quint64(at)).toByteArray();
            break;
        case 4:
            if (at + 2 <= n)
                lcid = le16(data, quint64(at));
            break;
        case 6:
            for (auto [file, extension] : {std::pair{&contentsFile, ".hhc"}, std::pair{&indexFile, ".hhk"}}) {
                if (!file->isEmpty())
                    continue;
                const QByteArray candidate = "/" + cStringAt(data, quint64(at)).toByteArray() + extension;
                if (container->resolve(candidate, nullptr))
                    *file = candidate;
            }
            break;
        default:
            break;
        }
    }
}

// Topic titles by path: /#TOPICS records point to a title in /#STRINGS and, through /#URLTBL,
// to the topic's path in /#URLSTR.
std::shared_ptr<const LCHMTopicMap> LCHMFileImpl::buildTopicMap() const
{
    QByteArray topics, urltbl, urlstr, strings;
    const std::pair<const ItsfUnit*, QByteArray*> tables[] = {
        {&topicsUnit, &topics}, {&urltblUnit, &urltbl}, {&urlstrUnit, &urlstr}, {&stringsUnit, &strings}};
    for (const auto& [unit, buffer] : tables) {
        if (container->read(*unit, 0, MaxTableSize, buffer) == 0)
            return nullptr;
    }
    // Titles are copied from the pages, in the pages' own encoding, which may be UTF-8
    // whatever language the book declares: the whole table is the evidence for short ones.
    return std::make_shared<const LCHMTopicMap>(topics, urltbl, urlstr, strings, stringTableIsUtf8(strings));
}

QString LCHMFileImpl::bookTitle() const
{
    return decodeText(titleBytes);
}

QString LCHMFileImpl::homePage() const
{
    const QString home = decodeText(homePath);
    return home.isEmpty() ? QStringLiteral("/") : home;
}

bool LCHMFileImpl::parseContents(QVector<LCHMParsedEntry>* out)
{
    return ParseAndFillTopicsTree(QString::fromLatin1(contentsFile), out);
}

bool LCHMFileImpl::readFileBytes(QByteArray* out, const QString& path)
{
    if (!out)
        return false;
    out->clear();
    ItsfUnit unit;
    if (!resolveForReading(path, &unit))
        return false;
    if (unit.length == 0) {
        errorString = tr("%1 is empty.").arg(path);
        return false;
    }
    const quint64 limit = std::max(MinHeldObjectLimit, 4 * container->fileSize());
    if (unit.length > limit) {
        errorString = tr("%1 is too large to be read into memory.").arg(path);
        return false;
    }
    if (container->read(unit, 0, unit.length, out) != unit.length) {
        errorString = container->errorString();
        out->clear();
        return false;
    }
    return true;
}

bool LCHMFileImpl::readFileChunks(const QString& path, const std::function<bool(const QByteArray&)>& sink)
{
    ItsfUnit unit;
    if (!resolveForReading(path, &unit))
        return false;
    QByteArray chunk;
    for (quint64 offset = 0; offset < unit.length;) {
        chunk.clear();
        const quint64 want = std::min(ChunkSize, unit.length - offset);
        if (container->read(unit, offset, want, &chunk) != want) {
            errorString = container->errorString();
            return false;
        }
        if (!sink(chunk)) {
            errorString = tr("%1 could not be written.").arg(path);
            return false;
        }
        offset += want;
    }
    return true;
}

bool LCHMFileImpl::resolveForReading(const QString& path, ItsfUnit* unit)
{
    if (!container) {
        errorString = tr("No book is open.");
        return false;
    }
    if (!resolvePath(path, unit)) {
        errorString = tr("%1 is not in the book.").arg(path);
        return false;
    }
    return true;
}

bool LCHMFileImpl::readFileText(const QString& path, QString* out)
{
    QByteArray data;
    if (!out || !readFileBytes(&data, path) || data.isEmpty())
        return false;
    *out = decodeText(data);
    return true;
}

bool LCHMFileImpl::listFiles(QStringList* out)
{
    if (!out)
        return false;
    out->clear();
    if (!container)
        return false;
    out->reserve(container->units().size());
    for (const ItsfUnit& unit : container->units())
        out->append(QString::fromLatin1(unit.path));
    return true;
}

QString LCHMFileImpl::topicTitleForUrl(const QString& url) const
{
    QByteArray title;
    bool untitled = false;
    const auto map = topics();
    if (!map || !map->titleBytes(url, &title, &untitled))
        return QString();
    return untitled ? QStringLiteral("Untitled") : decodeText(title, map->utf8Titles());
}

std::shared_ptr<const LCHMTopicMap> LCHMFileImpl::topics() const
{
    if (!topicMap || !container)
        return nullptr;
    return topicMap->get([this] { return buildTopicMap(); });
}
