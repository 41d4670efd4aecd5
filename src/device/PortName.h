#pragma once

#include <string>

// Whether `name` can name a port link: it must stay a single entry inside the port directory, so a
// script or backup file can never make or remove a link anywhere else.
bool IsSafePortName(const std::string& name);
