// Help context numbers and topic names: what a program asks a book for when it opens it at a
// topic. Read through the facade's own bounded object reads.

#include "lchmfile.h"
#include "lchmfileimpl.h"

#include <QtEndian>

namespace {

// The little-endian 32-bit number at offset; false when its four bytes are not all in data.
// (To be replaced by the shared bounded reader once the book layer has one.)
bool readLe32(const QByteArray& data, qsizetype offset, quint32* out)
{
    if (offset < 0 || offset > data.size() - 4)
        return false;
    *out = qFromLittleEndian<quint32>(data.constData() + offset);
    return true;
}

// The zero-ended string at offset; empty when the offset lies outside the strings.
QByteArray stringAt(const QByteArray& strings, quint32 offset)
{
    if (offset >= quint32(strings.size()))
        return {};
    const qsizetype end = strings.indexOf('\0', qsizetype(offset));
    return strings.mid(qsizetype(offset), end < 0 ? -1 : end - qsizetype(offset));
}

} // namespace

bool LCHMFile::hasObject(const QString& path) const
{
    ItsfUnit unit;
    return !path.isEmpty() && m_impl->resolvePath(path, &unit);
}

QString LCHMFile::objectNamedBy(const QString& name) const
{
    QString path = name;
    path.replace(QLatin1Char('\\'), QLatin1Char('/'));
    QString fragment;
    if (const qsizetype hash = path.indexOf(QLatin1Char('#')); hash >= 0) {
        fragment = path.mid(hash);
        path.truncate(hash);
    }
    const QStringList steps = path.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    for (qsizetype first = 0; first < steps.size(); ++first) {
        const QString tail = QLatin1Char('/') + steps.mid(first).join(QLatin1Char('/'));
        if (hasObject(tail))
            return tail + fragment;
    }
    return {};
}

QString LCHMFile::topicForContext(quint32 context)
{
    QByteArray table;
    quint32 declared = 0;
    if (!readFileBytes(&table, QStringLiteral("/#IVB")) || !readLe32(table, 0, &declared))
        return {};
    // The count claims the bytes of the pairs behind it; the object's own length bounds it.
    const qsizetype end = 4 + std::min<qsizetype>(qsizetype(declared), table.size() - 4);
    for (qsizetype at = 4; at + 8 <= end; at += 8) {
        quint32 number = 0;
        quint32 offset = 0;
        readLe32(table, at, &number);
        readLe32(table, at + 4, &offset);
        if (number != context)
            continue;
        QByteArray strings;
        if (!readFileBytes(&strings, QStringLiteral("/#STRINGS")))
            return {};
        const QByteArray name = stringAt(strings, offset);
        return name.isEmpty() ? QString() : objectNamedBy(decodeText(name));
    }
    return {};
}
