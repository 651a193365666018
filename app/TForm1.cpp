#include "TForm1.h"

#include "DropDownComboBox.h"
#include "PictureBox.h"
#include "Skin.h"
#include "SkinTitleBar.h"
#include "SystemLocale.h"
#include "TFormLoadingUI.h"
#include "controls/THexEdit.h"
#include "controls/TIntEdit.h"
#include "device/HidDiscovery.h"
#include "programming/BinImage.h"
#include "programming/DataFormat.h"
#include "programming/FactoryRecord.h"
#include "programming/SaveJob.h"
#include "programming/StationError.h"
#include "programming/Verify.h"
#include "programming/WriteJob.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <utility>

namespace vrax {

namespace {

template <typename Control>
Control* Place(Control* control, const char* name, const QRect& geometry, const QFont& font) {
    control->setObjectName(name);
    control->setGeometry(geometry);
    control->setFont(font);
    return control;
}

QLabel* MakeLabel(QWidget* parent, const char* name, const QRect& geometry, const QFont& font,
                  const QString& text = {}) {
    auto* label = Place(new QLabel(text, parent), name, geometry, font);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

void SetTextColour(QWidget* widget, const QColor& colour) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, colour);
    palette.setColor(QPalette::Text, colour);
    widget->setPalette(palette);
}

template <typename Edit>
Edit* MakeNumberField(QWidget* parent, const char* name, const QRect& geometry, const QFont& font,
                      int typingLimit, const QString& text) {
    auto* edit = Place(new Edit(parent), name, geometry, font);
    edit->SetTypingLimit(typingLimit);
    edit->setText(text);
    return edit;
}

// A device ID as the VID and PID fields show it.
QString FourHexDigits(int value) {
    return QString("%1").arg(value, 4, 16, QChar('0')).toUpper();
}

void ExitProcessNow(int exitCode) {
    std::fflush(nullptr);
    std::_Exit(exitCode);
}

} // namespace

TForm1::TForm1(HidPlatform& platform, Clock& clock, Dialogs& dialogs, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      platform_(platform), clock_(clock), dialogs_(dialogs),
      station_(platform, clock, *this, *this), runner_(station_), exitAction_(ExitProcessNow) {
    setObjectName("Form1");
    setWindowTitle(Caption);
    setWindowIcon(QIcon(":/artwork/find.png"));
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, Skin::Background);
    palette.setColor(QPalette::Base, Skin::Background);
    setPalette(palette);
    setStyleSheet(Skin::StyleSheet());
    setFixedSize(MainFormWidth, MainFormHeight);

    titleBar_ = new SkinTitleBar(this);
    titleBar_->setGeometry(Skin::BorderWidth, Skin::BorderWidth,
                           MainFormWidth - 2 * Skin::BorderWidth, Skin::TitleBarHeight);
    titleBar_->SetCaption(Caption);
    titleBar_->SetIcon(QPixmap(":/artwork/find.png"));

    DevTimer = new QTimer(this);
    DevTimer->setObjectName("DevTimer");
    DevTimer->setInterval(1000);

    CreateControls();
    ConnectHandlers();
    SetKeyboardOrder();
    FormCreate();
    // Placed relative to the main window, so it comes after FormCreate has placed that.
    FormLoadingUI = new TFormLoadingUI(this);
}

TForm1::~TForm1() = default;

void TForm1::CreateControls() {
    const QFont latin13 = Skin::DesignFont(LatinFace, 13);
    const QFont buttonFont = Skin::DesignFont(LatinFace, 16, true);

    Img_VRAXLog = Place(new PictureBox(this), "Img_VRAXLog", {8, 30, 200, 66}, font());
    Img_VRAXLog->setPixmap(QPixmap(":/artwork/logo.png"));
    Img_Find = Place(new PictureBox(this), "Img_Find", {360, 50, 30, 30}, font());
    Img_Find->setPixmap(QPixmap(":/artwork/find.png"));
    Img_Find->hide();
    Img_NoFind = Place(new PictureBox(this), "Img_NoFind", {360, 50, 30, 30}, font());
    Img_NoFind->setPixmap(QPixmap(":/artwork/nofind.png"));

    lbl_DevStatus =
        MakeLabel(this, "lbl_DevStatus", {408, 40, 201, 49}, Skin::DesignFont(LatinFace, 21, true));
    lbl_DevStatus->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    SetTextColour(lbl_DevStatus, QColor(0, 30, 120));

    lbl_ICType = MakeLabel(this, "lbl_ICType", {8, 108, 106, 16}, latin13);
    cb_ICType = Place(new DropDownComboBox(this), "cb_ICType", {116, 106, 245, 22}, latin13);
    for (const MouseType& type : MouseTypes) {
        cb_ICType->addItem(type.name);
    }
    cb_ICType->setCurrentIndex(0);
    cb_ICType->setMaxVisibleItems(6);
    cb_ICType->SetListOpensAsTyped();

    lbl_VID = MakeLabel(this, "lbl_VID", {424, 108, 33, 16}, latin13);
    edt_VID = MakeNumberField<THexEdit>(this, "edt_VID", {466, 106, 40, 20},
                                        Skin::DesignFont(LatinFace, 12), 4,
                                        FourHexDigits(MouseTypes[IcTypeKvqm31x].vendorId));
    lbl_PID = MakeLabel(this, "lbl_PID", {528, 108, 33, 16}, latin13);
    edt_PID = MakeNumberField<THexEdit>(this, "edt_PID", {566, 106, 40, 20},
                                        Skin::DesignFont(LatinFace, 12), 4,
                                        FourHexDigits(MouseTypes[IcTypeKvqm31x].productId));

    lbl_AutoMode = MakeLabel(this, "lbl_AutoMode", {8, 138, 106, 16}, latin13);
    cb_AutoRun = Place(new QCheckBox(this), "cb_AutoRun", {116, 138, 77, 22}, latin13);

    lbl_BinFile = MakeLabel(this, "lbl_BinFile", {8, 170, 106, 16}, latin13);
    edt_BinFile = Place(new QLineEdit(this), "edt_BinFile", {116, 168, 493, 25}, latin13);
    edt_BinFile->setReadOnly(true);
    edt_BinFile->setEnabled(false);

    btn_Load = Place(new QPushButton(this), "btn_Load", {18, 206, 96, 44}, buttonFont);
    btn_Write = Place(new QPushButton(this), "btn_Write", {184, 206, 96, 44}, buttonFont);
    btn_Write->setEnabled(false);
    btn_Verify = Place(new QPushButton(this), "btn_Verify", {366, 206, 96, 44}, buttonFont);
    btn_Verify->setEnabled(false);
    btn_Save = Place(new QPushButton(this), "btn_Save", {508, 206, 96, 44}, buttonFont);
    btn_Save->setEnabled(false);

    CreateWriteParameterGroup();
    CreateResultGroup();
    CreateFactoryGroup();
}

void TForm1::CreateWriteParameterGroup() {
    const QFont groupFont = Skin::DesignFont(LatinFace, 16);
    const QFont numberFont = Skin::DesignFont(LatinFace, 12);

    gbWriteConfig = Place(new QGroupBox(this), "gbWriteConfig", {7, 273, 610, 120}, groupFont);
    QGroupBox* group = gbWriteConfig;
    lbl_WriteCount = MakeLabel(group, "lbl_WriteCount", {17, 24, 130, 25}, groupFont);
    edt_AllCnt =
        MakeNumberField<TIntEdit>(group, "edt_AllCnt", {144, 23, 40, 20}, numberFont, 4, "1");
    lbl_RetryCount = MakeLabel(group, "lbl_RetryCount", {17, 56, 130, 25}, groupFont);
    edt_RetryCnt =
        MakeNumberField<TIntEdit>(group, "edt_RetryCnt", {144, 55, 40, 20}, numberFont, 4, "3");
    lbl_sleepTime = MakeLabel(group, "lbl_sleepTime", {17, 88, 96, 25}, groupFont, "Sleep Time:");
    edt_sleepTime =
        MakeNumberField<TIntEdit>(group, "edt_sleepTime", {144, 87, 40, 20}, numberFont, 3, "100");
    lbl_WriteType = MakeLabel(group, "lbl_WriteType", {193, 24, 130, 25}, groupFont);

    suiGroupBox1 = Place(new QWidget(group), "suiGroupBox1", {313, 12, 168, 61}, groupFont);
    rb_CmdByte2K = Place(new QRadioButton("2K Byte", suiGroupBox1), "rb_CmdByte2K", {5, 10, 58, 19},
                         numberFont);
    rb_CmdByte256 = Place(new QRadioButton("256 Byte", suiGroupBox1), "rb_CmdByte256",
                          {100, 10, 63, 19}, numberFont);
    rb_CmdCustom = Place(new QRadioButton("Custom", suiGroupBox1), "rb_CmdCustom", {5, 38, 56, 19},
                         numberFont);
    rb_CmdCustom->setChecked(true);

    Label1 = MakeLabel(group, "Label1", {481, 24, 16, 25}, Skin::DesignFont("Tahoma", 16), "*");
    edt_Write256Count = MakeNumberField<TIntEdit>(group, "edt_Write256Count", {504, 23, 40, 20},
                                                  numberFont, 4, "8");
    edt_WriteCustom = Place(new QLineEdit("000-256;1280-1536;", group), "edt_WriteCustom",
                            {424, 53, 177, 21}, Skin::DesignFont("Tahoma", 11));
    lbl_RetryMode = MakeLabel(group, "lbl_RetryMode", {193, 88, 130, 25}, groupFont);
    cb_WriteID = Place(new QCheckBox(group), "cb_WriteID", {319, 88, 185, 17},
                       Skin::DesignFont(LatinFace, 13));
}

void TForm1::CreateResultGroup() {
    const QFont errorFont = Skin::DesignFont(LatinFace, 16, true);
    gbResult =
        Place(new QGroupBox(this), "gbResult", {8, 401, 609, 97}, Skin::DesignFont(LatinFace, 16));
    QGroupBox* group = gbResult;

    lbl_Result =
        MakeLabel(group, "lbl_Result", {80, 16, 125, 58}, Skin::DesignFont(LatinFace, 48, true));
    SetTextColour(lbl_Result, Qt::blue);
    lbl_Result->hide();

    const auto makeErrorLabel = [&](const char* name, const QRect& geometry) {
        QLabel* label = MakeLabel(group, name, geometry, errorFont);
        label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
        SetTextColour(label, Qt::red);
        label->hide();
        return label;
    };
    lbl_BINDevError = makeErrorLabel("lbl_BINDevError", {8, 41, 320, 24});
    lbl_BINICTypeError = makeErrorLabel("lbl_BINICTypeError", {8, 40, 320, 24});
    lbl_CtrlResult = makeErrorLabel("lbl_CtrlResult", {8, 24, 320, 60});

    lbl_PassNum = MakeLabel(group, "lbl_PassNum", {425, 24, 136, 25}, errorFont);
    lbl_PassCnt = MakeLabel(group, "lbl_PassCnt", {440, 56, 89, 24}, errorFont, "0");
    lbl_PassCnt->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    SetTextColour(lbl_PassCnt, Qt::blue);
}

void TForm1::CreateFactoryGroup() {
    const QFont groupFont = Skin::DesignFont(LatinFace, 16);
    const QFont numberFont = Skin::DesignFont(LatinFace, 12);
    const QFont listFont = Skin::DesignFont("Tahoma", 12);

    gbFactoryConfig = Place(new QGroupBox(this), "gbFactoryConfig", {7, 505, 610, 168}, groupFont);
    QGroupBox* group = gbFactoryConfig;
    lbl_FactoryType = MakeLabel(group, "lbl_FactoryType", {17, 32, 104, 25}, groupFont);
    edt_FactoryType = MakeNumberField<THexEdit>(group, "edt_FactoryType", {90, 34, 40, 20},
                                                numberFont, 4, "0005");
    lbl_FactoryDate = MakeLabel(group, "lbl_FactoryDate", {193, 32, 104, 17}, groupFont);
    edt_FactoryDate = MakeNumberField<THexEdit>(group, "edt_FactoryDate", {266, 34, 55, 20},
                                                numberFont, 8, "20200527");
    lbl_FactoryNum = MakeLabel(group, "lbl_FactoryNum", {385, 32, 120, 25}, groupFont);
    edt_FactoryNum = MakeNumberField<THexEdit>(group, "edt_FactoryNum", {458, 34, 47, 20},
                                               numberFont, 6, "000001");

    const auto makeList = [&](const char* name, const QRect& geometry, QStringList items) {
        auto* list = Place(new DropDownComboBox(group), name, geometry, listFont);
        list->addItems(items);
        list->setCurrentIndex(0);
        return list;
    };
    QStringList digits;
    for (int i = 1; i <= 8; ++i) {
        digits << QString::number(i);
    }
    QStringList letters;
    for (char c = 'A'; c <= 'Z'; ++c) {
        letters << QString(QChar(c));
    }
    lbl_Factory = MakeLabel(group, "lbl_Factory", {17, 80, 112, 25}, groupFont);
    cb_Factory = makeList("cb_Factory", {88, 82, 41, 22}, digits);
    Label2 = MakeLabel(group, "Label2", {193, 80, 88, 25}, groupFont);
    cb_FactoryLine = makeList("cb_FactoryLine", {264, 82, 57, 22}, letters);
    Label3 = MakeLabel(group, "Label3", {385, 80, 96, 25}, groupFont);
    cb_FactoryStation = makeList("cb_FactoryStation", {456, 82, 49, 22}, digits);

    btnReadFactory = Place(new QPushButton(group), "btnReadFactory", {392, 117, 201, 36},
                           Skin::DesignFont(LatinFace, 16, true));
    btnReadFactory->setEnabled(false);
}

void TForm1::ConnectHandlers() {
    const auto guarded = [this](void (TForm1::*handler)(QObject*), QObject* sender) {
        return [this, handler, sender] { RunGuarded([&] { (this->*handler)(sender); }); };
    };
    connect(cb_ICType, &DropDownComboBox::Change, this,
            guarded(&TForm1::cb_ICTypeChange, cb_ICType));
    connect(cb_AutoRun, &QCheckBox::clicked, this, guarded(&TForm1::cb_AutoRunClick, cb_AutoRun));
    connect(DevTimer, &QTimer::timeout, this, guarded(&TForm1::DevTimerTimer, DevTimer));
    connect(Img_VRAXLog, &PictureBox::DoubleClicked, this,
            guarded(&TForm1::Img_VRAXLogDblClick, Img_VRAXLog));
    connect(btn_Load, &QPushButton::clicked, this, guarded(&TForm1::btn_LoadClick, btn_Load));
    connect(btn_Write, &QPushButton::clicked, this, guarded(&TForm1::btn_WriteClick, btn_Write));
    connect(edt_Write256Count, &QLineEdit::textChanged, this,
            guarded(&TForm1::edt_Write256CountChange, edt_Write256Count));
    connect(btn_Verify, &QPushButton::clicked, this, guarded(&TForm1::btn_VerifyClick, btn_Verify));
    connect(btn_Save, &QPushButton::clicked, this, guarded(&TForm1::btn_SaveClick, btn_Save));
    connect(btnReadFactory, &QPushButton::clicked, this,
            guarded(&TForm1::btnReadFactoryClick, btnReadFactory));
}

void TForm1::SetKeyboardOrder() {
    const std::vector<QWidget*> order = {
        cb_ICType,      btn_Load,      btn_Write,       btn_Verify,        btn_Save,
        cb_AutoRun,     edt_BinFile,   edt_VID,         edt_PID,           edt_AllCnt,
        edt_RetryCnt,   rb_CmdByte2K,  rb_CmdByte256,   rb_CmdCustom,      edt_Write256Count,
        cb_WriteID,     edt_sleepTime, edt_WriteCustom, edt_FactoryType,   edt_FactoryDate,
        edt_FactoryNum, cb_Factory,    cb_FactoryLine,  cb_FactoryStation, btnReadFactory};
    for (std::size_t i = 1; i < order.size(); ++i) {
        setTabOrder(order[i - 1], order[i]);
    }
    cb_ICType->setFocus(Qt::OtherFocusReason);
}

QPoint TForm1::StartPosition(QSize screenSize) {
    // Integer division rounds toward zero, so a screen narrower than the window still
    // gives an edge near 0.
    return {(screenSize.width() - MainFormWidth) / 2, (screenSize.height() - MainFormHeight) / 2};
}

void TForm1::FormCreate() {
    station_.state.LoadedTypeName.clear();
    station_.state.ImageLoaded = false;
    lbl_PassCnt->setText("0");
    station_.state.PassCount = 0;
    const QScreen* screen = QGuiApplication::primaryScreen();
    move(StartPosition(screen ? screen->size() : QSize(MainFormWidth, MainFormHeight)));
    if (lbl_StatusNotice == nullptr) {
        setFixedSize(MainFormWidth, MainFormHeight);
    }
    SelectLanguage();
    update();
}

void TForm1::SelectLanguage() {
    SelectLanguage(SystemThreadLocale());
}

void TForm1::SelectLanguage(int threadLocale) {
    station_.lang.LanguageIndex = threadLocale == LocaleChinesePrc ? 2 : 0;
    ApplyLanguage();
}

void TForm1::ApplyLanguage() {
    const QString face = station_.lang.LanguageIndex == 0 ? LatinFace : ChineseFace;
    QWidget* const faceControls[] = {lbl_DevStatus,
                                     lbl_ICType,
                                     cb_ICType,
                                     lbl_VID,
                                     edt_VID,
                                     lbl_PID,
                                     edt_PID,
                                     lbl_AutoMode,
                                     cb_AutoRun,
                                     lbl_BinFile,
                                     edt_BinFile,
                                     btn_Load,
                                     btn_Write,
                                     btnReadFactory,
                                     btn_Verify,
                                     btn_Save,
                                     gbResult,
                                     lbl_BINDevError,
                                     lbl_BINICTypeError,
                                     lbl_CtrlResult,
                                     lbl_Result,
                                     lbl_PassNum,
                                     lbl_PassCnt,
                                     gbWriteConfig,
                                     lbl_WriteCount,
                                     lbl_RetryCount,
                                     lbl_WriteType,
                                     lbl_sleepTime,
                                     lbl_RetryMode,
                                     cb_WriteID,
                                     gbFactoryConfig,
                                     lbl_FactoryType,
                                     lbl_FactoryDate,
                                     lbl_FactoryNum,
                                     lbl_Factory,
                                     Label2,
                                     Label3};
    for (QWidget* control : faceControls) {
        QFont font = control->font();
        font.setFamily(face);
        Skin::MatchLayoutWidth(font);
        control->setFont(font);
    }

    const auto text = [this](std::uint8_t id) {
        return QString::fromStdString(station_.lang.Text(id));
    };
    const auto wideText = [this](std::uint8_t id) {
        return QString::fromLocal8Bit(station_.lang.Text(id).c_str());
    };
    lbl_DevStatus->setText(text(0));
    lbl_ICType->setText(text(2));
    lbl_VID->setText(text(3));
    lbl_PID->setText(text(4));
    lbl_AutoMode->setText(text(5));
    cb_AutoRun->setText(text(6));
    lbl_BinFile->setText(text(7));
    btn_Load->setText(text(8));
    btn_Write->setText(text(9));
    btnReadFactory->setText(text(37));
    btn_Verify->setText(text(10));
    btn_Save->setText(text(11));
    gbResult->setTitle(text(18));
    lbl_BINDevError->setText(wideText(19));
    lbl_BINICTypeError->setText(wideText(20));
    lbl_Result->setText(text(21));
    lbl_PassNum->setText(text(23));
    gbWriteConfig->setTitle(text(24));
    lbl_RetryCount->setText(text(26));
    lbl_WriteCount->setText(text(25));
    lbl_WriteType->setText(text(27));
    lbl_RetryMode->setText(text(28));
    cb_WriteID->setText(text(29));
    gbFactoryConfig->setTitle(text(30));
    lbl_FactoryType->setText(text(31));
    lbl_FactoryDate->setText(text(32));
    lbl_FactoryNum->setText(text(33));
    lbl_Factory->setText(text(34));
    Label2->setText(text(35));
    Label3->setText(text(36));
}

void TForm1::cb_ICTypeChange(QObject*) {
    edt_BinFile->clear();
    station_.state.LoadedTypeName.clear();
    station_.state.ImageLoaded = false;
    station_.state.PassCount = 0;
    lbl_PassCnt->setText("0");
    lbl_Result->hide();
    lbl_BINDevError->hide();
    lbl_BINICTypeError->hide();
    // Polling stays off until an image is accepted again; open devices are kept.
    DevTimer->stop();
    const MouseType* type = FindMouseType(cb_ICType->currentIndex());
    if (type == nullptr) {
        return;
    }
    edt_VID->setText(FourHexDigits(type->vendorId));
    edt_PID->setText(FourHexDigits(type->productId));
    const bool custom = type->jobs.customRanges;
    rb_CmdCustom->setVisible(custom);
    edt_WriteCustom->setVisible(custom);
    (custom ? rb_CmdCustom : rb_CmdByte2K)->setChecked(true);
}

void TForm1::FormCloseQuery(bool& canClose) {
    exitAction_(0);
    // Reached only when a test replaced the exit action: the window stays as it is.
    canClose = false;
}

void TForm1::btn_LoadClick(QObject*) {
    StationContext context = station_.Context();
    BeginLoad(context);
    const std::optional<QString> path = dialogs_.OpenFile(this, OpenDialog1);
    if (path) {
        edt_BinFile->setText(*path);
        LoadBinFile(context, path->toLocal8Bit().toStdString());
    }
    // A cancelled or refused load leaves no image, and no job may be offered without one.
    if (!station_.state.ImageLoaded) {
        SetActionButtonsEnabled(false);
    }
}

void TForm1::LoadImageFile(const QString& path) {
    StationContext context = station_.Context();
    BeginLoad(context);
    edt_BinFile->setText(path);
    LoadBinFile(context, path.toLocal8Bit().toStdString());
    if (!station_.state.ImageLoaded) {
        SetActionButtonsEnabled(false);
    }
}

void TForm1::btn_WriteClick(QObject*) {
    runner_.Write();
}

void TForm1::btn_VerifyClick(QObject*) {
    runner_.Verify();
}

void TForm1::btn_SaveClick(QObject*) {
    const std::optional<QString> path = dialogs_.SaveFile(this, SaveDialog1);
    if (!path) {
        return;
    }
    runner_.Save(path->toLocal8Bit().toStdString());
}

void TForm1::btnReadFactoryClick(QObject*) {
    runner_.ReadFactory();
}

void TForm1::DevTimerTimer(QObject*) {
    if (PollBusy) {
        return;
    }
    PollBusy = true;
    const std::optional<int> stableCount =
        StableSample([this] { return CountHidDevices(platform_); });
    const std::string notice = platform_.TakeOperatorNotice();
    if (!notice.empty()) {
        dialogs_.Message(this, ApplicationTitle, QString::fromLocal8Bit(notice.c_str()));
    }
    if (!stableCount || *stableCount == LastDeviceCount) {
        PollBusy = false;
        return;
    }
    const int count = *stableCount;
    if (count < LastDeviceCount) {
        ShowNoDevice();
        DisableJobControls();
        station_.links.ForgetAll();
    } else {
        SettleAfterArrival();
        if (lbl_CtrlResult->text() == QString::fromStdString(station_.lang.Text(12))) {
            edt_FactoryNum->SetValue(AdvancedSerialNumber(edt_FactoryNum->GetValue()));
        }
        if (OpenMouseOfSelectedType()) {
            ShowDeviceReady();
            if (station_.state.ImageLoaded) {
                btn_Load->setEnabled(false);
                if (cb_AutoRun->isChecked()) {
                    DisableJobControls();
                    // Absorbed first, so a job that stops with an error is not started again
                    // by every following tick.
                    LastDeviceCount = count;
                    btn_WriteClick(nullptr);
                } else {
                    EnableJobControls();
                }
            }
        }
    }
    LastDeviceCount = count;
    PollBusy = false;
}

void TForm1::ShowNoDevice() {
    Img_Find->hide();
    Img_NoFind->show();
    lbl_DevStatus->setText(QString::fromStdString(station_.lang.Text(0)));
}

void TForm1::SettleAfterArrival() {
    StationContext context = station_.Context();
    SettleWait(context);
}

bool TForm1::OpenMouseOfSelectedType() {
    const int icType = cb_ICType->currentIndex();
    if (FindMouseType(icType) == nullptr) {
        return false;
    }
    const int productId = edt_PID->GetValue();
    const int vendorId = edt_VID->GetValue();
    return station_.OpenMouse(icType, vendorId, productId);
}

void TForm1::cb_AutoRunClick(QObject*) {
    if (!station_.links.AnyOpen()) {
        return;
    }
    // Inside an operation's message pumping the box only switches the mode: a job started here
    // would run within the other one, and the running operation's end decides its buttons.
    const bool operationRunning = station_.state.OperationsRunning > 0;
    if (cb_AutoRun->isChecked()) {
        SetAutoRunControlsEnabled(false);
        if (!operationRunning && station_.state.ImageLoaded) {
            btn_WriteClick(nullptr);
        }
    } else {
        SetAutoRunControlsEnabled(true);
        if (operationRunning || !station_.state.ImageLoaded) {
            SetActionButtonsEnabled(false);
        }
    }
}

void TForm1::SetAutoRunControlsEnabled(bool enabled) {
    // The job controls without the check box itself.
    for (QWidget* control : JobControls()) {
        if (control != cb_AutoRun) {
            control->setEnabled(enabled);
        }
    }
}

void TForm1::Img_VRAXLogDblClick(QObject*) {
    if (ParametersUnlocked) {
        ParametersUnlocked = false;
        SetLockControlsEnabled(false);
        dialogs_.Message(this, ApplicationTitle, "Locked");
        return;
    }
    ++LogoClickCount;
    if (LogoClickCount % 5 != 0) {
        return;
    }
    const std::optional<QString> entered = dialogs_.Password(this, dlgPass, lastPassword_);
    if (!entered) {
        return;
    }
    lastPassword_ = *entered;
    if (*entered == QLatin1String(Password)) {
        ParametersUnlocked = true;
        SetLockControlsEnabled(true);
    }
}

void TForm1::SetLockControlsEnabled(bool enabled) {
    lbl_VID->setEnabled(enabled);
    edt_VID->setEnabled(enabled);
    lbl_PID->setEnabled(enabled);
    edt_PID->setEnabled(enabled);
}

void TForm1::edt_Write256CountChange(QObject*) {
    if (const std::optional<int> clamped = ClampedBlockCount(edt_Write256Count->GetValue())) {
        edt_Write256Count->SetValue(*clamped);
    }
}

void TForm1::ShowDeviceReady() {
    Img_Find->show();
    lbl_DevStatus->setText(QString::fromStdString(station_.lang.Text(1)));
    Img_NoFind->hide();
    cb_ICType->setEnabled(false);
    cb_AutoRun->setEnabled(false);
    PumpMessages();
}

std::vector<QWidget*> TForm1::JobControls() const {
    return {btn_Write,    btnReadFactory, btn_Verify,    btn_Save,          edt_AllCnt,
            edt_RetryCnt, rb_CmdByte2K,   rb_CmdByte256, edt_Write256Count, lbl_VID,
            edt_VID,      lbl_PID,        edt_PID,       cb_AutoRun};
}

void TForm1::DisableJobControls() {
    for (QWidget* control : JobControls()) {
        control->setEnabled(false);
    }
    lbl_Result->hide();
    lbl_BINDevError->hide();
    lbl_BINICTypeError->hide();
    lbl_CtrlResult->hide();
    btn_Load->setEnabled(true);
}

void TForm1::EnableJobControls() {
    for (QWidget* control : JobControls()) {
        control->setEnabled(true);
    }
}

void TForm1::RunGuarded(const std::function<void()>& handler) {
    // Jobs and the polling's waits sleep in 1 ms steps; between handlers the system timer is
    // left alone.
    const FineTimerResolution fineTimer;
    const GuardedState before = SaveGuardedState();
    try {
        handler();
    } catch (const StationError& error) {
        RecoverFromError(QString::fromStdString(error.what()), before);
    } catch (const std::exception& error) {
        RecoverFromError(QString::fromLocal8Bit(error.what()), before);
    }
}

TForm1::GuardedState TForm1::SaveGuardedState() const {
    GuardedState state;
    std::vector<QWidget*> controls = JobControls();
    controls.push_back(btn_Load);
    for (QWidget* control : controls) {
        state.enabled.emplace_back(control, control->isEnabled());
    }
    state.pollBusy = PollBusy;
    return state;
}

void TForm1::RecoverFromError(const QString& message, const GuardedState& before) {
    HideBusyWindow();
    // No tick may start another job, or another error box, while this one is open.
    DevTimer->stop();
    dialogs_.Error(this, ApplicationTitle, message);
    // Back to the state group the handler started from, and never a job without an image.
    for (const auto& [control, enabled] : before.enabled) {
        control->setEnabled(enabled);
    }
    if (!station_.state.ImageLoaded) {
        SetActionButtonsEnabled(false);
    }
    // An operation whose message pumping ran the failed handler starts polling at its end.
    if (station_.state.ImageLoaded && station_.state.OperationsRunning == 0) {
        DevTimer->start();
    }
    PollBusy = before.pollBusy;
}

void TForm1::SetExitAction(std::function<void(int)> exitAction) {
    exitAction_ = std::move(exitAction);
}

void TForm1::RestoreAndRaise() {
    setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}

void TForm1::closeEvent(QCloseEvent* event) {
    bool canClose = true;
    RunGuarded([&] { FormCloseQuery(canClose); });
    if (canClose) {
        event->accept();
    } else {
        event->ignore();
    }
}

void TForm1::ShowStatusNotice(const QString& text) {
    constexpr int NoticeHeight = 46;
    if (lbl_StatusNotice == nullptr) {
        lbl_StatusNotice = MakeLabel(this, "lbl_StatusNotice",
                                     {10, MainFormHeight - 4, MainFormWidth - 20, NoticeHeight},
                                     Skin::DesignFont(LatinFace, 12));
        lbl_StatusNotice->setWordWrap(true);
        SetTextColour(lbl_StatusNotice, QColor(170, 0, 0));
        setFixedSize(MainFormWidth, MainFormHeight + NoticeHeight);
    }
    lbl_StatusNotice->setText(text);
    lbl_StatusNotice->setToolTip(text);
    lbl_StatusNotice->show();
}

void TForm1::ShowJigConnection(const QString& text) {
    if (lbl_Jig == nullptr) {
        // Beside the auto-write box, where the design leaves the header empty.
        lbl_Jig = MakeLabel(this, "lbl_Jig", {200, 140, 409, 16}, Skin::DesignFont(LatinFace, 11));
        lbl_Jig->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        SetTextColour(lbl_Jig, QColor(0, 30, 120));
    }
    lbl_Jig->setText(text);
    lbl_Jig->show();
}

void TForm1::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Skin::Background);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Skin::WindowBorder);
    const int b = Skin::BorderWidth;
    painter.drawRect(0, 0, width(), b);
    painter.drawRect(0, height() - b, width(), b);
    painter.drawRect(0, 0, b, height());
    painter.drawRect(width() - b, 0, b, height());
}

void TForm1::ShowBusyWindow() {
    FormLoadingUI->ShowCentredOver(*this);
}

void TForm1::ChunkStarting(int done, int total) {
    // The busy window stays on top by itself; raising it again before every chunk cost an X
    // request per few bytes, so it is raised when a transfer begins.
    FormLoadingUI->ShowCentredOver(*this, done == 0);
    if (chunkListener_) {
        chunkListener_(done, total);
    }
    PumpMessages();
}

void TForm1::HideBusyWindow() {
    FormLoadingUI->hide();
}

void TForm1::PumpMessages() {
    QCoreApplication::processEvents();
}

QColor TForm1::ColourOf(ResultColour colour) {
    switch (colour) {
    case ResultColour::Lime:
        return {0, 255, 0};
    case ResultColour::Green:
        return {0, 128, 0};
    case ResultColour::Red:
        return {255, 0, 0};
    }
    return {255, 0, 0};
}

void TForm1::HideResult() {
    lbl_CtrlResult->hide();
}

void TForm1::ShowResult(const std::string& text, ResultColour colour,
                        std::optional<int> pointSize) {
    lbl_CtrlResult->setText(QString::fromLocal8Bit(text.c_str()));
    SetTextColour(lbl_CtrlResult, ColourOf(colour));
    if (pointSize) {
        QFont font = lbl_CtrlResult->font();
        font.setPointSize(*pointSize);
        lbl_CtrlResult->setFont(font);
    }
    lbl_CtrlResult->show();
}

void TForm1::ShowMouseMismatch() {
    lbl_BINDevError->show();
}

void TForm1::ShowSizeMismatch() {
    lbl_BINICTypeError->show();
}

void TForm1::HideResultLabels() {
    lbl_Result->hide();
    lbl_BINDevError->hide();
    lbl_BINICTypeError->hide();
}

void TForm1::SetDevTimerRunning(bool running) {
    if (running) {
        DevTimer->start();
    } else {
        DevTimer->stop();
    }
}

void TForm1::SetActionButtonsEnabled(bool enabled) {
    btn_Write->setEnabled(enabled);
    btnReadFactory->setEnabled(enabled);
    btn_Verify->setEnabled(enabled);
    btn_Save->setEnabled(enabled);
}

void TForm1::ShowPassCount(int passCount) {
    lbl_PassCnt->setText(QString::number(passCount));
}

bool TForm1::AutoRunChecked() {
    return cb_AutoRun->isChecked();
}

void TForm1::ShowFactoryRecord(int type, int date, int serialNumber, int factoryIndex,
                               int lineIndex, int stationIndex) {
    edt_FactoryType->SetValue(type);
    edt_FactoryDate->SetValue(date);
    edt_FactoryNum->SetValue(serialNumber);
    cb_Factory->setCurrentIndex(factoryIndex);
    cb_FactoryLine->setCurrentIndex(lineIndex);
    cb_FactoryStation->setCurrentIndex(stationIndex);
}

int TForm1::IcType() {
    return cb_ICType->currentIndex();
}

int TForm1::TotalTimes() {
    return edt_AllCnt->GetValue();
}

int TForm1::RetryTimes() {
    return edt_RetryCnt->GetValue();
}

int TForm1::SleepTime() {
    return edt_sleepTime->GetValue();
}

DataFormat TForm1::Format() {
    if (rb_CmdByte2K->isChecked()) {
        return DataFormat::Byte2K;
    }
    if (rb_CmdByte256->isChecked()) {
        return DataFormat::Byte256;
    }
    if (rb_CmdCustom->isChecked()) {
        return DataFormat::Custom;
    }
    return DataFormat::None;
}

int TForm1::BlockCount() {
    return edt_Write256Count->GetValue();
}

std::string TForm1::CustomRanges() {
    return edt_WriteCustom->text().toStdString();
}

bool TForm1::WriteProductId() {
    return cb_WriteID->isChecked();
}

int TForm1::FactoryType() {
    return edt_FactoryType->GetValue();
}

int TForm1::FactoryDate() {
    return edt_FactoryDate->GetValue();
}

int TForm1::FactoryNumber() {
    return edt_FactoryNum->GetValue();
}

int TForm1::FactoryIndex() {
    return cb_Factory->currentIndex();
}

int TForm1::LineIndex() {
    return cb_FactoryLine->currentIndex();
}

int TForm1::StationIndex() {
    return cb_FactoryStation->currentIndex();
}

} // namespace vrax
