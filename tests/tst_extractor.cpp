// Extracting a book into a folder: what is written and where, links and ".." that try to lead
// outside the folder, objects that cannot be written, cancellation, and the dialogs around it.

#include "backgroundrunner.h"
#include "chmwriter.h"
#include "extractdialog.h"
#include "extractor.h"
#include "lchmfile.h"
#include "testbooks.h"

#include <QDirIterator>
#include <QFile>
#include <QProgressDialog>
#include <QPushButton>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QtTest>

#include <atomic>

#include <unistd.h>

namespace {

QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool putFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// Every entry below `root` (files, folders and links), as paths relative to it.
QStringList treeOf(const QString& root)
{
    QStringList entries;
    QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        entries << QDir(root).relativeFilePath(it.next());
    entries.sort();
    return entries;
}

// What extraction should give for a book: every object whose in-book path begins with "/" and
// holds neither "#" nor "$", with its bytes as the book access layer reads them.
QMap<QString, QByteArray> expectedFiles(const QString& bookPath)
{
    QMap<QString, QByteArray> files;
    LCHMFile book;
    if (!book.openBook(bookPath))
        return files;
    QStringList paths;
    book.listFiles(&paths);
    for (const QString& path : paths) {
        if (!path.startsWith(QLatin1Char('/')) || path.contains(QLatin1Char('#')) || path.contains(QLatin1Char('$'))
            || path.endsWith(QLatin1Char('/')))
            continue;
        QByteArray bytes;
        book.readFileBytes(&bytes, path);
        files.insert(QFile::decodeName(path.toLatin1()).mid(1), bytes);
    }
    return files;
}

void checkExtracted(const QString& bookPath, const QString& target)
{
    const QMap<QString, QByteArray> expected = expectedFiles(bookPath);
    QVERIFY(!expected.isEmpty());
    for (auto it = expected.begin(); it != expected.end(); ++it) {
        const QString file = QDir(target).filePath(it.key());
        QVERIFY2(QFileInfo(file).isFile(), qPrintable(it.key()));
        QVERIFY2(fileBytes(file) == it.value(), qPrintable(it.key()));
    }
    for (const QString& entry : treeOf(target)) {
        QVERIFY2(!entry.contains(QLatin1Char('#')) && !entry.contains(QLatin1Char('$')), qPrintable(entry));
        QVERIFY2(QFileInfo(QDir(target).filePath(entry)).isDir() || expected.contains(entry), qPrintable(entry));
    }
}

// A book shaped by hand: paths that try to leave the folder, an empty object, folder entries,
// metadata, and names that clash with what the tests put into the folder beforehand.
QVector<ChmWriterObject> craftedObjects()
{
    return {
        {"/#SYSTEM", QByteArray(20, '\0')},
        {"/$FIftiMain", "index"},
        {"::DataSpace/NameList", "names"},
        {"/index.htm", "<p>index</p>"},
        {"/../escape.htm", "up one"},
        {"/a/../../b/escape2.htm", "up two"},
        {"/sub\\..\\..\\x.htm", "backslashes"},
        {"/empty.txt", ""},
        {"/folder/", ""},
        {"/deep/er/", ""},
        {"/link/inner.htm", "through a folder link"},
        {"/linkfile.htm", "replaces a file link"},
        {"/hard.htm", "replaces a hard link"},
        {"/blocked/file.htm", "under a file that is in the way"},
        {"/dirfile.htm", "where a folder is in the way"},
        {"/after.htm", "after the failures"},
        {"/\xC3\xA9t\xC3\xA9.htm", "utf-8 name"},
    };
}

// Runs an interactive extraction on a runner of its own until it has told the reader how it
// went; no value when none was started.
std::optional<ExtractionResult> extractAndWait(QWidget* parent, const QString& book, ExtractDialogHooks hooks)
{
    BackgroundRunner runner;
    std::optional<ExtractionResult> result;
    hooks.finished = [&](const ExtractionResult& finished) { result = finished; };
    if (extractBookInteractively(parent, runner, book, hooks))
        static_cast<void>(QTest::qWaitFor([&] { return result.has_value(); }, 60000));
    return result;
}

} // namespace

Q_DECLARE_METATYPE(QVector<ChmWriterObject>)

class TestExtractor : public QObject
{
    Q_OBJECT

private slots:
    void targetParts_data();
    void targetParts();
    void compiledBook();
    void sharedBooks_data();
    void sharedBooks();
    void staysInsideTheFolder();
    void interactive();
    void interactiveCancel();
    void onWorker();
    void summary_data();
    void summary();
    void deepFolders();

private:
    QTemporaryDir m_dir;
};

void TestExtractor::targetParts_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QStringList>("parts");
    QTest::addColumn<bool>("folder");

    QTest::newRow("page") << QByteArray("/index.htm") << QStringList{"index.htm"} << false;
    QTest::newRow("image in a folder") << QByteArray("/images/a.gif") << QStringList{"images", "a.gif"} << false;
    QTest::newRow("folder entry") << QByteArray("/images/") << QStringList{"images"} << true;
    QTest::newRow("root entry") << QByteArray("/") << QStringList{} << false;
    QTest::newRow("#SYSTEM") << QByteArray("/#SYSTEM") << QStringList{} << false;
    QTest::newRow("$FIftiMain") << QByteArray("/$FIftiMain") << QStringList{} << false;
    QTest::newRow("$ folder") << QByteArray("/$WWKeywordLinks/BTree") << QStringList{} << false;
    QTest::newRow("# in a folder name") << QByteArray("/c#/x.htm") << QStringList{} << false;
    QTest::newRow("container metadata") << QByteArray("::DataSpace/NameList") << QStringList{} << false;
    QTest::newRow("no leading slash") << QByteArray("index.htm") << QStringList{} << false;
    QTest::newRow("leading ..") << QByteArray("/../../etc/passwd") << QStringList{"etc", "passwd"} << false;
    QTest::newRow("inner ..") << QByteArray("/a/../b.htm") << QStringList{"a", "b.htm"} << false;
    QTest::newRow("last part ..") << QByteArray("/a/..") << QStringList{"a"} << false;
    QTest::newRow("dots and empty parts") << QByteArray("//./x//y") << QStringList{"x", "y"} << false;
    QTest::newRow("backslashes removed") << QByteArray("/sub\\..\\x.htm") << QStringList{"sub..x.htm"} << false;
    QTest::newRow("backslash .. removed") << QByteArray("/\\..\\/x") << QStringList{"x"} << false;
    QTest::newRow("nul byte") << QByteArray("/a\0b", 4) << QStringList{} << false;
}

void TestExtractor::targetParts()
{
    QFETCH(QByteArray, path);
    QFETCH(QStringList, parts);
    QFETCH(bool, folder);
    bool isFolder = !folder;
    QStringList got;
    for (const QByteArray& part : BookExtractor::targetParts(path, &isFolder))
        got << QString::fromLatin1(part);
    QCOMPARE(got, parts);
    if (!parts.isEmpty())
        QCOMPARE(isFolder, folder);
}

// Byte for byte as the book access layer reads it, and as the HTML sources were written.
void TestExtractor::compiledBook()
{
    const QString book = testBookPath(QStringLiteral("english.chm"));
    const QString target = m_dir.filePath(QStringLiteral("english"));
    QVERIFY(QDir().mkpath(target));
    const ExtractionResult result = BookExtractor::extract(book, target);
    QCOMPARE(result.status, ExtractionResult::Finished);
    QCOMPARE(result.failed, 0);
    QVERIFY(result.skipped > 0);
    QCOMPARE(result.written + result.skipped + result.failed + result.folderEntries, result.listed);
    QVERIFY(result.folderEntries >= 2);
    checkExtracted(book, target);

    const QDir sources(QFINDTESTDATA("books/english"));
    QVERIFY(sources.exists());
    int compared = 0;
    QDirIterator it(sources.path(), {"*.htm", "*.css", "*.gif"}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString source = it.next();
        const QString relative = sources.relativeFilePath(source);
        QVERIFY2(fileBytes(QDir(target).filePath(relative)) == fileBytes(source), qPrintable(relative));
        ++compared;
    }
    QVERIFY(compared >= 8);
    QVERIFY(QFileInfo(QDir(target).filePath(QStringLiteral("sub/deep/leaf.htm"))).isFile());
}

void TestExtractor::sharedBooks_data()
{
    QTest::addColumn<QString>("name");
    const QStringList names{"7zip-zh-cn.chm", "autohotkey-ko.chm", "chesspeer-tr.chm", "filmcollection-ru.chm",
                            "fpc-fpdoc.chm", "fpc-toc.chm", "halibut-putty.chm", "halibut-puzzles.chm",
                            "keepass.chm", "stepmap-ru.chm", "supertexttoolbox-zh.chm"};
    for (const QString& name : names)
        QTest::newRow(qPrintable(name)) << name;
}

// Real books, into a folder whose name holds "#" and "$".
void TestExtractor::sharedBooks()
{
    QFETCH(QString, name);
    const QString book = sharedBookPath(name);
    if (book.isEmpty())
        QSKIP("real books not available");
    const QString target = m_dir.filePath(QStringLiteral("C# $out/") + QFileInfo(book).completeBaseName());
    QVERIFY(QDir().mkpath(target));
    const ExtractionResult result = BookExtractor::extract(book, target);
    QCOMPARE(result.status, ExtractionResult::Finished);
    QCOMPARE(result.failed, 0);
    QVERIFY(result.written > 0);
    checkExtracted(book, target);
}

void TestExtractor::staysInsideTheFolder()
{
    const QString root = m_dir.filePath(QStringLiteral("inside"));
    const QString outside = root + QStringLiteral("/outside");
    const QString target = root + QStringLiteral("/target");
    QVERIFY(QDir().mkpath(outside) && QDir().mkpath(target));
    const QString book = root + QStringLiteral("/crafted.chm");
    QVERIFY(writeChmContainer(book, craftedObjects()));

    // Links inside the folder that point out of it, and things in the way.
    QVERIFY(putFile(outside + "/victim.htm", "victim") && putFile(outside + "/hard.htm", "hard"));
    QVERIFY(QFile::link(outside, target + "/link"));
    QVERIFY(QFile::link(outside + "/victim.htm", target + "/linkfile.htm"));
    QVERIFY(::link(QFile::encodeName(outside + "/hard.htm").constData(),
                   QFile::encodeName(target + "/hard.htm").constData()) == 0);
    QVERIFY(putFile(target + "/blocked", "a file where a folder should be"));
    QVERIFY(QDir().mkdir(target + "/dirfile.htm"));

    QTest::ignoreMessage(QtWarningMsg, qPrintable("Could not create subdir " + target + "/link\n"));
    QTest::ignoreMessage(QtWarningMsg, qPrintable("Could not create subdir " + target + "/blocked\n"));
    const ExtractionResult result = BookExtractor::extract(book, target);
    QCOMPARE(result.status, ExtractionResult::Finished);
    QCOMPARE(result.listed, craftedObjects().size());
    QCOMPARE(result.skipped, 3);   // #SYSTEM, $FIftiMain, ::DataSpace/NameList
    QCOMPARE(result.failed, 3);
    QCOMPARE(result.failedNames, (QStringList{"/blocked/file.htm", "/dirfile.htm", "/link/inner.htm"}));
    QCOMPARE(result.folderEntries, 2);
    QCOMPARE(result.written, craftedObjects().size() - 6 - 2);

    // Nothing new outside the folder, and nothing outside was written through a link.
    QCOMPARE(treeOf(root), (QStringList{"crafted.chm", "outside", "outside/hard.htm", "outside/victim.htm", "target",
                                        "target/a", "target/a/b", "target/a/b/escape2.htm", "target/after.htm",
                                        "target/blocked", "target/deep", "target/deep/er", "target/dirfile.htm",
                                        "target/empty.txt", "target/escape.htm", "target/folder", "target/hard.htm",
                                        "target/index.htm", "target/link", "target/linkfile.htm",
                                        "target/sub....x.htm", QString::fromUtf8("target/été.htm")}));
    QCOMPARE(fileBytes(outside + "/victim.htm"), QByteArray("victim"));
    QCOMPARE(fileBytes(outside + "/hard.htm"), QByteArray("hard"));
    QVERIFY(QFileInfo(target + "/link").isSymLink());

    QCOMPARE(fileBytes(target + "/escape.htm"), QByteArray("up one"));
    QCOMPARE(fileBytes(target + "/a/b/escape2.htm"), QByteArray("up two"));
    QCOMPARE(fileBytes(target + "/sub....x.htm"), QByteArray("backslashes"));
    QCOMPARE(fileBytes(target + "/linkfile.htm"), QByteArray("replaces a file link"));
    QVERIFY(!QFileInfo(target + "/linkfile.htm").isSymLink());
    QCOMPARE(fileBytes(target + "/hard.htm"), QByteArray("replaces a hard link"));
    QCOMPARE(fileBytes(target + "/after.htm"), QByteArray("after the failures"));
    QCOMPARE(fileBytes(target + QString::fromUtf8("/été.htm")), QByteArray("utf-8 name"));
    QVERIFY(QFileInfo(target + "/empty.txt").isFile());
    QCOMPARE(QFileInfo(target + "/empty.txt").size(), 0);
    QVERIFY(QFileInfo(target + "/folder").isDir());
    QVERIFY(QFileInfo(target + "/deep/er").isDir());
}

void TestExtractor::interactive()
{
    QWidget window;
    QStringList messages;
    QStringList captions;
    QString label;
    int maximum = -1;
    int lastValue = -1;
    bool modal = false;
    QString chosen;
    ExtractDialogHooks hooks;
    hooks.chooseDirectory = [&](QWidget* parent, const QString& caption) {
        captions << caption;
        return parent == &window ? chosen : QString();
    };
    hooks.showMessage = [&](QWidget* parent, bool warning, const QString& text, const QString& detail) {
        messages << QString(parent == &window ? "" : "wrong parent: ") + (warning ? "warning: " : "information: ")
                + text + (detail.isEmpty() ? QString() : " [" + detail + "]");
    };
    hooks.onProgress = [&](QProgressDialog* dialog, int index) {
        label = dialog->labelText();
        maximum = dialog->maximum();
        modal = dialog->isModal() || dialog->windowModality() != Qt::NonModal;
        QCOMPARE(dialog->value(), index);
        QCOMPARE(dialog->parentWidget(), &window);
        lastValue = index;
    };

    // No folder chosen.
    const QString book = testBookPath(QStringLiteral("english.chm"));
    QVERIFY(!extractAndWait(&window, book, hooks).has_value());
    QCOMPARE(captions, QStringList{"Choose a directory to extract current chm file"});
    QCOMPARE(messages, QStringList{"warning: choise a path to extract current file first"});

    // A book that does not open.
    messages.clear();
    chosen = m_dir.filePath(QStringLiteral("interactive"));
    QVERIFY(QDir().mkpath(chosen));
    const QString text = m_dir.filePath(QStringLiteral("broken.chm"));
    QVERIFY(putFile(text, "not a book"));
    QCOMPARE(extractAndWait(&window, text, hooks)->status, ExtractionResult::BookNotOpened);
    QCOMPARE(messages, QStringList{"warning: can not extract current file "
                                   "[The file is not a Compiled HTML Help (CHM) book.]"});
    QVERIFY(treeOf(chosen).isEmpty());

    // A folder that is gone by the time the book opens.
    messages.clear();
    chosen += QStringLiteral("/missing");
    QCOMPARE(extractAndWait(&window, book, hooks)->status, ExtractionResult::NoTarget);
    QCOMPARE(messages, QStringList{"warning: can not extract current file [The folder " + chosen
                                   + " cannot be opened: No such file or directory.]"});
    chosen = QFileInfo(chosen).path();

    // The whole book.
    messages.clear();
    const auto result = extractAndWait(&window, book, hooks);
    QCOMPARE(result->status, ExtractionResult::Finished);
    QCOMPARE(messages, QStringList{"information: Extract accomplished"});
    QCOMPARE(label, QStringLiteral("Extract english.chm"));
    QCOMPARE(maximum, result->listed);
    QCOMPARE(lastValue, result->listed - 1);
    QVERIFY(modal);
    checkExtracted(book, chosen);
}

// Cancelling stops before the next object; what was written stays.
void TestExtractor::interactiveCancel()
{
    const QString book = testBookPath(QStringLiteral("english.chm"));
    QStringList listed;
    {
        LCHMFile file;
        QVERIFY(file.openBook(book));
        file.listFiles(&listed);
    }
    int stopAt = int(listed.size()) - 1;   // the last page the book lists
    while (stopAt > 0 && !listed[stopAt].endsWith(QLatin1String(".htm")))
        --stopAt;
    QVERIFY(stopAt > 0);

    QWidget window;
    QStringList messages;
    const QString chosen = m_dir.filePath(QStringLiteral("interactive-cancel"));
    QVERIFY(QDir().mkpath(chosen));
    ExtractDialogHooks hooks;
    hooks.chooseDirectory = [&](QWidget*, const QString&) { return chosen; };
    hooks.showMessage = [&](QWidget*, bool warning, const QString& text, const QString&) {
        messages << (warning ? "warning: " : "information: ") + text;
    };
    hooks.onProgress = [&](QProgressDialog* dialog, int index) {
        if (index == stopAt)
            dialog->cancel();
    };
    const auto result = extractAndWait(&window, book, hooks);
    QCOMPARE(result->status, ExtractionResult::Cancelled);
    QCOMPARE(messages, QStringList{"information: Extract accomplished"});
    QVERIFY(!QFileInfo::exists(chosen + listed[stopAt]));
    const QMap<QString, QByteArray> expected = expectedFiles(book);
    int kept = 0;
    for (int i = 0; i < stopAt; ++i) {
        if (expected.contains(listed[i].mid(1))) {
            QCOMPARE(fileBytes(chosen + listed[i]), expected.value(listed[i].mid(1)));
            ++kept;
        }
    }
    QCOMPARE(result->written, kept);
}

// The extraction runs on a worker while the window's thread goes on handling its events; the
// reader's cancel in the dialog reaches the worker before its next object.
void TestExtractor::onWorker()
{
    const QString book = testBookPath(QStringLiteral("english.chm"));
    QWidget window;
    QStringList messages;
    QString chosen = m_dir.filePath(QStringLiteral("worker"));
    QVERIFY(QDir().mkpath(chosen));
    std::atomic<int> ticks{0};
    std::atomic<bool> cancelled{false};
    QTimer timer;
    timer.setInterval(1);
    QObject::connect(&timer, &QTimer::timeout, &window, [&] {
        ++ticks;
        // The reader presses Cancel once the dialog is there (only in the second run).
        auto* dialog = window.findChild<QProgressDialog*>();
        auto* button = dialog ? dialog->findChild<QPushButton*>() : nullptr;
        if (button && chosen.endsWith(QLatin1String("cancel"))) {
            button->click();
            cancelled = true;
        }
    });
    timer.start();
    // Waits on the worker until the window's thread has run `count` more timer ticks, or `flag`.
    const auto windowTicks = [&](int count, const std::atomic<bool>* flag = nullptr) {
        const int before = ticks.load();
        QDeadlineTimer deadline(10000);
        while (ticks.load() < before + count && !(flag && *flag) && !deadline.hasExpired())
            QThread::msleep(1);
        return ticks.load() >= before + count || (flag && *flag);
    };

    QThread* worker = nullptr;
    bool answered = false;
    ExtractDialogHooks hooks;
    hooks.chooseDirectory = [&](QWidget*, const QString&) { return chosen; };
    hooks.showMessage = [&](QWidget*, bool warning, const QString& text, const QString&) {
        messages << (warning ? "warning: " : "information: ") + text;
    };
    // An object that takes long to write: the window's thread answers meanwhile.
    hooks.extract = [&](const QString& path, const QString& target, const BookExtractor::Progress& progress) {
        worker = QThread::currentThread();
        answered = windowTicks(3);
        return BookExtractor::extract(path, target, progress);
    };
    auto result = extractAndWait(&window, book, hooks);
    QVERIFY(worker && worker != window.thread());
    QVERIFY(answered);
    QCOMPARE(result->status, ExtractionResult::Finished);
    QCOMPARE(messages, QStringList{"information: Extract accomplished"});
    checkExtracted(book, chosen);

    // The reader cancels while the worker is at its first object: nothing is written.
    messages.clear();
    chosen = m_dir.filePath(QStringLiteral("worker-cancel"));
    QVERIFY(QDir().mkpath(chosen));
    hooks.extract = [&](const QString& path, const QString& target, const BookExtractor::Progress& progress) {
        return BookExtractor::extract(path, target, [&](int index, int count) {
            if (index == 0 && progress(index, count))
                answered = windowTicks(1000000, &cancelled);
            return progress(index, count);
        });
    };
    result = extractAndWait(&window, book, hooks);
    QVERIFY(answered);
    QCOMPARE(result->status, ExtractionResult::Cancelled);
    QCOMPARE(result->written, 0);
    QCOMPARE(messages, QStringList{"information: Extract accomplished"});
    QVERIFY(treeOf(chosen).isEmpty());
}

void TestExtractor::summary_data()
{
    QTest::addColumn<QVector<ChmWriterObject>>("objects");
    QTest::addColumn<int>("written");
    QTest::addColumn<QString>("message");

    // A compressed section that claims 32 GiB over 8 MiB of reset table: its objects claim
    // a gigabyte each and decode to nothing.
    const QVector<ChmWriterObject> claiming = claimingCompressedSection(1u << 20);
    auto big = [](const QByteArray& name) { return ChmWriterObject{name, {}, true, 0, 1ull << 30}; };
    const ChmWriterObject page{"/index.htm", "<p>index</p>"};

    QTest::newRow("every object written") << QVector<ChmWriterObject>{page, {"/a/b.htm", "b"}} << 2
                                          << "information: Extract accomplished";
    QTest::newRow("one object claiming a gigabyte") << (claiming + QVector<ChmWriterObject>{page, big("/big.htm")})
                                                    << 1
                                                    << "warning: 1 file of the book could not be extracted:\n/big.htm";
    QVector<ChmWriterObject> seven = claiming + QVector<ChmWriterObject>{page};
    for (int i = 1; i <= 7; ++i)
        seven << big("/big" + QByteArray::number(i) + ".htm");
    QTest::newRow("seven objects that do not read")
        << seven << 1
        << "warning: 7 files of the book could not be extracted:\n/big1.htm\n/big2.htm\n/big3.htm\n/big4.htm\n"
           "/big5.htm\nand 2 more.";
}

// The reader is told honestly how an extraction went, and objects that claim more than they
// hold cost no memory and leave no file behind.
void TestExtractor::summary()
{
    QFETCH(QVector<ChmWriterObject>, objects);
    QFETCH(int, written);
    QFETCH(QString, message);
    const QString root = m_dir.filePath(QStringLiteral("summary/") + QTest::currentDataTag());
    const QString target = root + QStringLiteral("/target");
    QVERIFY(QDir().mkpath(target));
    const QString book = root + QStringLiteral("/book.chm");
    QVERIFY(writeChmContainer(book, objects));

    QStringList messages;
    ExtractDialogHooks hooks;
    hooks.chooseDirectory = [&](QWidget*, const QString&) { return target; };
    hooks.showMessage = [&](QWidget*, bool warning, const QString& text, const QString&) {
        messages << (warning ? "warning: " : "information: ") + text;
    };
    const qint64 before = peakMemoryKiB();
    const auto result = extractAndWait(nullptr, book, hooks);
    QVERIFY2(peakMemoryKiB() - before < 64 * 1024, qPrintable(QString::number(peakMemoryKiB() - before)));
    QCOMPARE(result->status, ExtractionResult::Finished);
    QCOMPARE(result->written, written);
    QCOMPARE(messages, QStringList{message});
    QCOMPARE(treeOf(target).filter(QStringLiteral("big")), QStringList());
}

// A page 1,000 folders deep, with pages above and beside it: made without recursion and
// without running out of handles, and every handle is closed again.
void TestExtractor::deepFolders()
{
    const QByteArray deep = QByteArray("/d").repeated(1000);
    const QByteArray middle = QByteArray("/d").repeated(500);
    const QVector<ChmWriterObject> objects{{deep + "/leaf.htm", "leaf"}, {deep + "/other.htm", "other"},
                                           {middle + "/half.htm", "half"}, {"/top.htm", "top"}};
    const QString root = m_dir.filePath(QStringLiteral("deep"));
    const QString target = root + QStringLiteral("/target");
    QVERIFY(QDir().mkpath(target));
    const QString book = root + QStringLiteral("/deep.chm");
    ChmWriterOptions options;
    options.chunkSize = 8192;
    QVERIFY(writeChmContainer(book, objects, options));

    const int handles = int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System).size());
    const ExtractionResult result = BookExtractor::extract(book, target);
    QCOMPARE(result.status, ExtractionResult::Finished);
    QCOMPARE(result.failed, 0);
    QCOMPARE(result.written, 4);
    QCOMPARE(result.folders, 1000);
    QCOMPARE(int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System).size()), handles);

    QCOMPARE(fileBytes(target + deep + "/leaf.htm"), QByteArray("leaf"));
    QCOMPARE(fileBytes(target + deep + "/other.htm"), QByteArray("other"));
    QCOMPARE(fileBytes(target + middle + "/half.htm"), QByteArray("half"));
    QCOMPARE(fileBytes(target + "/top.htm"), QByteArray("top"));
}

QTEST_MAIN(TestExtractor)
#include "tst_extractor.moc"
