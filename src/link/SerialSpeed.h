#pragma once

// Speeds through the kernel's termios2 interface (BOTHER), for rates that have no B-constant
// (14400, 28800, 33400, 56000). Kept apart because <asm/termbits.h> clashes with <termios.h>;
// these functions take and return plain integers so callers need neither header.
namespace SerialSpeed {

// Sets input and output speed to `speed` baud on the open tty `fd`. 0 on failure, errno set.
int SetArbitrary(int fd, int speed);

// The output speed the device reports now, in baud; 0 when it cannot be read.
int ReadBack(int fd);

} // namespace SerialSpeed
