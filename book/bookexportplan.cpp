#include "bookexportplan.h"

#include "booklocation.h"
#include "lchmfile.h"

#include <QCoreApplication>
#include <QHash>
#include <QSet>
#include <QUrl>

#include <algorithm>

namespace {

bool isHtmlPage(const QString& path)
{
    return path.endsWith(QLatin1String(".htm"), Qt::CaseInsensitive)
        || path.endsWith(QLatin1String(".html"), Qt::CaseInsensitive);
}

QString withoutFragment(const QString& target)
{
    return target.left(target.indexOf(QLatin1Char('#')));
}

// Adds an outline item for `entry` and its page (once per page) to the plan.
class PlanBuilder
{
public:
    PlanBuilder(LCHMFile& book, BookExportPlan* plan) : m_book(book), m_plan(plan) {}

    void add(const QString& title, const QStringList& urls, int depth)
    {
        BookExportPlan::OutlineItem item{title, depth, -1};
        const QString target = urls.isEmpty() ? QString() : withoutFragment(urls.first());
        if (target.startsWith(QLatin1Char('/')) && !isWholeUrl(target)) {
            const QString key = bookPageKey(target);
            const auto known = m_pageOfKey.constFind(key);
            if (known != m_pageOfKey.cend()) {
                item.page = *known;
            } else if (m_book.hasObject(QUrl::fromPercentEncoding(target.toUtf8()))) {
                item.page = int(m_plan->pages.size());
                m_plan->pages.append({target, title});
                m_pageOfKey.insert(key, item.page);
            } else if (!m_plan->missingTargets.contains(target)) {
                m_plan->missingTargets.append(target);
            }
        }
        m_plan->outline.append(item);
    }
    bool named(const QString& path) const { return m_pageOfKey.contains(bookPageKey(path)); }

private:
    LCHMFile& m_book;
    BookExportPlan* m_plan;
    QHash<QString, int> m_pageOfKey;
};

QString tr(const char* text)
{
    return QCoreApplication::translate("BookExport", text);
}

} // namespace

QString bookPageKey(const QString& target)
{
    QString page = QUrl::fromPercentEncoding(withoutFragment(target).toUtf8());
    page.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return makeAbsolutePath(page).toLower();
}

bool planBookExport(const QString& bookPath, const BookChapter& chapter, BookExportPlan* plan, QString* error,
                    int maxEntries)
{
    *plan = BookExportPlan();
    LCHMFile book;
    if (!book.openBook(bookPath)) {
        *error = QStringLiteral("%1: %2").arg(bookPath, book.errorString());
        return false;
    }
    plan->bookTitle = book.bookTitle();
    PlanBuilder builder(book, plan);
    QStringList files;
    book.listFiles(&files);

    QVector<LCHMParsedEntry> contents;
    if (book.parseContents(&contents) && !contents.isEmpty()) {
        qsizetype first = 0;
        qsizetype end = contents.size();
        if (!chapter.isWholeBook()) {
            const QString wanted = bookPageKey(chapter.page);
            first = chapter.entry < contents.size() ? chapter.entry : -1;
            for (qsizetype i = 0; i < contents.size() && first < 0 && chapter.entry < 0; ++i) {
                for (const QString& url : std::as_const(contents.at(i).urls)) {
                    if (bookPageKey(url) == wanted)
                        first = i;
                }
            }
            if (first < 0) {
                *error = chapter.entry >= 0 ? tr("The contents has no entry %1.").arg(chapter.entry)
                                            : tr("The contents has no entry for %1.").arg(chapter.page);
                return false;
            }
            end = first + 1;
            while (end < contents.size() && contents.at(end).indent > contents.at(first).indent)
                ++end;
        }
        if (maxEntries > 0)
            end = std::min(end, first + maxEntries);
        const int base = contents.at(first).indent;
        for (qsizetype i = first; i < end; ++i)
            builder.add(contents.at(i).name, contents.at(i).urls, std::max(0, contents.at(i).indent - base));
        for (const QString& file : std::as_const(files)) {
            if (isHtmlPage(file) && !builder.named(file))
                ++plan->pagesLeftOut;
        }
        // A chapter leaves out the rest of the book by design; only pages nothing names count.
        if (!chapter.isWholeBook())
            plan->pagesLeftOut = 0;
    } else if (!chapter.isWholeBook()) {
        *error = tr("The book has no contents, so it has no chapter %1.").arg(chapter.page);
        return false;
    } else {
        QVector<LCHMParsedEntry> index;
        if (book.parseIndex(&index)) {
            if (maxEntries > 0 && index.size() > maxEntries)
                index.resize(maxEntries);
            for (const LCHMParsedEntry& entry : std::as_const(index))
                builder.add(entry.firstName.isEmpty() ? entry.name : entry.firstName, entry.urls, entry.indent);
        }
        for (const QString& file : std::as_const(files)) {
            if (!isHtmlPage(file) || !file.startsWith(QLatin1Char('/')) || builder.named(file))
                continue;
            const QString title = book.topicTitleForUrl(file);
            builder.add(title.isEmpty() ? file.mid(1) : title, {file}, 0);
        }
    }
    if (plan->pages.isEmpty()) {
        *error = tr("The book has no pages to print.");
        return false;
    }
    return true;
}
