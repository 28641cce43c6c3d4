// From captured packet bytes to the pair key.
#pragma once

#include "control/settings.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <span>

// One side of a pair. IPv4 addresses fill bytes 0..3 and leave the rest 0;
// there is no family field, so the key compares all 16 bytes and the port.
struct endpoint {
    std::array<uint8_t, 16> address;
    uint16_t port;  // host order; 0 when no TCP port was taken
};

static_assert(sizeof(endpoint) == 18, "endpoints compare as plain bytes");

inline bool operator==(const endpoint &a, const endpoint &b) {
    return std::memcmp(&a, &b, sizeof(endpoint)) == 0;
}

constexpr uint16_t ETHERTYPE_IPV4 = 0x0800;
constexpr uint16_t ETHERTYPE_IPV6 = 0x86DD;
constexpr uint32_t IPV4_HEADER_MIN = 20;
constexpr uint32_t IPV6_HEADER_LEN = 40;

// Sets the link layout settings from a libpcap DLT_ value. Unknown link types read as Ethernet.
void choose_link_layout(int datalink);

// Offsets into a packet are 16-bit: a header that would start past this is not taken.
constexpr uint32_t MAX_PACKET_OFFSET = 65535;

// The captured bytes of one packet: size() is its caplen.
using packet_bytes = std::span<const uint8_t>;

// The caller has checked that offset + 2 <= packet.size().
inline uint16_t read_be16(packet_bytes packet, uint32_t offset) {
    return static_cast<uint16_t>(packet[offset] << 8 | packet[offset + 1]);
}

struct network_header {
    bool found;
    uint16_t protocol;  // ETHERTYPE_IPV4 or ETHERTYPE_IPV6 when found
    uint16_t offset;    // first byte of the IP header when found
};

network_header find_network_header(packet_bytes packet);
bool get_ipv4_endpoints(packet_bytes packet, uint16_t offset, endpoint &source, endpoint &destination);
bool get_ipv6_endpoints(packet_bytes packet, uint16_t offset, endpoint &source, endpoint &destination);
void mask_address(std::array<uint8_t, 16> &address, uint16_t keep_bytes, uint16_t full_bytes);
void get_tcp_ports(uint16_t protocol, packet_bytes packet, uint16_t offset, endpoint &source,
                   endpoint &destination);

// The whole walk for one packet; false when it cannot be placed. The caller
// clears both endpoints first.
bool get_pair_key(packet_bytes packet, endpoint &source, endpoint &destination);
