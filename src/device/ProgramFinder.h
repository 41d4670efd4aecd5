#pragma once

#include <string>
#include <sys/types.h>

// The name of a program that holds the character device `device` open, empty when none does. Walks
// every process's descriptors, so it costs tens of milliseconds: keep it off the data path.
std::string FindProgramHolding(dev_t device);
