#include "bookoutline.h"

#include "backgroundrunner.h"
#include "lchmfile.h"
#include "textindex.h"

#include <algorithm>

namespace {

bool namesNoPage(const QString& homePage)
{
    return homePage.isEmpty() || homePage == QLatin1String("/");
}

// Reads the outline of an open book; `headRead` is called once the book is open, with what
// is known then.
template <typename HeadRead>
BookOutline readOutline(const QString& path, HeadRead&& headRead)
{
    BookOutline outline;
    LCHMFile book;
    if (!book.openBook(path)) {
        outline.errorString = book.errorString();
        headRead(outline);
        return outline;
    }
    outline.opened = true;
    const QString defaultTopic = book.homePage();
    outline.homePage = namesNoPage(defaultTopic) ? QString() : defaultTopic;
    headRead(outline);
    // A book that names no default topic opens on its first contents entry that leads
    // somewhere, not on a page saying that "/" is not in the book.
    book.parseContents(&outline.contents);
    if (outline.homePage.isEmpty()) {
        const auto& entries = outline.contents;
        const auto leads = std::find_if(entries.cbegin(), entries.cend(), [](const LCHMParsedEntry& entry) {
            return !entry.urls.isEmpty() && !entry.urls.constFirst().isEmpty();
        });
        outline.homePage = leads == entries.cend() ? defaultTopic : leads->urls.constFirst();
    }
    outline.searchable = book.hasSearchWords() || !TextIndex::htmlPages(book).isEmpty();
    return outline;
}

} // namespace

BookOutline readBookOutline(const QString& path)
{
    return readOutline(path, [](const BookOutline&) {});
}

void readBookOutlineInStages(BackgroundRunner& runner, QObject* context, const QString& path,
                             std::function<void(const BookOutline&)> opened, std::function<void(BookOutline)> read)
{
    runner.run(
        BackgroundRunner::Lane::Normal, context,
        [path, opened = std::move(opened)](const BackgroundRunner::Task& task) {
            return readOutline(path, [&](const BookOutline& head) { task.deliver([opened, head] { opened(head); }); });
        },
        std::move(read));
}
