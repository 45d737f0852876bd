#include "editor_fixture.h"

#include "editors/frm_spec.h"
#include "model/actions.h"
#include "model/schema.h"
#include "model/tables.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <QtTest/QTest>

using namespace zirezid;

namespace {

// No field of the schema carries specials, so the dialog is tried on a digit string with all five groups,
// held by an object of its own and edited in a frame with the button beside its field.
class DialStringTest : public test::EditorTest {
protected:
    DialStringTest() : spec(frames.frm_spec.get()) {
        holder = std::make_unique<KT_TABLE_OBJECT>();
        holder->description = "набор";
        record = holder->addField(std::make_unique<KT_CODE>("-", 1, 20, true, true, true, true, true), "Dial", "01",
                                  "Номер для набора");
        frame = std::make_unique<TKT_EDITOR>();
        auto* layout = new QVBoxLayout(frame->pnl_middle);
        edit = new KtMaskEdit(frame->pnl_middle);
        button = new QToolButton(frame->pnl_middle);
        layout->addWidget(edit);
        layout->addWidget(button);
        TKT_EDITOR::setTag(edit, record);
        TKT_EDITOR::setTagControl(button, edit);
        edit->setText(QString::fromStdString(record->getEditText()));
        frame->placeInto(&window);
        frame->show();
        frame->bindObject(holder.get());
        spec->askNumber = [this](const QString& description, int min, int max, int& number) {
            asked << description;
            ranges.push_back({min, max});
            if (numbers.isEmpty())
                return false;
            number = numbers.takeFirst();
            return true;
        };
    }
    ~DialStringTest() override {
        frame->unbind();
        frame->hideAndDetach();
    }
    // Opens the dialog on the field as the button does, without running it.
    void open(const QString& text) {
        edit->setText(text);
        spec->takeContext(edit);
        spec->editObject(*record->value);
    }
    int sourceRow(const char* pattern) const {
        for (int r = 0; r < spec->grd_src->rowCount(); ++r)
            if (spec->grd_src->item(r, 0)->text() == QLatin1String(pattern))
                return r;
        return -1;
    }
    void choose(const char* pattern) {
        const int r = sourceRow(pattern);
        ASSERT_GE(r, 0) << pattern;
        spec->grd_src->selectRow(r);
    }
    QStringList column(int c) const {
        QStringList list;
        for (int r = 0; r < spec->grd_dst->rowCount(); ++r)
            list << spec->grd_dst->item(r, c)->text();
        return list;
    }

    Tfrm_spec* spec;
    std::unique_ptr<KT_TABLE_OBJECT> holder;
    KT_RECORD* record;
    std::unique_ptr<TKT_EDITOR> frame;
    KtMaskEdit* edit;
    QToolButton* button;
    QStringList asked;
    std::vector<std::pair<int, int>> ranges;
    QList<int> numbers;
};

} // namespace

TEST_F(DialStringTest, SetUpShowsTheStringItsElementsAndEverySpecial) {
    open(QStringLiteral("12*9412"));
    EXPECT_EQ(spec->windowTitle(), QStringLiteral("Редатирование специальных комбинаций"));
    EXPECT_EQ(spec->me->text(), QStringLiteral("12*9412"));
    EXPECT_EQ(spec->grd_src->rowCount(), 18);
    EXPECT_EQ(spec->grd_src->item(0, 0)->text(), QStringLiteral("**"));
    EXPECT_EQ(spec->grd_src->item(0, 1)->text(), QStringLiteral("Вставить *"));
    EXPECT_EQ(spec->grd_src->item(17, 0)->text(), QStringLiteral("*52X"));
    EXPECT_EQ(spec->grd_src->editTriggers(), QAbstractItemView::NoEditTriggers);
    EXPECT_EQ(column(0), (QStringList{QString(), QStringLiteral("*9412")}));
    EXPECT_EQ(column(1), (QStringList{QStringLiteral("12"), QStringLiteral("Перейти к меню 12")}));
    EXPECT_FALSE(spec->gridLastUsed);
}

TEST_F(DialStringTest, UnknownCharactersVanishFromTheGridUntilTheStringIsRebuilt) {
    open(QStringLiteral("5*a#*7"));
    EXPECT_EQ(column(0), (QStringList{QString(), QStringLiteral("*7")}));
    EXPECT_EQ(column(1), (QStringList{QStringLiteral("5"), QStringLiteral("Пауза 1с")}));
    EXPECT_EQ(spec->me->text(), QStringLiteral("5*a#*7"));
    // Deleting with the grid last used rebuilds the string from the rows that stay.
    spec->gridLastUsed = true;
    spec->grd_dst->selectRow(1);
    spec->bt_DelClick();
    EXPECT_EQ(spec->me->text(), QStringLiteral("5"));
}

TEST_F(DialStringTest, AddingAsksForThePlaceholdersWithTheirRanges) {
    open(QStringLiteral("1"));
    choose("*95XXX");
    numbers = {7};
    spec->bt_AddClick();
    EXPECT_EQ(spec->me->text(), QStringLiteral("1*95007"));
    ASSERT_EQ(ranges.size(), 1u);
    EXPECT_EQ(ranges[0], (std::pair<int, int>{0, 999}));
    EXPECT_EQ(asked[0], QStringLiteral("Проиграть сообщение XXX из таблицы"));
    EXPECT_EQ(column(1).value(1), QStringLiteral("Проиграть сообщение 007 из таблицы"));

    choose("*94XX");
    numbers = {12};
    spec->bt_AddClick();
    EXPECT_EQ(ranges.back(), (std::pair<int, int>{0, 49})); // the 50 menus of QOR22
    choose("*8XX");
    numbers = {3};
    spec->bt_AddClick();
    EXPECT_EQ(ranges.back(), (std::pair<int, int>{1, 99}));
    EXPECT_EQ(spec->me->text(), QStringLiteral("1*95007*9412*803"));

    // Cancelling the question adds nothing; a special without placeholders asks nothing.
    choose("*50X");
    spec->bt_AddClick();
    EXPECT_EQ(ranges.back(), (std::pair<int, int>{1, 9}));
    EXPECT_EQ(spec->me->text(), QStringLiteral("1*95007*9412*803"));
    const std::size_t askedBefore = ranges.size();
    choose("*1");
    spec->bt_AddClick();
    EXPECT_EQ(ranges.size(), askedBefore);
    EXPECT_EQ(spec->me->text(), QStringLiteral("1*95007*9412*803*1"));
    EXPECT_EQ(column(1).last(), QStringLiteral("Вставить #"));

    // At the field's greatest length (20) the added piece is cut off.
    choose("*93");
    spec->bt_AddClick();
    EXPECT_EQ(spec->me->text(), QStringLiteral("1*95007*9412*803*1*9"));
    spec->bt_AddClick();
    EXPECT_EQ(spec->me->text(), QStringLiteral("1*95007*9412*803*1*9"));
}

TEST_F(DialStringTest, InsertAndDeleteWorkAtTheCaretOrAtTheGridRow) {
    open(QStringLiteral("12*7345"));
    choose("*6");
    // At the caret of the string.
    spec->me->setCursorPosition(1);
    spec->bt_InsClick();
    EXPECT_EQ(spec->me->text(), QStringLiteral("1*62*7345"));
    spec->me->setCursorPosition(0);
    spec->bt_DelClick();
    EXPECT_EQ(spec->me->text(), QStringLiteral("*62*7345"));
    spec->me->setCursorPosition(8);
    spec->bt_DelClick(); // nothing after the caret
    EXPECT_EQ(spec->me->text(), QStringLiteral("*62*7345"));

    // At the start of the row chosen in the grid, counting hand-edited cells as they stand.
    ASSERT_EQ(column(0), (QStringList{QStringLiteral("*6"), QString(), QStringLiteral("*7"), QString()}));
    spec->grd_dst->item(1, 1)->setText(QStringLiteral("222"));
    spec->gridLastUsed = true;
    spec->grd_dst->selectRow(2);
    choose("*0");
    spec->bt_InsClick();
    // The caret lands after "*6" and the edited "222": five characters in, inside "*7345".
    EXPECT_EQ(spec->me->text(), QStringLiteral("*62*7*0345"));
    ASSERT_EQ(column(0),
              (QStringList{QStringLiteral("*6"), QString(), QStringLiteral("*7"), QStringLiteral("*0"), QString()}));
    spec->grd_dst->item(1, 1)->setText(QStringLiteral("99"));
    spec->gridLastUsed = true;
    spec->grd_dst->selectRow(0);
    spec->bt_DelClick();
    EXPECT_EQ(spec->me->text(), QStringLiteral("99*7*0345"));
}

TEST_F(DialStringTest, LeavingTheGridOrTheStringDecidesWhereEditsGo) {
    spec->show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(spec));
    open(QStringLiteral("1*72"));
    choose("*6");
    spec->grd_dst->setFocus();
    spec->grd_dst->selectRow(1);
    spec->bt_Del->setFocus(); // the grid is left
    EXPECT_TRUE(spec->gridLastUsed);
    spec->bt_DelClick();
    EXPECT_EQ(spec->me->text(), QStringLiteral("12"));
    spec->me->setFocus();
    spec->me->setCursorPosition(0);
    spec->bt_Del->setFocus(); // the string is left
    EXPECT_FALSE(spec->gridLastUsed);
    spec->bt_DelClick();
    EXPECT_EQ(spec->me->text(), QStringLiteral("2"));
    spec->reject();
}

TEST_F(DialStringTest, TypingTakesOnlyDigitsAndStarsAndRefreshesTheGrid) {
    spec->show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(spec));
    open(QStringLiteral("4"));
    spec->me->setFocus();
    spec->me->end(false);
    QTest::keyClicks(spec->me, QStringLiteral("a#*9 0"));
    QTest::keyClick(spec->me, Qt::Key_Backspace);
    EXPECT_EQ(spec->me->text(), QStringLiteral("4*90"));
    EXPECT_EQ(column(1), (QStringList{QStringLiteral("4"), QStringLiteral("90")})); // "*90" is no special yet
    spec->reject();
}

TEST_F(DialStringTest, ButtonBesideTheFieldOpensTheDialogAndOkWritesBack) {
    edit->setText(QStringLiteral("77"));
    QTimer::singleShot(0, spec, [this] {
        ASSERT_TRUE(spec->isVisible());
        EXPECT_EQ(QApplication::activeModalWidget(), spec);
        EXPECT_EQ(spec->me->text(), QStringLiteral("77"));
        choose("*91XX");
        numbers = {30};
        spec->bt_AddClick();
        spec->bt_Ok->click();
    });
    button->click();
    EXPECT_FALSE(spec->isVisible());
    EXPECT_EQ(edit->text(), QStringLiteral("77*9130"));
    EXPECT_EQ(record->getText(), "-"); // stored only when the field is left
    leave(edit);
    EXPECT_EQ(record->getText(), "77*9130");

    // Cancel writes nothing.
    QTimer::singleShot(0, spec, [this] {
        spec->me->setText(QStringLiteral("1"));
        spec->bt_Cancel->click();
    });
    button->click();
    EXPECT_EQ(edit->text(), QStringLiteral("77*9130"));
}

TEST_F(DialStringTest, NumberDialogStepsWithinItsRangeAndPadsTheNumber) {
    Tfrm_spec1* ask = spec->frm_spec1;
    int number = -1;
    QTimer::singleShot(0, ask, [ask] {
        EXPECT_EQ(ask->mem1->toPlainText(), QStringLiteral("Пауза XX секунд"));
        EXPECT_EQ(ask->me1->text(), QStringLiteral("1"));
        ask->ud1->bt_Down->click(); // no wrap below the range
        EXPECT_EQ(ask->me1->text(), QStringLiteral("1"));
        ask->ud1->setPosition(120);
        EXPECT_EQ(ask->me1->text(), QStringLiteral("99"));
        ask->ud1->bt_Down->click();
        ask->bt_Ok->click();
    });
    ASSERT_TRUE(ask->ask(QStringLiteral("Пауза XX секунд"), 1, 99, number));
    EXPECT_EQ(number, 98);
    EXPECT_EQ(dialSpecialPiece("*90XX", number), "*9098");
    QTimer::singleShot(0, ask, [ask] { ask->bt_Cancel->click(); });
    EXPECT_FALSE(ask->ask(QStringLiteral("Пауза XX секунд"), 1, 99, number));
}
