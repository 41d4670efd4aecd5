#pragma once

// Texts the engine shows to the user, in English. A window layer that shows another language maps them.
namespace engine_text {

inline constexpr const char* JobInProgress = "There is a job in progress.";
inline constexpr const char* SelectPort = "Please select a virtual port.";
inline constexpr const char* SelectCheckbox = "Please select a checkbox to delete.";
inline constexpr const char* InsufficientMemory = "[Error] Insufficient memory.";
inline constexpr const char* ConfirmDeleteChecked =
    "You can't delete a virtual port which is opened.\r\n\r\nAre you sure to delete all checked virtual "
    "ports?";
inline constexpr const char* ConfirmDeleteAll = "Are you sure to delete all virtual ports?";
inline constexpr const char* CreatingPort = "Creating the virtual port.";
inline constexpr const char* DeletingPort = "Deleting the virtual port.";
inline constexpr const char* ClosingProgram = "Closing the program.";
inline constexpr const char* WaitingForConnectionEnd = "Waiting for the connection is being terminated.";
inline constexpr const char* StrictBaudRateFailed = "Fail to call SetStrictBaudRate function.";
inline constexpr const char* AlreadyStopped =
    "The port is already stopped or in waiting state for closing TCP/IP socket.";
inline constexpr const char* AlreadyStarted = "The port is already started.";
inline constexpr const char* SocketNotClosed = "TCP/IP socket is not in closed state.";

inline constexpr const char* EnterHost = "Please enter host IP address/name.";
inline constexpr const char* DuplicatedLocalPort = "The local port number is duplicated.";
inline constexpr const char* TelComWithUdp = "Telnet COM Port Control(RFC2217) option can't use with UDP.";
inline constexpr const char* TelComWithSsl = "Telnet COM Port Control(RFC2217) option can't use with SSL.";
inline constexpr const char* SslWithUdp = "SSL can't use with UDP.";

// Labels of the network state column.
inline constexpr const char* NotConnected = "[Not Connected]";
inline constexpr const char* SslConnected = "[SSL:Connected]";
inline constexpr const char* Connected = "[Connected]";
inline constexpr const char* Connecting = "[Connecting]";
inline constexpr const char* SslListening = "[SSL:Listening]";
inline constexpr const char* Listening = "[Listening]";
inline constexpr const char* SslConnecting = "[SSL:Connecting]";

} // namespace engine_text
