#include "randomsource.h"

#include <random>

namespace {

std::mt19937 &generator()
{
    // Unseeded it behaves as a generator seeded with 1, like the C library's.
    static std::mt19937 engine(1);
    return engine;
}

} // namespace

void RandomSource::seed(quint32 value)
{
    generator().seed(value);
}

int RandomSource::bounded(int bound)
{
    Q_ASSERT(bound > 0);
    std::uniform_int_distribution<int> distribution(0, bound - 1);
    return distribution(generator());
}
