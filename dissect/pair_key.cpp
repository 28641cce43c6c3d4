// Fills the pair key's two endpoints from the IP header and, for TCP, its ports.
#include "control/control.h"
#include "dissect/dissect.h"

#include <algorithm>

namespace {

constexpr uint32_t IPV4_HEADER_MIN = 20;
constexpr uint32_t IPV6_HEADER_LEN = 40;
constexpr uint32_t TCP_HEADER_MIN = 20;
constexpr uint8_t IPPROTO_TCP_NUMBER = 6;

void copy_address(packet_bytes packet, uint32_t offset, uint32_t length, std::array<uint8_t, 16> &address) {
    std::copy_n(packet.begin() + offset, length, address.begin());
}

}  // namespace

void mask_address(std::array<uint8_t, 16> &address, uint16_t keep_bytes, uint16_t full_bytes) {
    if (keep_bytes < full_bytes) {
        std::fill(address.begin() + keep_bytes, address.begin() + full_bytes, uint8_t{0});
    }
}

bool get_ipv4_endpoints(packet_bytes packet, uint16_t offset, endpoint &source, endpoint &destination) {
    if (packet.size() < uint32_t{offset} + IPV4_HEADER_MIN) {
        return false;
    }
    copy_address(packet, offset + 12u, 4, source.address);
    copy_address(packet, offset + 16u, 4, destination.address);
    mask_address(source.address, v4_prefix_bytes, 4);
    mask_address(destination.address, v4_prefix_bytes, 4);
    return true;
}

bool get_ipv6_endpoints(packet_bytes packet, uint16_t offset, endpoint &source, endpoint &destination) {
    if (packet.size() < uint32_t{offset} + IPV6_HEADER_LEN) {
        return false;
    }
    copy_address(packet, offset + 8u, 16, source.address);
    copy_address(packet, offset + 24u, 16, destination.address);
    mask_address(source.address, v6_prefix_bytes, 16);
    mask_address(destination.address, v6_prefix_bytes, 16);
    return true;
}

void get_tcp_ports(uint16_t protocol, packet_bytes packet, uint16_t offset, endpoint &source, endpoint &destination) {
    const uint32_t caplen = static_cast<uint32_t>(packet.size());
    const uint32_t network = offset;
    const bool ipv4 = protocol == ETHERTYPE_IPV4;
    // Only reached after the address step succeeded; tested again so that the
    // reads below never depend on the caller.
    if (caplen < network + (ipv4 ? IPV4_HEADER_MIN : IPV6_HEADER_LEN)) {
        return;
    }
    const uint32_t transport = ipv4 ? network + 4u * (packet[network] & 0x0Fu) : network + IPV6_HEADER_LEN;
    if (transport > MAX_PACKET_OFFSET || caplen < transport) {
        return;
    }
    if (packet[network + (ipv4 ? 9 : 6)] != IPPROTO_TCP_NUMBER) {
        return;
    }
    if (transport + TCP_HEADER_MIN > caplen) {
        return;
    }
    source.port = read_be16(packet, transport);
    destination.port = read_be16(packet, transport + 2);
}

bool get_pair_key(packet_bytes packet, endpoint &source, endpoint &destination) {
    const network_header network = find_network_header(packet);
    if (!network.found) {
        return false;
    }
    const bool have_addresses = network.protocol == ETHERTYPE_IPV4
                                    ? get_ipv4_endpoints(packet, network.offset, source, destination)
                                    : get_ipv6_endpoints(packet, network.offset, source, destination);
    if (!have_addresses) {
        return false;
    }
    if (use_ports) {
        get_tcp_ports(network.protocol, packet, network.offset, source, destination);
    }
    return true;
}
