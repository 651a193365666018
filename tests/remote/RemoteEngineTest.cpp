#include "remote/RemoteEngine.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vrax {
namespace {

using std::chrono::milliseconds;

// A station whose job moves only when the test says so.
class ScriptedStation final : public JigStation {
public:
    int Channels() const override { return channels; }
    std::optional<RemoteError> StartJob(const JigJobRequest& request) override {
        started.push_back(request);
        if (refuse) {
            return refuse;
        }
        progress = {0, 342, false};
        cancelled = false;
        return std::nullopt;
    }
    JigProgress Progress() override { return progress; }
    std::vector<JigChannelResult> TakeResults() override {
        std::vector<JigChannelResult> results;
        for (const int channel : started.back().channels) {
            JigChannelResult result;
            result.channel = channel;
            result.serialNumber = started.back().serialNumber.value_or(0x12A);
            result.productType = 0x2F01;
            result.durationMs = 812;
            if (cancelled) {
                result.error = RemoteError::Cancelled;
                result.verdict = "Write Fail";
                result.reason = "cancelled by the jig";
            } else if (channel == failingChannel) {
                result.error = RemoteError::WriteFail;
                result.verdict = "Write Fail";
            } else {
                result.verdict = "Write Pass";
            }
            results.push_back(result);
        }
        return results;
    }
    void Cancel() override { cancelled = true; }
    std::string Status(const std::vector<int>&) override { return "READY"; }
    JigImage Image() override { return {"fw.bin", "AB12"}; }
    std::optional<std::pair<RemoteError, std::string>> Load(const std::string& name) override {
        loaded.push_back(name);
        return std::nullopt;
    }
    bool SelectIcType(const std::string& name) override { return name == "KVQM31X"; }
    std::string IcType() override { return "KVQM31X"; }
    std::string Version() override { return "VRAX-BIN-WRITER 1.0"; }

    int channels = 1;
    int failingChannel = 0;
    std::optional<RemoteError> refuse;
    JigProgress progress;
    bool cancelled = false;
    std::vector<JigJobRequest> started;
    std::vector<std::string> loaded;
};

struct Conversation {
    explicit Conversation(int channels = 1) {
        station.channels = channels;
        engine = std::make_unique<RemoteEngine>(
            station, [this](const std::string& line) { sent.push_back(line); });
    }
    // The replies to what was said, without their CRLF (checked once for all).
    std::vector<std::string> Say(const std::string& bytes) {
        sent.clear();
        engine->Receive(bytes, now);
        return Replies();
    }
    std::vector<std::string> Replies() {
        std::vector<std::string> lines;
        for (const std::string& line : sent) {
            EXPECT_GE(line.size(), 2u);
            EXPECT_EQ(line.substr(line.size() - 2), "\r\n");
            lines.push_back(line.substr(0, line.size() - 2));
        }
        return lines;
    }

    ScriptedStation station;
    std::unique_ptr<RemoteEngine> engine;
    std::vector<std::string> sent;
    milliseconds now{0};
};

using Lines = std::vector<std::string>;

TEST(RemoteEngineTest, BadInputIsRefusedAndTheConversationGoesOn) {
    Conversation jig;
    EXPECT_EQ(jig.Say("#FLY\r\n"), Lines{"#NACK:UNKNOWN COMMAND #FLY"});
    EXPECT_EQ(jig.Say("AUTO\n"), Lines{"#NACK:COMMANDS START WITH #"});
    EXPECT_EQ(jig.Say("#auto SN=1234567\r"), Lines{"#NACK:SN MUST BE 1 TO 6 HEX DIGITS"});
    EXPECT_EQ(jig.Say("#AUTO SN=12G\r"), Lines{"#NACK:SN MUST BE 1 TO 6 HEX DIGITS"});
    EXPECT_EQ(jig.Say("#AUTO WAIT=-1\r"), Lines{"#NACK:WAIT MUST BE 0 TO 3600 SECONDS"});
    EXPECT_EQ(jig.Say("#AUTO SPEED=9\r"), Lines{"#NACK:UNKNOWN ARGUMENT SPEED=9"});
    EXPECT_EQ(jig.Say("#STATUS now\n"), Lines{"#NACK:#STATUS TAKES NO ARGUMENT"});
    EXPECT_EQ(jig.Say("#SELECT 2\n"), Lines{"#NACK:NO CHANNEL 2, THE STATION HAS 1"});
    EXPECT_EQ(jig.Say("#SELECT 1,x\n"), Lines{"#NACK:SELECT TAKES CHANNEL NUMBERS LIKE 1,3"});
    EXPECT_EQ(jig.Say("#IC KVQM99\n"), Lines{"#NACK:UNKNOWN IC TYPE KVQM99"});
    for (const std::string path : {"../x.bin", "/etc/x.bin", "a\\x.bin", "C:x.bin", ".."}) {
        EXPECT_EQ(jig.Say("#LOAD " + path + "\n"),
                  Lines{"#NACK:#LOAD TAKES A FILE NAME OF THE IMAGE FOLDER, NOT A PATH"})
            << path;
    }
    EXPECT_TRUE(jig.station.loaded.empty());
    EXPECT_EQ(jig.Say("#RESULT\n"), Lines{"#ERR015:NO RESULT NO JOB HAS ENDED YET"});
    EXPECT_EQ(jig.Say("#CANCEL\n"), Lines{"#ERR016:NO JOB RUNNING"});

    // Bytes that are no ASCII text, and a line past 4 KiB, are refused whole; the next line
    // in the same read is answered as usual.
    EXPECT_EQ(jig.Say("#STA\xC3\x9CUS\r\n#IMAGE\r\n"),
              (Lines{"#NACK:NOT ASCII", "#OK NAME=fw.bin SHA256=AB12"}));
    EXPECT_EQ(jig.Say("#" + std::string(5000, 'A')), Lines{});
    EXPECT_EQ(jig.Say("\n#version\n"),
              (Lines{"#NACK:LINE LONGER THAN 4096 BYTES", "#OK VRAX-BIN-WRITER 1.0"}));
    // A command split over reads, ends of every kind, and blank lines that ask nothing.
    EXPECT_EQ(jig.Say("#St"), Lines{});
    EXPECT_EQ(jig.Say("aTuS\r"), Lines{"#OK READY"});
    EXPECT_EQ(jig.Say("\n\r\n  \n#Ic kvqm31x\n"), Lines{"#NACK:UNKNOWN IC TYPE kvqm31x"});
    EXPECT_TRUE(jig.station.started.empty());
}

TEST(RemoteEngineTest, AJobIsAcknowledgedBeatsWhileBusyAndEndsOnceCancelNeverPasses) {
    Conversation jig;
    EXPECT_EQ(jig.Say("#AUTO WAIT=5\r\n"), Lines{"#ACK"});
    ASSERT_EQ(jig.station.started.size(), 1u);
    EXPECT_EQ(jig.station.started[0].waitSeconds, 5);
    EXPECT_EQ(jig.station.started[0].channels, std::vector<int>{1});

    // Ticks every 20 ms for 3 s: never more than half a second without a line.
    jig.sent.clear();
    milliseconds lastLine{0};
    for (int step = 1; step <= 150; ++step) {
        jig.now = milliseconds(step * 20);
        jig.station.progress.done = step;
        const std::size_t before = jig.sent.size();
        jig.engine->Tick(jig.now);
        if (jig.sent.size() != before) {
            EXPECT_LE((jig.now - lastLine).count(), 500);
            lastLine = jig.now;
        }
    }
    const Lines beats = jig.Replies();
    ASSERT_GE(beats.size(), 6u);
    for (const std::string& beat : beats) {
        EXPECT_EQ(beat.rfind("#BUSY ", 0), 0u) << beat;
    }
    EXPECT_EQ(beats.back(), "#BUSY 143/342");

    // During a job only #STATUS, #RESULT and #CANCEL are answered.
    EXPECT_EQ(jig.Say("#VERIFY\r\n#IMAGE\r\n"),
              (Lines{"#ERR002:BUSY A JOB IS RUNNING", "#ERR002:BUSY A JOB IS RUNNING"}));
    EXPECT_EQ(jig.Say("#STATUS\n"), Lines{"#OK BUSY 150/342"});
    EXPECT_EQ(jig.Say("#CANCEL\n"), Lines{"#OK CANCELLING"});
    jig.station.progress.finished = true;
    jig.sent.clear();
    jig.engine->Tick(jig.now);
    jig.engine->Tick(jig.now + milliseconds(600));
    EXPECT_EQ(jig.Replies(), Lines{"#ERR007:CANCELLED JOB=WRITE SN=00012A TYPE=2F01 MS=812 "
                                   "REASON=cancelled by the jig"});
    EXPECT_EQ(jig.Say("#RESULT\n"),
              Lines{"#OK ERR007 CANCELLED JOB=WRITE SN=00012A TYPE=2F01 MS=812 "
                    "REASON=cancelled by the jig"});

    // The next job passes; a job that ended before the next command answers first.
    EXPECT_EQ(jig.Say("#AUTO SN=1a2b\n"), Lines{"#ACK"});
    EXPECT_EQ(jig.station.started.back().serialNumber, 0x1A2B);
    // Asked while it runs, #RESULT says so, never the cancelled job's verdict as if current.
    EXPECT_EQ(jig.Say("#RESULT\n"), Lines{"#OK BUSY 0/342"});
    jig.station.progress.finished = true;
    EXPECT_EQ(jig.Say("#STATUS\n"),
              (Lines{"#OK PASS JOB=WRITE SN=001A2B TYPE=2F01 MS=812", "#OK READY"}));

    // A jig that leaves mid-job gets nothing more; its result waits for the next.
    EXPECT_EQ(jig.Say("#AUTO\n"), Lines{"#ACK"});
    jig.engine->Disconnected();
    jig.engine->Connected();
    jig.sent.clear();
    jig.engine->Tick(jig.now + milliseconds(1000));
    jig.station.progress.finished = true;
    jig.engine->Tick(jig.now + milliseconds(2000));
    EXPECT_EQ(jig.Replies(), Lines{});
    EXPECT_EQ(jig.Say("#RESULT\n"), Lines{"#OK PASS JOB=WRITE SN=00012A TYPE=2F01 MS=812"});

    // A station that cannot start the job says why, without an #ACK.
    jig.station.refuse = RemoteError::NoImage;
    EXPECT_EQ(jig.Say("#AUTO\n"), Lines{"#ERR012:NO IMAGE"});
}

TEST(RemoteEngineTest, AGangAnswersOneResultLinePerSelectedChannel) {
    Conversation jig(4);
    EXPECT_EQ(jig.Say("#SELECT 3, 1,3\n"), Lines{"#OK SELECTED 1,3"});
    EXPECT_EQ(jig.Say("#AUTO SN=5\n"), Lines{"#NACK:SN= NEEDS ONE CHANNEL SELECTED"});
    jig.station.failingChannel = 3;
    EXPECT_EQ(jig.Say("#AUTO\n"), Lines{"#ACK"});
    EXPECT_EQ(jig.station.started.back().channels, (std::vector<int>{1, 3}));
    jig.station.progress.finished = true;
    jig.sent.clear();
    jig.engine->Tick(jig.now);
    EXPECT_EQ(jig.Replies(), (Lines{"#RESULT:1:PASS JOB=WRITE SN=00012A TYPE=2F01 MS=812",
                                    "#RESULT:3:ERR008 WRITE FAIL JOB=WRITE SN=00012A "
                                    "TYPE=2F01 MS=812",
                                    "#ERR008:1 OF 2 FAILED"}));
}

} // namespace
} // namespace vrax
