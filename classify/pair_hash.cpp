// The symmetric pair hash, and the choice of output for each placed packet.
#include "classify/classify.h"
#include "control/control.h"

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

uint16_t classify_pair(const endpoint &source, const endpoint &destination) {
    if (deterministic) {
        return static_cast<uint16_t>(pair_hash(source, destination) % num_files);
    }
    return pair_table_lookup(source, destination);
}
