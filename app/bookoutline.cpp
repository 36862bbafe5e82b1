#include "bookoutline.h"

#include "lchmfile.h"
#include "textindex.h"

BookOutline readBookOutline(const QString& path)
{
    BookOutline outline;
    outline.path = path;
    LCHMFile book;
    if (!book.openBook(path)) {
        outline.errorString = book.errorString();
        return outline;
    }
    outline.opened = true;
    // The contents are read before the home page is chosen, since they may name it.
    book.parseContents(&outline.contents);
    outline.homePage = book.homePage();
    if (outline.homePage.isEmpty() || outline.homePage == QLatin1String("/")) {
        for (const LCHMParsedEntry& entry : std::as_const(outline.contents)) {
            if (!entry.urls.isEmpty() && !entry.urls.constFirst().isEmpty()) {
                outline.homePage = entry.urls.constFirst();
                break;
            }
        }
    }
    outline.searchable = book.hasSearchWords() || !TextIndex::htmlPages(book).isEmpty();
    return outline;
}
