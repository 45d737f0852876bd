// Device lines come from the unit and may be damaged on the way: whatever arrives, parsing never fails as a
// whole, every field keeps a value its kind accepts, and what the object then sends reads back unchanged.
#include "fake_host.h"
#include "sample_base.h"

#include <gtest/gtest.h>

#include <random>

namespace {

std::string randomLine(std::mt19937& rng) {
    static const std::vector<std::string> pieces = {
        "0", "1", "7", "12", "99", "2359", "0101", " ",    "  ", "'",    "{",        "}",  ":",          "*",
        "-", ".", "/", "\\", "..", "Ж",    "日",   "\xff", "\t", "0107", "02002000", "04", "{a:b.ktm:c}"};
    std::uniform_int_distribution<std::size_t> count(0, 40);
    std::uniform_int_distribution<std::size_t> pick(0, pieces.size() - 1);
    std::string line;
    for (std::size_t n = count(rng); n > 0; --n)
        line += pieces[pick(rng)];
    return line;
}

TEST(DeviceTextRobustness, DamagedLinesNeverBreakAnObject) {
    fake::Host ui;
    sample::Base base = sample::build(2, 3, 2);
    auto info = buildDeviceInfo({"DEVICEINFO", "данные о системе", "90", nullptr}, 29);
    auto clock = buildClock({"CLOCK", "часы", "91", nullptr});
    std::vector<KT_TABLE*> objects = {base.sysparam,
                                      base.trks->tableAt(0),
                                      base.slps->tableAt(1),
                                      base.timetable,
                                      base.menus->tableAt(2),
                                      base.mailboxes->tableAt(0),
                                      info.get(),
                                      clock.get()};
    std::mt19937 rng(20240611);
    for (int round = 0; round < 1500; ++round) {
        const std::string line = randomLine(rng);
        for (KT_TABLE* t : objects) {
            ASSERT_NO_THROW(t->parseDeviceText(line)) << t->getName() << " <" << line << ">";
            const std::string sent = t->buildDeviceText();
            for (int i = 0; i < t->childCount(); ++i) {
                KT_TYPE* v = t->childAt(i)->value.get();
                // Whatever the value holds now, the value itself accepts it again.
                if (!kt_cast<KT_TIME>(v) && !kt_cast<KT_DATE>(v) && !kt_cast<KT_DATE_NOYEAR>(v)) {
                    EXPECT_NO_THROW(v->setText(v->getText())) << t->childAt(i)->key;
                }
                const std::string file = v->getText();
                if (kt_cast<KT_FILE>(v)) {
                    EXPECT_EQ(file.find('/'), std::string::npos) << file;
                    EXPECT_EQ(file.find('\\'), std::string::npos) << file;
                    EXPECT_NE(file, "..");
                }
            }
            ui.clear();
            t->parseDeviceText(sent);
            EXPECT_TRUE(ui.messages.empty()) << t->getName() << " <" << sent << ">: " << ui.lastMessage();
            EXPECT_EQ(t->buildDeviceText(), sent) << t->getName();
        }
    }
}

TEST(DeviceTextRobustness, KeyFiltersTakeAnyCurrentText) {
    fake::Host ui;
    sample::Base base = sample::build(1, 2, 1);
    std::mt19937 rng(7);
    const char32_t keys[] = {kBackspace, U'0', U'9', U'*', U':', U'.', U'\'', U'Ж', U'日', 0, 13};
    int fields = 0;
    for (KT_TABLE* t : {static_cast<KT_TABLE*>(base.sysparam), static_cast<KT_TABLE*>(base.timetable),
                        base.menus->tableAt(0), base.mailboxes->tableAt(0)})
        for (int i = 0; i < t->childCount(); ++i) {
            KT_TYPE* v = t->childAt(i)->value.get();
            if (kt_cast<KT_TABLE>(v))
                continue;
            ++fields;
            for (int round = 0; round < 50; ++round) {
                // Damaged or foreign text (a file from elsewhere, invalid UTF-8) is judged, never a failure.
                const std::string current = randomLine(rng);
                for (char32_t k : keys)
                    EXPECT_NO_THROW((void)v->isKeyAllowed(k, current)) << t->childAt(i)->key << " <" << current << ">";
                // No typed field takes a control character, whatever it holds: it would end the unit's command
                // line. (A message file is chosen, never typed.)
                if (kt_cast<KT_FILE>(v))
                    continue;
                EXPECT_FALSE(v->isKeyAllowed(0, current)) << t->childAt(i)->key << " <" << current << ">";
                EXPECT_FALSE(v->isKeyAllowed(13, current)) << t->childAt(i)->key << " <" << current << ">";
            }
        }
    EXPECT_GT(fields, 10);
}

} // namespace
