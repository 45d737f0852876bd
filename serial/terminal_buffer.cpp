#include "serial/terminal_buffer.h"

#include <algorithm>

namespace serial {

TVaTerminalBuffer::TVaTerminalBuffer(int Lines, int Columns, TVaTerminalCell Blank)
    : FLines(std::max(Lines, 1)), FColumns(std::max(Columns, 1)),
      FCells(static_cast<std::size_t>(FLines) * static_cast<std::size_t>(FColumns), Blank) {}

int TVaTerminalBuffer::Ring(int Up) const { return ((FBottom - Up) % FLines + FLines) % FLines; }

TVaTerminalCell* TVaTerminalBuffer::Line(int Up) {
    return FCells.data() + static_cast<std::size_t>(Ring(Up)) * static_cast<std::size_t>(FColumns);
}

const TVaTerminalCell* TVaTerminalBuffer::Line(int Up) const {
    return FCells.data() + static_cast<std::size_t>(Ring(Up)) * static_cast<std::size_t>(FColumns);
}

void TVaTerminalBuffer::ScrollUp(TVaTerminalCell Blank) {
    FBottom = (FBottom + 1) % FLines;
    BlankLine(0, Blank);
}

void TVaTerminalBuffer::BlankLine(int Up, TVaTerminalCell Blank) { std::fill_n(Line(Up), FColumns, Blank); }

void TVaTerminalBuffer::BlankAll(TVaTerminalCell Blank) { std::fill(FCells.begin(), FCells.end(), Blank); }

TVaTerminalBuffer TVaTerminalBuffer::Resized(int Lines, int Columns, TVaTerminalCell Blank) const {
    TVaTerminalBuffer result(Lines, Columns, Blank);
    const int lines = std::min(FLines, result.FLines);
    const int columns = std::min(FColumns, result.FColumns);
    for (int up = 0; up < lines; ++up)
        std::copy_n(Line(up), columns, result.Line(up));
    return result;
}

} // namespace serial
