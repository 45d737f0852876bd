#include "serial/termios2_linux.h"

#include <asm/termbits.h>
#include <cerrno>
#include <sys/ioctl.h>

namespace serial {

int SetTtySpeed(int Fd, unsigned Rate) {
    termios2 tio{};
    if (ioctl(Fd, TCGETS2, &tio) != 0)
        return errno;
    // BOTHER takes the rate as a number, standard ones included, so one path serves every rate.
    tio.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
    tio.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    tio.c_ispeed = Rate;
    tio.c_ospeed = Rate;
    if (ioctl(Fd, TCSETS2, &tio) != 0)
        return errno;
    return 0;
}

int GetTtySpeed(int Fd, unsigned& Rate) {
    termios2 tio{};
    if (ioctl(Fd, TCGETS2, &tio) != 0)
        return errno;
    Rate = tio.c_ospeed;
    return 0;
}

} // namespace serial
