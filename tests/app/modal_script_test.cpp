// The script that answers modal dialogs is what lets a window test fail when the program asks something else than
// the test expects. These cases make sure it does fail then, instead of passing quietly or hanging.
#include "ui_helpers.h"

#include <QDialog>
#include <QPushButton>
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

namespace zirezid::test {
namespace {

// A modal dialog with one button of that name, which accepts it.
class OneButtonDialog : public QDialog {
public:
    explicit OneButtonDialog(const QString& buttonName, bool enabled = true) {
        setModal(true);
        auto* button = new QPushButton(QStringLiteral("OK"), this);
        button->setObjectName(buttonName);
        button->setEnabled(enabled);
        connect(button, &QPushButton::clicked, this, &QDialog::accept);
    }
};

TEST(ModalScript, AnswersTheDialogsItWasWrittenFor) {
    ModalScript script;
    script.click(QStringLiteral("btn_Ok")).click(QStringLiteral("btn_Ok"));
    OneButtonDialog first(QStringLiteral("btn_Ok"));
    EXPECT_EQ(first.exec(), QDialog::Accepted);
    OneButtonDialog second(QStringLiteral("btn_Ok"));
    EXPECT_EQ(second.exec(), QDialog::Accepted);
    EXPECT_EQ(script.handled(), 2);
    EXPECT_EQ(script.unexpected(), 0);
}

TEST(ModalScript, FailsTheTestWhenAScriptedAnswerIsNeverUsed) {
    // The program did not ask the second question the test meant to answer.
    EXPECT_NONFATAL_FAILURE(
        {
            ModalScript script;
            script.click(QStringLiteral("btn_Ok")).click(QStringLiteral("btn_Yes"));
            OneButtonDialog asked(QStringLiteral("btn_Ok"));
            asked.exec();
        },
        "1 scripted answer(s) never used (1 used): click btn_Yes");
}

TEST(ModalScript, FailsAndClosesADialogWithoutTheButtonToClick) {
    // Another dialog than the one meant, or the meant one with its button off: the test fails, and ends.
    EXPECT_NONFATAL_FAILURE(
        {
            ModalScript script;
            script.click(QStringLiteral("btn_Yes"));
            OneButtonDialog other(QStringLiteral("btn_Ok"));
            EXPECT_EQ(other.exec(), QDialog::Rejected);
        },
        "btn_Yes is not there");
    EXPECT_NONFATAL_FAILURE(
        {
            ModalScript script;
            script.click(QStringLiteral("btn_Ok"));
            OneButtonDialog disabled(QStringLiteral("btn_Ok"), false);
            EXPECT_EQ(disabled.exec(), QDialog::Rejected);
        },
        "btn_Ok is disabled");
}

TEST(ModalScript, CancelsAQuestionBeyondTheScriptAndCountsIt) {
    ModalScript script;
    OneButtonDialog unasked(QStringLiteral("btn_Ok"));
    EXPECT_EQ(unasked.exec(), QDialog::Rejected);
    EXPECT_EQ(script.unexpected(), 1);
    EXPECT_EQ(script.handled(), 0);
}

} // namespace
} // namespace zirezid::test
