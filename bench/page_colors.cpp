// Measures dark pages on real books: for each book page, the mean luminance of the page area,
// the contrast of its text against its background, how far the colours of its largest picture
// move between light and dark, and how long the change takes. Run by scripts/measure-page-colors.sh
// under a virtual display, once per method:
//   page_colors inject OUT BOOK PAGE [BOOK PAGE ...]
//       the page in its book colours, then darkened at run time (BrowserControl::setDarkPages);
//       writes OUT/N-light.png and OUT/N-inject.png; the switch is the time from the call until
//       the page is drawn dark.
//   page_colors force OUT BOOK PAGE [...]
//       the engine's own dark mode, which the caller switches on in QTWEBENGINE_CHROMIUM_FLAGS;
//       writes OUT/N-force.png, compares with OUT/N-light.png of an inject run, and counts as the
//       switch the time from the start of this process until the page is drawn (a relaunch).
// One line of figures per page and method goes to standard output, tab-separated.
#include "browsercontrol.h"
#include "browserengine.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QSignalSpy>
#include <QTest>
#include <QTextStream>
#include <QWebEngineView>

#include <cmath>
#include <unistd.h>

namespace {

double channel(int value)
{
    const double c = value / 255.0;
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

// Relative luminance as the contrast ratio of web accessibility defines it.
double luminance(QRgb pixel)
{
    return 0.2126 * channel(qRed(pixel)) + 0.7152 * channel(qGreen(pixel)) + 0.0722 * channel(qBlue(pixel));
}

struct Figures
{
    double mean = 0;       // mean luminance of the page area, 0..1 (perceived, as the grey of ImageMagick)
    double ground = 0;     // the same outside the picture
    double contrast = 0;   // text against background
};

// The background is the most common grey of the page area outside the picture; the text is the
// thousandth of pixels farthest from it on the other side (the cores of the glyphs).
Figures figuresOf(const QImage& image, const QRect& picture)
{
    Figures figures;
    QVector<int> histogram(256, 0);
    QVector<double> luminanceOfGrey(256, 0);
    qint64 count = 0;
    double sum = 0;
    double outside = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width() - 16; ++x) {   // not the scroll bar
            const QRgb pixel = image.pixel(x, y);
            sum += qGray(pixel) / 255.0;
            if (picture.contains(x, y))
                continue;
            const int grey = qGray(pixel);
            ++histogram[grey];
            outside += grey / 255.0;
            luminanceOfGrey[grey] = luminance(qRgb(grey, grey, grey));
            ++count;
        }
    }
    figures.mean = sum / (double(image.height()) * (image.width() - 16));
    figures.ground = count ? outside / count : 0;
    const int background = int(std::max_element(histogram.cbegin(), histogram.cend()) - histogram.cbegin());
    const bool lightGround = background >= 128;
    const qint64 tail = std::max<qint64>(1, count / 1000);
    qint64 seen = 0;
    int text = background;
    for (int i = 0; i < 256 && seen < tail; ++i) {
        text = lightGround ? i : 255 - i;
        seen += histogram[text];
    }
    const double a = luminance(qRgb(background, background, background));
    const double b = luminance(qRgb(text, text, text));
    figures.contrast = (std::max(a, b) + 0.05) / (std::min(a, b) + 0.05);
    return figures;
}

// Mean colour distance (0..1) between two pictures over a region.
double distance(const QImage& one, const QImage& other, const QRect& region)
{
    if (region.isEmpty() || one.size() != other.size())
        return -1;
    double sum = 0;
    qint64 count = 0;
    for (int y = region.top(); y <= region.bottom(); ++y) {
        for (int x = region.left(); x <= region.right(); ++x) {
            const QRgb a = one.pixel(x, y);
            const QRgb b = other.pixel(x, y);
            const double dr = qRed(a) - qRed(b), dg = qGreen(a) - qGreen(b), db = qBlue(a) - qBlue(b);
            sum += std::sqrt(dr * dr + dg * dg + db * db) / (255.0 * std::sqrt(3.0));
            ++count;
        }
    }
    return count ? sum / count : -1;
}

// Milliseconds since this process started.
qint64 sinceProcessStart()
{
    QFile stat(QStringLiteral("/proc/self/stat"));
    QFile uptime(QStringLiteral("/proc/uptime"));
    if (!stat.open(QIODevice::ReadOnly) || !uptime.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray line = stat.readAll();
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    const double startSeconds = fields.value(19).toDouble() / sysconf(_SC_CLK_TCK);
    const double now = uptime.readAll().split(' ').value(0).toDouble();
    return qint64((now - startSeconds) * 1000);
}

} // namespace

int main(int argc, char** argv)
{
    prepareBrowserControl();
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 5 || (args.size() - 3) % 2 != 0) {
        QTextStream(stderr) << "usage: page_colors inject|force OUT BOOK PAGE [BOOK PAGE ...]\n";
        return 2;
    }
    const bool inject = args.at(1) == QLatin1String("inject");
    const QDir out(args.at(2));
    QTextStream report(stdout);

    BrowserControl browser;
    browser.resize(1024, 760);
    browser.show();
    if (!QTest::qWaitForWindowExposed(&browser))
        return 1;
    QWebEngineView* view = browser.webView();
    const auto grab = [view] { return view->grab().toImage().convertToFormat(QImage::Format_RGB32); };

    for (int i = 3, n = 1; i + 1 < args.size(); i += 2, ++n) {
        const QString book = args.at(i);
        QSignalSpy complete(&browser, &BrowserControl::documentComplete);
        browser.setBookPath(book);
        browser.navigate(QStringLiteral("mk:@MSITStore:") + book + QStringLiteral("::") + args.at(i + 1));
        if (!complete.wait(20000)) {
            report << n << '\t' << book << "\tno page\n";
            continue;
        }
        const qint64 loadedAfterStart = sinceProcessStart();
        // The largest picture, brought into view; its rectangle in the view.
        const QVariantList rect = browser.evaluate(QStringLiteral(
            "(function () { let best = null, area = 0;"
            " for (const i of document.images) { const r = i.getBoundingClientRect();"
            "  if (i.naturalWidth >= 48 && i.naturalHeight >= 32 && r.width * r.height > area) { best = i; area = r.width * r.height; } }"
            " if (!best) return [];"
            " best.scrollIntoView({block: 'center'}); const r = best.getBoundingClientRect();"
            " return [r.left, r.top, r.width, r.height]; })()")).toList();
        QTest::qWait(1200);   // pictures decoded and drawn
        QRect picture;
        if (rect.size() == 4) {
            picture = QRect(qRound(rect[0].toDouble()) + 2, qRound(rect[1].toDouble()) + 2,
                            qRound(rect[2].toDouble()) - 4, qRound(rect[3].toDouble()) - 4)
                          .intersected(QRect(QPoint(0, 0), view->size()));
        }
        const QString stem = out.filePath(QString::number(n));
        QImage light;
        QImage dark;
        qint64 switchMs = -1;
        if (inject) {
            light = grab();
            light.save(stem + QStringLiteral("-light.png"));
            const Figures before = figuresOf(light, picture);
            QElapsedTimer clock;
            clock.start();
            browser.setDarkPages(true);
            // Drawn dark: the ground around the picture has moved most of the way to its far side.
            while (clock.elapsed() < 5000) {
                const QImage now = grab();
                if (std::abs(figuresOf(now, picture).ground - before.ground) > 0.3) {
                    switchMs = clock.elapsed();
                    break;
                }
                QTest::qWait(10);
            }
            QTest::qWait(800);
            dark = grab();
            dark.save(stem + QStringLiteral("-inject.png"));
            const Figures after = figuresOf(dark, picture);
            report << n << '\t' << QFileInfo(book).fileName() << '\t' << args.at(i + 1) << "\tbook\t"
                   << before.mean << '\t' << before.contrast << "\t-\t-\n";
            report << n << '\t' << QFileInfo(book).fileName() << '\t' << args.at(i + 1) << "\tinject\t"
                   << after.mean << '\t' << after.contrast << '\t' << distance(light, dark, picture) << '\t'
                   << switchMs << '\n';
            browser.setDarkPages(false);
        } else {
            dark = grab();
            dark.save(stem + QStringLiteral("-force.png"));
            light.load(stem + QStringLiteral("-light.png"));
            light = light.convertToFormat(QImage::Format_RGB32);
            const Figures after = figuresOf(dark, picture);
            report << n << '\t' << QFileInfo(book).fileName() << '\t' << args.at(i + 1) << "\tforce\t"
                   << after.mean << '\t' << after.contrast << '\t' << distance(light, dark, picture) << '\t'
                   << (n == 1 ? loadedAfterStart : -1) << '\n';
        }
        report.flush();
    }
    return 0;
}
