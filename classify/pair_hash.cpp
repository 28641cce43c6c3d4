// The symmetric pair hash, and the choice of output for each placed packet.
#include "classify/classify.h"
#include "control/control.h"

#include <cstring>

namespace {

// Sums the 16 address bytes eight at a time: bytes are added pairwise into
// 16-bit lanes (each at most 4 * 255), and the multiply adds the lanes.
uint32_t address_byte_sum(const endpoint &e) {
    constexpr uint64_t EVEN_BYTES = 0x00FF00FF00FF00FFu;
    uint64_t w0, w1;
    std::memcpy(&w0, e.address.data(), 8);
    std::memcpy(&w1, e.address.data() + 8, 8);
    const uint64_t lanes = (w0 & EVEN_BYTES) + ((w0 >> 8) & EVEN_BYTES) + (w1 & EVEN_BYTES) + ((w1 >> 8) & EVEN_BYTES);
    return static_cast<uint32_t>((lanes * 0x0001000100010001u) >> 48);
}

// h % num_files without a division per packet: Lemire's multiply-shift
// remainder, exact for 32-bit dividends and divisors.
uint64_t remainder_magic = 0;
uint16_t remainder_divisor = 0;

uint32_t remainder_by_files(uint32_t h) {
    if (remainder_divisor != num_files) {
        remainder_divisor = num_files;
        remainder_magic = UINT64_MAX / num_files + 1;
    }
    const uint64_t low = remainder_magic * h;
    return static_cast<uint32_t>((static_cast<unsigned __int128>(low) * remainder_divisor) >> 64);
}

}  // namespace

uint32_t endpoint_weight(const endpoint &e) {
    return address_byte_sum(e) * (e.port == 0 ? 1u : e.port);
}

// At most 2 * 16 * 255 * 65535, below 2^31: the sum cannot overflow.
uint32_t pair_hash(const endpoint &a, const endpoint &b) {
    return (endpoint_weight(a) + endpoint_weight(b)) % PAIR_TABLE_SIZE;
}

uint16_t classify_pair(const endpoint &source, const endpoint &destination) {
    if (deterministic) {
        return static_cast<uint16_t>(remainder_by_files(pair_hash(source, destination)));
    }
    return pair_table_lookup(make_table_key(source, destination));
}
