#pragma once

#include <cstdint>
#include <memory>

// One point of the field, in model units before the view translation of -15 along z.
struct SpritePoint {
    float x;
    float y;
    float z;

    // Places this point at random inside the box x, y in [-5, 5], z in [-15, 15], taking three
    // successive draws from the generator in the order x, y, z.
    void Randomize();
};
static_assert(sizeof(SpritePoint) == 3 * sizeof(float), "three floats, no other members");

// The one process-wide generator: a 32-bit linear congruential sequence whose draws lie in
// 0 ... 32767. Its state starts at 1.
void SeedRandom(std::uint32_t seed);
int NextRandom();

// Allocates count points and places each in index order. Null when the memory is not there.
std::unique_ptr<SpritePoint[]> BuildPointField(int count);

// One frame of motion: 0.15 units further away, back to the near end once past the far end.
void StepPoint(SpritePoint& point);
