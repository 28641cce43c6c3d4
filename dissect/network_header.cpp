// Finds the IPv4 or IPv6 header behind the link header, and any VLAN-style tags, of each layout.
#include "dissect/dissect.h"

namespace {

constexpr network_header NOT_IP = {false, 0, 0};

// Bytes stepped over for a tag type, or 0 when the type is not a tag.
uint32_t tag_length(uint16_t type) {
    switch (type) {
    case 0x8100:  // IEEE 802.1Q
    case 0x88A8:  // IEEE 802.1ad
    case 0x9100:
    case 0x9200:
    case 0x9300:  // pre-standard double tagging
        return 4;
    case 0x8926:  // VN-Tag
        return 6;
    default:
        return 0;
    }
}

network_header walk_ethertypes(packet_bytes packet) {
    const uint32_t caplen = static_cast<uint32_t>(packet.size());
    if (caplen < link_header_len) {
        return NOT_IP;
    }
    uint32_t skip = 0;
    // After a tag the next type sits in the tag's last two bytes, whatever the
    // link header: for Ethernet that is ethertype_offset + skip, and for the
    // cooked headers it is the type that follows the tag's control field.
    uint32_t type_offset = ethertype_offset;
    for (;;) {
        const uint16_t type = read_be16(packet, type_offset);
        if (type == ETHERTYPE_IPV4 || type == ETHERTYPE_IPV6) {
            return {true, type, static_cast<uint16_t>(link_header_len + skip)};
        }
        const uint32_t length = tag_length(type);
        if (length == 0) {
            return NOT_IP;
        }
        skip += length;
        if (link_header_len + skip > MAX_PACKET_OFFSET || caplen < link_header_len + skip) {
            return NOT_IP;
        }
        type_offset = link_header_len + skip - 2;
    }
}

network_header from_ip_version(packet_bytes packet) {
    if (packet.empty()) {
        return NOT_IP;
    }
    switch (packet[0] >> 4) {
    case 4:
        return {true, ETHERTYPE_IPV4, 0};
    case 6:
        return {true, ETHERTYPE_IPV6, 0};
    default:
        return NOT_IP;
    }
}

// BSD address families: AF_INET is 2 everywhere, AF_INET6 is 24, 28 or 30
// depending on the system that captured.
network_header from_address_family(packet_bytes packet, bool host_order) {
    if (packet.size() < 4) {
        return NOT_IP;
    }
    const uint32_t big = uint32_t{read_be16(packet, 0)} << 16 | read_be16(packet, 2);
    uint32_t family = big;
    if (host_order) {
        // A family is small, so a little-endian one leaves the upper 16 bits clear.
        const uint32_t little = packet[0] | packet[1] << 8 | packet[2] << 16 | uint32_t{packet[3]} << 24;
        family = (little >> 16) == 0 ? little : big;
    }
    switch (family) {
    case 2:
        return {true, ETHERTYPE_IPV4, 4};
    case 24:
    case 28:
    case 30:
        return {true, ETHERTYPE_IPV6, 4};
    default:
        return NOT_IP;
    }
}

network_header from_ppp_protocol(packet_bytes packet) {
    uint32_t at = 0;
    if (packet.size() >= 2 && packet[0] == 0xFF && packet[1] == 0x03) {
        at = 2;  // HDLC-like address and control bytes
    }
    if (packet.size() < at + 2) {
        return NOT_IP;
    }
    const auto offset = static_cast<uint16_t>(at + 2);
    switch (read_be16(packet, at)) {
    case 0x0021:
        return {true, ETHERTYPE_IPV4, offset};
    case 0x0057:
        return {true, ETHERTYPE_IPV6, offset};
    default:
        return NOT_IP;
    }
}

}  // namespace

network_header find_network_header(packet_bytes packet) {
    // Ethernet and the cooked headers are most captures: their walk comes
    // first, so that it costs what it did before there were other layouts.
    if (link_header_kind == link_kind::ethertype) [[likely]] {
        return walk_ethertypes(packet);
    }
    switch (link_header_kind) {
    case link_kind::ethertype:
        return walk_ethertypes(packet);
    case link_kind::ip_version:
        return from_ip_version(packet);
    case link_kind::family_either:
        return from_address_family(packet, true);
    case link_kind::family_big:
        return from_address_family(packet, false);
    case link_kind::ppp:
        return from_ppp_protocol(packet);
    }
    return NOT_IP;
}
