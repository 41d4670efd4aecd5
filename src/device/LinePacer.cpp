#include "LinePacer.h"

#include <algorithm>
#include <cmath>

namespace {
constexpr double kBucketSeconds = 0.05;
}

void LinePacer::SetRate(int baudRate, int bitsPerCharacter) {
    Refill(Clock::now());
    m_bytesPerSecond = std::max(1.0, static_cast<double>(baudRate) / std::max(1, bitsPerCharacter));
    m_bucketBytes = std::max(1.0, m_bytesPerSecond * kBucketSeconds);
    m_credit = std::min(m_credit, m_bucketBytes);
}

int LinePacer::Available(Clock::time_point now) {
    Refill(now);
    return static_cast<int>(std::floor(m_credit));
}

void LinePacer::Consume(int bytes) {
    m_credit -= bytes;
}

LinePacer::Clock::duration LinePacer::WaitForRoom(Clock::time_point now) {
    Refill(now);
    double wanted = std::max(1.0, std::floor(m_bucketBytes / 4));
    double missing = std::max(0.0, wanted - m_credit);
    return std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(missing / m_bytesPerSecond));
}

void LinePacer::Refill(Clock::time_point now) {
    if (now > m_last) {
        double elapsed = std::chrono::duration<double>(now - m_last).count();
        m_credit = std::min(m_bucketBytes, m_credit + elapsed * m_bytesPerSecond);
    }
    m_last = now;
}
