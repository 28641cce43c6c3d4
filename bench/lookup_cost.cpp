// Measures the pair table alone: nanoseconds per lookup of a known pair, and
// per insertion of a new one, at a given number of pairs.
//
//   lookup_cost [pairs...]      default: 10000 2000000
#include "classify/classify.h"
#include "control/control.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

uint64_t rng = 88172645463325252u;

uint64_t next_random() {  // xorshift64
    rng ^= rng << 13;
    rng ^= rng >> 7;
    rng ^= rng << 17;
    return rng;
}

endpoint random_endpoint() {
    endpoint e{};
    const uint64_t r = next_random();
    e.address = {10, static_cast<uint8_t>(r), static_cast<uint8_t>(r >> 8), static_cast<uint8_t>(r >> 16)};
    e.port = static_cast<uint16_t>(r >> 32);
    return e;
}

double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void measure(size_t pairs) {
    num_files = 16;
    deterministic = 0;
    for (output_file &f : output_files) {
        f.packets = 0;
    }
    clear_pair_table();
    std::vector<std::pair<endpoint, endpoint>> keys(pairs);
    for (auto &k : keys) {
        k = {random_endpoint(), random_endpoint()};
    }
    auto start = std::chrono::steady_clock::now();
    uint64_t sink = 0;
    for (const auto &k : keys) {
        sink += pair_table_lookup(make_table_key(k.first, k.second));
        ++output_files[sink % 16].packets;
    }
    const double insert_ns = seconds_since(start) * 1e9 / static_cast<double>(pairs);
    const size_t lookups = 10000000;
    std::vector<uint32_t> order(lookups);
    for (auto &i : order) {
        i = static_cast<uint32_t>(next_random() % pairs);
    }
    start = std::chrono::steady_clock::now();
    for (const uint32_t i : order) {
        const auto &k = keys[i];
        sink += pair_table_lookup((i & 1) ? make_table_key(k.second, k.first) : make_table_key(k.first, k.second));
    }
    const double lookup_ns = seconds_since(start) * 1e9 / static_cast<double>(lookups);
    // The same walk over the keys with only the hash: what the table adds to it.
    start = std::chrono::steady_clock::now();
    for (const uint32_t i : order) {
        sink += make_table_key(keys[i].first, keys[i].second).hash;
    }
    const double hash_ns = seconds_since(start) * 1e9 / static_cast<double>(lookups);
    std::printf("%9zu pairs: %6.1f ns per new pair, %6.1f ns per lookup of a random known pair"
                " (of which %.1f ns to hash it and fetch its key) %s\n",
                static_cast<size_t>(pair_table_pairs()), insert_ns, lookup_ns, hash_ns, sink == 42 ? "!" : "");
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 2) {
        measure(10000);
        measure(2000000);
    }
    for (int i = 1; i < argc; ++i) {
        measure(std::strtoull(argv[i], nullptr, 10));
    }
    return 0;
}
