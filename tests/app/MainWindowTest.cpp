#include "app/DropDownComboBox.h"
#include "app/PictureBox.h"
#include "app/QtDialogs.h"
#include "app/ScriptedDialogs.h"
#include "app/SkinTitleBar.h"
#include "app/StationControls.h"
#include "app/TForm1.h"
#include "app/TFormLoadingUI.h"
#include "controls/THexEdit.h"
#include "controls/TIntEdit.h"
#include "device/Clock.h"
#include "device/NullHidPlatform.h"
#include "programming/StationError.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QCompleter>
#include <QFileDialog>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>
#include <set>

namespace vrax {
namespace {

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        form = std::make_unique<TForm1>(platform, clock, dialogs);
        form->SetExitAction([this](int exitCode) { exitCodes.push_back(exitCode); });
        form->SelectLanguage(1033);
    }

    template <typename Control = QWidget> Control* Find(const char* name) {
        auto* control = form->findChild<Control*>(name);
        EXPECT_NE(control, nullptr) << name;
        return control;
    }

    NullHidPlatform platform;
    VirtualClock clock;
    ScriptedDialogs dialogs;
    std::unique_ptr<TForm1> form;
    std::vector<int> exitCodes;
};

QString TextOf(const QWidget* widget) {
    if (auto* label = qobject_cast<const QLabel*>(widget)) {
        return label->text();
    }
    if (auto* button = qobject_cast<const QAbstractButton*>(widget)) {
        return button->text();
    }
    if (auto* edit = qobject_cast<const QLineEdit*>(widget)) {
        return edit->text();
    }
    if (auto* group = qobject_cast<const QGroupBox*>(widget)) {
        return group->title();
    }
    if (auto* combo = qobject_cast<const QComboBox*>(widget)) {
        return combo->currentText();
    }
    return {};
}

struct Inventory {
    const char* name;
    const char* parent;
    QRect geometry;
    bool visible;
    bool enabled;
    const char* text;
    const char* family;
    int pixelSize;
    bool bold;
};

const char* const Latin = "MS Sans Serif";

const Inventory StartState[] = {
    {"Img_VRAXLog", "Form1", {8, 30, 200, 66}, true, true, "", nullptr, 0, false},
    {"Img_Find", "Form1", {360, 50, 30, 30}, false, true, "", nullptr, 0, false},
    {"Img_NoFind", "Form1", {360, 50, 30, 30}, true, true, "", nullptr, 0, false},
    {"lbl_DevStatus", "Form1", {408, 40, 201, 49}, true, true, "No Find Mouse", Latin, 21, true},
    {"lbl_ICType", "Form1", {8, 108, 106, 16}, true, true, "VRAX IC Type:", Latin, 13, false},
    {"cb_ICType", "Form1", {116, 106, 245, 22}, true, true, "KVQM31X", Latin, 13, false},
    {"lbl_VID", "Form1", {424, 108, 33, 16}, true, true, "VID:", Latin, 13, false},
    {"edt_VID", "Form1", {466, 106, 40, 20}, true, true, "3C5E", Latin, 12, false},
    {"lbl_PID", "Form1", {528, 108, 33, 16}, true, true, "PID:", Latin, 13, false},
    {"edt_PID", "Form1", {566, 106, 40, 20}, true, true, "0A31", Latin, 12, false},
    {"lbl_AutoMode", "Form1", {8, 138, 106, 16}, true, true, "Write Mode:", Latin, 13, false},
    {"cb_AutoRun", "Form1", {116, 138, 77, 22}, true, true, "Auto Write", Latin, 13, false},
    {"lbl_BinFile", "Form1", {8, 170, 106, 16}, true, true, "BIN File Path:", Latin, 13, false},
    {"edt_BinFile", "Form1", {116, 168, 493, 25}, true, false, "", Latin, 13, false},
    {"btn_Load", "Form1", {18, 206, 96, 44}, true, true, "Load BIN", Latin, 16, true},
    {"btn_Write", "Form1", {184, 206, 96, 44}, true, false, "Write", Latin, 16, true},
    {"btn_Verify", "Form1", {366, 206, 96, 44}, true, false, "Verify", Latin, 16, true},
    {"btn_Save", "Form1", {508, 206, 96, 44}, true, false, "Save", Latin, 16, true},
    {"gbWriteConfig",
     "Form1",
     {7, 273, 610, 120},
     true,
     true,
     "Write Parameter:",
     Latin,
     16,
     false},
    {"lbl_WriteCount",
     "gbWriteConfig",
     {17, 24, 130, 25},
     true,
     true,
     "Total Times",
     Latin,
     16,
     false},
    {"edt_AllCnt", "gbWriteConfig", {144, 23, 40, 20}, true, true, "1", Latin, 12, false},
    {"lbl_RetryCount",
     "gbWriteConfig",
     {17, 56, 130, 25},
     true,
     true,
     "Retry Times",
     Latin,
     16,
     false},
    {"edt_RetryCnt", "gbWriteConfig", {144, 55, 40, 20}, true, true, "3", Latin, 12, false},
    {"lbl_sleepTime",
     "gbWriteConfig",
     {17, 88, 96, 25},
     true,
     true,
     "Sleep Time:",
     Latin,
     16,
     false},
    {"edt_sleepTime", "gbWriteConfig", {144, 87, 40, 20}, true, true, "100", Latin, 12, false},
    {"lbl_WriteType",
     "gbWriteConfig",
     {193, 24, 130, 25},
     true,
     true,
     "Data Format",
     Latin,
     16,
     false},
    {"suiGroupBox1", "gbWriteConfig", {313, 12, 168, 61}, true, true, "", nullptr, 0, false},
    {"rb_CmdByte2K", "suiGroupBox1", {5, 10, 58, 19}, true, true, "2K Byte", Latin, 12, false},
    {"rb_CmdByte256", "suiGroupBox1", {100, 10, 63, 19}, true, true, "256 Byte", Latin, 12, false},
    {"rb_CmdCustom", "suiGroupBox1", {5, 38, 56, 19}, true, true, "Custom", Latin, 12, false},
    {"Label1", "gbWriteConfig", {481, 24, 16, 25}, true, true, "*", "Tahoma", 16, false},
    {"edt_Write256Count", "gbWriteConfig", {504, 23, 40, 20}, true, true, "8", Latin, 12, false},
    {"edt_WriteCustom",
     "gbWriteConfig",
     {424, 53, 177, 21},
     true,
     true,
     "000-256;1280-1536;",
     "Tahoma",
     11,
     false},
    {"lbl_RetryMode",
     "gbWriteConfig",
     {193, 88, 130, 25},
     true,
     true,
     "Factory Config",
     Latin,
     16,
     false},
    {"cb_WriteID",
     "gbWriteConfig",
     {319, 88, 185, 17},
     true,
     true,
     "Write Product ID",
     Latin,
     13,
     false},
    {"gbResult", "Form1", {8, 401, 609, 97}, true, true, "Result:", Latin, 16, false},
    {"lbl_Result", "gbResult", {80, 16, 125, 58}, false, true, "PASS", Latin, 48, true},
    {"lbl_BINDevError",
     "gbResult",
     {8, 41, 320, 24},
     false,
     true,
     "BIN file not match Mouse",
     Latin,
     16,
     true},
    {"lbl_BINICTypeError",
     "gbResult",
     {8, 40, 320, 24},
     false,
     true,
     "BIN file not match IC Type",
     Latin,
     16,
     true},
    {"lbl_CtrlResult", "gbResult", {8, 24, 320, 60}, false, true, "", Latin, 16, true},
    {"lbl_PassNum", "gbResult", {425, 24, 136, 25}, true, true, "PASS Number:", Latin, 16, true},
    {"lbl_PassCnt", "gbResult", {440, 56, 89, 24}, true, true, "0", Latin, 16, true},
    {"gbFactoryConfig",
     "Form1",
     {7, 505, 610, 168},
     true,
     true,
     "Factory Config",
     Latin,
     16,
     false},
    {"lbl_FactoryType",
     "gbFactoryConfig",
     {17, 32, 104, 25},
     true,
     true,
     "Product",
     Latin,
     16,
     false},
    {"edt_FactoryType", "gbFactoryConfig", {90, 34, 40, 20}, true, true, "0005", Latin, 12, false},
    {"lbl_FactoryDate",
     "gbFactoryConfig",
     {193, 32, 104, 17},
     true,
     true,
     "Date",
     Latin,
     16,
     false},
    {"edt_FactoryDate",
     "gbFactoryConfig",
     {266, 34, 55, 20},
     true,
     true,
     "20200527",
     Latin,
     12,
     false},
    {"lbl_FactoryNum", "gbFactoryConfig", {385, 32, 120, 25}, true, true, "SN", Latin, 16, false},
    {"edt_FactoryNum",
     "gbFactoryConfig",
     {458, 34, 47, 20},
     true,
     true,
     "000001",
     Latin,
     12,
     false},
    {"lbl_Factory", "gbFactoryConfig", {17, 80, 112, 25}, true, true, "Factory", Latin, 16, false},
    {"cb_Factory", "gbFactoryConfig", {88, 82, 41, 22}, true, true, "1", "Tahoma", 12, false},
    {"Label2", "gbFactoryConfig", {193, 80, 88, 25}, true, true, "Line", Latin, 16, false},
    {"cb_FactoryLine", "gbFactoryConfig", {264, 82, 57, 22}, true, true, "A", "Tahoma", 12, false},
    {"Label3", "gbFactoryConfig", {385, 80, 96, 25}, true, true, "Station", Latin, 16, false},
    {"cb_FactoryStation",
     "gbFactoryConfig",
     {456, 82, 49, 22},
     true,
     true,
     "1",
     "Tahoma",
     12,
     false},
    {"btnReadFactory",
     "gbFactoryConfig",
     {392, 117, 201, 36},
     true,
     false,
     "Read",
     Latin,
     16,
     true},
};

TEST_F(MainWindowTest, EveryControlStartsWithItsNamePlaceTextFontAndState) {
    for (const Inventory& expected : StartState) {
        SCOPED_TRACE(expected.name);
        const QWidget* control = Find(expected.name);
        if (!control) {
            continue;
        }
        EXPECT_EQ(control->parentWidget()->objectName(), expected.parent);
        EXPECT_EQ(control->geometry(), expected.geometry);
        EXPECT_EQ(!control->isHidden(), expected.visible);
        EXPECT_EQ(control->isEnabled(), expected.enabled);
        EXPECT_EQ(TextOf(control), expected.text);
        if (expected.family) {
            EXPECT_EQ(control->font().family(), expected.family);
            EXPECT_EQ(control->font().pixelSize(), expected.pixelSize);
            EXPECT_EQ(control->font().bold(), expected.bold);
        }
    }

    EXPECT_EQ(FindControl<QLabel>(*form, "lbl_Result")->palette().color(QPalette::WindowText),
              QColor(Qt::blue));
    EXPECT_EQ(FindControl<QLabel>(*form, "lbl_PassCnt")->palette().color(QPalette::WindowText),
              QColor(Qt::blue));
    EXPECT_EQ(FindControl<QLabel>(*form, "lbl_BINDevError")->palette().color(QPalette::WindowText),
              QColor(Qt::red));
    EXPECT_TRUE(FindControl<QLabel>(*form, "lbl_PassCnt")->alignment() & Qt::AlignHCenter);
    EXPECT_TRUE(FindControl<QLabel>(*form, "lbl_DevStatus")->alignment() & Qt::AlignVCenter);

    EXPECT_TRUE(FindControl<QRadioButton>(*form, "rb_CmdCustom")->isChecked());
    EXPECT_FALSE(FindControl<QRadioButton>(*form, "rb_CmdByte2K")->isChecked());
    EXPECT_FALSE(FindControl<QRadioButton>(*form, "rb_CmdByte256")->isChecked());
    EXPECT_FALSE(FindControl<QCheckBox>(*form, "cb_AutoRun")->isChecked());
    EXPECT_FALSE(FindControl<QCheckBox>(*form, "cb_WriteID")->isChecked());
    EXPECT_TRUE(FindControl<QLineEdit>(*form, "edt_BinFile")->isReadOnly());
    EXPECT_EQ(FindControl<DropDownComboBox>(*form, "cb_ICType")->count(), 3);
    EXPECT_EQ(FindControl<DropDownComboBox>(*form, "cb_ICType")->itemText(2), "KVQM537");
    EXPECT_EQ(FindControl<DropDownComboBox>(*form, "cb_ICType")->maxVisibleItems(), 6);
    EXPECT_TRUE(FindControl<DropDownComboBox>(*form, "cb_ICType")->isEditable());
    EXPECT_EQ(FindControl<DropDownComboBox>(*form, "cb_Factory")->count(), 8);
    EXPECT_EQ(FindControl<DropDownComboBox>(*form, "cb_FactoryLine")->count(), 26);
    EXPECT_EQ(FindControl<DropDownComboBox>(*form, "cb_FactoryLine")->itemText(25), "Z");
    EXPECT_EQ(FindControl<DropDownComboBox>(*form, "cb_FactoryStation")->count(), 8);

    const std::pair<const char*, int> limits[] = {
        {"edt_VID", 4},         {"edt_PID", 4},           {"edt_FactoryType", 4},
        {"edt_FactoryDate", 8}, {"edt_FactoryNum", 6},    {"edt_AllCnt", 4},
        {"edt_RetryCnt", 4},    {"edt_Write256Count", 4}, {"edt_sleepTime", 3}};
    for (const auto& [name, limit] : limits) {
        const auto* field = Find<THexEdit>(name);
        ASSERT_NE(field, nullptr);
        EXPECT_EQ(field->TypingLimit(), limit) << name;
        EXPECT_TRUE(field->IsFilter()) << name;
        EXPECT_EQ(field->Alignment(), EditAlignment::Left) << name;
    }
    EXPECT_NE(qobject_cast<TIntEdit*>(FindControl<TIntEdit>(*form, "edt_sleepTime")), nullptr);
    EXPECT_EQ(qobject_cast<TIntEdit*>(FindControl<THexEdit>(*form, "edt_FactoryNum")), nullptr);

    EXPECT_EQ(FindControl<QTimer>(*form, "DevTimer")->interval(), 1000);
    EXPECT_FALSE(FindControl<QTimer>(*form, "DevTimer")->isActive());
    EXPECT_EQ(form->State().PassCount, 0);
    EXPECT_FALSE(form->State().ImageLoaded);
    EXPECT_TRUE(form->State().LoadedTypeName.empty());
    EXPECT_FALSE(form->PollBusy);
    EXPECT_EQ(form->LastDeviceCount, 0);
}

TEST_F(MainWindowTest, WindowIsAFixedSkinnedFrameWithItsOwnTitleBar) {
    EXPECT_EQ(form->windowTitle(), "VRAX Mse 2K-Bin Writer Tool v1.");
    EXPECT_EQ(QString(TForm1::Caption).size(), 31);
    EXPECT_EQ(form->size(), QSize(625, 680));
    EXPECT_EQ(form->minimumSize(), form->maximumSize());
    const Qt::WindowFlags flags = form->windowFlags();
    EXPECT_TRUE(flags.testFlag(Qt::FramelessWindowHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_FALSE(flags.testFlag(Qt::WindowMaximizeButtonHint));
    const QScreen* screen = QGuiApplication::primaryScreen();
    EXPECT_EQ(form->pos(), TForm1::StartPosition(screen->size()));

    SkinTitleBar* title = form->TitleBar();
    EXPECT_EQ(title->Caption(), "VRAX Mse 2K-Bin Writer Tool v1.");
    EXPECT_NE(title->MinimiseButton(), nullptr);
    EXPECT_NE(title->CloseButton(), nullptr);
    EXPECT_EQ(title->findChildren<TitleButton*>().size(), 2) << "no maximise button";

    const QImage shot = form->grab().toImage();
    EXPECT_EQ(QColor(shot.pixel(1, 300)), QColor(0, 44, 200)) << "window border";
    EXPECT_EQ(QColor(shot.pixel(150, 262)), QColor(239, 235, 222)) << "window background";
    EXPECT_EQ(QColor(shot.pixel(7, 273 + 60)), QColor(104, 104, 104)) << "group border";
    EXPECT_EQ(QColor(shot.pixel(144 + 7 + 34, 273 + 23 + 10)), QColor(239, 235, 222))
        << "number field background";
    EXPECT_EQ(QColor(shot.pixel(116 + 400, 168 + 12)), QColor(192, 220, 192))
        << "path field background";
    const QColor titleColour(shot.pixel(300, 6));
    EXPECT_GT(titleColour.blue(), 150);
    EXPECT_LT(titleColour.red(), 100);

    // A notice of the station grows the window by a line under the controls, once, and keeps
    // its border around the whole.
    form->ShowStatusNotice("Line database \"postgresql://station@line/vrax_line\": not encrypted");
    form->ShowStatusNotice("Line database \"postgresql://station@line/vrax_line\": again");
    const auto* notice = form->findChild<QLabel*>("lbl_StatusNotice");
    ASSERT_NE(notice, nullptr);
    EXPECT_EQ(notice->text(), "Line database \"postgresql://station@line/vrax_line\": again");
    EXPECT_GE(notice->geometry().top(), 673) << "under the factory config group";
    EXPECT_LE(notice->geometry().bottom(), form->height() - 3);
    EXPECT_GT(form->height(), 680);
    EXPECT_EQ(form->minimumSize(), form->maximumSize());
    EXPECT_EQ(QColor(form->grab().toImage().pixel(1, form->height() - 10)), QColor(0, 44, 200));
}

TEST_F(MainWindowTest, TitleBarDragsMinimisesAndClosesTheWindow) {
    form->show();
    form->move(100, 100);
    SkinTitleBar* title = form->TitleBar();
    const QPoint grip(200, 10);
    QMouseEvent press(QEvent::MouseButtonPress, grip, title->mapToGlobal(grip), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(title, &press);
    const QPoint to = grip + QPoint(50, 30);
    QMouseEvent move(QEvent::MouseMove, to, title->mapToGlobal(grip) + QPoint(50, 30), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(title, &move);
    QMouseEvent release(QEvent::MouseButtonRelease, to, title->mapToGlobal(to), Qt::LeftButton,
                        Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(title, &release);
    EXPECT_EQ(form->pos(), QPoint(150, 130));

    QTest::mouseClick(title->MinimiseButton(), Qt::LeftButton);
    EXPECT_TRUE(form->isMinimized());
    form->RestoreAndRaise();
    EXPECT_FALSE(form->isMinimized());
    EXPECT_TRUE(form->isVisible());

    QTest::mouseClick(title->CloseButton(), Qt::LeftButton);
    EXPECT_EQ(exitCodes, std::vector<int>{0});
}

TEST_F(MainWindowTest, KeyboardOrderFollowsTheLayout) {
    const std::vector<QString> expected = {
        "cb_ICType",      "btn_Load",        "btn_Write",         "btn_Verify",
        "btn_Save",       "cb_AutoRun",      "edt_BinFile",       "edt_VID",
        "edt_PID",        "edt_AllCnt",      "edt_RetryCnt",      "rb_CmdByte2K",
        "rb_CmdByte256",  "rb_CmdCustom",    "edt_Write256Count", "cb_WriteID",
        "edt_sleepTime",  "edt_WriteCustom", "edt_FactoryType",   "edt_FactoryDate",
        "edt_FactoryNum", "cb_Factory",      "cb_FactoryLine",    "cb_FactoryStation",
        "btnReadFactory"};
    const std::set<QString> named(expected.begin(), expected.end());
    std::vector<QString> order;
    QWidget* widget = FindControl<DropDownComboBox>(*form, "cb_ICType");
    for (int step = 0; step < 1000 && order.size() < expected.size(); ++step) {
        if (named.count(widget->objectName()) &&
            (order.empty() || order.back() != widget->objectName())) {
            order.push_back(widget->objectName());
        }
        widget = widget->nextInFocusChain();
    }
    EXPECT_EQ(order, expected);
    EXPECT_EQ(form->focusWidget(), FindControl<DropDownComboBox>(*form, "cb_ICType"));
}

TEST_F(MainWindowTest, LanguageFollowsTheThreadLocale) {
    const char* const languageControls[] = {"lbl_DevStatus",
                                            "lbl_ICType",
                                            "cb_ICType",
                                            "lbl_VID",
                                            "edt_VID",
                                            "lbl_PID",
                                            "edt_PID",
                                            "lbl_AutoMode",
                                            "cb_AutoRun",
                                            "lbl_BinFile",
                                            "edt_BinFile",
                                            "btn_Load",
                                            "btn_Write",
                                            "btnReadFactory",
                                            "btn_Verify",
                                            "btn_Save",
                                            "gbResult",
                                            "lbl_BINDevError",
                                            "lbl_BINICTypeError",
                                            "lbl_CtrlResult",
                                            "lbl_Result",
                                            "lbl_PassNum",
                                            "lbl_PassCnt",
                                            "gbWriteConfig",
                                            "lbl_WriteCount",
                                            "lbl_RetryCount",
                                            "lbl_WriteType",
                                            "lbl_sleepTime",
                                            "lbl_RetryMode",
                                            "cb_WriteID",
                                            "gbFactoryConfig",
                                            "lbl_FactoryType",
                                            "lbl_FactoryDate",
                                            "lbl_FactoryNum",
                                            "lbl_Factory",
                                            "Label2",
                                            "Label3"};
    ASSERT_EQ(std::size(languageControls), 37u);

    form->SelectLanguage(2052);
    EXPECT_EQ(form->Language().LanguageIndex, 2);
    for (const char* name : languageControls) {
        EXPECT_EQ(Find(name)->font().family(), "Microsoft JhengHei") << name;
    }
    EXPECT_EQ(FindControl<QLabel>(*form, "lbl_DevStatus")->font().pixelSize(), 21);
    EXPECT_TRUE(FindControl<QLabel>(*form, "lbl_DevStatus")->font().bold());
    EXPECT_EQ(FindControl<QLabel>(*form, "lbl_ICType")->text(), "VRAX IC Type");
    EXPECT_EQ(FindControl<QLabel>(*form, "lbl_BinFile")->text(), "BIN File Path:");
    for (const char* name : {"rb_CmdByte2K", "rb_CmdCustom", "edt_AllCnt", "edt_FactoryNum"}) {
        EXPECT_EQ(Find(name)->font().family(), "MS Sans Serif") << name;
    }
    EXPECT_EQ(FindControl<QLabel>(*form, "Label1")->font().family(), "Tahoma");
    EXPECT_EQ(FindControl<QLineEdit>(*form, "edt_WriteCustom")->font().family(), "Tahoma");
    EXPECT_EQ(FindControl<DropDownComboBox>(*form, "cb_FactoryLine")->font().family(), "Tahoma");

    for (const int locale : {1028, 1033, 0}) {
        form->SelectLanguage(locale);
        EXPECT_EQ(form->Language().LanguageIndex, 0) << locale;
        EXPECT_EQ(FindControl<QLabel>(*form, "lbl_ICType")->text(), "VRAX IC Type:");
        for (const char* name : languageControls) {
            EXPECT_EQ(Find(name)->font().family(), "MS Sans Serif") << name;
        }
    }
}

TEST_F(MainWindowTest, IcTypeChangeForgetsTheImageAndSetsTheFamilyDefaults) {
    form->State().ImageLoaded = true;
    form->State().LoadedTypeName = "KVQM31X";
    form->State().PassCount = 5;
    form->ShowPassCount(5);
    FindControl<QLineEdit>(*form, "edt_BinFile")->setText("/tmp/image.bin");
    FindControl<THexEdit>(*form, "edt_VID")->setText("1234");
    FindControl<QLabel>(*form, "lbl_Result")->show();
    FindControl<QLabel>(*form, "lbl_BINDevError")->show();
    FindControl<QLabel>(*form, "lbl_BINICTypeError")->show();
    form->ShowResult("Write Pass", ResultColour::Lime, 36);
    FindControl<QTimer>(*form, "DevTimer")->start();

    FindControl<DropDownComboBox>(*form, "cb_ICType")->setFocus();
    QTest::keyClick(FindControl<DropDownComboBox>(*form, "cb_ICType"), Qt::Key_Down);
    EXPECT_EQ(FindControl<DropDownComboBox>(*form, "cb_ICType")->currentIndex(), IcTypeKvqm42xx);
    EXPECT_EQ(FindControl<QLineEdit>(*form, "edt_BinFile")->text(), "");
    EXPECT_FALSE(form->State().ImageLoaded);
    EXPECT_TRUE(form->State().LoadedTypeName.empty());
    EXPECT_EQ(form->State().PassCount, 0);
    EXPECT_EQ(FindControl<QLabel>(*form, "lbl_PassCnt")->text(), "0");
    EXPECT_TRUE(FindControl<QLabel>(*form, "lbl_Result")->isHidden());
    EXPECT_TRUE(FindControl<QLabel>(*form, "lbl_BINDevError")->isHidden());
    EXPECT_TRUE(FindControl<QLabel>(*form, "lbl_BINICTypeError")->isHidden());
    EXPECT_FALSE(FindControl<QLabel>(*form, "lbl_CtrlResult")->isHidden())
        << "the verdict is left alone";
    EXPECT_FALSE(FindControl<QTimer>(*form, "DevTimer")->isActive());
    EXPECT_EQ(FindControl<THexEdit>(*form, "edt_VID")->text(), "3C5E");
    EXPECT_EQ(FindControl<THexEdit>(*form, "edt_PID")->text(), "0A42");
    EXPECT_TRUE(FindControl<QRadioButton>(*form, "rb_CmdCustom")->isHidden());
    EXPECT_TRUE(FindControl<QLineEdit>(*form, "edt_WriteCustom")->isHidden());
    EXPECT_TRUE(FindControl<QRadioButton>(*form, "rb_CmdByte2K")->isChecked());
    EXPECT_EQ(form->Format(), DataFormat::Byte2K);

    QTest::keyClick(FindControl<DropDownComboBox>(*form, "cb_ICType"), Qt::Key_Down);
    EXPECT_EQ(FindControl<DropDownComboBox>(*form, "cb_ICType")->currentIndex(), IcTypeKvqm537);
    EXPECT_EQ(FindControl<THexEdit>(*form, "edt_PID")->text(), "0A42");

    FindControl<QRadioButton>(*form, "rb_CmdByte256")->setChecked(true);
    QTest::keyClick(FindControl<DropDownComboBox>(*form, "cb_ICType"), Qt::Key_Up);
    QTest::keyClick(FindControl<DropDownComboBox>(*form, "cb_ICType"), Qt::Key_Up);
    EXPECT_EQ(FindControl<DropDownComboBox>(*form, "cb_ICType")->currentIndex(), IcTypeKvqm31x);
    EXPECT_EQ(FindControl<THexEdit>(*form, "edt_PID")->text(), "0A31");
    EXPECT_FALSE(FindControl<QRadioButton>(*form, "rb_CmdCustom")->isHidden());
    EXPECT_FALSE(FindControl<QLineEdit>(*form, "edt_WriteCustom")->isHidden());
    EXPECT_TRUE(FindControl<QRadioButton>(*form, "rb_CmdCustom")->isChecked());
    EXPECT_FALSE(FindControl<QRadioButton>(*form, "rb_CmdByte256")->isChecked());
}

TEST_F(MainWindowTest, TypingInTheIcTypeListCompletesOrLeavesNoItem) {
    QLineEdit* text = FindControl<DropDownComboBox>(*form, "cb_ICType")->lineEdit();
    text->selectAll();
    QTest::keyClicks(text, "kvqm5");
    EXPECT_EQ(FindControl<DropDownComboBox>(*form, "cb_ICType")->currentIndex(), IcTypeKvqm537);
    EXPECT_EQ(text->text(), "kvqm537");
    ASSERT_NE(text->completer(), nullptr);
    EXPECT_TRUE(text->completer()->popup()->isVisible()) << "the list opens as the operator types";
    EXPECT_EQ(text->completer()->popup()->model()->rowCount(), 3);
    text->completer()->popup()->hide();
    EXPECT_EQ(FindControl<THexEdit>(*form, "edt_PID")->text(), "0A42");

    FindControl<THexEdit>(*form, "edt_PID")->setText("0B00");
    FindControl<QLineEdit>(*form, "edt_BinFile")->setText("/tmp/image.bin");
    text->selectAll();
    QTest::keyClicks(text, "x");
    EXPECT_EQ(FindControl<DropDownComboBox>(*form, "cb_ICType")->currentIndex(), -1);
    EXPECT_EQ(form->IcType(), -1);
    EXPECT_EQ(FindControl<QLineEdit>(*form, "edt_BinFile")->text(), "")
        << "the first steps run for any change";
    EXPECT_EQ(FindControl<THexEdit>(*form, "edt_PID")->text(), "0B00")
        << "with no item the defaults are not touched";

    FindControl<DropDownComboBox>(*form, "cb_FactoryLine")->lineEdit()->selectAll();
    QTest::keyClicks(FindControl<DropDownComboBox>(*form, "cb_FactoryLine")->lineEdit(), "c");
    EXPECT_EQ(form->LineIndex(), 2);
    FindControl<DropDownComboBox>(*form, "cb_Factory")->lineEdit()->selectAll();
    QTest::keyClicks(FindControl<DropDownComboBox>(*form, "cb_Factory")->lineEdit(), "9");
    EXPECT_EQ(form->FactoryIndex(), -1);
}

TEST_F(MainWindowTest, FileDialogsShowTheirFilterOnceAndTheSaveDialogHasNoPlacesBar) {
    QtDialogs dialogs;
    QStringList filters;
    bool placesShown = true;
    const auto inspectAndCancel = [&] {
        QTimer::singleShot(0, [&] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(dialog, nullptr);
            filters = dialog->nameFilters();
            const QWidget* places = dialog->findChild<QWidget*>("sidebar");
            placesShown = places != nullptr && !places->isHidden();
            dialog->reject();
        });
    };
    inspectAndCancel();
    EXPECT_EQ(dialogs.OpenFile(form.get(), form->OpenDialog1), std::nullopt);
    EXPECT_EQ(filters, QStringList{"LoadFile(*.bin)"});
    inspectAndCancel();
    EXPECT_EQ(dialogs.SaveFile(form.get(), form->SaveDialog1), std::nullopt);
    EXPECT_EQ(filters, QStringList{"SaveFile(*.bin)"});
    EXPECT_FALSE(placesShown);
}

TEST_F(MainWindowTest, StateGroupsSwitchExactlyTheirControls) {
    form->ShowDeviceReady();
    EXPECT_FALSE(FindControl<PictureBox>(*form, "Img_Find")->isHidden());
    EXPECT_TRUE(FindControl<PictureBox>(*form, "Img_NoFind")->isHidden());
    EXPECT_EQ(FindControl<QLabel>(*form, "lbl_DevStatus")->text(), "Mouse Ready");
    EXPECT_FALSE(FindControl<DropDownComboBox>(*form, "cb_ICType")->isEnabled());
    EXPECT_FALSE(FindControl<QCheckBox>(*form, "cb_AutoRun")->isEnabled());

    const char* const jobControls[] = {
        "btn_Write",    "btnReadFactory", "btn_Verify",    "btn_Save",          "edt_AllCnt",
        "edt_RetryCnt", "rb_CmdByte2K",   "rb_CmdByte256", "edt_Write256Count", "lbl_VID",
        "edt_VID",      "lbl_PID",        "edt_PID",       "cb_AutoRun"};
    const char* const untouched[] = {"rb_CmdCustom",   "edt_WriteCustom", "edt_sleepTime",
                                     "cb_WriteID",     "edt_FactoryType", "cb_Factory",
                                     "cb_FactoryLine", "edt_FactoryNum"};

    form->EnableJobControls();
    FindControl<QPushButton>(*form, "btn_Load")->setEnabled(false);
    FindControl<QLabel>(*form, "lbl_Result")->show();
    FindControl<QLabel>(*form, "lbl_BINDevError")->show();
    FindControl<QLabel>(*form, "lbl_BINICTypeError")->show();
    FindControl<QLabel>(*form, "lbl_CtrlResult")->show();
    form->DisableJobControls();
    for (const char* name : jobControls) {
        EXPECT_FALSE(Find(name)->isEnabled()) << name;
    }
    for (const char* name : untouched) {
        EXPECT_TRUE(Find(name)->isEnabled()) << name;
    }
    EXPECT_TRUE(FindControl<QLabel>(*form, "lbl_Result")->isHidden());
    EXPECT_TRUE(FindControl<QLabel>(*form, "lbl_BINDevError")->isHidden());
    EXPECT_TRUE(FindControl<QLabel>(*form, "lbl_BINICTypeError")->isHidden());
    EXPECT_TRUE(FindControl<QLabel>(*form, "lbl_CtrlResult")->isHidden());
    EXPECT_TRUE(FindControl<QPushButton>(*form, "btn_Load")->isEnabled());
    EXPECT_FALSE(FindControl<DropDownComboBox>(*form, "cb_ICType")->isEnabled())
        << "nothing enables the type list again";

    FindControl<QPushButton>(*form, "btn_Load")->setEnabled(false);
    FindControl<QLabel>(*form, "lbl_BINDevError")->show();
    form->EnableJobControls();
    for (const char* name : jobControls) {
        EXPECT_TRUE(Find(name)->isEnabled()) << name;
    }
    EXPECT_FALSE(FindControl<QPushButton>(*form, "btn_Load")->isEnabled());
    EXPECT_FALSE(FindControl<QLabel>(*form, "lbl_BINDevError")->isHidden());
    EXPECT_FALSE(FindControl<DropDownComboBox>(*form, "cb_ICType")->isEnabled());
}

TEST_F(MainWindowTest, ClosingEndsTheProcessWithExitCodeZero) {
    form->show();
    EXPECT_FALSE(form->close());
    EXPECT_EQ(exitCodes, std::vector<int>{0});
    bool canClose = true;
    form->FormCloseQuery(canClose);
    EXPECT_EQ(exitCodes, (std::vector<int>{0, 0}));
}

TEST_F(MainWindowTest, GuardShowsTheErrorAndReturnsTheWindowToTheStateItWasIn) {
    form->State().ImageLoaded = true;
    form->SetActionButtonsEnabled(true);
    form->RunGuarded([this] {
        form->PollBusy = true;
        form->ShowBusyWindow();
        form->DisableJobControls();
        throw ConversionError("$0G");
    });
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].kind, ScriptedDialogs::Kind::Error);
    EXPECT_EQ(dialogs.shown[0].title, "VRAX 2K-Bin Writer Tool");
    EXPECT_EQ(dialogs.shown[0].text, "'$0G' is not a valid integer value");
    EXPECT_FALSE(FindControl<TFormLoadingUI>(*form, "FormLoadingUI")->isVisible());
    EXPECT_FALSE(form->PollBusy);
    EXPECT_TRUE(FindControl<QPushButton>(*form, "btn_Write")->isEnabled());
    EXPECT_TRUE(FindControl<QPushButton>(*form, "btnReadFactory")->isEnabled());
    EXPECT_TRUE(FindControl<QPushButton>(*form, "btn_Verify")->isEnabled());
    EXPECT_TRUE(FindControl<QPushButton>(*form, "btn_Save")->isEnabled());
    EXPECT_TRUE(FindControl<TIntEdit>(*form, "edt_AllCnt")->isEnabled());
    EXPECT_TRUE(FindControl<QTimer>(*form, "DevTimer")->isActive());

    form->State().ImageLoaded = false;
    form->RunGuarded([] { throw ConversionError("$0G"); });
    EXPECT_FALSE(FindControl<QPushButton>(*form, "btn_Write")->isEnabled())
        << "no job without an image";
    EXPECT_FALSE(FindControl<QTimer>(*form, "DevTimer")->isActive()) << "no image, so no polling";

    form->State().ImageLoaded = true;
    FindControl<QCheckBox>(*form, "cb_AutoRun")->setChecked(true);
    form->SetActionButtonsEnabled(false);
    FindControl<TIntEdit>(*form, "edt_AllCnt")->setText("1x");
    form->RunGuarded([this] { form->TotalTimes(); });
    EXPECT_EQ(dialogs.shown.back().text, "'01x' is not a valid integer value");
    EXPECT_TRUE(FindControl<QTimer>(*form, "DevTimer")->isActive());
    EXPECT_FALSE(FindControl<QPushButton>(*form, "btn_Write")->isEnabled())
        << "automatic mode keeps the buttons off";

    form->RunGuarded([] { throw std::runtime_error("Cannot create file \"/x.bin\". Denied"); });
    EXPECT_EQ(dialogs.shown.back().text, "Cannot create file \"/x.bin\". Denied");
    EXPECT_EQ(dialogs.Count(ScriptedDialogs::Kind::Error), 4);
}

TEST_F(MainWindowTest, StationViewAndSettingsWorkOverTheControls) {
    form->ShowResult("Write Pass", ResultColour::Lime, 36);
    EXPECT_EQ(FindControl<QLabel>(*form, "lbl_CtrlResult")->text(), "Write Pass");
    EXPECT_EQ(FindControl<QLabel>(*form, "lbl_CtrlResult")->palette().color(QPalette::WindowText),
              QColor(0, 255, 0));
    EXPECT_EQ(FindControl<QLabel>(*form, "lbl_CtrlResult")->font().pointSize(), 36);
    EXPECT_TRUE(FindControl<QLabel>(*form, "lbl_CtrlResult")->font().bold());
    EXPECT_FALSE(FindControl<QLabel>(*form, "lbl_CtrlResult")->isHidden());
    form->ShowResult("Write Fail", ResultColour::Red);
    EXPECT_EQ(FindControl<QLabel>(*form, "lbl_CtrlResult")->palette().color(QPalette::WindowText),
              QColor(255, 0, 0));
    EXPECT_EQ(FindControl<QLabel>(*form, "lbl_CtrlResult")->font().pointSize(), 36)
        << "the size is kept";
    form->ShowResult("Read Ok", ResultColour::Green);
    EXPECT_EQ(FindControl<QLabel>(*form, "lbl_CtrlResult")->palette().color(QPalette::WindowText),
              QColor(0, 128, 0));
    form->HideResult();
    EXPECT_TRUE(FindControl<QLabel>(*form, "lbl_CtrlResult")->isHidden());
    form->ShowMouseMismatch();
    form->ShowSizeMismatch();
    EXPECT_FALSE(FindControl<QLabel>(*form, "lbl_BINDevError")->isHidden());
    EXPECT_FALSE(FindControl<QLabel>(*form, "lbl_BINICTypeError")->isHidden());
    form->HideResultLabels();
    EXPECT_TRUE(FindControl<QLabel>(*form, "lbl_BINDevError")->isHidden());
    EXPECT_TRUE(FindControl<QLabel>(*form, "lbl_BINICTypeError")->isHidden());
    form->SetDevTimerRunning(true);
    EXPECT_TRUE(FindControl<QTimer>(*form, "DevTimer")->isActive());
    form->SetDevTimerRunning(false);
    EXPECT_FALSE(FindControl<QTimer>(*form, "DevTimer")->isActive());
    form->ShowPassCount(12);
    EXPECT_EQ(FindControl<QLabel>(*form, "lbl_PassCnt")->text(), "12");

    EXPECT_EQ(form->IcType(), IcTypeKvqm31x);
    EXPECT_EQ(form->TotalTimes(), 1);
    EXPECT_EQ(form->RetryTimes(), 3);
    EXPECT_EQ(form->SleepTime(), 100);
    EXPECT_EQ(form->Format(), DataFormat::Custom);
    EXPECT_EQ(form->BlockCount(), 8);
    EXPECT_EQ(form->CustomRanges(), "000-256;1280-1536;");
    EXPECT_FALSE(form->WriteProductId());
    EXPECT_EQ(form->FactoryType(), 5);
    EXPECT_EQ(form->FactoryDate(), 0x20200527);
    EXPECT_EQ(form->FactoryNumber(), 1);
    EXPECT_EQ(form->FactoryIndex(), 0);
    EXPECT_EQ(form->LineIndex(), 0);
    EXPECT_EQ(form->StationIndex(), 0);
    FindControl<QRadioButton>(*form, "rb_CmdByte256")->setChecked(true);
    EXPECT_EQ(form->Format(), DataFormat::Byte256);
    EXPECT_FALSE(FindControl<QRadioButton>(*form, "rb_CmdCustom")->isChecked());

    form->ShowFactoryRecord(5, 0x20200527, 1, 7, 25, 0);
    EXPECT_EQ(FindControl<THexEdit>(*form, "edt_FactoryType")->text(), "5");
    EXPECT_EQ(FindControl<THexEdit>(*form, "edt_FactoryDate")->text(), "20200527");
    EXPECT_EQ(FindControl<THexEdit>(*form, "edt_FactoryNum")->text(), "1");
    EXPECT_EQ(FindControl<DropDownComboBox>(*form, "cb_Factory")->currentText(), "8");
    EXPECT_EQ(FindControl<DropDownComboBox>(*form, "cb_FactoryLine")->currentText(), "Z");
    EXPECT_EQ(form->StationIndex(), 0);
    form->ShowFactoryRecord(0xFFFF, -1, 0xFFFFFF, 255, 255, 255);
    EXPECT_EQ(FindControl<THexEdit>(*form, "edt_FactoryType")->text(), "FFFF");
    EXPECT_EQ(FindControl<THexEdit>(*form, "edt_FactoryDate")->text(), "");
    EXPECT_EQ(FindControl<THexEdit>(*form, "edt_FactoryNum")->text(), "FFFFFF");
    EXPECT_EQ(form->FactoryIndex(), -1);
    EXPECT_EQ(FindControl<DropDownComboBox>(*form, "cb_Factory")->currentText(), "");
    EXPECT_EQ(form->LineIndex(), -1);
    EXPECT_EQ(form->StationIndex(), -1);
}

} // namespace
} // namespace vrax
