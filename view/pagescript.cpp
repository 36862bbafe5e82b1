#include "pagescript.h"

#include <QFile>
#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcPageScript, "pagewick.view.script")

namespace PageScript {

const QString& definition()
{
    // Read from the resources once; the script is the same for every page.
    static const QString source = [] {
        QFile file(QStringLiteral(":/view/pagescript.js"));
        if (!file.open(QIODevice::ReadOnly)) {
            qCCritical(lcPageScript) << "cannot read the page script:" << file.errorString();
            return QString();
        }
        return QString::fromUtf8(file.readAll());
    }();
    return source;
}

QString call(const QString& call)
{
    return definition() + QStringLiteral("window.__pagewick.") + call + QLatin1Char(';');
}

} // namespace PageScript
