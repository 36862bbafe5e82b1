#include "pagescript.h"

#include <QFile>
#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcPageScript, "pagewick.view.script")

namespace PageScript {

namespace {

QString readScript(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        qCCritical(lcPageScript) << "cannot read the page script" << path << file.errorString();
        return QString();
    }
    return QString::fromUtf8(file.readAll());
}

} // namespace

const QString& definition()
{
    // Read from the resources once; the script is the same for every page.
    static const QString source = readScript(QStringLiteral(":/view/pagescript.js"));
    return source;
}

QString call(const QString& call)
{
    return definition() + QStringLiteral("window.__pagewick.") + call + QLatin1Char(';');
}

const QString& colorsDefinition()
{
    static const QString source = readScript(QStringLiteral(":/view/pagecolors.js"));
    return source;
}

QString colorsCall(const QString& call)
{
    return colorsDefinition() + QStringLiteral("window.__pagewickColors.") + call + QLatin1Char(';');
}

} // namespace PageScript
