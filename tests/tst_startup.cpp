// Start-up: which arguments name a book, and the whole program run as a process of its own
// (this test started again with "--child"), with its boxes answered and its window closed by a
// watcher that reports what it saw on standard output.

#include "mainwindow.h"
#include "startup.h"
#include "testbooks.h"

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
        QTimer::singleShot(200, window, &QWidget::close);
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
                    const QString& program = QCoreApplication::applicationFilePath());

    QTemporaryDir m_dir;
};

QStringList TestStartup::run(const QString& folder, const QStringList& arguments, int* exitCode,
                             const QString& program)
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
    QTest::addColumn<QString>("copyAs");          // the name the test book gets in the folder
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("title");

    QTest::newRow("no argument: the help book") << "Help.chm" << QStringList() << "Pagewick 1.0  - [Help.chm]";
    QTest::newRow("relative, capital ending") << "Guide.CHM" << QStringList{"Guide.CHM"} << "Pagewick 1.0  - [Guide.CHM]";
    QTest::newRow("second argument ignored") << "english.chm" << QStringList{"english.chm", "other.txt"}
                                             << "Pagewick 1.0  - [english.chm]";
}

void TestStartup::bookOpens()
{
    QFETCH(QString, copyAs);
    QFETCH(QStringList, arguments);
    QFETCH(QString, title);

    QTemporaryDir folder;
    QVERIFY(QFile::copy(testBookPath(QStringLiteral("english.chm")), folder.filePath(copyAs)));
    int status = -1;
    const QStringList lines = run(folder.path(), arguments, &status);
    QCOMPARE(lines, QStringList({QStringLiteral("window\t%1\t1").arg(title), "exit\t0"}));
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
    QCOMPARE(lines, QStringList({"window\tPagewick 1.0  - [Help.chm]\t1", "exit\t0"}));
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
