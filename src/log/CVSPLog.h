#pragma once

#include <cstdarg>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <string>

// A system log file and a data log file, each opened under a name prefix and rotated past 5 MiB.
// Writes from several threads never interleave within one log.
class CVSPLog {
public:
    // Directions of DumpData.
    static constexpr int VSP_TO_TCP = 0;
    static constexpr int TCP_TO_VSP = 1;

    // Logs go to <folder>; by default the user's documents folder plus "Tolvex".
    CVSPLog();
    explicit CVSPLog(std::filesystem::path folder);
    CVSPLog(const CVSPLog&) = delete;
    CVSPLog& operator=(const CVSPLog&) = delete;
    ~CVSPLog();

    // 0, or an errno value.
    int OpenSystemLog(const std::string& prefix);
    int OpenDataLog(const std::string& prefix);
    void CloseSystemLog();
    void CloseDataLog();
    bool IsSystemLogOpen() const;
    bool IsDataLogOpen() const;

    // -1 when the file is not open; otherwise 0 or the error of a failed rotation.
    int WriteSystemText(const char* format, ...) __attribute__((format(printf, 2, 3)));
    int WriteDataText(const char* format, ...) __attribute__((format(printf, 2, 3)));
    int WriteSystemRaw(const void* data, std::size_t length);
    int WriteDataRaw(const void* data, std::size_t length);
    int DumpData(const void* data, std::size_t length, int direction);
    int DumpDropped(const void* data, std::size_t length);

    // Path of the open file, empty when closed (for the information window and tests).
    std::filesystem::path SystemLogPath() const;
    std::filesystem::path DataLogPath() const;

    // The default log folder.
    static std::filesystem::path DefaultFolder();

private:
    // One of the two files: the prefix of its last opening, its path and descriptor, and the lock that
    // keeps the entries of two threads apart.
    struct LogFile {
        explicit LogFile(const char* kind) : kind(kind) {}
        const char* const kind; // "SYS" or "DATA", the end of the file name
        std::string prefix;
        std::filesystem::path path;
        int descriptor = -1;
        mutable std::mutex lock;
    };

    int OpenLocked(LogFile& file, const std::string& prefix);
    static void CloseLocked(LogFile& file);
    int Open(LogFile& file, const std::string& prefix);
    static void Close(LogFile& file);
    static bool IsOpen(const LogFile& file);
    static std::filesystem::path PathOf(const LogFile& file);
    // Writes one whole entry; builds it only once the file is known to be open.
    template <typename BuildEntry> int Write(LogFile& file, bool needsName, BuildEntry buildEntry);
    int WriteText(LogFile& file, const char* format, va_list arguments);

    std::filesystem::path m_folder;
    LogFile m_system{"SYS"};
    LogFile m_data{"DATA"};
};
