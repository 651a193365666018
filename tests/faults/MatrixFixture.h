#pragma once

#include "StationWindowFixture.h"

#include "app/StationControls.h"
#include "device/Kvqm31xLink.h"
#include "device/Kvqm42xxLink.h"
#include "programming/DataFormat.h"
#include "programming/FactoryRecord.h"
#include "sim/VirtualMouse31x.h"
#include "sim/VirtualMouse42xx.h"

#include <QCheckBox>
#include <QRadioButton>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

namespace vrax::testing {

// What the fault matrix and the operator-action matrix share: the window's operations, the
// mouse a run starts with, and what a pass must show.
enum class OperationKind { Write, Verify, Save, FactoryRead };

struct Operation {
    const char* name;
    OperationKind kind;
    DataFormat format = DataFormat::Byte2K;
    bool writeProductId = false;
    // Started by the polling in Auto Write rather than by a click.
    bool autoWrite = false;
    // Verify: the mouse holds the image but for one byte.
    bool mouseDiffers = false;
};

inline constexpr int DifferingAddress = 1799;
// A run past this many transfers counts as hung.
inline constexpr long TransferLimit = 500000;
inline const FactoryRecordBytes MouseRecord =
    BuildFactoryRecord(0x0042, 0x20240102, 0xBEEF, 2, 3, 4);

inline const char* PassText(OperationKind kind) {
    switch (kind) {
    case OperationKind::Write:
        return "Write Pass";
    case OperationKind::Verify:
        return "Verify Pass";
    case OperationKind::Save:
        return "Save Pass";
    case OperationKind::FactoryRead:
        return "Read Ok";
    }
    return "";
}

inline bool InRecord(int address) {
    return address >= FactoryRecordAddress && address < FactoryRecordAddress + FactoryRecordSize;
}

// What a matrix counts over its runs.
struct Tally {
    int runs = 0;
    // Operator actions whose control was disabled at their moment.
    int refused = 0;
    int passes = 0;
    int fails = 0;
    int withoutVerdict = 0;
    int falsePasses = 0;
    int hangs = 0;
    int otherFaults = 0;
    int unusable = 0;
    std::chrono::microseconds longest{0};
};

class MatrixFixture : public StationWindowFixture {
protected:
    void SelectFamily(int icType, VirtualMouse42xx::Layout layout) {
        icType_ = icType;
        layout_ = layout;
        family_ = icType == IcTypeKvqm31x ? MouseFamily::Kvqm31x : MouseFamily::Kvqm42xx;
    }

    std::shared_ptr<VirtualMouse> MakeMouse() const {
        if (family_ == MouseFamily::Kvqm31x) {
            return std::make_shared<VirtualMouse31x>();
        }
        return std::make_shared<VirtualMouse42xx>(layout_);
    }

    // A write meets a mouse holding the image inverted; the reads meet the image with a record
    // of the mouse's own (a KVQM42xx verify compares it, so there it is the image's), and a
    // faulty mouse of "one byte differs" one byte off.
    void PrepareMemory(VirtualMouse& mouse, const Operation& operation, bool faulty,
                       const ImageBuffer& image) const {
        auto& memory = mouse.Memory();
        if (operation.kind == OperationKind::Write) {
            std::transform(image.begin(), image.end(), memory.begin(),
                           [](std::uint8_t b) { return static_cast<std::uint8_t>(~b); });
            return;
        }
        memory = image;
        if (operation.kind != OperationKind::Verify || family_ == MouseFamily::Kvqm31x) {
            std::copy(MouseRecord.begin(), MouseRecord.end(),
                      memory.begin() + FactoryRecordAddress);
        }
        if (operation.mouseDiffers && faulty) {
            memory[DifferingAddress] ^= 0x5A;
        }
    }

    // The setup of the factory record's write.
    static bool IsRecordSetup(const HidTraceEntry& entry) {
        return entry.direction == HidTraceEntry::Direction::Set &&
               entry.bytes[0] == Kvqm31xLink::ReportId &&
               entry.bytes[1] == Kvqm31xLink::CmdWriteSetup &&
               entry.bytes[2] == FactoryRecordAddress && entry.bytes[3] == 0;
    }

    QPushButton* ButtonOf(OperationKind kind) const {
        switch (kind) {
        case OperationKind::Write:
            return FindControl<QPushButton>(*form, "btn_Write");
        case OperationKind::Verify:
            return FindControl<QPushButton>(*form, "btn_Verify");
        case OperationKind::Save:
            return FindControl<QPushButton>(*form, "btn_Save");
        case OperationKind::FactoryRead:
            return FindControl<QPushButton>(*form, "btnReadFactory");
        }
        return nullptr;
    }

    // The data format and Write Product ID as the operation asks.
    void ApplyFormat(const Operation& operation) {
        FindControl<QRadioButton>(*form, "rb_CmdByte2K")
            ->setChecked(operation.format == DataFormat::Byte2K);
        FindControl<QRadioButton>(*form, "rb_CmdByte256")
            ->setChecked(operation.format == DataFormat::Byte256);
        FindControl<QRadioButton>(*form, "rb_CmdCustom")
            ->setChecked(operation.format == DataFormat::Custom);
        FindControl<QCheckBox>(*form, "cb_WriteID")->setChecked(operation.writeProductId);
    }

    // True when the save's file holds exactly these bytes.
    bool SavedFileHolds(const ImageBuffer& memory) const {
        std::ifstream file(Path("saved.bin"), std::ios::binary);
        const std::vector<char> bytes((std::istreambuf_iterator<char>(file)),
                                      std::istreambuf_iterator<char>());
        return bytes.size() == ImageSize &&
               std::equal(memory.begin(), memory.end(), bytes.begin(),
                          [](std::uint8_t m, char b) { return m == static_cast<std::uint8_t>(b); });
    }

    // Counts the run's verdict; true for the operation's pass.
    bool CountVerdict(const std::string& verdict, OperationKind kind) {
        if (verdict == PassText(kind)) {
            ++tally.passes;
            return true;
        }
        ++(verdict == "none" ? tally.withoutVerdict : tally.fails);
        return false;
    }

    // Counts and reports what a run did wrong beside its verdict: the judge's problem, a hang, an
    // error box since errorsBefore, and why the window is left unusable (empty: it is not).
    void CountFaults(const std::string& problem, bool falsePass, const std::string& verdict,
                     int errorsBefore, const std::string& unusable) {
        if (!problem.empty()) {
            ++(falsePass ? tally.falsePasses : tally.otherFaults);
            ADD_FAILURE() << problem << " (verdict " << verdict << ")";
        }
        if (hung_) {
            ++tally.hangs;
            ADD_FAILURE() << "more than " << TransferLimit << " transfers: a hang";
        }
        if (dialogs.Count(ScriptedDialogs::Kind::Error) != errorsBefore) {
            ++tally.otherFaults;
            ADD_FAILURE() << "error box: " << dialogs.shown.back().text.toStdString();
        }
        if (!unusable.empty()) {
            ++tally.unusable;
            ADD_FAILURE() << unusable;
        }
    }

    // Once the mouse is unplugged, polling must see it go and no handle may stay open.
    void ExpectMouseGone(const std::string& where) {
        Tick();
        if (FindControl<QLabel>(*form, "lbl_DevStatus")->text() != "No Find Mouse" ||
            form->GetStation().links.AnyOpen() || bus.OpenHandleCount() != 0) {
            ++tally.unusable;
            ADD_FAILURE() << where << ": the unplug was not seen, or handles stayed open";
        }
        std::filesystem::remove(Path("saved.bin"));
    }

    Tally tally;
    // Set when a run passed TransferLimit and its mouse was pulled out.
    bool hung_ = false;
    int icType_ = IcTypeKvqm31x;
    MouseFamily family_ = MouseFamily::Kvqm31x;
    VirtualMouse42xx::Layout layout_ = VirtualMouse42xx::Layout::OneInterface;
};

} // namespace vrax::testing
