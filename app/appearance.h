#pragma once

#include <QObject>
#include <QPalette>
#include <QVariant>

class QDBusVariant;
class QDBusPendingCallWatcher;

// The window's colours, light or dark. The reader chooses System, Light or Dark (View ->
// Appearance, kept in the settings store as "Reader/appearance"); System follows the desktop's
// colour scheme, read from the freedesktop settings portal ("org.freedesktop.appearance",
// "color-scheme") over the session bus when the window starts and whenever the desktop changes
// it. No bus, no portal or an unknown value reads as light, without a message: the reader just
// gets the light window.
//
// The palette is the application's (Fusion, light or dark), so every widget, dialog and the
// window's notice bar follow it; book pages keep their own colours.
class Appearance : public QObject
{
    Q_OBJECT
public:
    enum class Choice { System, Light, Dark };

    // Reads the stored choice and applies it; asks the portal (without waiting for it) when the
    // choice is System.
    explicit Appearance(QObject* parent = nullptr);

    Choice choice() const { return chosen; }
    // Applies and stores the reader's choice.
    void setChoice(Choice choice);
    // Whether the dark palette is the one applied.
    bool isDark() const { return dark; }

    // The portal's "color-scheme" value as it comes from the bus, wrapped in D-Bus variants or
    // not: 1 is dark; 0 (no preference), 2 (light) and anything else are light. Both the first
    // reading and every change arrive here.
    void takeDesktopScheme(const QVariant& value);

    static QPalette palette(bool dark);

signals:
    void darkChanged(bool dark);

private slots:
    void portalSettingChanged(const QString& group, const QString& key, const QDBusVariant& value);

private:
    void listenToDesktop();
    void readDesktopScheme(const char* method);
    void apply();

    Choice chosen = Choice::System;
    bool desktopDark = false;
    bool dark = false;
    bool applied = false;
    bool listening = false;
};
