#include "StationWindowFixture.h"
#include "app/StationControls.h"

#include "controls/THexEdit.h"
#include "controls/TIntEdit.h"
#include "sim/VirtualMouse31x.h"

#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QGuiApplication>
#include <QMenu>
#include <QRadioButton>
#include <QTest>

namespace vrax::testing {
namespace {

using Kind = ScriptedDialogs::Kind;

// Text pasted or typed into the window's number and range fields: the message names the text
// where the field is read, the window stays usable, and the mouse is left closed with nothing
// written that the operation had not reached.
class BadFieldInput : public StationWindowFixture {
protected:
    void SetUp() override {
        StationWindowFixture::SetUp();
        LoadImage();
        PlugMouse();
    }

    void PlugMouse() {
        mouse = std::make_shared<VirtualMouse31x>();
        mouseId = bus.Plug(mouse);
        Tick();
    }

    void UnplugMouse() {
        bus.Unplug(mouseId);
        Tick();
    }

    // The operator's paste: the whole text replaced through the field's own context menu. VID
    // and PID take it once the parameters are unlocked.
    static void Paste(QLineEdit* field, const QString& text) {
        field->setEnabled(true);
        field->selectAll();
        QGuiApplication::clipboard()->setText(text);
        std::unique_ptr<QMenu> menu(field->createStandardContextMenu());
        for (QAction* action : menu->actions()) {
            if (action->objectName() == "edit-paste" || action->text().contains("Paste")) {
                action->trigger();
            }
        }
    }

    std::string LastError() const {
        for (auto shown = dialogs.shown.rbegin(); shown != dialogs.shown.rend(); ++shown) {
            if (shown->kind == Kind::Error) {
                return shown->text.toStdString();
            }
        }
        return "no error box";
    }

    // The job buttons come back as the failed click or tick found them.
    void ExpectUsable(const std::string& field, bool mouseReady = true) const {
        EXPECT_FALSE(FindControl<TFormLoadingUI>(*form, "FormLoadingUI")->isVisible()) << field;
        EXPECT_TRUE(FindControl<QTimer>(*form, "DevTimer")->isActive()) << field;
        EXPECT_FALSE(form->PollBusy) << field;
        EXPECT_EQ(FindControl<QPushButton>(*form, "btn_Write")->isEnabled(), mouseReady) << field;
        EXPECT_FALSE(mouse->TransactionOpen()) << field;
    }

    // Runs the write job and returns the error box's text.
    std::string WriteError() {
        const int errors = dialogs.Count(Kind::Error);
        FindControl<QPushButton>(*form, "btn_Write")->click();
        return dialogs.Count(Kind::Error) == errors ? "no error box" : LastError();
    }

    std::shared_ptr<VirtualMouse31x> mouse;
    SimulatedHidBus::DeviceId mouseId = 0;
};

TEST_F(BadFieldInput, PastedTextInEveryNumberFieldIsNamedWhereTheFieldIsRead) {
    FindControl<QRadioButton>(*form, "rb_CmdByte2K")->setChecked(true);
    mouse->Memory().fill(0xFF);
    const auto untouched = mouse->Memory();

    // Read by the job before anything is written.
    Paste(FindControl<TIntEdit>(*form, "edt_AllCnt"), "1O");
    EXPECT_EQ(WriteError(), "'01O' is not a valid integer value");
    ExpectUsable("edt_AllCnt");
    FindControl<TIntEdit>(*form, "edt_AllCnt")->setText("1");
    Paste(FindControl<TIntEdit>(*form, "edt_RetryCnt"), QString::fromUtf8("\xEF\xBC\x93"));
    EXPECT_EQ(WriteError(), "'0\xEF\xBC\x93' is not a valid integer value");
    ExpectUsable("edt_RetryCnt");
    FindControl<TIntEdit>(*form, "edt_RetryCnt")->setText("3");
    EXPECT_EQ(mouse->Memory(), untouched);

    // Read after the image is written, for the record; no verdict is shown.
    FindControl<QCheckBox>(*form, "cb_WriteID")->setChecked(true);
    const std::pair<THexEdit*, const char*> recordFields[] = {
        {FindControl<THexEdit>(*form, "edt_FactoryType"), "0005"},
        {FindControl<THexEdit>(*form, "edt_FactoryDate"), "20200527"},
        {FindControl<THexEdit>(*form, "edt_FactoryNum"), "000001"},
    };
    for (const auto& [field, good] : recordFields) {
        const std::string name = field->objectName().toStdString();
        Paste(field, "12 4");
        EXPECT_EQ(WriteError(), "'$012 4' is not a valid integer value") << name;
        ExpectUsable(name);
        EXPECT_TRUE(FindControl<QLabel>(*form, "lbl_CtrlResult")->isHidden()) << name;
        field->setText(good);
    }
    EXPECT_EQ(WriteError(), "no error box");
    EXPECT_EQ(Verdict(), "Write Pass");

    // Read when a mouse arrives: the arrival is seen again once the field is mended.
    FindControl<QCheckBox>(*form, "cb_WriteID")->setChecked(false);
    UnplugMouse();
    const std::pair<QLineEdit*, const char*> arrivalFields[] = {
        {FindControl<TIntEdit>(*form, "edt_sleepTime"), "'0-5' is not a valid integer value"},
        {FindControl<THexEdit>(*form, "edt_PID"), "'$0-5' is not a valid integer value"},
        {FindControl<THexEdit>(*form, "edt_VID"), "'$0-5' is not a valid integer value"},
        {FindControl<THexEdit>(*form, "edt_FactoryNum"), "'$0-5' is not a valid integer value"},
    };
    for (const auto& [field, message] : arrivalFields) {
        const std::string name = field->objectName().toStdString();
        const QString good = field->text();
        Paste(field, "-5");
        const int errors = dialogs.Count(Kind::Error);
        PlugMouse();
        EXPECT_EQ(dialogs.Count(Kind::Error), errors + 1) << name;
        EXPECT_EQ(LastError(), message) << name;
        EXPECT_EQ(FindControl<QLabel>(*form, "lbl_DevStatus")->text(), "No Find Mouse") << name;
        ExpectUsable(name, false);
        field->setText(good);
        Tick();
        EXPECT_EQ(FindControl<QLabel>(*form, "lbl_DevStatus")->text(), "Mouse Ready") << name;
        UnplugMouse();
    }
    PlugMouse();

    // Read as it changes: the block count is kept within 1 to 8 as it is typed.
    const int errors = dialogs.Count(Kind::Error);
    Paste(FindControl<TIntEdit>(*form, "edt_Write256Count"), "8x");
    EXPECT_EQ(dialogs.Count(Kind::Error), errors + 1);
    EXPECT_EQ(LastError(), "'08x' is not a valid integer value");
    ExpectUsable("edt_Write256Count");
}

TEST_F(BadFieldInput, HugeTotalRetryAndSleepValuesAreRefusedOrOnlyBoundTheJob) {
    FindControl<QRadioButton>(*form, "rb_CmdByte2K")->setChecked(true);
    for (TIntEdit* field : {FindControl<TIntEdit>(*form, "edt_AllCnt"),
                            FindControl<TIntEdit>(*form, "edt_RetryCnt")}) {
        const std::string name = field->objectName().toStdString();
        const QString good = field->text();
        Paste(field, "99999999999");
        EXPECT_EQ(WriteError(), "'099999999999' is not a valid integer value") << name;
        Paste(field, "2147483648");
        EXPECT_EQ(WriteError(), "'02147483648' is not a valid integer value") << name;
        ExpectUsable(name);
        // The largest value only bounds the passes and checks of a mouse that takes the image.
        Paste(field, "2147483647");
        mouse->Memory().fill(0xFF);
        EXPECT_EQ(WriteError(), "no error box") << name;
        EXPECT_EQ(Verdict(), "Write Pass") << name;
        EXPECT_EQ(mouse->Memory(), image) << name;
        field->setText(good);
    }
    Paste(FindControl<TIntEdit>(*form, "edt_sleepTime"), "99999999999");
    EXPECT_EQ(WriteError(), "'099999999999' is not a valid integer value");
    ExpectUsable("edt_sleepTime");

    // Typing stops at the fields' limits; the largest typed values run a normal job.
    for (QLineEdit* field :
         {static_cast<QLineEdit*>(FindControl<TIntEdit>(*form, "edt_AllCnt")),
          static_cast<QLineEdit*>(FindControl<TIntEdit>(*form, "edt_RetryCnt")),
          static_cast<QLineEdit*>(FindControl<TIntEdit>(*form, "edt_sleepTime"))}) {
        field->clear();
        QTest::keyClicks(field, "999999");
    }
    EXPECT_EQ(FindControl<TIntEdit>(*form, "edt_AllCnt")->text(), "9999");
    EXPECT_EQ(FindControl<TIntEdit>(*form, "edt_RetryCnt")->text(), "9999");
    EXPECT_EQ(FindControl<TIntEdit>(*form, "edt_sleepTime")->text(), "999");
    const auto slept = clock.SleepCount();
    EXPECT_EQ(WriteError(), "no error box");
    EXPECT_EQ(Verdict(), "Write Pass");
    EXPECT_GE(clock.SleepCount() - slept, 1000u) << "the settle wait makes 1000 sleeps";

    Paste(FindControl<TIntEdit>(*form, "edt_Write256Count"), "99999");
    EXPECT_EQ(FindControl<TIntEdit>(*form, "edt_Write256Count")->text(), "8");
}

TEST_F(BadFieldInput, APastedRangeTextOutsideTheImageWritesNothing) {
    mouse->Memory().fill(0xFF);
    const auto untouched = mouse->Memory();
    Paste(FindControl<QLineEdit>(*form, "edt_WriteCustom"), "2040-2050;");
    EXPECT_EQ(WriteError(), "Custom range \"2040-2050;\" is not valid: it stands for bytes 2040 to "
                            "2050, but a range must end above its start and lie within 0-2048.");
    EXPECT_EQ(mouse->Memory(), untouched);
    ExpectUsable("edt_WriteCustom");
    EXPECT_EQ(form->State().LoadedImage, image);

    FindControl<QLineEdit>(*form, "edt_WriteCustom")->setText("000-256;1280-1536;");
    EXPECT_EQ(WriteError(), "no error box");
    EXPECT_EQ(Verdict(), "Write Pass");
}

} // namespace
} // namespace vrax::testing
