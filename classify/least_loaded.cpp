// The output with the fewest packets so far, lowest index on ties, without a scan per new pair.
//
// Counts only grow, one packet at a time. So the outputs are kept in sets by
// level, their count less the smallest count of the last full scan. A set may
// hold outputs that have since grown (they move up when met), but an output is
// never in a set above its true level. The lowest non-empty level's lowest
// output that is still at that level is then the answer of a plain scan.
// A full scan happens only when every output has grown LOAD_LEVELS past the
// base, and the write path does no work for any of this.
#include "classify/classify.h"
#include "control/outputs.h"

#include <array>
#include <bit>

namespace {

constexpr uint32_t LOAD_LEVELS = 64;
constexpr uint32_t SET_WORDS = MAX_OUTPUT_FILES / 64;

using output_set = std::array<uint64_t, SET_WORDS>;

std::array<output_set, LOAD_LEVELS> at_level;
uint64_t load_base = 0;
uint32_t lowest_level = LOAD_LEVELS;  // levels below it are empty; LOAD_LEVELS: scan first

void add_to_level(uint32_t level, uint16_t file) {
    at_level[level][file / 64] |= uint64_t{1} << (file % 64);
}

void scan_loads() {
    load_base = output_files[0].packets;
    for (uint16_t i = 1; i < num_files; ++i) {
        load_base = std::min(load_base, output_files[i].packets);
    }
    at_level = {};
    for (uint16_t i = 0; i < num_files; ++i) {
        const uint64_t level = output_files[i].packets - load_base;
        if (level < LOAD_LEVELS) {
            add_to_level(static_cast<uint32_t>(level), i);
        }
    }
    lowest_level = 0;
}

// The lowest output in a set, or -1 when it is empty.
int lowest_in(const output_set &set) {
    for (uint32_t w = 0; w < SET_WORDS; ++w) {
        if (set[w] != 0) {
            return static_cast<int>(w * 64 + static_cast<uint32_t>(std::countr_zero(set[w])));
        }
    }
    return -1;
}

}  // namespace

void forget_loads() {
    lowest_level = LOAD_LEVELS;
}

uint16_t least_loaded_file() {
    if (lowest_level == LOAD_LEVELS) {
        scan_loads();
    }
    for (;;) {
        output_set &set = at_level[lowest_level];
        const int file = lowest_in(set);
        if (file < 0) {
            if (++lowest_level == LOAD_LEVELS) {
                scan_loads();  // every output is far above the base
            }
            continue;
        }
        const uint64_t level = output_files[file].packets - load_base;
        if (level == lowest_level) {
            return static_cast<uint16_t>(file);
        }
        set[file / 64] &= ~(uint64_t{1} << (file % 64));  // it has grown: up to its level, or out of the window
        if (level < LOAD_LEVELS) {
            add_to_level(static_cast<uint32_t>(level), static_cast<uint16_t>(file));
        }
    }
}
