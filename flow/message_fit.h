// Whether a write's recorded messages fit the unit's memory: one rule for the main window's device box, the
// question before a write and the check of the call flow, so the three never disagree.
//
// The unit deletes a menu's recording before it takes the new one, so what a write needs is what it sends, less
// what the recordings it replaces take now; the free memory the unit reports already leaves out the
// recordings it holds. Where the unit's recording of a menu is not known (the menu was never read from this
// unit in this session), what its replacement frees is not known either, and the rule says so rather than
// claiming the messages will not fit.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace flow {

struct CallFlow;

struct MessagesFit {
    enum class Verdict {
        FreeUnknown, // no device information was read
        Fits,
        MayNotFit,  // more than is free, unless the recordings of unknown size free the rest
        DoesNotFit, // more than is free plus everything the replaced recordings free
    };
    Verdict verdict = Verdict::FreeUnknown;
    int count = 0;                     // messages the write sends
    double seconds = 0;                // their duration
    unsigned long long sendBytes = 0;  // their size in the unit's format
    unsigned long long freedBytes = 0; // what the unit's recordings they replace take now, where known
    std::vector<int> unknownMenus;     // sent menus whose recording on the unit is not known
    std::optional<unsigned long long> freeBytes;
    // What is missing beyond the free memory and the known freed bytes; 0 when it fits.
    unsigned long long shortBytes() const;
    bool questionable() const { return verdict == Verdict::MayNotFit || verdict == Verdict::DoesNotFit; }
};

// What a write of the named objects asks of the unit's memory: the messages of the written menus that exist in
// the unit type and that the sound conversion takes (others are not sent). `objectsWritten` empty: a write of
// every menu.
MessagesFit messagesFit(const CallFlow& flow, const std::vector<std::string>& objectsWritten = {});

// The menu numbers as the technician reads them: "1, 3, 7" (at most `most`, then "…").
std::string menuList(const std::vector<int>& menus, std::size_t most = 6);

} // namespace flow
