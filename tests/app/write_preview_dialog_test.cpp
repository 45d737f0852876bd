// The preview before a write: what it lists, that a write with conflicts waits for a choice for each of them,
// that the technician's choices reach the write only when it goes on, and that Enter does not send. With
// ZIREZID_SCREENSHOTS set to a folder it leaves a picture there.
#include "app/write_preview_dialog.h"
#include "ui_helpers.h"

#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>
#include <QtTest/QTest>
#include <gtest/gtest.h>

using namespace zirezid;

namespace {

history::Preview samplePreview() {
    history::Preview p;
    p.unit = {"QOR22", "100001", "1.00.00"};
    p.beforeSnapshot = "/home/tech/.local/share/zirezid/units/QOR22-100001/20261208T175421.123Z-before-write/";
    p.conflicts.push_back({"SYSPARAM", "системные параметры", "NRingsToPickup", "Количество звонков до ответа", "1",
                           "8", "6", "8", false});
    p.conflicts.push_back({"TRK(1)", "линия 1", "DayMenu", "Меню днём", "0", "3", "5", "3", false});
    p.unitChanges.push_back(
        {"SYSPARAM", "системные параметры", "PulseDialing", "Импульсный набор", "1", "0", "1", false});
    compare::ObjectDifference d;
    d.objectName = "MENU(0)";
    d.captionA = d.captionB = "меню 0";
    d.fields.push_back({"SLPIndex", "Номер оператора", "0", "2"});
    p.changes.objects.push_back(d);
    p.messages.push_back({"MENU(0)", "меню 0", history::MessageFate::Replaced, "old0.wav (12044 байт, CRC32 1A2B3C4D)",
                          "new.wav (8044 байт, CRC32 5E6F7A8B)", true});
    p.messages.push_back(
        {"MENU(1)", "меню 1", history::MessageFate::Deleted, "old1.wav (4844 байт, CRC32 0BADF00D)", "-", false});
    p.messages.push_back(
        {"MENU(2)", "меню 2", history::MessageFate::Replaced, "m2.wav", "m2.wav (8044 байт)", false, false});
    return p;
}

QStringList topLevelTexts(QTreeWidget* tree) {
    QStringList out;
    for (int i = 0; i < tree->topLevelItemCount(); ++i)
        out << tree->topLevelItem(i)->text(0);
    return out;
}

} // namespace

TEST(WritePreviewDialog, ListsConflictsFirstAndHandsBackTheChoicesOnlyWhenTheWriteGoesOn) {
    test::TestEnvironment env;
    history::Preview preview = samplePreview();
    {
        WritePreviewDialog dialog(nullptr, preview);
        dialog.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
        const QStringList groups = topLevelTexts(dialog.tv_Changes);
        ASSERT_EQ(groups.size(), 4) << groups.join('|').toStdString();
        EXPECT_TRUE(groups[0].startsWith(QStringLiteral("Конфликты")));
        EXPECT_TRUE(groups[1].startsWith(QStringLiteral("Изменено только на устройстве")));
        EXPECT_EQ(groups[2], QStringLiteral("меню 0"));
        EXPECT_EQ(groups[3], QStringLiteral("Сообщения"));
        QTreeWidgetItem* messages = dialog.tv_Changes->topLevelItem(3);
        EXPECT_TRUE(messages->child(0)->text(3).contains(QStringLiteral("заменено")));
        EXPECT_TRUE(messages->child(1)->text(3).contains(QStringLiteral("не сохранено в истории")));
        // A recording that was not fetched from the unit is not claimed to differ from it.
        EXPECT_EQ(messages->child(2)->text(3).toStdString().rfind(history::text::messageNotCompared, 0), 0u)
            << messages->child(2)->text(3).toStdString();
        EXPECT_TRUE(dialog.lbl_Head->text().contains(QString::fromStdString(preview.beforeSnapshot)));

        // "All: the unit's value", then one conflict back to the database; the unit's own change is
        // overwritten.
        QTest::mouseClick(dialog.bt_AllUnit, Qt::LeftButton);
        QTest::mouseClick(dialog.databaseChoice(1), Qt::LeftButton);
        dialog.tv_Changes->topLevelItem(1)->child(0)->setCheckState(WritePreviewDialog::kChoiceColumn, Qt::Checked);
        ASSERT_TRUE(dialog.bt_Go->isEnabled());
        // Enter presses the default button, which is Cancel: the choices stay where they were.
        QTest::keyClick(&dialog, Qt::Key_Return);
        EXPECT_EQ(dialog.result(), QDialog::Rejected);
        EXPECT_FALSE(preview.conflicts[0].keepUnit);
        EXPECT_FALSE(preview.unitChanges[0].overwrite);
    }
    {
        WritePreviewDialog dialog(nullptr, preview);
        dialog.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
        QTest::mouseClick(dialog.bt_AllUnit, Qt::LeftButton);
        QTest::mouseClick(dialog.databaseChoice(1), Qt::LeftButton);
        dialog.tv_Changes->topLevelItem(1)->child(0)->setCheckState(WritePreviewDialog::kChoiceColumn, Qt::Checked);
        QTest::mouseClick(dialog.bt_Go, Qt::LeftButton);
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
        EXPECT_TRUE(preview.conflicts[0].keepUnit);
        EXPECT_FALSE(preview.conflicts[1].keepUnit);
        EXPECT_TRUE(preview.unitChanges[0].overwrite);
    }
}

TEST(WritePreviewDialog, AWriteWithConflictsWaitsUntilEachOfThemHasItsChoice) {
    test::TestEnvironment env;
    // Per conflict, with the mouse and the keyboard; the unit's own change is left as it is.
    {
        history::Preview preview = samplePreview();
        preview.conflicts[0].keepUnit = true; // a choice from before is not taken for this write's
        WritePreviewDialog dialog(nullptr, preview);
        dialog.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
        EXPECT_FALSE(dialog.bt_Go->isEnabled());
        EXPECT_TRUE(dialog.lbl_Choose->isVisible());
        EXPECT_TRUE(dialog.lbl_Choose->text().contains(QStringLiteral("Не выбрано: 2 из 2")))
            << dialog.lbl_Choose->text().toStdString();
        QTest::mouseClick(dialog.bt_Go, Qt::LeftButton);
        EXPECT_TRUE(dialog.isVisible()) << "nothing goes on without the choices";

        QTest::mouseClick(dialog.unitChoice(0), Qt::LeftButton);
        EXPECT_TRUE(dialog.unitChoice(0)->isChecked());
        EXPECT_FALSE(dialog.bt_Go->isEnabled());
        EXPECT_TRUE(dialog.lbl_Choose->text().contains(QStringLiteral("Не выбрано: 1 из 2")))
            << dialog.lbl_Choose->text().toStdString();
        if (const QByteArray dir = qgetenv("ZIREZID_SCREENSHOTS"); !dir.isEmpty()) {
            dialog.tv_Changes->expandAll();
            dialog.grab().save(QString::fromLocal8Bit(dir) + QStringLiteral("/write-preview.png"));
        }
        dialog.databaseChoice(1)->setFocus();
        QTest::keyClick(dialog.databaseChoice(1), Qt::Key_Space);
        EXPECT_TRUE(dialog.bt_Go->isEnabled());
        EXPECT_FALSE(dialog.lbl_Choose->isVisible());
        QTest::mouseClick(dialog.bt_Go, Qt::LeftButton);
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
        EXPECT_TRUE(preview.conflicts[0].keepUnit);
        EXPECT_FALSE(preview.conflicts[1].keepUnit);
        EXPECT_FALSE(preview.unitChanges[0].overwrite);
    }
    // For all at once, each way.
    for (const bool keepUnit : {false, true}) {
        history::Preview preview = samplePreview();
        for (auto& c : preview.conflicts)
            c.keepUnit = !keepUnit;
        WritePreviewDialog dialog(nullptr, preview);
        dialog.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
        QTest::mouseClick(keepUnit ? dialog.bt_AllUnit : dialog.bt_AllDatabase, Qt::LeftButton);
        ASSERT_TRUE(dialog.bt_Go->isEnabled()) << keepUnit;
        QTest::mouseClick(dialog.bt_Go, Qt::LeftButton);
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
        EXPECT_EQ(preview.conflicts[0].keepUnit, keepUnit);
        EXPECT_EQ(preview.conflicts[1].keepUnit, keepUnit);
    }
    // Cancel needs no choice.
    {
        history::Preview preview = samplePreview();
        WritePreviewDialog dialog(nullptr, preview);
        dialog.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
        QTest::mouseClick(dialog.bt_Cancel, Qt::LeftButton);
        EXPECT_FALSE(dialog.isVisible());
        EXPECT_EQ(dialog.result(), QDialog::Rejected);
    }
    // Without conflicts the write may go on at once, and nothing asks for a choice.
    {
        history::Preview preview = samplePreview();
        preview.conflicts.clear();
        WritePreviewDialog dialog(nullptr, preview);
        dialog.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
        EXPECT_TRUE(dialog.bt_Go->isEnabled());
        EXPECT_FALSE(dialog.lbl_Choose->isVisible());
        EXPECT_FALSE(dialog.bt_AllDatabase->isVisible());
        QTest::mouseClick(dialog.bt_Go, Qt::LeftButton);
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
        EXPECT_FALSE(preview.unitChanges[0].overwrite);
    }
}

TEST(WritePreviewDialog, AnUnidentifiedUnitIsSaidAndAWriteWithoutChangesSaysSo) {
    test::TestEnvironment env;
    history::Preview preview;
    preview.unit = {"QOR11", "", ""};
    WritePreviewDialog dialog(nullptr, preview);
    EXPECT_TRUE(dialog.lbl_Head->text().contains(QStringLiteral("QOR11-unknown")));
    EXPECT_TRUE(dialog.lbl_Head->text().contains(QStringLiteral("не удалось опознать")));
    EXPECT_TRUE(dialog.lbl_Head->text().contains(QStringLiteral("История не ведётся")));
    ASSERT_EQ(dialog.tv_Changes->topLevelItemCount(), 1);
    EXPECT_EQ(dialog.tv_Changes->topLevelItem(0)->text(0), QStringLiteral("Устройство уже совпадает с базой."));
    EXPECT_FALSE(dialog.bt_AllUnit->isVisibleTo(&dialog));
}
