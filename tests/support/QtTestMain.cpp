// main for the tests that need widgets: a QApplication on the offscreen
// platform unless the caller chose another, then GoogleTest.
#include <gtest/gtest.h>

#include <QApplication>
#include <QSettings>
#include <QTemporaryDir>

#include <cstdlib>

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    // Jobs run by tests reach no desktop: no notices, launcher updates or
    // suspend locks on the machine of whoever runs them. A test that wants a
    // bus starts its own.
    setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/tessera-test-bus", 1);
    setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/tessera-test-bus", 1);
    QApplication app(argc, argv);
    // What the dialogs remember goes to a folder of the test's own, never to
    // the user's configuration.
    QTemporaryDir settings;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
