#pragma once

#include <QString>
#include <QVector>

// A passage the reader marked: a start and a length in the page's characters.
struct NoteMark
{
    int start = 0;
    int length = 0;
    friend bool operator==(const NoteMark& a, const NoteMark& b) { return a.start == b.start && a.length == b.length; }
};

// The marks of one page, in the order they were made.
struct PageNotes
{
    QString path;  // in-book path of the page
    QVector<NoteMark> marks;
    friend bool operator==(const PageNotes& a, const PageNotes& b) { return a.path == b.path && a.marks == b.marks; }
};

// The notes of the open book: at most one entry per page, in the order of each page's first note.
class NoteStore : public QVector<PageNotes>
{
public:
    bool hasNotesFor(const QString& path) const { return notesFor(path) != nullptr; }
    const PageNotes* notesFor(const QString& path) const
    {
        for (const PageNotes& page : *this) {
            if (page.path == path)
                return &page;
        }
        return nullptr;
    }
    // Appends the mark to the page's entry, or files a new entry for the page.
    void addMark(const QString& path, NoteMark mark)
    {
        for (PageNotes& page : *this) {
            if (page.path == path) {
                page.marks.append(mark);
                return;
            }
        }
        append(PageNotes{path, {mark}});
    }
    // Removes the page's entry with all its marks.
    void eraseNotes(const QString& path)
    {
        removeIf([&path](const PageNotes& page) { return page.path == path; });
    }
};
