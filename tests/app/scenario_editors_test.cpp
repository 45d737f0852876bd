// A technician at the real main window: mouse clicks, keys and the wheel on the real widgets.
#include "app/main_window.h"
#include "editors/simple_editors.h"
#include "editors/ted_lines.h"
#include "editors/ted_menu.h"
#include "editors/ted_timetable.h"
#include "model/tables.h"
#include "ui_helpers.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QGroupBox>
#include <QLabel>
#include <QStyleOptionComboBox>
#include <QTabBar>
#include <QTabWidget>
#include <QToolButton>
#include <QTreeWidgetItemIterator>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QTimeEdit>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProcess>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSplitter>
#include <QToolTip>
#include <QWheelEvent>
#include <QtTest/QTest>
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

using namespace zirezid;
using test::ModalScript;

namespace {

class TechnicianTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!commandLineFile.isEmpty())
            commandLineFile = writeBase(commandLineFile);
        window = std::make_unique<Tfrm_main>(commandLineFile);
        window->show();
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    }
    void TearDown() override {
        if (window) {
            window->shellState = Tfrm_main::stSaved;
            window.reset();
        }
    }
    QString writeBase(const QString& name) {
        SettingsDatabase other;
        EXPECT_TRUE(other.selectUnitConfig(kDefaultConfigId));
        const QString path = env.path(name);
        other.buildNewBase(path.toStdString());
        EXPECT_TRUE(other.saveBase(path.toStdString()));
        return path;
    }
    KT_TABLE* object(const char* name) const { return window->db.findObject(name); }
    KT_TABLE* firstOf(const char* listName) const { return object(listName)->tableAt(0); }
    // Opens the node's parents and clicks the node, as the technician does in the tree.
    void clickNode(KT_TABLE* table) {
        auto* node = dynamic_cast<QTreeWidgetItem*>(static_cast<TreeNodeItem*>(table->node));
        ASSERT_NE(node, nullptr);
        window->allowExpand = true;
        for (QTreeWidgetItem* up = node->parent(); up != nullptr; up = up->parent())
            up->setExpanded(true);
        window->allowExpand = false;
        window->kt_treeview->scrollToItem(node);
        const QRect rect = window->kt_treeview->visualItemRect(node);
        ASSERT_TRUE(rect.isValid());
        QTest::mouseClick(window->kt_treeview->viewport(), Qt::LeftButton, {}, rect.center());
        ASSERT_EQ(window->kt_treeview->currentItem(), node);
    }
    // The editor frames the technician can see in the editor panel.
    QList<TKT_EDITOR*> visibleFrames() const {
        QList<TKT_EDITOR*> shown;
        for (TKT_EDITOR* frame : window->frames.all())
            if (frame->isVisible())
                shown << frame;
        return shown;
    }
    // A closed dialog gives the activation back to the window (the window manager's part on a desktop).
    void activate() {
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    }
    void clickInto(QWidget* control) {
        QTest::mouseClick(control, Qt::LeftButton, {}, QPoint(5, control->height() / 2));
        ASSERT_TRUE(control->hasFocus());
    }

    test::TestEnvironment env;
    QString commandLineFile;
    std::unique_ptr<Tfrm_main> window;
};

class TechnicianWithFileTest : public TechnicianTest {
protected:
    void SetUp() override {
        commandLineFile = QStringLiteral("site.qor");
        TechnicianTest::SetUp();
    }
};

// A 16-bit mono PCM WAV of a short tone.
void writeToneWav(const QString& path) {
    QByteArray data;
    for (int i = 0; i < 800; ++i) {
        const auto v = static_cast<qint16>(8000 * std::sin(2 * std::numbers::pi * 440 * i / 8000.0));
        data.append(static_cast<char>(v & 0xff));
        data.append(static_cast<char>((v >> 8) & 0xff));
    }
    const auto le = [](quint32 v, int bytes) {
        QByteArray b(bytes, '\0');
        for (int i = 0; i < bytes; ++i)
            b[i] = static_cast<char>((v >> (8 * i)) & 0xff);
        return b;
    };
    const QByteArray wav = "RIFF" + le(36 + static_cast<quint32>(data.size()), 4) + "WAVEfmt " + le(16, 4) + le(1, 2) +
                           le(1, 2) + le(8000, 4) + le(16000, 4) + le(2, 2) + le(16, 2) + "data" +
                           le(static_cast<quint32>(data.size()), 4) + data;
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_EQ(file.write(wav), wav.size());
}

} // namespace

TEST_F(TechnicianWithFileTest, ClickingIntoAFieldAfterSavingAsksNothingOnExit) {
    auto* sys = static_cast<Ted_sysparam*>(window->frames.ed_sysparam.get());
    ASSERT_NO_FATAL_FAILURE(clickNode(object("SYSPARAM")));
    ASSERT_NO_FATAL_FAILURE(clickInto(sys->ed_NRingsToPickup));
    sys->ed_NRingsToPickup->selectAll();
    QTest::keyClicks(sys->ed_NRingsToPickup, QStringLiteral("3"));
    QTest::keyClick(sys->ed_NRingsToPickup, Qt::Key_Tab);
    EXPECT_EQ(window->shellState, Tfrm_main::stModified);
    EXPECT_TRUE(window->windowTitle().startsWith(QStringLiteral("site.qor*")));

    QTest::keyClick(window.get(), Qt::Key_S, Qt::ControlModifier);
    EXPECT_EQ(window->shellState, Tfrm_main::stSaved);
    EXPECT_EQ(window->windowTitle(), QStringLiteral("site.qor — ZIRezid"));
    // The last click is into a field again; its value is committed unchanged on the way out.
    ASSERT_NO_FATAL_FAILURE(clickInto(sys->ed_NRingsToPickup));
    ASSERT_NO_FATAL_FAILURE(clickInto(sys->ed_GainRxdB12));
    EXPECT_EQ(window->shellState, Tfrm_main::stSaved);

    ModalScript script;
    QTest::keyClick(window.get(), Qt::Key_Q, Qt::ControlModifier);
    QTest::qWait(100);
    EXPECT_EQ(script.unexpected(), 0) << script.texts.join(QLatin1Char('|')).toStdString();
    EXPECT_FALSE(window->isVisible());
}

TEST_F(TechnicianTest, TheWheelOverAClosedMenuListChangesNothing) {
    KT_TABLE* trunk = firstOf("TRKS");
    ASSERT_NO_FATAL_FAILURE(clickNode(trunk));
    auto* trk = static_cast<Ted_trk*>(window->frames.ed_trk.get());
    const std::string before = trunk->findChild("DayMenu")->getText();
    const int shownBefore = trk->cb_DayMenu->currentIndex();
    for (int notch = 0; notch < 2; ++notch) {
        const QPointF at(trk->cb_DayMenu->width() / 2.0, trk->cb_DayMenu->height() / 2.0);
        QWheelEvent wheel(at, trk->cb_DayMenu->mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton, Qt::NoModifier,
                          Qt::NoScrollPhase, false);
        QApplication::sendEvent(trk->cb_DayMenu, &wheel);
    }
    EXPECT_EQ(trk->cb_DayMenu->currentIndex(), shownBefore);
    EXPECT_EQ(trunk->findChild("DayMenu")->getText(), before);
    EXPECT_EQ(window->shellState, Tfrm_main::stSaved);
}

TEST_F(TechnicianTest, AHashTypedIntoAMenuDescriptionIsRefusedWithTheReason) {
    KT_TABLE* menu = firstOf("MENUS");
    ASSERT_NO_FATAL_FAILURE(clickNode(menu));
    auto* editor = static_cast<Ted_menu*>(window->frames.ed_menu.get());
    ASSERT_NO_FATAL_FAILURE(clickInto(editor->me_Desc));
    editor->me_Desc->clear();
    QTest::keyClicks(editor->me_Desc, QStringLiteral("Sales #1"));
    EXPECT_EQ(editor->me_Desc->text(), QStringLiteral("Sales 1"));
    EXPECT_TRUE(editor->lastRefusal.contains(QLatin1Char('#'))) << editor->lastRefusal.toStdString();
    EXPECT_TRUE(editor->lastRefusal.contains(QStringLiteral("устройство")));
    EXPECT_EQ(QToolTip::text(), editor->lastRefusal);
    QTest::keyClick(editor->me_Desc, Qt::Key_Tab);
    // The stored description, the tree and the editor's heading all follow what was typed.
    EXPECT_EQ(menu->findChild("Desc")->getEditText(), "Sales 1");
    EXPECT_TRUE(editor->stCaption->text().endsWith(QStringLiteral(": Sales 1")))
        << editor->stCaption->text().toStdString();
    EXPECT_EQ(static_cast<TreeNodeItem*>(menu->node)->text(0), editor->stCaption->text());
}

TEST_F(TechnicianTest, ANextMenuListShowsTwentyRowsAtMost) {
    KT_TABLE* trunk = firstOf("TRKS");
    ASSERT_GT(object("MENUS")->childCount(), 25);
    ASSERT_NO_FATAL_FAILURE(clickNode(trunk));
    auto* trk = static_cast<Ted_trk*>(window->frames.ed_trk.get());
    QTest::mouseClick(trk->cb_DayMenu, Qt::LeftButton);
    QAbstractItemView* list = trk->cb_DayMenu->view();
    ASSERT_TRUE(QTest::qWaitFor([&] { return list->isVisible(); }, 2000));
    const int row = list->sizeHintForRow(0);
    EXPECT_LE(list->viewport()->height(), 20 * row + 2) << "row " << row;
    EXPECT_GE(list->viewport()->height(), 15 * row);
    trk->cb_DayMenu->hidePopup();
    EXPECT_EQ(window->shellState, Tfrm_main::stSaved);
}

TEST_F(TechnicianTest, AFileThatIsNotWavDoesNotSpoilTheNextMessage) {
    KT_TABLE* menu = firstOf("MENUS");
    ASSERT_NO_FATAL_FAILURE(clickNode(menu));
    auto* editor = static_cast<Ted_menu*>(window->frames.ed_menu.get());
    const QString text = env.path(QStringLiteral("notes.wav"));
    {
        QFile file(text);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray("this is no sound at all, only words\n").repeated(40));
    }
    const QString tone = env.path(QStringLiteral("tone.wav"));
    ASSERT_NO_FATAL_FAILURE(writeToneWav(tone));
    QStringList answers{text, tone};
    editor->chooseMessageFile = [&answers](const QString&) { return answers.takeFirst(); };

    ModalScript script;
    script.then([](QDialog* box) { box->accept(); }, QStringLiteral("the refused file's message")); // only one
    QTest::mouseClick(editor->btOpen, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return script.handled() + script.unexpected() >= 1; }, 8000));
    ASSERT_EQ(script.texts.size(), 1);
    // Every chosen file is decoded on the way in: one that is no sound is refused naming the file.
    EXPECT_TRUE(script.texts.at(0).contains(text)) << script.texts.at(0).toStdString();
    EXPECT_FALSE(editor->mp1->isEnabled());

    QTest::mouseClick(editor->btOpen, Qt::LeftButton);
    QTest::qWait(200);
    EXPECT_EQ(script.texts.size(), 1) << script.texts.join(QLatin1Char('|')).toStdString();
    EXPECT_TRUE(editor->mp1->isEnabled());
    EXPECT_EQ(editor->me_Message->text(), QStringLiteral("tone.wav"));
    EXPECT_EQ(menu->findChild("Message")->getEditText(), "tone.wav");
}

TEST_F(TechnicianWithFileTest, KeysRunTheFileCommandsAndTheMenusShowThem) {
    // The menus open with Alt and show the keys of their items.
    QStringList titles;
    for (QAction* menu : window->menuBar()->actions())
        titles << menu->text();
    EXPECT_EQ(titles, (QStringList{QStringLiteral("&Файл"), QStringLiteral("&Вид"), QStringLiteral("&Связь"),
                                   QStringLiteral("&Настройки"), QStringLiteral("Спр&авка")}));
    for (QAction* item : {window->mn_New, window->mn_Open, window->mn_Save, window->mn_SaveAs, window->mn_Exit,
                          window->mn_Connect, window->mn_Disconnect, window->mn_Read, window->mn_Write}) {
        EXPECT_FALSE(item->shortcut().isEmpty()) << item->objectName().toStdString();
        EXPECT_TRUE(item->text().contains(QLatin1Char('&'))) << item->objectName().toStdString();
    }
    EXPECT_EQ(window->mn_Save->shortcut(), QKeySequence(QKeySequence::Save));

    // Ctrl+O and Ctrl+N open their dialogs in the folder of the open file; Ctrl+Shift+S saves under a new name.
    const QString folder = QFileInfo(commandLineFile).absolutePath();
    QStringList seen;
    ModalScript script;
    const auto look = [&](QDialog* d) {
        auto* dialog = qobject_cast<QFileDialog*>(d);
        ASSERT_NE(dialog, nullptr);
        seen << dialog->windowTitle() + QLatin1Char('@') + dialog->directory().absolutePath();
        dialog->reject();
    };
    script.then(look).then(look).then(look);
    QTest::keyClick(window.get(), Qt::Key_O, Qt::ControlModifier);
    ASSERT_NO_FATAL_FAILURE(activate());
    QTest::keyClick(window.get(), Qt::Key_N, Qt::ControlModifier);
    ASSERT_NO_FATAL_FAILURE(activate());
    QTest::keyClick(window.get(), Qt::Key_S, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(seen, (QStringList{QStringLiteral("Открыть конфигурацию@") + folder,
                                 QStringLiteral("Новая база настроек@") + folder,
                                 QStringLiteral("Сохранить конфигурацию@") + folder}));
    EXPECT_EQ(script.unexpected(), 0);
}

TEST_F(TechnicianTest, TheLastEightFilesAreInTheFileMenu) {
    EXPECT_EQ(window->windowTitle(), QStringLiteral("noname.qor — ZIRezid"));
    QStringList files;
    for (int i = 1; i <= 9; ++i)
        files << writeBase(QStringLiteral("site%1.qor").arg(i));
    window->askFileName = [&files](Tfrm_main::FileDialogKind, const QString&, const QString&) {
        return files.takeFirst();
    };
    for (int i = 1; i <= 9; ++i)
        QTest::keyClick(window.get(), Qt::Key_O, Qt::ControlModifier);
    EXPECT_EQ(window->windowTitle(), QStringLiteral("site9.qor — ZIRezid"));
    QStringList shown;
    for (QAction* entry : window->mn_Recent->actions())
        shown << entry->text();
    EXPECT_EQ(shown, (QStringList{QStringLiteral("&1 site9.qor"), QStringLiteral("&2 site8.qor"),
                                  QStringLiteral("&3 site7.qor"), QStringLiteral("&4 site6.qor"),
                                  QStringLiteral("&5 site5.qor"), QStringLiteral("&6 site4.qor"),
                                  QStringLiteral("&7 site3.qor"), QStringLiteral("&8 site2.qor")}));
    // Choosing an entry opens that file; a later start remembers the list.
    window->mn_Recent->actions().at(3)->trigger();
    EXPECT_EQ(QString::fromStdString(window->db.basePath), env.path(QStringLiteral("site6.qor")));
    window->close();
    window = std::make_unique<Tfrm_main>();
    EXPECT_EQ(window->mn_Recent->actions().at(0)->text(), QStringLiteral("&1 site6.qor"));
}

TEST_F(TechnicianTest, TheWindowGrowsAndRemembersItsSizeAndSplitter) {
    EXPECT_EQ(window->size(), QSize(800, 562));
    window->resize(1000, 700);
    QTest::qWait(50);
    EXPECT_EQ(window->size(), QSize(1000, 700));
    window->Splitter1->setSizes({300, 690});
    const QList<int> sizes = window->Splitter1->sizes();
    window->close();
    window = std::make_unique<Tfrm_main>();
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    EXPECT_EQ(window->size(), QSize(1000, 700));
    EXPECT_EQ(window->Splitter1->sizes(), sizes);
}

namespace {

// Where a shown text does not fit the widget that shows it, at the window's size; one line per cut text.
QStringList cutTexts(QWidget* top) {
    QStringList cut;
    const auto report = [&cut](const QWidget* w, const QString& text, int need, int have) {
        if (need > have)
            cut << QStringLiteral("%1 \"%2\": %3 > %4").arg(w->objectName(), text).arg(need).arg(have);
    };
    for (QWidget* w : top->findChildren<QWidget*>()) {
        if (!w->isVisibleTo(top) || !w->isVisible())
            continue;
        const QFontMetrics fm = w->fontMetrics();
        // Squeezed in height, a control is drawn over its neighbours.
        auto* wrapped = qobject_cast<QLabel*>(w);
        if (wrapped != nullptr && wrapped->wordWrap() && !wrapped->text().isEmpty()) {
            if (wrapped->heightForWidth(wrapped->width()) > wrapped->height())
                cut << QStringLiteral("%1 squeezed: %2 > %3")
                           .arg(w->objectName())
                           .arg(wrapped->heightForWidth(wrapped->width()))
                           .arg(w->height());
        } else if (w->objectName().startsWith(QStringLiteral("qt_"))) {
            // Qt's own parts of a compound control (a spin box's field) are sized by their control.
        } else if (qobject_cast<QAbstractButton*>(w) != nullptr || qobject_cast<QLineEdit*>(w) != nullptr ||
                   qobject_cast<QComboBox*>(w) != nullptr || (wrapped != nullptr && !wrapped->text().isEmpty())) {
            if (w->height() < w->minimumSizeHint().height())
                cut << QStringLiteral("%1 squeezed: %2 < %3")
                           .arg(w->objectName())
                           .arg(w->height())
                           .arg(w->minimumSizeHint().height());
        }
        if (auto* label = qobject_cast<QLabel*>(w)) {
            if (label->text().isEmpty() || label->wordWrap() || !label->pixmap().isNull())
                continue;
            for (const QString& line : label->text().split(QLatin1Char('\n')))
                report(label, line, fm.horizontalAdvance(line), label->contentsRect().width());
        } else if (auto* combo = qobject_cast<QComboBox*>(w)) {
            QStyleOptionComboBox option;
            option.initFrom(combo);
            const QRect field =
                combo->style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, combo);
            report(combo, combo->currentText(), fm.horizontalAdvance(combo->currentText()), field.width());
        } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
            if (!button->text().isEmpty() && qobject_cast<QToolButton*>(button) == nullptr)
                report(button, button->text(), button->sizeHint().width(), button->width());
        } else if (auto* group = qobject_cast<QGroupBox*>(w)) {
            if (!group->title().isEmpty())
                report(group, group->title(), group->minimumSizeHint().width(), group->width());
        } else if (auto* scroll = qobject_cast<QScrollArea*>(w)) {
            if (scroll->horizontalScrollBar()->isVisible())
                cut << QStringLiteral("%1 scrolls sideways").arg(scroll->objectName());
        } else if (auto* tabs = qobject_cast<QTabBar*>(w)) {
            for (int i = 0; i < tabs->count(); ++i)
                report(tabs, tabs->tabText(i), fm.horizontalAdvance(tabs->tabText(i)), tabs->tabRect(i).width() - 8);
        }
    }
    return cut;
}

} // namespace

TEST_F(TechnicianTest, EveryEditorShowsItsTextsWholeAtTheOpeningSize) {
    ASSERT_EQ(window->size(), QSize(800, 562));
    // One object of every kind, every node of the tree opened.
    // The menu's rows hold every kind of action, the operator call with all its lists among them.
    KT_TABLE* menu = firstOf("MENUS");
    for (int kind = 0; kind <= 4; ++kind)
        menu->findChild(QStringLiteral("ActionDTMF[%1]").arg(kind + 1).toStdString())->setInt(kind);
    window->shellState = Tfrm_main::stSaved;
    QList<KT_TABLE*> shown{window->db.root.get()};
    for (int i = 0; i < window->db.root->childCount(); ++i)
        if (KT_TABLE* table = window->db.root->tableAt(i))
            shown << table << table->tableAt(0);
    shown.removeAll(nullptr);
    ASSERT_GE(shown.size(), 8);
    QStringList cut;
    for (KT_TABLE* table : shown) {
        ASSERT_NO_FATAL_FAILURE(clickNode(table));
        QTest::qWait(20);
        for (TKT_EDITOR* frame : visibleFrames()) {
            const QList<QTabWidget*> pages = frame->findChildren<QTabWidget*>();
            if (pages.isEmpty())
                cut << cutTexts(frame);
            for (QTabWidget* tabs : pages)
                for (int i = 0; i < tabs->count(); ++i) {
                    tabs->setCurrentIndex(i);
                    QTest::qWait(20);
                    cut << cutTexts(frame);
                }
        }
    }
    // The tree's captions, every node opened.
    window->allowExpand = true;
    window->kt_treeview->expandAll();
    window->allowExpand = false;
    QTest::qWait(20);
    QTreeWidget* tree = window->kt_treeview;
    for (QTreeWidgetItemIterator it(tree); *it != nullptr; ++it) {
        const QRect rect = tree->visualItemRect(*it);
        const int need =
            rect.left() + tree->iconSize().width() + 8 + tree->fontMetrics().horizontalAdvance((*it)->text(0));
        if (need > tree->viewport()->width() && (*it)->parent() != nullptr)
            cut << QStringLiteral("tree \"%1\": %2 > %3").arg((*it)->text(0)).arg(need).arg(tree->viewport()->width());
    }
    cut << cutTexts(window->GroupBox1);
    // The device box as it shows a connected unit with a large free memory.
    window->db.deviceInfo->findChild("FreeSpaceBytes")->setText("999999999");
    window->setShellState(Tfrm_main::stSaved, true);
    QTest::qWait(20);
    cut << cutTexts(window->GroupBox1);
    window->setShellState(Tfrm_main::stSaved, false);
    cut.removeDuplicates();
    EXPECT_TRUE(cut.isEmpty()) << cut.join(QLatin1Char('\n')).toStdString();
}

TEST_F(TechnicianTest, ImpossibleTimesAndDatesAreRefusedWithAWord) {
    KT_TABLE* timetable = nullptr;
    for (int i = 0; i < window->db.root->childCount() && timetable == nullptr; ++i)
        if (KT_TABLE* table = window->db.root->tableAt(i);
            table != nullptr && table->editorFrame == window->frames.ed_timetable.get())
            timetable = table;
    ASSERT_NE(timetable, nullptr);
    ASSERT_NO_FATAL_FAILURE(clickNode(timetable));
    auto* editor = static_cast<Ted_timetable*>(window->frames.ed_timetable.get());
    QTimeEdit* start = editor->dayStart.at(0);
    ASSERT_NO_FATAL_FAILURE(clickInto(start));
    QTest::keyClick(start, Qt::Key_Home);
    QTest::keyClicks(start, QStringLiteral("25"));
    EXPECT_TRUE(editor->lastRefusal.startsWith(QStringLiteral("Такого времени нет")))
        << editor->lastRefusal.toStdString();
    EXPECT_NE(start->time().hour(), 25 % 24);
    EXPECT_EQ(QToolTip::text(), editor->lastRefusal);

    editor->lastRefusal.clear();
    editor->pages->setCurrentIndex(1);
    QDateEdit* holiday = editor->holidayStart.at(0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return holiday->isVisible(); }, 2000));
    if (!holiday->isEnabled())
        QTest::mouseClick(editor->useHoliday.at(0), Qt::LeftButton, {},
                          QPoint(5, editor->useHoliday.at(0)->height() / 2));
    ASSERT_TRUE(holiday->isEnabled());
    ASSERT_NO_FATAL_FAILURE(clickInto(holiday));
    QTest::keyClick(holiday, Qt::Key_Home);
    QTest::keyClicks(holiday, QStringLiteral("3102"));
    EXPECT_TRUE(editor->lastRefusal.startsWith(QStringLiteral("Такой даты нет"))) << editor->lastRefusal.toStdString();
    EXPECT_NE(holiday->date(), QDate(2000, 2, 29)) << holiday->date().toString().toStdString();
}
