// The real main window against the simulated unit on a pseudo-terminal.

#include "app/main_window.h"
#include "link/result_codes.h"
#include "model/tables.h"
#include "ui_helpers.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <QtTest/QTest>
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

using namespace zirezid;
using test::ModalScript;

namespace {

class EndToEndTest : public ::testing::Test {
protected:
    // Options of the simulated unit for one test.
    virtual QStringList unitOptions() const { return {}; }
    // Files placed in the unit's state folder before it starts.
    virtual void prepareState() {}
    void SetUp() override {
        port = env.path(QStringLiteral("port"));
        state = env.path(QStringLiteral("unit"));
        prepareState();
        if (HasFatalFailure())
            return;
        unit.setProgram(QStringLiteral(UNITSIM_BINARY));
        unit.setArguments(QStringList{QStringLiteral("--state"), state, QStringLiteral("--link"), port} +
                          unitOptions());
        unit.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        unit.start();
        ASSERT_TRUE(unit.waitForStarted());
        ASSERT_TRUE(QTest::qWaitFor([&] { return QFile::exists(port); }, 20000));
        qputenv("ZIREZID_COM1", port.toLocal8Bit());
        window = std::make_unique<Tfrm_main>();
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }
    void TearDown() override {
        if (window) {
            window->shellState = Tfrm_main::stSaved;
            window->close();
            window.reset();
        }
        qunsetenv("ZIREZID_COM1");
        unit.terminate();
        unit.waitForFinished();
    }
    KT_TABLE* object(const char* name) const { return window->db.findObject(name); }
    QString unitObject(const QString& name) const {
        QFile file(state + QStringLiteral("/objects/") + name + QStringLiteral(".txt"));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }
    QString unitMessages(const QString& menuCode) const {
        return state + QStringLiteral("/messages/") + menuCode + QStringLiteral("01");
    }
    QString statusOfRow(int row) const {
        QTableWidgetItem* item = window->frm_read->grd->item(row, 2);
        return item ? item->text() : QString();
    }
    void mark(const char* name) {
        window->selectObjectNode(*object(name));
        QTest::keyClick(window->kt_treeview, Qt::Key_Space);
    }

    test::TestEnvironment env;
    QString port, state;
    QProcess unit;
    std::unique_ptr<Tfrm_main> window;
};

// A 16-bit mono PCM WAV of a tone: `frames` samples at 8000 per second.
void writeToneWav(const QString& path, int frames, double hertz) {
    QByteArray data;
    for (int i = 0; i < frames; ++i) {
        const auto v = static_cast<qint16>(8000 * std::sin(2 * std::numbers::pi * hertz * i / 8000.0));
        data.append(static_cast<char>(v & 0xff));
        data.append(static_cast<char>((v >> 8) & 0xff));
    }
    const auto le32 = [](quint32 v) {
        QByteArray b(4, '\0');
        for (int i = 0; i < 4; ++i)
            b[i] = static_cast<char>((v >> (8 * i)) & 0xff);
        return b;
    };
    const auto le16 = [](quint16 v) {
        QByteArray b(2, '\0');
        b[0] = static_cast<char>(v & 0xff);
        b[1] = static_cast<char>(v >> 8);
        return b;
    };
    QByteArray wav = "RIFF" + le32(36 + static_cast<quint32>(data.size())) + "WAVEfmt " + le32(16) + le16(1) + le16(1) +
                     le32(8000) + le32(16000) + le16(2) + le16(16) + "data" + le32(static_cast<quint32>(data.size())) +
                     data;
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_EQ(file.write(wav), wav.size());
}

// The unit's form of a WAV, made by the command-line front end.
void toDevice(const QString& wav, const QString& device) {
    QProcess cli;
    cli.setProcessChannelMode(QProcess::ForwardedChannels);
    cli.start(QStringLiteral(ZIREZID_CLI_BINARY), {QStringLiteral("sound"), QStringLiteral("to-device"), wav, device});
    ASSERT_TRUE(cli.waitForFinished(60000));
    ASSERT_EQ(cli.exitStatus(), QProcess::NormalExit);
    ASSERT_EQ(cli.exitCode(), 0);
    ASSERT_TRUE(QFile::exists(device));
}

QByteArray contents(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A unit whose menu 1 (code 501) already holds the message "tone.ktm".
class UnitWithMessageTest : public EndToEndTest {
protected:
    void prepareState() override {
        const QString folder = unitMessages(QStringLiteral("501"));
        ASSERT_TRUE(QDir().mkpath(folder));
        ASSERT_NO_FATAL_FAILURE(writeToneWav(env.path(QStringLiteral("tone.wav")), 2000, 440));
        ASSERT_NO_FATAL_FAILURE(toDevice(env.path(QStringLiteral("tone.wav")), folder + QStringLiteral("/tone.ktm")));
        unitFile = contents(folder + QStringLiteral("/tone.ktm"));
        ASSERT_FALSE(unitFile.isEmpty());
    }
    QByteArray unitFile;
};

} // namespace

TEST_F(EndToEndTest, ConnectWriteReadAndDisconnect) {
    {
        ModalScript quiet; // any message here is a failure
        window->mn_ConnectClick();
        EXPECT_EQ(quiet.unexpected(), 0) << quiet.texts.join(QLatin1Char('|')).toStdString();
    }
    ASSERT_TRUE(window->isConnected);
    EXPECT_TRUE(window->bt_Connect->isChecked());
    EXPECT_FALSE(window->mn_DeviceConfig->isEnabled());
    EXPECT_TRUE(window->lbl_nDisc->isHidden());
    EXPECT_EQ(window->lbl_vType->text(), QStringLiteral("QOR22"));
    EXPECT_EQ(window->lbl_vSoftVer->text(), QStringLiteral("1.00.00"));
    EXPECT_EQ(window->lbl_vFreeSpace->text(), QStringLiteral("17 мин.")); // 4194304 bytes of the default unit
    EXPECT_EQ(window->shellState, Tfrm_main::stSaved);

    // Write: a changed field needs no mark.
    ASSERT_TRUE(object("SYSPARAM")->findChild("NRingsToPickup")->setText("7"));
    int writeState = -1;
    {
        ModalScript script;
        script.then([&](QDialog*) {
            Tfrm_read* r = window->frm_read;
            EXPECT_EQ(r->grd->rowCount(), 1);
            EXPECT_TRUE(r->bt_Write->isEnabled());
            r->bt_Write->click(); // runs the job inside the dialog's loop
            writeState = r->dialogState;
            EXPECT_FALSE(r->bt_Write->isEnabled());
            r->bt_Close->click();
        });
        window->mn_WriteClick();
        EXPECT_EQ(script.unexpected(), 0) << script.texts.join(QLatin1Char('|')).toStdString();
    }
    EXPECT_EQ(writeState, devlink::dsAllWritten);
    EXPECT_TRUE(unitObject(QStringLiteral("SYSPARAM")).contains(QStringLiteral("NRingsToPickup=7")));

    // Read a trunk line the unit holds with another value; "Записать в БД" applies it.
    QFile trk(state + QStringLiteral("/objects/TRK(1).txt"));
    const QString before = unitObject(QStringLiteral("TRK(1)"));
    ASSERT_FALSE(before.isEmpty());
    object("TRK(1)")->childAt(0)->setText(object("TRK(1)")->childAt(0)->getText()); // no change
    mark("TRK(1)");
    int readState = -1;
    {
        ModalScript script;
        script.then([&](QDialog*) {
            Tfrm_read* r = window->frm_read;
            EXPECT_TRUE(r->cb_isLoadMsg->isVisible());
            r->bt_Read->click();
            readState = r->dialogState;
            EXPECT_FALSE(r->bt_Read->isEnabled());
            EXPECT_TRUE(r->bt_Save->isEnabled());
            r->bt_Save->click();
        });
        window->mn_ReadClick();
        EXPECT_EQ(script.unexpected(), 0) << script.texts.join(QLatin1Char('|')).toStdString();
    }
    EXPECT_EQ(readState, devlink::dsAllRead);
    // The tree was rebuilt and shows the object that was shown before the read.
    EXPECT_NE(window->kt_treeview->currentItem(), nullptr);
    EXPECT_NE(window->kt_treeview->rootNode(), nullptr);

    window->mn_DisconnectClick();
    EXPECT_FALSE(window->isConnected);
    EXPECT_FALSE(window->lbl_nDisc->isHidden());
    EXPECT_TRUE(window->mn_DeviceConfig->isEnabled());
}

TEST_F(EndToEndTest, AMissingPortLeavesTheWindowDisconnected) {
    qputenv("ZIREZID_COM1", env.path(QStringLiteral("no-such-port")).toLocal8Bit());
    ModalScript script;
    script.then([](QDialog* d) { d->accept(); });
    window->mn_ConnectClick();
    EXPECT_EQ(script.handled(), 1);
    EXPECT_TRUE(script.texts.value(0).contains(QStringLiteral("не найден")));
    EXPECT_FALSE(window->isConnected);
    EXPECT_EQ(window->shellState, Tfrm_main::stSaved);
    EXPECT_FALSE(window->lbl_nDisc->isHidden());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(EndToEndTest, ClockDialogFollowsTheUnitAndCancelWritesNothing) {
    window->mn_ConnectClick();
    ASSERT_TRUE(window->isConnected);
    ModalScript script;
    script.then([&](QDialog* d) {
        auto* date = d->findChild<QWidget*>(QStringLiteral("dtDate"));
        EXPECT_FALSE(date->isEnabled());
        QMetaObject::invokeMethod(d, "tmr_ClockTimer");
        EXPECT_TRUE(date->isEnabled()); // the unit's clock was read
        d->findChild<QPushButton*>(QStringLiteral("btn_Cancel"))->click();
    });
    window->mn_DateTimeClick();
    EXPECT_EQ(script.handled(), 1);
    EXPECT_EQ(script.unexpected(), 0);
    window->mn_DisconnectClick();
}

TEST_F(UnitWithMessageTest, ReadingEverythingWithMessagesBringsTheMenusWavIntoTheDatabase) {
    window->mn_ConnectClick();
    ASSERT_TRUE(window->isConnected);
    window->kt_treeview->setCurrentItem(window->kt_treeview->rootNode());
    QTest::keyClick(window->kt_treeview, Qt::Key_Space);
    ASSERT_EQ(object("MENU(1)")->findChild("Message")->getText(), "-");
    int readState = -1, rows = 0;
    bool checkBoxWasOff = false;
    QString summary, counter;
    QStringList statuses;
    {
        ModalScript script;
        script.then([&](QDialog*) {
            Tfrm_read* r = window->frm_read;
            checkBoxWasOff = r->cb_isLoadMsg->isVisible() && !r->cb_isLoadMsg->isChecked();
            r->cb_isLoadMsg->click();
            r->bt_Read->click();
            readState = r->dialogState;
            rows = r->grd->rowCount();
            for (int k = 0; k < rows; ++k)
                if (statusOfRow(k) != QStringLiteral("OK"))
                    statuses << r->grd->item(k, 1)->text() + QLatin1Char('=') + statusOfRow(k);
            summary = r->sb1Panels[1]->text();
            counter = r->sb1Panels[2]->text();
            EXPECT_FALSE(r->bt_Read->isEnabled());
            EXPECT_FALSE(r->bt_Stop->isEnabled());
            EXPECT_TRUE(r->bt_Close->isEnabled());
            EXPECT_TRUE(r->bt_Save->isEnabled());
            r->bt_Save->click();
        });
        window->mn_ReadClick();
        EXPECT_EQ(script.handled(), 1);
        EXPECT_EQ(script.unexpected(), 0) << script.texts.join(QLatin1Char('|')).toStdString();
    }
    EXPECT_TRUE(checkBoxWasOff);
    EXPECT_FALSE(window->frm_read->isVisible());
    EXPECT_EQ(readState, devlink::dsAllRead);
    EXPECT_GT(rows, 50); // every menu and the rest
    EXPECT_TRUE(statuses.isEmpty()) << statuses.join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(summary, QStringLiteral("Настройки прочитаны успешно"));
    EXPECT_EQ(counter, QStringLiteral("%1/%1").arg(rows));

    // The menu names its message by the WAV beside the database; the unit's file is still there.
    EXPECT_EQ(object("MENU(1)")->findChild("Message")->getText(), "tone.wav");
    EXPECT_EQ(object("MENU(2)")->findChild("Message")->getText(), "-");
    const QString messages = QString::fromStdString(window->db.messagesFolder);
    const QByteArray wav = contents(messages + QStringLiteral("/50101/tone.wav"));
    ASSERT_GT(wav.size(), 44);
    EXPECT_TRUE(wav.startsWith("RIFF"));
    EXPECT_EQ(wav.mid(8, 4), QByteArray("WAVE"));
    // Two 16-bit samples for every byte the unit held, up to an even count (the receiver drops an odd last
    // byte); the zero padding of the last block is not taken.
    ASSERT_EQ(unitFile.size() % 2, 1); // 1999 codes of the 2000-frame tone
    const qsizetype taken = unitFile.size() - 1;
    ASSERT_EQ(wav.mid(36, 4), QByteArray("data"));
    const auto byteAt = [&](int i) { return static_cast<quint32>(static_cast<unsigned char>(wav[i])); };
    EXPECT_EQ(byteAt(40) | byteAt(41) << 8 | byteAt(42) << 16 | byteAt(43) << 24, static_cast<quint32>(4 * taken));
    EXPECT_EQ(wav.size(), 44 + 4 * taken);
    EXPECT_EQ(QDir(messages + QStringLiteral("/50101")).entryList(QDir::Files),
              QStringList{QStringLiteral("tone.wav")});
    EXPECT_TRUE(QDir(messages + QStringLiteral("/50201")).entryList(QDir::Files).isEmpty());
    EXPECT_EQ(contents(unitMessages(QStringLiteral("501")) + QStringLiteral("/tone.ktm")), unitFile);
    window->mn_DisconnectClick();
    EXPECT_FALSE(window->isConnected);
}

TEST_F(UnitWithMessageTest, ReadingWithoutMessagesTakesTheNameButNoFile) {
    window->mn_ConnectClick();
    ASSERT_TRUE(window->isConnected);
    mark("MENU(1)");
    int readState = -1;
    QString summary;
    {
        ModalScript script;
        script.then([&](QDialog*) {
            Tfrm_read* r = window->frm_read;
            EXPECT_FALSE(r->cb_isLoadMsg->isChecked());
            r->bt_Read->click();
            readState = r->dialogState;
            summary = r->sb1Panels[1]->text();
            r->bt_Save->click();
        });
        window->mn_ReadClick();
        EXPECT_EQ(script.unexpected(), 0) << script.texts.join(QLatin1Char('|')).toStdString();
    }
    EXPECT_EQ(readState, devlink::dsAllRead);
    EXPECT_EQ(summary, QStringLiteral("Настройки прочитаны успешно"));
    EXPECT_EQ(object("MENU(1)")->findChild("Message")->getText(), "tone.wav");
    const QString messages = QString::fromStdString(window->db.messagesFolder);
    EXPECT_TRUE(QDir(messages + QStringLiteral("/50101")).entryList(QDir::Files).isEmpty());
    window->mn_DisconnectClick();
}

TEST_F(UnitWithMessageTest, WritingAMenuAsksBeforeReplacingTheUnitsMessage) {
    const QString folder = QString::fromStdString(window->db.messagesFolder) + QStringLiteral("/50101");
    ASSERT_TRUE(QDir().mkpath(folder));
    ASSERT_NO_FATAL_FAILURE(writeToneWav(folder + QStringLiteral("/bell.wav"), 3000, 880));
    ASSERT_TRUE(object("MENU(1)")->findChild("Message")->setText("bell.wav"));
    window->mn_ConnectClick();
    ASSERT_TRUE(window->isConnected);

    int writeState = -1, rows = 0;
    QString summary, status, question;
    {
        ModalScript script;
        script.then([&](QDialog*) {
            Tfrm_read* r = window->frm_read;
            rows = r->grd->rowCount();
            r->bt_Write->click();
            writeState = r->dialogState;
            summary = r->sb1Panels[1]->text();
            status = statusOfRow(0);
            EXPECT_FALSE(r->bt_Write->isEnabled());
            EXPECT_TRUE(r->bt_Close->isEnabled());
            r->bt_Close->click();
        });
        script.then([&](QDialog* d) {
            EXPECT_EQ(d->objectName(), QStringLiteral("frm_msg_warn_query_all"));
            question = d->findChild<QLabel*>(QStringLiteral("lbl_Text"))->text();
            d->findChild<QPushButton*>(QStringLiteral("btn_Yes"))->click();
        });
        window->mn_WriteClick();
        EXPECT_EQ(script.handled(), 2);
        EXPECT_EQ(script.unexpected(), 0) << script.texts.join(QLatin1Char('|')).toStdString();
    }
    EXPECT_EQ(rows, 1);
    EXPECT_EQ(question, QStringLiteral("меню 1: Файл уже существует. Заменить?"));
    EXPECT_EQ(writeState, devlink::dsAllWritten);
    EXPECT_EQ(status, QStringLiteral("OK"));
    EXPECT_EQ(summary, QStringLiteral("Настройки записаны успешно"));

    // The old file is gone; the new one is the unit's form of the database's WAV.
    EXPECT_EQ(QDir(unitMessages(QStringLiteral("501"))).entryList(QDir::Files),
              QStringList{QStringLiteral("bell.ktm")});
    ASSERT_NO_FATAL_FAILURE(toDevice(folder + QStringLiteral("/bell.wav"), env.path(QStringLiteral("bell.ktm"))));
    EXPECT_EQ(contents(unitMessages(QStringLiteral("501")) + QStringLiteral("/bell.ktm")),
              contents(env.path(QStringLiteral("bell.ktm"))));
    EXPECT_FALSE(QFile::exists(state + QStringLiteral("/messages/.50101.part")));
    window->mn_DisconnectClick();
}

// Menus 1 and 2 of the unit hold messages.
class UnitWithTwoMessagesTest : public UnitWithMessageTest {
protected:
    void prepareState() override {
        ASSERT_NO_FATAL_FAILURE(UnitWithMessageTest::prepareState());
        ASSERT_TRUE(QDir().mkpath(unitMessages(QStringLiteral("502"))));
        ASSERT_TRUE(QFile::copy(unitMessages(QStringLiteral("501")) + QStringLiteral("/tone.ktm"),
                                unitMessages(QStringLiteral("502")) + QStringLiteral("/other.ktm")));
    }
};

TEST_F(UnitWithTwoMessagesTest, NoKeepsTheUnitsMessageAndYesDeletesOneWithoutALocalFile) {
    // Menu 1 has a local file ("Заменить?"), menu 2 has none ("Удалить?").
    const QString folder = QString::fromStdString(window->db.messagesFolder) + QStringLiteral("/50101");
    ASSERT_TRUE(QDir().mkpath(folder));
    ASSERT_NO_FATAL_FAILURE(writeToneWav(folder + QStringLiteral("/bell.wav"), 3000, 880));
    ASSERT_TRUE(object("MENU(1)")->findChild("Message")->setText("bell.wav"));
    ASSERT_TRUE(object("MENU(2)")->findChild("CallSLPOnStart")->setText("1"));
    window->mn_ConnectClick();
    ASSERT_TRUE(window->isConnected);

    int writeState = -1;
    QString summary;
    QStringList statuses;
    {
        ModalScript script;
        script.then([&](QDialog*) {
            Tfrm_read* r = window->frm_read;
            r->bt_Write->click();
            writeState = r->dialogState;
            summary = r->sb1Panels[1]->text();
            for (int k = 0; k < r->grd->rowCount(); ++k)
                statuses << statusOfRow(k);
            r->bt_Close->click();
        });
        script.click(QStringLiteral("btn_No"));
        script.click(QStringLiteral("btn_Yes"));
        window->mn_WriteClick();
        EXPECT_EQ(script.handled(), 3);
        EXPECT_EQ(script.unexpected(), 0) << script.texts.join(QLatin1Char('|')).toStdString();
        EXPECT_EQ(script.texts, (QStringList{QStringLiteral("меню 1: Файл уже существует. Заменить?"),
                                             QStringLiteral("меню 2: Файл уже существует. Удалить?")}));
    }
    EXPECT_EQ(writeState, devlink::dsAllWritten);
    EXPECT_EQ(statuses, (QStringList{QStringLiteral("OK"), QStringLiteral("OK")}));
    EXPECT_EQ(summary, QStringLiteral("Настройки записаны успешно"));
    EXPECT_EQ(QDir(unitMessages(QStringLiteral("501"))).entryList(QDir::Files),
              QStringList{QStringLiteral("tone.ktm")});
    EXPECT_EQ(contents(unitMessages(QStringLiteral("501")) + QStringLiteral("/tone.ktm")), unitFile);
    EXPECT_TRUE(QDir(unitMessages(QStringLiteral("502"))).entryList(QDir::Files).isEmpty());
    EXPECT_TRUE(unitObject(QStringLiteral("MENU(2)")).contains(QStringLiteral("CallSLPOnStart=1")));
    window->mn_DisconnectClick();
}

TEST_F(EndToEndTest, AWrongPasswordCorrectedInTheEditBoxConnects) {
    ASSERT_TRUE(object("SYSPARAM")->findChild("Password")->setText("1111"));
    QStringList captions, labels, offered;
    {
        ModalScript script;
        // A first typing error is refused again and offered for correction; then the unit's password.
        for (const char* typed : {" 2222 ", "7316"})
            script.then([&, typed](QDialog* d) {
                EXPECT_EQ(d->objectName(), QStringLiteral("frm_editbox"));
                captions << d->windowTitle();
                labels << d->findChild<QLabel*>(QStringLiteral("lb_00"))->text();
                auto* edit = d->findChild<QLineEdit*>(QStringLiteral("me_01"));
                offered << edit->text();
                edit->setText(QString::fromLatin1(typed));
                d->findChild<QPushButton*>(QStringLiteral("btn_Ok"))->click();
            });
        window->mn_ConnectClick();
        EXPECT_EQ(script.handled(), 2);
        EXPECT_EQ(script.unexpected(), 0) << script.texts.join(QLatin1Char('|')).toStdString();
    }
    EXPECT_EQ(captions, QStringList(2, QStringLiteral("Неверный пароль")));
    EXPECT_EQ(labels, QStringList(2, QStringLiteral("Введите пароль:")));
    EXPECT_EQ(offered, (QStringList{QStringLiteral("1111"), QStringLiteral("2222")})); // OK trims the text
    ASSERT_TRUE(window->isConnected);
    EXPECT_TRUE(window->bt_Connect->isChecked());
    EXPECT_EQ(window->lbl_vType->text(), QStringLiteral("QOR22"));
    EXPECT_EQ(object("SYSPARAM")->findChild("Password")->getText(), "1111"); // the database keeps its own
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    window->mn_DisconnectClick();
    EXPECT_FALSE(window->isConnected);
    EXPECT_FALSE(window->bt_Connect->isChecked());
    EXPECT_FALSE(window->lbl_nDisc->isHidden());
}

TEST_F(EndToEndTest, CancellingThePasswordBoxEndsTheConnect) {
    ASSERT_TRUE(object("SYSPARAM")->findChild("Password")->setText("1111"));
    {
        ModalScript script;
        script.click(QStringLiteral("btn_Cancel"));
        window->mn_ConnectClick();
        EXPECT_EQ(script.handled(), 1);
        EXPECT_EQ(script.unexpected(), 0) << script.texts.join(QLatin1Char('|')).toStdString();
    }
    EXPECT_FALSE(window->isConnected);
    EXPECT_FALSE(window->bt_Connect->isChecked());
    EXPECT_FALSE(window->lbl_nDisc->isHidden());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);

    // The next connect starts again from the database's password and can still succeed.
    ModalScript again;
    again.then([](QDialog* d) {
        auto* edit = d->findChild<QLineEdit*>(QStringLiteral("me_01"));
        EXPECT_EQ(edit->text(), QStringLiteral("1111"));
        edit->setText(QStringLiteral("7316"));
        d->findChild<QPushButton*>(QStringLiteral("btn_Ok"))->click();
    });
    window->mn_ConnectClick();
    EXPECT_EQ(again.handled(), 1);
    EXPECT_EQ(again.unexpected(), 0) << again.texts.join(QLatin1Char('|')).toStdString();
    EXPECT_TRUE(window->isConnected);
    window->mn_DisconnectClick();
}

class SilentUnitTest : public EndToEndTest {
protected:
    QStringList unitOptions() const override { return {QStringLiteral("--mute")}; }
};

TEST_F(SilentUnitTest, AUnitThatDoesNotAnswerLeavesTheWindowDisconnected) {
    ModalScript script;
    script.click(QStringLiteral("btn_Abort")); // the login's time-out, answered "Остановить", ends the attempt
    window->mn_ConnectClick();
    EXPECT_EQ(script.handled(), 1);
    EXPECT_EQ(script.unexpected(), 0) << script.texts.join(QLatin1Char('|')).toStdString();
    EXPECT_FALSE(window->isConnected);
    EXPECT_FALSE(window->bt_Connect->isChecked());
    EXPECT_FALSE(window->lbl_nDisc->isHidden());
    EXPECT_EQ(window->shellState, Tfrm_main::stSaved);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

class SlowUnitTest : public EndToEndTest {
protected:
    QStringList unitOptions() const override { return {QStringLiteral("--delay-ms"), QStringLiteral("400")}; }
};

TEST_F(SlowUnitTest, StopEndsARunningRead) {
    window->mn_ConnectClick();
    ASSERT_TRUE(window->isConnected);
    mark("TRKS"); // both lines
    int endState = -1;
    bool stopEnabledWhileBusy = false;
    ModalScript script;
    script.then([&](QDialog*) {
        Tfrm_read* r = window->frm_read;
        // Pressed while the first answer is still on its way: the wait loop serves the button.
        QTimer::singleShot(50, r, [&, r] {
            stopEnabledWhileBusy = r->bt_Stop->isEnabled() && r->dialogState == devlink::dsBusy;
            r->bt_Stop->click();
        });
        r->bt_Read->click();
        endState = r->dialogState;
        r->bt_Close->click();
    });
    // The stop is said once, and the read ends there.
    script.then([](QDialog* box) { box->accept(); }, QStringLiteral("the stop's message"));
    window->mn_ReadClick();
    EXPECT_EQ(script.unexpected(), 0) << script.texts.join(QLatin1Char('|')).toStdString();
    ASSERT_EQ(script.texts.size(), 1);
    EXPECT_TRUE(script.texts.at(0).contains(QString::fromUtf8(devlink::text::stopped)))
        << script.texts.at(0).toStdString();
    EXPECT_TRUE(stopEnabledWhileBusy);
    // not every object was read
    EXPECT_TRUE(endState == devlink::dsReady || endState == devlink::dsReadWithErrors) << endState;
    EXPECT_FALSE(window->frm_read->isVisible());
    window->mn_DisconnectClick();
}
