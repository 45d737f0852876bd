#include "unit_fixture.h"

using namespace devlink;

namespace {

// Gives every leaf object a value other than its default, so that a round trip through the unit shows.
void changeSomething(SettingsDatabase& d) {
    d.findObject("SYSPARAM")->findChild("NRingsToPickup")->setText("7");
    d.findObject("TRK(1)")->findChild("DayMenu")->setText("3");
    d.findObject("SLP(1)")->findChild("Passthrough")->setText("1");
    d.findObject("TIMETABLE")->findChild("DayEnd[5]")->setText("1730");
    d.findObject("MENU(0)")->findChild("Desc")->setEditText("Главное меню");
    d.findObject("MENU(49)")->findChild("SLPIndex")->setText("1");
    d.findObject("MAILBOX(2)")->findChild("MaxMsgs")->setText("33");
}

} // namespace

class ObjectsBothTypes : public UnitTest, public ::testing::WithParamInterface<int> {};

TEST_P(ObjectsBothTypes, EveryObjectWrittenAndReadBack) {
    const int configId = GetParam();
    start({"--type", configId == 19 ? "QOR11" : "QOR22"}, configId);
    ASSERT_TRUE(link->openSession());
    changeSomething(*db);
    leafObjects(*db->root, link->linkObjects);
    const int total = static_cast<int>(link->linkObjects.size());
    ASSERT_EQ(total, configId == 19 ? 1 + 1 + 1 + 1 + 50 + 2 : 1 + 2 + 2 + 1 + 50 + 2);
    link->writeMode = true;
    EXPECT_EQ(link->writeAll(), total);
    EXPECT_EQ(ui->panels[1], "Настройки записаны успешно");
    EXPECT_TRUE(ui->questions.empty());

    // A fresh database of the same type takes everything from the unit.
    auto fresh = newDatabase("fresh", configId);
    link->database = fresh.get();
    link->linkObjects.clear();
    leafObjects(*fresh->root, link->linkObjects);
    link->writeMode = false;
    EXPECT_EQ(link->readAll(), total);
    EXPECT_EQ(ui->panels[1], "Настройки прочитаны успешно");
    EXPECT_EQ(ui->rows[1], "OK");
    // Nothing changes before the answers are applied.
    EXPECT_EQ(fresh->findObject("SYSPARAM")->findChild("NRingsToPickup")->getText(), "1");
    link->applyPendingAnswers();
    std::vector<std::pair<std::string, KT_TABLE*>> written;
    leafObjects(*db->root, written);
    for (int k = 0; k < total; ++k) {
        SCOPED_TRACE(written[static_cast<std::size_t>(k)].second->name);
        EXPECT_EQ(link->linkObjects[static_cast<std::size_t>(k)].second->buildDeviceText(),
                  written[static_cast<std::size_t>(k)].second->buildDeviceText());
    }
    EXPECT_EQ(fresh->findObject("MENU(0)")->findChild("Desc")->getEditText(), "Главное меню");
}

INSTANTIATE_TEST_SUITE_P(Units, ObjectsBothTypes, ::testing::Values(19, 29));

TEST_F(UnitTest, AnObjectTheUnitRefusesIsAskedAboutAndSkipped) {
    start({"--type", "QOR11"}, 19);
    ASSERT_TRUE(link->openSession());
    // A QOR22 database against a QOR11 unit: the second lines are unknown to it.
    auto other = newDatabase("other", 29);
    link->database = other.get();
    link->linkObjects = {
        {"", other->findObject("TRK(1)")}, {"", other->findObject("TRK(2)")}, {"", other->findObject("SLP(1)")}};
    ui->abortRetryIgnore = {mrRetry, mrIgnore};
    EXPECT_EQ(link->readAll(), 2);
    ASSERT_EQ(ui->questions.size(), 2u);
    EXPECT_EQ(ui->questions[0], other->findObject("TRK(2)")->getDescription() + ": Неверный код объекта");
    EXPECT_EQ(ui->rows[2], "Ошибка");
    EXPECT_EQ(ui->rows[3], "OK");
    EXPECT_EQ(ui->panels[1], "Ошибок при чтении: 1");
    EXPECT_TRUE(link->pendingAnswers[1].empty());
}

TEST_F(UnitTest, StopFromTheQuestionEndsTheWriteAndRereadsTheDeviceInformation) {
    start({"--type", "QOR11"}, 19);
    ASSERT_TRUE(link->openSession());
    auto other = newDatabase("other", 29);
    link->database = other.get();
    link->linkObjects = {
        {"", other->findObject("TRK(1)")}, {"", other->findObject("TRK(2)")}, {"", other->findObject("SLP(1)")}};
    ui->abortRetryIgnore = {mrAbort};
    const int infoBefore = ui->deviceInfoChanges;
    EXPECT_EQ(link->writeAll(), 2);
    EXPECT_EQ(ui->rows[1], "OK");
    EXPECT_EQ(ui->rows[2], "Прервано"); // the row the stop came in says so
    EXPECT_EQ(ui->rows.size(), 3u);     // the rest keep an empty status
    EXPECT_EQ(ui->panels[1], "Запись прервана. Ошибок при записи: 1");
    EXPECT_EQ(ui->deviceInfoChanges, infoBefore + 1);
}
