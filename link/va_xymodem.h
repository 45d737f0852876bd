// XMODEM (one file) and YMODEM (a batch of files) transfer components on top of TVaProtocol.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "link/va_protocol.h"

namespace serial {

enum TVaXProtocol { XModem, XModem1K, XModemG };
enum TVaYProtocol { YModem, YModemG };

// Size of a file whose size the sender did not announce.
inline constexpr std::int64_t kUnknownFileSize = 2147483647;

class TVaXYModem;
using TVaFileInfoEvent = std::function<void(TVaXYModem* Sender, const std::string& Name, std::int64_t Size)>;
using TVaPacketEvent = std::function<void(TVaXYModem* Sender, int Packet, std::int64_t ByteCount)>;

class TVaXYModem : public TVaProtocol {
public:
    // How long a receiver waits for the sender after each start character before it sends it again.
    int StartupWait() const { return FStartupWait; }
    void SetStartupWait(int Milliseconds) { FStartupWait = Milliseconds; }

    TVaFileInfoEvent OnFileInfo;
    TVaPacketEvent OnPacketEvent;

private:
    int FStartupWait = 10000;
};

class TVaXModem : public TVaXYModem {
public:
    const std::string& FileName() const { return FFileName; }
    void SetFileName(const std::string& Value) { FFileName = Value; }
    TVaXProtocol Protocol() const { return FProtocol; }
    void SetProtocol(TVaXProtocol Value) { FProtocol = Value; }

protected:
    std::unique_ptr<TVaProtocolThread> CreateThread() override;

private:
    std::string FFileName;
    TVaXProtocol FProtocol = XModem;
};

class TVaYModem : public TVaXYModem {
public:
    TVaYProtocol Protocol() const { return FProtocol; }
    void SetProtocol(TVaYProtocol Value) { FProtocol = Value; }
    const std::string& TargetFolder() const { return FTargetFolder; }
    void SetTargetFolder(const std::string& Value) { FTargetFolder = Value; }
    // The files to send; after a download, the files received (with their folder).
    const std::vector<std::string>& Files() const { return FFiles; }
    void SetFiles(const std::vector<std::string>& Value) { FFiles = Value; }

protected:
    std::unique_ptr<TVaProtocolThread> CreateThread() override;
    void TransferFinished(TVaProtocolThread& Thread) override;

private:
    TVaYProtocol FProtocol = YModem;
    std::string FTargetFolder;
    std::vector<std::string> FFiles;
};

// The packet layer shared by both protocols.
class TVaXYModemThread : public TVaProtocolThread {
public:
    explicit TVaXYModemThread(TVaXYModem& Owner);

protected:
    void FileInfo(const std::string& Name, std::int64_t Size);
    void PacketEvent(int Packet, std::int64_t ByteCount);
    void ResetPacket();
    // Reads the packet numbered Expected into FPacket and returns its size (128 or 1024). EOT ends the file:
    // it is acknowledged and the transfer exits with 0 (-8 when the file could not be completed).
    int ReadPacket(int Expected, std::uint8_t Start);
    void ReadFile(const std::string& Name, std::int64_t Size, std::uint8_t Start);
    std::uint8_t RemoteTxStartup();
    void RemoteRxStartup(std::uint8_t Start);
    void WriteEOT();
    // Closing marks the empty block 0 that ends a batch: the receiver may be gone before its ACK reaches us.
    void WritePacket(int Number, int Size, std::uint8_t Start, bool Closing = false);
    void WriteFile(const std::string& Name);

    std::uint8_t FPacket[1024] = {};
    std::string FFileName;
    std::int64_t FFileSize = 0;
    int FPacketNumber = 0;
    std::int64_t FByteCount = 0;
    bool FBatch = false; // YMODEM: a start character may follow the EOT at once
    const std::uint32_t FStartupWait;

private:
    TVaXYModem& FXYOwner;
};

class TVaXModemThread : public TVaXYModemThread {
public:
    explicit TVaXModemThread(TVaXModem& Owner);

protected:
    void Upload() override;
    void Download() override;

private:
    std::string FName;
    TVaXProtocol FProtocol;
};

class TVaYModemThread : public TVaXYModemThread {
public:
    explicit TVaYModemThread(TVaYModem& Owner);
    const std::vector<std::string>& Received() const { return FReceived; }

protected:
    void Upload() override;
    void Download() override;

private:
    std::vector<std::string> FFiles;
    std::vector<std::string> FReceived;
    std::string FTargetFolder;
    TVaYProtocol FProtocol;
};

// The file name of a block 0 as a local name without any folder part, or "" for the end of a batch. The name
// travels in Windows-1251; anything that could leave the target folder is neutralised.
std::string YModemLocalName(const std::uint8_t* Block, int Size);
// The size announced after the name; kUnknownFileSize when none.
std::int64_t YModemAnnouncedSize(const std::uint8_t* Block, int Size);

} // namespace serial
