#pragma once

#include <QString>

#include <functional>

class MainWindow;

// True when a command-line argument names a book: it ends in a dot and the letters c, h, m,
// each in either case ("Guide.CHM", "/books/a b/x.cHm"). Nothing else about the text counts.
bool isBookName(const QString& text);

// The help book installed with the program whose executable lies in programFolder
// ("<prefix>/bin" gives "<prefix>/share/pagewick/Help.chm"). Relative to the program, so an
// installed tree that is moved elsewhere still finds its book.
QString installedHelpBook(const QString& programFolder);

// The book opened when the command line names none: "Help.chm" in the current folder; when
// there is none there, installedBook (the menu starts the program in the home folder); when
// that is missing too, "Help.chm" again, so the missing book is reported under its usual name.
QString defaultBookPath(const QString& installedBook);

// Where a caller may look in while the program starts: right after the application object
// exists, and once the window (or the not-a-book warning) is on screen, before the event loop.
struct StartupHooks
{
    std::function<void()> applicationCreated;
    std::function<void(MainWindow* window)> shown;  // null window with the not-a-book warning
};

// The whole program: reads the command line (parseCommandLine), opens the book named there
// (defaultBookPath() without one) at the topic named there in the main window and runs the
// event loop. Returns the exit status: "--help" prints its text and ends with 0 and a malformed
// option with 2, both without a window.
int runPagewick(int argc, char** argv, const StartupHooks& hooks = {});
