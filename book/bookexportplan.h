#pragma once

#include <QString>
#include <QVector>

// Which pages of a book go into one PDF, in which order, and the outline over them.
//
// Order. Pages come in contents order; a page that several entries name is taken once, at its
// first entry, and later entries lead to it. A chapter takes only its branch: the contents
// entry named by its number in the contents (as parseContents lists it; a heading without a
// page of its own can be a chapter too) or else by its page (the first entry whose target is
// that page, compared by bookPageKey), and all entries under it.
// A book without contents takes its keyword index order (keywords as the outline), then the
// HTML pages of its directory in listing order that the index does not name (titled by the
// book's topic titles). Pages the contents does not name are left out and counted.
//
// Entries that lead out of the book (web addresses, other books) or to objects the book does
// not hold give no page; they stay in the outline, leading nowhere.
struct BookExportPlan
{
    struct Page
    {
        QString path;    // the in-book path, as the contents writes it, without a fragment
        QString title;   // the title of the first entry naming it
    };
    struct OutlineItem
    {
        QString title;
        int depth = 0;   // 0 at the top of the plan
        int page = -1;   // index into pages, or -1
    };
    QVector<Page> pages;
    QVector<OutlineItem> outline;
    QString bookTitle;
    // HTML pages of the book that the plan leaves out (the contents does not name them).
    int pagesLeftOut = 0;
    // Entries whose target the book does not hold.
    QStringList missingTargets;
};

// The key pages compare by: the in-book path without fragment, escapes decoded once, "." and
// ".." steps resolved and ASCII letters in lower case (books find pages regardless of case).
QString bookPageKey(const QString& target);

// Opens the book at bookPath and plans its PDF (or a chapter's), from at most
// maxEntries entries of the contents or index when above 0 (a sample of a large book). False,
// with *error saying why, when the book cannot be opened, has no pages to print, or its
// contents has no entry for chapter.
struct BookChapter
{
    QString page;    // an in-book path
    int entry = -1;  // a number in the contents, which wins over page when 0 or above
    bool isWholeBook() const { return page.isEmpty() && entry < 0; }
};
bool planBookExport(const QString& bookPath, const BookChapter& chapter, BookExportPlan* plan, QString* error,
                    int maxEntries = 0);
