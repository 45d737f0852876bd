// The terminal screen without its window: the store with its caret and colours, the text rules (BS, TAB, CR,
// LF, wrap and scroll), local echo, capture of received bytes to a file, and the link to a port and an
// emulation. A window paints the store and feeds the keys in; see app/terminal_screen_widget.h.
#pragma once

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "serial/dispatcher.h"
#include "serial/terminal_buffer.h"

namespace serial {

class TVaTerminal;

// Failures of the capture file.
class EVaTerminalError : public std::runtime_error {
public:
    explicit EVaTerminalError(const std::string& Message) : std::runtime_error(Message) {}
};

// What the screen does with received data and typed keys. The terminal sets itself through SetTerminal and
// the emulation forgets it when it goes (either may be destroyed first).
class IVaTerminalEmulation : public TVaComponent {
public:
    ~IVaTerminalEmulation() override;
    virtual void DataArrived(PVaData Data, int Count) = 0;
    virtual void KeyDown(int Key) = 0;
    virtual void KeyPress(char Key) = 0;
    virtual void KeyUp(int Key) = 0;

    TVaTerminal* Terminal() const { return FTerminal; }
    void SetTerminal(TVaTerminal* Value);
    void Notification(TVaComponent* Component, TOperation Operation) override;

private:
    TVaTerminal* FTerminal = nullptr;
};

enum TVaCursorType { crsBlock, crsUnderline, crsNone };

// All calls belong to the main thread.
class TVaTerminal : public TVaCommComponent {
public:
    TVaTerminal();
    ~TVaTerminal() override;

    // Geometry. Rows and Columns are at least 3, ScrollBackRows at least 1; a change resizes the store and
    // keeps what fits. The store holds Rows lines, plus ScrollBackRows while ScrollBack is on.
    int Rows() const { return FRows; }
    void SetRows(int Value);
    int Columns() const { return FColumns; }
    void SetColumns(int Value);
    bool ScrollBack() const { return FScrollBack; }
    void SetScrollBack(bool Value);
    int ScrollBackRows() const { return FScrollBackRows; }
    void SetScrollBackRows(int Value);

    // Appearance; the window reads these when it paints.
    TColor Color() const { return FColor; }
    void SetColor(TColor Value) { FColor = Value; }
    TColor FontColor() const { return FFontColor; }
    void SetFontColor(TColor Value) { FFontColor = Value; }
    TVaCursorType CursorType() const { return FCursorType; }
    void SetCursorType(TVaCursorType Value);
    int BlinkTime() const { return FBlinkTime; }
    void SetBlinkTime(int Value);
    bool WantAllKeys() const { return FWantAllKeys; }
    void SetWantAllKeys(bool Value) { FWantAllKeys = Value; }

    bool LocalEcho() const { return FLocalEcho; }
    void SetLocalEcho(bool Value) { FLocalEcho = Value; }
    TColor LocalEchoColor() const { return FLocalEchoColor; }
    void SetLocalEchoColor(TColor Value) { FLocalEchoColor = Value; }

    // Capture: while on with a file name, every received byte is copied to that file before it is shown.
    // Switching on (or naming a new file while on) empties the file, or appends with CaptureAppend; a file
    // that cannot be opened raises EVaTerminalError and leaves capture off.
    bool Capture() const { return FCapture; }
    void SetCapture(bool Value);
    const std::string& CaptureFile() const { return FCaptureFile; }
    void SetCaptureFile(const std::string& Value);
    bool CaptureAppend() const { return FCaptureAppend; }
    void SetCaptureAppend(bool Value) { FCaptureAppend = Value; }

    IVaTerminalEmulation* Emulation() const { return FEmulation; }
    void SetEmulation(IVaTerminalEmulation* Value);

    // The store and the caret: column 0 is the left one, line 0 the bottom line of the screen.
    const TVaTerminalBuffer& Buffer() const { return FBuffer; }
    int CaretColumn() const { return FCaretColumn; }
    int CaretLine() const { return FCaretLine; }
    // A cell of the screen, line 0 being its top line.
    const TVaTerminalCell& ScreenCell(int Line, int Column) const;
    // The characters of a screen line (top = 0), trailing blanks removed.
    std::string ScreenText(int Line) const;

    // Writes text at the caret in the given colours, by the rules of BS, TAB, CR and LF.
    void WriteText(std::string_view Text, TColor Fore, TColor Back);
    // Scrolls the screen up by Rows lines (into the kept lines); the caret goes to the top left.
    void Clear();
    // Blanks every line of the store; the caret goes to the top left.
    void ClearAll();

    // A typed character that the window's own key handling let through: echoed when LocalEcho is on, then
    // given to the emulation.
    void KeyPress(char Key);
    void KeyDown(int Key);
    void KeyUp(int Key);

    // The port's received bytes: to the capture file, then to the emulation. A capture file that fails is
    // closed, capture goes off and, once the bytes have been shown, EVaTerminalError is raised.
    void DataChanged(PVaData Data, int Count) override;
    void Notification(TVaComponent* Component, TOperation Operation) override;

    // Told after every change of the contents or the caret; Resized when the store changed its size.
    std::function<void(bool Resized)> OnUpdate;

private:
    TVaTerminalCell Blank() const { return TVaTerminalCell{' ', FFontColor, FColor}; }
    int StoreLines() const { return FRows + (FScrollBack ? FScrollBackRows : 0); }
    void Rebuild();
    void PutChar(std::uint8_t Ch, TColor Fore, TColor Back);
    void LineBreak();
    void Changed(bool Resized);
    void OpenCapture();
    void CloseCapture();

    int FRows = 25;
    int FColumns = 80;
    bool FScrollBack = false;
    int FScrollBackRows = 250;
    TColor FColor = clBlack;
    TColor FFontColor = clWhite;
    TVaCursorType FCursorType = crsBlock;
    int FBlinkTime = 500;
    bool FWantAllKeys = false;
    bool FLocalEcho = false;
    TColor FLocalEchoColor = clWhite;
    bool FCapture = false;
    std::string FCaptureFile;
    bool FCaptureAppend = false;
    int FCaptureFd = -1;
    IVaTerminalEmulation* FEmulation = nullptr;

    TVaTerminalBuffer FBuffer;
    int FCaretColumn = 0;
    int FCaretLine = FRows - 1; // a new screen starts at its top line
};

} // namespace serial
