// The terminal's screen store: the visible lines and the lines kept above them, as a ring of fixed-width
// lines, so that scrolling by a line moves one index instead of every cell.
#pragma once

#include <cstdint>
#include <vector>

namespace serial {

// 0xRRGGBB.
using TColor = std::uint32_t;
inline constexpr TColor clBlack = 0x000000;
inline constexpr TColor clWhite = 0xFFFFFF;
inline constexpr TColor clYellow = 0xFFFF00;

struct TVaTerminalCell {
    std::uint8_t Ch = ' ';
    TColor Fore = clWhite;
    TColor Back = clBlack;
    bool operator==(const TVaTerminalCell&) const = default;
};

class TVaTerminalBuffer {
public:
    TVaTerminalBuffer(int Lines, int Columns, TVaTerminalCell Blank);

    int Lines() const { return FLines; }
    int Columns() const { return FColumns; }

    // A line counted upward from the bottom line (0 = bottom, Lines()-1 = the oldest kept line).
    TVaTerminalCell* Line(int Up);
    const TVaTerminalCell* Line(int Up) const;
    TVaTerminalCell& Cell(int Up, int Column) { return Line(Up)[Column]; }
    const TVaTerminalCell& Cell(int Up, int Column) const { return Line(Up)[Column]; }

    // Makes the ring line after the bottom one the new bottom line, blanked with Blank.
    void ScrollUp(TVaTerminalCell Blank);
    void BlankLine(int Up, TVaTerminalCell Blank);
    void BlankAll(TVaTerminalCell Blank);

    // A store of the new size holding this one's contents aligned at the bottom line and the left column;
    // what does not fit is dropped, new cells are Blank.
    TVaTerminalBuffer Resized(int Lines, int Columns, TVaTerminalCell Blank) const;

private:
    int Ring(int Up) const;

    int FLines;
    int FColumns;
    int FBottom = 0; // ring index of the bottom line
    std::vector<TVaTerminalCell> FCells;
};

} // namespace serial
