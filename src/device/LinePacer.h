#pragma once

#include <chrono>

// Lets bytes through no faster than a serial line of a given rate would carry them (a token bucket).
// The bucket holds 50 ms of line time, enough to ride out late timers without letting an
// idle line store up a burst.
class LinePacer {
public:
    using Clock = std::chrono::steady_clock;

    void SetRate(int baudRate, int bitsPerCharacter);
    // Whole bytes the line could carry now.
    int Available(Clock::time_point now);
    void Consume(int bytes);
    // How long until a worthwhile amount (a quarter of the bucket, at least one byte) can pass.
    Clock::duration WaitForRoom(Clock::time_point now);

private:
    void Refill(Clock::time_point now);

    double m_bytesPerSecond = 960.0;
    double m_bucketBytes = 1.0;
    double m_credit = 0.0;
    Clock::time_point m_last = Clock::now();
};
