#include "model/tables.h"

#include "fake_host.h"
#include "sample_base.h"

#include <gtest/gtest.h>

namespace {

class Tables : public ::testing::Test {
protected:
    void SetUp() override {
        base = sample::build(2, 3, 2);
        rootNode = fake::rootNodeFor(*base.root);
        buildTree(*base.root);
        ui.clear();
    }
    fake::TreeNode& nodeOf(KT_TABLE& t) { return static_cast<fake::TreeNode&>(*t.node); }

    fake::Host ui;
    sample::Base base;
    std::unique_ptr<fake::TreeNode> rootNode;
};

TEST_F(Tables, ChildOperations) {
    KT_TABLE t;
    EXPECT_EQ(t.getName(), "table name");
    EXPECT_EQ(t.description, "table description");
    EXPECT_EQ(t.getText(), "table value");
    EXPECT_EQ(t.editorFrame, &ui.emptyFrame);
    EXPECT_EQ(t.markState, 1);
    EXPECT_TRUE(t.isVisible);

    KT_RECORD* a = t.addField(std::make_unique<KT_INT>(0, 9, 1), "Alpha", "01", "first");
    KT_RECORD* b = t.addField(std::make_unique<KT_CODE>("00", 2, 2), "Pwd", "02", "second", "Password");
    EXPECT_EQ(a->ownerTable, &t);
    EXPECT_EQ(a->value->ownerRecord, a);
    EXPECT_EQ(t.childCount(), 2);
    EXPECT_EQ(t.findChild("alpha"), a);
    EXPECT_EQ(t.findChild("PASSWORD"), b);
    EXPECT_EQ(t.findChild("Pwd"), nullptr) << "found by list name, not by key";
    EXPECT_EQ(b->key, "Pwd");
    EXPECT_EQ(t.indexOfChild("password"), 1);
    EXPECT_EQ(t.indexOfChild("nothing"), -1);
    EXPECT_EQ(t.childAt(-1), nullptr);
    EXPECT_EQ(t.childAt(2), nullptr);
    EXPECT_EQ(t.childNameAt(-1), "0");
    EXPECT_EQ(t.childNameAt(1), "Password");

    std::unique_ptr<KT_RECORD> taken = t.removeChildAt(0);
    EXPECT_EQ(taken.get(), a) << "removal hands the record over, it is not destroyed";
    EXPECT_EQ(t.childCount(), 1);
    EXPECT_EQ(t.childAt(0), b);
}

TEST_F(Tables, SubTableRecord) {
    KT_RECORD* r = base.root->findChild("menus");
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->key, "MENUS");
    EXPECT_EQ(r->code, "5XX");
    EXPECT_EQ(r->description, "голосовые меню");
    EXPECT_EQ(r->table(), base.menus);
    EXPECT_EQ(base.root->findTable("TRKS"), base.trks);
    EXPECT_EQ(base.root->findTable("nothing"), nullptr);
    EXPECT_EQ(base.sysparam->findTable("Password"), nullptr) << "a field is no table";
    EXPECT_EQ(base.menus->tableAt(2)->getText(), "502");
}

TEST_F(Tables, ChangedFieldMarksObjectAndAncestors) {
    KT_RECORD* rings = base.sysparam->findChild("NRingsToPickup");
    ASSERT_EQ(rings->getText(), "1");
    EXPECT_TRUE(rings->setText("3"));
    EXPECT_TRUE(rings->changed);
    EXPECT_EQ(base.sysparam->markState, 4);
    EXPECT_EQ(nodeOf(*base.sysparam).state, 4);
    EXPECT_EQ(base.root->markState, 3) << "the root's other children are not changed";
    EXPECT_EQ(rootNode->state, 3);
    ASSERT_FALSE(ui.shellStates.empty());
    EXPECT_EQ(ui.shellStates.back(), 1) << "the main window turns modified";

    base.sysparam->markState = 1;
    EXPECT_TRUE(rings->setText("3"));
    EXPECT_FALSE(rings->changed);
    EXPECT_EQ(base.sysparam->markState, 1) << "the same value again is no change";
    EXPECT_TRUE(ui.messages.empty());
}

TEST_F(Tables, RefusedFieldShowsKeyAndDescription) {
    KT_RECORD* flash = base.sysparam->findChild("FlashPassthrough");
    EXPECT_FALSE(flash->setText("3"));
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0],
              "FlashPassthrough (Транслировать FLASH) : 3 - вне диапазона допустимых значений: [0...1]");
    EXPECT_EQ(flash->getText(), "1");
    EXPECT_EQ(base.sysparam->markState, 1);
    EXPECT_TRUE(ui.shellStates.empty());

    EXPECT_FALSE(base.sysparam->findChild("Password")->setEditText("1"));
    EXPECT_EQ(ui.lastMessage(), "Password (Пароль настройки) : Недопустимая длина строки");

    // A time field shows its own message and the record adds none.
    ui.clear();
    EXPECT_FALSE(base.timetable->findChild("DayStart[1]")->setEditText("25:00"));
    EXPECT_EQ(ui.messages, std::vector<std::string>{"25:00 - Недопустимый формат времени"});
    EXPECT_EQ(base.timetable->markState, 1);
}

TEST_F(Tables, RecordSetIntAndEditText) {
    KT_RECORD* day = base.trks->tableAt(0)->findChild("DayMenu");
    day->setInt(2);
    EXPECT_TRUE(day->changed);
    EXPECT_EQ(day->getText(), "2");
    EXPECT_EQ(base.trks->tableAt(0)->markState, 4);
    EXPECT_EQ(base.trks->markState, 3);
    day->setInt(3);
    EXPECT_FALSE(day->changed);
    EXPECT_EQ(ui.lastMessage(), "DayMenu (Дневное меню) : 3 - вне диапазона допустимых значений: [0...2]");

    KT_RECORD* start = base.timetable->findChild("DayStart[2]");
    EXPECT_TRUE(start->setEditText("08:30"));
    EXPECT_TRUE(start->changed);
    EXPECT_EQ(start->getText(), "0830");
    EXPECT_EQ(start->getEditText(), "08:30");
    EXPECT_TRUE(start->setEditText("0830"));
    EXPECT_FALSE(start->changed);
}

TEST_F(Tables, ActionChangeThroughRecord) {
    KT_TABLE* menu = base.menus->tableAt(1);
    KT_RECORD* a = menu->findChild("ActionDTMF[3]");
    EXPECT_TRUE(a->setText("0107"));
    EXPECT_TRUE(a->changed);
    menu->markState = 1;
    EXPECT_TRUE(a->setText("0109"));
    EXPECT_TRUE(a->changed) << "a new parameter alone is a change";
    EXPECT_EQ(menu->markState, 4);

    // A refused parameter still switches the kind; the object must count as changed.
    menu->markState = 1;
    EXPECT_FALSE(a->setText("0256789"));
    EXPECT_EQ(ui.lastMessage(), "ActionDTMF[3] (Действие - ввод цифры 3) : Недопустимая длина строки");
    EXPECT_EQ(a->getText(), "02002000");
    EXPECT_TRUE(a->changed);
    EXPECT_EQ(menu->markState, 4);

    a->setInt(4);
    EXPECT_EQ(a->getText(), "04");
    a->setInt(9);
    EXPECT_EQ(ui.lastMessage(), "ActionDTMF[3] (Действие - ввод цифры 3) : Недопустимый тип действия");
    EXPECT_EQ(a->getText(), "04");
}

TEST_F(Tables, CaptionsFollowTheDescription) {
    KT_TABLE* menu0 = base.menus->tableAt(0);
    EXPECT_EQ(menu0->getDescription(), "меню 0");
    EXPECT_EQ(nodeOf(*menu0).text, "меню 0");
    ASSERT_TRUE(menu0->findChild("Desc")->setEditText("Главное"));
    EXPECT_EQ(menu0->getDescription(), "меню 0 : Главное");
    EXPECT_EQ(nodeOf(*menu0).text, "меню 0 : Главное") << "the menu's node shows the new caption";
    EXPECT_EQ(base.sysparam->getDescription(), "системные параметры");
    EXPECT_EQ(base.mailboxes->tableAt(1)->getDescription(), "ящик 2");
}

TEST_F(Tables, TreeNodesAndImages) {
    ASSERT_EQ(rootNode->childCount(), 6);
    EXPECT_EQ(rootNode->kid(0)->text, "системные параметры");
    EXPECT_EQ(rootNode->kid(0)->imageIndex, -1);
    EXPECT_EQ(rootNode->kid(0)->state, 1);
    EXPECT_EQ(rootNode->kid(1)->imageIndex, -2);
    EXPECT_EQ(rootNode->kid(1)->childCount(), 2);
    EXPECT_EQ(rootNode->kid(1)->kid(1)->text, "линия 2");
    EXPECT_EQ(rootNode->kid(2)->imageIndex, -3);
    EXPECT_EQ(rootNode->kid(3)->imageIndex, -4);
    EXPECT_EQ(rootNode->kid(4)->imageIndex, -6);
    EXPECT_EQ(rootNode->kid(4)->kid(0)->imageIndex, -6);
    EXPECT_EQ(rootNode->kid(5)->imageIndex, -7);
    EXPECT_EQ(rootNode->kid(5)->kid(0)->imageIndex, -7);
    EXPECT_EQ(rootNode->kid(5)->kid(1)->data(), base.mailboxes->tableAt(1));
    EXPECT_EQ(rootNode->kid(0)->childCount(), 0) << "fields get no nodes";
}

TEST_F(Tables, InvisibleObjectGetsNoNodeAndNoListLine) {
    base.menus->tableAt(1)->isVisible = false;
    buildTree(*base.root);
    ASSERT_EQ(nodeOf(*base.menus).childCount(), 2);
    EXPECT_EQ(nodeOf(*base.menus).kid(1)->data(), base.menus->tableAt(2));

    KT_STRING_LIST list{{"stale", nullptr}};
    base.menus->fillList(list);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].text, "меню 0");
    EXPECT_EQ(list[1].text, "меню 2");
    EXPECT_EQ(list[1].record, base.menus->childAt(2));

    base.sysparam->fillList(list);
    EXPECT_TRUE(list.empty()) << "fields are no choices";
}

TEST_F(Tables, HiddenObjectForgetsItsDeletedNode) {
    KT_TABLE* menu1 = base.menus->tableAt(1);
    ASSERT_NE(menu1->node, nullptr);
    base.menus->isVisible = false;
    buildTree(*base.root);
    EXPECT_EQ(base.menus->node, nullptr);
    EXPECT_EQ(menu1->node, nullptr) << "a node of the old tree must not be touched again";
    ASSERT_TRUE(menu1->findChild("Desc")->setText("x")); // would write into a deleted node
    EXPECT_EQ(menu1->markState, 4);
    EXPECT_EQ(rootNode->childCount(), 5);
}

TEST_F(Tables, ActionTableNeverGetsANode) {
    auto holder = std::make_unique<KT_TABLE_LIST>();
    auto* kinds = holder->addTable(buildActions());
    holder->addTable(buildSysParam({"SYSPARAM", "s", "0", nullptr}));
    fake::TreeNode top("top", holder.get());
    holder->node = &top;
    buildTree(*holder);
    ASSERT_EQ(top.childCount(), 1);
    EXPECT_EQ(kinds->node, nullptr);
}

TEST_F(Tables, MarksDownAndUp) {
    KT_TABLE* trk1 = base.trks->tableAt(0);
    KT_TABLE* trk2 = base.trks->tableAt(1);
    trk1->markState = 2;
    trk1->refreshNode();
    markDown(*trk1, 2);
    markUp(*trk1, 2);
    EXPECT_EQ(base.trks->markState, 3);
    EXPECT_EQ(base.root->markState, 3);
    EXPECT_EQ(ui.shellStates.back(), 1) << "partial marks put the window into its modified state";

    trk2->markState = 2;
    trk2->refreshNode();
    markUp(*trk2, 2);
    EXPECT_EQ(base.trks->markState, 2);
    EXPECT_EQ(nodeOf(*base.trks).state, 2);
    EXPECT_EQ(base.root->markState, 3) << "the other children of the root are not marked";

    // Marking the root marks everything below it.
    base.root->markState = 2;
    base.root->refreshNode();
    markDown(*base.root, 2);
    EXPECT_EQ(base.menus->tableAt(2)->markState, 2);
    EXPECT_EQ(nodeOf(*base.menus->tableAt(2)).state, 2);
    EXPECT_EQ(uniformMark(*base.root, 2), 2);
    EXPECT_EQ(uniformMark(*base.menus->tableAt(0), 1), 1) << "a leaf has no differing child";

    base.menus->tableAt(1)->markState = 1;
    base.menus->tableAt(1)->refreshNode();
    EXPECT_EQ(uniformMark(*base.menus, 2), 1);
    markUp(*base.menus->tableAt(1), 1);
    EXPECT_EQ(base.menus->markState, 3);
    EXPECT_EQ(base.root->markState, 3);

    KT_TABLE loose;
    EXPECT_EQ(uniformMark(loose, 2), -1);
    markDown(loose, 2); // no node: nothing to do
    markUp(loose, 2);
}

TEST_F(Tables, MarkListHoldsMarkedAndChangedLeavesInTreeOrder) {
    KT_MARK_LIST list;
    fillMarkList(*base.root, list);
    EXPECT_TRUE(list.empty());

    ASSERT_TRUE(base.menus->tableAt(2)->findChild("Desc")->setText("Ночь"));
    base.trks->markState = 2;
    base.trks->refreshNode();
    markDown(*base.trks, 2);
    base.slps->markState = 2; // a marked list without its children marked adds nothing itself
    base.slps->refreshNode();
    fillMarkList(*base.root, list);
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].second, base.trks->tableAt(0));
    EXPECT_EQ(list[0].first, "линия 1");
    EXPECT_EQ(list[1].second, base.trks->tableAt(1));
    EXPECT_EQ(list[2].second, base.menus->tableAt(2));
    EXPECT_EQ(list[2].first, "меню 2 : Ночь");
}

namespace {
void childlessNodes(const host::TreeNode& node, std::vector<KT_TABLE*>& out) {
    for (int i = 0; i < node.childCount(); ++i) {
        const host::TreeNode* child = node.child(i);
        if (child->childCount() == 0)
            out.push_back(child->data());
        childlessNodes(*child, out);
    }
}
} // namespace

TEST_F(Tables, LeafListIsTheTreesLeavesWithOrWithoutNodes) {
    // The command line has no tree: its list of every object must be the window's tree's leaves all the same.
    KT_MARK_LIST all;
    fillLeafList(*base.root, all);
    std::vector<KT_TABLE*> leaves;
    childlessNodes(*rootNode, leaves);
    ASSERT_EQ(all.size(), leaves.size());
    for (std::size_t i = 0; i < all.size(); ++i) {
        EXPECT_EQ(all[i].second, leaves[i]) << i;
        EXPECT_EQ(all[i].first, all[i].second->getDescription());
    }
    // A leaf named alone stands for itself, a list for its leaves; the root is never an object to send.
    KT_MARK_LIST one;
    fillLeafList(*base.trks->tableAt(1), one);
    ASSERT_EQ(one.size(), 1u);
    EXPECT_EQ(one[0].second, base.trks->tableAt(1));
    KT_MARK_LIST lines;
    fillLeafList(*base.trks, lines);
    EXPECT_EQ(lines.size(), static_cast<std::size_t>(base.trks->childCount()));
    KT_BASE empty;
    KT_MARK_LIST none;
    fillLeafList(empty, none);
    EXPECT_TRUE(none.empty());
}

TEST_F(Tables, RootReportsModifiedOnlyWhenMixedOrChanged) {
    base.root->markState = 2;
    base.root->refreshNode();
    base.root->markState = 1;
    base.root->refreshNode();
    EXPECT_TRUE(ui.shellStates.empty());
    base.root->markState = 4;
    base.root->refreshNode();
    EXPECT_EQ(ui.shellStates, std::vector<int>{1});
}

TEST_F(Tables, EditorFrameShownAndHidden) {
    fake::EditorWindow frame;
    base.sysparam->editorFrame = &frame;
    int panel = 0, mainWindow = 0;
    base.sysparam->showEditor(&panel, &mainWindow);
    EXPECT_EQ(frame.calls,
              (std::vector<std::string>{"placeInto", "bringToFront", "show", "takeContext", "edit:KT_TABLE_SYSPARAM"}));
    EXPECT_EQ(frame.lastParent, &panel);
    EXPECT_EQ(frame.lastContext, &mainWindow);
    EXPECT_EQ(frame.edited, base.sysparam);
    base.sysparam->hideEditor();
    EXPECT_EQ(frame.calls.back(), "hideAndDetach");
    base.sysparam->editorFrame = nullptr;
    base.sysparam->showEditor(nullptr, nullptr);
    base.sysparam->hideEditor();
    EXPECT_EQ(frame.calls.size(), 6u);
}

TEST_F(Tables, DeviceTextOfDefaults) {
    EXPECT_EQ(base.sysparam->buildDeviceText(), "7316 0 12 12 0 1 2000 500 200 1 ");
    EXPECT_EQ(base.trks->tableAt(0)->buildDeviceText(), "0 0 0 0 0 ");
    EXPECT_EQ(base.slps->tableAt(0)->buildDeviceText(), "0 0 0 ");
    EXPECT_EQ(base.menus->tableAt(0)->buildDeviceText(), "'' 0 0 00 00 00 00 00 00 00 00 00 00 00 ");
    EXPECT_EQ(base.mailboxes->tableAt(0)->buildDeviceText(), "00 10 40 7 0 0 ");
    EXPECT_EQ(base.menus->buildDeviceText(), "500 501 502 ");
    KT_TABLE empty;
    EXPECT_EQ(empty.buildDeviceText(), "");
}

TEST_F(Tables, ParseMenuFromTheUnit) {
    KT_TABLE* menu = base.menus->tableAt(2);
    menu->parseDeviceText("'Главное меню  дня' {1:greeting.ktm:2048} 1 2 0105 02011530 04 0300 00 00 00 00 00 00 01");
    EXPECT_TRUE(ui.messages.empty()) << ui.lastMessage();
    EXPECT_EQ(menu->findChild("Desc")->getEditText(), "Главное меню  дня") << "blanks inside the text stay";
    EXPECT_EQ(menu->findChild("Message")->getText(), "greeting.wav");
    EXPECT_EQ(menu->findChild("CallSLPOnStart")->getText(), "1");
    EXPECT_EQ(menu->findChild("SLPIndex")->getText(), "2");
    EXPECT_EQ(menu->findChild("ActionTO")->getText(), "0105");
    EXPECT_EQ(menu->findChild("ActionDTMF[1]")->getText(), "02011530");
    EXPECT_EQ(menu->findChild("ActionDTMF[2]")->getText(), "04");
    EXPECT_EQ(menu->findChild("ActionDTMF[3]")->getText(), "0300");
    EXPECT_EQ(menu->findChild("ActionDTMF[0]")->getText(), "0100");
    EXPECT_EQ(menu->markState, 4);
    EXPECT_EQ(menu->buildDeviceText(), "'Главное меню  дня' 1 2 0105 02011530 04 0300 00 00 00 00 00 00 0100 ");

    menu->parseDeviceText("'' {} 0 0");
    EXPECT_EQ(menu->findChild("Desc")->getText(), "''");
    EXPECT_EQ(menu->findChild("Message")->getText(), "-") << "empty braces give the default";
    EXPECT_EQ(menu->findChild("ActionTO")->getText(), "00") << "missing values are read as empty";
    EXPECT_TRUE(ui.messages.empty()) << ui.lastMessage();
}

TEST_F(Tables, FileFieldFromTheUnitStaysInItsFolder) {
    KT_TABLE* menu = base.menus->tableAt(0);
    KT_RECORD* msg = menu->findChild("Message");
    menu->parseDeviceText("'' {0:../../etc/cron.d/job:1} 0 0");
    EXPECT_EQ(msg->getText(), "job.wav");
    menu->parseDeviceText("'' {0:..\\..\\boot.ini:1} 0 0");
    EXPECT_EQ(msg->getText(), "boot.wav");
    menu->parseDeviceText("'' {x:name} 0 0");
    EXPECT_EQ(msg->getText(), "name.wav");
    menu->parseDeviceText("'' {plain.ktm} 0 0");
    EXPECT_EQ(msg->getText(), "plain.wav") << "without colons the whole token is the name";
    menu->parseDeviceText("'' {0:..:1} 0 0");
    EXPECT_EQ(msg->getText(), "..wav");
    menu->parseDeviceText("'' {0::1} 0 0");
    EXPECT_EQ(msg->getText(), "-");
}

TEST_F(Tables, ClockTextKeepsItsLayout) {
    auto clock = buildClock({"CLOCK", "часы", "91", nullptr});
    EXPECT_EQ(clock->buildDeviceText(), "010101 0000 0 ");
    clock->parseDeviceText("050324 0907 03");
    EXPECT_TRUE(ui.messages.empty()) << ui.lastMessage();
    EXPECT_EQ(clock->buildDeviceText(), "050324 0907 03 ") << "the seconds keep their leading zero";
    EXPECT_EQ(clock->findChild("Date")->getEditText(), "05.03.2024");
    EXPECT_EQ(clock->findChild("Time")->getEditText(), "09:07");
    clock->parseDeviceText("310224 2500 61");
    EXPECT_EQ(ui.messages.size(), 3u) << "each bad group reports itself";
    EXPECT_EQ(clock->buildDeviceText(), "050324 0907 03 ");
}

TEST_F(Tables, ParseIgnoresSurplusAndReportsBadFields) {
    KT_TABLE* trk = base.trks->tableAt(0);
    trk->parseDeviceText("  2   1 9 1 0 surplus text");
    EXPECT_EQ(trk->buildDeviceText(), "2 1 0 1 0 ");
    ASSERT_EQ(ui.messages.size(), 1u) << "only the bad field complains";
    EXPECT_EQ(ui.messages[0], "HolidayMenu (Праздничное меню) : 9 - вне диапазона допустимых значений: [0...2]");
}

// Every object kind survives a round trip: values set, device text built, parsed into a fresh object.
TEST_F(Tables, DeviceTextRoundTripOfEveryObjectKind) {
    sample::Base fresh = sample::build(2, 3, 2);
    auto roundTrip = [&](KT_TABLE& from, KT_TABLE& to, const std::vector<std::pair<std::string, std::string>>& set) {
        for (auto& [key, text] : set)
            ASSERT_TRUE(from.findChild(key)->value->setText(text)) << key;
        to.parseDeviceText(from.buildDeviceText());
        EXPECT_TRUE(ui.messages.empty()) << from.getName() << ": " << ui.lastMessage();
        ASSERT_EQ(from.childCount(), to.childCount());
        for (int i = 0; i < from.childCount(); ++i) {
            if (kt_cast<KT_FILE>(from.childAt(i)->value.get()))
                continue;
            EXPECT_EQ(to.childAt(i)->getText(), from.childAt(i)->getText())
                << from.getName() << " " << from.childAt(i)->key;
        }
        EXPECT_EQ(to.buildDeviceText(), from.buildDeviceText());
    };
    roundTrip(*base.sysparam, *fresh.sysparam,
              {{"Password", "0123456789"},
               {"PulseDialing", "1"},
               {"GainRxdB12", "0"},
               {"GainTxdB12", "24"},
               {"AGCDisabled", "1"},
               {"NRingsToPickup", "99"},
               {"WaitAfterPickupMs", "10000"},
               {"InDiscLenMs", "0"},
               {"FlashLenMs", "150"},
               {"FlashPassthrough", "0"}});
    roundTrip(
        *base.trks->tableAt(1), *fresh.trks->tableAt(1),
        {{"DayMenu", "2"}, {"NightMenu", "1"}, {"HolidayMenu", "2"}, {"SetupAllowed", "1"}, {"MBAccessAllowed", "1"}});
    roundTrip(*base.slps->tableAt(1), *fresh.slps->tableAt(1),
              {{"Passthrough", "1"}, {"SetupAllowed", "1"}, {"MBAccessAllowed", "1"}});
    roundTrip(*base.timetable, *fresh.timetable,
              {{"DayStart[1]", "0830"},
               {"DayEnd[7]", "1745"},
               {"UseHoliday[9]", "1"},
               {"HolidayStart[0]", "2902"},
               {"HolidayEnd[9]", "3112"}});
    roundTrip(*base.menus->tableAt(1), *fresh.menus->tableAt(1),
              {{"Desc", "Ночь и выходные"},
               {"Message", "night.wav"},
               {"CallSLPOnStart", "1"},
               {"SLPIndex", "2"},
               {"ActionTO", "04"},
               {"ActionDTMF[1]", "0102"},
               {"ActionDTMF[5]", "02021001"},
               {"ActionDTMF[9]", "0301"},
               {"ActionDTMF[0]", "00"}});
    roundTrip(*base.mailboxes->tableAt(1), *fresh.mailboxes->tableAt(1),
              {{"Password", "4321"},
               {"MaxSizeMin", "500"},
               {"MaxMsgs", "1"},
               {"DaysToKeep", "30"},
               {"AutoRemoveOld", "1"},
               {"ReverseOrder", "1"}});

    auto info = buildDeviceInfo({"DEVICEINFO", "данные о системе", "90", nullptr}, 29);
    auto info2 = buildDeviceInfo({"DEVICEINFO", "данные о системе", "90", nullptr}, 19);
    roundTrip(*info, *info2,
              {{"ModelCode", "22"},
               {"SerialNum", "4294967295"},
               {"SoftVer", "1.02.03"},
               {"ConfigID", "29"},
               {"ConfigKey", "123456789"},
               {"FreeSpaceBytes", "2400000"}});
    auto clock = buildClock({"CLOCK", "часы", "91", nullptr});
    auto clock2 = buildClock({"CLOCK", "часы", "91", nullptr});
    roundTrip(*clock, *clock2, {{"Date", "290224"}, {"Time", "2359"}, {"Seconds", "59"}});
}

} // namespace
