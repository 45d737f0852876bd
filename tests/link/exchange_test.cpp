// Command exchanges and their recovery against a unit played on a pseudo-terminal.
#include "link_fixture.h"

#include "model/tables.h"

using namespace devlink;

namespace {

// Counts the commands that arrive and answers each one with the next scripted answer ("" = silence).
void answerCommands(Peer& p, std::vector<std::string> answers, int& commands, const std::string& command = "geto") {
    for (const auto& answer : answers) {
        const std::string got = p.readUntil(command, 4000);
        if (got.find(command) == std::string::npos)
            return;
        p.readUntil(" ", 500); // the argument's trailing blank
        ++commands;
        if (!answer.empty())
            p.write(answer);
    }
}

} // namespace

class Exchange : public LinkTest {
protected:
    void SetUp() override {
        LinkTest::SetUp();
        object.description = "системные параметры";
        object.valueText = "0";
    }
    KT_TABLE_SYSPARAM object;
};

TEST_F(Exchange, AnAnswerSplitAnywhereCompletesAtThePrompt) {
    runPeer([](Peer& p) {
        p.readUntil("geto 0 ");
        for (const char* piece : {"7316 0 1", "2 O", "K", " \r\n", "#"}) {
            p.write(piece);
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
        }
    });
    link->setTimeout(3000);
    std::string payload;
    EXPECT_EQ(link->cmdGetObject("0", payload), 0);
    EXPECT_EQ(payload, "7316 0 12");
}

TEST_F(Exchange, GarbageAndErrWithoutANumberEndInTheTimeOut) {
    runPeer([](Peer& p) {
        p.readUntil("seto 0 x ");
        p.write("\x01\xff garbage without a prompt");
        p.readUntil("seto 0 x ");
        p.write("ERR#");
    });
    link->setTimeout(300);
    EXPECT_EQ(link->cmdSetObject("0", "x"), rcNoAnswer);
    EXPECT_EQ(link->cmdSetObject("0", "x"), rcNoAnswer);
}

TEST_F(Exchange, ATimeOutIsRunThreeTimesBeforeTheQuestionAndRetryGivesThreeMore) {
    int commands = 0;
    runPeer([&](Peer& p) { answerCommands(p, {"", "", "", "", "", "1 OK #"}, commands); });
    ui->abortRetryIgnore = {mrRetry};
    std::string payload;
    int d = dcRetry;
    while (d == dcRetry)
        d = link->readObject(object, payload);
    joinPeer();
    EXPECT_EQ(d, dcDone);
    EXPECT_EQ(commands, 6);
    ASSERT_EQ(ui->questions.size(), 1u);
    EXPECT_EQ(ui->questions[0], "системные параметры: Нет ответа от устройства");
    EXPECT_TRUE(ui->skipAllowed[0]);
    EXPECT_EQ(payload, "1");
}

TEST_F(Exchange, UnitErrorsBecomeQuestionsWithTheirTexts) {
    int commands = 0;
    runPeer([&](Peer& p) {
        answerCommands(p, {"ERR 3 #", "ERR 3 #", "ERR 3 #", "ERR 42\r\n#", "ERR 42 #", "ERR 42 #"}, commands, "seto");
    });
    ui->abortRetryIgnore = {mrIgnore, mrAbort};
    EXPECT_EQ(link->setObjectChecked(object, "1 "), dcSkip);
    EXPECT_EQ(link->setObjectChecked(object, "1 "), dcStop);
    joinPeer();
    ASSERT_EQ(ui->questions.size(), 2u);
    EXPECT_EQ(ui->questions[0], "системные параметры: Неверное значение поля");
    EXPECT_EQ(ui->questions[1], "системные параметры: Ошибка 42");
}

TEST_F(Exchange, StopWhileWaitingIsAPlainMessageAndNoQuestion) {
    runPeer([](Peer& p) { p.readUntil("geto 0 "); });
    int polls = 0;
    ui->onEvents = [&] {
        if (++polls == 20)
            link->bt_StopClick();
    };
    std::string payload;
    EXPECT_EQ(link->readObject(object, payload), dcStopped);
    EXPECT_TRUE(ui->questions.empty());
    EXPECT_EQ(ui->messages, std::vector<std::string>{"Передача прервана пользователем"});
}

TEST_F(Exchange, UploadOfAMissingFileIs103ButAMissingUnitFileIsADoneDownload) {
    ui->abortRetryIgnore = {mrIgnore};
    EXPECT_EQ(link->uploadObjectFile(object, tempDir + "none.wav"), dcSkip);
    ASSERT_EQ(ui->questions.size(), 1u);
    EXPECT_EQ(ui->questions[0], "системные параметры: Ошибка 103");

    int commands = 0;
    runPeer([&](Peer& p) { answerCommands(p, {"-", "-", "-"}, commands, " dl "); });
    EXPECT_EQ(link->downloadObjectFile(object, tempDir + "m/"), dcDone);
    joinPeer();
    // Like any result but success and the stops, "-" is repeated.
    EXPECT_EQ(commands, 3);
    EXPECT_EQ(ui->questions.size(), 1u);
}

TEST_F(Exchange, LoginTakesThePromptFirstAndTestsThePromptBeforeError) {
    runPeer([](Peer& p) {
        p.readUntil(" quit\r");
        p.write("\r\nPass");
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        p.write("word:");
        p.readUntil("\r");
        p.write("ERROR\r\n#");
        p.readUntil(" quit\r");
        p.write("Password:");
        p.readUntil("\r");
        p.write("ERROR\r\n");
    });
    EXPECT_EQ(link->cmdLogin(""), rcOk);
    EXPECT_EQ(link->cmdLogin("12"), rcWrongPassword);
}

TEST_F(Exchange, ShortNamesOfUploads) {
    EXPECT_EQ(DeviceLink::shortName("/x/abcdefghijk lmnopqr.wav"), "abcdefghijk_");
    EXPECT_EQ(DeviceLink::shortName("/x/a b?c.d.wav"), "a_b_c.d");
    EXPECT_EQ(DeviceLink::shortName("/x/noext"), "noext");
    // Cyrillic letters stay (as Windows-1251 bytes), twelve characters, not twelve UTF-8 bytes.
    EXPECT_EQ(DeviceLink::shortName("/x/Приветствие длинное.wav"), "\xcf\xf0\xe8\xe2\xe5\xf2\xf1\xf2\xe2\xe8\xe5_");
}
