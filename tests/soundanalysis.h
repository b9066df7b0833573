#pragma once

#include <QtGlobal>

#include <cmath>

// How strongly one frequency sounds in a stretch of 16-bit samples (Goertzel's algorithm): a
// full-scale tone of that frequency gives (amplitude × count / 2)².
inline double tonePower(const qint16 *samples, int count, double hz, int sampleRate)
{
    const double c = 2 * std::cos(2 * M_PI * hz / sampleRate);
    double s1 = 0, s2 = 0;
    for (int i = 0; i < count; ++i) {
        const double s0 = samples[i] + c * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    return s1 * s1 + s2 * s2 - c * s1 * s2;
}
