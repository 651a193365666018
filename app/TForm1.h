#pragma once

#include "app/Dialogs.h"
#include "device/Clock.h"
#include "device/HidPlatform.h"
#include "operations/OperationRunner.h"
#include "programming/Lang.h"
#include "programming/StationContext.h"
#include "programming/StationSettings.h"
#include "programming/StationState.h"
#include "programming/StationView.h"

#include <QWidget>

#include <functional>
#include <vector>

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTimer;

namespace vrax {

class DropDownComboBox;
class PictureBox;
class SkinTitleBar;
class TFormLoadingUI;
class THexEdit;
class TIntEdit;

// The main window. Its handlers carry the flow; the operations reach the window through
// StationView and read the operator's settings through StationSettings.
class TForm1 : public QWidget, public StationView, public StationSettings {
    Q_OBJECT

public:
    static constexpr int MainFormWidth = 625;
    static constexpr int MainFormHeight = 680;
    static constexpr const char* Caption = "VRAX Mse 2K-Bin Writer Tool v1.";
    static constexpr const char* ApplicationTitle = "VRAX 2K-Bin Writer Tool";
    static constexpr const char* LatinFace = "MS Sans Serif";
    static constexpr const char* ChineseFace = "Microsoft JhengHei";
    static constexpr const char* Password = "MarblexQT";

    TForm1(HidPlatform& platform, Clock& clock, Dialogs& dialogs, QWidget* parent = nullptr);
    ~TForm1() override;
    TForm1(const TForm1&) = delete;
    TForm1& operator=(const TForm1&) = delete;

    // Left and top that centre the window on a screen of this size; may be negative.
    static QPoint StartPosition(QSize screenSize);

    void FormCreate();
    // Chooses the text column from the thread locale, then applies it.
    void SelectLanguage();
    void SelectLanguage(int threadLocale);
    void ApplyLanguage();
    void FormCloseQuery(bool& canClose);

    void cb_ICTypeChange(QObject* sender = nullptr);
    void btn_LoadClick(QObject* sender = nullptr);
    // Load BIN with the file already chosen, as a jig chooses it.
    void LoadImageFile(const QString& path);
    void btn_WriteClick(QObject* sender = nullptr);
    void btn_VerifyClick(QObject* sender = nullptr);
    void btn_SaveClick(QObject* sender = nullptr);
    void btnReadFactoryClick(QObject* sender = nullptr);
    void DevTimerTimer(QObject* sender = nullptr);
    void cb_AutoRunClick(QObject* sender = nullptr);
    void Img_VRAXLogDblClick(QObject* sender = nullptr);
    void edt_Write256CountChange(QObject* sender = nullptr);

    void ShowDeviceReady();
    void DisableJobControls() override;
    void EnableJobControls() override;

    // Runs one handler so that no exception reaches the event loop: an error is shown in an
    // error box and the window returns to the state the handler found it in.
    void RunGuarded(const std::function<void()>& handler);

    // What ends the process when the window is asked to close; tests put a recorder here.
    void SetExitAction(std::function<void(int exitCode)> exitAction);
    // Brings a minimised or hidden window back and to the front.
    void RestoreAndRaise();
    // A line under the window's controls for what the operator must know of the station
    // itself (an unprotected line database); the window grows by it the first time.
    void ShowStatusNotice(const QString& text);
    // A small line in the header saying which jig drives the station, and from where.
    void ShowJigConnection(const QString& text);
    // Told of every chunk a job starts, after the window is.
    void SetChunkListener(std::function<void(int done, int total)> listener) {
        chunkListener_ = std::move(listener);
    }

    HidPlatform& Platform() { return platform_; }
    Clock& GetClock() { return clock_; }
    Dialogs& GetDialogs() { return dialogs_; }
    StationState& State() { return station_.state; }
    Lang& Language() { return station_.lang; }
    Station& GetStation() { return station_; }
    // Runs the window's jobs: approvals, serial numbers and a record of each verdict.
    OperationRunner& Recording() { return runner_; }
    SkinTitleBar* TitleBar() const { return titleBar_; }

    // StationView
    void ShowBusyWindow() override;
    void HideBusyWindow() override;
    void PumpMessages() override;
    void ChunkStarting(int done, int total) override;
    void HideResult() override;
    void ShowResult(const std::string& text, ResultColour colour,
                    std::optional<int> pointSize = std::nullopt) override;
    void ShowMouseMismatch() override;
    void ShowSizeMismatch() override;
    void HideResultLabels() override;
    void SetDevTimerRunning(bool running) override;
    void SetActionButtonsEnabled(bool enabled) override;
    void ShowPassCount(int passCount) override;
    bool AutoRunChecked() override;
    void ShowFactoryRecord(int type, int date, int serialNumber, int factoryIndex, int lineIndex,
                           int stationIndex) override;

    // StationSettings
    int IcType() override;
    int TotalTimes() override;
    int RetryTimes() override;
    int SleepTime() override;
    DataFormat Format() override;
    int BlockCount() override;
    std::string CustomRanges() override;
    bool WriteProductId() override;
    int FactoryType() override;
    int FactoryDate() override;
    int FactoryNumber() override;
    int FactoryIndex() override;
    int LineIndex() override;
    int StationIndex() override;

    static QColor ColourOf(ResultColour colour);

    const FileFilter OpenDialog1{"LoadFile(*.bin)", "*.bin"};
    const FileFilter SaveDialog1{"SaveFile(*.bin)", "*.bin"};
    const PasswordPrompt dlgPass{"VRAX BIN Writer Tool ", "PASSWORD:"};

    // Polling state: a tick that finds PollBusy set does nothing.
    bool PollBusy = false;
    int LastDeviceCount = 0;
    // Parameter lock.
    bool ParametersUnlocked = false;
    int LogoClickCount = 0;

protected:
    void closeEvent(QCloseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    // The controls, found from outside by their object names.
    // Header and job area.
    PictureBox* Img_VRAXLog;
    PictureBox* Img_Find;
    PictureBox* Img_NoFind;
    QLabel* lbl_DevStatus;
    QLabel* lbl_ICType;
    DropDownComboBox* cb_ICType;
    QLabel* lbl_VID;
    THexEdit* edt_VID;
    QLabel* lbl_PID;
    THexEdit* edt_PID;
    QLabel* lbl_AutoMode;
    QCheckBox* cb_AutoRun;
    QLabel* lbl_BinFile;
    QLineEdit* edt_BinFile;
    QPushButton* btn_Load;
    QPushButton* btn_Write;
    QPushButton* btn_Verify;
    QPushButton* btn_Save;

    // Write parameters.
    QGroupBox* gbWriteConfig;
    QLabel* lbl_WriteCount;
    TIntEdit* edt_AllCnt;
    QLabel* lbl_RetryCount;
    TIntEdit* edt_RetryCnt;
    QLabel* lbl_sleepTime;
    TIntEdit* edt_sleepTime;
    QLabel* lbl_WriteType;
    QWidget* suiGroupBox1;
    QRadioButton* rb_CmdByte2K;
    QRadioButton* rb_CmdByte256;
    QRadioButton* rb_CmdCustom;
    QLabel* Label1;
    TIntEdit* edt_Write256Count;
    QLineEdit* edt_WriteCustom;
    QLabel* lbl_RetryMode;
    QCheckBox* cb_WriteID;

    // Result.
    QGroupBox* gbResult;
    QLabel* lbl_Result;
    QLabel* lbl_BINDevError;
    QLabel* lbl_BINICTypeError;
    QLabel* lbl_CtrlResult;
    QLabel* lbl_PassNum;
    QLabel* lbl_PassCnt;

    // Factory record.
    QGroupBox* gbFactoryConfig;
    QLabel* lbl_FactoryType;
    THexEdit* edt_FactoryType;
    QLabel* lbl_FactoryDate;
    THexEdit* edt_FactoryDate;
    QLabel* lbl_FactoryNum;
    THexEdit* edt_FactoryNum;
    QLabel* lbl_Factory;
    QLabel* lbl_StatusNotice = nullptr;
    QLabel* lbl_Jig = nullptr;
    DropDownComboBox* cb_Factory;
    QLabel* Label2;
    DropDownComboBox* cb_FactoryLine;
    QLabel* Label3;
    DropDownComboBox* cb_FactoryStation;
    QPushButton* btnReadFactory;

    QTimer* DevTimer;
    TFormLoadingUI* FormLoadingUI = nullptr;

    void CreateControls();
    void CreateWriteParameterGroup();
    void CreateResultGroup();
    void CreateFactoryGroup();
    void ConnectHandlers();
    void SetKeyboardOrder();
    std::vector<QWidget*> JobControls() const;
    struct GuardedState {
        std::vector<std::pair<QWidget*, bool>> enabled; // JobControls() and btn_Load
        bool pollBusy = false;
    };
    GuardedState SaveGuardedState() const;
    void RecoverFromError(const QString& message, const GuardedState& before);
    void ShowNoDevice();
    void SettleAfterArrival();
    bool OpenMouseOfSelectedType();
    void SetLockControlsEnabled(bool enabled);
    void SetAutoRunControlsEnabled(bool enabled);

    HidPlatform& platform_;
    Clock& clock_;
    Dialogs& dialogs_;
    // Made after the controls' owner exists; the links report to this window.
    Station station_;
    OperationRunner runner_;
    // The text last confirmed with OK in the password dialog.
    QString lastPassword_;
    SkinTitleBar* titleBar_;
    std::function<void(int)> exitAction_;
    std::function<void(int, int)> chunkListener_;
};

} // namespace vrax
