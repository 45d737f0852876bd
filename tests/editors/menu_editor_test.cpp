#include "editor_fixture.h"

#include "editors/message_audio.h"
#include "editors/ted_menu.h"
#include "model/actions.h"
#include "model/tables.h"
#include "model/unit_config.h"
#include "tests/support/wav_bytes.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QtTest/QTest>

using namespace zirezid;

namespace {

// A short PCM WAV file: 8000 Hz, 16 bits, mono, a tenth of a second of a tone.
void writeWav(const QString& path, int samples = 800) {
    const std::string wav = testwav::pcm16Mono(samples, [](int i) { return i % 16 < 8 ? 4000 : -4000; });
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(wav.data(), static_cast<qint64>(wav.size()));
}

class MenuEditorTest : public test::EditorTest {
protected:
    MenuEditorTest() : ed(static_cast<Ted_menu*>(frames.ed_menu.get())) {
        ed->chooseMessageFile = [this](const QString& folder) {
            dialogFolders << folder;
            return chosen.isEmpty() ? QString() : chosen.takeFirst();
        };
    }
    Ted_menu::ActionRow& row(const char* key) {
        for (Ted_menu::ActionRow& r : ed->rows)
            if (std::string(r.key) == key)
                return r;
        throw std::runtime_error(key);
    }
    // Picks an entry of a drop-down list as the user does.
    static void pick(QComboBox* combo, int index) {
        combo->setCurrentIndex(index);
        emit combo->activated(index);
    }
    Ted_menu* ed;
    QStringList chosen;
    QStringList dialogFolders;
};

} // namespace

TEST_F(MenuEditorTest, RowsStandInTheirOrderAndShowOnlyTheKind) {
    show(ed, object("MENU(0)"));
    ASSERT_EQ(ed->rows.size(), 11u);
    EXPECT_EQ(ed->rows.front().label->text(), QStringLiteral("Таймаут"));
    EXPECT_EQ(ed->rows[1].label->text(), QStringLiteral("ввод 1"));
    EXPECT_EQ(ed->rows.back().label->text(), QStringLiteral("ввод 0"));
    EXPECT_STREQ(ed->rows.back().key, "ActionDTMF[0]");
    EXPECT_EQ(ed->rows.back().cb_1->objectName(), QStringLiteral("cb_110"));
    Ted_menu::ActionRow& r = row("ActionTO");
    EXPECT_EQ(r.cb_1->count(), 5);
    EXPECT_EQ(r.cb_1->itemText(2), QStringLiteral("Звонок на оператора"));
    EXPECT_EQ(r.cb_1->currentIndex(), 0);
    EXPECT_EQ(r.cb_1->maxVisibleItems(), 20);
    EXPECT_TRUE(r.cb_2->isHidden());
    EXPECT_TRUE(r.ed_2->isHidden());
    EXPECT_TRUE(r.cb_3->isHidden());
    EXPECT_EQ(ed->stCaption->text(), QStringLiteral("меню 0"));
}

TEST_F(MenuEditorTest, ChoosingOperatorCallStoresDefaultAndShowsItsParts) {
    show(ed, object("MENU(1)"));
    Ted_menu::ActionRow& r = row("ActionDTMF[3]");
    pick(r.cb_1, 2);
    EXPECT_EQ(field("MENU(1)", "ActionDTMF[3]"), "02002000");
    EXPECT_EQ(object("MENU(1)")->markState, kMarkChanged);
    EXPECT_FALSE(r.cb_2->isHidden());
    EXPECT_EQ(r.cb_2->currentText(), QStringLiteral("Все операторы"));
    EXPECT_EQ(r.cb_2->count(), 3); // all operators and the two lines of QOR22
    EXPECT_EQ(r.cb_2->itemText(2), QStringLiteral("Оператор 2"));
    EXPECT_EQ(r.cb_2->toolTip(), QStringLiteral("Выбрать оператора"));
    EXPECT_FALSE(r.ed_2->isHidden());
    EXPECT_EQ(r.ed_2->text(), QStringLiteral("20"));
    EXPECT_FALSE(r.cb_3->isHidden());
    EXPECT_EQ(r.cb_3->currentIndex(), 0);
    EXPECT_EQ(r.cb_3->currentText(), QStringLiteral("меню 0"));
    EXPECT_EQ(r.cb_3->maxVisibleItems(), 15);

    // Each part of the row goes into its digit pair.
    pick(r.cb_2, 2);
    r.ed_2->setText(QStringLiteral("7"));
    leave(r.ed_2);
    pick(r.cb_3, 12);
    EXPECT_EQ(field("MENU(1)", "ActionDTMF[3]"), "02020712");
    EXPECT_EQ(r.ed_2->text(), QStringLiteral("7"));

    // A menu jump: the menus list and its default.
    pick(r.cb_1, 1);
    EXPECT_EQ(field("MENU(1)", "ActionDTMF[3]"), "0100");
    EXPECT_EQ(r.cb_2->count(), 50);
    EXPECT_EQ(r.cb_2->maxVisibleItems(), 20);
    EXPECT_TRUE(r.ed_2->isHidden());
    EXPECT_TRUE(r.cb_3->isHidden());
    pick(r.cb_2, 5);
    EXPECT_EQ(field("MENU(1)", "ActionDTMF[3]"), "0105");

    // Leaving a message: the mailboxes.
    pick(r.cb_1, 3);
    EXPECT_EQ(r.cb_2->count(), 2);
    EXPECT_EQ(r.cb_2->itemText(1), QStringLiteral("ящик 2"));
    pick(r.cb_2, 1);
    EXPECT_EQ(field("MENU(1)", "ActionDTMF[3]"), "0301");
    EXPECT_TRUE(recorder.messages.isEmpty()) << recorder.messages.join('\n').toStdString();
}

TEST_F(MenuEditorTest, KindWithoutParameterHidesEveryParameterControl) {
    show(ed, object("MENU(0)"));
    Ted_menu::ActionRow& r = row("ActionDTMF[5]");
    pick(r.cb_1, 2);
    ASSERT_FALSE(r.cb_3->isHidden());
    pick(r.cb_1, 0);
    EXPECT_EQ(field("MENU(0)", "ActionDTMF[5]"), "00");
    for (QWidget* w : {static_cast<QWidget*>(r.cb_2), static_cast<QWidget*>(r.st_2), static_cast<QWidget*>(r.ed_2),
                       static_cast<QWidget*>(r.st_3), static_cast<QWidget*>(r.cb_3)}) {
        EXPECT_TRUE(w->isHidden()) << w->objectName().toStdString();
        EXPECT_FALSE(w->isEnabled()) << w->objectName().toStdString();
    }
    pick(r.cb_1, 4);
    EXPECT_EQ(field("MENU(0)", "ActionDTMF[5]"), "04");
    EXPECT_TRUE(r.cb_2->isHidden());
}

TEST_F(MenuEditorTest, WaitThatIsNoWholeNumberChangesNothing) {
    show(ed, object("MENU(0)"));
    Ted_menu::ActionRow& r = row("ActionTO");
    pick(r.cb_1, 2);
    r.ed_2->setText(QStringLiteral("35"));
    leave(r.ed_2);
    ASSERT_EQ(field("MENU(0)", "ActionTO"), "02003500");
    // Letters never reach the field; an emptied field is no number.
    r.ed_2->setFocus();
    r.ed_2->selectAll();
    QTest::keyClick(r.ed_2, Qt::Key_A);
    EXPECT_TRUE(r.ed_2->text() == QStringLiteral("35") || r.ed_2->text().isEmpty());
    r.ed_2->clear();
    leave(r.ed_2);
    ASSERT_EQ(recorder.messages.size(), 1);
    EXPECT_TRUE(recorder.messages[0].startsWith(QStringLiteral("Время ожидания должно быть целым числом")));
    EXPECT_EQ(field("MENU(0)", "ActionTO"), "02003500");
    EXPECT_EQ(r.ed_2->text(), QStringLiteral("35"));
}

TEST_F(MenuEditorTest, OperatorCallBoxEnablesTheOperatorList) {
    show(ed, object("MENU(2)"));
    EXPECT_FALSE(ed->cb_SlpIndex->isEnabled());
    EXPECT_EQ(ed->cb_SlpIndex->count(), 3);
    EXPECT_EQ(ed->cb_SlpIndex->currentText(), QStringLiteral("Все операторы"));
    ed->ch_CallSlpOnStart->click();
    EXPECT_EQ(field("MENU(2)", "CallSLPOnStart"), "1");
    EXPECT_TRUE(ed->cb_SlpIndex->isEnabled());
    pick(ed->cb_SlpIndex, 2);
    EXPECT_EQ(field("MENU(2)", "SLPIndex"), "2");
    ed->ch_CallSlpOnStart->click();
    EXPECT_EQ(field("MENU(2)", "CallSLPOnStart"), "0");
    EXPECT_FALSE(ed->cb_SlpIndex->isEnabled());
    EXPECT_EQ(field("MENU(2)", "SLPIndex"), "2"); // greyed, but the value stays
}

TEST_F(MenuEditorTest, DescriptionStoresWhenLeftAndShowsInTheCaption) {
    show(ed, object("MENU(4)"));
    ed->me_Desc->setText(QStringLiteral("Главное"));
    leave(ed->me_Desc);
    EXPECT_EQ(field("MENU(4)", "Desc"), "'Главное'");
    // An apostrophe never reaches the text.
    ed->me_Desc->setFocus();
    QTest::keyClicks(ed->me_Desc, QStringLiteral("'x"));
    EXPECT_EQ(ed->me_Desc->text(), QStringLiteral("Главноеx"));
}

TEST_F(MenuEditorTest, ChosenWavIsCopiedIntoTheMenuFolderAndReplacedWhenChosenAgain) {
    const QString source = path(QStringLiteral("greeting.wav"));
    writeWav(source, 800);
    show(ed, object("MENU(3)"));
    EXPECT_FALSE(ed->mp1->isEnabled());
    chosen = {source};
    ed->btOpen->click();
    const QString copy = QString::fromStdString(db.messagesFolder) + QStringLiteral("50301/greeting.wav");
    ASSERT_TRUE(QFileInfo::exists(copy));
    EXPECT_EQ(QFileInfo(copy).size(), QFileInfo(source).size());
    EXPECT_EQ(field("MENU(3)", "Message"), "greeting.wav");
    EXPECT_EQ(ed->me_Message->text(), QStringLiteral("greeting.wav"));
    EXPECT_TRUE(ed->mp1->isEnabled());
    EXPECT_EQ(dialogFolders.value(0), QString::fromStdString(db.messagesFolder));

    // The same name chosen again: the new content replaces the copy, and the menu counts as changed so the
    // next write sends the new sound.
    writeWav(source, 4000);
    object("MENU(3)")->markState = kMarkNone;
    chosen = {source};
    ed->btOpen->click();
    EXPECT_EQ(object("MENU(3)")->markState, kMarkChanged);
    EXPECT_EQ(QFileInfo(copy).size(), QFileInfo(source).size());
    EXPECT_EQ(field("MENU(3)", "Message"), "greeting.wav");
    EXPECT_EQ(QDir(QFileInfo(copy).path()).entryList(QDir::Files).size(), 1);

    // Choosing the copy itself keeps it whole.
    chosen = {copy};
    ed->btOpen->click();
    EXPECT_EQ(QFileInfo(copy).size(), QFileInfo(source).size());
    EXPECT_TRUE(ed->mp1->isEnabled());

    // Cancelling the dialog changes nothing.
    chosen.clear();
    ed->btOpen->click();
    EXPECT_EQ(field("MENU(3)", "Message"), "greeting.wav");

    // Another menu and back: the player is loaded again from the folder.
    show(ed, object("MENU(0)"));
    EXPECT_FALSE(ed->mp1->isEnabled());
    show(ed, object("MENU(3)"));
    EXPECT_TRUE(ed->mp1->isEnabled());
    EXPECT_TRUE(recorder.messages.isEmpty()) << recorder.messages.join('\n').toStdString();
}

TEST_F(MenuEditorTest, MissingFileDisablesThePlayerQuietlyAndClearStoresDash) {
    KT_TABLE* menu = object("MENU(5)");
    ASSERT_TRUE(menu->findChild("Message")->setText("absent.wav"));
    show(ed, menu);
    EXPECT_EQ(ed->me_Message->text(), QStringLiteral("absent.wav"));
    EXPECT_FALSE(ed->mp1->isEnabled());
    EXPECT_TRUE(recorder.messages.isEmpty());
    // The name is changed only through the buttons.
    ed->me_Message->setFocus();
    QTest::keyClicks(ed->me_Message, QStringLiteral("x"));
    QTest::keyClick(ed->me_Message, Qt::Key_Backspace);
    EXPECT_EQ(ed->me_Message->text(), QStringLiteral("absent.wav"));

    ed->btRemove->click();
    EXPECT_EQ(field("MENU(5)", "Message"), "-");
    EXPECT_EQ(ed->me_Message->text(), QStringLiteral("-"));
    EXPECT_EQ(menu->markState, kMarkChanged);
}

TEST_F(MenuEditorTest, FileThePlayerCannotOpenShowsItsErrorAndKeepsTheName) {
    const QString bad = path(QStringLiteral("broken.wav"));
    {
        QFile f(bad);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("this is no sound at all, just text that pretends to be one");
    }
    show(ed, object("MENU(6)"));
    chosen = {bad};
    ed->btOpen->click();
    // Every file is decoded on the way in now: one that does not decode is refused with its name and why.
    ASSERT_EQ(recorder.messages.size(), 1);
    EXPECT_TRUE(recorder.messages[0].contains(bad)) << recorder.messages[0].toStdString();
    EXPECT_TRUE(recorder.messages[0].contains(QStringLiteral(": ")));
    EXPECT_FALSE(ed->mp1->isEnabled());
    EXPECT_EQ(field("MENU(6)", "Message"), "-");
}

TEST_F(MenuEditorTest, ARecordingThePlayerCannotOpenGivesThePlayersOwnErrorAndKeepsTheName) {
    // Not imported through "Обзор": a file put into the menu's folder by hand, which the player meets first
    // when the menu is shown.
    KT_TABLE* menu = object("MENU(6)");
    const QString folder = QString::fromStdString(menuMessageFolder(db.messagesFolder, *menu));
    ASSERT_TRUE(QDir().mkpath(folder));
    {
        QFile f(folder + QStringLiteral("broken.wav"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("this is no sound at all, just text that pretends to be one");
    }
    ASSERT_TRUE(menu->findChild("Message")->setText("broken.wav"));
    show(ed, menu);
    ASSERT_EQ(recorder.messages.size(), 1);
    EXPECT_TRUE(recorder.messages[0].startsWith(QStringLiteral("Ошибка "))) << recorder.messages[0].toStdString();
    EXPECT_TRUE(recorder.messages[0].contains(QStringLiteral(": "))) << recorder.messages[0].toStdString();
    EXPECT_FALSE(ed->mp1->isEnabled());
    EXPECT_EQ(ed->pnl_Audio->lbl_Info->text(), QStringLiteral("Нет сообщения"));
    EXPECT_EQ(field("MENU(6)", "Message"), "broken.wav");
}

TEST_F(MenuEditorTest, CopyingAnotherMenuAsksAndCopiesEveryField) {
    KT_TABLE* source = object("MENU(7)");
    ASSERT_TRUE(source->findChild("Desc")->setText("Ночь"));
    ASSERT_TRUE(source->findChild("Message")->setText("night.wav"));
    ASSERT_TRUE(source->findChild("CallSLPOnStart")->setText("1"));
    ASSERT_TRUE(source->findChild("SLPIndex")->setText("2"));
    ASSERT_TRUE(source->findChild("ActionTO")->setText("02011003"));
    ASSERT_TRUE(source->findChild("ActionDTMF[0]")->setText("0107"));
    ASSERT_TRUE(source->findChild("ActionDTMF[9]")->setText("04"));
    show(ed, object("MENU(8)"));
    EXPECT_EQ(ed->cb_Copy->currentIndex(), -1);
    EXPECT_EQ(ed->cb_Copy->count(), 50);

    answerYes = false;
    pick(ed->cb_Copy, 7);
    ASSERT_EQ(questions.size(), 1);
    EXPECT_EQ(questions[0], QStringLiteral("Копировать данные из меню 7 : Ночь в меню 8?"));
    EXPECT_EQ(field("MENU(8)", "Desc"), "''");

    answerYes = true;
    pick(ed->cb_Copy, 7);
    KT_TABLE* target = object("MENU(8)");
    for (int i = 0; i < source->childCount(); ++i)
        EXPECT_EQ(target->childAt(i)->getText(), source->childAt(i)->getText()) << source->childAt(i)->key;
    EXPECT_EQ(target->markState, kMarkChanged);
    EXPECT_EQ(ed->me_Desc->text(), QStringLiteral("Ночь"));
    EXPECT_TRUE(ed->cb_SlpIndex->isEnabled());
    EXPECT_EQ(ed->cb_SlpIndex->currentIndex(), 2);
    EXPECT_EQ(row("ActionTO").cb_2->currentIndex(), 1);
    EXPECT_EQ(row("ActionTO").ed_2->text(), QStringLiteral("10"));
    EXPECT_EQ(row("ActionDTMF[0]").cb_2->currentIndex(), 7);
    EXPECT_EQ(ed->cb_Copy->currentIndex(), -1);
    EXPECT_EQ(ed->stCaption->text(), QStringLiteral("меню 8 : Ночь"));

    // Copying from itself asks and leaves everything as it is.
    ASSERT_TRUE(target->findChild("Desc")->setText("Другое"));
    target->markState = kMarkNone;
    show(ed, target);
    pick(ed->cb_Copy, 8);
    EXPECT_EQ(questions.size(), 3);
    EXPECT_EQ(questions[2], QStringLiteral("Копировать данные из меню 8 : Другое в меню 8 ?"));
    EXPECT_EQ(field("MENU(8)", "Desc"), "'Другое'");
    EXPECT_EQ(target->markState, kMarkNone);
}

TEST_F(MenuEditorTest, StoredNumbersBeyondTheListsShowNoEntryAndStayStored) {
    KT_TABLE* menu = object("MENU(9)");
    ASSERT_TRUE(menu->findChild("ActionDTMF[1]")->setText("0177"));
    ASSERT_TRUE(menu->findChild("ActionDTMF[2]")->setText("02092099"));
    show(ed, menu);
    EXPECT_EQ(row("ActionDTMF[1]").cb_2->currentIndex(), -1);
    Ted_menu::ActionRow& r = row("ActionDTMF[2]");
    EXPECT_EQ(r.cb_2->currentIndex(), -1);
    EXPECT_EQ(r.cb_3->currentIndex(), -1);
    // Changing the wait keeps the parts that show no entry.
    r.ed_2->setText(QStringLiteral("5"));
    leave(r.ed_2);
    EXPECT_EQ(field("MENU(9)", "ActionDTMF[2]"), "02090599");
    leave(row("ActionDTMF[1]").cb_2);
    EXPECT_EQ(field("MENU(9)", "ActionDTMF[1]"), "0177");
    EXPECT_TRUE(recorder.messages.isEmpty()) << recorder.messages.join('\n').toStdString();
}
