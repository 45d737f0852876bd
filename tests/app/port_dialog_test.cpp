// The COM-port dialog's list of the machine's serial devices and its diagnosis, against a fake sysfs tree
// with a pseudo-terminal behind the adapter's device node.
#include "app/port_survey_panel.h"
#include "app/small_dialogs.h"
#include "app/startup.h"
#include "tests/support/fake_system.h"
#include "ui_helpers.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QtTest/QTest>
#include <gtest/gtest.h>

using namespace zirezid;
using test::ModalScript;

namespace {
void clickRow(QTreeWidget* tree, int row) {
    QTreeWidgetItem* item = tree->topLevelItem(row);
    ASSERT_NE(item, nullptr);
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(item).center());
}
} // namespace

TEST(PortDialog, ListsTheAdaptersAndRemembersTheChosenOneByItsStableName) {
    test::TestEnvironment env;
    port_test::FakeSystem sys;
    port_test::Pty pty;
    const QString byId = QStringLiteral("/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");
    sys.usbAdapter("ttyUSB0", "0403", "6001", "FTDI", "FT232R USB UART", "A50285BI", "ftdi_sio", pty.path,
                   "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");
    QWidget owner;
    Tfrm_ComPort dialog(&owner);
    dialog.pnl_Survey->systemRoot = QString::fromStdString(sys.root());
    QStringList rowTexts;
    QString comAfterAssign, checkText, missingText;
    ModalScript script;
    script.then([&](QDialog*) {
        QTreeWidget* tree = dialog.pnl_Survey->tw_Devices;
        for (int column = 0; column < 4; ++column)
            rowTexts << tree->topLevelItem(0)->text(column);
        // COM2 is the one to use: choose it, choose the adapter, assign.
        dialog.cb_PortNum->setCurrentIndex(1);
        clickRow(tree, 0);
        QTest::mouseClick(dialog.pnl_Survey->btn_Assign, Qt::LeftButton);
        comAfterAssign = tree->topLevelItem(0)->text(3);
        QTest::mouseClick(dialog.pnl_Survey->btn_Check, Qt::LeftButton);
        checkText = dialog.pnl_Survey->lbl_Diagnosis->text();
        // COM3 names /dev/ttyS2, which this machine does not have: said without asking.
        dialog.cb_PortNum->setCurrentIndex(2);
        missingText = dialog.pnl_Survey->lbl_Diagnosis->isVisibleTo(&dialog) ? dialog.pnl_Survey->lbl_Diagnosis->text()
                                                                             : QString();
        dialog.cb_PortNum->setCurrentIndex(1);
        QTest::mouseClick(dialog.btn_Ok, Qt::LeftButton);
    });
    int port = 1;
    ASSERT_TRUE(dialog.choose(port));
    EXPECT_EQ(port, 2);
    EXPECT_EQ(rowTexts, (QStringList{QStringLiteral("/dev/ttyUSB0"), QStringLiteral("FTDI FT232R USB UART"),
                                     QStringLiteral("A50285BI"), QString()}));
    EXPECT_EQ(comAfterAssign, QStringLiteral("COM2"));
    EXPECT_TRUE(checkText.contains(QStringLiteral("свободен"))) << checkText.toStdString();
    EXPECT_TRUE(missingText.contains(QStringLiteral("/dev/ttyS2 сейчас нет"))) << missingText.toStdString();
    // The by-id name is kept, not ttyUSB0: a renumbered adapter stays COM2.
    EXPECT_EQ(Preferences::portOverride(2), byId);

    // A choice made and then cancelled is forgotten.
    ModalScript cancel;
    cancel.then([&](QDialog*) {
        dialog.cb_PortNum->setCurrentIndex(4);
        clickRow(dialog.pnl_Survey->tw_Devices, 0);
        QTest::mouseClick(dialog.pnl_Survey->btn_Assign, Qt::LeftButton);
        QTest::mouseClick(dialog.btn_Cancel, Qt::LeftButton);
    });
    EXPECT_FALSE(dialog.choose(port));
    EXPECT_EQ(Preferences::portOverride(5), QString());
}
