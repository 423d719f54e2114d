#include "DesktopSession.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>
#include <QWidget>

#include <sys/stat.h>

#include <atomic>
#include <cstdlib>

#include "engine/Progress.h"
#include "fileio/FileQuery.h"

namespace {

constexpr char kAppId[] = "org.tesseraproject.Tessera";
constexpr int kInhibitTimeoutMs = 5000;

bool IsSocket(const std::string& path)
{
    return tessera::FileTypeAt(path) == S_IFSOCK;
}

QString Environment(const char* name)
{
    const char* value = std::getenv(name);
    return value ? QString::fromLocal8Bit(value) : QString();
}

QString SessionBusAddress()
{
    if (QString address = Environment("DBUS_SESSION_BUS_ADDRESS"); !address.isEmpty())
        return address;
    // Not libdbus's last resort, autolaunch through X11: it starts a bus of
    // its own and can stall the start.
    const QString runtime = Environment("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && IsSocket(runtime.toStdString() + "/bus"))
        return QStringLiteral("unix:path=") + runtime + QStringLiteral("/bus");
    return {};
}

QString SystemBusAddress()
{
    if (QString address = Environment("DBUS_SYSTEM_BUS_ADDRESS"); !address.isEmpty())
        return address;
    constexpr char kSocket[] = "/run/dbus/system_bus_socket";
    if (IsSocket(kSocket))
        return QStringLiteral("unix:path=") + QLatin1String(kSocket);
    return {};
}

// Connects under a name of its own, so that each window has its own
// connection and the process-wide default buses are left alone.
bool Connect(const QString& address, const QString& name)
{
    if (address.isEmpty())
        return false;
    const QDBusConnection connection = QDBusConnection::connectToBus(address, name);
    if (connection.isConnected())
        return true;
    QDBusConnection::disconnectFromBus(name);
    return false;
}

QString FileName(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return QString::fromStdString(slash == std::string::npos ? path : path.substr(slash + 1));
}

}  // namespace

DesktopSession::DesktopSession(QWidget& window) : window_(window)
{
    static std::atomic<int> instances{0};
    const QString suffix = QString::number(++instances);
    sessionName_ = QStringLiteral("tessera-session-") + suffix;
    systemName_ = QStringLiteral("tessera-system-") + suffix;
    sessionBus_ = Connect(SessionBusAddress(), sessionName_);
    systemBus_ = Connect(SystemBusAddress(), systemName_);
}

DesktopSession::~DesktopSession()
{
    if (launcherShown_)
        UpdateLauncher(0.0, false);
    inhibitor_ = QDBusUnixFileDescriptor();
    if (sessionBus_)
        QDBusConnection::disconnectFromBus(sessionName_);
    if (systemBus_)
        QDBusConnection::disconnectFromBus(systemName_);
}

void DesktopSession::StartJob(const std::string& file)
{
    running_ = true;
    ++job_;
    file_ = file;
    lastProgress_ = -1;
    TakeInhibitor();
}

void DesktopSession::SetProgress(int position)
{
    // A job that never starts copying never reports progress, so the launcher
    // shows nothing for it.
    if (!running_ || position == lastProgress_)
        return;
    lastProgress_ = position;
    UpdateLauncher(static_cast<double>(position) / tessera::kProgressRange, true);
}

void DesktopSession::OnJobFinished(const QString& status, bool ran)
{
    if (!running_)
        return;
    running_ = false;
    inhibitor_ = QDBusUnixFileDescriptor();
    if (ran && sessionBus_ && !window_.isActiveWindow()) {
        QDBusMessage notify = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
            QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
        notify << QStringLiteral("Tessera") << 0u << QLatin1String(kAppId) << status << FileName(file_)
               << QStringList() << QVariantMap{{QStringLiteral("desktop-entry"), QLatin1String(kAppId)}} << -1;
        QDBusConnection(sessionName_).send(notify);
    }
    if (launcherShown_)
        UpdateLauncher(0.0, false);
}

void DesktopSession::UpdateLauncher(double progress, bool visible)
{
    launcherShown_ = visible;
    if (!sessionBus_)
        return;
    QDBusMessage update = QDBusMessage::createSignal(QStringLiteral("/org/tesseraproject/Tessera/LauncherEntry"),
                                                     QStringLiteral("com.canonical.Unity.LauncherEntry"),
                                                     QStringLiteral("Update"));
    update << QStringLiteral("application://%1.desktop").arg(QLatin1String(kAppId))
           << QVariantMap{{QStringLiteral("progress"), progress}, {QStringLiteral("progress-visible"), visible}};
    QDBusConnection(sessionName_).send(update);
}

void DesktopSession::TakeInhibitor()
{
    if (!systemBus_)
        return;
    QDBusConnection bus(systemName_);
    if (!(bus.connectionCapabilities() & QDBusConnection::UnixFileDescriptorPassing))
        return;
    QDBusMessage inhibit = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
        QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("Inhibit"));
    inhibit << QStringLiteral("sleep") << QStringLiteral("Tessera") << QStringLiteral("ファイルの分割・結合の途中")
            << QStringLiteral("block");
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(inhibit, kInhibitTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, job = job_](QDBusPendingCallWatcher* call) {
        const QDBusPendingReply<QDBusUnixFileDescriptor> reply = *call;
        // The lock of a job that has already ended is closed at once, with
        // the reply.
        if (reply.isValid() && running_ && job == job_)
            inhibitor_ = reply.value();
        call->deleteLater();
    });
}
