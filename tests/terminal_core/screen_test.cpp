// The screen store and its text rules, without a port.
#include <gtest/gtest.h>

#include <string>

#include "serial/terminal.h"

using serial::TVaTerminal;

namespace {

void Write(TVaTerminal& t, const std::string& text) { t.WriteText(text, serial::clWhite, serial::clBlack); }

// The line counted upward from the bottom of the store, as text without trailing blanks.
std::string StoreText(const TVaTerminal& t, int up) {
    std::string text;
    const serial::TVaTerminalCell* cells = t.Buffer().Line(up);
    for (int c = 0; c < t.Buffer().Columns(); ++c)
        text.push_back(static_cast<char>(cells[c].Ch));
    text.erase(text.find_last_not_of(' ') + 1);
    return text;
}

} // namespace

TEST(TerminalText, LineEndsPairAndEachLoneOneBreaks) {
    TVaTerminal t;
    Write(t, "a\r\nb\n\rc\rd\ne");
    EXPECT_EQ(t.ScreenText(0), "a");
    EXPECT_EQ(t.ScreenText(1), "b");
    EXPECT_EQ(t.ScreenText(2), "c");
    EXPECT_EQ(t.ScreenText(3), "d");
    EXPECT_EQ(t.ScreenText(4), "e");
    EXPECT_EQ(t.CaretLine(), 25 - 1 - 4);
    EXPECT_EQ(t.CaretColumn(), 1);
}

TEST(TerminalText, EmptyLineBetweenCrLfPairsIsKept) {
    TVaTerminal t;
    Write(t, "one\r\n\r\ntwo\n\nthree\r\r");
    EXPECT_EQ(t.ScreenText(0), "one");
    EXPECT_EQ(t.ScreenText(1), "");
    EXPECT_EQ(t.ScreenText(2), "two");
    EXPECT_EQ(t.ScreenText(3), "");
    EXPECT_EQ(t.ScreenText(4), "three");
    EXPECT_EQ(t.CaretLine(), 25 - 1 - 6);
}

TEST(TerminalText, BackspaceBlanksTheCellLeftOfTheCaretButNotPastColumnZero) {
    TVaTerminal t;
    Write(t, "\babc\b\bX");
    EXPECT_EQ(t.ScreenText(0), "aX");
    EXPECT_EQ(t.CaretColumn(), 2);
    Write(t, "\b\b\b\b");
    EXPECT_EQ(t.ScreenText(0), "");
    EXPECT_EQ(t.CaretColumn(), 0);
}

TEST(TerminalText, TabWritesEightBlanksAndWrapsAtTheLastColumn) {
    TVaTerminal t;
    t.SetColumns(10);
    Write(t, "abc\td");
    // Eight blanks from column 3 run past column 9: the last one goes to the next line.
    EXPECT_EQ(t.ScreenText(0), "abc");
    EXPECT_EQ(t.ScreenText(1), " d");
    EXPECT_EQ(t.CaretColumn(), 2);
}

TEST(TerminalScreen, LongLineWrapsAtEightyColumns) {
    TVaTerminal t;
    Write(t, std::string(80, 'x') + "yz");
    EXPECT_EQ(t.ScreenText(0), std::string(80, 'x'));
    EXPECT_EQ(t.ScreenText(1), "yz");
    EXPECT_EQ(t.CaretLine(), 23);
    EXPECT_EQ(t.CaretColumn(), 2);
}

TEST(TerminalScreen, TextAtTheBottomScrollsIntoTheKeptLines) {
    TVaTerminal t;
    t.SetScrollBack(true);
    t.SetScrollBackRows(5);
    ASSERT_EQ(t.Buffer().Lines(), 30);
    for (int i = 0; i < 27; ++i)
        Write(t, "L" + std::to_string(i) + "\r\n");
    // 27 breaks from the top line: the caret sits on the bottom line and the screen moved up by three.
    EXPECT_EQ(t.CaretLine(), 0);
    EXPECT_EQ(t.ScreenText(0), "L3");
    EXPECT_EQ(t.ScreenText(23), "L26");
    EXPECT_EQ(t.ScreenText(24), "");
    EXPECT_EQ(StoreText(t, 25), "L2");
    EXPECT_EQ(StoreText(t, 27), "L0");
    EXPECT_EQ(StoreText(t, 29), "");

    // Beyond the kept lines the oldest ones go.
    for (int i = 27; i < 40; ++i)
        Write(t, "L" + std::to_string(i) + "\r\n");
    EXPECT_EQ(StoreText(t, 29), "L11");
    EXPECT_EQ(StoreText(t, 25), "L15");
    EXPECT_EQ(t.ScreenText(0), "L16");
}

TEST(TerminalScreen, WithoutScrollBackOnlyTheScreenIsKept) {
    TVaTerminal t;
    EXPECT_EQ(t.Buffer().Lines(), 25);
    for (int i = 0; i < 30; ++i)
        Write(t, "L" + std::to_string(i) + "\n");
    EXPECT_EQ(t.ScreenText(0), "L6");
}

TEST(TerminalScreen, LimitsOfTheGeometry) {
    TVaTerminal t;
    t.SetRows(1);
    t.SetColumns(-4);
    t.SetScrollBackRows(0);
    EXPECT_EQ(t.Rows(), 3);
    EXPECT_EQ(t.Columns(), 3);
    EXPECT_EQ(t.ScrollBackRows(), 1);
    t.SetScrollBack(true);
    EXPECT_EQ(t.Buffer().Lines(), 4);
    EXPECT_EQ(t.Buffer().Columns(), 3);
}

TEST(TerminalScreen, ResizeKeepsWhatFitsAtTheBottomAndBlanksNewCells) {
    TVaTerminal t;
    t.SetRows(5);
    t.SetColumns(10);
    Write(t, "\n\n\nabcdefgh\r\nxyz");
    ASSERT_EQ(t.ScreenText(3), "abcdefgh");
    ASSERT_EQ(t.ScreenText(4), "xyz");
    t.SetColumns(4);
    EXPECT_EQ(t.ScreenText(3), "abcd");
    EXPECT_EQ(t.CaretColumn(), 3);
    t.SetColor(0x123456);
    t.SetColumns(6);
    EXPECT_EQ(t.ScreenText(3), "abcd");
    EXPECT_EQ(t.ScreenCell(3, 5).Back, 0x123456u);
    t.SetRows(3);
    EXPECT_EQ(t.ScreenText(1), "abcd");
    EXPECT_EQ(t.ScreenText(2), "xyz");
    EXPECT_EQ(t.CaretLine(), 0);
}

TEST(TerminalScreen, ClearMovesTheScreenIntoKeptLinesAndClearAllBlanksEverything) {
    TVaTerminal t;
    t.SetRows(3);
    t.SetScrollBack(true);
    t.SetScrollBackRows(3);
    Write(t, "a\nb\nc");
    t.Clear();
    for (int line = 0; line < 3; ++line)
        EXPECT_EQ(t.ScreenText(line), "");
    EXPECT_EQ(StoreText(t, 5), "a");
    EXPECT_EQ(StoreText(t, 3), "c");
    EXPECT_EQ(t.CaretLine(), 2);
    EXPECT_EQ(t.CaretColumn(), 0);
    t.ClearAll();
    for (int up = 0; up < 6; ++up)
        EXPECT_EQ(StoreText(t, up), "");
}
