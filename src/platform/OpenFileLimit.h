#pragma once

// Every port holds a few descriptors (pseudo-terminal, its watch, sockets); 256 ports with their links come
// close to the usual soft limit of 1024 open files, so the program lifts its soft limit to the hard one.
void RaiseOpenFileLimit();
