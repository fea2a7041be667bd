#include "scene/point_field.h"

#include <new>

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
