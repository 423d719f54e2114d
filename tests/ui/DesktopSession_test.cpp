// What the desktop hears of a job, on a private D-Bus daemon of the test's
// own: fake notification and logind services, and a listener for the
// launcher's signal, all registered on it with QtDBus.
#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusUnixFileDescriptor>
#include <QProcess>

#include <poll.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "DialogTestSupport.h"
#include "support/TempDir.h"

using namespace tessera::test;

namespace {

constexpr int kJobTimeoutMs = 20'000;

class FakeNotifications : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    struct Notice {
        QString app;
        QString summary;
        QString body;
    };
    std::vector<Notice> notices;

public slots:
    uint Notify(const QString& app, uint, const QString&, const QString& summary, const QString& body,
                const QStringList&, const QVariantMap&, int)
    {
        notices.push_back({app, summary, body});
        return static_cast<uint>(notices.size());
    }
};

// Each lock handed out is the write end of a pipe: it is released when every
// copy of it is closed, which the read end shows as a hang-up.
class FakeLogin : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")

public:
    ~FakeLogin() override
    {
        for (int fd : readEnds)
            ::close(fd);
    }
    struct Request {
        QString what;
        QString mode;
    };
    std::vector<Request> requests;
    std::vector<int> readEnds;

    bool Released(std::size_t lock) const
    {
        pollfd p{readEnds.at(lock), POLLIN, 0};
        return ::poll(&p, 1, 0) == 1 && (p.revents & POLLHUP);
    }

public slots:
    QDBusUnixFileDescriptor Inhibit(const QString& what, const QString&, const QString&, const QString& mode)
    {
        requests.push_back({what, mode});
        int ends[2];
        if (::pipe(ends) != 0)
            return {};
        readEnds.push_back(ends[0]);
        QDBusUnixFileDescriptor lock(ends[1]);  // a copy of its own
        ::close(ends[1]);
        return lock;
    }
};

class LauncherListener : public QObject {
    Q_OBJECT

public:
    struct Update {
        QString app;
        double progress;
        bool visible;
    };
    std::vector<Update> updates;

public slots:
    void Record(const QString& app, const QVariantMap& properties)
    {
        updates.push_back(
            {app, properties.value("progress").toDouble(), properties.value("progress-visible").toBool()});
    }
};

// A dbus-daemon started for the test, standing in for both the session bus
// and the system bus; the variables that name them point at it while the
// test runs.
class PrivateBus {
public:
    PrivateBus()
    {
        daemon_.start("dbus-daemon", {"--session", "--nofork", "--print-address=1"});
        if (!daemon_.waitForStarted(5000))
            return;
        while (address_.isEmpty() && daemon_.waitForReadyRead(5000))
            address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
        for (const char* name : kVariables) {
            saved_.push_back(qgetenv(name));
            qputenv(name, address_.toUtf8());
        }
    }
    ~PrivateBus()
    {
        for (std::size_t i = 0; i < saved_.size(); ++i)
            qputenv(kVariables[i], saved_[i]);
        daemon_.kill();
        daemon_.waitForFinished(5000);
    }
    const QString& address() const { return address_; }

private:
    static constexpr const char* kVariables[] = {"DBUS_SESSION_BUS_ADDRESS", "DBUS_SYSTEM_BUS_ADDRESS"};
    QProcess daemon_;
    QString address_;
    std::vector<QByteArray> saved_;
};

class DesktopSessionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(bus.address().isEmpty()) << "dbus-daemon did not start (Debian package dbus-daemon)";
        QDBusConnection fake = QDBusConnection::connectToBus(bus.address(), kFake);
        ASSERT_TRUE(fake.isConnected());
        ASSERT_TRUE(fake.registerService("org.freedesktop.Notifications"));
        ASSERT_TRUE(fake.registerObject("/org/freedesktop/Notifications", &notifications,
                                        QDBusConnection::ExportAllSlots));
        ASSERT_TRUE(fake.registerService("org.freedesktop.login1"));
        ASSERT_TRUE(fake.registerObject("/org/freedesktop/login1", &login, QDBusConnection::ExportAllSlots));
        ASSERT_TRUE(fake.connect(QString(), QString(), "com.canonical.Unity.LauncherEntry", "Update", &launcher,
                                 SLOT(Record(QString, QVariantMap))));
        dialog = std::make_unique<CTesseraDlg>();
    }
    void TearDown() override
    {
        dialog.reset();
        QDBusConnection::disconnectFromBus(kFake);
    }

    // A source of one block and a plan of the given entries, then Start split.
    std::string StartSplit(const QStringList& entries)
    {
        const std::string source = dir.file("movie.avi");
        WritePatternFile(source, 10);
        dialog->SetFieldText(kEditSource, Q(source));
        dialog->AppendLines(kListSplit, entries);
        dialog->Button(kButtonStartSplit)->click();
        return source;
    }
    bool WaitForJobEnd()
    {
        return QTest::qWaitFor([&] { return !dialog->JobRunning(); }, kJobTimeoutMs);
    }
    // The launcher was cleared after the job: the last update hides the bar.
    bool WaitForLauncherCleared()
    {
        return QTest::qWaitFor(
            [&] { return !launcher.updates.empty() && !launcher.updates.back().visible; }, 5000);
    }
    // Progress shown during the job, then cleared; one lock taken and let go.
    void ExpectDesktopFollowedTheJob()
    {
        ASSERT_TRUE(WaitForLauncherCleared());
        ASSERT_GE(launcher.updates.size(), 2u);
        EXPECT_EQ(launcher.updates.front().app, "application://org.tesseraproject.Tessera.desktop");
        EXPECT_TRUE(launcher.updates.front().visible);
        for (std::size_t i = 0; i + 1 < launcher.updates.size(); ++i) {
            EXPECT_TRUE(launcher.updates[i].visible) << i;
            EXPECT_GE(launcher.updates[i].progress, 0.0);
            EXPECT_LE(launcher.updates[i].progress, 1.0);
            if (i > 0) {
                EXPECT_GE(launcher.updates[i].progress, launcher.updates[i - 1].progress) << i;
            }
        }
        ASSERT_EQ(login.requests.size(), 1u);
        EXPECT_EQ(login.requests[0].what, "sleep");
        EXPECT_EQ(login.requests[0].mode, "block");
        EXPECT_TRUE(QTest::qWaitFor([&] { return login.Released(0); }, 5000)) << "the inhibitor lock is still held";
    }

    static constexpr char kFake[] = "fake-desktop";
    PrivateBus bus;
    FakeNotifications notifications;
    FakeLogin login;
    LauncherListener launcher;
    TempDir dir;
    std::unique_ptr<CTesseraDlg> dialog;
};

TEST_F(DesktopSessionTest, JobEndingBehindOtherWindowsIsAnnounced)
{
    // The dialog is never shown here, so it is not the active window.
    StartSplit({"0 10"});
    // The lock is held while the job runs.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !login.readEnds.empty(); }, 5000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !launcher.updates.empty(); }, 5000));
    if (dialog->JobRunning()) {
        EXPECT_FALSE(login.Released(0));
    }
    ASSERT_TRUE(WaitForJobEnd());
    ExpectDesktopFollowedTheJob();
    ASSERT_EQ(notifications.notices.size(), 1u);
    EXPECT_EQ(notifications.notices[0].app, "Tessera");
    EXPECT_EQ(notifications.notices[0].summary, "終了");
    EXPECT_EQ(notifications.notices[0].body, "movie.avi");
}

TEST_F(DesktopSessionTest, ActiveWindowGetsNoNotification)
{
    dialog->show();
    dialog->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(dialog.get()));
    StartSplit({"0 10"});
    ASSERT_TRUE(WaitForJobEnd());
    // A notice would have been sent before the launcher's clearing update.
    ExpectDesktopFollowedTheJob();
    EXPECT_TRUE(notifications.notices.empty());
}

TEST_F(DesktopSessionTest, FailedJobReleasesTheLockAndSaysWhy)
{
    // The destination's folder does not exist: the join cannot create it.
    const std::string input = dir.file("in");
    WriteFile(input, "abc");
    dialog->AppendLines(kListJoin, {Q(input)});
    dialog->SetFieldText(kEditJoinDestination, Q(dir.file("no-such-folder/joined.bin")));
    dialog->Button(kButtonStartJoin)->click();
    ASSERT_TRUE(WaitForJobEnd());
    ASSERT_EQ(StatusText(*dialog), "中止");

    ASSERT_TRUE(QTest::qWaitFor([&] { return !notifications.notices.empty(); }, 5000));
    EXPECT_EQ(notifications.notices[0].summary, "中止");
    EXPECT_EQ(notifications.notices[0].body, "joined.bin");
    ASSERT_EQ(login.requests.size(), 1u);
    EXPECT_TRUE(QTest::qWaitFor([&] { return login.Released(0); }, 5000));
    // It never copied, so the launcher never showed progress.
    EXPECT_TRUE(launcher.updates.empty());
}

TEST_F(DesktopSessionTest, AbortedJobClearsTheLauncherAndReleasesTheLock)
{
    const std::string source = StartSplit({"0 5", "5 10"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return dialog->Button(kButtonAbort)->isEnabled(); }, kJobTimeoutMs));
    dialog->Button(kButtonAbort)->click();
    ASSERT_TRUE(WaitForJobEnd());
    EXPECT_FALSE(std::filesystem::exists(source + ".001")) << "the job was not aborted";
    ExpectDesktopFollowedTheJob();
}

TEST_F(DesktopSessionTest, JobThatNeverStartsLeavesNoTrace)
{
    dialog->Button(kButtonStartSplit)->click();  // no source
    ASSERT_TRUE(WaitForJobEnd());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !login.requests.empty(); }, 5000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return login.Released(0); }, 5000));
    QTest::qWait(100);  // room for a stray message to arrive
    EXPECT_TRUE(launcher.updates.empty());
    EXPECT_TRUE(notifications.notices.empty());
}

// Without a bus the job runs as before. (The test main points both buses at a
// socket that does not exist.)
TEST(DesktopSessionWithoutBusTest, JobRunsAsBefore)
{
    TempDir dir;
    CTesseraDlg dialog;
    const std::string source = dir.file("s");
    WriteFile(source, "0123456789");
    dialog.SetFieldText(kEditSource, Q(source));
    dialog.AppendLines(kListSplit, {"2 5"});
    dialog.Button(kButtonStartSplit)->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !dialog.JobRunning(); }, kJobTimeoutMs));
    EXPECT_EQ(StatusText(dialog), "終了");
    EXPECT_EQ(ReadFile(source + ".000"), "234");
}

}  // namespace

#include "DesktopSession_test.moc"
