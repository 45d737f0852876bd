#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "tests/support/unitsim_process.h"

using namespace unitsim_test;

TEST(UnitsimLogin, QuitPromptsAndThePasswordDecides) {
    RunningUnit unit;
    PtyPeer peer(unit.slavePath);
    ASSERT_TRUE(peer.send(" quit\r"));
    ASSERT_TRUE(peer.expect("Password:"));
    ASSERT_TRUE(peer.send("1234\r"));
    auto wrong = peer.expect("Password:");
    ASSERT_TRUE(wrong);
    EXPECT_NE(wrong->find("ERROR"), std::string::npos);
    EXPECT_EQ(wrong->find('#'), std::string::npos);

    ASSERT_TRUE(peer.send("7316\r"));
    ASSERT_TRUE(peer.expect("#"));
    auto sys = peer.command(" geto 0 ");
    ASSERT_TRUE(sys);
    EXPECT_NE(sys->find("OK"), std::string::npos);

    // Logging out while logged in: "OK" (the link then needs no bare carriage return), and the prompt again.
    ASSERT_TRUE(peer.send(" quit\r"));
    auto bye = peer.expect("Password:");
    ASSERT_TRUE(bye);
    EXPECT_NE(bye->find("OK"), std::string::npos);
}

TEST(UnitsimLogin, CommandsOutsideASessionGetNoAnswer) {
    RunningUnit unit;
    PtyPeer peer(unit.slavePath);
    ASSERT_TRUE(peer.send(" geto 0 "));
    EXPECT_EQ(peer.collect(800ms), "");
    // A quit in the middle of a half command ends the session too.
    ASSERT_TRUE(peer.login());
    ASSERT_TRUE(peer.send(" seto 0 73"));
    ASSERT_TRUE(peer.send(" quit\r"));
    ASSERT_TRUE(peer.expect("Password:"));
    ASSERT_TRUE(peer.send(" geto 0 "));
    EXPECT_EQ(peer.collect(800ms), "");
}

TEST(UnitsimLogin, BusyUnitAnswersBusyAndNeverPrompts) {
    RunningUnit unit({"--busy"});
    PtyPeer peer(unit.slavePath);
    ASSERT_TRUE(peer.send(" quit\r"));
    ASSERT_TRUE(peer.expect("Password:"));
    ASSERT_TRUE(peer.send("7316\r"));
    auto busy = peer.expect("BUSY");
    ASSERT_TRUE(busy);
    std::string after = peer.collect(300ms);
    EXPECT_EQ((*busy + after).find('#'), std::string::npos);
}

TEST(UnitsimLogin, NewPasswordCountsFromTheNextLoginAndIsKept) {
    TempDir state;
    {
        RunningUnit unit({}, state.str());
        PtyPeer peer(unit.slavePath);
        ASSERT_TRUE(peer.login());
        auto set = peer.command(" seto 0 4321 0 12 12 0 1 2000 500 200 1 ");
        ASSERT_TRUE(set);
        EXPECT_NE(set->find("OK"), std::string::npos);
        ASSERT_TRUE(peer.send(" quit\r"));
        ASSERT_TRUE(peer.expect("Password:"));
        ASSERT_TRUE(peer.send("7316\r"));
        EXPECT_TRUE(peer.expect("ERROR"));
        ASSERT_TRUE(peer.login("4321"));
    }
    std::ifstream file(state.path() / "objects" / "SYSPARAM.txt");
    std::stringstream text;
    text << file.rdbuf();
    EXPECT_NE(text.str().find("Password=4321"), std::string::npos);
    RunningUnit again({}, state.str());
    PtyPeer peer(again.slavePath);
    EXPECT_TRUE(peer.login("4321"));
}

TEST(UnitsimLogin, MuteUnitSaysNothingAndDelayedUnitAnswersLate) {
    {
        RunningUnit unit({"--mute"});
        PtyPeer peer(unit.slavePath);
        ASSERT_TRUE(peer.send(" quit\r7316\r geto 0 "));
        EXPECT_EQ(peer.collect(800ms), "");
    }
    RunningUnit unit({"--delay-ms", "300"});
    PtyPeer peer(unit.slavePath);
    EXPECT_TRUE(peer.login());
    auto sys = peer.command(" geto 0 ");
    ASSERT_TRUE(sys);
    EXPECT_NE(sys->find("7316"), std::string::npos);
}
