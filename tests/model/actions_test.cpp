#include "model/actions.h"
#include "model/schema.h"

#include "fake_host.h"

#include <gtest/gtest.h>

namespace {

class Actions : public ::testing::Test {
protected:
    fake::Host ui;
    std::unique_ptr<KT_ACTIONS> kinds = buildActions();
};

TEST_F(Actions, KindsTable) {
    EXPECT_EQ(kinds->defaultAction, "ACTION_NONE");
    ASSERT_EQ(kinds->childCount(), 5);
    const char* keys[] = {"ACTION_NONE", "ACTION_TO_MENU", "ACTION_TO_SLP", "ACTION_LVMSG", "ACTION_BACK"};
    const char* codes[] = {"00", "01", "02", "03", "04"};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(kinds->childNameAt(i), keys[i]);
        EXPECT_EQ(kinds->childAt(i)->key, keys[i]);
        EXPECT_EQ(kinds->childAt(i)->code, codes[i]);
    }
    EXPECT_STREQ(kinds->childAt(0)->value->className(), "KT_TYPE");
    EXPECT_STREQ(kinds->childAt(4)->value->className(), "KT_TYPE");
    EXPECT_EQ(kinds->childAt(2)->getText(), "002000");
    EXPECT_EQ(kinds->childAt(1)->getText(), "00");
    EXPECT_EQ(kinds->childAt(3)->getText(), "00");

    KT_STRING_LIST list{{"stale", nullptr}};
    kinds->fillList(list);
    ASSERT_EQ(list.size(), 5u);
    EXPECT_EQ(list[0].text, "Игнорировать событие");
    EXPECT_EQ(list[1].text, "Перейти к другому меню");
    EXPECT_EQ(list[2].text, "Звонок на оператора");
    EXPECT_EQ(list[3].text, "Оставить сообщение");
    EXPECT_EQ(list[4].text, "Вернуться к предыдущему меню");
    EXPECT_EQ(list[2].record, kinds->childAt(2));
}

TEST_F(Actions, NewActionIsNone) {
    KT_ACTION a(*kinds);
    EXPECT_EQ(a.getName(), "ACTION_NONE");
    EXPECT_EQ(a.getText(), "00");
    EXPECT_EQ(a.getEditText(), "NULL");
    EXPECT_EQ(a.getInt(), 0);
    EXPECT_EQ(a.getDescription(), "Игнорировать событие");
    EXPECT_EQ(a.getParamDescription(), "description");
    EXPECT_EQ(a.rangeMessage, "Недопустимый тип действия");
    EXPECT_EQ(a.param, nullptr);
    EXPECT_FALSE(a.setEditText("12"));
    EXPECT_FALSE(a.isKeyAllowed(U'1', ""));
}

TEST_F(Actions, StoredFormSelectsKindAndParameter) {
    KT_ACTION a(*kinds);
    EXPECT_TRUE(a.setText("0107"));
    EXPECT_EQ(a.getName(), "ACTION_TO_MENU");
    EXPECT_EQ(a.getEditText(), "07");
    EXPECT_EQ(a.getText(), "0107");
    EXPECT_EQ(a.getInt(), 1);
    EXPECT_TRUE(a.setText("0109"));
    EXPECT_EQ(a.getText(), "0109");
    EXPECT_TRUE(a.setText("04"));
    EXPECT_EQ(a.getName(), "ACTION_BACK");
    EXPECT_EQ(a.param, nullptr);
    EXPECT_EQ(a.getText(), "04");
    EXPECT_TRUE(a.setText("02002000"));
    EXPECT_EQ(a.getText(), "02002000");
    EXPECT_TRUE(a.setText("0300"));
    EXPECT_EQ(a.getName(), "ACTION_LVMSG");
    EXPECT_TRUE(a.setText("01"));
    EXPECT_EQ(a.getText(), "0100") << "a missing parameter takes the format's default";
}

TEST_F(Actions, RefusedParameterAndUnknownCode) {
    KT_ACTION a(*kinds);
    try {
        a.setText("0256789");
        FAIL() << "five digits must be refused";
    } catch (const KT_ERROR& e) {
        EXPECT_STREQ(e.what(), "Недопустимая длина строки");
    }
    EXPECT_EQ(a.getName(), "ACTION_TO_SLP");
    EXPECT_EQ(a.getText(), "02002000");

    try {
        a.setText("0912");
        FAIL() << "an unknown code must be refused";
    } catch (const KT_ERROR& e) {
        EXPECT_STREQ(e.what(), "Недопустимый тип действия");
    }
    EXPECT_EQ(a.getText(), "02002000") << "the action keeps its kind";

    EXPECT_THROW(a.setName("ACTION_FLY"), KT_ERROR);
    EXPECT_THROW(a.setInt(-1), KT_ERROR);
    EXPECT_THROW(a.setInt(5), KT_ERROR);
    EXPECT_EQ(a.getName(), "ACTION_TO_SLP");
}

TEST_F(Actions, EmptyTextMeansDefaultKind) {
    KT_ACTION a(*kinds);
    ASSERT_TRUE(a.setText("0105"));
    EXPECT_TRUE(a.setText(""));
    EXPECT_EQ(a.getText(), "00");
}

TEST_F(Actions, SelectByIndexAndName) {
    KT_ACTION a(*kinds);
    EXPECT_TRUE(a.setInt(2));
    EXPECT_EQ(a.getName(), "ACTION_TO_SLP");
    EXPECT_EQ(a.getEditText(), "002000");
    EXPECT_EQ(a.getInt(), 2);
    EXPECT_FALSE(a.setInt(2)) << "the same kind again is no change";
    EXPECT_TRUE(a.setEditText("011530"));
    EXPECT_EQ(a.getText(), "02011530");
    EXPECT_TRUE(a.setName("action_to_menu")) << "kind keys compare without regard to case";
    EXPECT_EQ(a.getName(), "ACTION_TO_MENU");
    EXPECT_EQ(a.getEditText(), "00") << "a kind change starts from the format's default";
    EXPECT_EQ(a.getParamDescription(), "Строка из цифр. Длина строки -  от 2 до 2 символов.");
    EXPECT_TRUE(a.isKeyAllowed(U'1', "0"));
    EXPECT_FALSE(a.isKeyAllowed(U'1', "00"));
}

TEST_F(Actions, EditorOpensOnTheWholeAction) {
    KT_ACTION a(*kinds);
    a.showEditor(nullptr, nullptr);
    EXPECT_TRUE(ui.dialEditor.calls.empty()) << "no parameter, no editor";
    ASSERT_TRUE(a.setText("0105"));
    int context = 0;
    a.showEditor(nullptr, &context);
    EXPECT_EQ(ui.dialEditor.calls,
              (std::vector<std::string>{"bringToFront", "takeContext", "edit:KT_ACTION", "runModal"}));
    EXPECT_EQ(ui.dialEditor.edited, &a);
}

TEST_F(Actions, ParamCaptionNamesTheMenu) {
    auto root = buildBase({"KT_BASE", "База настроек: x.qor", "29", nullptr});
    auto* menus = root->addTable(buildMenus({"MENUS", "голосовые меню", "5XX", nullptr}));
    for (int k = 0; k < 3; ++k)
        menus->addTable(buildMenu(
            {"MENU(" + std::to_string(k) + ")", "меню " + std::to_string(k), std::to_string(500 + k), nullptr}, 2,
            *kinds));
    KT_TABLE* menu2 = menus->tableAt(2);
    ASSERT_TRUE(menu2->findChild("Desc")->value->setText("Главное"));
    auto* action = kt_cast<KT_ACTION>(menus->tableAt(0)->findChild("ActionDTMF[1]")->value.get());
    ASSERT_NE(action, nullptr);

    ASSERT_TRUE(action->setText("0100"));
    EXPECT_EQ(action->getParamCaption(), "меню 0");
    ASSERT_TRUE(action->setText("0102"));
    EXPECT_EQ(action->getParamCaption(), "меню 2 : Главное");
    ASSERT_TRUE(action->setText("0145"));
    EXPECT_EQ(action->getParamCaption(), "меню 45") << "beyond the menus: the bare number";
    ASSERT_TRUE(action->setText("0303"));
    EXPECT_EQ(action->getParamCaption(), "03");
    ASSERT_TRUE(action->setText("00"));
    EXPECT_EQ(action->getParamCaption(), "NULL");
}

TEST_F(Actions, DialSpecialsByGroup) {
    KT_SPEC none;
    EXPECT_FALSE(none.hasSpecials);
    EXPECT_EQ(none.count(), 0);
    KT_SPEC noFlags(false, false, false, false, false);
    EXPECT_FALSE(noFlags.hasSpecials);
    EXPECT_EQ(noFlags.count(), 0);

    KT_SPEC s(true, false, false, false, true);
    EXPECT_TRUE(s.hasSpecials);
    ASSERT_EQ(s.count(), 5);
    EXPECT_EQ(s.text(0), "Вставить *");
    EXPECT_EQ(s.text(1), "Вставить #");
    EXPECT_EQ(s.entry(2).name, "ENTRY_SKIPDIGITS");
    EXPECT_EQ(s.entry(3).pattern, "*51X");
    EXPECT_EQ(s.entry(4).name, "ENTRY_CALLERDIIGITS");
    EXPECT_EQ(s.text(4), "Следующие X цифр - цифры номера вызывающего абонента, X=1..9");

    KT_SPEC all(true, true, true, true, true);
    EXPECT_EQ(all.count(), 18);
    EXPECT_EQ(all.entry(10).pattern, "*95XXX");
    EXPECT_EQ(all.entry(11).description, "Вставить номер ");
    KT_SPEC copy = all;
    EXPECT_EQ(&copy.entry(9), &all.entry(9)) << "copies share the entries";

    KT_CODE dial("", 0, 20, false, true, false, false, false);
    KT_CODE param;
    param.assign(dial);
    EXPECT_TRUE(param.spec->hasSpecials);
    EXPECT_EQ(param.spec->count(), 9);
    EXPECT_TRUE(param.setText("*9410"));
}

} // namespace
