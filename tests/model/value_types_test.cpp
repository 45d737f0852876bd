#include "model/value_types.h"

#include "fake_host.h"

#include <gtest/gtest.h>

namespace {

// The message of the error a set raises, or "" when it raises none.
template <class F> std::string raised(F&& f) {
    try {
        f();
    } catch (const KT_ERROR& e) {
        return e.what();
    }
    return {};
}

class ValueTypes : public ::testing::Test {
protected:
    fake::Host ui;
};

TEST_F(ValueTypes, BaseInitialValues) {
    KT_TYPE v;
    EXPECT_EQ(v.getName(), "name");
    EXPECT_EQ(v.getDescription(), "description");
    EXPECT_EQ(v.getText(), "");
    EXPECT_EQ(v.rangeMessage, "Вне допустимого диапазона значений");
    EXPECT_EQ(v.lengthMessage, "Недопустимая длина строки");
    EXPECT_EQ(v.charMessage, "Недопустимый символ");
    EXPECT_EQ(v.allowedChars, "\b");
    EXPECT_EQ(v.minLength, 0);
    EXPECT_EQ(v.maxLength, 32);
    EXPECT_TRUE(v.isCharAllowed(kBackspace));
    EXPECT_FALSE(v.isCharAllowed(U'1'));
    EXPECT_TRUE(v.isKeyAllowed(U'x', "anything"));
    EXPECT_TRUE(v.setText("abc"));
    EXPECT_EQ(v.getText(), "abc");
    EXPECT_TRUE(v.setInt(-42));
    EXPECT_EQ(v.getInt(), -42);
    EXPECT_TRUE(v.setText("x"));
    EXPECT_EQ(raised([&] { v.getInt(); }), "'x' is not a valid integer value");
    EXPECT_TRUE(v.setText("4294967295"));
    EXPECT_EQ(raised([&] { v.getInt(); }), "'4294967295' is not a valid integer value");
}

TEST_F(ValueTypes, IntConstructionAndLimits) {
    KT_INT v(0, 24, 12);
    EXPECT_EQ(v.getText(), "12");
    EXPECT_EQ(v.maxLength, 2);
    EXPECT_EQ(v.minLength, 1);
    EXPECT_EQ(v.getDescription(), "целое число от 0 до 24");
    EXPECT_EQ(raised([&] { v.setText("25"); }), "25 - вне диапазона допустимых значений: [0...24]");
    EXPECT_EQ(raised([&] { v.setText("-1"); }), "-1 - вне диапазона допустимых значений: [0...24]");
    EXPECT_EQ(raised([&] { v.setText("abc"); }), "'abc' is not a valid integer value");
    EXPECT_EQ(raised([&] { v.setText("1 2"); }), "'1 2' is not a valid integer value");
    // A sign inside the range is still refused, by its character.
    EXPECT_EQ(raised([&] { v.setText("+5"); }), "Недопустимый символ");
    EXPECT_EQ(v.getText(), "12");
    EXPECT_TRUE(v.setText(""));
    EXPECT_EQ(v.getText(), "12") << "empty text means the default";
    EXPECT_TRUE(v.setText("24"));
    EXPECT_TRUE(v.setText("0"));
    EXPECT_EQ(v.getInt(), 0);
}

TEST_F(ValueTypes, IntKeepsLeadingZerosAndHugeNumbers) {
    KT_INT ms(0, 10000, 2000);
    EXPECT_EQ(ms.maxLength, 5);
    EXPECT_TRUE(ms.setText("007"));
    EXPECT_EQ(ms.getText(), "007");
    EXPECT_EQ(ms.getInt(), 7);

    KT_INT serial(0, 4294967295LL, 0);
    EXPECT_EQ(serial.maxLength, 10);
    EXPECT_TRUE(serial.setText("4294967295"));
    EXPECT_EQ(raised([&] { serial.setText("4294967296"); }),
              "4294967296 - вне диапазона допустимых значений: [0...4294967295]");
    EXPECT_EQ(raised([&] { serial.setText("99999999999999999999"); }),
              "'99999999999999999999' is not a valid integer value");
    EXPECT_EQ(serial.getText(), "4294967295");
}

TEST_F(ValueTypes, IntKeyFilter) {
    KT_INT rings(1, 99, 1);
    EXPECT_EQ(rings.minLength, 1);
    EXPECT_EQ(raised([&] { rings.setText("0"); }), "0 - вне диапазона допустимых значений: [1...99]");
    EXPECT_TRUE(rings.isKeyAllowed(U'5', "9"));
    EXPECT_FALSE(rings.isKeyAllowed(U'5', "99")) << "no third digit";
    EXPECT_TRUE(rings.isKeyAllowed(kBackspace, "99"));
    EXPECT_FALSE(rings.isKeyAllowed(U'a', ""));
    EXPECT_FALSE(rings.isKeyAllowed(U'-', ""));
    EXPECT_TRUE(rings.isKeyAllowed(kBackspace, ""));

    KT_INT single(0, 0, 0); // one menu only: 0..0 still holds one digit
    EXPECT_EQ(single.maxLength, 1);
    EXPECT_TRUE(single.setText("0"));
    EXPECT_FALSE(single.isKeyAllowed(U'0', "0"));
}

TEST_F(ValueTypes, StringStoredBetweenApostrophes) {
    KT_STR desc(31, "");
    EXPECT_EQ(desc.getText(), "''");
    EXPECT_EQ(desc.getEditText(), "");
    EXPECT_EQ(desc.getDescription(), "Строка длиной до 31 символов.");
    EXPECT_TRUE(desc.setText("it's"));
    EXPECT_EQ(desc.getText(), "'its'");
    EXPECT_EQ(desc.getEditText(), "its");
    EXPECT_TRUE(desc.setText("'quoted'"));
    EXPECT_EQ(desc.getText(), "'quoted'");
    EXPECT_EQ(raised([&] { desc.setText(std::string(32, 'a')); }), "Недопустимая длина строки");
    EXPECT_EQ(desc.getText(), "'quoted'");
    EXPECT_EQ(raised([&] { desc.validate("a'b"); }), "Недопустимый символ");

    KT_STR ver(8, "?.??.??");
    EXPECT_EQ(ver.getText(), "'?.??.?"
                             "?'");
    EXPECT_TRUE(ver.setText(""));
    EXPECT_EQ(ver.getText(), "'?.??.?"
                             "?'");
}

TEST_F(ValueTypes, StringLengthCountsCharactersNotBytes) {
    KT_STR desc(31, "");
    const std::string cyrillic31 = [] {
        std::string s;
        for (int i = 0; i < 31; ++i)
            s += "Ж";
        return s;
    }();
    EXPECT_TRUE(desc.setText(cyrillic31)) << "31 Cyrillic letters are 62 bytes but 31 characters";
    EXPECT_EQ(desc.getEditText(), cyrillic31);
    EXPECT_EQ(raised([&] { desc.setText(cyrillic31 + "Ж"); }), "Недопустимая длина строки");
    EXPECT_FALSE(desc.isKeyAllowed(U'Ж', cyrillic31));
    EXPECT_TRUE(desc.isKeyAllowed(kBackspace, cyrillic31));
    EXPECT_TRUE(desc.isKeyAllowed(U'Ж', "Главное"));
    EXPECT_FALSE(desc.isKeyAllowed(U'\'', ""));
}

TEST_F(ValueTypes, StringRefusesWhatWindows1251CannotHold) {
    KT_STR desc(31, "");
    ASSERT_TRUE(desc.setText("Главное"));
    EXPECT_EQ(raised([&] { desc.setText("日本"); }), "Недопустимый символ");
    EXPECT_EQ(raised([&] { desc.setText("a\xff"); }), "Недопустимый символ") << "malformed UTF-8";
    EXPECT_EQ(raised([&] { desc.setText("two\nlines"); }), "Недопустимый символ");
    EXPECT_EQ(desc.getText(), "'Главное'");
    EXPECT_FALSE(desc.isKeyAllowed(U'日', ""));
    EXPECT_TRUE(desc.isKeyAllowed(U'№', "")) << "№ is in Windows-1251";
}

TEST_F(ValueTypes, CodeDigitsAndDash) {
    KT_CODE pwd("7316", 2, 10);
    EXPECT_EQ(pwd.getText(), "7316");
    EXPECT_EQ(pwd.getDescription(), "Строка из цифр. Длина строки -  от 2 до 10 символов.");
    EXPECT_FALSE(pwd.spec->hasSpecials);
    EXPECT_EQ(pwd.editor, &ui.dialEditor);
    EXPECT_EQ(raised([&] { pwd.setText("12*4"); }), "Недопустимый символ");
    EXPECT_EQ(raised([&] { pwd.setText("1"); }), "Недопустимая длина строки");
    EXPECT_EQ(raised([&] { pwd.setText("-"); }), "Недопустимая длина строки") << "length is checked first";
    EXPECT_EQ(raised([&] { pwd.setText("12-34"); }), "Недопустимый символ");
    EXPECT_EQ(raised([&] { pwd.setText("12345678901"); }), "Недопустимая длина строки");
    EXPECT_EQ(pwd.getText(), "7316");
    EXPECT_TRUE(pwd.setText("0123456789"));
    EXPECT_FALSE(pwd.isKeyAllowed(U'1', "0123456789"));
    EXPECT_TRUE(pwd.isKeyAllowed(kBackspace, "0123456789"));
    EXPECT_FALSE(pwd.isKeyAllowed(U'*', "1"));

    KT_CODE number("-", 1, 20);
    EXPECT_TRUE(number.setText("-"));
    EXPECT_EQ(number.getText(), "-");
}

TEST_F(ValueTypes, CodeWithSpecials) {
    KT_CODE dial("", 0, 20, true, true, false, false, false);
    EXPECT_TRUE(dial.spec->hasSpecials);
    EXPECT_EQ(dial.getDescription(), "Строка из цифр и специальных комбинаций. Длина строки -  от 0 до 20 символов.");
    EXPECT_TRUE(dial.setText("12*9410"));
    EXPECT_TRUE(dial.isKeyAllowed(U'*', "12"));
    EXPECT_EQ(raised([&] { dial.setText("12#"); }), "Недопустимый символ");
}

TEST_F(ValueTypes, CodeAssignTakesFormatNotValue) {
    KT_CODE format("002000", 6, 6);
    ASSERT_TRUE(format.setText("051510"));
    KT_CODE param;
    EXPECT_FALSE(param.spec->hasSpecials);
    param.assign(format);
    EXPECT_EQ(param.getText(), "002000") << "the value becomes the default";
    EXPECT_EQ(param.minLength, 6);
    EXPECT_EQ(param.maxLength, 6);
    EXPECT_EQ(param.getDescription(), format.getDescription());
    EXPECT_EQ(param.editor, format.editor);
    EXPECT_EQ(raised([&] { param.setText("12"); }), "Недопустимая длина строки");
}

TEST_F(ValueTypes, CodeEditorRunsModally) {
    KT_CODE pwd("7316", 2, 10);
    int parent = 0, context = 0;
    pwd.showEditor(&parent, &context);
    EXPECT_EQ(ui.dialEditor.calls,
              (std::vector<std::string>{"placeInto", "bringToFront", "takeContext", "edit:KT_CODE", "runModal"}));
    EXPECT_EQ(ui.dialEditor.lastContext, &context);
    EXPECT_EQ(ui.dialEditor.edited, &pwd);
}

TEST_F(ValueTypes, TimeStoredAsHhmm) {
    KT_TIME t;
    EXPECT_EQ(t.getText(), "0000");
    EXPECT_EQ(t.getDescription(), "Время в формате hhmm");
    EXPECT_TRUE(t.setText("0830"));
    EXPECT_EQ(t.getText(), "0830");
    EXPECT_TRUE(t.setText("08:30"));
    EXPECT_EQ(t.getText(), "0830");
    EXPECT_EQ(t.getEditText(), "08:30");
    EXPECT_TRUE(t.setEditText("23:59"));
    EXPECT_EQ(t.getText(), "2359");
    EXPECT_TRUE(ui.messages.empty());

    EXPECT_FALSE(t.setText("2400"));
    EXPECT_EQ(ui.lastMessage(), "24:00 - Недопустимый формат времени");
    EXPECT_EQ(t.getText(), "2359");
    EXPECT_FALSE(t.setText("830")) << "830 becomes 83:0";
    EXPECT_EQ(ui.lastMessage(), "83:0 - Недопустимый формат времени");
    EXPECT_FALSE(t.setText("1260"));
    EXPECT_FALSE(t.setText("")) << "an empty time is no time, not the default";
    EXPECT_FALSE(t.setText("ab:cd"));
    EXPECT_EQ(t.getText(), "2359");
    EXPECT_EQ(ui.messages.size(), 5u);

    KT_TIME end("2359");
    EXPECT_EQ(end.getText(), "2359");
}

TEST_F(ValueTypes, TimeKeyFilter) {
    KT_TIME t;
    EXPECT_TRUE(t.isKeyAllowed(U'2', ""));
    EXPECT_FALSE(t.isKeyAllowed(U'3', ""));
    for (char32_t k = U'0'; k <= U'9'; ++k)
        EXPECT_EQ(t.isKeyAllowed(k, "2"), k <= U'3') << static_cast<char>(k);
    EXPECT_TRUE(t.isKeyAllowed(kBackspace, "2"));
    EXPECT_TRUE(t.isKeyAllowed(U'9', "1"));
    EXPECT_TRUE(t.isKeyAllowed(U':', "12"));
    EXPECT_FALSE(t.isKeyAllowed(U'3', "12"));
    EXPECT_TRUE(t.isKeyAllowed(U'5', "12:"));
    EXPECT_FALSE(t.isKeyAllowed(U'6', "12:"));
    EXPECT_TRUE(t.isKeyAllowed(U'9', "12:5"));
    EXPECT_FALSE(t.isKeyAllowed(U'0', "12:59"));
    EXPECT_TRUE(t.isKeyAllowed(kBackspace, "12:59"));
    EXPECT_FALSE(t.isKeyAllowed(kBackspace, "12:590"));
}

TEST_F(ValueTypes, DateWithoutYear) {
    KT_DATE_NOYEAR d;
    EXPECT_EQ(d.getText(), "0101");
    EXPECT_EQ(d.getDescription(), "Дата в формате ddmm");
    EXPECT_TRUE(d.setText("2902")) << "checked against the leap year 2000";
    EXPECT_EQ(d.getText(), "2902");
    EXPECT_EQ(d.getEditText(), "29.02");
    EXPECT_TRUE(d.setText("31.12"));
    EXPECT_EQ(d.getText(), "3112");
    EXPECT_FALSE(d.setText("3102"));
    EXPECT_EQ(ui.lastMessage(), "31.02 - Недопустимый формат даты");
    EXPECT_FALSE(d.setText("0013"));
    EXPECT_FALSE(d.setText("1.1")) << "only dd.mm is accepted";
    EXPECT_EQ(d.getText(), "3112");
}

TEST_F(ValueTypes, DateWithoutYearKeyFilter) {
    KT_DATE_NOYEAR d;
    EXPECT_TRUE(d.isKeyAllowed(U'3', ""));
    EXPECT_FALSE(d.isKeyAllowed(U'4', ""));
    EXPECT_TRUE(d.isKeyAllowed(U'1', "3"));
    EXPECT_FALSE(d.isKeyAllowed(U'2', "3"));
    EXPECT_FALSE(d.isKeyAllowed(U'0', "0"));
    EXPECT_TRUE(d.isKeyAllowed(U'9', "0"));
    EXPECT_TRUE(d.isKeyAllowed(U'9', "2"));
    EXPECT_TRUE(d.isKeyAllowed(U'.', "29"));
    EXPECT_TRUE(d.isKeyAllowed(U'1', "29."));
    EXPECT_FALSE(d.isKeyAllowed(U'2', "29."));
    EXPECT_TRUE(d.isKeyAllowed(U'2', "29.1"));
    EXPECT_FALSE(d.isKeyAllowed(U'3', "29.1"));
    EXPECT_FALSE(d.isKeyAllowed(U'0', "29.0"));
    EXPECT_TRUE(d.isKeyAllowed(U'9', "29.0"));
    EXPECT_FALSE(d.isKeyAllowed(U'1', "29.12"));
    EXPECT_TRUE(d.isKeyAllowed(kBackspace, "29.12"));
}

TEST_F(ValueTypes, DateWithYear) {
    KT_DATE d;
    EXPECT_EQ(d.getText(), "010101");
    EXPECT_EQ(d.getEditText(), "01.01.2001");
    EXPECT_EQ(d.getDescription(), "Дата в формате ddmmуу");
    EXPECT_TRUE(d.setText("290200"));
    EXPECT_EQ(d.getText(), "290200");
    EXPECT_FALSE(d.setText("290201"));
    EXPECT_EQ(ui.lastMessage(), "29.02.2001 - Недопустимый формат даты");
    EXPECT_TRUE(d.setText("311299"));
    EXPECT_EQ(d.getEditText(), "31.12.2099");
    EXPECT_TRUE(d.setEditText("15.06.2024"));
    EXPECT_EQ(d.getText(), "150624");
    EXPECT_FALSE(d.setEditText("15.06.1999")) << "years are always in the 2000s";
    EXPECT_FALSE(d.setEditText("15.06.24"));
    EXPECT_EQ(d.getText(), "150624");
    EXPECT_TRUE(d.isKeyAllowed(U'x', ""));
}

TEST_F(ValueTypes, FileKeepsOnlyTheFileName) {
    KT_FILE f;
    EXPECT_EQ(f.getText(), "-");
    EXPECT_EQ(f.getDescription(), "имя файла");
    EXPECT_TRUE(f.setText("hello.wav"));
    EXPECT_EQ(f.getText(), "hello.wav");
    EXPECT_TRUE(f.setText(""));
    EXPECT_EQ(f.getText(), "-");
    EXPECT_TRUE(f.setText("../../etc/passwd"));
    EXPECT_EQ(f.getText(), "passwd");
    EXPECT_TRUE(f.setText("..\\..\\windows\\win.ini"));
    EXPECT_EQ(f.getText(), "win.ini");
    EXPECT_TRUE(f.setText("/abs/path/привет.wav"));
    EXPECT_EQ(f.getText(), "привет.wav");
    EXPECT_TRUE(f.setText(".."));
    EXPECT_EQ(f.getText(), "-");
    EXPECT_TRUE(f.setText("dir/"));
    EXPECT_EQ(f.getText(), "-");
    EXPECT_EQ(raised([&] { f.setText("日本.wav"); }), "Недопустимый символ");
    EXPECT_EQ(f.getText(), "-");
}

TEST_F(ValueTypes, ClassNamesAndIsA) {
    KT_CODE c;
    KT_TYPE* v = &c;
    EXPECT_STREQ(v->className(), "KT_CODE");
    EXPECT_NE(kt_cast<KT_CODE>(v), nullptr);
    EXPECT_EQ(kt_cast<KT_STR>(v), nullptr);
    KT_FILE f;
    EXPECT_STREQ(static_cast<KT_TYPE&>(f).className(), "KT_FILE");
}

TEST_F(ValueTypes, BaseEditorHooks) {
    KT_TYPE v;
    fake::EditorWindow w;
    v.showEditor(nullptr, nullptr); // no editor: nothing happens
    v.editor = &w;
    v.showEditor(nullptr, nullptr);
    EXPECT_EQ(w.calls, (std::vector<std::string>{"bringToFront", "show", "takeContext", "edit:KT_TYPE"}));
    v.hideEditor();
    EXPECT_EQ(w.calls.back(), "hideAndDetach");
}

} // namespace
