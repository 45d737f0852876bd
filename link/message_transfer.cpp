// Message files of the voice menus: download while reading, and while writing the question about the unit's
// existing file, its deletion and the upload. Files are converted between WAV and the unit's format on the way.
#include "link/answer.h"
#include "link/device_link.h"
#include "link/unit_recordings.h"

#include "model/cp1251.h"
#include "model/tables.h"
#include "model/unit_config.h"
#include "serial/comm.h"

#include <filesystem>
#include <optional>

namespace devlink {

namespace fs = std::filesystem;

namespace {

constexpr int kFileTimeoutMs = 5000;

bool isFile(const std::string& path) {
    std::error_code ec;
    return !path.empty() && fs::is_regular_file(path, ec);
}

// A transfer that this side ended for a reason of its own (not the user's stop, not the unit's cancel).
bool isOwnFailure(int transfer) { return transfer != rcOk && transfer != rcStopped && transfer != rcFileCancelled; }

} // namespace

std::string DeviceLink::shortName(const std::string& localFile) {
    const std::string utf8 = fs::path(localFile).filename().string();
    std::string name = cp1251::fromUtf8(utf8).value_or(utf8);
    const std::size_t dot = name.rfind('.');
    if (dot != std::string::npos)
        name.erase(dot);
    if (name.size() > 12)
        name.resize(12);
    for (char& ch : name) {
        const auto c = static_cast<unsigned char>(ch);
        // Besides blanks, control characters and "?", what a Windows file name cannot hold is replaced too, so
        // that the name means the same on the unit's side.
        if (c < 0x21 || ch == '?' || ch == '/' || ch == '\\' || ch == ':' || ch == '*' || ch == '"' || ch == '<' ||
            ch == '>' || ch == '|')
            ch = '_';
    }
    return name;
}

std::string DeviceLink::messageName(KT_TABLE& menu) { return menuMessageFolderName(menu); }

std::string DeviceLink::messageFolder(KT_TABLE& menu) const {
    return menuMessageFolder(database ? database->messagesFolder : std::string(), menu);
}

std::string DeviceLink::messageFile(KT_TABLE& menu) const {
    KT_RECORD* field = menu.findChild("Message");
    const std::string file = field ? field->getText() : std::string();
    if (file.empty() || file == "-")
        return {};
    return messageFolder(menu) + fs::path(file).filename().string();
}

int DeviceLink::cmdDownload(const std::string& name, const std::string& folder, std::string& receivedName) {
    receivedName.clear();
    setTimeout(kFileTimeoutMs);
    writeText(" dl " + name + " ");
    beginExchange();
    int r = waitFor([&] {
        // "-" is the whole answer, never a byte among others: noise that holds one is no "no file".
        if (trimControls(rxText) == "-")
            return static_cast<int>(rcNoFile);
        if (rxText.find("START") != std::string::npos)
            return 0;
        return -1;
    });
    if (r != 0)
        return r;
    rxFlag = false;
    std::error_code ec;
    fs::create_directory(folder, ec);

    std::string staged;
    const int transfer = receiveFile(tempFolder, staged);
    int code = 0;
    if (const std::optional<int> decided = endTransfer(transfer, code))
        return *decided;
    if (code != 0)
        return code;
    // Our own failures (a name we refused, a file we could not write, a broken transfer the unit still called
    // good) are never converted into a message.
    if (transfer != rcOk)
        return transfer;
    if (staged.empty())
        return rcOk; // the unit's batch held no file
    receivedName = staged;
    const std::string stagedPath = tempFolder + staged;
    if (!fs::is_directory(folder, ec)) {
        fs::remove(stagedPath, ec);
        return rcCannotCreateFile;
    }
    const std::string local = (fs::path(folder) / fs::path(staged).replace_extension(".wav")).string();
    // The converter puts the WAV in place only when it succeeded, so a failure keeps the old one.
    const int converted = soundConverter ? soundConverter(stagedPath, local, true) : -1;
    fs::remove(stagedPath, ec);
    return converted == 0 ? static_cast<int>(rcOk) : static_cast<int>(rcConversionFailed);
}

int DeviceLink::cmdUpload(const std::string& name, const std::string& localFile) {
    setTimeout(kFileTimeoutMs);
    if (!isFile(localFile))
        return rcNoFile;
    const std::string staged = tempFolder + cp1251::toUtf8(shortName(localFile)) + ".ktm";
    std::error_code ec;
    fs::remove(staged, ec);
    if (!soundConverter || soundConverter(localFile, staged, false) != 0)
        return rcConversionFailed;

    writeText(" ul " + name + " ");
    beginExchange();
    int r = waitFor([&] { return rxText.find('C') != std::string::npos ? 0 : -1; });
    if (r != 0)
        return r;
    purgeRead();
    rxText.clear();
    rxPos = 0;
    const auto stagedBytes = fs::file_size(staged, ec);
    const int transfer = sendFile(staged);
    int code = 0;
    if (const std::optional<int> decided = endTransfer(transfer, code))
        return *decided;
    if (code == 0 && !ec)
        uploadedBytes = stagedBytes;
    return code;
}

std::optional<int> DeviceLink::endTransfer(int transfer, int& code) {
    if (transfer == rcLineLost)
        return rcLineLost;
    // After a cancel of ours the result is ours, whatever the closing answer says; and the answer cannot even be
    // read reliably, as the rest of the block in flight (any bytes, "#" and "OK" among them) comes before it.
    if (transfer == rcStopped || isOwnFailure(transfer)) {
        drainAfterCancel();
        return transfer;
    }
    // The unit's closing answer decides the outcome of the transfer.
    if (const ResultCode waited = awaitClosingAnswer(code); waited != rcOk)
        return waited;
    // The unit reports our own cancel as 17, which would read as a stop by the user.
    if (code == rcFileCancelled && isOwnFailure(transfer))
        return transfer;
    return std::nullopt;
}

ResultCode DeviceLink::awaitClosingAnswer(int& code) {
    compactRx();
    setTimeout(kFileTimeoutMs);
    rxFlag = false;
    startWait();
    Answer answer = parseAnswer(rxText);
    while (!answer.complete) {
        pollWait();
        // A transfer of ours that was stopped never gets here: a stop now is the user's, during the answer.
        if (stopFlag)
            return rcStopped;
        if (timedOut)
            return rcNoAnswer;
        if (rxFlag || lineLost()) {
            rxFlag = false;
            if (refill())
                answer = parseAnswer(rxText);
            if (!answer.complete && lineLost())
                return rcLineLost;
        }
    }
    code = answer.code;
    return rcOk;
}

DeviceLink::StepEnd DeviceLink::messageFileStep(KT_TABLE& menu, Remembered& replaceAnswer, Remembered& deleteAnswer,
                                                int& failures, bool& messageDeleted) {
    failures = 0;
    messageDeleted = false;
    const std::string local = messageFile(menu);
    const bool exists = isFile(local);

    std::string payload;
    Decision d = untilDecided([&] { return readObjectParam(menu, payload); });
    if (d == dcStopped || d == dcStop) {
        failures = 1;
        return StepEnd::Stop;
    }
    if (d == dcSkip) {
        failures = 1;
        return StepEnd::Skip;
    }
    // What the unit holds for the menu, heard here and after each change below.
    const auto noteOnUnit = [&](std::optional<std::uint64_t> bytes) { noteRecording(menu, bytes); };
    if (const auto field = menuFileField(payload))
        noteOnUnit(recordingBytes(*field));

    bool doDelete = false;
    bool doUpload = exists;
    if (payload != "{}") {
        Remembered& remembered = exists ? replaceAnswer : deleteAnswer;
        switch (remembered) {
        case Remembered::NoToAll:
            doDelete = doUpload = false;
            break;
        case Remembered::YesToAll:
            doDelete = true;
            break;
        case Remembered::Ask: {
            const std::string question = menu.getDescription() + text::fileExistsQuestion +
                                         (exists ? text::replaceQuestion : text::deleteQuestion);
            switch (ui_.askYesNoAll(question)) {
            case mrYes:
                doDelete = true;
                break;
            case mrYesToAll:
                remembered = Remembered::YesToAll;
                doDelete = true;
                break;
            case mrNoToAll:
                remembered = Remembered::NoToAll;
                doDelete = doUpload = false;
                break;
            case mrCancel:
                return StepEnd::Stop;
            default: // "Нет"
                doDelete = doUpload = false;
                break;
            }
            break;
        }
        }
    }

    if (doDelete) {
        d = untilDecided([&] { return deleteObjectFile(menu); });
        if (d == dcStopped || d == dcStop)
            return StepEnd::Stop;
        if (d == dcSkip)
            return StepEnd::Skip;
        noteOnUnit(0);
        // Until the new file has arrived whole the menu has no message on the unit.
        messageDeleted = doUpload;
    }
    if (doUpload) {
        // A broken-off transfer may leave a part behind on the unit: unknown until it is heard again.
        noteOnUnit(std::nullopt);
        uploadedBytes = 0;
        d = untilDecided([&] { return uploadObjectFile(menu, local); });
        if (d == dcStopped || d == dcStop) {
            failures = 1;
            return StepEnd::Stop;
        }
        if (d == dcSkip) {
            failures = 1;
            return StepEnd::Skip;
        }
        noteOnUnit(uploadedBytes > 0 ? std::optional<std::uint64_t>(uploadedBytes) : std::nullopt);
    }
    messageDeleted = false;
    return StepEnd::GoOn;
}

} // namespace devlink
