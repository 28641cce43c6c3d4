// The pair table's key: both endpoints in a fixed order, and its hash, keyed afresh every run.
#include "classify/classify.h"

#include <sys/random.h>
#include <unistd.h>

#include <cstring>
#include <ctime>

namespace {

// One random 64-bit multiplier for each 32-bit word of a key, and a constant.
constexpr size_t KEY_WORDS = 9;
std::array<uint64_t, KEY_WORDS + 1> hash_key;

// Multilinear hashing of the key's nine 32-bit words: the constant plus each
// word times its own random multiplier, mod 2^64, of which the upper 32 bits
// are taken. That family is strongly universal: two different keys, chosen
// without knowing the multipliers, share a hash with probability 2^-32 and a
// table position with probability 1 / slots, so no trace can crowd one probe
// run; and it costs nine multiplies where a keyed pseudo-random function
// costs several rounds per word.
uint32_t hash_of(const std::array<uint64_t, 4> &address, const std::array<uint16_t, 2> &port) {
    uint64_t sum = hash_key[0];
    for (size_t i = 0; i < 4; ++i) {
        sum += hash_key[1 + 2 * i] * (address[i] & 0xFFFFFFFFu) + hash_key[2 + 2 * i] * (address[i] >> 32);
    }
    sum += hash_key[KEY_WORDS] * (uint64_t{port[0]} | uint64_t{port[1]} << 16);
    return static_cast<uint32_t>(sum >> 32);
}

}  // namespace

void seed_table_key() {
    if (getrandom(hash_key.data(), sizeof hash_key, 0) != static_cast<ssize_t>(sizeof hash_key)) {
        // No kernel entropy: still vary the multipliers between runs.
        uint64_t x = static_cast<uint64_t>(std::time(nullptr)) ^ static_cast<uint64_t>(getpid()) << 32 ^
                     reinterpret_cast<uintptr_t>(&hash_key);
        for (uint64_t &k : hash_key) {
            x += 0x9E3779B97F4A7C15u;  // splitmix64
            uint64_t z = x;
            z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
            z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
            k = z ^ (z >> 31);
        }
    }
}

// Any fixed total order will do: it only has to put both directions alike.
table_key make_table_key(const endpoint &source, const endpoint &destination) {
    table_key key;
    uint64_t s[2], d[2];
    std::memcpy(s, source.address.data(), 16);
    std::memcpy(d, destination.address.data(), 16);
    const bool source_first =
        s[0] != d[0] ? s[0] < d[0] : s[1] != d[1] ? s[1] < d[1] : source.port <= destination.port;
    if (source_first) {
        key.address = {s[0], s[1], d[0], d[1]};
        key.port = {source.port, destination.port};
    } else {
        key.address = {d[0], d[1], s[0], s[1]};
        key.port = {destination.port, source.port};
    }
    key.hash = hash_of(key.address, key.port);
    return key;
}
