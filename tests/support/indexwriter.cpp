// The full-text index encoder of the tests; see indexwriter.h.

#include "indexwriter.h"

#include "chmwriter.h"
#include "lchmfile.h"

#include <QRegularExpression>
#include <QTextCodec>

#include <algorithm>

namespace {

constexpr int kListsStart = 0x40;

} // namespace

void appendVarInt(QByteArray& out, quint32 v)
{
    do {
        const char low = char(v & 0x7F);
        v >>= 7;
        out.append(v ? char(low | 0x80) : low);
    } while (v);
}

void putLe16(QByteArray& data, int at, quint16 v)
{
    data[at] = char(v & 0xFF);
    data[at + 1] = char(v >> 8);
}

void putLe32(QByteArray& data, int at, quint32 v)
{
    for (int i = 0; i < 4; ++i)
        data[at + i] = char((v >> (8 * i)) & 0xFF);
}

BuiltIndex buildIndex(const IndexShape& shape)
{
    BuiltIndex built;
    QByteArray lists;
    struct LeafEntry { QByteArray word; QByteArray tail; };
    QVector<LeafEntry> entries;
    auto addEntry = [&](const QByteArray& word, const QVector<Posting>& postings, bool title) {
        // Location codes: each position as the distance from the one before in the topic.
        BitWriter bits;
        int previous = 0;
        for (const Posting& posting : postings) {
            bits.align();
            bits.putScaleRoot(quint64(posting.topic - previous), shape.docRoot);
            previous = posting.topic;
            bits.putScaleRoot(quint64(posting.locations.size()), shape.codeRoot);
            quint64 position = 0;
            for (quint64 next : posting.locations) {
                bits.putScaleRoot(next - position, shape.locRoot);
                position = next;
            }
        }
        const QByteArray list = bits.bytes();
        const quint32 offset = quint32(kListsStart + lists.size());
        lists += list;

        QByteArray tail;
        tail.append(title ? '\1' : '\0');
        const bool damaged = !title;
        appendVarInt(tail, damaged ? shape.countOverride.value(word, quint32(postings.size())) : quint32(postings.size()));
        appendLe32(tail, damaged ? shape.offsetOverride.value(word, offset) : offset);
        appendLe16(tail, 0);
        appendVarInt(tail, damaged ? shape.sizeOverride.value(word, quint32(list.size())) : quint32(list.size()));
        entries.append({word, tail});
    };
    QList<QByteArray> allWords = shape.words.keys() + shape.titleWords.keys();
    std::sort(allWords.begin(), allWords.end());
    allWords.erase(std::unique(allWords.begin(), allWords.end()), allWords.end());
    for (const QByteArray& word : std::as_const(allWords)) {
        const bool body = shape.words.contains(word), title = shape.titleWords.contains(word);
        if (title && shape.titleEntriesFirst)
            addEntry(word, shape.titleWords.value(word), true);
        if (body)
            addEntry(word, shape.words.value(word), false);
        if (title && !shape.titleEntriesFirst)
            addEntry(word, shape.titleWords.value(word), true);
    }

    const quint32 nodesStart = quint32((kListsStart + lists.size() + 15) & ~15);
    QVector<QByteArray> nodes;   // in file order from nodesStart
    auto nodeOffset = [&](int index) { return nodesStart + quint32(index) * shape.nodeSize; };

    // Front coding: P is the prefix shared with the entry before in the same node.
    auto frontCode = [](const QByteArray& word, const QByteArray& before) {
        int prefix = 0;
        while (prefix < word.size() && prefix < before.size() && prefix < 255
               && word[prefix] == before[prefix])
            ++prefix;
        QByteArray out;
        out.append(char(word.size() - prefix + 1));
        out.append(char(prefix));
        out.append(word.mid(prefix));
        return out;
    };

    struct Child { QByteArray lastWord; quint32 offset; };
    QVector<Child> children;
    QVector<quint32> leafOffsets;
    {
        QByteArray body, before;
        int count = 0;
        QByteArray lastWord;
        auto closeLeaf = [&]() {
            QByteArray node(int(shape.nodeSize), '\0');
            putLe16(node, 6, quint16(shape.nodeSize - 8 - body.size()));
            node.replace(8, body.size(), body);
            leafOffsets.append(nodeOffset(nodes.size()));
            children.append({lastWord, nodeOffset(nodes.size())});
            nodes.append(node);
            body.clear();
            before.clear();
            count = 0;
        };
        for (const LeafEntry& e : entries) {
            QByteArray coded = frontCode(e.word, before) + e.tail;
            if (count > 0 && (count >= shape.leafCapacity || 8 + body.size() + coded.size() > int(shape.nodeSize))) {
                closeLeaf();
                coded = frontCode(e.word, before) + e.tail;
            }
            Q_ASSERT(8 + coded.size() <= int(shape.nodeSize));
            body += coded;
            before = e.word;
            lastWord = e.word;
            ++count;
        }
        if (count > 0)
            closeLeaf();
        // Chain the leaves as a real index does (the reader ignores it).
        for (int i = 0; i + 1 < leafOffsets.size(); ++i)
            putLe32(nodes[i], 0, leafOffsets[i + 1]);
    }
    built.levels.prepend(leafOffsets);

    while (children.size() > 1) {
        QVector<Child> parents;
        QVector<quint32> levelOffsets;
        QByteArray body, before, lastWord;
        int count = 0;
        auto closeNode = [&]() {
            QByteArray node(int(shape.nodeSize), '\0');
            putLe16(node, 0, quint16(shape.nodeSize - 2 - body.size()));
            node.replace(2, body.size(), body);
            levelOffsets.append(nodeOffset(nodes.size()));
            parents.append({lastWord, nodeOffset(nodes.size())});
            nodes.append(node);
            body.clear();
            before.clear();
            count = 0;
        };
        for (const Child& child : std::as_const(children)) {
            QByteArray entryTail;
            appendLe32(entryTail, child.offset);
            appendLe16(entryTail, 0);
            QByteArray coded = frontCode(child.lastWord, before) + entryTail;
            if (count > 0 && (count >= shape.indexCapacity || 2 + body.size() + coded.size() > int(shape.nodeSize))) {
                closeNode();
                coded = frontCode(child.lastWord, before) + entryTail;
            }
            body += coded;
            before = child.lastWord;
            lastWord = child.lastWord;
            ++count;
        }
        closeNode();
        built.levels.prepend(levelOffsets);
        children = parents;
    }

    built.depth = built.levels.size();
    built.root = children.isEmpty() ? 0 : children.first().offset;

    QByteArray header(kListsStart, '\0');
    putLe32(header, 0x14, built.root);
    putLe16(header, 0x18, quint16(built.depth));
    header[0x1E] = 2;
    header[0x1F] = char(shape.docRoot);
    header[0x20] = 2;
    header[0x21] = char(shape.codeRoot);
    header[0x22] = 2;
    header[0x23] = char(shape.locRoot);
    putLe32(header, 0x2E, shape.nodeSize);

    built.data = header + lists;
    built.data.append(QByteArray(int(nodesStart) - built.data.size(), '\0'));
    for (const QByteArray& node : std::as_const(nodes))
        built.data += node;
    return built;
}

namespace {

quint32 le32At(const QByteArray& data, qsizetype at)
{
    if (at < 0 || at + 4 > data.size())
        return 0xFFFFFFFFu;
    const auto* p = reinterpret_cast<const uchar*>(data.constData() + at);
    return quint32(p[0]) | (quint32(p[1]) << 8) | (quint32(p[2]) << 16) | (quint32(p[3]) << 24);
}

} // namespace

bool rebuildWithCharacterIndex(const QString& from, const QString& to, QTextCodec* codec)
{
    LCHMFile book;
    QStringList names;
    if (!codec || !book.openBook(from) || !book.listFiles(&names))
        return false;

    QVector<ChmWriterObject> objects;
    for (const QString& name : std::as_const(names)) {
        if (!name.startsWith(QLatin1Char('/')) || name == QLatin1String("/$FIftiMain"))
            continue;
        QByteArray data;
        if (!book.readFileBytes(&data, name))
            data.clear();   // an empty object reads as nothing
        objects.append({name.toUtf8(), data});
    }

    // Topic i: its /#URLTBL entry is named by bytes 8-11 of its /#TOPICS record, its path is
    // the /#URLSTR string behind bytes 8-11 of that entry.
    QByteArray topics, urltbl, urlstr;
    if (!book.readFileBytes(&topics, QStringLiteral("/#TOPICS")) || !book.readFileBytes(&urltbl, QStringLiteral("/#URLTBL"))
        || !book.readFileBytes(&urlstr, QStringLiteral("/#URLSTR")))
        return false;
    static const QRegularExpression tags(QStringLiteral("<[^>]*>"));
    IndexShape shape;
    for (int topic = 0; topic < int(topics.size() / 16); ++topic) {
        const quint32 stringAt = le32At(urltbl, le32At(topics, topic * 16 + 8) + 8);
        if (stringAt >= quint32(urlstr.size()) || urlstr.size() - qsizetype(stringAt) < 8)
            return false;
        const QByteArray path = QByteArray(urlstr.constData() + stringAt + 8);
        QByteArray page;
        if (!book.readFileBytes(&page, QLatin1Char('/') + QString::fromUtf8(path)))
            return false;
        const QString text = codec->toUnicode(page).remove(tags);
        quint64 position = 0;
        for (qsizetype i = 0; i < text.size(); ++i) {
            const QChar c = text.at(i);
            if (c.unicode() < 0x80 || !c.isLetterOrNumber())
                continue;
            QVector<Posting>& postings = shape.words[codec->fromUnicode(QString(c))];
            if (postings.isEmpty() || postings.constLast().topic != topic)
                postings.append(Posting{topic, {}});
            postings.last().locations.append(position++);
        }
    }
    book.closeBook();
    objects.append({"/$FIftiMain", buildIndex(shape).data});
    return writeChmContainer(to, objects);
}
