// Feeds arbitrary packets, under arbitrary settings, through the whole
// placement path: header walk, key extraction and classification.
//
// Input: four setting bytes, then packets, each a 16-bit little-endian
// length and that many bytes (the last one takes what is left).
//   byte 0: bit 0 cooked v2 link header, bit 1 ports off, bit 2 "-d",
//           bit 3 use the loop's prefetching lookup instead of classify_pair
//   byte 1: IPv4 prefix bytes (mod 5), byte 2: IPv6 prefix bytes (mod 17)
//   byte 3: number of outputs - 1
#include "classify/classify.h"
#include "control/control.h"

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

void apply_settings(const uint8_t *data) {
    choose_link_layout(data[0] & 1 ? 276 : 1);  // cooked v2 or Ethernet
    use_ports = (data[0] & 2) ? 0 : 1;
    deterministic = (data[0] & 4) ? 1 : 0;
    v4_prefix_bytes = data[1] % 5;
    v6_prefix_bytes = data[2] % 17;
    num_files = static_cast<uint16_t>(data[3] + 1);
    for (output_file &f : output_files) {
        f.packets = 0;
    }
    clear_pair_table();
}

int place_one(const uint8_t *bytes, size_t caplen, bool staged) {
    // An exact-size copy, so that any read past caplen is caught.
    std::vector<uint8_t> packet(bytes, bytes + caplen);
    const packet_bytes view(packet.data(), packet.size());
    if (!staged || deterministic) {
        return place_packet(view);
    }
    endpoint source{}, destination{};
    if (!get_pair_key(view, source, destination)) {
        return -1;
    }
    const uint32_t hash = pair_key_hash(source, destination);
    prefetch_pair_slot(hash);
    prefetch_pair_entry(hash);
    return pair_table_lookup_hashed(source, destination, hash);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 4) {
        return 0;
    }
    apply_settings(data);
    const bool staged = data[0] & 8;
    size_t at = 4;
    while (at < size) {
        size_t length = size - at;
        if (length >= 2) {
            length = std::min<size_t>(data[at] | data[at + 1] << 8, size - at - 2);
            at += 2;
        }
        const int k = place_one(data + at, length, staged);
        if (k >= num_files) {
            std::abort();
        }
        if (k >= 0) {
            ++output_files[k].packets;
        }
        at += length;
    }
    return 0;
}
