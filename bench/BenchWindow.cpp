#include "BenchWindow.h"
#include "app/StationControls.h"

#include "BenchLook.h"
#include "FaultEditor.h"
#include "HexView.h"
#include "RecordsTable.h"

#include "app/DropDownComboBox.h"
#include "app/TForm1.h"
#include "programming/FactoryRecord.h"
#include "programming/StationSettings.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRandomGenerator>
#include <QScreen>
#include <QSpinBox>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace vrax {

namespace {

QString Hex(int value, int digits) {
    return QStringLiteral("%1").arg(value, digits, 16, QLatin1Char('0')).toUpper();
}

QColor VerdictColour(Verdict verdict) {
    switch (verdict) {
    case Verdict::WritePass:
        return BenchLook::Pass;
    case Verdict::WriteFail:
        return BenchLook::Fail;
    case Verdict::MouseMismatch:
        return BenchLook::Mismatch;
    case Verdict::None:
        break;
    }
    return BenchLook::NoVerdict;
}

QLabel* MakeTally(const QString& name, Verdict verdict, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    label->setAlignment(Qt::AlignCenter);
    label->setMinimumHeight(44);
    label->setStyleSheet(QStringLiteral("QLabel { border: 1px solid %1; border-radius: 4px; "
                                        "color: %1; font-weight: bold; }")
                             .arg(VerdictColour(verdict).name()));
    return label;
}

QLabel* MakeDimLabel(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setProperty("role", "dim");
    return label;
}

} // namespace

BenchWindow::BenchWindow(SimulatedHidBus& bus, TForm1& station, QWidget* parent)
    : QWidget(parent), station_(station), rack_(bus), watch_(station, bus), line_(rack_, watch_) {
    setObjectName("BenchWindow");
    setWindowTitle(Title);
    setAttribute(Qt::WA_StyledBackground);
    setStyleSheet(BenchLook::StyleSheet());
    resize(Width, Height);

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 8);
    outer->setSpacing(6);

    auto* banner = new QLabel(this);
    banner->setObjectName("BenchBanner");
    banner->setText(QStringLiteral("VRAX Bench  <span style=\"font-size:12px; font-weight:normal\">"
                                   "virtual mice on a simulated USB bus, for training and "
                                   "demos</span>"));
    banner->setToolTip("The station window beside the bench is the real tool; only its USB "
                       "devices are simulated");
    outer->addWidget(banner);

    startHint = new QLabel(this);
    startHint->setObjectName("StartHint");
    startHint->setWordWrap(true);
    SetSampleFolder({});
    auto* hintRow = new QHBoxLayout;
    hintRow->setContentsMargins(8, 0, 8, 0);
    hintRow->addWidget(startHint);
    outer->addLayout(hintRow);

    auto* columns = new QHBoxLayout;
    columns->setContentsMargins(8, 0, 8, 0);
    columns->setSpacing(8);
    auto* left = new QVBoxLayout;
    left->setSpacing(6);
    left->addWidget(MakeMiceGroup());
    left->addWidget(MakeLineGroup(), 1);
    recordsTable = new RecordsTable(this);
    recordsTable->setFixedWidth(340);
    left->addWidget(recordsTable, 1);
    station.Recording().SetRecordListener(
        [this](const ProductionRecord& record) { recordsTable->Add(record); });
    columns->addLayout(left, 0);
    columns->addWidget(MakeSelectedGroup(), 1);
    outer->addLayout(columns, 1);

    rack_.SetChangeListener([this] { tableDirty_ = true; });

    lineTimer = new QTimer(this);
    lineTimer->setObjectName("LineTimer");
    lineTimer->setInterval(LineStepMs);
    connect(lineTimer, &QTimer::timeout, this, [this] {
        line_.Step();
        if (!line_.Running()) {
            lineTimer->stop();
        }
        Refresh();
    });
    refreshTimer = new QTimer(this);
    refreshTimer->setObjectName("RefreshTimer");
    refreshTimer->setInterval(RefreshMs);
    connect(refreshTimer, &QTimer::timeout, this, &BenchWindow::Refresh);
    refreshTimer->start();
    Refresh();
}

BenchWindow::~BenchWindow() {
    station_.Recording().SetRecordListener({});
}

QWidget* BenchWindow::MakeMiceGroup() {
    auto* group = new QGroupBox("Virtual mice", this);
    group->setObjectName("MiceGroup");
    group->setFixedWidth(340);
    auto* layout = new QVBoxLayout(group);
    layout->setSpacing(5);

    auto* addRow = new QHBoxLayout;
    addRow->addWidget(MakeDimLabel("Add:", group));
    addKvqm31xButton = new QPushButton(MouseTypes[IcTypeKvqm31x].name, group);
    addKvqm31xButton->setObjectName("AddKvqm31x");
    addKvqm42xxButton = new QPushButton(MouseTypes[IcTypeKvqm42xx].name, group);
    addKvqm42xxButton->setObjectName("AddKvqm42xx");
    addKvqm537Button = new QPushButton(MouseTypes[IcTypeKvqm537].name, group);
    addKvqm537Button->setObjectName("AddKvqm537");
    for (QPushButton* button : {addKvqm31xButton, addKvqm42xxButton, addKvqm537Button}) {
        button->setToolTip("A fresh mouse with the default IDs of its IC type, unplugged");
        addRow->addWidget(button);
    }
    layout->addLayout(addRow);
    twoInterfacesBox = new QCheckBox("KVQM42xx/537 with two HID interfaces", group);
    twoInterfacesBox->setObjectName("TwoInterfaces");
    twoInterfacesBox->setToolTip("Commands on the first interface, data on the second");
    layout->addWidget(twoInterfacesBox);
    connect(addKvqm31xButton, &QPushButton::clicked, this, [this] { AddMouse(IcTypeKvqm31x); });
    connect(addKvqm42xxButton, &QPushButton::clicked, this, [this] { AddMouse(IcTypeKvqm42xx); });
    connect(addKvqm537Button, &QPushButton::clicked, this, [this] { AddMouse(IcTypeKvqm537); });

    mouseTable = new QTableWidget(0, 3, group);
    mouseTable->setObjectName("MouseTable");
    mouseTable->setHorizontalHeaderLabels({"Mouse", "USB", "Faults"});
    mouseTable->verticalHeader()->hide();
    mouseTable->horizontalHeader()->setStretchLastSection(true);
    mouseTable->setColumnWidth(0, 148);
    mouseTable->setColumnWidth(1, 76);
    mouseTable->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    mouseTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    mouseTable->setSelectionMode(QAbstractItemView::SingleSelection);
    mouseTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    mouseTable->setAlternatingRowColors(true);
    mouseTable->verticalHeader()->setDefaultSectionSize(20);
    mouseTable->setMinimumHeight(130);
    layout->addWidget(mouseTable, 1);
    connect(mouseTable, &QTableWidget::itemSelectionChanged, this, [this] {
        const QList<QTableWidgetItem*> items = mouseTable->selectedItems();
        if (!items.isEmpty()) {
            const int number =
                mouseTable->item(items.first()->row(), 0)->data(Qt::UserRole).toInt();
            if (number != selected_) {
                selected_ = number;
                Refresh();
            }
        }
    });
    connect(mouseTable, &QTableWidget::cellDoubleClicked, this, [this] {
        const MouseRack::Mouse* mouse = rack_.Find(selected_);
        if (mouse != nullptr && mouse->Plugged()) {
            unplugButton->click();
        } else {
            plugButton->click();
        }
    });

    auto* plugRow = new QHBoxLayout;
    plugButton = new QPushButton("Plug in", group);
    plugButton->setObjectName("PlugButton");
    unplugButton = new QPushButton("Unplug", group);
    unplugButton->setObjectName("UnplugButton");
    removeButton = new QPushButton("Remove", group);
    removeButton->setObjectName("RemoveButton");
    plugRow->addWidget(plugButton);
    plugRow->addWidget(unplugButton);
    plugRow->addWidget(removeButton);
    layout->addLayout(plugRow);
    connect(plugButton, &QPushButton::clicked, this, [this] {
        rack_.Plug(selected_);
        Refresh();
    });
    connect(unplugButton, &QPushButton::clicked, this, [this] {
        rack_.Unplug(selected_);
        Refresh();
    });
    connect(removeButton, &QPushButton::clicked, this, [this] {
        rack_.Remove(selected_);
        selected_ = 0;
        Refresh();
    });

    auto* keyboardRow = new QHBoxLayout;
    keyboardButton = new QPushButton("Plug in a keyboard", group);
    keyboardButton->setObjectName("KeyboardButton");
    keyboardButton->setToolTip("An ordinary HID device with two interfaces and no feature "
                               "reports: the station counts it, but it is no mouse");
    keyboardRow->addWidget(keyboardButton);
    layout->addLayout(keyboardRow);
    connect(keyboardButton, &QPushButton::clicked, this, [this] {
        if (rack_.KeyboardPlugged()) {
            rack_.UnplugKeyboard();
        } else {
            rack_.PlugKeyboard();
        }
        Refresh();
    });
    busLabel = MakeDimLabel({}, group);
    busLabel->setObjectName("BusLabel");
    busLabel->setToolTip("The station counts the HID interfaces once a second and reacts "
                         "when the count rises or falls");
    layout->addWidget(busLabel);
    return group;
}

QWidget* BenchWindow::MakeSelectedGroup() {
    selectedGroup = new QGroupBox("Selected mouse", this);
    selectedGroup->setObjectName("SelectedGroup");
    auto* layout = new QVBoxLayout(selectedGroup);
    layout->setSpacing(5);
    identityLabel = MakeDimLabel({}, selectedGroup);
    identityLabel->setObjectName("IdentityLabel");
    identityLabel->setWordWrap(true);
    layout->addWidget(identityLabel);
    faultEditor = new FaultEditor(selectedGroup);
    faultEditor->setObjectName("FaultEditor");
    layout->addWidget(faultEditor);
    connect(faultEditor, &FaultEditor::FaultsChanged, this, [this] { tableDirty_ = true; });

    hexView = new HexView(selectedGroup);
    hexView->setObjectName("HexView");
    layout->addWidget(hexView, 1);

    auto* differenceRow = new QHBoxLayout;
    differenceLabel = new QLabel(selectedGroup);
    differenceLabel->setObjectName("DifferenceLabel");
    differenceLabel->setWordWrap(true);
    firstDifferenceButton = new QPushButton("Go to the first", selectedGroup);
    firstDifferenceButton->setObjectName("FirstDifferenceButton");
    differenceRow->addWidget(differenceLabel, 1);
    differenceRow->addWidget(firstDifferenceButton);
    layout->addLayout(differenceRow);
    connect(firstDifferenceButton, &QPushButton::clicked, this, [this] {
        if (hexView->FirstDifference() >= 0) {
            hexView->ScrollToAddress(hexView->FirstDifference());
        }
    });

    factoryRecordLabel = new QLabel(selectedGroup);
    factoryRecordLabel->setObjectName("FactoryRecordLabel");
    factoryRecordLabel->setWordWrap(true);
    layout->addWidget(factoryRecordLabel);
    return selectedGroup;
}

QWidget* BenchWindow::MakeLineGroup() {
    auto* group = new QGroupBox("Production line", this);
    group->setObjectName("LineGroup");
    group->setFixedWidth(340);
    auto* layout = new QVBoxLayout(group);
    layout->setSpacing(5);

    auto* settingsRow = new QHBoxLayout;
    settingsRow->addWidget(MakeDimLabel("Mice", group));
    lineCountBox = new QSpinBox(group);
    lineCountBox->setObjectName("LineCount");
    lineCountBox->setRange(1, 999);
    lineCountBox->setValue(10);
    settingsRow->addWidget(lineCountBox);
    settingsRow->addWidget(MakeDimLabel("faulty", group));
    faultyShareBox = new QSpinBox(group);
    faultyShareBox->setObjectName("FaultyShare");
    faultyShareBox->setRange(0, 100);
    faultyShareBox->setSuffix(" %");
    faultyShareBox->setValue(20);
    settingsRow->addWidget(faultyShareBox);
    settingsRow->addStretch();
    lineStartButton = new QPushButton("Start line", group);
    lineStartButton->setObjectName("LineStartButton");
    lineStartButton->setMinimumWidth(90);
    settingsRow->addWidget(lineStartButton);
    layout->addLayout(settingsRow);
    connect(lineStartButton, &QPushButton::clicked, this, &BenchWindow::StartOrStopLine);

    followLineBox = new QCheckBox("Show the line's mouse while it runs", group);
    followLineBox->setObjectName("FollowLine");
    followLineBox->setChecked(true);
    layout->addWidget(followLineBox);

    lineStatusLabel = new QLabel(group);
    lineStatusLabel->setObjectName("LineStatus");
    lineStatusLabel->setWordWrap(true);
    layout->addWidget(lineStatusLabel);

    auto* tallies = new QGridLayout;
    tallies->setSpacing(4);
    passTally = MakeTally("PassTally", Verdict::WritePass, group);
    failTally = MakeTally("FailTally", Verdict::WriteFail, group);
    mismatchTally = MakeTally("MismatchTally", Verdict::MouseMismatch, group);
    noVerdictTally = MakeTally("NoVerdictTally", Verdict::None, group);
    tallies->addWidget(passTally, 0, 0);
    tallies->addWidget(failTally, 0, 1);
    tallies->addWidget(mismatchTally, 0, 2);
    tallies->addWidget(noVerdictTally, 0, 3);
    layout->addLayout(tallies);

    passCountLabel = new QLabel(group);
    passCountLabel->setObjectName("PassCountLabel");
    passCountLabel->setWordWrap(true);
    layout->addWidget(passCountLabel);

    lineLog = new QListWidget(group);
    lineLog->setObjectName("LineLog");
    layout->addWidget(lineLog, 1);
    return group;
}

BenchWindow::Placement BenchWindow::PlaceBeside(const QRect& station, const QSize& bench,
                                                const QRect& available) {
    const auto top = [&](int wanted, int height) {
        return std::max(available.top(), std::min(wanted, available.bottom() + 1 - height));
    };
    const int right = available.right() + 1;
    Placement placement{station.topLeft(), {}};
    if (station.right() + 1 + Gap + bench.width() <= right) {
        placement.bench.setX(station.right() + 1 + Gap);
    } else if (station.left() - Gap - bench.width() >= available.left()) {
        placement.bench.setX(station.left() - Gap - bench.width());
    } else {
        const int pairWidth = station.width() + Gap + bench.width();
        const int left = pairWidth <= available.width()
                             ? available.left() + (available.width() - pairWidth) / 2
                             : available.left();
        placement.station = {left, top(station.top(), station.height())};
        placement.bench.setX(pairWidth <= available.width()
                                 ? left + station.width() + Gap
                                 : std::max(available.left(), right - bench.width()));
    }
    placement.bench.setY(top(placement.station.y(), bench.height()));
    return placement;
}

void BenchWindow::ShowBeside() {
    show();
    QScreen* screen = station_.screen();
    if (screen == nullptr) {
        return;
    }
    const Placement placement =
        PlaceBeside(station_.frameGeometry(), frameGeometry().size(), screen->availableGeometry());
    station_.move(placement.station + (station_.pos() - station_.frameGeometry().topLeft()));
    move(placement.bench + (pos() - frameGeometry().topLeft()));
}

void BenchWindow::SetSampleFolder(const QString& folder) {
    const QString sample = folder.isEmpty()
                               ? QStringLiteral("a 2048-byte BIN file")
                               : QStringLiteral("<b>sample-2k.bin</b> (the file dialog opens in "
                                                "its folder)");
    startHint->setText(QStringLiteral("<b>Start:</b> on the station, click <b>Load BIN</b> and "
                                      "choose %1, tick <b>Auto Write</b>, then plug in a mouse "
                                      "below or start the production line.")
                           .arg(sample));
}

void BenchWindow::AddMouse(int icType) {
    const auto layout = twoInterfacesBox->isChecked() ? VirtualMouse42xx::Layout::TwoInterfaces
                                                      : VirtualMouse42xx::Layout::OneInterface;
    SelectMouse(rack_.Add(icType, layout));
}

void BenchWindow::SelectMouse(int number) {
    selected_ = number;
    Refresh();
}

void BenchWindow::Refresh() {
    if (followLineBox->isChecked() && line_.Running()) {
        const int lineMouse = line_.CurrentRackNumber();
        if (lineMouse != 0 && lineMouse != followedRackNumber_) {
            followedRackNumber_ = lineMouse;
            selected_ = lineMouse;
        }
    }
    if (rack_.Find(selected_) == nullptr) {
        selected_ = 0;
    }
    RefreshTable();
    RefreshSelected();
    RefreshLine();

    keyboardButton->setText(rack_.KeyboardPlugged() ? "Unplug the keyboard" : "Plug in a keyboard");
    const StationSnapshot seen = watch_.Look();
    busLabel->setText(QStringLiteral("Bus: %1 HID interfaces · the station counted %2")
                          .arg(seen.presentCount)
                          .arg(seen.acceptedCount));
}

void BenchWindow::RebuildTable() {
    const QSignalBlocker blocker(mouseTable);
    const auto& mice = rack_.Mice();
    mouseTable->setRowCount(static_cast<int>(mice.size()));
    for (int row = 0; row < static_cast<int>(mice.size()); ++row) {
        const MouseRack::Mouse& mouse = mice[static_cast<std::size_t>(row)];
        for (int column = 0; column < 3; ++column) {
            if (mouseTable->item(row, column) == nullptr) {
                mouseTable->setItem(row, column, new QTableWidgetItem);
            }
        }
        mouseTable->item(row, 0)->setData(Qt::UserRole, mouse.number);
        mouseTable->item(row, 0)->setText(QString::fromStdString(MouseRack::Describe(mouse)));
    }
    tableDirty_ = false;
}

void BenchWindow::RefreshTable() {
    if (tableDirty_) {
        RebuildTable();
    }
    const QSignalBlocker blocker(mouseTable);
    const auto& mice = rack_.Mice();
    int selectedRow = -1;
    for (int row = 0; row < static_cast<int>(mice.size()); ++row) {
        const MouseRack::Mouse& mouse = mice[static_cast<std::size_t>(row)];
        QTableWidgetItem* state = mouseTable->item(row, 1);
        state->setText(mouse.Plugged() ? "plugged" : "unplugged");
        state->setForeground(mouse.Plugged() ? BenchLook::Teal : BenchLook::TextDim);
        const std::string faults = FormatMouseFaults(mouse.device->Faults());
        mouseTable->item(row, 2)->setText(faults.empty() ? QStringLiteral("healthy")
                                                         : QString::fromStdString(faults));
        mouseTable->item(row, 2)->setToolTip(mouseTable->item(row, 2)->text());
        mouseTable->item(row, 2)->setForeground(faults.empty() ? BenchLook::TextDim
                                                               : BenchLook::Mismatch);
        if (mouse.number == selected_) {
            selectedRow = row;
        }
    }
    if (selectedRow >= 0) {
        if (mouseTable->currentRow() != selectedRow) {
            mouseTable->selectRow(selectedRow);
            mouseTable->scrollToItem(mouseTable->item(selectedRow, 0));
        }
    } else {
        mouseTable->clearSelection();
    }
    const MouseRack::Mouse* mouse = rack_.Find(selected_);
    plugButton->setEnabled(mouse != nullptr && !mouse->Plugged());
    unplugButton->setEnabled(mouse != nullptr && mouse->Plugged());
    removeButton->setEnabled(mouse != nullptr);
}

void BenchWindow::RefreshSelected() {
    MouseRack::Mouse* mouse = rack_.Find(selected_);
    if (editedMouse_ != selected_) {
        editedMouse_ = selected_;
        faultEditor->SetMouse(mouse != nullptr ? mouse->device : nullptr);
    }
    faultEditor->Follow();
    if (mouse == nullptr) {
        selectedGroup->setTitle("Selected mouse");
        identityLabel->setText("Add a mouse with the buttons on the left, or pick one in the "
                               "list: its faults and its memory show here.");
        hexView->SetBytes(std::nullopt, std::nullopt);
        differenceLabel->clear();
        factoryRecordLabel->clear();
        firstDifferenceButton->setEnabled(false);
        return;
    }
    selectedGroup->setTitle(QString::fromStdString(MouseRack::Describe(*mouse)) +
                            (mouse->Plugged() ? " · plugged" : " · unplugged"));
    const HidAttributes ids = mouse->device->Attributes();
    identityLabel->setText(
        QStringLiteral("VID %1 · PID %2 · release %3 · %4 HID interface%5")
            .arg(Hex(ids.vendorId, 4), Hex(ids.productId, 4), Hex(ids.versionNumber, 4))
            .arg(mouse->device->InterfaceCount())
            .arg(mouse->device->InterfaceCount() == 1 ? "" : "s"));

    const StationState& state = station_.State();
    std::optional<ImageBuffer> reference;
    if (state.ImageLoaded) {
        reference = state.LoadedImage;
    }
    hexView->SetBytes(mouse->device->Memory(), reference);
    if (!reference) {
        differenceLabel->setText("No image loaded on the station: nothing to compare with.");
    } else if (hexView->DifferenceCount() == 0) {
        differenceLabel->setText(QStringLiteral("<span style=\"color:%1\">Every byte matches the "
                                                "station's loaded image.</span>")
                                     .arg(BenchLook::Pass.name()));
    } else {
        differenceLabel->setText(
            QStringLiteral("<span style=\"background:%1; color:%2\">&nbsp;%3&nbsp;</span> "
                           "bytes differ from the station's loaded image")
                .arg(BenchLook::Difference.name(), BenchLook::DifferenceText.name())
                .arg(hexView->DifferenceCount()));
    }
    firstDifferenceButton->setEnabled(hexView->DifferenceCount() > 0);
    factoryRecordLabel->setText(DecodedFactoryRecord(*mouse->device));
}

QString BenchWindow::DecodedFactoryRecord(const VirtualMouse& mouse) const {
    FactoryRecordBytes record{};
    std::copy_n(mouse.Memory().begin() + FactoryRecordAddress, FactoryRecordSize, record.begin());
    const QString frame = QStringLiteral("<span style=\"color:%1\">Factory record at 0A0–0AB:"
                                         "</span> ")
                              .arg(BenchLook::Teal.name());
    if (std::all_of(record.begin(), record.end(), [](std::uint8_t b) { return b == 0xFF; })) {
        return frame + "blank (all FF); tick Write Product ID on the station to stamp one.";
    }
    const FactoryFields fields = DecodeFactoryRecord(record);
    const auto item = [](DropDownComboBox* list, int index) {
        return index >= 0 && index < list->count() ? list->itemText(index)
                                                   : QStringLiteral("#%1?").arg(index);
    };
    return frame + QStringLiteral("product %1 · date %2 · SN %3 · factory %4 · line %5 · "
                                  "station %6")
                       .arg(Hex(fields.productType, 4), Hex(fields.date, 8),
                            Hex(fields.serialNumber, 6),
                            item(FindControl<DropDownComboBox>(station_, "cb_Factory"),
                                 fields.factoryIndex),
                            item(FindControl<DropDownComboBox>(station_, "cb_FactoryLine"),
                                 fields.lineIndex),
                            item(FindControl<DropDownComboBox>(station_, "cb_FactoryStation"),
                                 fields.stationIndex));
}

void BenchWindow::RefreshLine() {
    const VirtualProductionLine::Tally tally = line_.Count();
    lineStartButton->setText(line_.Running() ? "Stop line" : "Start line");
    lineCountBox->setEnabled(!line_.Running());
    faultyShareBox->setEnabled(!line_.Running());
    const bool refused = !line_.Running() && !lineNotice_.isEmpty();
    const bool stopped = refused || line_.CurrentPhase() == VirtualProductionLine::Phase::Stopped;
    lineStatusLabel->setText(
        QStringLiteral("<span style=\"color:%1\">%2</span>")
            .arg((stopped ? BenchLook::Fail : BenchLook::Text).name(),
                 (refused ? lineNotice_ : QString::fromStdString(line_.Status())).toHtmlEscaped()));
    const auto tallyText = [](int count, const char* text) {
        return QStringLiteral("<span style=\"font-size:18px\">%1</span><br>%2")
            .arg(count)
            .arg(text);
    };
    passTally->setText(tallyText(tally.pass, "Write Pass"));
    failTally->setText(tallyText(tally.fail, "Write Fail"));
    mismatchTally->setText(tallyText(tally.mismatch, "not match"));
    noVerdictTally->setText(tallyText(tally.none, "no verdict"));
    mismatchTally->setToolTip("BIN file not match Mouse");

    const int passCount = watch_.Look().passCount;
    QString agreement;
    if (line_.CurrentPhase() != VirtualProductionLine::Phase::Idle) {
        const int raised =
            (line_.Running() ? passCount : line_.PassCountAtEnd()) - line_.PassCountAtStart();
        const bool agrees = raised == tally.pass;
        agreement =
            QStringLiteral(" · <span style=\"color:%1\">%2</span>")
                .arg((agrees ? BenchLook::Pass : BenchLook::Fail).name(),
                     agrees ? QStringLiteral("+%1 by the line, as the tally says").arg(raised)
                            : QStringLiteral("+%1 by the line, the tally says %2")
                                  .arg(raised)
                                  .arg(tally.pass));
    }
    passCountLabel->setText(
        QStringLiteral("Station's PASS Number: <b>%1</b>%2").arg(passCount).arg(agreement));

    const auto& mice = line_.Mice();
    const int done = tally.done;
    if (lineLog->count() != done) {
        lineLog->clear();
        for (const VirtualProductionLine::LineMouse& mouse : mice) {
            if (!mouse.done) {
                continue;
            }
            QString text = QStringLiteral("%1. %2 → %3")
                               .arg(mouse.index, 2)
                               .arg(mouse.faults.empty() ? QStringLiteral("healthy")
                                                         : QString::fromStdString(mouse.faults),
                                    QString::fromLatin1(VerdictText(mouse.got)));
            if (!mouse.AsExpected()) {
                text += QStringLiteral("   (expected %1)")
                            .arg(QString::fromLatin1(VerdictText(mouse.expected)));
            }
            auto* item = new QListWidgetItem(text, lineLog);
            item->setForeground(mouse.AsExpected() ? VerdictColour(mouse.got) : BenchLook::Fail);
        }
        lineLog->scrollToBottom();
    }
}

VirtualProductionLine::Settings BenchWindow::LineSettingsFromFields() const {
    VirtualProductionLine::Settings settings;
    settings.mice = lineCountBox->value();
    settings.faultyPercent = faultyShareBox->value();
    settings.seed = QRandomGenerator::global()->generate();
    settings.icType = station_.IcType();
    settings.layout = twoInterfacesBox->isChecked() ? VirtualMouse42xx::Layout::TwoInterfaces
                                                    : VirtualMouse42xx::Layout::OneInterface;
    settings.holdSteps = 1500 / LineStepMs;
    settings.patienceSteps = 10000 / LineStepMs;
    settings.verdictPatienceSteps = 60000 / LineStepMs;
    return settings;
}

void BenchWindow::StartOrStopLine() {
    if (line_.Running()) {
        line_.Stop("Stopped by you; the line's mouse stays where it is.");
        lineTimer->stop();
    } else {
        followedRackNumber_ = 0;
        lineNotice_ = QString::fromStdString(line_.Start(LineSettingsFromFields()));
        if (lineNotice_.isEmpty()) {
            lineTimer->start();
        }
    }
    Refresh();
}

void BenchWindow::closeEvent(QCloseEvent* event) {
    // The bench and the station are one program: closing either ends both.
    station_.close();
    event->accept();
}

} // namespace vrax
