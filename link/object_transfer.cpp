// Reading and writing the listed objects one after another, with the per-object status in the grid and the
// summary in the status bar. What is read is held until it is applied.
#include "link/device_link.h"
#include "link/unit_recordings.h"

#include "model/tables.h"
#include "model/unit_config.h"

#include <cstring>

namespace devlink {

namespace {
bool isMenu(KT_TABLE& object) { return std::strcmp(object.className(), "KT_TABLE_MENU") == 0; }
} // namespace

int DeviceLink::readAll() {
    beginJob();
    const int total = static_cast<int>(linkObjects.size());
    pendingAnswers.assign(linkObjects.size(), std::string());
    int successes = 0;
    for (int k = 0; k < total; ++k) {
        KT_TABLE& object = *linkObjects[static_cast<std::size_t>(k)].second;
        ui_.selectRow(k + 1);
        ui_.setStatusPanel(1, object.getDescription());
        ui_.setStatusPanel(2, std::to_string(k + 1) + "/" + std::to_string(total));
        std::string payload;
        Decision d = untilDecided([&] { return readObject(object, payload); });
        if (d == dcStopped || d == dcStop) {
            ui_.setRowStatus(k + 1, lineLost() ? text::statusLineLost : text::statusStopped);
            break;
        }
        if (d == dcSkip) {
            ui_.setRowStatus(k + 1, text::statusError);
            continue;
        }
        ++successes;
        if (isMenu(object))
            if (const auto field = menuFileField(payload))
                noteRecording(object, recordingBytes(*field));
        if (isLoadMsg && isMenu(object)) {
            const std::string folder =
                downloadFolder.empty() ? messageFolder(object) : downloadFolder + messageName(object) + "/";
            d = untilDecided([&] { return downloadObjectFile(object, folder); });
            if (d == dcStopped || d == dcStop) {
                // Its answer is not kept, so the object counts as not read.
                --successes;
                ui_.setRowStatus(k + 1, lineLost() ? text::statusLineLost : text::statusStopped);
                break;
            }
            if (d == dcSkip) {
                ui_.setRowStatus(k + 1, text::statusError);
                continue;
            }
        }
        pendingAnswers[static_cast<std::size_t>(k)] = payload;
        ui_.setRowStatus(k + 1, text::statusOk);
    }
    std::string summary =
        successes == total ? std::string(text::readSuccess) : text::readErrors + std::to_string(total - successes);
    if (lineLost())
        summary = text::summaryLineLost + (". " + summary);
    ui_.setStatusPanel(1, summary);
    return successes;
}

void DeviceLink::applyPendingAnswers() {
    for (std::size_t k = 0; k < linkObjects.size() && k < pendingAnswers.size(); ++k)
        if (!pendingAnswers[k].empty())
            linkObjects[k].second->parseDeviceText(pendingAnswers[k]);
}

int DeviceLink::writeAll() {
    beginJob();
    const int total = static_cast<int>(linkObjects.size());
    int errors = 0;
    const Remembered approved = messageChangesApproved ? Remembered::YesToAll : Remembered::Ask;
    messageChangesApproved = false;
    Remembered replaceAnswer = approved;
    Remembered deleteAnswer = approved;
    bool stopped = false;
    std::string silenced; // the menus whose message was deleted on the unit and not replaced
    const auto noteSilenced = [&](KT_TABLE& menu) {
        silenced += (silenced.empty() ? "" : ", ") + menu.getDescription();
    };
    objectsWritten.clear();
    for (int k = 0; k < total; ++k) {
        KT_TABLE& object = *linkObjects[static_cast<std::size_t>(k)].second;
        ui_.selectRow(k + 1);
        ui_.setStatusPanel(1, object.getDescription());
        ui_.setStatusPanel(2, std::to_string(k + 1) + "/" + std::to_string(total));
        Decision d = untilDecided([&] { return setObjectChecked(object, object.buildDeviceText()); });
        if (d == dcStopped || d == dcStop) {
            ++errors;
            stopped = true;
            ui_.setRowStatus(k + 1, lineLost() ? text::statusLineLost : text::statusStopped);
            break;
        }
        if (d == dcSkip) {
            ++errors;
            ui_.setRowStatus(k + 1, text::statusSkipped);
            continue;
        }
        objectsWritten.push_back(object.name);
        if (isMenu(object)) {
            int failures = 0;
            bool deleted = false;
            const StepEnd end = messageFileStep(object, replaceAnswer, deleteAnswer, failures, deleted);
            errors += failures;
            if (deleted)
                noteSilenced(object);
            const std::string lost = deleted ? text::messageDeletedSuffix : "";
            if (end == StepEnd::Stop) {
                stopped = true;
                ui_.setRowStatus(k + 1, (lineLost() ? text::statusLineLost : text::statusStopped) + lost);
                break;
            }
            if (end == StepEnd::Skip) {
                ui_.setRowStatus(k + 1, text::statusSkipped + lost);
                continue;
            }
        }
        ui_.setRowStatus(k + 1, text::statusOk);
    }
    if (database && database->deviceInfo) {
        std::string payload;
        Decision d = dcRetry;
        while (d == dcRetry || d == dcSkip)
            d = readObject(*database->deviceInfo, payload);
        if (d == dcDone) {
            database->deviceInfo->parseDeviceText(payload);
            ui_.deviceInfoChanged();
        }
    }
    std::string summary = errors == 0 ? std::string(text::writeSuccess) : text::writeErrors + std::to_string(errors);
    // After a stop "written successfully" would be untrue of the rows not reached.
    if (stopped) {
        const std::string why = lineLost() ? text::summaryLineLost : text::writeStopped;
        summary = errors == 0 ? why : why + ". " + summary;
    }
    if (!silenced.empty())
        summary += ". " + std::string(text::menusWithoutMessage) + silenced;
    ui_.setStatusPanel(1, summary);
    return total - errors;
}

} // namespace devlink
