#include "serial/terminal.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace serial {

namespace {
constexpr std::uint8_t kBS = 8;
constexpr std::uint8_t kTAB = 9;
constexpr std::uint8_t kLF = 10;
constexpr std::uint8_t kCR = 13;
constexpr int kTabWidth = 8;
constexpr int kMinRowsColumns = 3;

std::string OsErrorText(const char* What, const std::string& Name, int Error) {
    return std::string(What) + " " + Name + " (Error " + std::to_string(Error) + ", " + std::strerror(Error) + ")";
}
} // namespace

// ---------------------------------------------------------------------------------------------------------------
// Emulation base

IVaTerminalEmulation::~IVaTerminalEmulation() {
    BeginDestroy();
    if (FTerminal != nullptr && FTerminal->Emulation() == this)
        FTerminal->SetEmulation(nullptr);
    SetTerminal(nullptr);
}

void IVaTerminalEmulation::SetTerminal(TVaTerminal* Value) {
    if (FTerminal == Value)
        return;
    // The terminal's own link to this emulation shares the notice; keep it while the terminal still holds us.
    if (FTerminal != nullptr && FTerminal->Emulation() != this)
        RemoveFreeNotification(FTerminal);
    FTerminal = Value;
    if (FTerminal != nullptr)
        FreeNotification(FTerminal);
}

void IVaTerminalEmulation::Notification(TVaComponent* Component, TOperation Operation) {
    TVaComponent::Notification(Component, Operation);
    if (Operation == opRemove && Component == FTerminal)
        FTerminal = nullptr;
}

// ---------------------------------------------------------------------------------------------------------------
// Terminal

TVaTerminal::TVaTerminal() : FBuffer(StoreLines(), FColumns, Blank()) {}

TVaTerminal::~TVaTerminal() {
    BeginDestroy();
    CloseCapture();
    SetEmulation(nullptr);
}

void TVaTerminal::SetRows(int Value) {
    Value = std::max(Value, kMinRowsColumns);
    if (Value == FRows)
        return;
    FRows = Value;
    Rebuild();
}

void TVaTerminal::SetColumns(int Value) {
    Value = std::max(Value, kMinRowsColumns);
    if (Value == FColumns)
        return;
    FColumns = Value;
    Rebuild();
}

void TVaTerminal::SetScrollBack(bool Value) {
    if (Value == FScrollBack)
        return;
    FScrollBack = Value;
    if (FScrollBack && FScrollBackRows <= 0)
        FScrollBackRows = 1;
    Rebuild();
}

void TVaTerminal::SetScrollBackRows(int Value) {
    Value = std::max(Value, 1);
    if (Value == FScrollBackRows)
        return;
    FScrollBackRows = Value;
    if (FScrollBack)
        Rebuild();
}

void TVaTerminal::SetCursorType(TVaCursorType Value) {
    FCursorType = Value;
    Changed(false);
}

void TVaTerminal::SetBlinkTime(int Value) { FBlinkTime = std::max(Value, 1); }

void TVaTerminal::Rebuild() {
    FBuffer = FBuffer.Resized(StoreLines(), FColumns, Blank());
    FCaretColumn = std::min(FCaretColumn, FColumns - 1);
    FCaretLine = std::min(FCaretLine, FRows - 1);
    Changed(true);
}

void TVaTerminal::Changed(bool Resized) {
    if (OnUpdate)
        OnUpdate(Resized);
}

const TVaTerminalCell& TVaTerminal::ScreenCell(int Line, int Column) const {
    return FBuffer.Cell(FRows - 1 - Line, Column);
}

std::string TVaTerminal::ScreenText(int Line) const {
    std::string text;
    const TVaTerminalCell* cells = FBuffer.Line(FRows - 1 - Line);
    for (int c = 0; c < FColumns; ++c)
        text.push_back(static_cast<char>(cells[c].Ch));
    text.erase(text.find_last_not_of(' ') + 1);
    return text;
}

// ---------------------------------------------------------------------------------------------------------------
// Text

void TVaTerminal::LineBreak() {
    if (FCaretLine > 0)
        --FCaretLine;
    else
        FBuffer.ScrollUp(Blank());
    FCaretColumn = 0;
}

void TVaTerminal::PutChar(std::uint8_t Ch, TColor Fore, TColor Back) {
    FBuffer.Cell(FCaretLine, FCaretColumn) = TVaTerminalCell{Ch, Fore, Back};
    if (++FCaretColumn >= FColumns)
        LineBreak();
}

void TVaTerminal::WriteText(std::string_view Text, TColor Fore, TColor Back) {
    // CR LF and LF CR are one line end each. The partner of a line end is only skipped once: in CR LF CR LF
    // the second CR starts a new line end, so an empty line between two others is kept.
    std::uint8_t openLineEnd = 0;
    for (char c : Text) {
        const auto ch = static_cast<std::uint8_t>(c);
        if (ch == kCR || ch == kLF) {
            if (openLineEnd != 0 && openLineEnd != ch) {
                openLineEnd = 0;
            } else {
                LineBreak();
                openLineEnd = ch;
            }
            continue;
        }
        openLineEnd = 0;
        if (ch == kBS) {
            if (FCaretColumn > 0) {
                --FCaretColumn;
                FBuffer.Cell(FCaretLine, FCaretColumn) = TVaTerminalCell{' ', Fore, Back};
            }
        } else if (ch == kTAB) {
            for (int i = 0; i < kTabWidth; ++i)
                PutChar(' ', Fore, Back);
        } else {
            PutChar(ch, Fore, Back);
        }
    }
    Changed(false);
}

void TVaTerminal::Clear() {
    for (int i = 0; i < FRows; ++i)
        FBuffer.ScrollUp(Blank());
    FCaretLine = FRows - 1;
    FCaretColumn = 0;
    Changed(false);
}

void TVaTerminal::ClearAll() {
    FBuffer.BlankAll(Blank());
    FCaretLine = FRows - 1;
    FCaretColumn = 0;
    Changed(false);
}

// ---------------------------------------------------------------------------------------------------------------
// Keys, data, links

void TVaTerminal::KeyPress(char Key) {
    if (FLocalEcho)
        WriteText(std::string_view(&Key, 1), FLocalEchoColor, FColor);
    if (FEmulation != nullptr)
        FEmulation->KeyPress(Key);
}

void TVaTerminal::KeyDown(int Key) {
    if (FEmulation != nullptr)
        FEmulation->KeyDown(Key);
}

void TVaTerminal::KeyUp(int Key) {
    if (FEmulation != nullptr)
        FEmulation->KeyUp(Key);
}

void TVaTerminal::DataChanged(PVaData Data, int Count) {
    if (Count <= 0)
        return;
    std::string captureError;
    if (FCaptureFd >= 0) {
        std::size_t done = 0;
        const auto total = static_cast<std::size_t>(Count);
        while (done < total) {
            const ssize_t n = ::write(FCaptureFd, Data + done, total - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                captureError = OsErrorText("Error writing capture file", FCaptureFile, n < 0 ? errno : ENOSPC);
                CloseCapture();
                FCapture = false;
                break;
            }
            done += static_cast<std::size_t>(n);
        }
    }
    if (FEmulation != nullptr)
        FEmulation->DataArrived(Data, Count);
    if (!captureError.empty())
        throw EVaTerminalError(captureError);
}

void TVaTerminal::SetEmulation(IVaTerminalEmulation* Value) {
    if (FEmulation == Value)
        return;
    IVaTerminalEmulation* old = FEmulation;
    FEmulation = Value;
    if (old != nullptr) {
        RemoveFreeNotification(old);
        if (old->Terminal() == this)
            old->SetTerminal(nullptr);
    }
    if (FEmulation != nullptr) {
        FreeNotification(FEmulation);
        FEmulation->SetTerminal(this);
    }
}

void TVaTerminal::Notification(TVaComponent* Component, TOperation Operation) {
    TVaCommComponent::Notification(Component, Operation);
    if (Operation == opRemove && Component == FEmulation)
        FEmulation = nullptr;
}

// ---------------------------------------------------------------------------------------------------------------
// Capture

void TVaTerminal::OpenCapture() {
    const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (FCaptureAppend ? O_APPEND : O_TRUNC);
    int fd;
    do
        fd = ::open(FCaptureFile.c_str(), flags, 0644);
    while (fd < 0 && errno == EINTR);
    if (fd < 0)
        throw EVaTerminalError(OsErrorText("Cannot open capture file", FCaptureFile, errno));
    FCaptureFd = fd;
}

void TVaTerminal::CloseCapture() {
    if (FCaptureFd >= 0) {
        ::close(FCaptureFd);
        FCaptureFd = -1;
    }
}

void TVaTerminal::SetCapture(bool Value) {
    if (Value == FCapture)
        return;
    if (Value) {
        if (!FCaptureFile.empty())
            OpenCapture();
    } else {
        CloseCapture();
    }
    FCapture = Value;
}

void TVaTerminal::SetCaptureFile(const std::string& Value) {
    if (Value == FCaptureFile)
        return;
    if (!FCapture) {
        FCaptureFile = Value;
        return;
    }
    CloseCapture();
    FCaptureFile = Value;
    if (!FCaptureFile.empty()) {
        try {
            OpenCapture();
        } catch (...) {
            FCapture = false;
            throw;
        }
    }
}

} // namespace serial
