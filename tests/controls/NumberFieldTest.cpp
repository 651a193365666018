#include "controls/THexEdit.h"
#include "controls/TIntEdit.h"
#include "programming/StationError.h"

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <climits>
#include <memory>

namespace vrax {
namespace {

// A paste the way the operator makes it: the edit's own context menu.
void PasteFromContextMenu(QLineEdit& edit, const QString& clipboardText) {
    QGuiApplication::clipboard()->setText(clipboardText);
    std::unique_ptr<QMenu> menu(edit.createStandardContextMenu());
    QAction* paste = nullptr;
    for (QAction* action : menu->actions()) {
        if (action->objectName() == "edit-paste" || action->text().contains("Paste")) {
            paste = action;
        }
    }
    ASSERT_NE(paste, nullptr);
    ASSERT_TRUE(paste->isEnabled());
    paste->trigger();
}

std::string ConversionMessage(THexEdit& edit) {
    try {
        edit.GetValue();
    } catch (const ConversionError& error) {
        return error.what();
    }
    return "no error";
}

TEST(NumberFieldTest, HexFieldTypesOnlyHexDigitsAndBackspace) {
    THexEdit edit;
    edit.setText("1");
    QTest::keyClicks(&edit, "g -xZ.");
    EXPECT_EQ(edit.text(), "1");
    QTest::keyClicks(&edit, "fF09aA");
    EXPECT_EQ(edit.text(), "1fF09aA");
    QTest::keyClick(&edit, Qt::Key_Backspace);
    QTest::keyClick(&edit, Qt::Key_Backspace);
    EXPECT_EQ(edit.text(), "1fF09");
    // Keys that type nothing still work: move left and insert there.
    QTest::keyClick(&edit, Qt::Key_Home);
    QTest::keyClick(&edit, Qt::Key_Delete);
    QTest::keyClick(&edit, Qt::Key_B);
    EXPECT_EQ(edit.text(), "bfF09");
    QTest::keyClick(&edit, Qt::Key_Return);
    QTest::keyClick(&edit, Qt::Key_Escape);
    EXPECT_EQ(edit.text(), "bfF09");
}

TEST(NumberFieldTest, ShortcutsThatTypeControlCharactersDoNothing) {
    THexEdit edit;
    edit.SetTypingLimit(4);
    edit.setText("12");
    QGuiApplication::clipboard()->setText("AB");
    QTest::keyClick(&edit, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(edit.text(), "12");

    edit.selectAll();
    QTest::keyClick(&edit, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "AB");
    QTest::keyClick(&edit, Qt::Key_X, Qt::ControlModifier);
    EXPECT_EQ(edit.text(), "12");

    edit.end(false);
    QTest::keyClick(&edit, Qt::Key_3);
    EXPECT_EQ(edit.text(), "123");
    QTest::keyClick(&edit, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(edit.text(), "123");
    QTest::keyClick(&edit, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(&edit, Qt::Key_4);
    EXPECT_EQ(edit.text(), "1234") << "Ctrl+A selected nothing, so 4 was appended";
}

TEST(NumberFieldTest, DecimalFieldTypesOnlyDigitsAndUsesItsOwnFilter) {
    TIntEdit edit;
    QTest::keyClicks(&edit, "1a2F-3 ");
    EXPECT_EQ(edit.text(), "123");
    QTest::keyClick(&edit, Qt::Key_Backspace);
    EXPECT_EQ(edit.text(), "12");

    QInputMethodEvent refused;
    refused.setCommitString("4e");
    QCoreApplication::sendEvent(&edit, &refused);
    EXPECT_EQ(edit.text(), "12");
    QInputMethodEvent accepted;
    accepted.setCommitString("45");
    QCoreApplication::sendEvent(&edit, &accepted);
    EXPECT_EQ(edit.text(), "1245");
}

TEST(NumberFieldTest, OnlyTheLowByteOfATypedCharacterIsLookedAt) {
    THexEdit edit;
    // U+0141 has low byte 0x41 ('A') and passes; U+0167 has 0x67 ('g') and is dropped.
    for (const char16_t code : {u'\u0141', u'\u0167'}) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(QChar(code)));
        QCoreApplication::sendEvent(&edit, &press);
    }
    EXPECT_EQ(edit.text(), QString(QChar(0x0141)));
}

TEST(NumberFieldTest, TypingLimitHoldsTypingButNotPastesOrProgramText) {
    THexEdit edit;
    edit.SetTypingLimit(4);
    QTest::keyClicks(&edit, "12345");
    EXPECT_EQ(edit.text(), "1234");
    edit.selectAll();
    QTest::keyClicks(&edit, "A");
    EXPECT_EQ(edit.text(), "A") << "typing over a selection replaces it";

    edit.setText("1234");
    edit.end(false);
    PasteFromContextMenu(edit, "56G");
    EXPECT_EQ(edit.text(), "123456G") << "a paste is neither filtered nor limited";
    EXPECT_EQ(ConversionMessage(edit), "'$0123456G' is not a valid integer value");

    THexEdit serial;
    serial.SetTypingLimit(6);
    serial.SetValue(0x1000000);
    EXPECT_EQ(serial.text(), "1000000");
    EXPECT_EQ(serial.GetValue(), 0x1000000);
}

TEST(NumberFieldTest, HexValuesConvertAsWrittenWithThirtyTwoBitWrap) {
    THexEdit edit;
    const struct {
        const char* text;
        int value;
    } cases[] = {{"00ff", 255},    {"00FF", 255},           {"", 0},
                 {"FFFFFFFF", -1}, {"80000000", INT_MIN},   {"7fffffff", INT_MAX},
                 {"000000001", 1}, {"20200527", 0x20200527}};
    for (const auto& c : cases) {
        edit.setText(c.text);
        EXPECT_EQ(edit.GetValue(), c.value) << c.text;
    }
    edit.setText("123456789");
    EXPECT_EQ(ConversionMessage(edit), "'$0123456789' is not a valid integer value");
    edit.setText(" 1");
    EXPECT_EQ(ConversionMessage(edit), "'$0 1' is not a valid integer value");
    edit.setText("-1");
    EXPECT_EQ(ConversionMessage(edit), "'$0-1' is not a valid integer value");
}

TEST(NumberFieldTest, HexSetValueWritesUpperCaseWithoutLeadingZerosAndRaisesChange) {
    THexEdit edit;
    edit.setText("0005");
    QSignalSpy changes(&edit, &QLineEdit::textChanged);
    edit.SetValue(255);
    EXPECT_EQ(edit.text(), "FF");
    edit.SetValue(5);
    EXPECT_EQ(edit.text(), "5");
    edit.SetValue(0);
    EXPECT_EQ(edit.text(), "");
    edit.SetValue(7);
    edit.SetValue(-1);
    EXPECT_EQ(edit.text(), "");
    EXPECT_EQ(changes.count(), 5);
}

TEST(NumberFieldTest, DecimalValuesConvertWithTheZeroPrefix) {
    TIntEdit edit;
    edit.setText("0100");
    EXPECT_EQ(edit.GetValue(), 100);
    edit.setText("");
    EXPECT_EQ(edit.GetValue(), 0);
    edit.setText("2147483647");
    EXPECT_EQ(edit.GetValue(), INT_MAX);
    edit.setText("2147483648");
    EXPECT_EQ(ConversionMessage(edit), "'02147483648' is not a valid integer value");
    edit.setText("1F");
    EXPECT_EQ(ConversionMessage(edit), "'01F' is not a valid integer value");
    edit.setText("-5");
    EXPECT_EQ(ConversionMessage(edit), "'0-5' is not a valid integer value");

    edit.SetValue(100);
    EXPECT_EQ(edit.text(), "100");
    edit.SetValue(0);
    EXPECT_EQ(edit.text(), "");
    edit.SetValue(-3);
    EXPECT_EQ(edit.text(), "");
}

TEST(NumberFieldTest, FilterOffLetsEveryCharacterThroughUntilSwitchedOn) {
    THexEdit edit;
    EXPECT_TRUE(edit.IsFilter());
    edit.SetIsFilter(false);
    QTest::keyClicks(&edit, "1G");
    EXPECT_EQ(edit.text(), "1G");
    EXPECT_EQ(ConversionMessage(edit), "'$01G' is not a valid integer value");
    edit.SetIsFilter(true);
    QTest::keyClicks(&edit, "H2");
    EXPECT_EQ(edit.text(), "1G2");
}

TEST(NumberFieldTest, AlignmentStartsLeftAndRealignsTheShownText) {
    TIntEdit edit;
    EXPECT_EQ(edit.Alignment(), EditAlignment::Left);
    EXPECT_TRUE(edit.alignment() & Qt::AlignLeft);
    edit.setText("42");
    edit.SetAlignment(EditAlignment::Right);
    EXPECT_EQ(edit.Alignment(), EditAlignment::Right);
    EXPECT_TRUE(edit.alignment() & Qt::AlignRight);
    EXPECT_EQ(edit.text(), "42");
    edit.SetAlignment(EditAlignment::Centre);
    EXPECT_TRUE(edit.alignment() & Qt::AlignHCenter);
}

} // namespace
} // namespace vrax
