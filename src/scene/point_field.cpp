#include "scene/point_field.h"

#include <cstdint>
#include <cstdlib>
#include <new>

// The program's one allocation. The runtime's own nothrow new calls the throwing one inside a
// try block, which links the whole exception runtime into a program that never throws: most of
// the exe. This one asks the C runtime directly, whose free the runtime's delete[] calls.
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    // An array too long to exist arrives as the largest size.
    return size <= PTRDIFF_MAX ? std::malloc(size) : nullptr;
}

namespace {

std::uint32_t randomState = 1;

constexpr double randomDivisor = 32767.0; // the largest draw, so that u spans 0 ... 1 inclusive
constexpr float stepLength = 0.15f;
constexpr float wrapThreshold = -15.0f;
constexpr float wrapTarget = 15.0f;

double NextUnit() {
    return NextRandom() * (1.0 / randomDivisor);
}

} // namespace

void SeedRandom(std::uint32_t seed) {
    randomState = seed;
}

int NextRandom() {
    randomState = randomState * 214013u + 2531011u;
    return static_cast<int>((randomState >> 16) & 0x7FFFu);
}

void SpritePoint::Randomize() {
    // Each coordinate is computed in double and rounded once when stored.
    x = static_cast<float>(NextUnit() * 10.0 - 5.0);
    y = static_cast<float>(NextUnit() * 10.0 - 5.0);
    z = static_cast<float>(NextUnit() * 30.0 - 15.0);
}

std::unique_ptr<SpritePoint[]> BuildPointField(int count) {
    std::unique_ptr<SpritePoint[]> field(new (std::nothrow) SpritePoint[count]);
    if (!field) {
        return nullptr;
    }
    for (int i = 0; i < count; ++i) {
        field[i].Randomize();
    }
    return field;
}

void StepPoint(SpritePoint& point) {
    point.z -= stepLength;
    if (point.z < wrapThreshold) {
        point.z = wrapTarget; // the overshoot is dropped, so every point repeats every 201 frames
    }
}
