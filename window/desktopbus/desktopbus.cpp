#include "desktopbus/desktopbus.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QFileInfo>
#include <QStringList>
#include <QVariantMap>

namespace {

constexpr char kDesktopId[] = "org.brenvale.Brenvale";
constexpr char kConnectionName[] = "brenvale-desktop";

// The session bus, or a connection that is not connected. No bus is
// started for the program: without an address in the environment or the
// user's bus socket in the runtime folder there is none. A connection that
// failed is tried again on the next message, so that a bus started later
// is found.
QDBusConnection SessionBus() {
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS") &&
        (runtime.isEmpty() || !QFileInfo(QFile::decodeName(runtime) + QStringLiteral("/bus")).exists()))
        return QDBusConnection(QString::fromLatin1(kConnectionName));
    QDBusConnection bus =
        QDBusConnection::connectToBus(QDBusConnection::SessionBus, QString::fromLatin1(kConnectionName));
    if (!bus.isConnected())
        QDBusConnection::disconnectFromBus(QString::fromLatin1(kConnectionName));
    return bus;
}

}  // namespace

void ShowLauncherProgress(double fraction, bool visible) {
    QDBusConnection bus = SessionBus();
    if (!bus.isConnected())
        return;
    // The object path only needs to be this program's own; the docks match
    // the entry by its application URI.
    QDBusMessage update = QDBusMessage::createSignal(
        QStringLiteral("/com/canonical/unity/launcherentry/org_brenvale_Brenvale"),
        QStringLiteral("com.canonical.Unity.LauncherEntry"), QStringLiteral("Update"));
    QVariantMap properties;
    properties.insert(QStringLiteral("progress"), fraction);
    properties.insert(QStringLiteral("progress-visible"), visible);
    update << QStringLiteral("application://%1.desktop").arg(QLatin1String(kDesktopId)) << properties;
    bus.send(update);
}

QString RunEndedText(int converted, int failed) {
    const QString files = converted == 1 ? QStringLiteral("1 file converted")
                                         : QStringLiteral("%1 files converted").arg(converted);
    return files + QStringLiteral(", %1 failed").arg(failed);
}

void NotifyRunEnded(int converted, int failed) {
    QDBusConnection bus = SessionBus();
    if (!bus.isConnected())
        return;
    QDBusMessage notify = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), QString::fromLatin1(kDesktopId));
    notify << QStringLiteral("Brenvale") << 0u << QString::fromLatin1(kDesktopId)
           << QStringLiteral("Conversion finished") << RunEndedText(converted, failed) << QStringList()
           << hints << -1;
    // The answer (the notification's number, or an error where no service
    // runs) is not waited for.
    notify.setAutoStartService(true);
    bus.send(notify);
}
