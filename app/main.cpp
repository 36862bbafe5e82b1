// Opens the book named on the command line ("Help.chm" without one) and prints its title, home
// page and table of contents, one entry per line, indented by its level.

#include "lchmfile.h"
#include "lchmparsedentry.h"

#include <QCoreApplication>
#include <QStringList>
#include <QTextStream>
#include <QVector>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    const QString bookPath = args.size() > 1 ? args.at(1) : QStringLiteral("Help.chm");

    QTextStream out(stdout);
    QTextStream err(stderr);

    LCHMFile book;
    if (!book.openBook(bookPath)) {
        err << "pagewick: cannot open the book " << bookPath << '\n';
        return 1;
    }

    out << "Title: " << book.bookTitle() << '\n';
    out << "Home page: " << book.homePage() << '\n';

    QVector<LCHMParsedEntry> contents;
    if (!book.parseContents(&contents)) {
        out << "Contents: none\n";
    } else {
        out << "Contents: " << contents.size() << " entries\n";
        for (const LCHMParsedEntry& entry : std::as_const(contents)) {
            out << QString(2 * (entry.indent + 1), QLatin1Char(' ')) << entry.name;
            if (!entry.urls.isEmpty())
                out << "  -> " << entry.urls.join(QStringLiteral(", "));
            if (entry.imageNumber >= 0)
                out << "  [icon " << entry.imageNumber << ']';
            out << '\n';
        }
    }
    book.closeBook();
    return 0;
}
