// The termios form of a port's line settings, kept apart so that it can be checked without a device.
#pragma once

#include <termios.h>

namespace serial {

class TVaCustomComm;

// Turns Tio into raw mode with the rate, character format, flow control and XON/XOFF characters of Port. A
// rate that has no termios constant leaves the speed alone and is returned, to be set through termios2;
// otherwise 0. Raises "Error writing dcb" with EINVAL for what the driver cannot be asked (four data bits, no
// rate).
unsigned FillTermios(termios& Tio, TVaCustomComm& Port);

} // namespace serial
