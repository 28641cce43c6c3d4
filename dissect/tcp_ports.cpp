// The TCP ports of a pair key: behind the IPv4 header, or the IPv6 header and its extensions.
#include "dissect/dissect.h"

namespace {

constexpr uint32_t TCP_HEADER_MIN = 20;
constexpr uint8_t IPPROTO_TCP_NUMBER = 6;
constexpr uint8_t IPV6_HOP_BY_HOP = 0;
constexpr uint8_t IPV6_ROUTING = 43;
constexpr uint8_t IPV6_FRAGMENT = 44;
constexpr uint8_t IPV6_AUTHENTICATION = 51;
constexpr uint8_t IPV6_DESTINATION_OPTIONS = 60;
constexpr uint32_t IPV6_FRAGMENT_LEN = 8;

// The ports of a TCP header at `transport`, when all 20 bytes of it are captured.
inline void take_tcp_ports(packet_bytes packet, uint32_t transport, endpoint &source, endpoint &destination) {
    if (transport > MAX_PACKET_OFFSET || transport + TCP_HEADER_MIN > packet.size()) {
        return;
    }
    source.port = read_be16(packet, transport);
    destination.port = read_be16(packet, transport + 2);
}

// A later fragment carries no TCP header: its first payload bytes are not ports.
void get_ipv4_tcp_ports(packet_bytes packet, uint32_t network, endpoint &source, endpoint &destination) {
    const uint32_t transport = network + 4u * (packet[network] & 0x0Fu);
    if (transport > MAX_PACKET_OFFSET || packet.size() < transport) {
        return;
    }
    if (packet[network + 9] != IPPROTO_TCP_NUMBER || (read_be16(packet, network + 6) & 0x1FFF) != 0) {
        return;
    }
    take_tcp_ports(packet, transport, source, destination);
}

// Follows the extension headers that may stand between the fixed header and
// TCP, so that a connection whose packets only sometimes carry one stays one pair.
void get_ipv6_tcp_ports(packet_bytes packet, uint32_t network, endpoint &source, endpoint &destination) {
    const uint32_t caplen = static_cast<uint32_t>(packet.size());
    uint8_t next = packet[network + 6];
    uint32_t at = network + IPV6_HEADER_LEN;
    for (;;) {
        if (next == IPPROTO_TCP_NUMBER) {
            take_tcp_ports(packet, at, source, destination);
            return;
        }
        if (at > MAX_PACKET_OFFSET) {
            return;
        }
        uint32_t length;
        switch (next) {
        case IPV6_HOP_BY_HOP:
        case IPV6_ROUTING:
        case IPV6_DESTINATION_OPTIONS:
            if (caplen < at + 2) {
                return;
            }
            length = (packet[at + 1] + 1u) * 8;
            break;
        case IPV6_AUTHENTICATION:
            if (caplen < at + 2) {
                return;
            }
            length = (packet[at + 1] + 2u) * 4;
            break;
        case IPV6_FRAGMENT:
            // Only the first fragment holds the TCP header.
            if (caplen < at + IPV6_FRAGMENT_LEN || (read_be16(packet, at + 2) >> 3) != 0) {
                return;
            }
            length = IPV6_FRAGMENT_LEN;
            break;
        default:
            return;
        }
        next = packet[at];
        at += length;
    }
}

}  // namespace

void get_tcp_ports(uint16_t protocol, packet_bytes packet, uint16_t offset, endpoint &source, endpoint &destination) {
    const bool ipv4 = protocol == ETHERTYPE_IPV4;
    // Only reached after the address step succeeded; tested again so that the
    // reads below never depend on the caller.
    if (packet.size() < uint32_t{offset} + (ipv4 ? IPV4_HEADER_MIN : IPV6_HEADER_LEN)) {
        return;
    }
    if (ipv4) {
        get_ipv4_tcp_ports(packet, offset, source, destination);
    } else {
        get_ipv6_tcp_ports(packet, offset, source, destination);
    }
}
