#pragma once

#include <QDBusUnixFileDescriptor>
#include <QObject>
#include <QString>

#include <cstdint>
#include <string>

class QWidget;

// What the desktop around the window learns of a job, over D-Bus:
// - the launcher entry shows the job's progress while it runs
//   (com.canonical.Unity.LauncherEntry on the session bus);
// - the session does not suspend while a job runs (an inhibitor lock "sleep"
//   from logind on the system bus, held until the job ends, however it ends);
// - a job that ends while the window is not active is announced by a desktop
//   notification (org.freedesktop.Notifications).
// Nothing here waits for an answer: calls are sent or answered later on the
// window's thread, and a bus or service that is not there is skipped.
//
// The buses are found as libdbus finds them: DBUS_SESSION_BUS_ADDRESS, else
// $XDG_RUNTIME_DIR/bus; DBUS_SYSTEM_BUS_ADDRESS, else the system bus socket.
class DesktopSession final : public QObject {
    Q_OBJECT

public:
    // window: its activity at a job's end decides whether the end is announced.
    explicit DesktopSession(QWidget& window);
    ~DesktopSession() override;
    DesktopSession(const DesktopSession&) = delete;
    DesktopSession& operator=(const DesktopSession&) = delete;

    // A job starts on file (split: the source; join: the destination).
    void StartJob(const std::string& file);
    // Progress bar position, 0 to kProgressRange.
    void SetProgress(int position);
    // The job has ended; status is the status line's final text. ran is false
    // for a job that returned before it started copying (nothing is announced
    // then).
    void OnJobFinished(const QString& status, bool ran);

private:
    void UpdateLauncher(double progress, bool visible);
    void TakeInhibitor();

    QWidget& window_;
    QString sessionName_;
    QString systemName_;
    bool sessionBus_ = false;
    bool systemBus_ = false;

    bool running_ = false;
    std::uint64_t job_ = 0;  // counts jobs, so an answer for an ended job is dropped
    std::string file_;
    bool launcherShown_ = false;
    int lastProgress_ = -1;
    // The inhibitor lock: held as long as this descriptor is open.
    QDBusUnixFileDescriptor inhibitor_;
};
