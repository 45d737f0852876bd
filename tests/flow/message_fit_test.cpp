// Whether a write's messages fit the unit: what the write sends against the free memory and what the
// recordings it replaces free, as the device box, the write's question and the check all judge it.
#include "flow/message_fit.h"
#include "flow/prewrite_check.h"
#include "tests/flow/flow_fixture.h"

#include <algorithm>
#include <map>

using namespace flow;
using flowtest::FlowBase;

namespace {

class MessagesFitTest : public FlowBase {
protected:
    void SetUp() override {
        FlowBase::SetUp();
        set("MENU(0)", "ActionTO", "02002000");
        record(0, "main.wav", 3.0);  // 12000 bytes on the unit
        record(1, "long.wav", 10.0); // 40000
    }
    // The call flow with what the unit was heard to hold for some menus (menu -> bytes, 0 for none).
    CallFlow heard(unsigned long long freeBytes, const std::map<int, unsigned long long>& onUnit) {
        CallFlow f = read(freeBytes);
        for (const auto& [menu, bytes] : onUnit)
            f.menus[static_cast<std::size_t>(menu)].message.onUnitBytes = bytes;
        return f;
    }
    static std::vector<Finding> memoryFindings(const CallFlow& f) {
        std::vector<Finding> r;
        for (const auto& finding : checkCallFlow(f))
            if (finding.object == "DEVICEINFO")
                r.push_back(finding);
        return r;
    }
};

TEST_F(MessagesFitTest, AUnitThatAlreadyHoldsItsMessagesHasRoomForThemAgain) {
    // Read from a unit that holds both recordings: its free memory leaves them out.
    const CallFlow f = heard(1000, {{0, 12000}, {1, 40000}});
    const MessagesFit fit = messagesFit(f);
    EXPECT_EQ(fit.count, 2);
    EXPECT_EQ(fit.sendBytes, 52000u);
    EXPECT_EQ(fit.freedBytes, 52000u);
    EXPECT_TRUE(fit.unknownMenus.empty());
    EXPECT_EQ(fit.verdict, MessagesFit::Verdict::Fits);
    EXPECT_TRUE(memoryFindings(f).empty());

    // A longer take of menu 1 needs 40000 more than the 40000 its old recording frees: 1000 are free.
    record(1, "long.wav", 20.0);
    const CallFlow longer = heard(1000, {{0, 12000}, {1, 40000}});
    EXPECT_EQ(messagesFit(longer).verdict, MessagesFit::Verdict::DoesNotFit);
    EXPECT_EQ(messagesFit(longer).shortBytes(), 92000u - 52000u - 1000u);
    const auto findings = memoryFindings(longer);
    ASSERT_EQ(findings.size(), 1u);
    EXPECT_EQ(findings[0].grade, Grade::Warning);
    EXPECT_NE(findings[0].text.find("не помещаются"), std::string::npos) << findings[0].text;
    EXPECT_NE(findings[0].text.find("52000 байт освободят заменяемые записи"), std::string::npos) << findings[0].text;
}

TEST_F(MessagesFitTest, ARecordingOfUnknownSizeOnTheUnitIsSaidToBeUnknownNotTooBig) {
    // The unit holds nothing for menu 0; menu 1 was never read.
    const CallFlow f = heard(30000, {{0, 0}});
    const MessagesFit fit = messagesFit(f);
    EXPECT_EQ(fit.verdict, MessagesFit::Verdict::MayNotFit);
    EXPECT_EQ(fit.unknownMenus, std::vector<int>{1});
    EXPECT_EQ(fit.shortBytes(), 22000u);
    const auto findings = memoryFindings(f);
    ASSERT_EQ(findings.size(), 1u);
    EXPECT_EQ(findings[0].text.find("не помещаются"), std::string::npos) << findings[0].text;
    EXPECT_NE(findings[0].text.find("меню 1, уже лежащие в устройстве, неизвестно"), std::string::npos)
        << findings[0].text;
    // Once the unit says menu 1 holds nothing, it is plainly too big.
    EXPECT_EQ(messagesFit(heard(30000, {{0, 0}, {1, 0}})).verdict, MessagesFit::Verdict::DoesNotFit);
}

TEST_F(MessagesFitTest, OnlyTheMessagesTheWriteSendsCount) {
    record(2, "hidden.wav", 5.0);
    hide("MENU(2)");
    set("MENU(3)", "Message", "gone.wav"); // no file: nothing to send
    flowtest::writeWav(messageFile(4, "float.wav"), 5.0, 8000, 16, 1, 3);
    set("MENU(4)", "Message", "float.wav"); // refused by the conversion: never sent
    const CallFlow f = heard(20000, {{0, 0}, {1, 0}});
    const MessagesFit all = messagesFit(f);
    EXPECT_EQ(all.count, 2);
    EXPECT_EQ(all.sendBytes, 52000u);
    const MessagesFit one = messagesFit(f, {"MENU(0)", "SYSPARAM"});
    EXPECT_EQ(one.count, 1);
    EXPECT_EQ(one.sendBytes, 12000u);
    EXPECT_EQ(one.verdict, MessagesFit::Verdict::Fits);
    EXPECT_EQ(messagesFit(f, {"SYSPARAM"}).count, 0);
    EXPECT_EQ(messagesFit(read()).verdict, MessagesFit::Verdict::FreeUnknown);
    EXPECT_FALSE(messagesFit(read()).questionable());
}

} // namespace
