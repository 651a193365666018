#pragma once

#include "FormWatch.h"
#include "MouseRack.h"
#include "VirtualProductionLine.h"

#include <QWidget>

class QCheckBox;
class QGroupBox;
class QLabel;
class QListWidget;
class QPushButton;
class QSpinBox;
class QTableWidget;
class QTimer;

namespace vrax {

class FaultEditor;
class HexView;
class RecordsTable;
class TForm1;

// The bench beside the station window: virtual mice to add, plug, unplug and give faults,
// a keyboard, each mouse's memory against the station's loaded image, and a production line.
class BenchWindow final : public QWidget {
    Q_OBJECT

public:
    static constexpr const char* Title = "VRAX Bench";
    static constexpr int Width = 940;
    static constexpr int Height = 680;
    static constexpr int Gap = 8;
    static constexpr int LineStepMs = 100;
    static constexpr int RefreshMs = 200;

    BenchWindow(SimulatedHidBus& bus, TForm1& station, QWidget* parent = nullptr);
    ~BenchWindow() override;
    BenchWindow(const BenchWindow&) = delete;
    BenchWindow& operator=(const BenchWindow&) = delete;

    struct Placement {
        QPoint station;
        QPoint bench;
    };
    // Top left corners (of the frames) for the bench beside the station: right of it, else
    // left of it; where neither fits, the pair is centred on the screen, and where the pair
    // does not fit either, the station goes to the left edge and the bench to the right edge.
    // Each stays inside the screen's height when it fits.
    static Placement PlaceBeside(const QRect& station, const QSize& bench, const QRect& available);
    void ShowBeside();

    MouseRack& Rack() { return rack_; }
    VirtualProductionLine& Line() { return line_; }
    FormWatch& Watch() { return watch_; }

    int SelectedMouse() const { return selected_; }
    void SelectMouse(int number);
    // Brings every part of the window up to date with the rack, the mice and the station.
    void Refresh();
    // Where the sample image lies, for the start hint.
    void SetSampleFolder(const QString& folder);
    // The settings the line's Start button uses: the fields, the station's IC type, a new seed.
    VirtualProductionLine::Settings LineSettingsFromFields() const;

    QLabel* startHint;
    QPushButton* addKvqm31xButton;
    QPushButton* addKvqm42xxButton;
    QPushButton* addKvqm537Button;
    QCheckBox* twoInterfacesBox;
    QTableWidget* mouseTable;
    RecordsTable* recordsTable;
    QPushButton* plugButton;
    QPushButton* unplugButton;
    QPushButton* removeButton;
    QPushButton* keyboardButton;
    QLabel* busLabel;

    QGroupBox* selectedGroup;
    QLabel* identityLabel;
    FaultEditor* faultEditor;
    HexView* hexView;
    QLabel* differenceLabel;
    QPushButton* firstDifferenceButton;
    QLabel* factoryRecordLabel;

    QSpinBox* lineCountBox;
    QSpinBox* faultyShareBox;
    QCheckBox* followLineBox;
    QPushButton* lineStartButton;
    QLabel* lineStatusLabel;
    QLabel* passTally;
    QLabel* failTally;
    QLabel* mismatchTally;
    QLabel* noVerdictTally;
    QLabel* passCountLabel;
    QListWidget* lineLog;

    QTimer* lineTimer;
    QTimer* refreshTimer;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    QWidget* MakeMiceGroup();
    QWidget* MakeSelectedGroup();
    QWidget* MakeLineGroup();
    void AddMouse(int icType);
    void RebuildTable();
    void RefreshTable();
    void RefreshSelected();
    void RefreshLine();
    void StartOrStopLine();
    QString DecodedFactoryRecord(const VirtualMouse& mouse) const;

    TForm1& station_;
    MouseRack rack_;
    FormWatch watch_;
    VirtualProductionLine line_;
    int selected_ = 0;
    bool tableDirty_ = true;
    int followedRackNumber_ = 0;
    // The mouse whose faults the editor shows.
    int editedMouse_ = -1;
    // Why the line did not start; shown until it does.
    QString lineNotice_;
};

} // namespace vrax
