// The symmetric pair hash, and the deterministic choice of output from it.
#include "classify/classify.h"

uint32_t endpoint_weight(const endpoint &e) {
    uint32_t sum = 0;
    for (const uint8_t byte : e.address) {
        sum += byte;
    }
    return sum * (e.port == 0 ? 1u : e.port);
}

// At most 2 * 16 * 255 * 65535, below 2^31: the sum cannot overflow.
uint32_t pair_hash(const endpoint &a, const endpoint &b) {
    return (endpoint_weight(a) + endpoint_weight(b)) % PAIR_TABLE_SIZE;
}

uint16_t deterministic_file(uint32_t hash) {
    return static_cast<uint16_t>(hash % num_files);
}
