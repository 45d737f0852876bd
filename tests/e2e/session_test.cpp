#include "unit_fixture.h"

using namespace devlink;

TEST_F(UnitTest, LoginWithTheRightPasswordReadsTheDeviceInformation) {
    start({"--serial", "424242"});
    ASSERT_TRUE(link->openSession());
    EXPECT_EQ(db->deviceInfo->findChild("SerialNum")->getText(), "424242");
    EXPECT_EQ(ui->deviceInfoChanges, 1);
    EXPECT_EQ(ui->dialogStates, std::vector<int>{2});
    EXPECT_TRUE(ui->questions.empty());
}

TEST_F(UnitTest, AWrongPasswordIsAskedForAgainAndTheDatabaseKeepsIts) {
    start({});
    db->findObject("SYSPARAM")->findChild("Password")->setText("1234");
    ui->passwords = {"9999", "7316"};
    ASSERT_TRUE(link->openSession());
    ASSERT_EQ(ui->editCaptions.size(), 2u);
    EXPECT_EQ(ui->editCaptions[0], "Неверный пароль|Введите пароль:|1234");
    EXPECT_EQ(ui->editCaptions[1], "Неверный пароль|Введите пароль:|9999");
    EXPECT_EQ(link->sessionPassword, "7316");
    EXPECT_EQ(db->findObject("SYSPARAM")->findChild("Password")->getText(), "1234");
}

TEST_F(UnitTest, CancellingThePasswordBoxEndsTheConnect) {
    start({});
    db->findObject("SYSPARAM")->findChild("Password")->setText("1234");
    EXPECT_FALSE(link->openSession());
    EXPECT_EQ(ui->editCaptions.size(), 1u);
}

TEST_F(UnitTest, ABusyUnitIsReportedWithoutASkipButton) {
    start({"--busy"});
    ui->abortRetryIgnore = {mrRetry, mrAbort};
    EXPECT_FALSE(link->openSession());
    ASSERT_EQ(ui->questions.size(), 2u);
    EXPECT_EQ(ui->questions[0], "Устройство занято. Дождитесь освобождения всех линий.");
    EXPECT_FALSE(ui->skipAllowed[0]);
}

TEST_F(UnitTest, ASilentUnitIsTriedThreeTimesThenAsked) {
    start({"--mute"});
    ui->abortRetryIgnore = {mrAbort};
    EXPECT_FALSE(link->openSession());
    ASSERT_EQ(ui->questions.size(), 1u);
    EXPECT_EQ(ui->questions[0], "Нет ответа от устройства");
    EXPECT_FALSE(ui->skipAllowed[0]);
}

TEST_F(UnitTest, APortThatCannotBeOpenedSaysSoAndWhy) {
    start({});
    const std::string missing = (dir.path() / "no-such-tty").string();
    link->devicePath = missing;
    EXPECT_FALSE(link->openSession());
    ASSERT_EQ(ui->messages.size(), 1u);
    EXPECT_EQ(ui->messages[0].rfind("Не удалось открыть COM порт.\n\n", 0), 0u) << ui->messages[0];
    EXPECT_NE(ui->messages[0].find("Устройства " + missing + " сейчас нет"), std::string::npos) << ui->messages[0];
}

TEST_F(UnitTest, TheClockIsReadAndSet) {
    start({"--clock", "050324 0907 03"});
    ASSERT_TRUE(link->openSession());
    DeviceDateTime t;
    ASSERT_TRUE(link->getDeviceClock(t));
    EXPECT_EQ(t.year, 2024);
    EXPECT_EQ(t.month, 3);
    EXPECT_EQ(t.day, 5);
    EXPECT_EQ(t.hour, 9);
    EXPECT_EQ(t.minute, 7);
    DeviceDateTime set{2031, 12, 24, 18, 30, 0};
    ASSERT_TRUE(link->setDeviceClock(set));
    ASSERT_TRUE(link->getDeviceClock(t));
    EXPECT_EQ(t.year, 2031);
    EXPECT_EQ(t.month, 12);
    EXPECT_EQ(t.day, 24);
    EXPECT_EQ(t.hour, 18);
    EXPECT_EQ(t.minute, 30);
}
