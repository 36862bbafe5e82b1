#pragma once

#include "textrange.h"

#include <QString>

// The compact form of a text, the form in which a page's text and a selection are compared
// when a note is located: plain spaces dropped first, then "\r\n" pairs. Tabs, lone line
// feeds and other white space stay.
QString compactText(QString text);

// Where a selection was found again: a start and a length in the page's characters, the
// numbers a note is stored as.
struct NoteLocation
{
    int start = -1;         // -1 when the selection was not found
    int length = -1;
    int steps = 0;          // correcting steps that ran
    QString selectedText;   // the compact text of the selection
    bool found() const { return start >= 0; }
    // A selection without a visible character is no passage to mark: it is not looked for.
    bool isPassage() const;
};

// Finds the reader's selection again as a range placed "start" characters after the page's
// start and "length" characters long whose compact text equals the selection's.
//
// pageText is the compact text of the whole page as captured when it loaded; selection is
// the reader's selection over the page's characters. Spaces in front of the selection are
// left out of it. The selection's compact text, with 20 compact characters of context on
// each side, is looked up in pageText, and a range is placed at the characters found; when
// its compact text differs from the selection's (the page text is not the one the selection
// was made in), it is corrected step by step, at most 36 steps. Every loop is bounded:
// widening the range to find the selection again stops when the range covers the whole page.
NoteLocation locateNote(const QString& pageText, TextRange selection);

namespace NoteLocator {
constexpr int kContextCharacters = 20;
constexpr int kWideningCharacters = 10;
constexpr int kMaxCorrectingSteps = 36;
} // namespace NoteLocator
