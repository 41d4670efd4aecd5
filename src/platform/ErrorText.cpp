#include "ErrorText.h"

#include <cstdio>
#include <cstring>
#include <netdb.h>

std::string ErrorMessage(int code) {
    if (code < 0)
        return gai_strerror(code);
    return std::strerror(code);
}

std::string SystemErrorText(int code) {
    char text[512];
    std::snprintf(text, sizeof text, "[%d] %s\n", code, ErrorMessage(code).c_str());
    return text;
}
