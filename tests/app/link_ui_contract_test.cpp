// The device link talks to its user through devlink::LinkUi, and two front ends implement it: the read/write
// dialog and zirezid-cli's headless one. The link counts on the same things from both, checked here by the same
// cases: its wait loop neither stalls nor misses the port's calls, what it says reaches the user, a question
// always comes back with one of its own answers, and a stray row or panel number does no harm.
#include "app/message_boxes.h"
#include "app/qt_hosts.h"
#include "app/read_dialog.h"
#include "cli/headless_ui.h"
#include "link/link_ui.h"
#include "link/result_codes.h"
#include "serial/main_thread.h"
#include "ui_helpers.h"

#include <QAbstractButton>
#include <QElapsedTimer>
#include <QLineEdit>
#include <atomic>
#include <climits>
#include <gtest/gtest.h>
#include <iostream>
#include <memory>
#include <set>
#include <sstream>
#include <thread>

namespace zirezid::test {
namespace {

// One implementation with a stand-in for its user: what they were told, and the answers they will give.
class UiHarness {
public:
    virtual ~UiHarness() = default;
    virtual devlink::LinkUi& ui() = 0;
    // Where the port's threads hand their calls: the main thread whose events ui().processEvents runs.
    virtual serial::IVaMainThread& mainThread() = 0;
    // Everything shown to the user so far, messages and questions alike.
    virtual std::string told() = 0;
    // How the user answers the next question: closes the box without choosing, chooses "Пропустить", or types
    // a text and confirms it. The headless front end has its answers given beforehand, on the command line.
    virtual void userWillClose() = 0;
    virtual void userWillSkip() = 0;
    virtual void userWillType(const std::string& text) = 0;
};

class HeadlessHarness : public UiHarness {
public:
    HeadlessHarness() : saved_(std::cerr.rdbuf(err_.rdbuf())) {}
    ~HeadlessHarness() override { std::cerr.rdbuf(saved_); }
    devlink::LinkUi& ui() override { return ui_; }
    serial::IVaMainThread& mainThread() override { return serial::DefaultEventQueue(); }
    std::string told() override { return err_.str(); }
    void userWillClose() override {}
    void userWillSkip() override { ui_.skipOnError = true; }
    void userWillType(const std::string& text) override { ui_.passwordCandidates.push_back(text); }

private:
    std::ostringstream err_;
    std::streambuf* saved_;
    cli::HeadlessUi ui_;
};

class DialogHarness : public UiHarness {
public:
    devlink::LinkUi& ui() override { return dialog_; }
    serial::IVaMainThread& mainThread() override { return host_; }
    std::string told() override { return script_.texts.join(QLatin1Char('\n')).toStdString(); }
    void userWillClose() override {
        script_.then([](QDialog* box) { box->close(); }, QStringLiteral("close the box"));
    }
    void userWillSkip() override {
        script_.then(
            [](QDialog* box) {
                auto* skip = box->findChild<QAbstractButton*>(QStringLiteral("btn_Ignore"));
                if (skip != nullptr && skip->isEnabled())
                    skip->click();
                if (box->isVisible())
                    box->close();
            },
            QStringLiteral("press Пропустить"));
    }
    void userWillType(const std::string& text) override {
        script_.then(
            [text](QDialog* box) {
                box->findChild<QLineEdit*>(QStringLiteral("me_01"))->setText(QString::fromStdString(text));
                box->findChild<QAbstractButton*>(QStringLiteral("btn_Ok"))->click();
            },
            QStringLiteral("type and press OK"));
    }

private:
    QtMainThread host_;
    ModalScript script_;
    QWidget owner_;
    Tfrm_msg_err_ari err_{&owner_};
    Tfrm_msg_warn_query_all all_{&owner_};
    Tfrm_editbox edit_{&owner_};
    Tfrm_read dialog_{&owner_, &err_, &all_, &edit_};
};

struct UiKind {
    const char* name;
    std::unique_ptr<UiHarness> (*make)();
};

void PrintTo(const UiKind& kind, std::ostream* os) { *os << kind.name; }

std::size_t countOf(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size()))
        ++n;
    return n;
}

class LinkUiContract : public ::testing::TestWithParam<UiKind> {
protected:
    std::unique_ptr<UiHarness> h = GetParam().make();
    devlink::LinkUi& ui = h->ui();
};

TEST_P(LinkUiContract, EventProcessingRunsThePortsCallsAndWaitsNoLongerThanAsked) {
    bool ranFromMain = false;
    h->mainThread().Post([&] { ranFromMain = true; });
    ui.processEvents(0);
    EXPECT_TRUE(ranFromMain) << "a call already queued runs without waiting";

    QElapsedTimer clock;
    clock.start();
    ui.processEvents(150);
    EXPECT_LT(clock.elapsed(), 1500) << "nothing pending: the wait ends at maxWaitMs";

    // The link waits long for the unit's answer; a notification arriving meanwhile must end the wait early.
    std::atomic<bool> ranFromPort{false};
    std::thread port([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        h->mainThread().Post([&] { ranFromPort = true; });
    });
    clock.restart();
    while (!ranFromPort && clock.elapsed() < 4000)
        ui.processEvents(10000);
    port.join();
    EXPECT_TRUE(ranFromPort);
    EXPECT_LT(clock.elapsed(), 4000) << "the wait went on after a call had arrived";
}

TEST_P(LinkUiContract, AMessageReachesTheUserWholeWithOrWithoutACaption) {
    const std::string first = "Устройство не отвечает.\nПроверьте кабель и питание.";
    const std::string second = "Прочитано объектов: 3 из 4";
    ui.showMessage(first, "Чтение");
    ui.showMessage(second, "");
    EXPECT_EQ(countOf(h->told(), first), 1u) << h->told();
    EXPECT_EQ(countOf(h->told(), second), 1u) << h->told();
}

TEST_P(LinkUiContract, TheErrorBoxAnswersOnlyItsOwnResultsAndSkipsOnlyWhereAllowed) {
    const std::set<int> allowed{devlink::mrAbort, devlink::mrRetry, devlink::mrIgnore, devlink::mrCancel};
    h->userWillClose();
    const int closed = ui.askAbortRetryIgnore("Ошибка чтения объекта «линия 1»", true);
    EXPECT_TRUE(allowed.contains(closed)) << closed;
    EXPECT_NE(closed, devlink::mrRetry) << "retrying on no answer would ask again for ever";
    EXPECT_EQ(countOf(h->told(), "Ошибка чтения объекта «линия 1»"), 1u) << h->told();

    h->userWillSkip();
    EXPECT_EQ(ui.askAbortRetryIgnore("Ошибка записи объекта «меню 3»", true), devlink::mrIgnore);

    // Where nothing may be skipped (the login, say) a wish to skip must not come back as a skip.
    h->userWillSkip();
    const int notSkipped = ui.askAbortRetryIgnore("Ошибка входа", false);
    EXPECT_TRUE(allowed.contains(notSkipped)) << notSkipped;
    EXPECT_NE(notSkipped, devlink::mrIgnore);
    EXPECT_NE(notSkipped, devlink::mrRetry);
}

TEST_P(LinkUiContract, TheReplaceQuestionAnswersOneOfItsFiveResults) {
    h->userWillClose();
    const int answer = ui.askYesNoAll("Заменить сообщение «приветствие»?");
    const std::set<int> allowed{devlink::mrYes, devlink::mrNo, devlink::mrYesToAll, devlink::mrNoToAll,
                                devlink::mrCancel};
    EXPECT_TRUE(allowed.contains(answer)) << answer;
    EXPECT_EQ(countOf(h->told(), "Заменить сообщение «приветствие»?"), 1u) << h->told();
}

TEST_P(LinkUiContract, TheEditBoxGivesAConfirmedTextAndLeavesTheTextAloneOtherwise) {
    std::string text = "1111";
    h->userWillClose();
    EXPECT_FALSE(ui.editText("Пароль", "Введите пароль", text));
    EXPECT_EQ(text, "1111");

    h->userWillType("4321");
    EXPECT_TRUE(ui.editText("Пароль", "Введите пароль", text));
    EXPECT_EQ(text, "4321");
}

TEST_P(LinkUiContract, RowsAndPanelsThatDoNotExistAreIgnored) {
    for (const int row : {INT_MIN, -1, 0, 1, 2, 1000, INT_MAX}) {
        SCOPED_TRACE(row);
        ui.selectRow(row);
        ui.setRowStatus(row, "OK");
    }
    for (const int panel : {INT_MIN, -1, 0, 1, 2, 3, INT_MAX})
        ui.setStatusPanel(panel, "1/4");
    for (const auto state : {devlink::dsBusy, devlink::dsReady})
        ui.setDialogState(state);
    ui.deviceInfoChanged();
}

TEST_P(LinkUiContract, ALostLineIsToldOnceThoughTheLinkSaysItToo) {
    // The port finds the adapter gone inside event processing, then the running job ends and the link says so.
    h->mainThread().Post([&] { ui.lineLost(); });
    for (int i = 0; i < 5; ++i)
        ui.processEvents(10);
    ui.showMessage(devlink::text::lineLost, "");
    for (int i = 0; i < 5; ++i)
        ui.processEvents(10);
    EXPECT_EQ(countOf(h->told(), devlink::text::lineLost), 1u) << h->told();
}

INSTANTIATE_TEST_SUITE_P(
    FrontEnds, LinkUiContract,
    ::testing::Values(
        UiKind{"ReadDialog", []() -> std::unique_ptr<UiHarness> { return std::make_unique<DialogHarness>(); }},
        UiKind{"Headless", []() -> std::unique_ptr<UiHarness> { return std::make_unique<HeadlessHarness>(); }}),
    [](const ::testing::TestParamInfo<UiKind>& kind) { return std::string(kind.param.name); });

} // namespace
} // namespace zirezid::test
