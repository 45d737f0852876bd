// The device link: the one serial port to the unit and everything spoken over it — the command exchanges and
// their recovery, login and clock, object read and write, message files and their block transfer. The read/write
// dialog owns one of these and implements its LinkUi; zirezid-cli and the tests do the same without windows.
//
// Everything runs on the main thread. Every wait keeps the user interface's events served through
// LinkUi::processEvents, so Stop (bt_StopClick) works during any exchange.
#pragma once

#include "link/control_bytes.h"
#include "link/link_ui.h"
#include "link/result_codes.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class KT_TABLE;
class SettingsDatabase;

namespace serial {
class TVaComm;
}

namespace devlink {

// Block transfer control bytes.
using namespace control_bytes;
inline constexpr std::uint8_t CRC_REQUEST = 0x43; // "C"

// Results of receiveBlock.
enum BlockResult : int {
    brGood = 200,
    brCancel = 201,
    brEot = 202,
    brNoFirstByte = 203,
    brBadFirstByte = 204,
    brTimeoutInBlock = 205,
    brBadNumber = 206,
    brBadCrc = 207,
};

// Local conditions of the message transfer besides those the unit reports.
inline constexpr int rcCannotCreateFile = 106; // the destination of a download cannot be created
inline constexpr int rcBadFileName = 107;      // the unit announced no usable file name

// The unit's clock as the device text carries it (two-digit year, no milliseconds).
struct DeviceDateTime {
    int year = 2000;
    int month = 1;
    int day = 1;
    int hour = 0;
    int minute = 0;
    int second = 0;
};

// Converts the named input file into the named output file; toWav: unit format to WAV, else WAV to unit format.
// 0 on success. The output must appear under its name only on success.
using SoundConverter = std::function<int(const std::string& input, const std::string& output, bool toWav)>;

class DeviceLink {
public:
    explicit DeviceLink(LinkUi& ui);
    ~DeviceLink();
    DeviceLink(const DeviceLink&) = delete;
    DeviceLink& operator=(const DeviceLink&) = delete;

    // ---- What the main window sets before it uses the link.
    // The port chosen in the main window (COMn); devicePath, when not empty, is opened instead (zirezid-cli).
    int comPortNumber = 1;
    std::string devicePath;
    // The open settings database (password, device information, clock, messages folder); not owned.
    SettingsDatabase* database = nullptr;
    // The scratch folder, ending in "/": the staging folder of message files.
    std::string tempFolder;
    // Where a read puts the message files it downloads, one folder per menu as in the messages folder; they
    // reach the database's messages folder only when the read is applied (MessageStaging). Empty: straight into
    // the messages folder.
    std::string downloadFolder;
    SoundConverter soundConverter;
    // When set, the login uses this password instead of the database's setup password (zirezid-cli --password).
    std::optional<std::string> passwordOverride;

    // ---- The port and the link state.
    std::unique_ptr<serial::TVaComm> VaComm1;
    std::string rxText; // receive accumulator (may hold NUL bytes); bytes before rxPos are consumed
    std::size_t rxPos = 0;
    bool rxFlag = false;
    bool stopFlag = false;
    int timeoutMs = 1000;
    bool timerRunning = false;
    bool timedOut = false;
    std::chrono::steady_clock::time_point waitStart;
    std::string sessionPassword; // UTF-8

    // ---- The job of the read/write dialog.
    std::vector<std::pair<std::string, KT_TABLE*>> linkObjects; // (caption, object); objects not owned
    bool writeMode = false;
    // The technician saw every message the write replaces or deletes (the preview) and went on: asking again
    // menu by menu would only ask what was already answered. Holds for one writeAll.
    bool messageChangesApproved = false;
    bool isLoadMsg = false;                  // the check box "загружать файлы сообщений"
    std::vector<std::string> pendingAnswers; // device texts read (UTF-8), one per listed object
    // The object names whose values the unit took in the last writeAll, in order: what reached the unit when
    // a write ended early.
    std::vector<std::string> objectsWritten;

    // ---- Event handlers.
    // A Stop stays pending until it has ended the operation it was pressed in and the user has been told (or a
    // new job starts): a repeat of the operation must not undo it.
    void bt_StopClick() { stopFlag = true; }
    void VaComm1RxChar() { rxFlag = true; }

    // Whether the port's device went away during this session (see LinkUi::lineLost).
    bool lineLost() const;

    // ---- Timer and wait primitives.
    void setTimeout(int ms) { timeoutMs = ms; }
    void startWait();
    void pollWait();

    // ---- Command exchanges; each answers a result code.
    ResultCode cmdGetObject(const std::string& code, std::string& payload);
    ResultCode cmdSetObject(const std::string& code, const std::string& value);
    ResultCode cmdGetParam(const std::string& name, std::string& payload);
    ResultCode cmdDelete(const std::string& name);
    int cmdUpload(const std::string& name, const std::string& localFile);
    int cmdDownload(const std::string& name, const std::string& folder, std::string& receivedName);
    ResultCode cmdLogin(const std::string& password);
    ResultCode cmdLogout();

    // ---- Operations with recovery; each answers a Decision. Payloads are UTF-8.
    Decision readObject(KT_TABLE& object, std::string& payload);
    Decision setObjectChecked(KT_TABLE& object, const std::string& deviceText);
    Decision readObjectParam(KT_TABLE& object, std::string& payload);
    Decision deleteObjectFile(KT_TABLE& object);
    Decision uploadObjectFile(KT_TABLE& object, const std::string& localFile);
    Decision downloadObjectFile(KT_TABLE& object, const std::string& localFolder);

    // ---- Connection, login and clock.
    bool openSession();
    Decision loginChecked();
    void closeSession();
    bool getDeviceClock(DeviceDateTime& value);
    bool setDeviceClock(const DeviceDateTime& value);

    // ---- Block transfer.
    // wanted: the bytes the caller still needs, this one included, when it knows them (the rest of a block);
    // the port then need not wake the link for every few of them.
    int readByte(int timeout, std::uint8_t& byte, std::size_t wanted = 1);
    void writeByte(std::uint8_t byte);
    int receiveBlock(int expected, std::uint8_t* buffer, bool& big);
    int sendBlock(const std::uint8_t* data, std::size_t count, int number, bool big);
    int receiveFile(const std::string& folder, std::string& name);
    int sendFile(const std::string& localFile);

    // ---- Message transfer.
    // The name a local file travels under (without ".ktm"), as Windows-1251 bytes.
    static std::string shortName(const std::string& localFile);
    // The message folder name of a menu (its code and "01") and the local folder and file of its message.
    static std::string messageName(KT_TABLE& menu);
    std::string messageFolder(KT_TABLE& menu) const;
    std::string messageFile(KT_TABLE& menu) const;
    enum class Remembered { Ask, YesToAll, NoToAll };
    enum class StepEnd { GoOn, Skip, Stop };
    // MessageDeleted: the unit's message was deleted in this step and no new one took its place (the step
    // ended early), so the menu is left silent on the unit.
    StepEnd messageFileStep(KT_TABLE& menu, Remembered& replaceAnswer, Remembered& deleteAnswer, int& failures,
                            bool& messageDeleted);

    // The size of the last file cmdUpload sent whole, in the unit's format.
    std::uint64_t uploadedBytes = 0;
    // What the connected unit holds under each menu's message, as heard in this session: a read, the write's
    // look before replacing, an upload or a deletion. Menu object name -> size in bytes, 0 for no recording; a
    // menu not listed is not known. Emptied on connecting, as another unit may be on the line. The question
    // whether a write's messages fit counts what the replaced recordings free from it.
    std::map<std::string, std::uint64_t> unitRecordings;
    void noteRecording(const KT_TABLE& menu, std::optional<std::uint64_t> bytes);

    // ---- Reading and writing the listed objects.
    int readAll();
    int writeAll();
    // Sets every object with a non-empty pending answer from it (the "Записать в БД" button).
    void applyPendingAnswers();

private:
    // Runs the wait loop: after each arrival appended to rxText, recognise answers a result code or -1 for "not
    // yet". Stop gives 101 and the time-out 100.
    ResultCode waitFor(const std::function<int()>& recognise);
    // Clears the accumulator and the arrival flag and starts the timer, after a command has been written. A
    // pending Stop stays: it belongs to the job, and a repeat must not undo it.
    void beginExchange();
    // The start of a job the user asked for (connect, read, write, clock, close): a Stop of an earlier job
    // is spent.
    void beginJob() { stopFlag = false; }
    // Answers the unit still owes: commands we gave up waiting for (time-out, Stop) and the closing answer to a
    // cancel we did not see. The unit answers every command, in order, each ending at "#"; until the owed ones
    // have come, an answer on the line may belong to an earlier command.
    int owedAnswers = 0;
    // Before the next command: discards what comes until the owed answers have come, or the line has been quiet
    // for the current time-out (they were lost). rcOk, or rcStopped / rcLineLost.
    ResultCode settleLine();
    // After a cancel of ours: the rest of the block in flight (any bytes, "#" and "OK" too) and the unit's
    // closing answer are discarded until the line is quiet; an answer not seen by then is owed.
    void drainAfterCancel();
    // After a file went through: waits for the unit's closing answer and parses it into `code`. rcOk when it
    // came whole, else why it did not (rcStopped, rcNoAnswer, rcLineLost).
    ResultCode awaitClosingAnswer(int& code);
    // The end of a file transfer both ways: the outcome where the transfer or the wait for the closing answer
    // decides it, else nothing and the unit's closing answer in `code`.
    std::optional<int> endTransfer(int transfer, int& code);
    ResultCode commonExchange(const std::string& command, std::string* payload);
    void writeText(std::string_view text);
    void purgeRead();
    // Takes every byte the port holds into rxText; false when it held none.
    bool refill();
    Decision withRecovery(KT_TABLE& object, int timeout, OperationKind kind, const std::function<int()>& command);
    int cancelTransfer(int result);
    // Discards the rest of a broken block: everything until the line has been quiet for a moment.
    void drainLine();
    int lastBadNumber = -1; // the well-formed block number of the last block refused for its number
    void compactRx();
    void configurePort();
    // Shows text::lineLost, once per session.
    void reportLineLost();
    bool lineLossShown_ = false;

    LinkUi& ui_;
};

// The line the unit speaks (38400 bit/s, 8N2, no flow control) with the link's buffers, time-outs and events; the
// service terminal's own port is set up the same way.
void configureUnitLine(serial::TVaComm& port);

// Points a closed port at the unit: the device file when devicePath is not empty, else COM<comPortNumber>
// (resolved when the port opens). The link, the service terminal and zirezid-cli choose alike.
void selectUnitPort(serial::TVaComm& port, int comPortNumber, const std::string& devicePath);

} // namespace devlink
