// The pair key's two endpoints: addresses from the IP header, cut to the prefixes; then the ports.
#include "dissect/dissect.h"

#include <algorithm>

namespace {

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
