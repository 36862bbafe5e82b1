#include "browserengine.h"

#include "bookorigin.h"

#include <QWebEngineUrlScheme>

#include <unistd.h>

static void registerBookScheme()
{
    static bool registered = false;
    if (registered)
        return;
    registered = true;
    // No "local" flags: Chromium then treats book pages like web content and refuses them
    // every file:// URL by itself, while links, images, style sheets and scripts inside the
    // book load as usual. (As a local scheme, pages could only load their own images with
    // LocalAccessAllowed, which also opens file:// to them.) Page addresses have a host, which
    // makes each book an origin of its own.
    for (const QByteArray& name : handledSchemes()) {
        QWebEngineUrlScheme scheme(name);
        if (isPageScheme(QString::fromLatin1(name))) {
            scheme.setSyntax(QWebEngineUrlScheme::Syntax::Host);
            scheme.setDefaultPort(QWebEngineUrlScheme::PortUnspecified);
        } else {
            scheme.setSyntax(QWebEngineUrlScheme::Syntax::Path);
        }
        scheme.setFlags({});
        QWebEngineUrlScheme::registerScheme(scheme);
    }
}

QList<QByteArray> handledSchemes()
{
    QList<QByteArray> schemes = {pageScheme().toLatin1()};
    for (const QString& name : bookSchemes())
        schemes << name.toLatin1();
    return schemes;
}

void prepareBrowserControl()
{
    if (geteuid() == 0)
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    registerBookScheme();
    // What a reader of books needs from the engine, and no more. One renderer per book rather
    // than per page (a process per page made every page cost a process start), and one renderer
    // at all. No WebRTC over UDP, so a book's script cannot reach the network through STUN
    // either. Pages are drawn in software: no GPU process or GL driver (the driver alone holds
    // tens of MiB), which a page of text and pictures does not miss. Without the sandbox the
    // zygotes, which only serve it, are not started either. A switch the caller already gives
    // in QTWEBENGINE_CHROMIUM_FLAGS, with any value, is left as given.
    QList<QByteArray> wanted = {QByteArrayLiteral("--process-per-site"),
                                QByteArrayLiteral("--renderer-process-limit=1"),
                                QByteArrayLiteral("--force-webrtc-ip-handling-policy=disable_non_proxied_udp"),
                                QByteArrayLiteral("--disable-gpu"),
                                QByteArrayLiteral("--disable-gpu-compositing")};
    // "--name=value" and "--name" both name the switch "--name".
    const auto switchName = [](const QByteArray& flag) {
        const qsizetype equals = flag.indexOf('=');
        return equals < 0 ? flag : flag.left(equals);
    };
    QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
    QList<QByteArray> present;
    for (const QByteArray& flag : flags.split(' '))
        present << switchName(flag);
    if (qEnvironmentVariableIntValue("QTWEBENGINE_DISABLE_SANDBOX") != 0 || present.contains("--no-sandbox"))
        wanted << QByteArrayLiteral("--no-zygote");
    for (const QByteArray& flag : std::as_const(wanted)) {
        if (present.contains(switchName(flag)))
            continue;
        if (!flags.isEmpty())
            flags += ' ';
        flags += flag;
    }
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", flags);
    // The window side of the same: the view's scene drawn in software, and no GL loaded for it.
    if (qEnvironmentVariableIsEmpty("QT_QUICK_BACKEND"))
        qputenv("QT_QUICK_BACKEND", "software");
    if (qEnvironmentVariableIsEmpty("QT_XCB_GL_INTEGRATION"))
        qputenv("QT_XCB_GL_INTEGRATION", "none");
}
