#include "app/clock_dialog.h"
#include "app/message_boxes.h"
#include "app/small_dialogs.h"
#include "app/startup.h"
#include "ui_helpers.h"

#include <QComboBox>
#include <QDateEdit>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSettings>
#include <QTimeEdit>
#include <QtTest/QTest>
#include <gtest/gtest.h>

using namespace zirezid;
using test::ModalScript;

namespace {
void pressKey(QWidget* target, Qt::Key key) { QTest::keyClick(target, key); }
} // namespace

TEST(MessageBoxes, ErrorBoxOffersItsButtonsAndIgnoresEscape) {
    QWidget owner;
    Tfrm_msg_err_ari box(&owner);
    bool ignoreEnabled = true, ignoreVisible = false, cancelVisible = true;
    QWidget* focus = nullptr;
    ModalScript script;
    script
        .then([&](QDialog* d) {
            ignoreEnabled = box.btn_Ignore->isEnabled();
            ignoreVisible = box.btn_Ignore->isVisible();
            cancelVisible = box.btn_Cancel->isVisible();
            focus = d->focusWidget();
            pressKey(d, Qt::Key_Escape); // no effect: the box stays open
            EXPECT_TRUE(d->isVisible());
            box.btn_Retry->click();
        })
        .then([&](QDialog* d) {
            EXPECT_TRUE(box.btn_Ignore->isEnabled());
            pressKey(d->focusWidget(), Qt::Key_Return); // Enter chooses the focused button, Abort
        })
        .then([&](QDialog* d) { d->close(); }); // the close box answers Cancel
    EXPECT_EQ(box.askAbortRetry(QStringLiteral("Нет ответа")), mrRetry);
    EXPECT_FALSE(ignoreEnabled);
    EXPECT_TRUE(ignoreVisible);
    EXPECT_FALSE(cancelVisible);
    EXPECT_EQ(focus, box.btn_Abort);
    EXPECT_EQ(box.askAbortRetryIgnore(QStringLiteral("x")), mrAbort);
    EXPECT_EQ(box.askAbortRetryIgnore(QStringLiteral("x")), mrCancel);
    EXPECT_EQ(script.unexpected(), 0);
    EXPECT_EQ(script.texts.value(0), QStringLiteral("Нет ответа"));
}

TEST(MessageBoxes, QueriesFocusNoAndAnswerNoToEscape) {
    QWidget owner;
    Tfrm_msg_warn_query query(&owner);
    Tfrm_msg_warn_query_all all(&owner);
    QWidget* focusQuery = nullptr;
    QWidget* focusAll = nullptr;
    ModalScript script;
    script
        .then([&](QDialog* d) {
            focusQuery = d->focusWidget();
            pressKey(d, Qt::Key_Escape);
        })
        .click(QStringLiteral("btn_Yes"))
        .click(QStringLiteral("btn_Cancel"))
        .then([&](QDialog* d) {
            focusAll = d->focusWidget();
            pressKey(d, Qt::Key_Escape);
        })
        .click(QStringLiteral("btn_YesToAll"))
        .click(QStringLiteral("btn_NoToAll"))
        .click(QStringLiteral("btn_Cancel"));
    EXPECT_EQ(query.askYesNoCancel(QStringLiteral("?")), mrNo);
    EXPECT_EQ(query.askYesNoCancel(QStringLiteral("?")), mrYes);
    EXPECT_EQ(query.askYesNoCancel(QStringLiteral("?")), mrCancel);
    EXPECT_EQ(all.askYesNoAll(QStringLiteral("?")), mrNo);
    EXPECT_EQ(all.askYesNoAll(QStringLiteral("?")), mrYesToAll);
    EXPECT_EQ(all.askYesNoAll(QStringLiteral("?")), mrNoToAll);
    EXPECT_EQ(all.askYesNoAll(QStringLiteral("?")), mrCancel);
    EXPECT_EQ(focusQuery, query.btn_No);
    EXPECT_EQ(focusAll, all.btn_No);
    EXPECT_EQ(script.unexpected(), 0);
}

TEST(MessageBoxes, EditBoxTrimsTheTextOnOkAndKeepsItOnCancel) {
    QWidget owner;
    Tfrm_editbox box(&owner);
    QWidget* focus = nullptr;
    ModalScript script;
    script
        .then([&](QDialog* d) {
            focus = d->focusWidget();
            box.me_01->setText(QStringLiteral(" 1234 "));
            box.btn_Ok->click();
        })
        .click(QStringLiteral("btn_Cancel"));
    QString password = QStringLiteral("7316");
    EXPECT_TRUE(box.ask(QStringLiteral("Неверный пароль"), QStringLiteral("Введите пароль:"), password));
    EXPECT_EQ(password, QStringLiteral("1234"));
    EXPECT_EQ(focus, box.me_01);
    EXPECT_EQ(box.windowTitle(), QStringLiteral("Неверный пароль"));
    EXPECT_FALSE(box.ask(QStringLiteral("Неверный пароль"), QStringLiteral("Введите пароль:"), password));
    EXPECT_EQ(password, QStringLiteral("1234"));
}

namespace {
// A unit clock that the test sets; records what was written.
class FakeClock : public DeviceClock {
public:
    bool answers = true;
    QDateTime device = QDateTime(QDate(2024, 3, 5), QTime(10, 20, 30));
    std::vector<QDateTime> written;
    bool getDeviceClock(QDateTime& clock) override {
        if (answers)
            clock = device;
        return answers;
    }
    void setDeviceClock(const QDateTime& clock) override { written.push_back(clock); }
};
} // namespace

TEST(ClockDialog, FollowsTheUnitUntilTheUserChangesAPicker) {
    QWidget owner;
    FakeClock unit;
    Tfrm_clock dialog(&owner, &unit);
    const QDateTime pc(QDate(2025, 1, 2), QTime(8, 0, 0));
    dialog.computerClock = [&] { return pc; };
    ModalScript script;
    script.then([&](QDialog*) {
        EXPECT_FALSE(dialog.btn_Ok->isEnabled());
        EXPECT_FALSE(dialog.dtTime->isEnabled());
        EXPECT_EQ(dialog.dtDate->date(), pc.date()); // until the first tick: the computer's clock
        dialog.tmr_ClockTimer();
        EXPECT_TRUE(dialog.dtTime->isEnabled());
        EXPECT_EQ(dialog.dtTime->time(), QTime(10, 20, 30));
        EXPECT_EQ(dialog.dtDate->date(), QDate(2024, 3, 5));
        dialog.dtTime->setTime(QTime(11, 45, 0)); // the user sets the minutes
        EXPECT_FALSE(dialog.followTime);
        EXPECT_TRUE(dialog.btn_Ok->isEnabled());
        unit.device = QDateTime(QDate(2024, 3, 6), QTime(10, 20, 31));
        dialog.tmr_ClockTimer();
        EXPECT_EQ(dialog.dtTime->time(), QTime(11, 45, 0));
        EXPECT_EQ(dialog.dtDate->date(), QDate(2024, 3, 6));
        dialog.btn_Ok->click();
    });
    dialog.exec();
    ASSERT_EQ(unit.written.size(), 1u);
    EXPECT_EQ(unit.written[0], QDateTime(QDate(2024, 3, 6), QTime(11, 45, 0)));
    EXPECT_FALSE(dialog.tmr_Clock->isActive());
}

TEST(ClockDialog, ComputerClockWritesOnOkAndCancelNeverWrites) {
    QWidget owner;
    FakeClock unit;
    unit.answers = false; // a unit whose clock cannot be read
    Tfrm_clock dialog(&owner, &unit);
    QDateTime pc(QDate(2025, 6, 7), QTime(9, 15, 0));
    dialog.computerClock = [&] { return pc; };
    ModalScript script;
    script
        .then([&](QDialog*) {
            dialog.tmr_ClockTimer(); // no answer and not following the computer: nothing changes
            EXPECT_FALSE(dialog.dtTime->isEnabled());
            dialog.btn_PC->click();
            pc = pc.addSecs(1);
            dialog.tmr_ClockTimer();
            EXPECT_TRUE(dialog.dtTime->isEnabled());
            dialog.btn_Cancel->click();
        })
        .then([&](QDialog*) {
            dialog.btn_PC->click();
            pc = pc.addSecs(1);
            dialog.tmr_ClockTimer();
            dialog.btn_Ok->click();
        })
        .then([&](QDialog* d) {
            EXPECT_FALSE(dialog.usePcClock); // every showing starts afresh
            QTest::keyClick(d, Qt::Key_Escape);
        });
    dialog.exec();
    EXPECT_TRUE(unit.written.empty());
    dialog.exec();
    ASSERT_EQ(unit.written.size(), 1u);
    EXPECT_EQ(unit.written[0], pc);
    dialog.exec();
    EXPECT_EQ(unit.written.size(), 1u);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST(SmallDialogs, PortDialogListsNinePortsWithTheirDevices) {
    test::TestEnvironment env;
    qputenv("ZIREZID_COM2", "/dev/pts/9");
    QWidget owner;
    Tfrm_ComPort dialog(&owner);
    ModalScript script;
    script
        .then([&](QDialog*) {
            EXPECT_EQ(dialog.cb_PortNum->count(), 9);
            EXPECT_EQ(dialog.cb_PortNum->currentText(), QStringLiteral("COM3"));
            EXPECT_EQ(dialog.cb_PortNum->model()->index(1, 1).data().toString(), QStringLiteral("/dev/pts/9"));
            EXPECT_EQ(dialog.cb_PortNum->model()->index(8, 1).data().toString(), QStringLiteral("/dev/ttyS8"));
            dialog.cb_PortNum->setCurrentIndex(1);
            dialog.btn_Ok->click();
        })
        .then([&](QDialog*) {
            dialog.cb_PortNum->setCurrentIndex(5);
            dialog.btn_Cancel->click();
        });
    int port = 3;
    EXPECT_TRUE(dialog.choose(port));
    EXPECT_EQ(port, 2);
    EXPECT_FALSE(dialog.choose(port));
    EXPECT_EQ(port, 2);
    qunsetenv("ZIREZID_COM2");
}

TEST(SmallDialogs, TypeDialogIsRefilledAndDoubleClickConfirms) {
    QWidget owner;
    Tfrm_new dialog(&owner);
    ModalScript script;
    script
        .then([&](QDialog*) {
            EXPECT_EQ(dialog.ListBox1->count(), 2);
            dialog.ListBox1->setCurrentRow(0);
            emit dialog.ListBox1->itemDoubleClicked(dialog.ListBox1->item(0));
        })
        .click(QStringLiteral("btn_Cancel"))
        .then([&](QDialog*) {
            dialog.ListBox1->clearSelection();
            dialog.ListBox1->setCurrentRow(-1);
            dialog.btn_Ok->click();
        });
    const QStringList names{QStringLiteral("QOR11"), QStringLiteral("QOR22")};
    EXPECT_EQ(dialog.choose(names, 1), 0);
    EXPECT_EQ(dialog.choose(names, 1), -1);
    EXPECT_EQ(dialog.choose(names, -1), -1); // OK with nothing selected chooses nothing
    EXPECT_EQ(dialog.ListBox1->count(), 2);
}

TEST(SmallDialogs, PortDialogSaysWhichPathIsNoSerialPort) {
    test::TestEnvironment env;
    const QString plain = env.path(QStringLiteral("notes.txt"));
    {
        QFile file(plain);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    qputenv("ZIREZID_COM2", plain.toLocal8Bit());
    qputenv("ZIREZID_COM3", env.path(QStringLiteral("gone")).toLocal8Bit());
    qputenv("ZIREZID_COM4", "/dev/null");
    qputenv("ZIREZID_COM5", "/dev/ptmx");
    QWidget owner;
    Tfrm_ComPort dialog(&owner);
    QStringList states;
    ModalScript script;
    script.then([&](QDialog*) {
        for (int row = 1; row <= 4; ++row) {
            dialog.cb_PortNum->setCurrentIndex(row);
            states << (dialog.lbl_PortState->isVisibleTo(&dialog) ? dialog.lbl_PortState->text() : QString());
        }
        dialog.btn_Cancel->click();
    });
    int port = 2;
    EXPECT_FALSE(dialog.choose(port));
    ASSERT_EQ(states.size(), 4);
    EXPECT_EQ(states[0], plain + QStringLiteral(": не последовательный порт (обычный файл)"));
    EXPECT_EQ(states[1], env.path(QStringLiteral("gone")) + QStringLiteral(": нет такого устройства"));
    EXPECT_EQ(states[2], QStringLiteral("/dev/null: не последовательный порт (устройство другого рода)"));
    EXPECT_EQ(states[3], QString()); // the terminal multiplexer is a terminal device
    for (const char* name : {"ZIREZID_COM2", "ZIREZID_COM3", "ZIREZID_COM4", "ZIREZID_COM5"})
        qunsetenv(name);
}

TEST(Translations, QtsOwnButtonsAndMenusSpeakRussian) {
    ASSERT_TRUE(installQtTranslations()) << "qt6-translations-l10n is missing";
    QMessageBox box(QMessageBox::Question, QStringLiteral("Вопрос"), QStringLiteral("?"),
                    QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    EXPECT_EQ(box.button(QMessageBox::Cancel)->text().remove(QLatin1Char('&')), QStringLiteral("Отмена"));
    QLineEdit edit;
    std::unique_ptr<QMenu> menu(edit.createStandardContextMenu());
    QStringList items;
    for (QAction* action : menu->actions())
        items << action->text().remove(QLatin1Char('&'));
    EXPECT_TRUE(items.join(QLatin1Char('|')).contains(QStringLiteral("Вставить"))) << items.join('|').toStdString();
}
