#include "startup.h"

#include "browserengine.h"
#include "commandline.h"
#include "exportcommand.h"
#include "mainwindow.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QTextStream>

#include <cstdio>

bool isBookName(const QString& text)
{
    return text.endsWith(QLatin1String(".chm"), Qt::CaseInsensitive);
}

QString installedHelpBook(const QString& programFolder)
{
    return QDir::cleanPath(programFolder + QLatin1Char('/') + QString::fromUtf8(PAGEWICK_HELP_FROM_PROGRAM));
}

QString defaultBookPath(const QString& installedBook)
{
    const QString local = QStringLiteral("Help.chm");
    if (QFileInfo::exists(local) || installedBook.isEmpty() || !QFileInfo::exists(installedBook))
        return local;
    return installedBook;
}

int runPagewick(int argc, char** argv, const StartupHooks& hooks)
{
    // The arguments are taken as the system's 8-bit text.
    QStringList arguments;
    for (int i = 1; i < argc && argv[i]; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    const StartRequest request = parseCommandLine(arguments);
    if (request.kind == StartRequest::Kind::Help || request.kind == StartRequest::Kind::Invalid) {
        QTextStream out(request.kind == StartRequest::Kind::Help ? stdout : stderr);
        out << (request.kind == StartRequest::Kind::Help ? commandLineHelp()
                                                         : QStringLiteral("pagewick: %1\n").arg(request.error));
        return request.kind == StartRequest::Kind::Help ? 0 : 2;
    }

    if (request.kind == StartRequest::Kind::ExportPdf)
        return runPdfExportCommand(request, argc, argv);

    if (request.kind == StartRequest::Kind::NotABook) {
        QApplication app(argc, argv);
        if (hooks.applicationCreated)
            hooks.applicationCreated();
        QMessageBox box(QMessageBox::Warning, QCoreApplication::translate("main", "Pagewick 1.0"),
                        QCoreApplication::translate("main", "Opened file not chm format, Current format did not support."));
        box.show();
        if (hooks.shown)
            hooks.shown(nullptr);
        // Closing the box closes the last window, which ends the loop.
        return app.exec();
    }

    prepareBrowserControl();
    // Ties the windows to pagewick.desktop (its name and icon in the task bar on Wayland).
    QGuiApplication::setDesktopFileName(QStringLiteral("pagewick"));
    QApplication app(argc, argv);
    if (hooks.applicationCreated)
        hooks.applicationCreated();

    const QString bookPath = request.bookPath.isEmpty()
        ? defaultBookPath(installedHelpBook(QCoreApplication::applicationDirPath())) : request.bookPath;
    // The window owns the runner; the book is read on it while the page engine starts.
    MainWindow window;
    window.setStartTopic(request.topic, request.context);
    window.loadBook(bookPath, true);
    if (window.bookUnreadable())
        return 0;
    window.show();
    if (hooks.shown)
        hooks.shown(&window);
    return app.exec();
}
