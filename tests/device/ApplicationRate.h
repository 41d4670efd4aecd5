#pragma once

// Sets any baud rate the way an application does for rates termios has no name for (BOTHER).
bool SetApplicationRate(int fd, int rate);
