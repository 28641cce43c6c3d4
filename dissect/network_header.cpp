// Walks the link header and any VLAN-style tags to the IPv4 or IPv6 header.
#include "control/control.h"
#include "dissect/dissect.h"

namespace {

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

}  // namespace

network_header find_network_header(packet_bytes packet) {
    const uint32_t caplen = static_cast<uint32_t>(packet.size());
    if (caplen < link_header_len) {
        return {false, 0, 0};
    }
    uint32_t skip = 0;
    // After a tag the next type sits in its last two bytes: for Ethernet that
    // is ethertype_offset + skip, and for a 20-byte cooked header it is the
    // type that follows the tag's control field.
    uint32_t type_offset = ethertype_offset;
    for (;;) {
        const uint16_t type = read_be16(packet, type_offset);
        if (type == ETHERTYPE_IPV4 || type == ETHERTYPE_IPV6) {
            return {true, type, static_cast<uint16_t>(link_header_len + skip)};
        }
        const uint32_t length = tag_length(type);
        if (length == 0) {
            return {false, 0, 0};
        }
        skip += length;
        if (link_header_len + skip > MAX_PACKET_OFFSET || caplen < link_header_len + skip) {
            return {false, 0, 0};
        }
        type_offset = link_header_len + skip - 2;
    }
}
