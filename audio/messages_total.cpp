#include "audio/messages_total.h"

#include "model/tables.h"
#include "model/unit_config.h"

#include <sndfile.h>

#include <sys/stat.h>

namespace audio {

bool probeMessage(const std::string& path, double& seconds, std::uint64_t& unitBytes) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    SF_INFO info{};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    if (!f)
        return false;
    sf_close(f);
    if (info.samplerate <= 0 || info.frames <= 0 || info.frames == SF_COUNT_MAX)
        return false;
    seconds = static_cast<double>(info.frames) / info.samplerate;
    // The unit's conversion gives one sample per 1/8000 s of the input and packs two to a byte.
    const auto samples = static_cast<std::uint64_t>(static_cast<double>(info.frames) * 8000.0 / info.samplerate);
    unitBytes = samples / 2;
    return true;
}

MessagesTotal totalOfMessages(SettingsDatabase& db, const std::vector<KT_TABLE*>& menus) {
    std::vector<KT_TABLE*> all = menus;
    if (all.empty())
        if (KT_TABLE* list = db.root ? db.root->findTable("MENUS") : nullptr)
            for (int i = 0; i < list->childCount(); ++i)
                if (KT_TABLE* menu = list->tableAt(i))
                    all.push_back(menu);
    MessagesTotal total;
    for (KT_TABLE* menu : all) {
        KT_RECORD* message = menu != nullptr ? menu->findChild("Message") : nullptr;
        if (message == nullptr)
            continue;
        const std::string name = message->getEditText();
        if (name.empty() || name == "-")
            continue;
        double seconds = 0;
        std::uint64_t bytes = 0;
        if (!probeMessage(menuMessageFolder(db.messagesFolder, *menu) + name, seconds, bytes))
            continue;
        ++total.count;
        total.seconds += seconds;
        total.unitBytes += bytes;
    }
    return total;
}

std::int64_t lastFreeSpaceBytes(SettingsDatabase& db) {
    KT_RECORD* free = db.deviceInfo ? db.deviceInfo->findChild("FreeSpaceBytes") : nullptr;
    if (free == nullptr)
        return -1;
    try {
        const long long v = std::stoll(free->getEditText());
        // The default before any device information is 0: nothing is known yet.
        return v > 0 ? v : -1;
    } catch (const std::exception&) {
        return -1;
    }
}

std::string writeFitWarning(const MessagesTotal& writing, std::int64_t freeBytes) {
    if (freeBytes < 0 || writing.unitBytes <= static_cast<std::uint64_t>(freeBytes))
        return {};
    return "Сообщения этой записи займут в устройстве " + std::to_string(writing.unitBytes / 1024) +
           " КБ, а свободно " + std::to_string(freeBytes / 1024) + " КБ: места может не хватить. Всё равно записать?";
}

} // namespace audio
