#include "notelocator.h"

#include <algorithm>
#include <vector>

using namespace NoteLocator;

QString compactText(QString text)
{
    text.remove(QLatin1Char(' '));
    text.remove(QStringLiteral("\r\n"));
    return text;
}

bool NoteLocation::isPassage() const
{
    return std::any_of(selectedText.cbegin(), selectedText.cend(), [](QChar c) { return !c.isSpace(); });
}

namespace {

// Positions in a page's compact text and the page characters they stand for. The page keeps
// every white space of its HTML source, indentation included, so a position found in the
// compact text must be turned into characters before a range is placed there.
class CompactPositions
{
public:
    explicit CompactPositions(const QString& text) : m_size(int(text.size()))
    {
        std::vector<int> kept;
        kept.reserve(text.size());
        for (int i = 0; i < m_size; ++i) {
            if (text.at(i) != QLatin1Char(' '))
                kept.push_back(i);
        }
        m_characters.reserve(kept.size());
        for (size_t i = 0; i < kept.size(); ++i) {
            if (text.at(kept[i]) == QLatin1Char('\r') && i + 1 < kept.size() && text.at(kept[i + 1]) == QLatin1Char('\n')) {
                ++i;
                continue;
            }
            m_characters.push_back(kept[i]);
        }
    }

    // The number of compact characters before a character position.
    int compactBefore(int position) const
    {
        return int(std::lower_bound(m_characters.begin(), m_characters.end(), position) - m_characters.begin());
    }
    // The character position of a compact position; the page's ends outside the compact text.
    int character(int compactPosition) const
    {
        if (compactPosition < 0)
            return 0;
        if (compactPosition >= int(m_characters.size()))
            return m_size;
        return m_characters[size_t(compactPosition)];
    }

private:
    int m_size;
    std::vector<int> m_characters;   // the position of each compact character
};

// A range over the page's characters, placed and widened as locating needs.
class Placement
{
public:
    explicit Placement(const QString& pageCharacters) : m_range(pageCharacters) {}

    // "start" characters after the page's start, "length" long; the moves stop at the page's
    // ends. Answers the compact text of the range.
    QString place(int start, int length)
    {
        m_range.collapseToPageStart();
        m_range.moveStart(start);
        m_range.moveEnd(length);
        return compactText(m_range.text());
    }
    QString widen(int count)
    {
        m_range.moveStart(-count);
        m_range.moveEnd(count);
        return compactText(m_range.text());
    }
    bool coversPage() const { return m_range.start() == 0 && m_range.end() == m_range.pageText().size(); }
    const TextRange& range() const { return m_range; }

private:
    TextRange m_range;
};

} // namespace

NoteLocation locateNote(const QString& pageText, TextRange selection)
{
    NoteLocation result;
    const QString& characters = selection.pageText();
    while (!selection.isCollapsed() && characters.at(selection.start()) == QLatin1Char(' '))
        selection.moveStart(1);
    const QString raw = selection.text();
    result.selectedText = compactText(raw);
    if (!result.isPassage())
        return result;
    const QString& selected = result.selectedText;
    const CompactPositions positions(characters);

    // The selection with its context, both sides counted in compact characters.
    const int contextStart = positions.character(positions.compactBefore(selection.start()) - kContextCharacters);
    const int contextEnd = positions.character(positions.compactBefore(selection.end()) + kContextCharacters);
    const QString context = compactText(characters.mid(contextStart, contextEnd - contextStart));
    const int inContext = int(compactText(characters.mid(contextStart, selection.start() - contextStart)).size());
    // A context not found is -1 and enters the sum as it is; the correcting steps follow.
    int start = positions.character(int(pageText.indexOf(context)) + inContext);
    int length = int(raw.size());

    Placement range(characters);
    QString current = range.place(start, length);
    QString previous = current;
    int steps = 0;
    while (current != selected) {
        if (current.isEmpty() || steps >= kMaxCorrectingSteps)
            return result;
        // Widen the range until it holds the selection again; not beyond the whole page.
        while (!current.contains(selected)) {
            if (range.coversPage())
                return result;
            current = range.widen(kWideningCharacters);
        }
        // Where the selection and the last placement stand in the widened range tell how far
        // to move the start (in compact characters), or else the length is one off.
        const int a = int(current.indexOf(selected));
        const int b = int(current.indexOf(previous));
        if (a != b)
            start = positions.character(positions.compactBefore(start) + a - b);
        else
            length += selected.size() > previous.size() ? 1 : -1;
        current = range.place(start, length);
        previous = current;
        ++steps;
    }
    // The numbers of the placement that matched, as the range holds them.
    result.start = range.range().start();
    result.length = range.range().length();
    result.steps = steps;
    return result;
}
