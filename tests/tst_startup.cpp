// Start-up: which arguments name a book, and the whole program run as a process of its own
// (this test started again with "--child"), with its boxes answered and its window closed by a
// watcher that reports what it saw on standard output.

#include "booklocation.h"
#include "commandline.h"
#include "mainwindow.h"
#include "startup.h"
#include "testbooks.h"
#include "viewwidget.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <cstdio>

namespace {

void report(const QString& line)
{
    std::fputs(qPrintable(line + QLatin1Char('\n')), stdout);
    std::fflush(stdout);
}

QString iconName(QMessageBox::Icon icon)
{
    switch (icon) {
    case QMessageBox::Warning: return QStringLiteral("Warning");
    case QMessageBox::Critical: return QStringLiteral("Critical");
    case QMessageBox::Information: return QStringLiteral("Information");
    default: return QStringLiteral("other");
    }
}

// The child: the real program, watched. Every message box is reported and answered with its
// OK button; a window that comes up is reported and closed.
int runChild(int argc, char** argv)
{
    QVector<char*> args;
    args.append(const_cast<char*>("pagewick"));
    for (int i = 2; i < argc; ++i)
        args.append(argv[i]);
    args.append(nullptr);
    int childArgc = int(args.size()) - 1;

    StartupHooks hooks;
    hooks.applicationCreated = [] {
        auto* watch = new QTimer(qApp);
        QObject::connect(watch, &QTimer::timeout, [] {
            for (QWidget* widget : QApplication::topLevelWidgets()) {
                auto* box = qobject_cast<QMessageBox*>(widget);
                if (!box || !box->isVisible())
                    continue;
                report(QStringLiteral("box\t%1\t%2\t%3\t%4")
                           .arg(iconName(box->icon()), box->windowTitle(), box->text(),
                                box->parentWidget() ? QStringLiteral("parent") : QStringLiteral("no parent")));
                if (QAbstractButton* ok = box->button(QMessageBox::Ok))
                    ok->click();
                else
                    box->close();
            }
        });
        watch->start(50);
    };
    hooks.shown = [](MainWindow* window) {
        if (!window)
            return;
        report(QStringLiteral("window\t%1\t%2").arg(window->windowTitle()).arg(window->isVisible()));
        // The first page of the book once it is loaded, and the message above it.
        QObject::connect(window->pageView(), &ViewWidget::canNote, window, [window] {
            const BookLocation shown = window->pageView()->shownPlace();
            if (!shown.isValid() || !window->isVisible())
                return;
            report(QStringLiteral("page\t%1\t%2").arg(shown.pathWithFragment(), window->notice()));
            window->close();
        });
        QTimer::singleShot(60000, window, &QWidget::close);
    };
    const int status = runPagewick(childArgc, args.data(), hooks);
    report(QStringLiteral("exit\t%1").arg(status));
    return status;
}

} // namespace

class TestStartup : public QObject
{
    Q_OBJECT

private slots:
    void isBookName_data();
    void isBookName();
    void commandLine_data();
    void commandLine();
    void options_data();
    void options();
    void exportOptions_data();
    void exportOptions();
    void exportFailures_data();
    void exportFailures();
    void exportWritesThePdf();
    void notABook_data();
    void notABook();
    void unreadableBook();
    void bookOpens_data();
    void bookOpens();
    void defaultBook_data();
    void defaultBook();
    void installedHelpBookOpens();

private:
    // Runs the program in folder with the arguments; its report lines, and its exit code.
    // program is this test's executable, or a copy of it.
    QStringList run(const QString& folder, const QStringList& arguments, int* exitCode,
                    const QString& program = QCoreApplication::applicationFilePath(), QString* errors = nullptr);

    QTemporaryDir m_dir;
};

QStringList TestStartup::run(const QString& folder, const QStringList& arguments, int* exitCode,
                             const QString& program, QString* errors)
{
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("QTWEBENGINE_CHROMIUM_FLAGS"), QStringLiteral("--disable-gpu"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_dir.filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("XDG_CACHE_HOME"), m_dir.filePath(QStringLiteral("cache")));   // text indexes
    child.setProcessEnvironment(env);
    child.setWorkingDirectory(folder);
    child.setProcessChannelMode(QProcess::SeparateChannels);
    child.start(program, QStringList{QStringLiteral("--child")} + arguments);
    if (!child.waitForFinished(120000)) {
        child.kill();
        child.waitForFinished();
        *exitCode = -1;
        return {};
    }
    *exitCode = child.exitStatus() == QProcess::NormalExit ? child.exitCode() : -1;
    if (errors)
        *errors = QString::fromLocal8Bit(child.readAllStandardError());
    return QString::fromLocal8Bit(child.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

void TestStartup::isBookName_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("book");
    QTest::newRow("plain") << "guide.chm" << true;
    QTest::newRow("capitals") << "C:/books/Guide.CHM" << true;
    QTest::newRow("mixed case") << "guide.cHm" << true;
    QTest::newRow("spaces and folders") << "/home/a b/my.book.Chm" << true;
    QTest::newRow("the ending alone") << ".chm" << true;
    QTest::newRow("a folder named like a book") << "books.chm/guide" << false;
    QTest::newRow("backup") << "guide.chm.bak" << false;
    QTest::newRow("index file") << "guide.chi" << false;
    QTest::newRow("no ending") << "guide" << false;
    QTest::newRow("no dot") << "guidechm" << false;
    QTest::newRow("trailing space") << "guide.chm " << false;
    QTest::newRow("too short") << "chm" << false;
    QTest::newRow("full-width letters") << QString::fromUtf8("guide.\xEF\xBD\x83hm") << false;
}

void TestStartup::isBookName()
{
    QFETCH(QString, text);
    QFETCH(bool, book);
    QCOMPARE(::isBookName(text), book);
}

void TestStartup::commandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("book");      // "./" stands for the current folder
    QTest::addColumn<QString>("topic");
    QTest::addColumn<qint64>("context");    // -1: none

    const int open = int(StartRequest::Kind::Open);
    const int notABook = int(StartRequest::Kind::NotABook);
    const int invalid = int(StartRequest::Kind::Invalid);
    QTest::newRow("nothing") << QStringList() << open << "" << "" << qint64(-1);
    QTest::newRow("a book, as it stands") << QStringList{"a/../guide.chm"} << open << "a/../guide.chm" << "" << qint64(-1);
    QTest::newRow("relative book and topic") << QStringList{"books/guide.chm::/sub/page.htm"} << open
                                             << "./books/guide.chm" << "/sub/page.htm" << qint64(-1);
    QTest::newRow("fragment, topic without /") << QStringList{"/b/guide.chm::sub/page.htm#part"} << open << "/b/guide.chm"
                                               << "/sub/page.htm#part" << qint64(-1);
    QTest::newRow("mk:@MSITStore:") << QStringList{"mk:@MSITStore:/b/guide.chm::/a.htm"} << open << "/b/guide.chm"
                                    << "/a.htm" << qint64(-1);
    QTest::newRow("ms-its:, any case") << QStringList{"MS-ITS:guide.CHM::/a.htm"} << open << "./guide.CHM" << "/a.htm"
                                       << qint64(-1);
    QTest::newRow("its:, no topic") << QStringList{"its:/b/guide.chm"} << open << "/b/guide.chm" << "" << qint64(-1);
    QTest::newRow("escapes decoded once") << QStringList{"ms-its:/b/My%20Book.chm::/a%20b%2525.htm#x%23y"} << open
                                          << "/b/My Book.chm" << "/a b%2525.htm#x#y" << qint64(-1);
    QTest::newRow("file URL") << QStringList{"file:///b/My%20Book.chm"} << open << "/b/My Book.chm" << "" << qint64(-1);
    QTest::newRow("only the first counts") << QStringList{"/b/a.chm::/a.htm", "/b/c.chm::/c.htm"} << open << "/b/a.chm"
                                           << "/a.htm" << qint64(-1);
    QTest::newRow("a topic of no book") << QStringList{"guide.txt::/a.htm"} << notABook << "" << "" << qint64(-1);
    QTest::newRow("context, decimal") << QStringList{"--context", "42", "g.chm"} << open << "g.chm" << "" << qint64(42);
    QTest::newRow("context, hex, joined") << QStringList{"g.chm", "--context=0xFFFFFFFF"} << open << "g.chm" << ""
                                          << qint64(0xFFFFFFFF);
    QTest::newRow("context without a book") << QStringList{"--context", "0"} << open << "" << "" << qint64(0);
    QTest::newRow("after --, an argument") << QStringList{"--", "--context"} << notABook << "" << "" << qint64(-1);
    QTest::newRow("context not a number") << QStringList{"--context", "two", "g.chm"} << invalid << "" << "" << qint64(-1);
    QTest::newRow("context too large") << QStringList{"--context=4294967296", "g.chm"} << invalid << "" << "" << qint64(-1);
    QTest::newRow("context negative") << QStringList{"--context", "-1"} << invalid << "" << "" << qint64(-1);
    QTest::newRow("context missing") << QStringList{"g.chm", "--context"} << invalid << "" << "" << qint64(-1);
}

void TestStartup::commandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, kind);
    QFETCH(QString, book);
    QFETCH(QString, topic);
    QFETCH(qint64, context);

    if (book.startsWith(QLatin1String("./")))
        book = QDir::current().absoluteFilePath(book.mid(2));
    const StartRequest request = parseCommandLine(arguments);
    QCOMPARE(int(request.kind), kind);
    if (kind != int(StartRequest::Kind::Open))
        return;
    QCOMPARE(request.bookPath, book);
    QCOMPARE(request.topic, topic);
    QCOMPARE(request.context ? qint64(*request.context) : qint64(-1), context);
}

void TestStartup::options_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("firstLine");
    QTest::addColumn<int>("status");

    QTest::newRow("--help") << QStringList{"--help", "guide.chi"} << "Usage: pagewick [--context N] [BOOK]" << 0;
    QTest::newRow("-h") << QStringList{"guide.chm", "-h"} << "Usage: pagewick [--context N] [BOOK]" << 0;
    QTest::newRow("malformed option") << QStringList{"--context", "x"} << "exit\t2" << 2;
}

void TestStartup::options()
{
    // No window and no box: the text goes to the terminal.
    QFETCH(QStringList, arguments);
    QFETCH(QString, firstLine);
    QFETCH(int, status);
    int exitCode = -1;
    const QStringList lines = run(m_dir.path(), arguments, &exitCode);
    QVERIFY(!lines.isEmpty());
    QCOMPARE(lines.constFirst(), firstLine);
    QCOMPARE(lines.constLast(), QStringLiteral("exit\t%1").arg(status));
    QCOMPARE(exitCode, status);
}

void TestStartup::exportOptions_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("output");    // empty: not an export
    QTest::addColumn<QString>("book");
    QTest::addColumn<QString>("chapter");

    QTest::newRow("whole book") << QStringList{"--export-pdf", "out.pdf", "g.chm"} << "out.pdf" << "g.chm" << "";
    QTest::newRow("chapter, joined, in any order") << QStringList{"g.chm", "--chapter=/a/b.htm", "--export-pdf=o.pdf"}
                                                   << "o.pdf" << "g.chm" << "/a/b.htm";
    QTest::newRow("book after --") << QStringList{"--export-pdf", "o.pdf", "--chapter", "/c.htm", "--", "-odd.chm"}
                                   << "o.pdf" << "-odd.chm" << "/c.htm";
    QTest::newRow("no book") << QStringList{"--export-pdf", "o.pdf"} << "" << "" << "";
    QTest::newRow("no output") << QStringList{"g.chm", "--export-pdf"} << "" << "" << "";
    QTest::newRow("chapter alone") << QStringList{"--chapter", "/c.htm", "g.chm"} << "" << "" << "";
    QTest::newRow("a topic is no book") << QStringList{"--export-pdf", "o.pdf", "g.chm::/c.htm"} << "" << "" << "";
    QTest::newRow("not a book") << QStringList{"--export-pdf", "o.pdf", "g.txt"} << "" << "" << "";
}

void TestStartup::exportOptions()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, output);
    QFETCH(QString, book);
    QFETCH(QString, chapter);
    const StartRequest request = parseCommandLine(arguments);
    if (output.isEmpty()) {
        QCOMPARE(int(request.kind), int(StartRequest::Kind::Invalid));
        QVERIFY(!request.error.isEmpty());
        return;
    }
    QCOMPARE(int(request.kind), int(StartRequest::Kind::ExportPdf));
    QCOMPARE(request.exportPath, output);
    QCOMPARE(request.bookPath, book);
    QCOMPARE(request.chapter, chapter);
}

void TestStartup::exportFailures_data()
{
    QTest::addColumn<QStringList>("arguments");   // run in a folder holding "stranger.chm" and "-dash.chm"
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("reason");          // in the last line on standard error

    QTest::newRow("missing book") << QStringList{"--export-pdf", "o.pdf", "gone.chm"} << 1 << "gone.chm: no such book";
    QTest::newRow("not a book inside") << QStringList{"--export-pdf", "o.pdf", "stranger.chm"} << 1 << "stranger.chm";
    QTest::newRow("unwritable output") << QStringList{"--export-pdf", "/proc/no/such/o.pdf", "stranger.chm"} << 1
                                       << "cannot write the PDF there";
    QTest::newRow("output is a folder") << QStringList{"--export-pdf", ".", "stranger.chm"} << 1 << "cannot write the PDF there";
    QTest::newRow("no such chapter") << QStringList{"--chapter", "/nowhere.htm", "--export-pdf", "o.pdf", "--", "-dash.chm"}
                                     << 1 << "no entry for /nowhere.htm";
    QTest::newRow("malformed") << QStringList{"--export-pdf"} << 2 << "--export-pdf needs the PDF file to write";
}

void TestStartup::exportFailures()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QString, reason);
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    QFile stranger(folder.filePath(QStringLiteral("stranger.chm")));
    QVERIFY(stranger.open(QIODevice::WriteOnly));
    stranger.write("plain text, named like a book");
    stranger.close();
    QVERIFY(QFile::copy(testBookPath(QStringLiteral("pdfbook.chm")), folder.filePath(QStringLiteral("-dash.chm"))));
    int exitCode = -1;
    QString errors;
    run(folder.path(), arguments, &exitCode, QCoreApplication::applicationFilePath(), &errors);
    QCOMPARE(exitCode, status);
    const QStringList lines = errors.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QVERIFY(!lines.isEmpty());
    QVERIFY2(lines.constLast().startsWith(QLatin1String("pagewick: ")) && lines.constLast().contains(reason),
             qPrintable(errors));
    QCOMPARE(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden).size(), 2);   // no PDF, no leftovers
}

void TestStartup::exportWritesThePdf()
{
    // A book whose name begins with "-", after "--": the chapter, with progress on standard error.
    QTemporaryDir folder;
    QVERIFY(QFile::copy(testBookPath(QStringLiteral("pdfbook.chm")), folder.filePath(QStringLiteral("-dash.chm"))));
    int exitCode = -1;
    QString errors;
    run(folder.path(), {"--export-pdf", "out.pdf", "--chapter", "/ch1/intro.htm", "--", "-dash.chm"}, &exitCode,
        QCoreApplication::applicationFilePath(), &errors);
    QCOMPARE(exitCode, 0);
    QVERIFY2(errors.contains(QLatin1String("page 3 of 3\n")), qPrintable(errors));
    QVERIFY2(errors.contains(QLatin1String("Wrote 3 pages to ")), qPrintable(errors));
    QVERIFY(QFileInfo(folder.filePath(QStringLiteral("out.pdf"))).size() > 1000);
}

void TestStartup::notABook_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("index file") << QStringList{"guide.chi"};
    QTest::newRow("backup of a book") << QStringList{"guide.chm.bak", "second.chm"};
}

void TestStartup::notABook()
{
    QFETCH(QStringList, arguments);
    int status = 0;
    const QStringList lines = run(m_dir.path(), arguments, &status);
    QCOMPARE(lines, QStringList({"box\tWarning\tPagewick 1.0\tOpened file not chm format, Current format did not support.\tno parent",
                                 "exit\t0"}));
    QCOMPARE(status, 0);
}

void TestStartup::unreadableBook()
{
    // No argument and no Help.chm here: the program says so and ends without a window.
    QTemporaryDir empty;
    int status = -1;
    const QStringList lines = run(empty.path(), {}, &status);
    QCOMPARE(lines, QStringList({"box\tWarning\tPagewick 1.0\tUnknown error, file can not loading\tparent", "exit\t0"}));
    QCOMPARE(status, 0);
}

void TestStartup::bookOpens_data()
{
    QTest::addColumn<QString>("source");          // the test book copied into the folder
    QTest::addColumn<QString>("copyAs");          // the name it gets there
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("page");            // the first page shown, and the message above it
    QTest::addColumn<QString>("notice");

    const auto row = [](const char* name, const char* source, const char* copyAs, const QStringList& arguments,
                        const char* page, const QString& notice = QString()) {
        QTest::newRow(name) << source << copyAs << arguments << QStringLiteral("Pagewick 1.0  - [%1]").arg(QLatin1String(copyAs))
                            << page << notice;
    };
    row("no argument: the help book", "english.chm", "Help.chm", {}, "/index.htm");
    row("relative, capital ending", "english.chm", "Guide.CHM", {"Guide.CHM"}, "/index.htm");
    row("second argument ignored", "english.chm", "english.chm", {"english.chm", "other.txt"}, "/index.htm");
    row("topic with a fragment", "english.chm", "english.chm", {"./english.chm::sub/deep/leaf.htm#top"},
        "/sub/deep/leaf.htm#top");
    row("ms-its: with escapes", "english.chm", "My Book.chm", {"ms-its:My%20Book.chm::/sub/page%2Ehtm"}, "/sub/page.htm");
    row("topic not in the book", "english.chm", "english.chm", {"english.chm::/gone.htm"}, "/index.htm",
        "/gone.htm is not in this book; its home page is shown instead.");
    row("help context", "contexts.chm", "contexts.chm", {"--context", "2", "contexts.chm"}, "/html/dialogs/options.htm");
    row("help context in hex, after the book", "contexts.chm", "contexts.chm", {"contexts.chm", "--context=0x1f4"},
        "/html/general.htm");
    row("help context not in the book", "contexts.chm", "contexts.chm", {"contexts.chm", "--context", "7"}, "/index.htm",
        "Help context 7 is not in this book.");
}

void TestStartup::bookOpens()
{
    QFETCH(QString, source);
    QFETCH(QString, copyAs);
    QFETCH(QStringList, arguments);
    QFETCH(QString, title);
    QFETCH(QString, page);
    QFETCH(QString, notice);

    QTemporaryDir folder;
    QVERIFY(QFile::copy(testBookPath(source), folder.filePath(copyAs)));
    int status = -1;
    const QStringList lines = run(folder.path(), arguments, &status);
    QCOMPARE(lines, QStringList({QStringLiteral("window\t%1\t1").arg(title), QStringLiteral("page\t%1\t%2").arg(page, notice),
                                 "exit\t0"}));
    QCOMPARE(status, 0);
}

void TestStartup::defaultBook_data()
{
    QTest::addColumn<bool>("local");       // Help.chm in the current folder
    QTest::addColumn<bool>("installed");   // the installed help book exists
    QTest::addColumn<bool>("expectInstalled");

    QTest::newRow("both: the current folder's") << true << true << false;
    QTest::newRow("only the current folder's") << true << false << false;
    QTest::newRow("only the installed one") << false << true << true;
    QTest::newRow("neither: reported as Help.chm") << false << false << false;
}

void TestStartup::defaultBook()
{
    QFETCH(bool, local);
    QFETCH(bool, installed);
    QFETCH(bool, expectInstalled);

    QTemporaryDir folder;
    const QString installedBook = folder.filePath(QStringLiteral("share/pagewick/Help.chm"));
    QVERIFY(QDir(folder.path()).mkpath(QStringLiteral("share/pagewick")));
    QVERIFY(QDir(folder.path()).mkpath(QStringLiteral("work")));
    if (local)
        QVERIFY(QFile::copy(testBookPath(QStringLiteral("english.chm")), folder.filePath(QStringLiteral("work/Help.chm"))));
    if (installed)
        QVERIFY(QFile::copy(testBookPath(QStringLiteral("english.chm")), installedBook));

    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(folder.filePath(QStringLiteral("work"))));
    const QString chosen = defaultBookPath(installedBook);
    QDir::setCurrent(previous);
    QCOMPARE(chosen, expectInstalled ? installedBook : QStringLiteral("Help.chm"));
}

void TestStartup::installedHelpBookOpens()
{
    // An installed tree somewhere unusual: the program in <prefix>/bin, its help book in
    // <prefix>/share/pagewick. Started elsewhere with no book, it opens that help book.
    QTemporaryDir prefix;
    QVERIFY(QDir(prefix.path()).mkpath(QStringLiteral("bin")));
    QVERIFY(QDir(prefix.path()).mkpath(QStringLiteral("share/pagewick")));
    QVERIFY(QDir(prefix.path()).mkpath(QStringLiteral("home")));
    const QString program = prefix.filePath(QStringLiteral("bin/pagewick"));
    QVERIFY(QFile::copy(QCoreApplication::applicationFilePath(), program));
    QVERIFY(QFile::copy(testBookPath(QStringLiteral("english.chm")), prefix.filePath(QStringLiteral("share/pagewick/Help.chm"))));

    int status = -1;
    const QStringList lines = run(prefix.filePath(QStringLiteral("home")), {}, &status, program);
    QCOMPARE(lines, QStringList({"window\tPagewick 1.0  - [Help.chm]\t1", "page\t/index.htm\t", "exit\t0"}));
    QCOMPARE(status, 0);
}

int main(int argc, char** argv)
{
    if (argc > 1 && qstrcmp(argv[1], "--child") == 0)
        return runChild(argc, argv);
    QCoreApplication app(argc, argv);
    TestStartup test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_startup.moc"
