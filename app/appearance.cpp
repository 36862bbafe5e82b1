#include "appearance.h"

#include "readersettings.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QStyle>
#include <QStyleFactory>
#include <QWidget>

Q_LOGGING_CATEGORY(lcAppearance, "pagewick.app.appearance")

namespace {

const QString kChoiceKey = QStringLiteral("Reader/appearance");
const QString kPortalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPortalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kPortalInterface = QStringLiteral("org.freedesktop.portal.Settings");
const QString kSchemeGroup = QStringLiteral("org.freedesktop.appearance");
const QString kSchemeKey = QStringLiteral("color-scheme");
constexpr int kPortalTimeoutMs = 2000;

const char* const kChoiceNames[] = {"system", "light", "dark"};

Appearance::Choice choiceNamed(const QString& name)
{
    for (int i = 0; i < 3; ++i) {
        if (name == QLatin1String(kChoiceNames[i]))
            return Appearance::Choice(i);
    }
    return Appearance::Choice::System;
}

// A session bus is there to ask. Without one, connecting would have the bus library try to
// start a bus of its own for the display.
bool sessionBusAvailable()
{
    if (qEnvironmentVariableIsSet("DBUS_SESSION_BUS_ADDRESS"))
        return true;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return !runtime.isEmpty() && QFileInfo::exists(runtime + QStringLiteral("/bus"));
}

} // namespace

Appearance::Appearance(QObject* parent) : QObject(parent)
{
    chosen = choiceNamed(readerSettings().value(kChoiceKey).toString());
    if (chosen == Choice::System)
        listenToDesktop();
    apply();
}

void Appearance::setChoice(Choice choice)
{
    chosen = choice;
    readerSettings().setValue(kChoiceKey, QLatin1String(kChoiceNames[int(choice)]));
    if (chosen == Choice::System)
        listenToDesktop();
    apply();
}

void Appearance::takeDesktopScheme(const QVariant& value)
{
    QVariant scheme = value;
    // ReadOne answers the value in one variant, the older Read in two, the signal in one.
    for (int depth = 0; depth < 4 && scheme.metaType() == QMetaType::fromType<QDBusVariant>(); ++depth)
        scheme = scheme.value<QDBusVariant>().variant();
    bool ok = false;
    const uint number = scheme.toUInt(&ok);
    desktopDark = ok && number == 1;
    apply();
}

void Appearance::portalSettingChanged(const QString& group, const QString& key, const QDBusVariant& value)
{
    if (group == kSchemeGroup && key == kSchemeKey)
        takeDesktopScheme(value.variant());
}

void Appearance::listenToDesktop()
{
    if (listening || !sessionBusAvailable())
        return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        qCDebug(lcAppearance) << "no session bus:" << bus.lastError().message();
        return;
    }
    listening = true;
    bus.connect(kPortalService, kPortalPath, kPortalInterface, QStringLiteral("SettingChanged"), this,
                SLOT(portalSettingChanged(QString, QString, QDBusVariant)));
    readDesktopScheme("ReadOne");
}

// Asks without waiting: the window starts light and turns dark when the answer comes.
void Appearance::readDesktopScheme(const char* method)
{
    QDBusMessage call = QDBusMessage::createMethodCall(kPortalService, kPortalPath, kPortalInterface,
                                                       QLatin1String(method));
    call << kSchemeGroup << kSchemeKey;
    auto* watcher = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call, kPortalTimeoutMs), this);
    const bool readOne = qstrcmp(method, "ReadOne") == 0;
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, readOne](QDBusPendingCallWatcher* answer) {
        answer->deleteLater();
        const QDBusPendingReply<QDBusVariant> reply = *answer;
        if (reply.isError()) {
            qCDebug(lcAppearance) << "the settings portal gave no colour scheme:" << reply.error().message();
            if (readOne)   // portals before version 2 have Read only
                readDesktopScheme("Read");
            return;
        }
        takeDesktopScheme(QVariant::fromValue(reply.value()));
    });
}

void Appearance::apply()
{
    const bool wantDark = chosen == Choice::Dark || (chosen == Choice::System && desktopDark);
    if (applied && wantDark == dark)
        return;
    auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
    if (!app)
        return;
    if (!applied && QApplication::style()->name() != QLatin1String("fusion"))
        QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    applied = true;
    dark = wantDark;
    QApplication::setPalette(palette(dark));
    // A window not shown yet has no native window through which to hear of the change.
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (!window->windowHandle()) {
            QEvent changed(QEvent::ApplicationPaletteChange);
            QCoreApplication::sendEvent(window, &changed);
        }
    }
    emit darkChanged(dark);
}

QPalette Appearance::palette(bool dark)
{
    if (!dark)
        return QApplication::style()->standardPalette();
    const QColor window(53, 53, 53);
    const QColor base(35, 35, 35);
    const QColor text(230, 230, 230);
    const QColor disabled(128, 128, 128);
    QPalette p;
    p.setColor(QPalette::Window, window);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, base);
    p.setColor(QPalette::AlternateBase, QColor(48, 48, 48));
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, window);
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::BrightText, QColor(255, 90, 90));
    p.setColor(QPalette::Light, QColor(80, 80, 80));
    p.setColor(QPalette::Midlight, QColor(66, 66, 66));
    p.setColor(QPalette::Mid, QColor(40, 40, 40));
    p.setColor(QPalette::Dark, QColor(25, 25, 25));
    p.setColor(QPalette::Shadow, QColor(10, 10, 10));
    p.setColor(QPalette::Highlight, QColor(42, 110, 190));
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::Link, QColor(110, 170, 255));
    p.setColor(QPalette::LinkVisited, QColor(180, 140, 255));
    // The notice bar above the page and tool tips: a dark amber in place of the pale yellow.
    p.setColor(QPalette::ToolTipBase, QColor(72, 64, 34));
    p.setColor(QPalette::ToolTipText, QColor(245, 238, 210));
    p.setColor(QPalette::PlaceholderText, QColor(150, 150, 150));
    for (const QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        p.setColor(QPalette::Disabled, role, disabled);
    p.setColor(QPalette::Disabled, QPalette::Highlight, QColor(70, 70, 70));
    return p;
}
