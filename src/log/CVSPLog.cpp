#include "CVSPLog.h"

#include "Paths.h"

#include <cerrno>
#include <chrono>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr off_t ROTATION_SIZE = 5242880;
constexpr std::size_t TEXT_MAX_CHARACTERS = 1024;
constexpr std::size_t TEXT_MAX_BYTES = 2048;
constexpr std::size_t DUMP_LINE_BYTES = 16;

struct LocalTime {
    std::tm fields{};
    int milliseconds = 0;
};

LocalTime Now() {
    auto now = std::chrono::system_clock::now();
    std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    LocalTime time;
    localtime_r(&seconds, &time.fields);
    time.milliseconds = static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000);
    return time;
}

std::string FileName(const std::string& prefix, const char* kind, const LocalTime& time) {
    char name[64];
    const std::tm& t = time.fields;
    std::snprintf(name, sizeof name, " ] %.4d-%.2d-%.2d_%.2d-%.2d-%.2d_%s.log", t.tm_year + 1900,
                  t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, kind);
    return "[ " + prefix + name;
}

// The time stamp of an entry header, "[%d/%.2d/%.2d-%.2d:%.2d:%.2d %d" without the closing bracket.
std::string HeaderStamp() {
    LocalTime time = Now();
    const std::tm& t = time.fields;
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "\r\n[%d/%.2d/%.2d-%.2d:%.2d:%.2d %d", t.tm_year + 1900, t.tm_mon + 1,
                  t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, time.milliseconds);
    return stamp;
}

std::string PlainHeader() {
    return HeaderStamp() + "]\r\n";
}

std::string DumpHeader(const char* direction, std::size_t length, const char* note) {
    char rest[64];
    std::snprintf(rest, sizeof rest, "] - [%s : %d%s]\r\n", direction, static_cast<int>(length), note);
    return HeaderStamp() + rest;
}

void AppendHexDump(std::string& out, const unsigned char* bytes, std::size_t length) {
    static const char digits[] = "0123456789ABCDEF";
    for (std::size_t start = 0; start < length; start += DUMP_LINE_BYTES) {
        std::size_t count = std::min(DUMP_LINE_BYTES, length - start);
        for (std::size_t i = 0; i < count; ++i) {
            unsigned char byte = bytes[start + i];
            out += digits[byte >> 4];
            out += digits[byte & 0x0F];
            out += ' ';
        }
        out.append((DUMP_LINE_BYTES - count) * 3, ' ');
        out += "| ";
        for (std::size_t i = 0; i < count; ++i) {
            unsigned char byte = bytes[start + i];
            out += byte >= 0x20 && byte <= 0x7F ? static_cast<char>(byte) : '.';
        }
        out += "\r\n";
    }
}

// The length of the longest prefix of `text` that ends on a character boundary and holds at most
// `maxCharacters` UTF-8 characters and `maxBytes` bytes.
std::size_t BoundedLength(const std::string& text, std::size_t maxCharacters, std::size_t maxBytes) {
    std::size_t characters = 0;
    std::size_t end = 0;
    for (std::size_t i = 0; i <= text.size() && i <= maxBytes; ++i) {
        bool boundary = i == text.size() || (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80;
        if (!boundary)
            continue;
        end = i;
        if (i == text.size() || characters++ == maxCharacters)
            break;
    }
    return end;
}

void WriteAll(int descriptor, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t written = ::write(descriptor, bytes.data() + done, bytes.size() - done);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return;
        done += static_cast<std::size_t>(written);
    }
}

} // namespace

CVSPLog::CVSPLog() : CVSPLog(DefaultFolder()) {}

CVSPLog::CVSPLog(std::filesystem::path folder) : m_folder(std::move(folder)) {}

CVSPLog::~CVSPLog() {
    CloseSystemLog();
    CloseDataLog();
}

std::filesystem::path CVSPLog::DefaultFolder() {
    return tolvex_paths::LogDirectory();
}

int CVSPLog::OpenLocked(LogFile& file, const std::string& prefix) {
    std::filesystem::path previous = file.path;
    CloseLocked(file);
    file.prefix = prefix;
    std::filesystem::path path = m_folder / FileName(prefix, file.kind, Now());
    // A rotation within the same second as the last opening gets the same name: the file must then be
    // continued, not emptied, or the entries it holds would be lost.
    int flags = O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | (path == previous ? 0 : O_TRUNC);
    int descriptor = ::open(path.c_str(), flags, 0644);
    if (descriptor < 0 && errno == ENOENT) {
        std::error_code error;
        std::filesystem::create_directories(m_folder, error);
        if (error)
            return error.value();
        descriptor = ::open(path.c_str(), flags, 0644);
    }
    if (descriptor < 0)
        return errno;
    file.descriptor = descriptor;
    file.path = path;
    return 0;
}

void CVSPLog::CloseLocked(LogFile& file) {
    if (file.descriptor >= 0)
        ::close(file.descriptor);
    file.descriptor = -1;
    file.path.clear();
}

int CVSPLog::Open(LogFile& file, const std::string& prefix) {
    std::lock_guard guard(file.lock);
    // Opening anew always starts an empty file, even under the name of the one open now.
    CloseLocked(file);
    return OpenLocked(file, prefix);
}

void CVSPLog::Close(LogFile& file) {
    std::lock_guard guard(file.lock);
    CloseLocked(file);
}

bool CVSPLog::IsOpen(const LogFile& file) {
    std::lock_guard guard(file.lock);
    return file.descriptor >= 0;
}

std::filesystem::path CVSPLog::PathOf(const LogFile& file) {
    std::lock_guard guard(file.lock);
    return file.path;
}

template <typename BuildEntry> int CVSPLog::Write(LogFile& file, bool needsName, BuildEntry buildEntry) {
    std::lock_guard guard(file.lock);
    if (file.descriptor < 0)
        return -1;
    struct stat status {};
    if (needsName && ::stat(file.path.c_str(), &status) != 0)
        return 0;
    if (::fstat(file.descriptor, &status) == 0 && status.st_size > ROTATION_SIZE) {
        int error = OpenLocked(file, file.prefix);
        if (error != 0)
            return error;
    }
    WriteAll(file.descriptor, buildEntry());
    return 0;
}

int CVSPLog::WriteText(LogFile& file, const char* format, va_list arguments) {
    va_list copy;
    va_copy(copy, arguments);
    int needed = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string text(needed > 0 ? static_cast<std::size_t>(needed) : 0, '\0');
    if (needed > 0)
        std::vsnprintf(text.data(), text.size() + 1, format, arguments);
    text.resize(BoundedLength(text, TEXT_MAX_CHARACTERS, TEXT_MAX_BYTES));
    return Write(file, true, [&] { return PlainHeader() + text; });
}

int CVSPLog::OpenSystemLog(const std::string& prefix) {
    return Open(m_system, prefix);
}

int CVSPLog::OpenDataLog(const std::string& prefix) {
    return Open(m_data, prefix);
}

void CVSPLog::CloseSystemLog() {
    Close(m_system);
}

void CVSPLog::CloseDataLog() {
    Close(m_data);
}

bool CVSPLog::IsSystemLogOpen() const {
    return IsOpen(m_system);
}

bool CVSPLog::IsDataLogOpen() const {
    return IsOpen(m_data);
}

std::filesystem::path CVSPLog::SystemLogPath() const {
    return PathOf(m_system);
}

std::filesystem::path CVSPLog::DataLogPath() const {
    return PathOf(m_data);
}

int CVSPLog::WriteSystemText(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    int result = WriteText(m_system, format, arguments);
    va_end(arguments);
    return result;
}

int CVSPLog::WriteDataText(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    int result = WriteText(m_data, format, arguments);
    va_end(arguments);
    return result;
}

int CVSPLog::WriteSystemRaw(const void* data, std::size_t length) {
    return Write(m_system, true,
                 [&] { return PlainHeader() + std::string(static_cast<const char*>(data), length); });
}

int CVSPLog::WriteDataRaw(const void* data, std::size_t length) {
    return Write(m_data, true,
                 [&] { return PlainHeader() + std::string(static_cast<const char*>(data), length); });
}

int CVSPLog::DumpData(const void* data, std::size_t length, int direction) {
    return Write(m_data, false, [&] {
        std::string entry = DumpHeader(direction == TCP_TO_VSP ? "TCP->VSP" : "VSP->TCP", length, "");
        AppendHexDump(entry, static_cast<const unsigned char*>(data), length);
        return entry;
    });
}

int CVSPLog::DumpDropped(const void* data, std::size_t length) {
    return Write(m_data, false, [&] {
        std::string entry = DumpHeader("TCP->VSP", length, "(DROPPED)");
        AppendHexDump(entry, static_cast<const unsigned char*>(data), length);
        return entry;
    });
}
