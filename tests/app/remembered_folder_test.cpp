// The file dialogs start where the technician last confirmed one, in this window and the next start, and
// never in the scratch folder of the unnamed database.
#include "app/main_window.h"
#include "app/startup.h"
#include "model/settings_file.h"
#include "model/unit_config.h"
#include "ui_helpers.h"

#include <QFileDialog>
#include <QLineEdit>
#include <QtTest/QTest>
#include <gtest/gtest.h>

using namespace zirezid;
using test::ModalScript;

TEST(RememberedFolder, FileDialogsStartInTheLastConfirmedFolderAcrossStarts) {
    test::TestEnvironment env;
    QDir().mkpath(env.path(QStringLiteral("sites")));
    const QString site = env.path(QStringLiteral("sites/a.qor"));
    {
        SettingsDatabase other;
        ASSERT_TRUE(other.selectUnitConfig(kDefaultConfigId));
        other.buildNewBase(site.toStdString());
        ASSERT_TRUE(other.saveBase(site.toStdString()));
    }
    const QString sites = QFileInfo(site).absolutePath();
    {
        Tfrm_main window;
        window.show();
        ModalScript script;
        script.then([&](QDialog* d) {
            // Typed into the dialog's name field and confirmed with Enter, as the technician does.
            auto* name = d->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            ASSERT_NE(name, nullptr);
            name->setFocus();
            QTest::keyClick(name, Qt::Key_A, Qt::ControlModifier);
            QTest::keyClicks(name, site);
            QTest::keyClick(name, Qt::Key_Return);
        });
        window.mn_Open->trigger();
        ASSERT_EQ(script.handled(), 1);
        EXPECT_EQ(QString::fromStdString(window.db.basePath), site);
        window.shellState = Tfrm_main::stSaved;
    }
    EXPECT_EQ(Preferences::lastFolder(), sites);

    // The next start: an unnamed database, yet Open and Save As begin among the sites.
    Tfrm_main again;
    again.show();
    QString openFolder, saveFolder, saveName;
    ModalScript script;
    script
        .then([&](QDialog* d) {
            openFolder = static_cast<QFileDialog*>(d)->directory().absolutePath();
            d->reject();
        })
        .then([&](QDialog* d) {
            auto* dialog = static_cast<QFileDialog*>(d);
            saveFolder = dialog->directory().absolutePath();
            d->reject();
        });
    again.mn_Open->trigger();
    again.mn_SaveAs->trigger();
    EXPECT_EQ(script.handled(), 2);
    EXPECT_EQ(openFolder, sites);
    EXPECT_EQ(saveFolder, sites) << "not the scratch folder " << env.scratch().toStdString();
    again.shellState = Tfrm_main::stSaved;

    // A remembered folder that is gone falls back to the home folder.
    QDir(sites).removeRecursively();
    EXPECT_EQ(Preferences::lastFolder(), QDir::homePath());
}
