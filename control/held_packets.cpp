// The road of every packet from the loop to its output, holding a few at a time where that pays.
//
// In the default mode a trace with many pairs is bound by memory latency:
// every new or rarely seen pair misses the cache in the pair table. So the
// loop holds a few packets (copied, as the library reuses its buffer), starts
// the table reads for all of them, and then places and writes them in order.
// Outputs and counts are exactly those of placing one packet at a time. A
// packet is held only when placement waits on memory, and only when it fits;
// otherwise what is held is written first, and the packet then at once.
#include "classify/classify.h"
#include "control/control.h"
#include "dissect/dissect.h"

#include <cstring>

namespace {

constexpr size_t HELD_PACKETS_MAX = 32;
constexpr size_t HELD_BYTES_MAX = 64 * 1024;

struct held_packet {
    pcap_pkthdr header;
    size_t offset;  // of its bytes in held_bytes
    bool placed;
    pair_placement pair;  // when placed
};

std::array<held_packet, HELD_PACKETS_MAX> held_packets;
std::array<u_char, HELD_BYTES_MAX> held_bytes;
size_t held_count = 0;
size_t held_bytes_used = 0;

// The first half of the road: the pair key, and the table read started.
bool find_pair(packet_bytes packet, pair_placement &pair) {
    endpoint source{};
    endpoint destination{};
    if (!get_pair_key(packet, source, destination)) {
        return false;
    }
    pair = prepare_pair(source, destination);
    return true;
}

// The second half: the output, and the write.
void place_and_write(bool placed, const pair_placement &pair, const pcap_pkthdr *header, const u_char *data) {
    write_packet(placed ? place_pair(pair) : UNPLACED, header, data);
}

}  // namespace

void deal_held_packets() {
    for (size_t i = 0; i < held_count; ++i) {
        if (held_packets[i].placed) {
            prefetch_pair(held_packets[i].pair);
        }
    }
    for (size_t i = 0; i < held_count; ++i) {
        const held_packet &p = held_packets[i];
        place_and_write(p.placed, p.pair, &p.header, held_bytes.data() + p.offset);
    }
    held_count = 0;
    held_bytes_used = 0;
}

void deal_packet(const pcap_pkthdr *header, const u_char *data) {
    const size_t caplen = header->caplen;
    if (held_count == HELD_PACKETS_MAX || HELD_BYTES_MAX - held_bytes_used < caplen) {
        deal_held_packets();
    }
    if (!placement_waits_on_memory() || caplen > HELD_BYTES_MAX) {  // from the library's buffer, at once
        pair_placement pair;
        const bool placed = find_pair(packet_bytes(data, caplen), pair);
        place_and_write(placed, pair, header, data);
        return;
    }
    held_packet &p = held_packets[held_count++];
    p.header = *header;
    p.offset = held_bytes_used;
    // A record of no bytes may come when the buffer is exactly full: its place
    // is then the buffer's end, which must not be indexed.
    const packet_bytes held = packet_bytes(held_bytes).subspan(p.offset, caplen);
    if (caplen != 0) {
        std::memcpy(held_bytes.data() + p.offset, data, caplen);
    }
    held_bytes_used += caplen;
    p.placed = find_pair(held, p.pair);
}
