// The unit's history window: its snapshots newest first, and a snapshot compared with the open database. With
// ZIREZID_SCREENSHOTS set to a folder it leaves a picture there.
#include "app/compare_dialog.h"
#include "app/unit_history_dialog.h"
#include "history/snapshot_store.h"
#include "model/tables.h"
#include "model/unit_config.h"
#include "ui_helpers.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QThread>
#include <QTreeWidget>
#include <QtTest/QTest>
#include <gtest/gtest.h>

using namespace zirezid;

namespace {

// A snapshot of a unit whose system parameters ring `rings` times before answering.
void snapshotWithRings(const history::SnapshotStore& store, const char* kind, const char* rings) {
    std::string error;
    history::PendingSnapshot pending = store.begin({"QOR22", "777", "1.00.00"}, kind, error);
    ASSERT_TRUE(pending.valid()) << error;
    SettingsDatabase db;
    db.selectUnitConfig(29);
    db.buildNewBase(pending.dir() + history::kDatabaseFile);
    ASSERT_TRUE(db.findObject("SYSPARAM")->findChild("NRingsToPickup")->setText(rings));
    ASSERT_TRUE(pending.writeDatabase(db, error)) << error;
    history::SnapshotIndex index;
    index.unit = "QOR22-777";
    index.softVersion = "1.00.00";
    index.objects = {"SYSPARAM"};
    index.summary = std::string(kind) + " " + rings;
    ASSERT_TRUE(pending.commit(index, error)) << error;
    QThread::msleep(5); // distinct names in time order
}

} // namespace

TEST(UnitHistoryDialog, ListsTheSnapshotsNewestFirstAndComparesOneWithTheOpenDatabase) {
    test::TestEnvironment env;
    const std::string folder = env.path(QStringLiteral("history")).toStdString();
    const history::SnapshotStore store(folder);
    ASSERT_NO_FATAL_FAILURE(snapshotWithRings(store, history::kKindRead, "3"));
    ASSERT_NO_FATAL_FAILURE(snapshotWithRings(store, history::kKindBeforeWrite, "4"));
    ASSERT_NO_FATAL_FAILURE(snapshotWithRings(store, history::kKindAfterWrite, "6"));

    SettingsDatabase open;
    open.selectUnitConfig(29);
    open.buildNewBase("noname.qor");
    ASSERT_TRUE(open.findObject("SYSPARAM")->findChild("NRingsToPickup")->setText("6"));
    UnitHistoryDialog dialog(nullptr, folder, open, "QOR22-777");
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    EXPECT_EQ(dialog.cb_Unit->currentText(), QStringLiteral("QOR22-777"));
    ASSERT_EQ(dialog.tbl_Snapshots->rowCount(), 3);
    EXPECT_EQ(dialog.tbl_Snapshots->item(0, 1)->text(), QStringLiteral("after-write"));
    EXPECT_EQ(dialog.tbl_Snapshots->item(1, 1)->text(), QStringLiteral("before-write"));
    EXPECT_EQ(dialog.tbl_Snapshots->item(2, 1)->text(), QStringLiteral("read"));
    if (const QByteArray dir = qgetenv("ZIREZID_SCREENSHOTS"); !dir.isEmpty())
        dialog.grab().save(QString::fromLocal8Bit(dir) + QStringLiteral("/unit-history.png"));

    // The after-write holds what the database has: nothing differs in its objects but the device information.
    QTest::mouseClick(dialog.bt_Compare, Qt::LeftButton);
    ASSERT_TRUE(dialog.frm_compare->isVisible());
    QStringList objects;
    for (int i = 0; i < dialog.frm_compare->tv_Differences->topLevelItemCount(); ++i)
        objects
            << dialog.frm_compare->tv_Differences->topLevelItem(i)->data(0, Tfrm_compare::kObjectNameRole).toString();
    EXPECT_FALSE(objects.contains(QStringLiteral("SYSPARAM"))) << objects.join('|').toStdString();

    // The before-write has the unit's 4 rings against the database's 6.
    dialog.tbl_Snapshots->selectRow(1);
    QTest::mouseClick(dialog.bt_Compare, Qt::LeftButton);
    objects.clear();
    for (int i = 0; i < dialog.frm_compare->tv_Differences->topLevelItemCount(); ++i)
        objects
            << dialog.frm_compare->tv_Differences->topLevelItem(i)->data(0, Tfrm_compare::kObjectNameRole).toString();
    EXPECT_TRUE(objects.contains(QStringLiteral("SYSPARAM"))) << objects.join('|').toStdString();
}

TEST(UnitHistoryDialog, AnEmptyHistoryOffersNothingToCompare) {
    test::TestEnvironment env;
    SettingsDatabase open;
    open.buildNewBase("noname.qor");
    UnitHistoryDialog dialog(nullptr, env.path(QStringLiteral("nothing")).toStdString(), open, "QOR22-1");
    EXPECT_EQ(dialog.cb_Unit->count(), 0);
    EXPECT_EQ(dialog.tbl_Snapshots->rowCount(), 0);
    EXPECT_FALSE(dialog.bt_Compare->isEnabled());
}
