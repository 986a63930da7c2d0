#pragma once

#include <QtGlobal>

// The one pseudo-random source of the process. The engine seeds it with the
// time in whole seconds when an update session is prepared; tests seed it with
// a fixed value so that the mirror choices they see are repeatable.
class RandomSource final
{
public:
    static void seed(quint32 value);
    // A value in [0, bound); bound must be at least 1.
    static int bounded(int bound);

private:
    RandomSource() = delete;
};
