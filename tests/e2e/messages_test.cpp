#include "unit_fixture.h"

using namespace devlink;

class Messages : public UnitTest {
protected:
    // Gives MENU(k) a local WAV of the given length and names it in the menu.
    std::string giveMessage(SettingsDatabase& d, int k, const std::string& file, int samples) {
        KT_TABLE* menu = d.findObject("MENU(" + std::to_string(k) + ")");
        const fs::path folder = fs::path(d.messagesFolder) / (menu->getText() + "01");
        fs::create_directories(folder);
        writeWav((folder / file).string(), 8000, samples);
        menu->findChild("Message")->setText(file);
        return (folder / file).string();
    }
    KT_TABLE* menu(SettingsDatabase& d, int k) { return d.findObject("MENU(" + std::to_string(k) + ")"); }
};

TEST_F(Messages, UploadConvertsAndDownloadBringsTheMessageBack) {
    start({});
    ASSERT_TRUE(link->openSession());
    giveMessage(*db, 0, "Приветствие длинное.wav", 16001);
    link->linkObjects = {{"", menu(*db, 0)}};
    EXPECT_EQ(link->writeAll(), 1);
    EXPECT_TRUE(ui->questions.empty());
    // The short name: twelve characters, the blank replaced; the unit stores the converted file.
    const fs::path onUnit = unitMessages("500") / "Приветствие_.ktm";
    ASSERT_TRUE(fs::exists(onUnit));
    EXPECT_EQ(fs::file_size(onUnit), 8000u);

    auto fresh = newDatabase("fresh", 29);
    link->database = fresh.get();
    link->linkObjects = {{"", menu(*fresh, 0)}, {"", menu(*fresh, 1)}};
    link->isLoadMsg = true;
    EXPECT_EQ(link->readAll(), 2);
    EXPECT_TRUE(ui->questions.empty());
    link->applyPendingAnswers();
    EXPECT_EQ(menu(*fresh, 0)->findChild("Message")->getText(), "Приветствие_.wav");
    const fs::path local = fs::path(fresh->messagesFolder) / "50001" / "Приветствие_.wav";
    ASSERT_TRUE(fs::exists(local));
    EXPECT_EQ(fs::file_size(local), 44u + 4 * 8000u);
    // The menu without a message on the unit got none, and nothing is left in the staging folder.
    EXPECT_FALSE(fs::exists(fs::path(fresh->messagesFolder) / "50101") &&
                 !fs::is_empty(fs::path(fresh->messagesFolder) / "50101"));
    for (const auto& e : fs::directory_iterator(link->tempFolder))
        EXPECT_EQ(e.path().extension(), ".ktm") << e.path(); // only the staged upload stays
}

TEST_F(Messages, ExistingFileQuestionsAndTheirAnswersForAll) {
    start({});
    ASSERT_TRUE(link->openSession());
    giveMessage(*db, 0, "a.wav", 800);
    giveMessage(*db, 1, "b.wav", 800);
    giveMessage(*db, 2, "c.wav", 800);
    giveMessage(*db, 3, "d.wav", 800);
    link->linkObjects = {{"", menu(*db, 0)}, {"", menu(*db, 1)}, {"", menu(*db, 2)}, {"", menu(*db, 3)}};
    ASSERT_EQ(link->writeAll(), 4);

    // Second write: MENU(0) new local file, answer "Нет"; MENU(1) "Да - для всех" replaces it and MENU(2)
    // without asking; MENU(3) has no local file any more: its own question, "Да" deletes.
    giveMessage(*db, 0, "a2.wav", 1600);
    giveMessage(*db, 1, "b2.wav", 1600);
    giveMessage(*db, 2, "c2.wav", 1600);
    fs::remove(fs::path(db->messagesFolder) / "50301" / "d.wav");
    ui->yesNoAll = {mrNo, mrYesToAll, mrYes};
    ui->questions.clear();
    EXPECT_EQ(link->writeAll(), 4);
    ASSERT_EQ(ui->questions.size(), 3u);
    EXPECT_EQ(ui->questions[0], menu(*db, 0)->getDescription() + ": Файл уже существует. Заменить?");
    EXPECT_EQ(ui->questions[1], menu(*db, 1)->getDescription() + ": Файл уже существует. Заменить?");
    EXPECT_EQ(ui->questions[2], menu(*db, 3)->getDescription() + ": Файл уже существует. Удалить?");
    EXPECT_TRUE(fs::exists(unitMessages("500") / "a.ktm"));
    EXPECT_FALSE(fs::exists(unitMessages("500") / "a2.ktm"));
    EXPECT_TRUE(fs::exists(unitMessages("501") / "b2.ktm"));
    EXPECT_FALSE(fs::exists(unitMessages("501") / "b.ktm"));
    EXPECT_TRUE(fs::exists(unitMessages("502") / "c2.ktm"));
    EXPECT_TRUE(!fs::exists(unitMessages("503")) || fs::is_empty(unitMessages("503")));
}

TEST_F(Messages, CancelInTheQuestionStopsTheWrite) {
    start({});
    ASSERT_TRUE(link->openSession());
    giveMessage(*db, 0, "a.wav", 800);
    link->linkObjects = {{"", menu(*db, 0)}, {"", menu(*db, 1)}};
    ASSERT_EQ(link->writeAll(), 2);
    ui->yesNoAll = {mrCancel};
    ui->rows.clear();
    EXPECT_EQ(link->writeAll(), 2); // a cancel is no counted failure
    // but the row and the summary say the write did not get through: the second menu was never reached.
    EXPECT_EQ(ui->rows[1], "Прервано");
    EXPECT_TRUE(ui->rows.size() < 3 || ui->rows[2].empty());
    EXPECT_EQ(ui->panels[1], "Запись прервана");
}

TEST_F(Messages, AHangUpMidTransferEndsTheJobWithTheLostLineAndClosingStillWorks) {
    start({"--hangup-after", "3000"});
    ASSERT_TRUE(link->openSession());
    giveMessage(*db, 0, "long.wav", 40000);
    link->linkObjects = {{"", menu(*db, 0)}};
    ui->abortRetryIgnore = {mrIgnore};
    // Nothing to repeat or skip on a line that is gone: the job ends, and the loss is said once.
    EXPECT_EQ(link->writeAll(), 0);
    EXPECT_TRUE(ui->questions.empty());
    EXPECT_EQ(ui->messages, std::vector<std::string>{devlink::text::lineLost});
    // The port's own notice comes from its event thread and may still be on its way when the job has ended.
    for (int i = 0; i < 500 && ui->lineLosses == 0; ++i)
        queue.ProcessEvents(10);
    EXPECT_EQ(ui->lineLosses, 1);
    // The row and the summary say why, not "stopped".
    EXPECT_EQ(ui->rows[1], "Нет связи");
    EXPECT_EQ(ui->panels[1], "Связь с устройством потеряна. Ошибок при записи: 1");
    link->closeSession();
    EXPECT_FALSE(link->VaComm1->Active());
}

TEST_F(Messages, ALineLostWhileReadingAMessageLeavesTheRowAndTheSummaryTruthful) {
    start({"--hangup-after", "3000"});
    ASSERT_TRUE(link->openSession());
    fs::create_directories(unitMessages("500"));
    std::ofstream(unitMessages("500") / "m.ktm", std::ios::binary) << std::string(20000, '\x11');
    link->linkObjects = {{"", menu(*db, 0)}, {"", menu(*db, 1)}};
    link->isLoadMsg = true;
    // The menu's settings came, its message did not: the object is not read, and nothing after it.
    EXPECT_EQ(link->readAll(), 0);
    EXPECT_EQ(ui->rows[1], "Нет связи");
    EXPECT_TRUE(ui->rows.size() < 3 || ui->rows[2].empty());
    EXPECT_EQ(ui->panels[1], "Связь с устройством потеряна. Ошибок при чтении: 2");
    EXPECT_TRUE(link->pendingAnswers[0].empty());
    // The port's own notice comes from its event thread and may still be on its way when the job has ended.
    for (int i = 0; i < 500 && ui->lineLosses == 0; ++i)
        queue.ProcessEvents(10);
    EXPECT_EQ(ui->lineLosses, 1);
}

TEST_F(Messages, AFailedDownloadKeepsTheOldLocalMessage) {
    start({"--corrupt", "1", "--fault-dir", "out", "--fault-scope", "transfer"});
    ASSERT_TRUE(link->openSession());
    // The unit holds a message, and so does the local folder.
    fs::create_directories(unitMessages("500"));
    std::ofstream(unitMessages("500") / "m.ktm", std::ios::binary) << std::string(4000, '\x11');
    giveMessage(*db, 0, "m.wav", 800);
    link->linkObjects = {{"", menu(*db, 0)}};
    // The local copy the download would replace.
    const std::string local = (fs::path(db->messagesFolder) / "50001" / "m.wav").string();
    const std::string before = readAllOf(local);
    link->isLoadMsg = true;
    ui->abortRetryIgnore = {mrIgnore};
    EXPECT_EQ(link->readAll(), 1);
    EXPECT_EQ(ui->rows[1], "Ошибка");
    EXPECT_EQ(readAllOf(local), before);
    EXPECT_TRUE(link->pendingAnswers[0].empty());
    for (const auto& e : fs::directory_iterator(link->tempFolder))
        EXPECT_NE(e.path().filename(), "m.ktm.part") << e.path();
}

TEST_F(Messages, StopDuringATransfer) {
    start({"--baud", "38400"});
    ASSERT_TRUE(link->openSession());
    giveMessage(*db, 0, "long.wav", 80000); // 40000 bytes on the line: about 11 s
    link->linkObjects = {{"", menu(*db, 0)}, {"", menu(*db, 1)}};
    ui->onEvents = [&] {
        if (ui->panels[1].find("%") != std::string::npos && ui->panels[1] != "Файл: long.ktm: 0%")
            link->bt_StopClick();
    };
    const int done = link->writeAll();
    ui->onEvents = nullptr;
    EXPECT_EQ(done, 1);
    EXPECT_NE(std::find(ui->messages.begin(), ui->messages.end(), "Передача прервана пользователем"),
              ui->messages.end());
    EXPECT_TRUE(ui->questions.empty());
    EXPECT_FALSE(fs::exists(unitMessages("500") / "long.ktm"));
    // The link is usable afterwards.
    std::string payload;
    EXPECT_EQ(link->readObject(*db->findObject("SYSPARAM"), payload), dcDone);
}

// The unit's message is deleted before the new one goes; a stop in between leaves the menu silent on the unit,
// and the row and the summary say so instead of a blank status.
TEST_F(Messages, StopDuringAReplacingUploadSaysTheMenuLostItsMessage) {
    start({"--baud", "38400"});
    ASSERT_TRUE(link->openSession());
    fs::create_directories(unitMessages("500"));
    std::ofstream(unitMessages("500") / "old.ktm", std::ios::binary) << std::string(2000, '\x22');
    giveMessage(*db, 0, "long.wav", 80000);
    link->linkObjects = {{"", menu(*db, 0)}, {"", menu(*db, 1)}};
    ui->yesNoAll = {mrYes}; // "Заменить?"
    ui->onEvents = [&] {
        if (ui->panels[1].find("%") != std::string::npos && ui->panels[1] != "Файл: long.ktm: 0%")
            link->bt_StopClick();
    };
    const int done = link->writeAll();
    ui->onEvents = nullptr;
    EXPECT_EQ(done, 1);
    ASSERT_GE(ui->rows.size(), 2u);
    EXPECT_EQ(ui->rows[1], "Прервано, сообщение на блоке удалено");
    EXPECT_TRUE(ui->rows.size() < 3 || ui->rows[2].empty()) << "the second menu was not reached";
    EXPECT_EQ(ui->panels[1],
              "Запись прервана. Ошибок при записи: 1. Без сообщения на блоке: " + menu(*db, 0)->getDescription());
    EXPECT_FALSE(fs::exists(unitMessages("500") / "old.ktm"));
    EXPECT_FALSE(fs::exists(unitMessages("500") / "long.ktm"));

    // Stopped before anything was deleted (in the question): the unit keeps its message and nothing is named.
    std::ofstream(unitMessages("500") / "old.ktm", std::ios::binary) << std::string(2000, '\x22');
    ui->yesNoAll = {mrCancel};
    ui->rows.clear();
    EXPECT_EQ(link->writeAll(), 2);
    EXPECT_EQ(ui->rows[1], "Прервано");
    EXPECT_EQ(ui->panels[1], "Запись прервана");
    EXPECT_TRUE(fs::exists(unitMessages("500") / "old.ktm"));
}

TEST_F(Messages, CorruptedAndLostBytesInTransfersAreRepaired) {
    start({"--corrupt", "0.0002", "--drop", "0.0001", "--fault-scope", "transfer", "--seed", "7"});
    ASSERT_TRUE(link->openSession());
    giveMessage(*db, 0, "noisy.wav", 24000);
    link->linkObjects = {{"", menu(*db, 0)}};
    ui->abortRetryIgnore = {mrRetry, mrRetry, mrRetry};
    EXPECT_EQ(link->writeAll(), 1);
    const fs::path onUnit = unitMessages("500") / "noisy.ktm";
    ASSERT_TRUE(fs::exists(onUnit));
    EXPECT_EQ(readAllOf(onUnit), readAllOf(fs::path(link->tempFolder) / "noisy.ktm"));

    auto fresh = newDatabase("fresh", 29);
    link->database = fresh.get();
    link->linkObjects = {{"", menu(*fresh, 0)}};
    link->isLoadMsg = true;
    EXPECT_EQ(link->readAll(), 1);
    for (auto& q : ui->questions)
        ADD_FAILURE() << q;
    // Blocks are stored in whole byte pairs, so an odd file loses its last byte on the way down.
    EXPECT_EQ(fs::file_size(fs::path(fresh->messagesFolder) / "50001" / "noisy.wav"),
              44u + 4 * (fs::file_size(onUnit) & ~std::uintmax_t{1}));
}
