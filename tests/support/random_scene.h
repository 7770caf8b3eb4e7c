/*
 * Random scenes and option strings for the reader check: trees up to five
 * levels below the world with groups, lights, polygon objects (textured or
 * not, some with children, some with a subdivided form), objects of line
 * surfaces only, two-sided, flat and smooth surfaces that share vertices,
 * awkward names and data texts, under option strings that switch every
 * option the plug-in knows.
 *
 * Everything is drawn from a seed, so a failure replays: the run's seed
 * comes from QEL_SEED when it is set, and each scene's seed from the run's
 * seed and the scene's number.
 */
#ifndef QEL_TESTS_SUPPORT_RANDOM_SCENE_H
#define QEL_TESTS_SUPPORT_RANDOM_SCENE_H

#include <cstdint>
#include <string>
#include <vector>

namespace qel_test {

// QEL_SEED from the environment (decimal) when set, else a fresh seed.
uint64_t run_seed();

// The seed of scene `index` of a run.
uint64_t scene_seed(uint64_t run, uint64_t index);

// A scene in the JSON scene format.  Coordinates stay far below 1e19,
// beyond which the .x reader's number conversion gives up.
std::string random_scene(uint64_t seed);

// A 50-character option string: every switch of the plug-in's table drawn
// at random, every other character clear, decimal places 0, 2 or 6.
std::string random_options(uint64_t seed);

// The numbers of the plug-in's switches, from its option table: every
// option but the digit of decimal places.
std::vector<int> option_switches();

}  // namespace qel_test

#endif  // QEL_TESTS_SUPPORT_RANDOM_SCENE_H
