// The run's one pass: open the traces, place and write every packet, close.
#include "classify/classify.h"
#include "control/control.h"
#include "dissect/dissect.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

pcap_t *input_trace = nullptr;
std::array<output_file, MAX_OUTPUT_FILES> output_files{};
pcap_dumper_t *weird_file = nullptr;
FILE *weird_stream = nullptr;

namespace {

constexpr int WEIRD_INDEX = -1;

char *output_name = nullptr;  // names are formatted here, one at a time
size_t output_name_size = 0;

// The input's file identity, so that no output can overwrite it.
bool input_is_file = false;
dev_t input_device = 0;
ino_t input_inode = 0;

// writespec holds exactly one "%d" (checked by the command line); it is
// replaced by the output's number, or by "weird" for the unclassified output.
const char *format_output_name(int index) {
    const char *percent = std::strchr(writespec, '%');
    const int prefix_len = static_cast<int>(percent - writespec);
    if (index == WEIRD_INDEX) {
        std::snprintf(output_name, output_name_size, "%.*s%s%s", prefix_len, writespec, "weird", percent + 2);
    } else {
        std::snprintf(output_name, output_name_size, "%.*s%d%s", prefix_len, writespec, index, percent + 2);
    }
    return output_name;
}

void note_input_identity() {
    struct stat st{};
    FILE *stream = pcap_file(input_trace);
    if (stream != nullptr && fstat(fileno(stream), &st) == 0 && S_ISREG(st.st_mode)) {
        input_is_file = true;
        input_device = st.st_dev;
        input_inode = st.st_ino;
    }
}

void refuse_input_as_output(const char *name) {
    struct stat st{};
    if (input_is_file && stat(name, &st) == 0 && st.st_dev == input_device && st.st_ino == input_inode) {
        fatal("cannot open %s for writing: it is the input trace\n", name);
    }
}

pcap_dumper_t *create_output(int index) {
    const char *name = format_output_name(index);
    refuse_input_as_output(name);
    pcap_dumper_t *dumper = pcap_dump_open(input_trace, name);
    if (dumper == nullptr) {
        fatal("cannot open %s for writing\n", name);
    }
    return dumper;
}

[[noreturn]] void report_write_error(int index, int error) {
    fatal("error writing %s: %s\n", format_output_name(index), std::strerror(error));
}

void write_packet(pcap_dumper_t *dumper, FILE *stream, int index, const pcap_pkthdr *header, const u_char *data) {
    pcap_dump(reinterpret_cast<u_char *>(dumper), header, data);
    // The stream's error flag is sticky and costs one load to test, so a full
    // disk stops the run at once instead of after reading the whole input.
    if (ferror_unlocked(stream)) {
        report_write_error(index, errno);
    }
}

void close_output(pcap_dumper_t *dumper, FILE *stream, int index) {
    errno = 0;
    if (pcap_dump_flush(dumper) != 0 || ferror(stream)) {
        report_write_error(index, errno != 0 ? errno : EIO);
    }
    pcap_dump_close(dumper);
}

void write_placed_packet(int k, const pcap_pkthdr *header, const u_char *data) {
    if (k < 0) {
        write_packet(weird_file, weird_stream, WEIRD_INDEX, header, data);
    } else {
        write_packet(output_files[k].dumper, output_files[k].stream, k, header, data);
        ++output_files[k].packets;  // before the next pair is given an output
    }
}

// In the default mode a trace with many pairs is bound by memory latency:
// every new or rarely seen pair misses the cache in the pair table. So the
// loop holds a few packets (copied, as the library reuses its buffer), starts
// the table reads for all of them, and then places and writes them in order.
// Outputs and counts are exactly those of placing one packet at a time.
constexpr size_t HELD_PACKETS_MAX = 32;
constexpr size_t HELD_BYTES_MAX = 64 * 1024;

struct held_packet {
    pcap_pkthdr header;
    size_t offset;  // of its bytes in held_bytes
    endpoint source;
    endpoint destination;
    uint32_t hash;
    bool placed;
};

std::array<held_packet, HELD_PACKETS_MAX> held_packets;
std::array<u_char, HELD_BYTES_MAX> held_bytes;
size_t held_count = 0;
size_t held_bytes_used = 0;

void write_held_packets() {
    for (size_t i = 0; i < held_count; ++i) {
        if (held_packets[i].placed) {
            prefetch_pair_entry(held_packets[i].hash);
        }
    }
    for (size_t i = 0; i < held_count; ++i) {
        const held_packet &p = held_packets[i];
        const int k = p.placed ? pair_table_lookup_hashed(p.source, p.destination, p.hash) : -1;
        write_placed_packet(k, &p.header, &held_bytes[p.offset]);
    }
    held_count = 0;
    held_bytes_used = 0;
}

void hold_packet(const pcap_pkthdr *header, const u_char *data) {
    const size_t caplen = header->caplen;
    if (held_count == HELD_PACKETS_MAX || HELD_BYTES_MAX - held_bytes_used < caplen) {
        write_held_packets();
    }
    if (caplen > HELD_BYTES_MAX) {  // too big to hold: placed at once, from the library's buffer
        write_placed_packet(place_packet(packet_bytes(data, caplen)), header, data);
        return;
    }
    held_packet &p = held_packets[held_count++];
    p.header = *header;
    p.offset = held_bytes_used;
    std::memcpy(&held_bytes[p.offset], data, caplen);
    held_bytes_used += caplen;
    p.source = endpoint{};
    p.destination = endpoint{};
    p.placed = get_pair_key(packet_bytes(&held_bytes[p.offset], caplen), p.source, p.destination);
    if (p.placed) {
        p.hash = pair_key_hash(p.source, p.destination);
        prefetch_pair_slot(p.hash);
    }
}

// Without being asked, libpcap hands out microsecond timestamps, which would
// drop the last three digits of every timestamp of a nanosecond capture. Such
// a file is opened at its own precision, so that its outputs keep every digit.
// Only a regular file can be looked at before libpcap reads it.
int input_precision() {
    struct stat st{};
    if (std::strcmp(readfile, "-") == 0 || stat(readfile, &st) != 0 || !S_ISREG(st.st_mode)) {
        return PCAP_TSTAMP_PRECISION_MICRO;
    }
    FILE *file = std::fopen(readfile, "rb");
    if (file == nullptr) {
        return PCAP_TSTAMP_PRECISION_MICRO;
    }
    uint8_t magic[4] = {};
    const size_t got = std::fread(magic, 1, sizeof magic, file);
    std::fclose(file);
    constexpr uint8_t NANO_MAGIC_BIG[4] = {0xa1, 0xb2, 0x3c, 0x4d};
    constexpr uint8_t NANO_MAGIC_LITTLE[4] = {0x4d, 0x3c, 0xb2, 0xa1};
    const bool nano = got == sizeof magic && (std::memcmp(magic, NANO_MAGIC_BIG, 4) == 0 ||
                                              std::memcmp(magic, NANO_MAGIC_LITTLE, 4) == 0);
    return nano ? PCAP_TSTAMP_PRECISION_NANO : PCAP_TSTAMP_PRECISION_MICRO;
}

}  // namespace

int place_packet(packet_bytes packet) {
    endpoint source{};
    endpoint destination{};
    if (!get_pair_key(packet, source, destination)) {
        return -1;
    }
    return classify_pair(source, destination);
}

void open_trace_files() {
    char errbuf[PCAP_ERRBUF_SIZE] = "";
    input_trace = pcap_open_offline_with_tstamp_precision(readfile, input_precision(), errbuf);
    if (input_trace == nullptr) {
        fatal("error opening tracefile %s: %s\n", readfile, errbuf);
    }
    note_input_identity();
    output_name_size = std::strlen(writespec) + 16;
    output_name = static_cast<char *>(std::malloc(output_name_size));
    if (output_name == nullptr) {
        fatal("open_trace_files() memory allocation problem\n");
    }
    for (int i = 0; i < num_files; ++i) {
        output_files[i].dumper = create_output(i);
        output_files[i].stream = pcap_dump_file(output_files[i].dumper);
        output_files[i].packets = 0;
    }
    weird_file = create_output(WEIRD_INDEX);
    weird_stream = pcap_dump_file(weird_file);
}

void set_link_offsets() {
    choose_link_layout(pcap_datalink(input_trace));
}

void process_packets() {
    pcap_pkthdr *header = nullptr;
    const u_char *data = nullptr;
    int status;
    while ((status = pcap_next_ex(input_trace, &header, &data)) == 1) {
        if (deterministic) {
            write_placed_packet(place_packet(packet_bytes(data, header->caplen)), header, data);
        } else {
            hold_packet(header, data);
        }
    }
    write_held_packets();
    if (status != PCAP_ERROR_BREAK) {
        // Keep what was read: the outputs are completed before the error is reported.
        char reason[PCAP_ERRBUF_SIZE];
        std::snprintf(reason, sizeof reason, "%s", pcap_geterr(input_trace));
        close_trace_files();
        fatal("error reading tracefile %s: %s\n", readfile, reason);
    }
}

void close_trace_files() {
    pcap_close(input_trace);
    input_trace = nullptr;
    for (int i = 0; i < num_files; ++i) {
        close_output(output_files[i].dumper, output_files[i].stream, i);
    }
    close_output(weird_file, weird_stream, WEIRD_INDEX);
}
