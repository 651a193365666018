#include <QCoreApplication>
#include <QProcess>

#include <gtest/gtest.h>

namespace {

// Reads the process's output until a line starts with prefix; the line, or empty on time-out.
QString WaitForLine(QProcess& process, const QString& prefix, int timeoutMs = 20000) {
    QString seen;
    for (int waited = 0; waited < timeoutMs; waited += 100) {
        while (process.canReadLine()) {
            const QString line = QString::fromLocal8Bit(process.readLine()).trimmed();
            if (line.startsWith(prefix)) {
                return line;
            }
        }
        if (process.state() == QProcess::NotRunning && !process.canReadLine()) {
            break;
        }
        process.waitForReadyRead(100);
    }
    return {};
}

TEST(SingleInstanceTest, SecondStartRaisesTheRunningCopyAndEndsWithoutAWindow) {
    const QString key = QString("vrax-test-%1").arg(QCoreApplication::applicationPid());

    QProcess first;
    first.start(VRAX_STATION_PROBE, {key, "stay"});
    const QString window = WaitForLine(first, "window ");
    ASSERT_FALSE(window.isEmpty()) << first.readAllStandardError().toStdString();
    EXPECT_EQ(window,
              "window VRAX Mse 2K-Bin Writer Tool v1.|VRAX 2K-Bin Writer Tool|instant plug-in");

    QProcess second;
    second.start(VRAX_STATION_PROBE, {key, "stay"});
    ASSERT_TRUE(second.state() == QProcess::NotRunning || second.waitForFinished(20000));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_FALSE(second.readAllStandardOutput().contains("window"));
    EXPECT_EQ(WaitForLine(first, "restored"), "restored");

    // A killed copy leaves its socket behind; the next start must still become the running copy.
    first.kill();
    first.waitForFinished(10000);

    QProcess third;
    third.start(VRAX_STATION_PROBE, {key, "close"});
    EXPECT_FALSE(WaitForLine(third, "window ").isEmpty());
    // Qt answers false for a process that has already finished: it may, once it has said it all.
    ASSERT_TRUE(third.state() == QProcess::NotRunning || third.waitForFinished(20000));
    EXPECT_EQ(third.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(third.exitCode(), 0) << "closing the window ends the process with code 0";
    EXPECT_FALSE(third.readAllStandardOutput().contains("loop ended"))
        << "the process ends inside the close handler, not after the message loop";
}

} // namespace
