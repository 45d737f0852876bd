// The unit's device text of every object kind, arbitrary bytes. The first byte picks the kind. Whatever the
// object holds afterwards must survive its own round trip: the text it would send parses back to itself.
#include "fuzz/quiet_host.h"
#include "model/actions.h"
#include "model/schema.h"
#include "model/tables.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

namespace {

std::unique_ptr<KT_TABLE> build(int kind, KT_ACTIONS& actions) {
    switch (kind) {
    case 0:
        return buildSysParam({"SYSPARAM", "системные параметры", "0", nullptr});
    case 1:
        return buildTrk({"TRK(1)", "линия 1", "11", nullptr}, 50);
    case 2:
        return buildSlp({"SLP(1)", "оператор 1", "21", nullptr});
    case 3:
        return buildTimetable({"TIMETABLE", "расписание работы", "3", nullptr});
    case 4:
        return buildMenu({"MENU(7)", "меню 7", "507", nullptr}, 2, actions);
    case 5:
        return buildMailbox({"MAILBOX(2)", "ящик 2", "62", nullptr}, 1);
    case 6:
        return buildDeviceInfo({"DEVICEINFO", "данные о системе", "90", nullptr}, 29);
    default:
        return buildClock({"CLOCK", "часы", "91", nullptr});
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static fuzzing::QuietHost quiet;
    static std::unique_ptr<KT_ACTIONS> actions = buildActions();
    if (size == 0)
        return 0;
    std::unique_ptr<KT_TABLE> object = build(data[0] % 8, *actions);
    object->parseDeviceText(std::string(reinterpret_cast<const char*>(data) + 1, size - 1));

    const std::string sent = object->buildDeviceText();
    std::unique_ptr<KT_TABLE> copy = build(data[0] % 8, *actions);
    const long before = quiet.messages;
    copy->parseDeviceText(sent);
    if (quiet.messages != before || copy->buildDeviceText() != sent) {
        std::fprintf(stderr, "device text does not read back: [%s] -> [%s]\n", sent.c_str(),
                     copy->buildDeviceText().c_str());
        std::abort();
    }
    return 0;
}
