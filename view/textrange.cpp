#include "textrange.h"

#include <algorithm>

TextRange::TextRange(const QString& pageText, int start, int end) : m_text(pageText)
{
    setRange(start, end);
}

int TextRange::clamp(qint64 position) const
{
    return int(std::clamp<qint64>(position, 0, m_text.size()));
}

QString TextRange::text() const
{
    return m_text.mid(m_start, m_end - m_start);
}

int TextRange::moveStart(int count)
{
    const int before = m_start;
    m_start = clamp(qint64(m_start) + count);
    if (m_start > m_end)
        m_end = m_start;
    return m_start - before;
}

int TextRange::moveEnd(int count)
{
    const int before = m_end;
    m_end = clamp(qint64(m_end) + count);
    if (m_end < m_start)
        m_start = m_end;
    return m_end - before;
}

void TextRange::setRange(int start, int end)
{
    m_start = clamp(start);
    m_end = clamp(end);
    if (m_end < m_start)
        std::swap(m_start, m_end);
}

bool TextRange::findText(const QString& needle)
{
    if (needle.isEmpty())
        return false;
    const qsizetype at = m_text.indexOf(needle, m_start, Qt::CaseSensitive);
    if (at < 0)
        return false;
    m_start = int(at);
    m_end = int(at + needle.size());
    return true;
}
