#include "link/device_link.h"

#include "link/answer.h"
#include "link/sound_conversion.h"
#include "model/cp1251.h"
#include "model/host.h"
#include "model/tables.h"
#include "model/unit_config.h"
#include "serial/comm.h"
#include "serial/port_survey.h"

#include <algorithm>
#include <cstdio>

namespace devlink {

namespace {
// The longest the wait loop blocks in event processing when nothing is pending. Bytes, a lost line and the
// window's Stop all arrive as events and end the block at once, and the time-out shortens it; what is left is a
// stop that comes as no event (Ctrl+C of the command line), seen within this time.
constexpr int kIdleWaitMs = 50;
constexpr int kSettleQuietMs = 2000;
} // namespace

DeviceLink::DeviceLink(LinkUi& ui) : VaComm1(std::make_unique<serial::TVaComm>()), ui_(ui) {
    // The converter's progress texts are for a console; the link shows its own.
    soundConverter = [](const std::string& input, const std::string& output, bool toWav) {
        return sound::convertSoundFile(input, output, toWav, nullptr);
    };
    configurePort();
}

DeviceLink::~DeviceLink() {
    try {
        VaComm1->Close();
    } catch (...) {
    }
}

void configureUnitLine(serial::TVaComm& port) {
    port.SetBaudrate(serial::br38400);
    port.SetDatabits(serial::db8);
    port.SetParity(serial::paNone);
    port.SetStopbits(serial::sb2);
    serial::TVaFlowControl flow;
    flow.SetControlDtr(serial::dtrDisabled);
    flow.SetControlRts(serial::rtsDisabled);
    port.SetFlowControl(flow);
    serial::TVaBuffers buffers;
    buffers.SetReadSize(8096);
    buffers.SetWriteSize(8048);
    buffers.SetReadTimeout(2000);
    buffers.SetWriteTimeout(2000);
    port.SetBuffers(buffers);
    port.SetMonitorEvents(serial::TVaCommEvents{serial::ceRxChar, serial::ceRxFlag});
}

void selectUnitPort(serial::TVaComm& port, int comPortNumber, const std::string& devicePath) {
    if (devicePath.empty()) {
        port.SetDeviceName(R"(\\.\COM%d)");
        port.SetPortNum(comPortNumber);
    } else {
        port.SetDeviceName(devicePath);
    }
}

void DeviceLink::configurePort() {
    serial::TVaComm& port = *VaComm1;
    configureUnitLine(port);
    port.OnRxChar = [this](serial::TVaCustomComm*, int) { VaComm1RxChar(); };
    port.OnLineLost = [this](serial::TVaCustomComm*) { ui_.lineLost(); };
}

bool DeviceLink::lineLost() const { return VaComm1->LineLost(); }

void DeviceLink::reportLineLost() {
    if (lineLossShown_)
        return;
    lineLossShown_ = true;
    ui_.showMessage(text::lineLost, host::applicationTitle);
}

// ---------------------------------------------------------------------------------------------------------------
// Waiting

void DeviceLink::startWait() {
    timerRunning = true;
    timedOut = false;
    waitStart = std::chrono::steady_clock::now();
}

void DeviceLink::pollWait() {
    int idle = 0;
    // A pending Stop does not shorten the wait: the press itself arrives as an event and ends the blocking, and
    // the closing answer after a stopped transfer is awaited with stopFlag still set.
    if (!rxFlag && timerRunning) {
        const auto elapsed =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - waitStart).count();
        idle = static_cast<int>(std::clamp<long long>(timeoutMs - elapsed + 1, 0, kIdleWaitMs));
    }
    ui_.processEvents(idle);
    if (timerRunning && !timedOut) {
        // A steady clock: the original's milliseconds of the day broke every wait that spanned midnight.
        const auto elapsed =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - waitStart).count();
        if (elapsed > timeoutMs) {
            timedOut = true;
            timerRunning = false;
        }
    }
}

void DeviceLink::compactRx() {
    if (rxPos > 0) {
        rxText.erase(0, rxPos);
        rxPos = 0;
    }
}

bool DeviceLink::refill() {
    const std::string got = VaComm1->ReadText();
    if (got.empty())
        return false;
    if (rxPos == rxText.size()) {
        rxText.clear();
        rxPos = 0;
    }
    rxText += got;
    return true;
}

ResultCode DeviceLink::waitFor(const std::function<int()>& recognise) {
    for (;;) {
        pollWait();
        if (stopFlag)
            return rcStopped;
        // What came before the device went away still counts; after it nothing more can come.
        if (lineLost()) {
            rxFlag = false;
            if (refill()) {
                // The recogniser answers in the result codes' space, or -1 for "not yet".
                if (const int r = recognise(); r >= 0)
                    return static_cast<ResultCode>(r);
            }
            return rcLineLost;
        }
        if (timedOut)
            return rcNoAnswer;
        if (rxFlag) {
            rxFlag = false;
            if (refill()) {
                if (const int r = recognise(); r >= 0)
                    return static_cast<ResultCode>(r);
            }
        }
    }
}

void DeviceLink::beginExchange() {
    rxText.clear();
    rxPos = 0;
    rxFlag = false;
    startWait();
}

ResultCode DeviceLink::settleLine() {
    if (owedAnswers <= 0)
        return rcOk;
    rxText.clear();
    rxPos = 0;
    rxFlag = false;
    // The quiet that ends the wait is the command's time-out, at most kSettleQuietMs: an answer is late by at
    // most its own time-out and a repeat, and a cancelled transfer's closing answer follows the unit's short
    // drain. A line that keeps bringing bytes without the prompt (noise) is not waited for without end.
    const int command = timeoutMs;
    setTimeout(std::min(timeoutMs, kSettleQuietMs));
    const auto limit = std::chrono::steady_clock::now() + std::chrono::milliseconds(4 * timeoutMs);
    startWait();
    ResultCode result = rcOk;
    while (owedAnswers > 0) {
        pollWait();
        if (stopFlag) {
            result = rcStopped;
            break;
        }
        if (lineLost()) {
            result = rcLineLost;
            break;
        }
        if (rxFlag) {
            rxFlag = false;
            const std::string got = VaComm1->ReadText();
            if (!got.empty()) {
                owedAnswers -= static_cast<int>(std::count(got.begin(), got.end(), '#'));
                startWait(); // the quiet is counted from the last byte
            }
        }
        if (timedOut || std::chrono::steady_clock::now() > limit)
            break; // quiet: what is still owed was lost on the line
    }
    if (result == rcOk)
        owedAnswers = 0;
    setTimeout(command);
    timerRunning = false;
    rxFlag = false;
    return result;
}

void DeviceLink::writeText(std::string_view text) { VaComm1->WriteText(text); }

void DeviceLink::purgeRead() { VaComm1->PurgeRead(); }

// ---------------------------------------------------------------------------------------------------------------
// Command exchanges

ResultCode DeviceLink::commonExchange(const std::string& command, std::string* payload) {
    if (owedAnswers > 0) {
        if (const ResultCode s = settleLine(); s != rcOk)
            return s;
        purgeRead();
    }
    writeText(command);
    beginExchange();
    Answer answer;
    const ResultCode r = waitFor([&] {
        answer = parseAnswer(rxText);
        return answer.complete ? answer.code : -1;
    });
    // Given up, the answer may still come: it must not pass for the answer to the next command.
    if (r == rcNoAnswer || r == rcStopped)
        ++owedAnswers;
    if (payload && answer.complete)
        *payload = answer.payload;
    return r;
}

ResultCode DeviceLink::cmdGetObject(const std::string& code, std::string& payload) {
    return commonExchange(" geto " + code + " ", &payload);
}

ResultCode DeviceLink::cmdSetObject(const std::string& code, const std::string& value) {
    return commonExchange(" seto " + code + " " + value + " ", nullptr);
}

ResultCode DeviceLink::cmdGetParam(const std::string& name, std::string& payload) {
    return commonExchange(" getp " + name + " ", &payload);
}

ResultCode DeviceLink::cmdDelete(const std::string& name) { return commonExchange(" del " + name + " ", nullptr); }

ResultCode DeviceLink::cmdLogin(const std::string& password) {
    writeText(" quit\r");
    beginExchange();
    const ResultCode r = waitFor([&] { return rxText.find("Password:") != std::string::npos ? 0 : -1; });
    if (r != 0)
        return r;
    const std::string wire = cp1251::fromUtf8(password).value_or(password);
    writeText(wire + "\r");
    beginExchange();
    // The prompt comes after every answer the unit owed: the line is in step again.
    owedAnswers = 0;
    return waitFor([&] {
        if (rxText.find('#') != std::string::npos)
            return static_cast<int>(rcOk);
        if (rxText.find("ERROR") != std::string::npos)
            return static_cast<int>(rcWrongPassword);
        if (rxText.find("BUSY") != std::string::npos)
            return static_cast<int>(rcBusy);
        return -1;
    });
}

ResultCode DeviceLink::cmdLogout() {
    writeText(" quit\r");
    beginExchange();
    return waitFor([&] {
        if (rxText.find("OK") != std::string::npos)
            return 0;
        if (rxText.find("Password:") != std::string::npos) {
            writeText("\r");
            return 0;
        }
        return -1;
    });
}

// ---------------------------------------------------------------------------------------------------------------
// Recovery

Decision DeviceLink::withRecovery(KT_TABLE& object, int timeout, OperationKind kind,
                                  const std::function<int()>& command) {
    const bool file = kind == OperationKind::Download || kind == OperationKind::Upload;
    int r = rcNoAnswer;
    for (int run = 0; run < 3; ++run) {
        setTimeout(timeout);
        // Also before a repeat: a late answer to the run that timed out must not pass for the answer to this one.
        // Purging alone cannot ensure that (the answer may still be on its way), so the line is settled first.
        if (owedAnswers > 0 && (r = settleLine()) != rcOk)
            break;
        purgeRead();
        r = command();
        if (r == rcOk || r == rcStopped || r == rcLineLost || (file && r == rcFileCancelled))
            break;
    }
    if (r == rcOk || (kind == OperationKind::Download && r == rcNoFile))
        return dcDone;
    // Repeating or asking cannot bring a gone device back: the job ends with the one message.
    if (r == rcLineLost) {
        reportLineLost();
        return dcStop;
    }
    if (r == rcStopped || (file && r == rcFileCancelled)) {
        // The Stop has ended what it was pressed for, and the user is told: only now is it spent.
        stopFlag = false;
        ui_.showMessage(text::stopped, host::applicationTitle);
        return dcStopped;
    }
    const int answer = ui_.askAbortRetryIgnore(object.getDescription() + ": " + resultMessage(r, kind), true);
    if (answer == mrAbort)
        return dcStop;
    if (answer == mrRetry)
        return dcRetry;
    return dcSkip;
}

namespace {
// The unit speaks Windows-1251; the model keeps UTF-8.
std::optional<std::string> toWire(const std::string& utf8) { return cp1251::fromUtf8(utf8); }
} // namespace

Decision DeviceLink::readObject(KT_TABLE& object, std::string& payload) {
    std::string wire;
    const Decision d =
        withRecovery(object, 1000, OperationKind::Read, [&] { return cmdGetObject(object.getText(), wire); });
    payload = d == dcDone ? cp1251::toUtf8(wire) : std::string();
    return d;
}

Decision DeviceLink::setObjectChecked(KT_TABLE& object, const std::string& deviceText) {
    const auto wire = toWire(deviceText);
    return withRecovery(object, 1000, OperationKind::Write, [&] {
        // A text the unit's code table cannot hold is refused here rather than sent mangled.
        return wire ? cmdSetObject(object.getText(), *wire) : static_cast<int>(rcBadFieldValue);
    });
}

Decision DeviceLink::readObjectParam(KT_TABLE& object, std::string& payload) {
    std::string wire;
    const Decision d =
        withRecovery(object, 1000, OperationKind::Read, [&] { return cmdGetParam(object.getText() + "01", wire); });
    payload = d == dcDone ? cp1251::toUtf8(wire) : std::string();
    return d;
}

Decision DeviceLink::deleteObjectFile(KT_TABLE& object) {
    return withRecovery(object, 1000, OperationKind::Write, [&] { return cmdDelete(object.getText() + "01"); });
}

Decision DeviceLink::uploadObjectFile(KT_TABLE& object, const std::string& localFile) {
    return withRecovery(object, 5000, OperationKind::Upload,
                        [&] { return cmdUpload(object.getText() + "01", localFile); });
}

Decision DeviceLink::downloadObjectFile(KT_TABLE& object, const std::string& localFolder) {
    std::string received;
    return withRecovery(object, 5000, OperationKind::Download,
                        [&] { return cmdDownload(object.getText() + "01", localFolder, received); });
}

// ---------------------------------------------------------------------------------------------------------------
// Connection and login

void DeviceLink::noteRecording(const KT_TABLE& menu, std::optional<std::uint64_t> bytes) {
    if (bytes)
        unitRecordings[menu.name] = *bytes;
    else
        unitRecordings.erase(menu.name);
}

bool DeviceLink::openSession() {
    unitRecordings.clear();
    try {
        VaComm1->Close();
    } catch (...) {
    }
    try {
        selectUnitPort(*VaComm1, comPortNumber, devicePath);
    } catch (...) {
    }
    try {
        VaComm1->Open();
    } catch (const serial::EVaCommError&) {
        // "Cannot open" alone leaves the technician guessing; our open has failed, so a look of our own disturbs
        // no session and can tell which program holds the port or what else to do.
        std::string message = text::cannotOpenPort;
        const serial::PortDiagnosis why = serial::DiagnosePort(serial::SurveyPlace{}, VaComm1->DevicePath());
        if (!why.Opens())
            message += "\n\n" + why.Text;
        ui_.showMessage(message, "");
        return false;
    }
    lineLossShown_ = false;
    owedAnswers = 0;
    beginJob();
    sessionPassword.clear();
    if (database) {
        if (KT_TABLE* sys = database->findObject("SYSPARAM"))
            if (KT_RECORD* field = sys->findChild("Password"))
                sessionPassword = field->getText();
    }
    if (passwordOverride)
        sessionPassword = *passwordOverride;
    ui_.setDialogState(dsBusy);
    for (;;) {
        const Decision d = loginChecked();
        if (d == dcDone)
            break;
        if (d == dcStopped || d == dcStop)
            return false;
    }
    if (!database || !database->deviceInfo)
        return true;
    std::string payload;
    for (;;) {
        const Decision d = readObject(*database->deviceInfo, payload);
        if (d == dcDone)
            break;
        if (d == dcStopped || d == dcStop)
            return false;
    }
    database->deviceInfo->parseDeviceText(payload);
    ui_.deviceInfoChanged();
    return true;
}

Decision DeviceLink::loginChecked() {
    setTimeout(1000);
    purgeRead();
    ResultCode r = rcNoAnswer;
    for (int run = 0; run < 3; ++run) {
        r = cmdLogin(sessionPassword);
        if (r != rcNoAnswer)
            break;
        setTimeout(1000);
    }
    switch (r) {
    case rcLineLost:
        reportLineLost();
        return dcStop;
    case rcNoAnswer:
        return ui_.askAbortRetryIgnore(text::noAnswer, false) == mrAbort ? dcStop : dcRetry;
    case rcStopped:
        stopFlag = false;
        ui_.showMessage(text::stopped, host::applicationTitle);
        return dcStopped;
    case rcWrongPassword: {
        std::string typed = sessionPassword;
        if (ui_.editText(text::wrongPasswordCaption, text::enterPasswordLabel, typed)) {
            sessionPassword = typed;
            return dcRetry;
        }
        return dcStopped;
    }
    case rcBusy:
        return ui_.askAbortRetryIgnore(text::busy, false) == mrAbort ? dcStop : dcRetry;
    case rcOk:
    // The login's exchange has no other answers; were one to come, the prompt that ended it counts.
    case rcDeviceTimeout:
    case rcBadObjectCode:
    case rcBadFieldValue:
    case rcFileTimeout:
    case rcFileCrc:
    case rcFileBlock:
    case rcFileTooManyErrors:
    case rcFileExists:
    case rcFileNotFound:
    case rcFileCancelled:
    case rcNoFile:
    case rcConversionFailed:
        break;
    }
    return dcDone;
}

void DeviceLink::closeSession() {
    // The logout's result is not used, and a line that already failed must not keep the port open.
    beginJob();
    try {
        if (VaComm1->Active() && !VaComm1->LineLost()) {
            setTimeout(100);
            purgeRead();
            cmdLogout();
        }
    } catch (const serial::EVaCommError&) {
    }
    VaComm1->Close();
}

namespace {

bool twoDigits(const std::string& text, std::size_t pos, int& value) {
    if (pos + 2 > text.size())
        return false;
    const char a = text[pos], b = text[pos + 1];
    if (a < '0' || a > '9' || b < '0' || b > '9')
        return false;
    value = (a - '0') * 10 + (b - '0');
    return true;
}

} // namespace

bool DeviceLink::getDeviceClock(DeviceDateTime& value) {
    if (!database || !database->clock)
        return false;
    beginJob();
    std::string payload;
    if (readObject(*database->clock, payload) != dcDone)
        return false;
    // DDMMYY HHMM SS. A group that is not two digits, or a date or time that cannot be, is no clock reading.
    DeviceDateTime t;
    int yy = 0;
    if (!twoDigits(payload, 0, t.day) || !twoDigits(payload, 2, t.month) || !twoDigits(payload, 4, yy) ||
        !twoDigits(payload, 7, t.hour) || !twoDigits(payload, 9, t.minute) || !twoDigits(payload, 12, t.second))
        return false;
    t.year = 2000 + yy;
    if (t.month < 1 || t.month > 12 || t.day < 1 || t.day > 31 || t.hour > 23 || t.minute > 59 || t.second > 59)
        return false;
    value = t;
    return true;
}

bool DeviceLink::setDeviceClock(const DeviceDateTime& value) {
    if (!database || !database->clock)
        return false;
    beginJob();
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d%02d%02d %02d%02d %02d", value.day % 100, value.month % 100, value.year % 100,
                  value.hour % 100, value.minute % 100, value.second % 100);
    KT_TABLE& clock = *database->clock;
    clock.parseDeviceText(buf);
    Decision d = untilDecided([&] { return setObjectChecked(clock, clock.buildDeviceText()); });
    return d == dcDone;
}

} // namespace devlink
