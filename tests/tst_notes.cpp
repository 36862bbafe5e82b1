// Notes and search hits on a real web view, offscreen, over viewpages.chm: selections made in
// the page by script or by dragging the mouse are located, filed and painted again after every
// load, in any window size and zoom; the keyword of a search result is painted once; warnings never wait for a
// click. Locating is also driven on its own over texts written here, for what a page that
// matches its captured text cannot show: a stale page text and a selection that cannot match.
#include "browserengine.h"
#include "browsercontrol.h"
#include "notelocator.h"
#include "notestore.h"
#include "testbooks.h"
#include "textrange.h"
#include "viewwidget.h"

#include <QAbstractButton>
#include <QApplication>
#include <QColor>
#include <QMessageBox>
#include <QSignalSpy>
#include <QTimer>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <QtTest>

#include <memory>

namespace {

constexpr int kLoadTimeoutMs = 20000;
const QString kNotesPage = QStringLiteral("/notes.htm");
const QString kCantNote = QStringLiteral("Support Message: current location did not support note facility");

// The walk over the page's characters the page view counts in: text under the body, without
// what script, style, noscript and template elements hold.
const QString kTextNodes = QStringLiteral(R"JS(
function pageTextNodes() {
  const skipped = new Set(['script', 'style', 'noscript', 'template']);
  const walker = document.createTreeWalker(document.body, NodeFilter.SHOW_TEXT, { acceptNode(node) {
    for (let p = node.parentNode; p && p !== document.body; p = p.parentNode)
      if (skipped.has(p.localName)) return NodeFilter.FILTER_REJECT;
    return NodeFilter.FILTER_ACCEPT; } });
  const nodes = [];
  for (let node = walker.nextNode(); node; node = walker.nextNode())
    nodes.push(node);
  return nodes;
}
)JS");

QString rgb(const QString& colorName)
{
    const QColor color(colorName);
    return QStringLiteral("rgb(%1, %2, %3)").arg(color.red()).arg(color.green()).arg(color.blue());
}

// A stretch of painted characters, as "start-end rgb(r, g, b)".
QString run(int start, int end, const QString& colorName)
{
    return QStringLiteral("%1-%2 %3").arg(start).arg(end).arg(rgb(colorName));
}

int nthIndexOf(const QString& text, const QString& needle, int occurrence)
{
    qsizetype at = -1;
    for (int i = 0; i <= occurrence; ++i) {
        at = text.indexOf(needle, at + 1);
        if (at < 0)
            return -1;
    }
    return int(at);
}

} // namespace

class TestNotes : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void locatorCorrectsAStalePageText_data();
    void locatorCorrectsAStalePageText();
    void locatorFindsNoPassage_data();
    void locatorFindsNoPassage();

    void locatesSelections_data();
    void locatesSelections();
    void passagesDraggedOver_data();
    void passagesDraggedOver();
    void notesFollowThePage();
    void marksRepeatAndOverlap();
    void marksHoldInAnotherViewSizeAndZoom();
    void keyword_data();
    void keyword();
    void keywordWaitsForTheNextLoadAndPaintsOverNotes();
    void warningsWithoutAHandlerAreBoxes();

private:
    BrowserControl* browser() const { return m_view->browser; }
    QWebEnginePage* page() const { return browser()->webView()->page(); }
    ViewWidget* newView(QSize size);
    bool loads(const std::function<void()>& action);
    QVariant pageValue(const QString& script);
    // Selects the occurrence-th (from 0) occurrence of needle in the page's characters, as
    // the reader's mouse would; an empty needle leaves nothing selected.
    bool select(const QString& needle, int occurrence = 0);
    // The painted characters of the page, each stretch of one colour as run() writes it.
    QStringList paintedRuns();
    // Where the occurrence-th occurrence of needle stands in the page's characters.
    int position(const QString& needle, int occurrence = 0) const;
    // Selects the passage and notes it; true when the page was loaded again.
    bool noteText(const QString& needle, int occurrence = 0);

    QString m_viewPages;
    ViewWidget* m_view = nullptr;
    NoteStore m_store;
    QStringList m_warnings;
};

void TestNotes::initTestCase()
{
    m_viewPages = testBookPath(QStringLiteral("viewpages.chm"));
    QVERIFY2(QFile::exists(m_viewPages), qPrintable(m_viewPages));
}

ViewWidget* TestNotes::newView(QSize size)
{
    auto* view = new ViewWidget;
    view->resize(size);
    view->setWarningHandler([this](QWidget* parent, const QString& title, const QString& text) {
        QCOMPARE(parent, m_view);
        m_warnings << title + QStringLiteral(": ") + text;
    });
    QSignalSpy canNote(view, &ViewWidget::canNote);
    view->show();
    if (!canNote.wait(kLoadTimeoutMs))
        qWarning("the first load of a new view did not end");
    view->setBookPath(m_viewPages);
    view->setNoteStore(&m_store);
    view->setNoteColor(QStringLiteral("#ffd700"));
    return view;
}

void TestNotes::init()
{
    m_store.clear();
    m_warnings.clear();
    m_view = newView(QSize(800, 600));
}

void TestNotes::cleanup()
{
    delete m_view;
    m_view = nullptr;
}

bool TestNotes::loads(const std::function<void()>& action)
{
    QSignalSpy canNote(m_view, &ViewWidget::canNote);
    action();
    if (!canNote.wait(kLoadTimeoutMs))
        return false;
    // Painting is sent to the page after the pass; let it land before the page is read.
    pageValue(QStringLiteral("0"));
    return canNote.constLast().at(0).toBool();
}

QVariant TestNotes::pageValue(const QString& script)
{
    auto answer = std::make_shared<std::pair<bool, QVariant>>();
    page()->runJavaScript(script, [answer](const QVariant& value) { *answer = {true, value}; });
    if (!QTest::qWaitFor([answer] { return answer->first; }, kLoadTimeoutMs))
        qWarning("the page gave no answer to: %s", qPrintable(script));
    return answer->second;
}

bool TestNotes::select(const QString& needle, int occurrence)
{
    const QString script = kTextNodes + QStringLiteral(R"JS(
(function (needle, occurrence) {
  const selection = getSelection();
  selection.removeAllRanges();
  if (!needle)
    return true;
  const nodes = pageTextNodes();
  const text = nodes.map(n => n.data).join('');
  let at = -1;
  for (let i = 0; i <= occurrence; ++i) {
    at = text.indexOf(needle, at + 1);
    if (at < 0)
      return false;
  }
  function point(offset, isEnd) {
    let position = 0;
    for (const node of nodes) {
      if (offset < position + node.length || (isEnd && offset === position + node.length))
        return [node, offset - position];
      position += node.length;
    }
    return [nodes[nodes.length - 1], nodes[nodes.length - 1].length];
  }
  const start = point(at, false);
  const end = point(at + needle.length, true);
  const range = document.createRange();
  range.setStart(start[0], start[1]);
  range.setEnd(end[0], end[1]);
  selection.addRange(range);
  return true;
})(%1, %2))JS");
    QString quoted = needle;
    quoted.replace(QLatin1Char('\\'), QStringLiteral("\\\\")).replace(QLatin1Char('\''), QStringLiteral("\\'"))
          .replace(QLatin1Char('\n'), QStringLiteral("\\n"));
    return pageValue(script.arg(QLatin1Char('\'') + quoted + QLatin1Char('\'')).arg(occurrence)).toBool();
}

QStringList TestNotes::paintedRuns()
{
    const QVariantList runs = pageValue(kTextNodes + QStringLiteral(R"JS(
(function () {
  const runs = [];
  let position = 0;
  for (const node of pageTextNodes()) {
    const parent = node.parentNode;
    const color = parent.localName === 'span' ? parent.style.backgroundColor : '';
    if (color) {
      const last = runs[runs.length - 1];
      if (last && last[1] === position && last[2] === color)
        last[1] += node.length;
      else
        runs.push([position, position + node.length, color]);
    }
    position += node.length;
  }
  return runs;
})())JS")).toList();
    QStringList result;
    for (const QVariant& r : runs) {
        const QVariantList parts = r.toList();
        result << QStringLiteral("%1-%2 %3").arg(parts.value(0).toInt()).arg(parts.value(1).toInt())
                      .arg(parts.value(2).toString());
    }
    return result;
}

int TestNotes::position(const QString& needle, int occurrence) const
{
    return nthIndexOf(browser()->pageText(), needle, occurrence);
}

bool TestNotes::noteText(const QString& needle, int occurrence)
{
    if (!select(needle, occurrence))
        return false;
    return loads([&] { m_view->note(&m_store); });
}

// Locating on its own ------------------------------------------------------------------------

void TestNotes::locatorCorrectsAStalePageText_data()
{
    // The page's characters, the selection in them, and the compact page text that locating
    // looks in: the page's own, or one captured before the page changed.
    QTest::addColumn<QString>("characters");
    QTest::addColumn<QString>("needle");
    QTest::addColumn<QString>("pageText");
    QTest::addColumn<bool>("stale");

    const QString prose = QStringLiteral("Alpha beta gamma delta epsilon zeta eta theta iota kappa lambda mu nu xi omicron pi");
    QTest::newRow("no spaces before the selection") << QStringLiteral("Alpha,beta;gamma.delta epsilon") << "gamma.delta ep"
                                                    << "Alpha,beta;gamma.deltaepsilon" << false;
    QTest::newRow("spaces before and inside") << prose << "iota kappa" << compactText(prose) << false;
    QTest::newRow("characters missing before it") << prose << "iota kappa"
                                                  << compactText(prose).remove(QStringLiteral("gamma")) << true;
    QTest::newRow("characters added before it") << prose << "iota kappa"
                                                << compactText(prose).insert(5, QStringLiteral("inserted")) << true;
    QTest::newRow("another page's text") << prose << "omicron" << QStringLiteral("Something else entirely") << true;
    QString indented;
    for (int i = 0; i < 40; ++i)
        indented += QStringLiteral("\n        <item %1>").arg(i);
    QTest::newRow("indentation") << indented << "<item 31>" << compactText(indented) << false;
    QTest::newRow("indentation, stale") << indented << "<item 31>" << compactText(indented).mid(30) << true;
}

void TestNotes::locatorCorrectsAStalePageText()
{
    QFETCH(QString, characters);
    QFETCH(QString, needle);
    QFETCH(QString, pageText);
    QFETCH(bool, stale);
    const int at = int(characters.indexOf(needle));
    const NoteLocation location = locateNote(pageText, TextRange(characters, at, at + int(needle.size())));
    QCOMPARE(location.selectedText, compactText(needle));
    QCOMPARE(location.start, at);
    QCOMPARE(location.length, int(needle.size()));
    if (stale)
        QVERIFY(location.steps > 0 && location.steps <= NoteLocator::kMaxCorrectingSteps);
    else
        QCOMPARE(location.steps, 0);
}

void TestNotes::locatorFindsNoPassage_data()
{
    QTest::addColumn<QString>("characters");
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("end");
    QTest::addColumn<QString>("pageText");
    QTest::addColumn<bool>("passage");

    QTest::newRow("nothing selected") << "Some text" << 4 << 4 << "Sometext" << false;
    QTest::newRow("only white space") << "a  \n\t  b" << 1 << 7 << "a\n\tb" << false;
    // "b\r" is in no compact text wider than itself ("\r\n" pairs go): once the placement
    // misses, widening reaches the whole page without finding it, and locating gives up.
    QTest::newRow("no match in the whole page") << "ab\r\ncd efgh" << 1 << 3 << "XXXXabcdefgh" << true;
}

void TestNotes::locatorFindsNoPassage()
{
    QFETCH(QString, characters);
    QFETCH(int, start);
    QFETCH(int, end);
    QFETCH(QString, pageText);
    QFETCH(bool, passage);
    const NoteLocation location = locateNote(pageText, TextRange(characters, start, end));
    QCOMPARE(location.isPassage(), passage);
    QVERIFY(!location.found());
    QCOMPARE(location.start, -1);
    QCOMPARE(location.length, -1);
}

// On pages of a compiled book ----------------------------------------------------------------

void TestNotes::locatesSelections_data()
{
    QTest::addColumn<QString>("change");     // run in the page before selecting
    QTest::addColumn<QString>("needle");
    QTest::addColumn<int>("occurrence");
    QTest::addColumn<QString>("marked");     // the passage filed, empty for none
    QTest::addColumn<QStringList>("warnings");

    const QStringList none;
    QTest::newRow("nothing before it") << QString() << "Nothing-before-this" << 0 << "Nothing-before-this" << none;
    QTest::newRow("after spaces and line breaks") << QString() << "brown fox jumps" << 0 << "brown fox jumps" << none;
    QTest::newRow("in a table cell") << QString() << "two has more" << 0 << "two has more" << none;
    QTest::newRow("across two paragraphs") << QString() << "ends here.\nThe second" << 0 << "ends here.\nThe second"
                                           << none;
    QTest::newRow("text that occurs earlier") << QString() << "red fox" << 1 << "red fox" << none;
    QTest::newRow("text repeated in its own context") << QString() << "to be" << 1 << "to be" << none;
    QTest::newRow("spaces in front of it") << QString() << "      It jumps" << 0 << "It jumps" << none;
    QTest::newRow("nothing selected") << QString() << "" << 0 << "" << none;
    QTest::newRow("only white space") << QString() << "\n    " << 0 << "" << none;
    QTest::newRow("the page changed before it")
        << "document.body.insertBefore(document.createTextNode('Added later. '), document.body.firstChild)"
        << "brown fox" << 0 << "" << QStringList{kCantNote};
    QTest::newRow("the page changed after it")
        << "document.body.appendChild(document.createTextNode(' Added later.'))" << "brown fox" << 0 << "brown fox"
        << none;
}

void TestNotes::locatesSelections()
{
    QFETCH(QString, change);
    QFETCH(QString, needle);
    QFETCH(int, occurrence);
    QFETCH(QString, marked);
    QFETCH(QStringList, warnings);

    QVERIFY(loads([&] { m_view->setCurrentPage(kNotesPage); }));
    const QString loadedText = browser()->pageText();
    const int at = marked.isEmpty() ? -1 : position(marked, occurrence);
    if (!marked.isEmpty())
        QVERIFY(at >= 0);
    if (!change.isEmpty())
        pageValue(change);

    QVERIFY(noteText(needle, occurrence));
    QCOMPARE(m_warnings, warnings);
    QCOMPARE(m_view->currentPath(), kNotesPage);
    if (marked.isEmpty()) {
        QVERIFY(m_store.isEmpty());
        QCOMPARE(m_view->noteStart, -1);
        QCOMPARE(paintedRuns(), QStringList());
        return;
    }
    QCOMPARE(m_store.size(), 1);
    QCOMPARE(m_store.at(0), (PageNotes{kNotesPage, {{at, int(marked.size())}}}));
    // Painted after the reload, in the note colour, exactly those characters.
    QCOMPARE(browser()->pageText(), loadedText);
    QCOMPARE(paintedRuns(), QStringList{run(at, at + int(marked.size()), QStringLiteral("#ffd700"))});
    if (QTest::currentDataTag() == QLatin1String("nothing before it")) {
        // No space or line break before the passage: its place in the compact text is its
        // place in the page.
        QCOMPARE(int(m_view->pageText.indexOf(marked)), at);
    }
}

void TestNotes::passagesDraggedOver_data()
{
    // From a character of one element's text to one of another's, as the reader drags.
    QTest::addColumn<QString>("from");
    QTest::addColumn<int>("fromOffset");
    QTest::addColumn<QString>("to");
    QTest::addColumn<int>("toOffset");
    QTest::addColumn<QString>("passage");
    QTest::newRow("a word") << "case" << 5 << "case" << 12 << "Matters";
    QTest::newRow("over a line break of the source") << "indented" << 42 << "indented" << 66
                                                     << "lazy dog.\n      It jumps";
    QTest::newRow("across two paragraphs") << "para1" << 20 << "para2" << 10 << "ends here.\nThe second";
}

void TestNotes::passagesDraggedOver()
{
    QFETCH(QString, from);
    QFETCH(int, fromOffset);
    QFETCH(QString, to);
    QFETCH(int, toOffset);
    QFETCH(QString, passage);
    QVERIFY(loads([&] { m_view->setCurrentPage(kNotesPage); }));
    // The middle of the left edge of a character, or of the right edge of the one before.
    auto point = [this](const QString& id, int offset, bool after) {
        const QVariantList xy = pageValue(QStringLiteral(
            "(function () { const text = document.getElementById('%1').firstChild; const r = document.createRange();"
            " r.setStart(text, %2); r.setEnd(text, %2 + 1); const b = r.getBoundingClientRect();"
            " return [%3 ? b.right - 1 : b.left + 1, b.top + b.height / 2]; })()")
            .arg(id).arg(after ? offset - 1 : offset).arg(after ? "true" : "false")).toList();
        return xy.size() == 2 ? QPoint(xy.at(0).toInt(), xy.at(1).toInt()) : QPoint();
    };
    const QPoint start = point(from, fromOffset, false);
    const QPoint end = point(to, toOffset, true);
    QWidget* surface = browser()->webView()->focusProxy();
    QVERIFY(surface);
    QTest::mousePress(surface, Qt::LeftButton, {}, start);
    for (int step = 1; step <= 10; ++step)
        QTest::mouseMove(surface, start + (end - start) * step / 10, 10);
    QTest::mouseRelease(surface, Qt::LeftButton, {}, end, 10);
    QTRY_COMPARE(browser()->selection().value_or(TextRange()).text(), passage);

    QVERIFY(loads([&] { m_view->note(&m_store); }));
    const int at = position(passage);
    QCOMPARE(m_store.value(0).marks, (QVector<NoteMark>{{at, int(passage.size())}}));
    QVERIFY(m_warnings.isEmpty());
}

void TestNotes::notesFollowThePage()
{
    m_view->resize(420, 300);
    QVERIFY(loads([&] { m_view->setCurrentPage(kNotesPage); }));
    QVERIFY(noteText(QStringLiteral("quick brown fox")));
    const int fox = position(QStringLiteral("quick brown fox"));
    const int cell = position(QStringLiteral("Cell two"));
    const int last = position(QStringLiteral("last paragraph"));

    // Far down the page: the note comes back at the same scroll position.
    pageValue(QStringLiteral("history.scrollRestoration = 'manual'; document.getElementById('bottom').scrollIntoView()"));
    const QPoint scrolled = browser()->scrollPosition().value_or(QPoint());
    QVERIFY(scrolled.y() > 100);
    QVERIFY(noteText(QStringLiteral("last paragraph")));
    QCOMPARE(browser()->scrollPosition().value_or(QPoint()), scrolled);
    QVERIFY(noteText(QStringLiteral("Cell two")));
    const QStringList gold = {run(fox, fox + 15, QStringLiteral("#ffd700")), run(cell, cell + 8, QStringLiteral("#ffd700")),
                              run(last, last + 14, QStringLiteral("#ffd700"))};
    QCOMPARE(paintedRuns(), gold);
    QCOMPARE(m_store.size(), 1);
    QCOMPARE(m_store.at(0).marks, (QVector<NoteMark>{{fox, 15}, {last, 14}, {cell, 8}}));

    // Away and back: painted again; the other page has nothing painted, then a note of its own.
    QVERIFY(loads([&] { m_view->setCurrentPage(QStringLiteral("/chars.htm")); }));
    QCOMPARE(paintedRuns(), QStringList());
    QVERIFY(noteText(QStringLiteral("two")));
    QVERIFY(loads([&] { m_view->setCurrentPage(kNotesPage); }));
    QCOMPARE(paintedRuns(), gold);
    QVERIFY(loads([&] { m_view->setCurrentPage(QStringLiteral("/chars.htm")); }));
    QVERIFY(loads([&] { m_view->back(); }));
    QCOMPARE(paintedRuns(), gold);

    // Another colour: this page at once, the others at their next load.
    m_view->setNoteColor(QStringLiteral("#ff8c00"));
    QVERIFY(loads([&] { m_view->refresh(); }));
    const QStringList orange = {run(fox, fox + 15, QStringLiteral("#ff8c00")), run(cell, cell + 8, QStringLiteral("#ff8c00")),
                                run(last, last + 14, QStringLiteral("#ff8c00"))};
    QCOMPARE(paintedRuns(), orange);
    QVERIFY(loads([&] { m_view->setCurrentPage(QStringLiteral("/chars.htm")); }));
    const int two = position(QStringLiteral("two"));
    QCOMPARE(paintedRuns(), QStringList{run(two, two + 3, QStringLiteral("#ff8c00"))});

    // Erasing takes this page's notes only, and reloads the page.
    const NoteStore before = m_store;
    QVERIFY(loads([&] { m_view->setCurrentPage(QStringLiteral("/index.htm")); }));
    QVERIFY(loads([&] { m_view->unNote(&m_store); }));
    QCOMPARE(m_store, before);
    QVERIFY(loads([&] { m_view->setCurrentPage(kNotesPage); }));
    QVERIFY(loads([&] { m_view->unNote(&m_store); }));
    QCOMPARE(paintedRuns(), QStringList());
    QCOMPARE(m_store.size(), 1);
    QCOMPARE(m_store.at(0).path, QStringLiteral("/chars.htm"));
    QVERIFY(m_warnings.isEmpty());
}

void TestNotes::marksRepeatAndOverlap()
{
    QVERIFY(loads([&] { m_view->setCurrentPage(kNotesPage); }));
    const QString loadedText = browser()->pageText();
    const int brown = position(QStringLiteral("brown fox jumps"));
    const int over = position(QStringLiteral("jumps over the"));
    QVERIFY(noteText(QStringLiteral("brown fox jumps")));
    QVERIFY(noteText(QStringLiteral("brown fox jumps")));
    QVERIFY(noteText(QStringLiteral("jumps over the")));
    QCOMPARE(m_store.at(0).marks, (QVector<NoteMark>{{brown, 15}, {brown, 15}, {over, 14}}));
    // Painted over each other, one stretch; not one character more or less on the page.
    QCOMPARE(paintedRuns(), QStringList{run(brown, over + 14, QStringLiteral("#ffd700"))});
    QVERIFY(pageValue(QStringLiteral("document.querySelectorAll('span').length")).toInt() >= 3);
    QCOMPARE(browser()->pageText(), loadedText);
}

void TestNotes::marksHoldInAnotherViewSizeAndZoom()
{
    QVERIFY(loads([&] { m_view->setCurrentPage(kNotesPage); }));
    const QStringList passages = {QStringLiteral("quick brown fox"), QStringLiteral("two has more"),
                                  QStringLiteral("ends here.\nThe second"), QStringLiteral("last paragraph")};
    QStringList expected;
    for (const QString& passage : passages) {
        QVERIFY2(noteText(passage), qPrintable(passage));
        const int at = position(passage);
        expected << run(at, at + int(passage.size()), QStringLiteral("#ffd700"));
    }
    expected.sort();
    QStringList painted = paintedRuns();
    painted.sort();
    QCOMPARE(painted, expected);
    const NoteStore stored = m_store;

    // A new run: another view, narrow and tall, zoomed in, given the same store.
    delete m_view;
    m_view = newView(QSize(330, 900));
    QVERIFY(loads([&] { m_view->setCurrentPage(kNotesPage); }));
    m_view->zoomIn();
    m_view->zoomIn();
    m_view->zoomIn();
    QVERIFY(loads([&] { m_view->refresh(); }));
    QCOMPARE(pageValue(QStringLiteral("document.body.style.zoom")).toString(), QStringLiteral("1.3"));
    painted = paintedRuns();
    painted.sort();
    QCOMPARE(painted, expected);
    QCOMPARE(m_store, stored);
}

void TestNotes::keyword_data()
{
    // The keyword as the search panel hands it over, and the passages painted (each the
    // given occurrence in the page's characters).
    QTest::addColumn<QString>("keyword");
    QTest::addColumn<QStringList>("passages");
    QTest::addColumn<QList<int>>("occurrences");

    // What the search matched: its words in any letter case, each where it first stands as a
    // word, a quoted phrase as a whole, never a word it excluded. Passages in page order.
    QTest::newRow("words, each where it first stands")
        << "red fox" << QStringList{"fox", "red"} << QList<int>{0, 0};
    QTest::newRow("in query order or not") << "fox quick" << QStringList{"quick", "fox"} << QList<int>{0, 0};
    QTest::newRow("any letter case") << "case MATTERS" << QStringList{"Case", "Matters"} << QList<int>{0, 0};
    QTest::newRow("a phrase as a phrase") << "\"red fox\"" << QStringList{"red fox"} << QList<int>{0};
    QTest::newRow("a phrase across elements and lines")
        << "\"cell one cell two\"" << QStringList{"Cell one", "Cell two"} << QList<int>{0, 0};
    QTest::newRow("a phrase not on the page") << "\"red dog\"" << QStringList() << QList<int>();
    QTest::newRow("excluded words are not painted") << "jumps -fox -lazy" << QStringList{"jumps"} << QList<int>{0};
    QTest::newRow("+word is a word") << "+lazy" << QStringList{"lazy"} << QList<int>{0};
    QTest::newRow("not inside a longer word") << "peat" << QStringList() << QList<int>();
    QTest::newRow("empty") << "" << QStringList() << QList<int>();
}

void TestNotes::keyword()
{
    QFETCH(QString, keyword);
    QFETCH(QStringList, passages);
    QFETCH(QList<int>, occurrences);
    // A selection the page had when it loaded is gone after the painting.
    disconnect(m_view, &ViewWidget::currentAllTextSaved, m_view, &ViewWidget::showNote);
    connect(m_view, &ViewWidget::currentAllTextSaved, this, [this] { select(QStringLiteral("Lorem")); });
    connect(m_view, &ViewWidget::currentAllTextSaved, m_view, &ViewWidget::showNote);
    QVERIFY(loads([&] { m_view->setCurrentPageBySearch(kNotesPage, keyword); }));
    QCOMPARE(m_view->currentPath(), kNotesPage);
    QStringList expected;
    for (int i = 0; i < passages.size(); ++i) {
        const int at = position(passages.at(i), occurrences.at(i));
        QVERIFY(at >= 0);
        expected << run(at, at + int(passages.at(i).size()), QStringLiteral("#00bfff"));
    }
    QCOMPARE(paintedRuns(), expected);
    QCOMPARE(pageValue(QStringLiteral("getSelection().rangeCount")).toInt(), 0);
    QVERIFY(!m_view->searchPending);

    // Spent: loaded again, the page shows no hit.
    disconnect(m_view, &ViewWidget::currentAllTextSaved, this, nullptr);
    QVERIFY(loads([&] { m_view->refresh(); }));
    QCOMPARE(paintedRuns(), QStringList());
    QCOMPARE(m_view->searchKeyword, keyword);
}

void TestNotes::keywordWaitsForTheNextLoadAndPaintsOverNotes()
{
    QVERIFY(loads([&] { m_view->setCurrentPage(kNotesPage); }));
    QVERIFY(noteText(QStringLiteral("A repeated phrase")));
    const int phrase = position(QStringLiteral("A repeated phrase"));
    const int repeated = position(QStringLiteral("repeated"));
    QCOMPARE(repeated, phrase + 2);

    // No path: nothing is loaded, and the keyword waits for whatever page loads next.
    QSignalSpy started(page(), &QWebEnginePage::loadStarted);
    m_view->setCurrentPageBySearch(QString(), QStringLiteral("repeated"));
    QTest::qWait(300);
    QCOMPARE(started.count(), 0);
    QVERIFY(m_view->currentPath().isEmpty());
    QVERIFY(m_view->searchPending);

    QVERIFY(loads([&] { m_view->setCurrentPage(kNotesPage); }));
    // The notes first, the keyword over them.
    QCOMPARE(paintedRuns(), (QStringList{run(phrase, phrase + 2, QStringLiteral("#ffd700")),
                                         run(repeated, repeated + 8, QStringLiteral("#00bfff")),
                                         run(repeated + 8, phrase + 17, QStringLiteral("#ffd700"))}));
    QVERIFY(!m_view->searchPending);

    // An empty search says so, whatever is shown, and changes nothing.
    const QString path = m_view->currentPath();
    m_view->tellAboutThis();
    QCOMPARE(m_warnings, QStringList{QStringLiteral("Pagewick: no topics find")});
    QCOMPARE(m_view->currentPath(), path);
    QVERIFY(!m_view->searchPending);
}

void TestNotes::warningsWithoutAHandlerAreBoxes()
{
    // The reader sees a modal box with one OK button; closed here by a timer.
    m_view->setWarningHandler({});
    QStringList seen;
    auto closeBox = [&] {
        QTimer* timer = new QTimer(this);
        connect(timer, &QTimer::timeout, this, [this, &seen, timer] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box)
                return;
            seen << box->windowTitle() + QStringLiteral(": ") + box->text()
                  + QStringLiteral(" [%1%2]").arg(box->buttons().size())
                        .arg(box->parentWidget() == m_view ? QString() : QStringLiteral(", not on the view"));
            box->button(QMessageBox::Ok)->click();
            timer->deleteLater();
        });
        timer->start(50);
    };
    closeBox();
    m_view->tellAboutThis();

    QVERIFY(loads([&] { m_view->setCurrentPage(kNotesPage); }));
    pageValue(QStringLiteral("document.body.insertBefore(document.createTextNode('Later. '), document.body.firstChild)"));
    QVERIFY(select(QStringLiteral("brown fox")));
    closeBox();
    QVERIFY(loads([&] { m_view->note(&m_store); }));
    QCOMPARE(seen, (QStringList{QStringLiteral("Pagewick: no topics find [1]"), kCantNote + QStringLiteral(" [1]")}));
    QVERIFY(m_store.isEmpty());
}

int main(int argc, char** argv)
{
    prepareBrowserControl();
    QApplication app(argc, argv);
    TestNotes test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_notes.moc"
