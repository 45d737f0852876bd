#include "flow/trial_call.h"
#include "tests/flow/flow_fixture.h"

using namespace flow;
using flowtest::FlowBase;

namespace {

class TrialCallWalk : public FlowBase {
protected:
    // Line 1 enters menu 0 by day and menu 9 by night (Monday 09:00 to 18:00).
    void SetUp() override {
        FlowBase::SetUp();
        set("TRK(1)", "NightMenu", "9");
        set("TIMETABLE", "DayStart[1]", "0900");
        set("TIMETABLE", "DayEnd[1]", "1800");
        record(0, "main.wav", 4.0);
        set("MENU(0)", "Desc", "'Главное'");
        set("MENU(0)", "ActionDTMF[1]", "0101");
        set("MENU(0)", "ActionDTMF[2]", "02022005");
        set("MENU(0)", "ActionDTMF[3]", "0301");
        set("MENU(1)", "ActionDTMF[1]", "0102");
        set("MENU(1)", "ActionDTMF[0]", "04");
        set("MENU(2)", "ActionDTMF[0]", "04");
        set("MENU(2)", "ActionTO", "0101");
        set("MENU(5)", "ActionTO", "0300");
        set("MENU(9)", "ActionTO", "0109");
        flowData = read();
    }
    TrialCall walk(const std::string& when, std::vector<int> events, bool finish = true, int line = 1) {
        TrialCall call(flowData, line, *parseCallTime(when));
        if (call.start())
            for (int ev : events)
                ev == kNoAnswerEvent ? call.operatorNoAnswer() : call.press(ev);
        if (finish)
            call.finish();
        return call;
    }
    static int d(int digit) { return eventOfDigit(digit); }
    CallFlow flowData;
};

TEST_F(TrialCallWalk, DigitsFollowTheActionsToAnOperatorAndItsFallBack) {
    auto call = walk("2026-12-07 10:00", {d(2)}, false);
    EXPECT_EQ(call.end(), CallEnd::Operator);
    EXPECT_EQ(call.ending(), "Вызов переведён на оператора линии 2, ждать 20 с, затем меню 5");
    EXPECT_EQ(call.steps().front().text, "линия 1, 2026-12-07 10:00 (день): отвечает меню 0");
    EXPECT_EQ(call.steps()[1].text, "меню 0 «Главное»: сообщение main.wav, 4,0 с");
    // Nobody answers: menu 5 takes the call and its time-out leaves a message in mailbox 1.
    call.operatorNoAnswer();
    EXPECT_FALSE(call.ended());
    EXPECT_EQ(call.currentMenu(), 5);
    call.finish();
    EXPECT_EQ(call.end(), CallEnd::Mailbox);
    EXPECT_EQ(call.ending(), "Сообщение в ящик 1");
    EXPECT_EQ(call.menusEntered(), (std::vector<int>{0, 5}));
    EXPECT_EQ(call.path(), (std::vector<std::pair<int, int>>{{0, d(2)}, {5, kTimeoutEvent}}));
}

TEST_F(TrialCallWalk, BackReturnsThroughTheMenusTakenAndFromTheFirstMenuReplaysIt) {
    auto call = walk("2026-12-07 10:00", {d(1), d(1), d(0), d(0), d(3)});
    EXPECT_EQ(call.menusEntered(), (std::vector<int>{0, 1, 2, 1, 0}));
    EXPECT_EQ(call.end(), CallEnd::Mailbox);
    EXPECT_EQ(call.ending(), "Сообщение в ящик 2");
    set("MENU(0)", "ActionDTMF[0]", "04");
    flowData = read();
    auto replay = walk("2026-12-07 10:00", {d(0)}, false);
    EXPECT_EQ(replay.menusEntered(), (std::vector<int>{0, 0}));
    EXPECT_NE(replay.steps()[2].text.find("предыдущего меню нет"), std::string::npos);
}

TEST_F(TrialCallWalk, TimeOutsAloneThatGoRoundEndInALoop) {
    auto night = walk("2026-12-07 20:00", {});
    EXPECT_EQ(night.end(), CallEnd::Loop);
    EXPECT_NE(night.ending().find("по кругу"), std::string::npos);
    // Menu 2's time-out goes to 1, whose time-out does nothing: the call ends there, nowhere.
    auto call = walk("2026-12-07 10:00", {d(1), d(1)});
    EXPECT_EQ(call.end(), CallEnd::Nowhere);
    EXPECT_EQ(call.currentMenu(), 1);
    EXPECT_NE(call.ending().find("Таймаут в меню 1"), std::string::npos);
    // A loop through a return: 2 -> (T) 1 -> ... with 1's time-out returning.
    set("MENU(1)", "ActionTO", "04");
    flowData = read();
    auto round = walk("2026-12-07 10:00", {d(1), d(1)});
    EXPECT_EQ(round.end(), CallEnd::Loop);
}

TEST_F(TrialCallWalk, TargetsThatDoNotExistEndTheCallNowhere) {
    set("MENU(1)", "ActionDTMF[5]", "0170");
    set("MENU(1)", "ActionDTMF[6]", "02072001");
    set("MENU(1)", "ActionDTMF[7]", "0309");
    hide("MENU(2)");
    flowData = read();
    EXPECT_EQ(walk("2026-12-07 10:00", {d(1), d(5)}).end(), CallEnd::Nowhere);
    EXPECT_NE(walk("2026-12-07 10:00", {d(1), d(5)}).ending().find("Меню 70 нет"), std::string::npos);
    EXPECT_EQ(walk("2026-12-07 10:00", {d(1), d(6)}).end(), CallEnd::Nowhere);
    EXPECT_EQ(walk("2026-12-07 10:00", {d(1), d(7)}).end(), CallEnd::Nowhere);
    EXPECT_NE(walk("2026-12-07 10:00", {d(1), d(1)}).ending().find("Меню 2 скрыто"), std::string::npos);
    // A line the unit does not have.
    auto none = walk("2026-12-07 10:00", {}, true, 3);
    EXPECT_EQ(none.end(), CallEnd::Nowhere);
    EXPECT_TRUE(none.menusEntered().empty());
}

TEST_F(TrialCallWalk, DigitsAfterTheEndAndDigitsThatDoNothing) {
    auto call = walk("2026-12-07 10:00", {d(3), d(1), d(1)});
    EXPECT_EQ(call.end(), CallEnd::Mailbox);
    EXPECT_EQ(call.menusEntered(), (std::vector<int>{0})); // nothing after the end moved the call
    auto idle = walk("2026-12-07 10:00", {d(8)}, false);
    EXPECT_FALSE(idle.ended());
    EXPECT_EQ(idle.currentMenu(), 0);
    EXPECT_NE(idle.steps().back().text.find("меню ждёт дальше"), std::string::npos);
}

TEST_F(TrialCallWalk, AnOperatorCalledDuringTheMessageTakesACallerWhoPressesNothing) {
    set("MENU(9)", "CallSLPOnStart", "1");
    set("MENU(9)", "SLPIndex", "1");
    flowData = read();
    auto call = walk("2026-12-07 22:00", {});
    EXPECT_EQ(call.end(), CallEnd::Operator);
    EXPECT_NE(call.ending().find("оператора линии 1 во время сообщения меню 9"), std::string::npos);
}

TEST(TrialCallDigits, ParsesDigitsTimeOutsAndNoAnswer) {
    std::vector<int> ev;
    std::string bad;
    ASSERT_TRUE(parseDigits("1, 2,T,0,N", ev, bad));
    EXPECT_EQ(ev, (std::vector<int>{1, 2, kTimeoutEvent, 10, kNoAnswerEvent}));
    ASSERT_TRUE(parseDigits("", ev, bad));
    EXPECT_TRUE(ev.empty());
    EXPECT_FALSE(parseDigits("1,12", ev, bad));
    EXPECT_EQ(bad, "12");
    EXPECT_FALSE(parseDigits("1,,2", ev, bad));
    EXPECT_FALSE(parseDigits("#", ev, bad));
}

} // namespace
