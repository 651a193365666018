#include "app/ScriptedDialogs.h"
#include "app/StationControls.h"
#include "app/StationRemote.h"
#include "app/TForm1.h"
#include "operations/CancellableClock.h"
#include "operations/CancellableHidPlatform.h"
#include "sim/SimulatedHidBus.h"
#include "sim/VirtualMouse31x.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTcpSocket>

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>

namespace vrax {
namespace {

namespace fs = std::filesystem;

// A jig on the window's TCP port: lines as they come, read from the window's own event loop,
// so a handler may answer them in the middle of a job's message pumping.
class Jig {
public:
    explicit Jig(quint16 port) {
        QObject::connect(&socket_, &QTcpSocket::readyRead, [this] { Drain(); });
        socket_.connectToHost("127.0.0.1", port);
    }

    void Send(const std::string& command) { socket_.write((command + "\r\n").c_str()); }
    // Pumps the loop until a line starts with `prefix`; its text, or empty after 10 s.
    std::string Await(const std::string& prefix) {
        QElapsedTimer waited;
        waited.start();
        for (std::size_t seen = lines.size(); waited.elapsed() < 10000;) {
            for (; seen < lines.size(); ++seen) {
                if (lines[seen].rfind(prefix, 0) == 0) {
                    return lines[seen];
                }
            }
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            Drain();
        }
        return {};
    }
    // A command and its final reply.
    std::string Ask(const std::string& command) {
        Send(command);
        const std::size_t before = lines.size();
        QElapsedTimer waited;
        waited.start();
        while (waited.elapsed() < 10000) {
            for (std::size_t i = before; i < lines.size(); ++i) {
                if (lines[i].rfind("#OK", 0) == 0 || lines[i].rfind("#ERR", 0) == 0 ||
                    lines[i].rfind("#NACK", 0) == 0) {
                    return lines[i];
                }
            }
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            Drain();
        }
        return {};
    }

    std::vector<std::string> lines;
    std::function<void(const std::string&)> onLine;

private:
    // Qt does not signal readyRead again inside its own slot: the waits read for themselves.
    void Drain() {
        pending_ += socket_.readAll().toStdString();
        for (std::size_t end; (end = pending_.find("\r\n")) != std::string::npos;) {
            const std::string line = pending_.substr(0, end);
            pending_.erase(0, end + 2);
            lines.push_back(line);
            if (onLine) {
                onLine(line);
            }
        }
    }

    QTcpSocket socket_;
    std::string pending_;
};

// The window on a simulated bus and a virtual clock, its jig port open on a free TCP port.
class JigWindow : public ::testing::Test {
protected:
    JigWindow() {
        form.SetExitAction([](int) {});
        form.SelectLanguage(1033);
        auto* remote = new StationRemote(form, cancelled);
        remote->Open("tcp:127.0.0.1:0");
        const std::string name = remote->Names().front();
        port = static_cast<quint16>(std::stoi(name.substr(name.rfind(':') + 1)));
    }

    VirtualClock clock;
    SimulatedHidBus bus{clock};
    std::atomic<bool> cancelled{false};
    CancellableHidPlatform platform{bus, cancelled};
    CancellableClock jobClock{clock, cancelled};
    ScriptedDialogs dialogs;
    TForm1 form{platform, jobClock, dialogs};
    quint16 port = 0;
};

TEST_F(JigWindow, AJigWritesAMouseAsAClickDoesAndIsToldBusyDuringAJob) {
    const fs::path folder = fs::temp_directory_path() / "vrax-jig-window";
    fs::remove_all(folder);
    fs::create_directories(folder);
    const std::string imagePath = (folder / "image.bin").string();
    std::ofstream(imagePath, std::ios::binary) << std::string(2048, '\x5A');

    dialogs.openAnswers.push_back(QString::fromStdString(imagePath));
    FindControl<QPushButton>(form, "btn_Load")->click();
    ASSERT_TRUE(form.State().ImageLoaded);
    bus.Plug(std::make_shared<VirtualMouse31x>());
    form.RunGuarded([&] { form.DevTimerTimer(FindControl<QTimer>(form, "DevTimer")); });
    ASSERT_TRUE(FindControl<QPushButton>(form, "btn_Write")->isEnabled());

    Jig jig(port);
    EXPECT_EQ(jig.Ask("#STATUS"), "#OK READY");
    EXPECT_TRUE(FindControl<QLabel>(form, "lbl_Jig")->text().startsWith("Jig 127.0.0.1:"))
        << FindControl<QLabel>(form, "lbl_Jig")->text().toStdString();

    // In the job's message pumping, at its first heartbeat: the jig is answered, a second job
    // refused, and no click is offered.
    std::string statusDuringJob;
    std::string autoDuringJob;
    bool buttonDuringJob = true;
    jig.onLine = [&](const std::string& line) {
        if (line.rfind("#BUSY", 0) == 0 && statusDuringJob.empty()) {
            statusDuringJob = "?";
            buttonDuringJob = FindControl<QPushButton>(form, "btn_Write")->isEnabled();
            statusDuringJob = jig.Ask("#STATUS");
            autoDuringJob = jig.Ask("#AUTO");
        }
    };
    jig.Send("#AUTO");
    const std::string end = jig.Await("#OK PASS");
    jig.onLine = nullptr;
    ASSERT_FALSE(end.empty());
    EXPECT_EQ(jig.lines.front(), "#OK READY");
    EXPECT_EQ(jig.lines[1], "#ACK");
    EXPECT_EQ(jig.lines[2].rfind("#BUSY ", 0), 0u) << jig.lines[2];
    EXPECT_EQ(statusDuringJob.rfind("#OK BUSY ", 0), 0u) << statusDuringJob;
    EXPECT_EQ(autoDuringJob.rfind("#ERR002:", 0), 0u) << autoDuringJob;
    EXPECT_FALSE(buttonDuringJob);
    EXPECT_EQ(end.rfind("#OK PASS JOB=WRITE ", 0), 0u) << end;
    EXPECT_EQ(FindControl<QLabel>(form, "lbl_CtrlResult")->text(), "Write Pass");
    EXPECT_EQ(FindControl<QLabel>(form, "lbl_PassCnt")->text(), "1");
    EXPECT_EQ(jig.Ask("#RESULT"), end);

    // A jig's start during a clicked job.
    std::string autoDuringClick;
    QTimer::singleShot(0, &form, [&] { autoDuringClick = jig.Ask("#AUTO"); });
    FindControl<QPushButton>(form, "btn_Write")->click();
    EXPECT_EQ(autoDuringClick.rfind("#ERR002:", 0), 0u) << autoDuringClick;
    EXPECT_EQ(FindControl<QLabel>(form, "lbl_PassCnt")->text(), "2");

    // Cancelled at a heartbeat, the write fails; the next one passes again.
    std::string cancelReply;
    jig.onLine = [&](const std::string& line) {
        if (line.rfind("#BUSY", 0) == 0 && cancelReply.empty()) {
            cancelReply = "?";
            cancelReply = jig.Ask("#CANCEL");
        }
    };
    jig.Send("#AUTO");
    const std::string cancelledEnd = jig.Await("#ERR007:");
    jig.onLine = nullptr;
    EXPECT_EQ(cancelReply, "#OK CANCELLING");
    EXPECT_EQ(cancelledEnd.rfind("#ERR007:CANCELLED JOB=WRITE", 0), 0u) << cancelledEnd;
    EXPECT_EQ(FindControl<QLabel>(form, "lbl_CtrlResult")->text(), "Write Fail");
    EXPECT_EQ(jig.Ask("#AUTO").rfind("#OK PASS JOB=WRITE ", 0), 0u);
    EXPECT_EQ(FindControl<QLabel>(form, "lbl_PassCnt")->text(), "3");

    fs::remove_all(folder);
}

// What the window's operator would do by hand: Load BIN from the image folder, wait for the
// mouse to be plugged, type the MES's serial number in the SN field.
TEST_F(JigWindow, AJigLoadsTheImageWaitsForTheMouseAndGivesItsSerialNumber) {
    const fs::path folder = fs::temp_directory_path() / "vrax-jig-window-load";
    fs::remove_all(folder);
    fs::create_directories(folder);
    std::ofstream(folder / "image.bin", std::ios::binary) << std::string(2048, '\x5A');
    std::ofstream(folder / "short.bin", std::ios::binary) << std::string(100, '\x5A');
    const QString working = QDir::currentPath();
    QDir::setCurrent(QString::fromStdString(folder.string()));

    Jig jig(port);
    const auto tick = [&] {
        form.RunGuarded([&] { form.DevTimerTimer(FindControl<QTimer>(form, "DevTimer")); });
    };

    EXPECT_EQ(jig.Ask("#LOAD nothing.bin"), "#ERR013:IMAGE NOT LOADED NO FILE nothing.bin IN THE "
                                            "IMAGE FOLDER");
    EXPECT_EQ(jig.Ask("#LOAD short.bin").rfind("#ERR013:", 0), 0u);
    EXPECT_FALSE(form.State().ImageLoaded);
    EXPECT_EQ(jig.Ask("#LOAD image.bin").rfind("#OK NAME=image.bin SHA256=", 0), 0u);
    ASSERT_TRUE(form.State().ImageLoaded);

    // No mouse comes: the wait runs out, or the jig cancels it.
    jig.Send("#AUTO WAIT=1");
    EXPECT_EQ(jig.Await("#ACK"), "#ACK");
    clock.Advance(std::chrono::seconds(2));
    EXPECT_FALSE(jig.Await("#ERR011:TIMEOUT").empty());
    jig.Send("#AUTO WAIT=60");
    EXPECT_EQ(jig.Await("#ACK"), "#ACK");
    jig.Send("#CANCEL");
    EXPECT_FALSE(jig.Await("#ERR007:CANCELLED").empty());
    EXPECT_FALSE(FindControl<QLabel>(form, "lbl_CtrlResult")->isVisible());

    EXPECT_EQ(jig.Ask("#AUTO SN=12").rfind("#ERR017:", 0), 0u);
    FindControl<QCheckBox>(form, "cb_WriteID")->setChecked(true);
    // Plugged while the jig waits; the window's DevTimer finds it.
    jig.Send("#AUTO WAIT=60 SN=00AB12");
    EXPECT_EQ(jig.Await("#ACK"), "#ACK");
    bus.Plug(std::make_shared<VirtualMouse31x>());
    tick();
    const std::string end = jig.Await("#OK");
    EXPECT_EQ(end.rfind("#OK PASS JOB=WRITE SN=00AB12 ", 0), 0u) << end;
    EXPECT_EQ(FindControl<QLabel>(form, "lbl_CtrlResult")->text(), "Write Pass");
    EXPECT_EQ(form.FactoryNumber(), 0xAB12);
    const std::string read = jig.Ask("#FACTORY");
    EXPECT_EQ(read.rfind("#OK PASS JOB=FACTORY SN=00AB12 ", 0), 0u) << read;
    EXPECT_NE(read.find(" FACTORY=1 LINE=A STATION=1"), std::string::npos) << read;
    // Load BIN is closed while a mouse is ready, to the jig too.
    EXPECT_EQ(jig.Ask("#LOAD image.bin").rfind("#ERR002:", 0), 0u);

    QDir::setCurrent(working);
    fs::remove_all(folder);
}

} // namespace
} // namespace vrax
