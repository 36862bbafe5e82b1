#include "exportcommand.h"

#include "backgroundrunner.h"
#include "bookpdfexport.h"
#include "browserengine.h"
#include "commandline.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QLoggingCategory>
#include <QPageSize>
#include <QTextStream>

#include <cstdio>

QPageLayout defaultExportLayout()
{
    const bool inches = QLocale::system().measurementSystem() == QLocale::ImperialUSSystem;
    return QPageLayout(QPageSize(inches ? QPageSize::Letter : QPageSize::A4), QPageLayout::Portrait,
                       QMarginsF(10, 10, 10, 10), QPageLayout::Millimeter);
}

int runPdfExportCommand(const StartRequest& request, int argc, char** argv)
{
    QTextStream err(stderr);
    const auto fail = [&err](const QString& reason) {
        err << "pagewick: " << reason << Qt::endl;
        return 1;
    };
    // Reasons that need no page engine come first, before it starts.
    const QFileInfo book(request.bookPath);
    if (!book.exists())
        return fail(QCoreApplication::translate("main", "%1: no such book").arg(request.bookPath));
    const QFileInfo output(request.exportPath);
    const QFileInfo folder(output.absolutePath());
    if (!folder.isDir() || !folder.isWritable() || output.isDir() || (output.exists() && !output.isWritable()))
        return fail(QCoreApplication::translate("main", "%1: cannot write the PDF there").arg(request.exportPath));

    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    prepareBrowserControl();
    QApplication app(argc, argv);
    // Standard error is the reader's here: the engine's report of its set-up is no news to them.
    if (qEnvironmentVariableIsEmpty("QT_LOGGING_RULES"))
        QLoggingCategory::setFilterRules(QStringLiteral("qt.webenginecontext.info=false"));
    BackgroundRunner runner;
    BookPdfExport exporter(runner);
    QObject::connect(&exporter, &BookPdfExport::progress, [&err](int page, int total) {
        err << QCoreApplication::translate("main", "page %1 of %2").arg(page).arg(total) << Qt::endl;
    });
    QObject::connect(&exporter, &BookPdfExport::note, [&err](const QString& text) { err << text << Qt::endl; });
    int status = 1;
    QObject::connect(&exporter, &BookPdfExport::finished, &app, [&](bool ok, const QString& message) {
        err << (ok ? QString() : QStringLiteral("pagewick: ")) << message << Qt::endl;
        status = ok ? 0 : 1;
        app.quit();
    });
    PdfExportRequest job;
    job.bookPath = request.bookPath;
    job.chapter.page = request.chapter;
    job.outputPath = output.absoluteFilePath();
    job.layout = defaultExportLayout();
    exporter.start(job);
    app.exec();
    return status;
}
