#include "app/message_boxes.h"
#include "app/read_dialog.h"
#include "link/device_link.h"
#include "ui_helpers.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QtTest/QTest>
#include <gtest/gtest.h>

using namespace zirezid;
using test::ModalScript;

namespace {
struct Dialogs {
    QWidget owner;
    Tfrm_msg_err_ari err{&owner};
    Tfrm_msg_warn_query_all all{&owner};
    Tfrm_editbox edit{&owner};
    Tfrm_read dialog{&owner, &err, &all, &edit};
};
} // namespace

TEST(ReadDialog, StateTableInBothModes) {
    Dialogs d;
    Tfrm_read& r = d.dialog;
    r.show();
    struct Expect {
        bool write;
        devlink::DialogState state;
        bool read, writeBtn, stop, save, close;
    };
    using namespace devlink;
    const Expect expected[] = {
        {false, dsNotConnected, false, false, false, false, true},
        {false, dsReady, true, false, false, false, true},
        {false, dsBusy, false, false, true, false, false},
        {false, dsReadWithErrors, true, false, false, true, true},
        {false, dsAllRead, false, false, false, true, true},
        {false, dsAllWritten, true, false, false, false, true},
        {false, dsLostReadKept, false, false, false, true, true},
        {true, dsNotConnected, false, false, false, false, true},
        {true, dsReady, false, true, false, false, true},
        {true, dsBusy, false, false, true, false, false},
        {true, dsReadWithErrors, false, true, false, false, true},
        {true, dsAllRead, false, true, false, false, true},
        {true, dsAllWritten, false, false, false, false, true},
        {true, dsLostReadKept, false, false, false, false, true},
    };
    for (const Expect& e : expected) {
        SCOPED_TRACE(testing::Message() << "write " << e.write << " state " << e.state);
        r.writeMode = e.write;
        r.setDialogState(e.state);
        EXPECT_EQ(r.bt_Read->isEnabled(), e.read);
        EXPECT_EQ(r.bt_Write->isEnabled(), e.writeBtn);
        EXPECT_EQ(r.bt_Stop->isEnabled(), e.stop);
        EXPECT_EQ(r.bt_Save->isEnabled(), e.save);
        EXPECT_EQ(r.bt_Close->isEnabled(), e.close);
        // Write mode never shows the check box or "Записать в БД".
        EXPECT_EQ(r.bt_Read->isVisible(), !e.write);
        EXPECT_EQ(r.cb_isLoadMsg->isVisible(), !e.write);
        EXPECT_EQ(r.bt_Save->isVisible(), !e.write);
        EXPECT_EQ(r.bt_Write->isVisible(), e.write);
        EXPECT_EQ(r.bt_Write->pos(), r.bt_Read->pos());
        EXPECT_EQ(QApplication::overrideCursor() != nullptr, e.state == dsBusy);
    }
    r.setDialogState(devlink::dsReady);
    r.hide();
}

TEST(ReadDialog, ShowingListsTheObjectsAndACloseBoxIsRefusedWhileBusy) {
    Dialogs d;
    Tfrm_read& r = d.dialog;
    r.writeMode = false;
    r.comPortNumber = 3;
    r.linkObjects = {{"меню 3 : Главное", nullptr}, {"линия 1", nullptr}};
    ModalScript script;
    script.then([&](QDialog*) {
        EXPECT_EQ(r.sb1Panels[0]->text(), QStringLiteral("COM3"));
        EXPECT_EQ(r.sb1Panels[2]->text(), QStringLiteral("0/2"));
        EXPECT_EQ(r.grd->rowCount(), 2);
        EXPECT_EQ(r.grd->horizontalHeaderItem(1)->text(), QStringLiteral("Объект"));
        EXPECT_EQ(r.grd->horizontalHeaderItem(2)->text(), QStringLiteral("Статус"));
        EXPECT_EQ(r.grd->item(0, 0)->text(), QStringLiteral("1"));
        EXPECT_EQ(r.grd->item(0, 1)->text(), QStringLiteral("меню 3 ")); // read mode cuts at the colon
        EXPECT_EQ(r.grd->item(1, 1)->text(), QStringLiteral("линия 1"));
        EXPECT_EQ(r.dialogState, devlink::dsReady);
        r.setDialogState(devlink::dsBusy); // a job runs
        EXPECT_FALSE(r.close());
        QTest::keyClick(&r, Qt::Key_Escape);
        EXPECT_TRUE(r.isVisible());
        r.bt_Stop->click();
        EXPECT_TRUE(r.link()->stopFlag);
        r.setDialogState(devlink::dsReady);
        r.bt_Close->click();
    });
    bool closedHandled = false;
    r.onClosed = [&] { closedHandled = true; };
    EXPECT_EQ(r.exec(), mrCancel);
    EXPECT_TRUE(closedHandled);
    EXPECT_EQ(script.unexpected(), 0);

    r.writeMode = true;
    ModalScript again;
    again.then([&](QDialog*) {
        EXPECT_EQ(r.grd->item(0, 1)->text(), QStringLiteral("меню 3 : Главное")); // write mode keeps the name
        EXPECT_FALSE(r.bt_Save->isVisible());
        r.close();
    });
    r.exec();
    EXPECT_EQ(again.handled(), 1);
}
