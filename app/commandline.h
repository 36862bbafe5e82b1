#pragma once

#include <QString>
#include <QStringList>

#include <optional>

class BookLocation;

// What the command line asks for. Only the first argument that is not an option counts, as it
// always did; "--help" (or "-h") and "--context N" / "--context=N" are the options, and "--"
// ends them. The first argument names:
// - a book, as before: any text that isBookName accepts, used as it stands (a name with "::"
//   counts as a book only when that file exists);
// - a topic of a book: "BOOK.chm::/path.htm#fragment", "mk:@MSITStore:BOOK.chm::/path.htm",
//   "ms-its:BOOK.chm::/path.htm" or "its:…", read by BookLocation. Percent-escapes are decoded
//   once, in the book and in the topic; a relative BOOK is taken against the current folder;
//   the book must be named like one. A "file:" URL names its local file (the desktop may hand
//   files over so).
// "--context N" (decimal, or hexadecimal after "0x") asks for the topic the book maps the help
// context number N to; it stands in for a topic written in the first argument.
// "--export-pdf OUT.pdf" (or "--export-pdf=OUT.pdf") asks, instead of a window, for the book
// turned into one PDF at OUT.pdf; "--chapter IN-BOOK-PATH" (or "--chapter=…") narrows it to
// the contents entry of that page and all under it, and needs "--export-pdf". The export needs
// a book named as a plain file (a topic in it is not taken as the chapter).
struct StartRequest
{
    enum class Kind {
        Open,       // open bookPath (the default book when empty) at topic / context
        Help,       // print commandLineHelp() and end
        NotABook,   // the first argument names no book: the not-a-book warning
        ExportPdf,  // write bookPath as one PDF to exportPath (chapter: only that branch), no window
        Invalid     // a malformed option: print error and end with status 2
    };
    Kind kind = Kind::Open;
    QString bookPath;
    // The in-book path and "#fragment" asked for, as a BookLocation path holds it; empty for
    // the book's own start (the home page, or where the reader left it).
    QString topic;
    std::optional<quint32> context;
    QString exportPath;
    QString chapter;
    QString error;
};

// arguments: the program's arguments after its name.
StartRequest parseCommandLine(const QStringList& arguments);

// The text "--help" prints: usage, the forms of the first argument and the options.
QString commandLineHelp();

// The link to a place in a book that parseCommandLine reads back to the same place:
// "BOOK.chm::/path.htm#fragment" with the book's absolute path, its '%' and "::" escaped so
// that decoding once gives the name back. Empty for a place outside any book.
QString topicLink(const QString& bookPath, const BookLocation& place);
