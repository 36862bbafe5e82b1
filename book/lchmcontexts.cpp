// Help context numbers and topic names: what a program asks a book for when it opens it at a
// topic. Read through the facade's own bounded object reads.

#include "lchmfile.h"

#include "bytereader.h"
#include "lchmfileimpl.h"

bool LCHMFile::hasObject(const QString& path) const
{
    return !path.isEmpty() && m_impl->resolvePath(path, nullptr);
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
    if (!readFileBytes(&table, QStringLiteral("/#IVB")) || table.size() < 4)
        return {};
    const quint32 declared = ByteReader::le32(table, 0);
    // The count claims the bytes of the pairs behind it; the object's own length bounds it.
    const qsizetype end = 4 + std::min<qsizetype>(qsizetype(declared), table.size() - 4);
    for (qsizetype at = 4; at + 8 <= end; at += 8) {
        const quint32 number = ByteReader::le32(table, quint64(at));
        const quint32 offset = ByteReader::le32(table, quint64(at) + 4);
        if (number != context)
            continue;
        QByteArray strings;
        if (!readFileBytes(&strings, QStringLiteral("/#STRINGS")))
            return {};
        // An offset outside the strings names nothing.
        const QByteArray name = ByteReader::cStringAt(strings, offset).toByteArray();
        return name.isEmpty() ? QString() : objectNamedBy(decodeText(name));
    }
    return {};
}
