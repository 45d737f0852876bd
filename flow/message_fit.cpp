#include "flow/message_fit.h"

#include "flow/call_flow.h"
#include "flow/message_probe.h"

#include <algorithm>

namespace flow {

unsigned long long MessagesFit::shortBytes() const {
    if (!freeBytes)
        return 0;
    const unsigned long long room = *freeBytes + freedBytes;
    return sendBytes > room ? sendBytes - room : 0;
}

MessagesFit messagesFit(const CallFlow& flow, const std::vector<std::string>& objectsWritten) {
    MessagesFit fit;
    fit.freeBytes = flow.freeSpaceBytes;
    for (const Menu& m : flow.menus) {
        if (!objectsWritten.empty() &&
            std::find(objectsWritten.begin(), objectsWritten.end(), m.objectName) == objectsWritten.end())
            continue;
        // The write uploads only a file the conversion takes; a refused one goes nowhere.
        if (!m.exists || !m.message.decodable)
            continue;
        ++fit.count;
        fit.seconds += m.message.seconds;
        fit.sendBytes += unitBytesFor(m.message.seconds);
        if (m.message.onUnitBytes)
            fit.freedBytes += *m.message.onUnitBytes;
        else
            fit.unknownMenus.push_back(m.number);
    }
    if (!fit.freeBytes)
        fit.verdict = MessagesFit::Verdict::FreeUnknown;
    else if (fit.shortBytes() == 0)
        fit.verdict = MessagesFit::Verdict::Fits;
    else
        fit.verdict = fit.unknownMenus.empty() ? MessagesFit::Verdict::DoesNotFit : MessagesFit::Verdict::MayNotFit;
    return fit;
}

std::string menuList(const std::vector<int>& menus, std::size_t most) {
    std::string out;
    for (std::size_t i = 0; i < menus.size() && i < most; ++i)
        out += (i ? ", " : "") + std::to_string(menus[i]);
    if (menus.size() > most)
        out += ", …";
    return out;
}

} // namespace flow
