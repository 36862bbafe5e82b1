#pragma once

#include <QString>
#include <QStringList>

// One entry of a book's table of contents, as the sitemap parser produces it.
struct LCHMParsedEntry
{
    QString name;          // title, trimmed
    QStringList urls;      // absolute in-book targets, no duplicates; may be empty
    int imageNumber = -2;  // icon number 0..41, or -2 when the sitemap gives none
    int indent = 0;        // nesting level, 0 for the level of the first entry
    // The first non-empty Name. In a keyword index it is the keyword; the later Names there
    // title the keyword's targets, and the last would otherwise stand in `name`.
    QString firstName;
};
