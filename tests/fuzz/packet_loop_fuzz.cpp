// Feeds arbitrary records, under arbitrary settings, through the packet loop's
// own body: the held-packet buffering, the header walk, the key, the
// classification and the writes (to /dev/null). Then checks that the outputs'
// counts are those of placing the same records one at a time.
//
// Input: four setting bytes, then records, each a 24-bit little-endian caplen
// (below 3 * 65536), a 16-bit count of bytes given, and those bytes; a record
// is filled up to its caplen by repeating them, so small inputs make big records.
//   byte 0: bits 0-3 link layout, bit 4 ports off, bit 5 "-d"
//   byte 1: IPv4 prefix bytes (mod 5), byte 2: IPv6 prefix bytes (mod 17)
//   byte 3: number of outputs - 1
#include "classify/classify.h"
#include "control/control.h"

#include <pcap/pcap.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr std::array<int, 12> LAYOUTS = {DLT_EN10MB, DLT_LINUX_SLL2, DLT_LINUX_SLL, DLT_C_HDLC, DLT_RAW,
                                         DLT_IPV4,   DLT_IPV6,       DLT_NULL,      DLT_LOOP,   DLT_PPP,
                                         DLT_PPP_SERIAL, DLT_IEEE802_11};
constexpr uint32_t MAX_RECORD = 3 * 65536;

struct record {
    pcap_pkthdr header;
    std::vector<uint8_t> bytes;
};

pcap_t *dead = nullptr;  // the outputs' handle, kept for the whole run

void open_null_outputs() {
    if (dead != nullptr) {
        return;
    }
    dead = pcap_open_dead(DLT_EN10MB, 262144);
    for (output_file &f : output_files) {
        f.dumper = pcap_dump_fopen(dead, std::fopen("/dev/null", "wb"));
        f.stream = pcap_dump_file(f.dumper);
    }
    weird_file = pcap_dump_fopen(dead, std::fopen("/dev/null", "wb"));
    weird_stream = pcap_dump_file(weird_file);
}

void reset_run() {
    for (output_file &f : output_files) {
        f.packets = 0;
    }
    clear_pair_table();
}

void apply_settings(const uint8_t *data) {
    choose_link_layout(LAYOUTS[(data[0] & 0x0F) % LAYOUTS.size()]);
    use_ports = (data[0] & 0x10) ? 0 : 1;
    deterministic = (data[0] & 0x20) ? 1 : 0;
    v4_prefix_bytes = data[1] % 5;
    v6_prefix_bytes = data[2] % 17;
    num_files = static_cast<uint16_t>(data[3] + 1);
}

std::vector<record> read_records(const uint8_t *data, size_t size) {
    std::vector<record> records;
    size_t at = 0;
    while (at + 5 <= size) {
        const uint32_t caplen = (data[at] | data[at + 1] << 8 | data[at + 2] << 16) % MAX_RECORD;
        const size_t given = std::min<size_t>({caplen, size - at - 5, size_t{data[at + 3]} | size_t{data[at + 4]} << 8});
        at += 5;
        record r{};
        r.header.ts.tv_sec = static_cast<time_t>(records.size());
        r.header.caplen = caplen;
        r.header.len = caplen;
        r.bytes.resize(caplen);
        for (size_t i = 0; i < caplen && given > 0; ++i) {
            r.bytes[i] = data[at + i % given];
        }
        at += given;
        records.push_back(std::move(r));
    }
    return records;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 4) {
        return 0;
    }
    open_null_outputs();
    apply_settings(data);
    // Each record in a buffer of exactly its size, so any read past caplen is caught.
    const std::vector<record> records = read_records(data + 4, size - 4);

    reset_run();
    for (const record &r : records) {
        std::vector<uint8_t> exact(r.bytes);
        deal_packet(&r.header, exact.data());
    }
    deal_held_packets();
    std::array<uint64_t, MAX_OUTPUT_FILES> dealt{};
    uint64_t placed = 0;
    for (int i = 0; i < MAX_OUTPUT_FILES; ++i) {
        dealt[i] = output_files[i].packets;
        placed += dealt[i];
        if (i >= num_files && dealt[i] != 0) {
            std::abort();
        }
    }
    if (placed > records.size()) {
        std::abort();
    }

    // The same records one at a time, without holding: the same counts.
    reset_run();
    for (const record &r : records) {
        const std::vector<uint8_t> exact(r.bytes);
        endpoint source{}, destination{};
        if (get_pair_key(packet_bytes(exact.data(), exact.size()), source, destination)) {
            const uint16_t k = classify_pair(source, destination);
            if (k >= num_files) {
                std::abort();
            }
            ++output_files[k].packets;
        }
    }
    for (int i = 0; i < MAX_OUTPUT_FILES; ++i) {
        if (output_files[i].packets != dealt[i]) {
            std::abort();
        }
    }
    return 0;
}
