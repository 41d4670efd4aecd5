#pragma once

#include <string>

// Errors travel as one int: errno values (positive) as they are, and resolver failures as the
// getaddrinfo EAI_* code, which glibc makes negative, so both kinds keep their own text.

// The system's text for such a code (strerror or gai_strerror).
std::string ErrorMessage(int code);
// "[%d] %s\n" with the code and its text, the form every logged or shown platform error takes.
std::string SystemErrorText(int code);
