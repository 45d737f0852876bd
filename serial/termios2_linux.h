// Line speeds in bits per second, any value, through the kernel's termios2 interface. Kept apart because its
// header cannot be included together with <termios.h>.
#pragma once

namespace serial {

// Sets input and output speed of the open tty to Rate; returns 0 or the errno of the failure.
int SetTtySpeed(int Fd, unsigned Rate);
// The output speed the driver holds, in bits per second; returns 0 or the errno of the failure.
int GetTtySpeed(int Fd, unsigned& Rate);

} // namespace serial
