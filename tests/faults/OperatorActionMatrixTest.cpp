#include "MatrixFixture.h"
#include "app/StationControls.h"

#include "app/PictureBox.h"
#include "controls/THexEdit.h"
#include "controls/TIntEdit.h"
#include "programming/DataFormat.h"
#include "programming/FactoryRecord.h"
#include "sim/VirtualMouse31x.h"
#include "sim/VirtualMouse42xx.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QLineEdit>
#include <QRadioButton>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <set>
#include <vector>

// What the operator can do while a job pumps messages: load another image, change the
// settings the job reads afresh, double-click the logo, plug a second mouse, unplug the job's
// mouse, close the window; each at points spread over every operation of both families. A
// verdict is judged by what the mouse holds against the image the job started with, and the
// window must serve a healthy mouse afterwards.

namespace vrax::testing {
namespace {

using std::chrono::microseconds;
using std::chrono::milliseconds;

using Kind = OperationKind;

std::vector<Operation> WritesInBothModes(const std::vector<Operation>& writes) {
    std::vector<Operation> operations;
    for (const bool autoWrite : {true, false}) {
        for (Operation operation : writes) {
            operation.autoWrite = autoWrite;
            operations.push_back(operation);
        }
    }
    return operations;
}

std::vector<Operation> WithReads(std::vector<Operation> operations) {
    operations.push_back({"verify, mouse holds the image", Kind::Verify});
    operations.push_back(
        {"verify, one byte differs", Kind::Verify, DataFormat::Byte2K, false, false, true});
    operations.push_back({"save", Kind::Save});
    operations.push_back({"factory read", Kind::FactoryRead});
    return operations;
}

const std::vector<Operation> Kvqm31xOperationsInBothModes = WithReads(WritesInBothModes({
    {"write 2K", Kind::Write, DataFormat::Byte2K},
    {"write 2K + ID", Kind::Write, DataFormat::Byte2K, true},
    {"write 256x8", Kind::Write, DataFormat::Byte256},
    {"write 256x8 + ID", Kind::Write, DataFormat::Byte256, true},
    {"write custom", Kind::Write, DataFormat::Custom},
    {"write custom + ID", Kind::Write, DataFormat::Custom, true},
}));

const std::vector<Operation> Kvqm42xxOperationsInBothModes = WithReads(WritesInBothModes({
    {"write 2K", Kind::Write, DataFormat::Byte2K},
    {"write 256x8", Kind::Write, DataFormat::Byte256},
}));

enum class Action {
    LoadAnother,
    LoadCancelled,
    TotalTimes,
    RetryTimes,
    WidenRanges,
    NarrowRanges,
    FormatCustom,
    Format256,
    BlockCount,
    SleepTime,
    ToggleProductId,
    FactoryFields,
    LogoDoubleClicks,
    PlugSecondMouse,
    UnplugMouse,
    CloseWindow,
};

struct ActionName {
    Action action;
    const char* name;
};

const std::vector<ActionName> Actions = {
    {Action::LoadAnother, "Load BIN with another image"},
    {Action::LoadCancelled, "Load BIN cancelled"},
    {Action::TotalTimes, "Total Times set to 0"},
    {Action::RetryTimes, "Retry Times set to 0"},
    {Action::WidenRanges, "ranges widened to 0000-2048;"},
    {Action::NarrowRanges, "ranges narrowed to 100-200;"},
    {Action::FormatCustom, "Data Format switched to Custom"},
    {Action::Format256, "Data Format switched to 256 Byte"},
    {Action::BlockCount, "256 count set to 3"},
    {Action::SleepTime, "Sleep Time set to 0"},
    {Action::ToggleProductId, "Write Product ID toggled"},
    {Action::FactoryFields, "factory fields changed"},
    {Action::LogoDoubleClicks, "logo double-clicked to unlock and lock"},
    {Action::PlugSecondMouse, "second mouse plugged"},
    {Action::UnplugMouse, "the job's mouse unplugged"},
    {Action::CloseWindow, "window closed"},
};

// Where in the operation the action comes: at transfer n, or at the record's write setup.
struct Point {
    long transfer = -1;
    bool atRecord = false;
};

const char* const DefaultRanges = "000-256;1280-1536;";

// Thrown where the closing window ends the process, so that none of the job runs after it.
struct WindowClosed {};

// The data format settings as a job read them.
struct FormatSettings {
    DataFormat format = DataFormat::Byte2K;
    int blockCount = 8;
    std::string ranges = DefaultRanges;
};

// The window, remembering the data format settings as a job last read them.
class SettingsReadForm final : public TForm1 {
public:
    using TForm1::TForm1;

    DataFormat Format() override { return last.format = TForm1::Format(); }
    int BlockCount() override { return last.blockCount = TForm1::BlockCount(); }
    std::string CustomRanges() override { return last.ranges = TForm1::CustomRanges(); }

    FormatSettings last;
};

class OperatorActionMatrix : public MatrixFixture {
protected:
    void StartFamily(int icType, VirtualMouse42xx::Layout layout) {
        SelectFamily(icType, layout);
        for (int i = 0; i < ImageSize; ++i) {
            otherImage_[static_cast<std::size_t>(i)] =
                static_cast<std::uint8_t>((i * 53 + 17) % 247);
        }
        otherPath_ = Path("other.bin");
        std::ofstream(otherPath_, std::ios::binary)
            .write(reinterpret_cast<const char*>(otherImage_.data()), ImageSize);
        currentPath_ = imagePath;
        currentImage_ = image;
        StartWindow();
        bus.SetTraceListener([this](const HidTraceEntry& entry) { Watch(entry); });
    }

    void StartWindow() {
        form.reset();
        form = std::make_unique<SettingsReadForm>(bus, clock, dialogs);
        form->SelectLanguage(1033);
        // Where the process would end: what the window claims at that moment is kept.
        form->SetExitAction([this](int code) {
            exitCodes_.push_back(code);
            verdictAtClose_ = Verdict();
            passCountAtClose_ = form->State().PassCount;
        });
        SelectIcType(icType_);
        LoadFile(currentPath_);
    }

    // As the operator starts the tool again after closing it.
    void RestartWindow(bool autoWrite) {
        UnplugAll();
        StartWindow();
        FindControl<QCheckBox>(*form, "cb_AutoRun")->setChecked(autoWrite);
        stampedSerials_.clear();
    }

    void LoadFile(const std::string& path) {
        dialogs.openAnswers.push_back(QString::fromStdString(path));
        form->RunGuarded([&] { form->btn_LoadClick(FindControl<QPushButton>(*form, "btn_Load")); });
        ASSERT_TRUE(form->State().ImageLoaded);
    }

    // Runs fn in the next message pump, where the window takes the operator's input.
    void AtNextPump(std::function<void()> fn) {
        QMetaObject::invokeMethod(form.get(), std::move(fn), Qt::QueuedConnection);
    }

    // DevTimer on the virtual clock: a tick in the first pump after each second it runs.
    void KeepTimer() {
        if (!FindControl<QTimer>(*form, "DevTimer")->isActive()) {
            timerStarted_ = clock.Now();
        } else if (clock.Now() - timerStarted_ >= milliseconds(1000)) {
            timerStarted_ = clock.Now();
            AtNextPump([this] { Tick(); });
        }
    }

    static bool StartsImageWrite(const HidTraceEntry& entry) {
        return entry.direction == HidTraceEntry::Direction::Set &&
               ((entry.bytes[0] == Kvqm31xLink::ReportId &&
                 entry.bytes[1] == Kvqm31xLink::CmdWriteSetup) ||
                (entry.bytes[0] == Kvqm42xxLink::CommandReportId &&
                 entry.bytes[1] == Kvqm42xxLink::CmdWriteSetup));
    }

    // The first transfer of a job, the arrival's own probing left out.
    static bool StartsJob(const HidTraceEntry& entry) {
        const bool set = entry.direction == HidTraceEntry::Direction::Set;
        return set && ((entry.bytes[0] == Kvqm31xLink::ReportId &&
                        entry.bytes[1] == Kvqm31xLink::CmdBegin) ||
                       (entry.bytes[0] == Kvqm42xxLink::CommandReportId &&
                        entry.bytes[1] == Kvqm42xxLink::CmdWriteSetup));
    }

    void Watch(const HidTraceEntry& entry) {
        if (closed_) {
            return;
        }
        counting_ = counting_ || StartsJob(entry);
        if (!counting_) {
            KeepTimer();
            return;
        }
        ++transfers_;
        const bool recordSetup = IsRecordSetup(entry);
        recordStamped_ = recordStamped_ || recordSetup;
        if (StartsImageWrite(entry) && !recordSetup) {
            passSettings_ = Read().last;
        }
        if (armed_ && (point_.atRecord ? recordSetup : transfers_ == point_.transfer)) {
            armed_ = false;
            Act();
        }
        KeepTimer();
        if (transfers_ > TransferLimit && bus.IsPlugged(mouseId_)) {
            hung_ = true;
            bus.Unplug(mouseId_);
        }
    }

    void SetField(QLineEdit* field, const char* text) {
        AtNextPump([this, field, text] {
            if (field->isEnabled() && !field->isHidden()) {
                performed_ = true;
                field->setText(text);
            }
        });
    }

    void Act() {
        switch (action_) {
        case Action::LoadAnother:
        case Action::LoadCancelled:
            AtNextPump([this, cancel = action_ == Action::LoadCancelled] {
                if (!FindControl<QPushButton>(*form, "btn_Load")->isEnabled()) {
                    return;
                }
                performed_ = true;
                const std::string& path = currentPath_ == imagePath ? otherPath_ : imagePath;
                dialogs.openAnswers.push_back(cancel ? std::nullopt
                                                     : std::optional(QString::fromStdString(path)));
                FindControl<QPushButton>(*form, "btn_Load")->click();
                if (!cancel && form->State().ImageLoaded) {
                    currentPath_ = path;
                    currentImage_ = path == imagePath ? image : otherImage_;
                }
            });
            break;
        case Action::TotalTimes:
            SetField(FindControl<TIntEdit>(*form, "edt_AllCnt"), "0");
            break;
        case Action::RetryTimes:
            SetField(FindControl<TIntEdit>(*form, "edt_RetryCnt"), "0");
            break;
        case Action::WidenRanges:
            SetField(FindControl<QLineEdit>(*form, "edt_WriteCustom"), "0000-2048;");
            break;
        case Action::NarrowRanges:
            SetField(FindControl<QLineEdit>(*form, "edt_WriteCustom"), "100-200;");
            break;
        case Action::BlockCount:
            SetField(FindControl<TIntEdit>(*form, "edt_Write256Count"), "3");
            break;
        case Action::FormatCustom:
        case Action::Format256:
            AtNextPump([this, button = action_ == Action::FormatCustom
                                           ? FindControl<QRadioButton>(*form, "rb_CmdCustom")
                                           : FindControl<QRadioButton>(*form, "rb_CmdByte256")] {
                if (button->isEnabled() && !button->isHidden()) {
                    performed_ = true;
                    button->click();
                }
            });
            break;
        case Action::SleepTime:
            SetField(FindControl<TIntEdit>(*form, "edt_sleepTime"), "0");
            break;
        case Action::ToggleProductId:
            AtNextPump([this] {
                performed_ = true;
                FindControl<QCheckBox>(*form, "cb_WriteID")->click();
            });
            break;
        case Action::FactoryFields:
            AtNextPump([this] {
                performed_ = true;
                FindControl<THexEdit>(*form, "edt_FactoryType")->setText("0777");
                // A number of its own, so no two mice are stamped alike by this action.
                FindControl<THexEdit>(*form, "edt_FactoryNum")
                    ->SetValue(0x800000 + tally.runs * 0x100);
                FindControl<DropDownComboBox>(*form, "cb_FactoryLine")->setCurrentIndex(9);
                FindControl<DropDownComboBox>(*form, "cb_FactoryStation")->setCurrentIndex(3);
            });
            break;
        case Action::LogoDoubleClicks:
            AtNextPump([this] {
                performed_ = true;
                const int dialogsBefore = dialogs.Count(ScriptedDialogs::Kind::Password);
                for (int click = 0;
                     click < 10 && dialogs.Count(ScriptedDialogs::Kind::Password) == dialogsBefore;
                     ++click) {
                    if (!form->ParametersUnlocked && (form->LogoClickCount + 1) % 5 == 0) {
                        dialogs.passwordAnswers.push_back(QString(TForm1::Password));
                    }
                    emit FindControl<PictureBox>(*form, "Img_VRAXLog")->DoubleClicked();
                }
                emit FindControl<PictureBox>(*form, "Img_VRAXLog")->DoubleClicked();
            });
            break;
        case Action::PlugSecondMouse: {
            performed_ = true;
            auto second = MakeMouse();
            second->Memory().fill(0x3C);
            bus.Plug(second);
            break;
        }
        case Action::UnplugMouse:
            performed_ = true;
            bus.Unplug(mouseId_);
            break;
        case Action::CloseWindow:
            performed_ = true;
            closed_ = true;
            form->close();
            throw WindowClosed{};
        }
    }

    // Arms the action; points count from the job's first transfer.
    void Arm(Action action, Point point, bool counting) {
        counting_ = counting;
        transfers_ = 0;
        recordStamped_ = false;
        hung_ = false;
        closed_ = false;
        performed_ = false;
        action_ = action;
        point_ = point;
        armed_ = point.atRecord || point.transfer > 0;
    }

    SettingsReadForm& Read() const { return static_cast<SettingsReadForm&>(*form); }

    // The bytes a passed write claims: the area its last pass wrote.
    std::vector<bool> ClaimedArea() const {
        const FormatSettings& pass = passSettings_;
        std::vector<bool> area(ImageSize, pass.format == DataFormat::Byte2K);
        if (pass.format == DataFormat::Byte256) {
            std::fill_n(area.begin(), std::clamp(pass.blockCount, 0, 8) * 256, true);
        } else if (pass.format == DataFormat::Custom) {
            ForEachCustomRange(pass.ranges, [&](int start, int end) {
                std::fill(area.begin() + start, area.begin() + end, true);
                return true;
            });
        }
        return area;
    }

    void ResetControls(const Operation& operation) {
        Read().last = {operation.format, 8, DefaultRanges};
        passSettings_ = Read().last;
        FindControl<TIntEdit>(*form, "edt_AllCnt")->setText("1");
        FindControl<TIntEdit>(*form, "edt_RetryCnt")->setText("3");
        FindControl<TIntEdit>(*form, "edt_sleepTime")->setText("100");
        FindControl<QLineEdit>(*form, "edt_WriteCustom")->setText(DefaultRanges);
        FindControl<TIntEdit>(*form, "edt_Write256Count")->setText("8");
        ApplyFormat(operation);
        FindControl<THexEdit>(*form, "edt_FactoryType")->setText("0005");
        FindControl<THexEdit>(*form, "edt_FactoryDate")->setText("20200527");
        FindControl<DropDownComboBox>(*form, "cb_Factory")->setCurrentIndex(0);
        FindControl<DropDownComboBox>(*form, "cb_FactoryLine")->setCurrentIndex(0);
        FindControl<DropDownComboBox>(*form, "cb_FactoryStation")->setCurrentIndex(0);
    }

    // The button's handler as its click runs it; false when the button is disabled.
    bool Click(Kind kind) {
        QPushButton* button = ButtonOf(kind);
        if (!button->isEnabled()) {
            return false;
        }
        if (kind == Kind::Save) {
            dialogs.saveAnswers.push_back(QString::fromStdString(Path("saved")));
        }
        form->RunGuarded([&] {
            switch (kind) {
            case Kind::Write:
                form->btn_WriteClick(button);
                break;
            case Kind::Verify:
                form->btn_VerifyClick(button);
                break;
            case Kind::Save:
                form->btn_SaveClick(button);
                break;
            case Kind::FactoryRead:
                form->btnReadFactoryClick(button);
                break;
            }
        });
        return true;
    }

    bool Run(const Operation& operation, Action action, Point point) {
        if (operation.autoWrite) {
            Arm(action, point, false);
            mouseId_ = bus.Plug(currentMouse_);
            Tick();
            return true;
        }
        Arm(action, {}, false);
        mouseId_ = bus.Plug(currentMouse_);
        Tick();
        Arm(action, point, true);
        return Click(operation.kind);
    }

    // What is wrong with a write's outcome; empty when nothing is.
    std::string JudgeWrite(const VirtualMouse& mouse, const ImageBuffer& startImage, bool passed,
                           bool& falsePass) {
        falsePass = false;
        if (!passed) {
            return {};
        }
        const FactoryRecordBytes& record = form->State().FactoryRecord;
        const std::vector<bool> area = ClaimedArea();
        for (int a = 0; a < ImageSize; ++a) {
            const bool stamped = recordStamped_ && InRecord(a);
            if (!stamped && !area[static_cast<std::size_t>(a)]) {
                continue;
            }
            const std::uint8_t expected =
                stamped ? record[static_cast<std::size_t>(a - FactoryRecordAddress)]
                        : startImage[static_cast<std::size_t>(a)];
            if (mouse.Memory()[static_cast<std::size_t>(a)] != expected) {
                falsePass = true;
                const ImageBuffer& other = startImage == image ? otherImage_ : image;
                const bool fromOther = !stamped && mouse.Memory()[static_cast<std::size_t>(a)] ==
                                                       other[static_cast<std::size_t>(a)];
                char text[160];
                std::snprintf(text, sizeof text,
                              "\"Write Pass\" but the mouse holds %02X at address %d, not %02X%s",
                              mouse.Memory()[static_cast<std::size_t>(a)], a, expected,
                              stamped ? " of the stamped record" : " of the job's image");
                return std::string(text) + (fromOther ? " (the other image's byte)" : "");
            }
        }
        if (recordStamped_) {
            const int serial = (record[6] << 16) | (record[7] << 8) | record[8];
            if (!stampedSerials_.insert(serial).second) {
                return "serial number " + std::to_string(serial) + " stamped on a second mouse";
            }
        }
        return {};
    }

    std::string Judge(const Operation& operation, Action action, const VirtualMouse& mouse,
                      const ImageBuffer& before, const ImageBuffer& startImage, bool passed,
                      bool& falsePass) {
        falsePass = false;
        const auto& memory = mouse.Memory();
        switch (operation.kind) {
        case Kind::Write:
            return JudgeWrite(mouse, startImage, passed, falsePass);
        case Kind::Verify:
            if (memory != before) {
                return "verify changed the mouse";
            }
            for (int a = 0; a < ImageSize && passed; ++a) {
                const bool skipped = family_ == MouseFamily::Kvqm31x && InRecord(a);
                if (!skipped && memory[a] != startImage[a]) {
                    falsePass = true;
                    return "\"Verify Pass\" but the mouse differs at address " + std::to_string(a);
                }
            }
            return {};
        case Kind::Save: {
            const bool saved = std::filesystem::exists(Path("saved.bin"));
            if (memory != before) {
                return "save changed the mouse";
            }
            if (saved != passed) {
                falsePass = saved;
                return saved ? "a file without \"Save Pass\"" : "\"Save Pass\" without a file";
            }
            if (saved && !SavedFileHolds(memory)) {
                falsePass = true;
                return "\"Save Pass\" but the file is not what the mouse holds";
            }
            return {};
        }
        case Kind::FactoryRead: {
            if (memory != before) {
                return "the factory read changed the mouse";
            }
            if (!passed) {
                return {};
            }
            FactoryRecordBytes held{};
            std::copy_n(memory.begin() + FactoryRecordAddress, FactoryRecordSize, held.begin());
            const FactoryFields expected = DecodeFactoryRecord(held);
            const bool fieldsShown =
                FindControl<THexEdit>(*form, "edt_FactoryType")->GetValue() ==
                    expected.productType &&
                FindControl<THexEdit>(*form, "edt_FactoryNum")->GetValue() ==
                    expected.serialNumber &&
                FindControl<DropDownComboBox>(*form, "cb_FactoryLine")->currentIndex() ==
                    expected.lineIndex;
            if (form->State().FactoryRecord != held ||
                (action != Action::FactoryFields && !fieldsShown)) {
                falsePass = true;
                return "\"Read Ok\" but the record read is not the mouse's";
            }
            return {};
        }
        }
        return {};
    }

    // Empty when the window is as after a finished operation.
    std::string StateFault() const {
        if (FindControl<TFormLoadingUI>(*form, "FormLoadingUI")->isVisible()) {
            return "the busy window is still shown";
        }
        if (form->PollBusy) {
            return "the polling flag is left set";
        }
        if (form->State().ImageLoaded != FindControl<QTimer>(*form, "DevTimer")->isActive()) {
            return form->State().ImageLoaded ? "polling is stopped with an image loaded"
                                             : "polling runs without an image";
        }
        if (!form->State().ImageLoaded &&
            (FindControl<QPushButton>(*form, "btn_Write")->isEnabled() ||
             FindControl<QPushButton>(*form, "btn_Verify")->isEnabled() ||
             FindControl<QPushButton>(*form, "btn_Save")->isEnabled() ||
             FindControl<QPushButton>(*form, "btnReadFactory")->isEnabled())) {
            return "a job button is offered without an image";
        }
        return {};
    }

    void UnplugAll() {
        for (const SimulatedHidBus::DeviceId id : bus.PluggedDevices()) {
            bus.Unplug(id);
        }
    }

    // Unplugs every mouse and lets polling see them go.
    void Depart(const std::string& where) {
        UnplugAll();
        ExpectMouseGone(where);
    }

    // A healthy mouse must get the same operation done, a write with the image loaded last.
    void ServeHealthyMouse(const Operation& operation, const std::string& where) {
        ResetControls(operation);
        currentMouse_ = MakeMouse();
        PrepareMemory(*currentMouse_, operation, false, currentImage_);
        const bool clicked = Run(operation, Action::LoadAnother, {});
        const bool passed = Verdict() == PassText(operation.kind);
        if (!clicked || !passed) {
            ++tally.unusable;
            ADD_FAILURE() << where << ": the next, healthy mouse got "
                          << (clicked ? Verdict() : "a disabled button");
        } else if (operation.kind == Kind::Write) {
            bool falsePass = false;
            const std::string problem =
                JudgeWrite(*currentMouse_, currentImage_, passed, falsePass);
            if (!problem.empty()) {
                ++(falsePass ? tally.falsePasses : tally.otherFaults);
                ADD_FAILURE() << where << ": the next, healthy mouse: " << problem;
            }
        }
        Depart(where + " (healthy mouse)");
    }

    std::string Where(const Operation& operation, const char* actionName, Point point) const {
        return std::string(IcTypeName(icType_)) + " / " + operation.name +
               (operation.kind == Kind::Write
                    ? (operation.autoWrite ? " (Auto Write)" : " (clicked)")
                    : "") +
               " / " + actionName + " at " +
               (point.atRecord ? std::string("the record's write")
                               : "transfer " + std::to_string(point.transfer));
    }

    void RunCase(const Operation& operation, const ActionName& action, Point point) {
        const std::string where = Where(operation, action.name, point);
        SCOPED_TRACE(where);
        ++tally.runs;
        ResetControls(operation);
        currentMouse_ = MakeMouse();
        PrepareMemory(*currentMouse_, operation, true, currentImage_);
        const ImageBuffer before = currentMouse_->Memory();
        const ImageBuffer startImage = currentImage_;
        const int passCountBefore = form->State().PassCount;
        const int errorsBefore = dialogs.Count(ScriptedDialogs::Kind::Error);
        exitCodes_.clear();

        const microseconds started = clock.Now();
        bool clicked = true;
        bool closedInJob = false;
        try {
            clicked = Run(operation, action.action, point);
        } catch (const WindowClosed&) {
            closedInJob = true;
        }
        armed_ = false;
        tally.longest = std::max(tally.longest, clock.Now() - started);
        const std::string verdict = Verdict();
        const bool passed = CountVerdict(verdict, operation.kind);

        if (action.action == Action::CloseWindow) {
            performedCount_[action.action] += closedInJob ? 1 : 0;
            if (!closedInJob || exitCodes_ != std::vector<int>{0}) {
                ++tally.otherFaults;
                ADD_FAILURE() << "the close did not end the process with exit code 0";
            }
            const bool claimedAtClose = verdictAtClose_ == PassText(operation.kind);
            if ((passed && !claimedAtClose) ||
                form->State().PassCount != (closedInJob ? passCountAtClose_ : passCountBefore)) {
                ++tally.falsePasses;
                ADD_FAILURE() << "a pass claimed after the window closed";
            }
            // A claim made before the close is judged like any other; a save's file comes
            // after its claim, so the close may take it away.
            bool falsePass = false;
            const std::string problem = operation.kind == Kind::Save
                                            ? std::string()
                                            : Judge(operation, action.action, *currentMouse_,
                                                    before, startImage, claimedAtClose, falsePass);
            if (!problem.empty()) {
                ++(falsePass ? tally.falsePasses : tally.otherFaults);
                ADD_FAILURE() << problem << " (claimed before the close: " << verdictAtClose_
                              << ")";
            }
            RestartWindow(operation.autoWrite);
            ServeHealthyMouse(operation, where);
            return;
        }
        // What the job's pumps did not take comes in the next pump after it.
        QCoreApplication::processEvents();
        if (!performed_) {
            ++tally.refused;
        } else {
            ++performedCount_[action.action];
        }

        bool falsePass = false;
        const std::string problem =
            Judge(operation, action.action, *currentMouse_, before, startImage, passed, falsePass);
        CountFaults(problem, falsePass, verdict, errorsBefore,
                    clicked ? StateFault() : "the button is disabled");
        // The operator loads again after a cancelled load.
        if (!form->State().ImageLoaded) {
            LoadFile(currentPath_);
        }
        Depart(where);
        ServeHealthyMouse(operation, where);
    }

    // Transfers of one operation on a healthy mouse, to spread the actions over.
    long CountTransfers(const Operation& operation) {
        ResetControls(operation);
        currentMouse_ = MakeMouse();
        PrepareMemory(*currentMouse_, operation, false, currentImage_);
        Run(operation, Action::LoadAnother, {});
        const long total = transfers_;
        EXPECT_EQ(Verdict(), PassText(operation.kind)) << operation.name;
        Depart("counting transfers");
        return total;
    }

    void RunMatrix(const std::vector<Operation>& operations) {
        for (const Operation& operation : operations) {
            FindControl<QCheckBox>(*form, "cb_AutoRun")->setChecked(operation.autoWrite);
            const long total = CountTransfers(operation);
            ASSERT_GE(total, 2) << operation.name;
            std::vector<Point> points;
            for (int k = 0; k <= 4; ++k) {
                const long transfer = 1 + k * (total - 1) / 4;
                if (points.empty() || points.back().transfer != transfer) {
                    points.push_back({transfer});
                }
            }
            if (operation.writeProductId) {
                points.push_back({-1, true});
            }
            for (const ActionName& action : Actions) {
                for (const Point point : points) {
                    RunCase(operation, action, point);
                }
            }
            FindControl<QCheckBox>(*form, "cb_AutoRun")->setChecked(false);
        }
    }

    void Report(const std::string& title) const {
        std::printf(
            "[fault matrix] operator actions, %s: %d runs: %d passes, %d fails, %d without "
            "verdict; false passes %d, hangs %d, other faults %d, window unusable after %d; "
            "%d actions found their control disabled; longest operation %.1f s of "
            "protocol time\n",
            title.c_str(), tally.runs, tally.passes, tally.fails, tally.withoutVerdict,
            tally.falsePasses, tally.hangs, tally.otherFaults, tally.unusable, tally.refused,
            static_cast<double>(tally.longest.count()) / 1e6);
        std::fflush(stdout);
    }

    // Every action must have reached the window somewhere, or the matrix tests nothing.
    void ExpectEveryActionPerformed() {
        for (const ActionName& action : Actions) {
            const bool customOnly = action.action == Action::WidenRanges ||
                                    action.action == Action::NarrowRanges ||
                                    action.action == Action::FormatCustom;
            if (family_ == MouseFamily::Kvqm31x || !customOnly) {
                EXPECT_GT(performedCount_[action.action], 0) << action.name;
            }
        }
    }

private:
    std::map<Action, int> performedCount_;
    ImageBuffer otherImage_{};
    std::string otherPath_;
    std::string currentPath_;
    ImageBuffer currentImage_{};
    std::shared_ptr<VirtualMouse> currentMouse_;
    SimulatedHidBus::DeviceId mouseId_ = 0;
    long transfers_ = 0;
    bool recordStamped_ = false;
    bool closed_ = false;
    bool counting_ = false;
    bool armed_ = false;
    bool performed_ = false;
    Action action_ = Action::LoadAnother;
    Point point_;
    microseconds timerStarted_{0};
    FormatSettings passSettings_;
    std::vector<int> exitCodes_;
    std::string verdictAtClose_;
    int passCountAtClose_ = 0;
    std::set<int> stampedSerials_;
};

TEST_F(OperatorActionMatrix, Kvqm31xEveryActionDuringEveryOperation) {
    StartFamily(IcTypeKvqm31x, VirtualMouse42xx::Layout::OneInterface);
    RunMatrix(Kvqm31xOperationsInBothModes);
    Report("KVQM31X");
    ExpectEveryActionPerformed();
    EXPECT_GT(tally.passes, 0);
    EXPECT_GT(tally.fails, 0);
}

TEST_F(OperatorActionMatrix, Kvqm42xxEveryActionDuringEveryOperation) {
    StartFamily(IcTypeKvqm42xx, VirtualMouse42xx::Layout::TwoInterfaces);
    RunMatrix(Kvqm42xxOperationsInBothModes);
    Report("KVQM42xx (two interfaces)");
    ExpectEveryActionPerformed();
    EXPECT_GT(tally.passes, 0);
    EXPECT_GT(tally.fails, 0);
}

} // namespace
} // namespace vrax::testing
