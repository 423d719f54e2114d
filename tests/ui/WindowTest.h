#pragma once

// What the tests that run jobs in the real, shown window share: the dialog in
// a fresh temporary folder, with the settings cleared before and after each
// test, and the commands they read its files back with.

#include <gtest/gtest.h>

#include <QProcess>
#include <QSettings>
#include <QStringList>

#include <string>

#include "DialogTestSupport.h"
#include "support/TempDir.h"

namespace tessera::test {

// How long a job, or a command reading back what it wrote, may take.
inline constexpr int kJobTimeoutMs = 20'000;

// Runs a command in folder; its exit status (-1 when it did not run or did
// not end), and what it printed in out.
inline int RunIn(const QString& program, const QStringList& arguments, const std::string& folder,
                 QString* out = nullptr)
{
    QProcess process;
    process.setWorkingDirectory(Q(folder));
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(kJobTimeoutMs) || process.exitStatus() != QProcess::NormalExit)
        return -1;
    if (out)
        *out = QString::fromUtf8(process.readAll());
    return process.exitCode();
}

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QSettings().clear();
        dialog.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    }
    void TearDown() override { QSettings().clear(); }

    TempDir dir;
    CTesseraDlg dialog;
};

}  // namespace tessera::test
