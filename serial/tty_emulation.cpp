#include "serial/tty_emulation.h"

#include <string_view>

namespace serial {

namespace {
constexpr std::uint8_t kLF = 10;
constexpr std::uint8_t kCR = 13;
} // namespace

void TVaTTYEmulation::DataArrived(PVaData Data, int Count) {
    if (Count <= 0)
        return;
    int start = 0;
    if (FLastChar == kCR && Data[0] == kLF)
        start = 1;
    FLastChar = Data[Count - 1];
    TVaTerminal* terminal = Terminal();
    if (terminal == nullptr || start >= Count)
        return;
    terminal->WriteText(
        std::string_view(reinterpret_cast<const char*>(Data + start), static_cast<std::size_t>(Count - start)),
        terminal->FontColor(), terminal->Color());
}

void TVaTTYEmulation::KeyPress(char Key) {
    TVaTerminal* terminal = Terminal();
    if (terminal == nullptr)
        return;
    TVaDispatcher& dispatcher = terminal->Dispatcher();
    if (!dispatcher.Active() || dispatcher.Comm() == nullptr)
        return;
    if (static_cast<std::uint8_t>(Key) == kCR)
        dispatcher.WriteText("\r\n");
    else
        dispatcher.WriteChar(Key);
}

} // namespace serial
