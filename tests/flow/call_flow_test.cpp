#include "flow/call_flow.h"
#include "flow/message_probe.h"
#include "tests/flow/flow_fixture.h"

#include <algorithm>
#include <sys/stat.h>

using namespace flow;
using flowtest::FlowBase;

namespace {

class CallFlowGraph : public FlowBase {};

int countEdges(const std::vector<Edge>& edges, Edge::Kind kind, int fromMenu = -1) {
    return static_cast<int>(std::count_if(edges.begin(), edges.end(), [&](const Edge& e) {
        return e.kind == kind && (fromMenu < 0 || e.fromMenu == fromMenu);
    }));
}

TEST_F(CallFlowGraph, ReadsLinesMenusActionsAndTheUnitsCounts) {
    set("TRK(1)", "DayMenu", "1");
    set("TRK(1)", "NightMenu", "2");
    set("TRK(2)", "HolidayMenu", "7");
    set("MENU(1)", "Desc", "'Главное'");
    set("MENU(1)", "ActionDTMF[0]", "0104");
    set("MENU(1)", "ActionTO", "02023006");
    set("MENU(1)", "ActionDTMF[9]", "0301");
    set("MENU(1)", "ActionDTMF[5]", "04");
    set("MENU(1)", "CallSLPOnStart", "1");
    set("MENU(1)", "SLPIndex", "2");
    set("MAILBOX(2)", "Password", "4321");
    const CallFlow f = read();

    EXPECT_EQ(f.unitName, "QOR22");
    ASSERT_EQ(f.lines.size(), 2u);
    EXPECT_EQ(f.menus.size(), 50u);
    EXPECT_EQ(f.mailboxes.size(), 2u);
    EXPECT_EQ(f.lines[0].dayMenu, 1);
    EXPECT_EQ(f.lines[0].nightMenu, 2);
    EXPECT_EQ(f.lines[1].holidayMenu, 7);
    const Menu& m = f.menus[1];
    EXPECT_EQ(m.description, "Главное");
    EXPECT_TRUE(m.callOperatorOnStart);
    EXPECT_EQ(m.operatorOnStart, 2);
    const Action& zero = m.actions[static_cast<std::size_t>(eventOfDigit(0))];
    EXPECT_EQ(zero.kind, Action::Kind::ToMenu);
    EXPECT_EQ(zero.menu, 4);
    const Action& to = m.actions[kTimeoutEvent];
    EXPECT_EQ(to.kind, Action::Kind::ToOperator);
    EXPECT_EQ(to.operatorLine, 2);
    EXPECT_EQ(to.waitSeconds, 30);
    EXPECT_EQ(to.menu, 6);
    EXPECT_EQ(m.actions[9].kind, Action::Kind::Mailbox);
    EXPECT_EQ(m.actions[9].mailbox, 1);
    EXPECT_EQ(m.actions[5].kind, Action::Kind::Back);
    EXPECT_EQ(f.mailboxes[1].password, "4321");
    EXPECT_EQ(f.setupPassword, "7316");
    EXPECT_FALSE(f.freeSpaceBytes.has_value());

    // Line edges: three per line; menu 1's four actions plus the operator's fall-back.
    const auto edges = flowEdges(f);
    EXPECT_EQ(countEdges(edges, Edge::Kind::LineDay) + countEdges(edges, Edge::Kind::LineNight) +
                  countEdges(edges, Edge::Kind::LineHoliday),
              6);
    EXPECT_EQ(countEdges(edges, Edge::Kind::Digit, 1), 4);
    EXPECT_EQ(countEdges(edges, Edge::Kind::OperatorNoAnswer, 1), 1);
}

TEST_F(CallFlowGraph, HiddenAndBeyondCountTargetsDoNotExist) {
    hide("MENU(3)");
    hide("SLP(2)");
    hide("MAILBOX(1)");
    const CallFlow f = read();
    EXPECT_EQ(f.menu(3), nullptr);
    EXPECT_NE(f.menu(4), nullptr);
    EXPECT_EQ(f.menu(50), nullptr);
    EXPECT_EQ(f.menu(-1), nullptr);
    EXPECT_TRUE(f.operatorExists(0));
    EXPECT_TRUE(f.operatorExists(1));
    EXPECT_FALSE(f.operatorExists(2));
    EXPECT_FALSE(f.operatorExists(3));
    EXPECT_FALSE(f.mailboxExists(0));
    EXPECT_TRUE(f.mailboxExists(1));
    EXPECT_FALSE(f.mailboxExists(2));

    // A hidden list hides everything in it.
    hide("SLPS");
    EXPECT_FALSE(read().operatorExists(0));
}

TEST_F(CallFlowGraph, ReachesMenusThroughLinesActionsAndOperatorFallBacks) {
    set("TRK(1)", "DayMenu", "1");
    set("TRK(1)", "NightMenu", "1");
    set("TRK(1)", "HolidayMenu", "1");
    set("TRK(2)", "DayMenu", "1");
    set("TRK(2)", "NightMenu", "1");
    set("TRK(2)", "HolidayMenu", "1");
    set("MENU(1)", "ActionDTMF[1]", "0102");
    set("MENU(1)", "ActionDTMF[2]", "02012008"); // operator 1, fall-back menu 8
    set("MENU(2)", "ActionDTMF[1]", "0149");
    set("MENU(5)", "ActionDTMF[1]", "0106"); // 5 is reached by nothing, so 6 is not reached through it
    hide("MENU(49)");
    set("MENU(2)", "ActionDTMF[2]", "0149");
    const auto r = reachableMenus(read());
    auto reached = [&](int k) { return k < static_cast<int>(r.size()) && r[static_cast<std::size_t>(k)]; };
    EXPECT_TRUE(reached(1));
    EXPECT_TRUE(reached(2));
    EXPECT_TRUE(reached(8));
    EXPECT_TRUE(reached(49)); // reached, although it does not exist
    EXPECT_FALSE(reached(0));
    EXPECT_FALSE(reached(5));
    EXPECT_FALSE(reached(6));
}

TEST_F(CallFlowGraph, ProbesRecordingsForLengthAndUsability) {
    record(1, "hello.wav", 2.5);
    flowtest::writeWav(messageFile(2, "stereo.wav"), 1.0, 22050, 8, 2);
    set("MENU(2)", "Message", "stereo.wav");
    flowtest::writeWav(messageFile(3, "float.wav"), 1.0, 8000, 32, 1, 3);
    set("MENU(3)", "Message", "float.wav");
    set("MENU(4)", "Message", "gone.wav");
    std::filesystem::create_directories(messageFile(5, "x").parent_path());
    { std::ofstream(messageFile(5, "text.wav")) << "not a sound at all"; }
    set("MENU(5)", "Message", "text.wav");
    // A header that promises more data than the file holds: the length is what is really there.
    flowtest::writeWav(messageFile(6, "cut.wav"), 2.0);
    std::filesystem::resize_file(messageFile(6, "cut.wav"), 44 + 8000);
    set("MENU(6)", "Message", "cut.wav");

    const CallFlow f = read();
    EXPECT_TRUE(f.menus[1].message.decodable);
    EXPECT_NEAR(f.menus[1].message.seconds, 2.5, 0.001);
    EXPECT_TRUE(f.menus[2].message.decodable);
    EXPECT_NEAR(f.menus[2].message.seconds, 1.0, 0.001);
    EXPECT_TRUE(f.menus[3].message.readable);
    EXPECT_FALSE(f.menus[3].message.decodable);
    EXPECT_FALSE(f.menus[4].message.exists);
    EXPECT_FALSE(f.menus[4].message.problem.empty());
    EXPECT_TRUE(f.menus[5].message.exists);
    EXPECT_FALSE(f.menus[5].message.readable);
    EXPECT_NEAR(f.menus[6].message.seconds, 0.5, 0.001);
    EXPECT_FALSE(f.menus[0].message.named());
    EXPECT_EQ(unitBytesFor(1.0), 4000u);
}

TEST_F(CallFlowGraph, AMessageThatIsAPipeOrAFolderIsRefusedWithoutWaiting) {
    std::filesystem::create_directories(messageFile(1, "x").parent_path());
    ASSERT_EQ(::mkfifo(messageFile(1, "pipe.wav").c_str(), 0600), 0);
    set("MENU(1)", "Message", "pipe.wav");
    std::filesystem::create_directories(messageFile(2, "folder.wav"));
    set("MENU(2)", "Message", "folder.wav");
    const CallFlow f = read(); // a pipe opened for reading would block here
    EXPECT_TRUE(f.menus[1].message.exists);
    EXPECT_EQ(f.menus[1].message.problem, "это не обычный файл");
    EXPECT_FALSE(f.menus[2].message.decodable);

    // A messages folder that is a plain file: every recording is simply not there.
    std::filesystem::remove_all(db.messagesFolder);
    { std::ofstream(db.messagesFolder.substr(0, db.messagesFolder.size() - 1)) << "x"; }
    const CallFlow g = read();
    EXPECT_FALSE(g.menus[1].message.exists);
    EXPECT_FALSE(g.menus[1].message.problem.empty());
}

TEST(CallFlowText, DescribesEndsInTheCallersWords) {
    Action op;
    op.kind = Action::Kind::ToOperator;
    op.operatorLine = 2;
    op.waitSeconds = 20;
    op.menu = 5;
    EXPECT_EQ(describeAction(op), "Вызов переведён на оператора линии 2, ждать 20 с, затем меню 5");
    op.operatorLine = 0;
    EXPECT_EQ(describeAction(op), "Вызов переведён на всех операторов, ждать 20 с, затем меню 5");
    Action box;
    box.kind = Action::Kind::Mailbox;
    box.mailbox = 2;
    EXPECT_EQ(describeAction(box), "Сообщение в ящик 3");
    EXPECT_EQ(eventKey(0), "ActionTO");
    EXPECT_EQ(eventKey(eventOfDigit(0)), "ActionDTMF[0]");
    EXPECT_EQ(eventKey(eventOfDigit(7)), "ActionDTMF[7]");
}

} // namespace
