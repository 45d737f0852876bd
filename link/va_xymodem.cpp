#include "link/va_xymodem.h"

#include <algorithm>
#include <cstring>

#include "link/vacrc32.h"
#include "model/cp1251.h"
#include "serial/utils.h"

namespace serial {

namespace {

constexpr std::uint8_t kStartCrc = 'C';
constexpr std::uint8_t kStartStream = 'G';

bool IsStartChar(int C) { return C == NAK || C == kStartCrc || C == kStartStream; }

std::uint8_t StartOf(TVaXProtocol P) { return P == XModem ? NAK : P == XModem1K ? kStartCrc : kStartStream; }

std::string BaseName(const std::string& Path) {
    const auto slash = Path.find_last_of('/');
    return slash == std::string::npos ? Path : Path.substr(slash + 1);
}

} // namespace

// ---- components ----

std::unique_ptr<TVaProtocolThread> TVaXModem::CreateThread() { return std::make_unique<TVaXModemThread>(*this); }

std::unique_ptr<TVaProtocolThread> TVaYModem::CreateThread() { return std::make_unique<TVaYModemThread>(*this); }

void TVaYModem::TransferFinished(TVaProtocolThread& Thread) {
    if (Mode() == tmDownload)
        FFiles = static_cast<TVaYModemThread&>(Thread).Received();
}

// ---- block 0 ----

std::string YModemLocalName(const std::uint8_t* Block, int Size) {
    const auto* end = static_cast<const std::uint8_t*>(std::memchr(Block, 0, static_cast<std::size_t>(Size)));
    std::string raw(reinterpret_cast<const char*>(Block),
                    end ? static_cast<std::size_t>(end - Block) : static_cast<std::size_t>(Size));
    if (raw.empty())
        return "";
    // Senders on either system may send a path; only its last part is ours to use.
    const auto cut = raw.find_last_of("/\\");
    if (cut != std::string::npos)
        raw.erase(0, cut + 1);
    if (raw.empty() || raw == "." || raw == "..")
        return "_";
    return cp1251::toUtf8(raw);
}

std::int64_t YModemAnnouncedSize(const std::uint8_t* Block, int Size) {
    const auto* end = static_cast<const std::uint8_t*>(std::memchr(Block, 0, static_cast<std::size_t>(Size)));
    if (!end)
        return kUnknownFileSize;
    const std::uint8_t* p = end + 1;
    const std::uint8_t* limit = Block + Size;
    std::int64_t size = 0;
    bool any = false;
    for (; p < limit && *p >= '0' && *p <= '9'; ++p) {
        any = true;
        size = std::min<std::int64_t>(size * 10 + (*p - '0'), kUnknownFileSize);
    }
    return any ? size : kUnknownFileSize;
}

// ---- packet layer ----

TVaXYModemThread::TVaXYModemThread(TVaXYModem& Owner)
    : TVaProtocolThread(Owner), FStartupWait(static_cast<std::uint32_t>(std::max(1, Owner.StartupWait()))),
      FXYOwner(Owner) {}

void TVaXYModemThread::FileInfo(const std::string& Name, std::int64_t Size) {
    FFileName = Name;
    FFileSize = Size;
    if (!FXYOwner.OnFileInfo)
        return;
    TVaXYModem* owner = &FXYOwner;
    Synchronize([owner, Name, Size] {
        if (owner->OnFileInfo)
            owner->OnFileInfo(owner, Name, Size);
    });
}

void TVaXYModemThread::PacketEvent(int Packet, std::int64_t ByteCount) {
    FPacketNumber = Packet;
    FByteCount = ByteCount;
    if (!FXYOwner.OnPacketEvent)
        return;
    TVaXYModem* owner = &FXYOwner;
    Synchronize([owner, Packet, ByteCount] {
        if (owner->OnPacketEvent)
            owner->OnPacketEvent(owner, Packet, ByteCount);
    });
}

void TVaXYModemThread::ResetPacket() { std::memset(FPacket, 0, sizeof FPacket); }

std::uint8_t TVaXYModemThread::RemoteTxStartup() {
    for (int tries = 0; tries < 10; ++tries) {
        CheckCancelled();
        const int c = ReadChar();
        if (IsStartChar(c))
            return static_cast<std::uint8_t>(c);
        // Between blocks a CAN is the receiver giving up (it refused the file, say).
        if (c == CAN)
            SetExitCode(pcRemoteCancel);
        ErrorEvent(pcUnexpected, true);
    }
    RemoteCan();
    SetExitCode(pcProtocol);
}

void TVaXYModemThread::RemoteRxStartup(std::uint8_t Start) {
    for (int tries = 1; tries <= 10; ++tries) {
        CheckCancelled();
        WriteChar(Start);
        if (WaitChar(FStartupWait))
            return;
        CheckCancelled();
        // The tenth silence is the sender's absence, not one more line error.
        if (tries < 10)
            ErrorEvent(pcTimeout, false);
    }
    SetExitCode(pcNoSender);
}

void TVaXYModemThread::WritePacket(int Number, int Size, std::uint8_t Start, bool Closing) {
    std::uint8_t frame[3 + 1024 + 2];
    frame[0] = Size == 1024 ? STX : SOH;
    frame[1] = static_cast<std::uint8_t>(Number);
    frame[2] = static_cast<std::uint8_t>(~Number);
    std::memcpy(frame + 3, FPacket, static_cast<std::size_t>(Size));
    int length = 3 + Size;
    if (Start == NAK) {
        std::uint8_t sum = 0;
        for (int i = 0; i < Size; ++i)
            sum = static_cast<std::uint8_t>(sum + FPacket[i]);
        frame[length++] = sum;
    } else {
        const std::uint16_t crc = BlockCRC16(FPacket, static_cast<std::size_t>(Size));
        frame[length++] = static_cast<std::uint8_t>(crc >> 8);
        frame[length++] = static_cast<std::uint8_t>(crc);
    }

    // A receiver that has taken no packet of this file yet asks again with its start character when the first
    // one did not come through: lrzsz empties its input right after asking, and may throw the packet away
    // if it came quickly. Start characters already waiting from before are no such request.
    const bool firstOfFile = Number <= 1 && Start != kStartStream;
    if (firstOfFile)
        while (PeekChar() == kStartCrc || PeekChar() == NAK)
            ReadCharFor(0);

    int unanswered = 0;
    for (;;) {
        CheckCancelled();
        WriteBuf(frame, length);
        if (Start == kStartStream) {
            if (PeekChar() == CAN)
                SetExitCode(pcRemoteCancel);
            return;
        }
        for (;;) {
            // The receiver of the closing block 0 may have ended as soon as it sent its ACK; if that ACK is
            // lost there is no one left to answer, and every file has been acknowledged already.
            const int c = ReadCharFor(Closing ? std::min<std::uint32_t>(FTimeout, 3000) : FTimeout);
            if (c == ACK)
                return;
            if (c < 0) {
                if (Closing) {
                    if (++unanswered >= 3)
                        return;
                } else {
                    ErrorEvent(pcTimeout, true);
                }
                break; // send again
            }
            if (c == NAK) {
                ErrorEvent(pcBadPacket, true);
                break;
            }
            if (c == CAN)
                SetExitCode(pcRemoteCancel);
            if (c == kStartCrc && firstOfFile) {
                ErrorEvent(pcBadPacket, true);
                break;
            }
            // Later in the file a start character is a late repeat from before the first packet, no answer.
            if (c == kStartCrc || c == kStartStream)
                continue;
            RemoteCan();
            SetExitCode(pcProtocol);
        }
    }
}

int TVaXYModemThread::ReadPacket(int Expected, std::uint8_t Start) {
    const bool crcMode = Start != NAK;
    for (;;) {
        CheckCancelled();
        const int header = ReadChar();
        int size = 0;
        if (header == SOH) {
            size = 128;
        } else if (header == STX) {
            size = 1024;
        } else if (header == EOT) {
            // The file is acknowledged only once it is on disk, so a full disk is not reported as success.
            if (FStream && std::fflush(FStream) != 0) {
                RemoteCan();
                SetExitCode(pcWriteFile);
            }
            WriteChar(ACK);
            if (!CloseStream(true))
                SetExitCode(pcWriteFile);
            SetExitCode(0);
        } else if (header == CAN) {
            SetExitCode(pcRemoteCancel);
        } else {
            RemoteCan();
            SetExitCode(pcProtocol);
        }

        // Number, its complement, the data and the check. A CAN in here is data.
        std::uint8_t body[2 + 1024 + 2];
        const int length = 2 + size + (crcMode ? 2 : 1);
        bool lost = false;
        for (int i = 0; i < length && !lost; ++i) {
            const int c = ReadCharFor(FTimeout);
            if (c < 0)
                lost = true;
            else
                body[i] = static_cast<std::uint8_t>(c);
        }
        if (lost) {
            // Part of the packet never came: ask for all of it again instead of waiting for bytes that will
            // not.
            ErrorEvent(pcTimeout, true);
            DiscardInput();
            WriteChar(NAK);
            continue;
        }
        const std::uint8_t* data = body + 2;
        bool good = static_cast<std::uint8_t>(body[0] ^ body[1]) == 0xFF;
        if (crcMode) {
            const std::uint16_t crc = BlockCRC16(data, static_cast<std::size_t>(size));
            good = good && data[size] == (crc >> 8) && data[size + 1] == (crc & 0xFF);
        } else {
            std::uint8_t sum = 0;
            for (int i = 0; i < size; ++i)
                sum = static_cast<std::uint8_t>(sum + data[i]);
            good = good && data[size] == sum;
        }
        if (!good) {
            ErrorEvent(pcBadPacket, true);
            DiscardInput();
            WriteChar(NAK);
            continue;
        }
        const int number = body[0];
        if (number == (Expected & 0xFF)) {
            std::memcpy(FPacket, data, static_cast<std::size_t>(size));
            return size;
        }
        // The previous packet again: our ACK was lost. It is acknowledged again and not stored twice; after a
        // repeated block 0 the sender also waits for the start character again.
        if (Expected >= 1 && number == ((Expected - 1) & 0xFF)) {
            if (Start != kStartStream)
                WriteChar(ACK);
            if (Expected == 1 && number == 0 && crcMode)
                WriteChar(Start);
            continue;
        }
        RemoteCan();
        SetExitCode(pcProtocol);
    }
}

void TVaXYModemThread::WriteEOT() {
    int silent = 0;
    for (int tries = 0; tries < 10; ++tries) {
        CheckCancelled();
        WriteChar(EOT);
        const int c = ReadCharFor(std::min<std::uint32_t>(FTimeout, 2000));
        if (c == ACK)
            return;
        // Many receivers answer the first EOT with NAK to make sure it was no line noise: send it again.
        if (c == NAK)
            continue;
        // In a batch the receiver asks for the next block 0 only after taking the EOT: its ACK was lost.
        if (FBatch && (c == kStartCrc || c == kStartStream)) {
            UnreadChar(static_cast<std::uint8_t>(c));
            return;
        }
        if (c == CAN)
            SetExitCode(pcRemoteCancel);
        // A receiver that falls silent at the EOT has ended: its last ACK was lost, or it failed. Nothing
        // tells the two apart, so the end handshake fails, after a few seconds rather than ten full
        // time-outs.
        if (c < 0) {
            if (++silent >= 3)
                break;
            continue;
        }
        ErrorEvent(pcUnexpected, true);
    }
    RemoteCan();
    SetExitCode(pcProtocol);
}

void TVaXYModemThread::WriteFile(const std::string& Name) {
    OpenStream(Name);
    std::int64_t size = GetFileSize(Name);
    FileInfo(Name, size);
    const std::uint8_t start = RemoteTxStartup();
    const int blockSize = start == NAK ? 128 : 1024;
    std::int64_t sent = 0;
    for (int number = 1;; ++number) {
        CheckCancelled();
        // The tail of a file goes in 128-byte packets, so an XMODEM receiver gets less padding.
        const int packetSize = blockSize == 1024 && size - sent <= 896 ? 128 : blockSize;
        ResetPacket();
        const std::size_t got = std::fread(FPacket, 1, static_cast<std::size_t>(packetSize), FStream);
        if (got < static_cast<std::size_t>(packetSize) && std::ferror(FStream)) {
            RemoteCan();
            SetExitCode(pcReadFile);
        }
        if (got == 0)
            break;
        WritePacket(number, packetSize, start);
        sent += static_cast<std::int64_t>(got);
        PacketEvent(number, sent);
        if (got < static_cast<std::size_t>(packetSize))
            break;
    }
    WriteEOT();
    CloseStream(true);
    SetExitCode(0);
}

void TVaXYModemThread::ReadFile(const std::string& Name, std::int64_t Size, std::uint8_t Start) {
    const std::string target = CreateUniqueFileName(Name);
    CreateStream(target);
    FileInfo(target, Size);
    // Repeated while the sender is silent, so a sender started a little later still gets it.
    RemoteRxStartup(Start);
    std::int64_t written = 0;
    for (int expected = 1;; ++expected) {
        const int n = ReadPacket(expected, Start);
        std::int64_t take = n;
        if (Size != kUnknownFileSize)
            take = std::clamp<std::int64_t>(Size - written, 0, n);
        if (take > 0 &&
            std::fwrite(FPacket, 1, static_cast<std::size_t>(take), FStream) != static_cast<std::size_t>(take)) {
            RemoteCan();
            SetExitCode(pcWriteFile);
        }
        written += take;
        PacketEvent(expected, written);
        if (Start != kStartStream)
            WriteChar(ACK);
    }
}

// ---- XMODEM ----

TVaXModemThread::TVaXModemThread(TVaXModem& Owner)
    : TVaXYModemThread(Owner), FName(Owner.FileName()), FProtocol(Owner.Protocol()) {}

void TVaXModemThread::Upload() { WriteFile(FName); }

void TVaXModemThread::Download() { ReadFile(FName, kUnknownFileSize, StartOf(FProtocol)); }

// ---- YMODEM ----

TVaYModemThread::TVaYModemThread(TVaYModem& Owner)
    : TVaXYModemThread(Owner), FFiles(Owner.Files()), FTargetFolder(Owner.TargetFolder()), FProtocol(Owner.Protocol()) {
    FBatch = true;
}

void TVaYModemThread::Upload() {
    for (const std::string& file : FFiles) {
        const std::int64_t size = GetFileSize(file);
        if (size < 0) {
            RemoteCan();
            SetExitCode(pcOpenFile);
        }
        const std::uint8_t start = RemoteTxStartup();
        // Block 0 is always a 128-byte block: name, NUL, size in decimal. A name that does not fit is cut.
        ResetPacket();
        std::string name = cp1251::fromUtf8(BaseName(file)).value_or(BaseName(file));
        const std::string sizeText = std::to_string(size);
        name.resize(std::min<std::size_t>(name.size(), 128 - 2 - sizeText.size()));
        std::memcpy(FPacket, name.data(), name.size());
        std::memcpy(FPacket + name.size() + 1, sizeText.data(), sizeText.size());
        WritePacket(0, 128, start);
        try {
            WriteFile(file);
        } catch (const EVaTransferExit&) {
            if (FOwner.ExitCode() != 0)
                throw;
        }
    }
    const std::uint8_t start = RemoteTxStartup();
    ResetPacket();
    WritePacket(0, 128, start, true);
    SetExitCode(0);
}

void TVaYModemThread::Download() {
    FReceived.clear();
    const std::string folder = FTargetFolder.empty() ? std::string() : AddPathSlash(FTargetFolder);
    const std::uint8_t start = FProtocol == YModemG ? kStartStream : kStartCrc;
    for (;;) {
        RemoteRxStartup(start);
        const int n = ReadPacket(0, start);
        const std::string name = YModemLocalName(FPacket, n);
        if (name.empty()) {
            if (start != kStartStream)
                WriteChar(ACK);
            SetExitCode(0);
        }
        const std::int64_t size = YModemAnnouncedSize(FPacket, n);
        if (start != kStartStream)
            WriteChar(ACK);
        try {
            ReadFile(folder + name, size, start);
        } catch (const EVaTransferExit&) {
            if (FOwner.ExitCode() != 0)
                throw;
            FReceived.push_back(FFileName);
        }
    }
}

} // namespace serial
