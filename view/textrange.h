#pragma once

#include <QString>

// A stretch of a page's characters, held as two offsets into the text captured from the page
// when it finished loading (see BrowserControl::pageText). Moving its ends, reading its text
// and finding text in it never touch the page; painting a range and reading the reader's
// selection do, through BrowserControl.
//
// The ends always satisfy 0 <= start() <= end() <= the length of the text.
class TextRange
{
public:
    TextRange() = default;
    // A range over the given page text; the ends are clamped into it.
    explicit TextRange(const QString& pageText, int start = 0, int end = 0);

    int start() const { return m_start; }
    int end() const { return m_end; }
    int length() const { return m_end - m_start; }
    bool isCollapsed() const { return m_start == m_end; }
    const QString& pageText() const { return m_text; }

    // The characters between the ends.
    QString text() const;

    // Moves the start by count characters (negative: towards the page start), stopping at the
    // page's ends; a start moved beyond the end takes the end along. Returns the number of
    // characters actually moved (negative when moved backwards).
    int moveStart(int count);
    // Moves the end likewise; an end moved before the start takes the start along.
    int moveEnd(int count);
    // Places the range; the ends are clamped and put in order.
    void setRange(int start, int end);
    // Both ends to the start of the page.
    void collapseToPageStart() { m_start = m_end = 0; }

    // Looks for needle (case-sensitive) from the range's start to the end of the page. When
    // found, the range covers the match and the result is true; otherwise the range stays.
    // An empty needle is never found.
    bool findText(const QString& needle);

    friend bool operator==(const TextRange& a, const TextRange& b)
    {
        return a.m_start == b.m_start && a.m_end == b.m_end && a.m_text == b.m_text;
    }
    friend bool operator!=(const TextRange& a, const TextRange& b) { return !(a == b); }

private:
    int clamp(qint64 position) const;

    QString m_text;
    int m_start = 0;
    int m_end = 0;
};
