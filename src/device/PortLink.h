#pragma once

#include <filesystem>
#include <string>

// What the entry named after a port in the port directory currently is.
enum class PortLinkState {
    Free,         // no entry
    Stale,        // a link whose device is gone (its program died)
    LivePort,     // a link to a pseudo-terminal that exists
    SerialDevice, // a link to a serial device that is not a pseudo-terminal
    Foreign,      // anything else: not ours to replace
};

PortLinkState InspectPortLink(const std::filesystem::path& link);
// Makes `link` point to `target`, replacing an existing link in one step.
bool PublishPortLink(const std::filesystem::path& link, const std::string& target);
