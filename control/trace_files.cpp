// The run's one pass: open the traces, place and write every packet, close.
#include "classify/classify.h"
#include "control/control.h"
#include "dissect/dissect.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

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

void refuse_input_as_output(const char *name) {
    struct stat st{};
    if (input_is_file && stat(name, &st) == 0 && st.st_dev == input_device && st.st_ino == input_inode) {
        fatal("cannot open %s for writing: it is the input trace\n", name);
    }
}

pcap_dumper_t *create_output(int index) {
    const char *name = format_output_name(index);
    refuse_input_as_output(name);
    FILE *file = std::fopen(name, "wb");
    if (file == nullptr) {
        fatal("cannot open %s for writing: %s\n", name, std::strerror(errno));
    }
    pcap_dumper_t *dumper = pcap_dump_fopen(input_trace, file);
    if (dumper == nullptr) {
        fatal("cannot open %s for writing: %s\n", name, pcap_geterr(input_trace));
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

// The dumper's own close returns nothing, so the stream is flushed and closed
// here: an error that shows only then (a quota, a late I/O error) is not lost.
// Returns 0, or the error number of the first failure.
int close_output(FILE *stream) {
    errno = 0;
    const bool written = std::fflush(stream) == 0 && !ferror(stream);
    int error = written ? 0 : (errno != 0 ? errno : EIO);
    errno = 0;
    if (std::fclose(stream) != 0 && error == 0) {
        error = errno != 0 ? errno : EIO;
    }
    return error;
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
    table_key key;
    bool placed;
};

std::array<held_packet, HELD_PACKETS_MAX> held_packets;
std::array<u_char, HELD_BYTES_MAX> held_bytes;
size_t held_count = 0;
size_t held_bytes_used = 0;

void write_held_packets() {
    for (size_t i = 0; i < held_count; ++i) {
        if (held_packets[i].placed) {
            prefetch_pair_entry(held_packets[i].key);
        }
    }
    for (size_t i = 0; i < held_count; ++i) {
        const held_packet &p = held_packets[i];
        const int k = p.placed ? pair_table_lookup(p.key) : -1;
        write_placed_packet(k, &p.header, held_bytes.data() + p.offset);
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
    // A record of no bytes may come when the buffer is exactly full: its place
    // is then the buffer's end, which must not be indexed.
    const packet_bytes held = packet_bytes(held_bytes).subspan(p.offset, caplen);
    if (caplen != 0) {
        std::memcpy(held_bytes.data() + p.offset, data, caplen);
    }
    held_bytes_used += caplen;
    endpoint source{};
    endpoint destination{};
    p.placed = get_pair_key(held, source, destination);
    if (p.placed) {
        p.key = make_table_key(source, destination);
        prefetch_pair_slot(p.key);
    }
}

// libpcap hands out microsecond timestamps unless asked for more, which would
// drop the last three digits of every timestamp of a nanosecond capture. So the
// input's first four bytes are read before libpcap sees them, the precision
// they name is asked for, and the bytes are given back: by seeking where the
// input can seek, and through a stream that replays them first where it cannot
// (a pipe, a FIFO, a terminal).
constexpr size_t MAGIC_BYTES = 4;

struct replayed_input {
    int fd;
    uint8_t head[MAGIC_BYTES];
    size_t head_length;
    size_t head_given;
};

replayed_input replay{-1, {}, 0, 0};

ssize_t read_replayed(void *cookie, char *buffer, size_t size) {
    auto *r = static_cast<replayed_input *>(cookie);
    if (r->head_given < r->head_length) {
        const size_t n = std::min(size, r->head_length - r->head_given);
        std::memcpy(buffer, r->head + r->head_given, n);
        r->head_given += n;
        return static_cast<ssize_t>(n);
    }
    ssize_t got;
    do {
        got = read(r->fd, buffer, size);
    } while (got < 0 && errno == EINTR);
    return got;
}

int close_replayed(void *cookie) {
    return close(static_cast<replayed_input *>(cookie)->fd);
}

size_t read_head(int fd, uint8_t *head) {
    size_t got = 0;
    while (got < MAGIC_BYTES) {
        const ssize_t n = read(fd, head + got, MAGIC_BYTES - got);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;  // a read error shows again when libpcap reads on
        }
        got += static_cast<size_t>(n);
    }
    return got;
}

// Nanosecond pcap files keep their precision; pcapng is read at nanoseconds so
// that no interface's resolution loses a digit. Everything else: microseconds.
int precision_of(const uint8_t *head, size_t length) {
    constexpr uint8_t NANO_MAGIC_BIG[4] = {0xa1, 0xb2, 0x3c, 0x4d};
    constexpr uint8_t NANO_MAGIC_LITTLE[4] = {0x4d, 0x3c, 0xb2, 0xa1};
    constexpr uint8_t PCAPNG_SECTION[4] = {0x0a, 0x0d, 0x0d, 0x0a};
    if (length == MAGIC_BYTES && (std::memcmp(head, NANO_MAGIC_BIG, 4) == 0 ||
                                  std::memcmp(head, NANO_MAGIC_LITTLE, 4) == 0 ||
                                  std::memcmp(head, PCAPNG_SECTION, 4) == 0)) {
        return PCAP_TSTAMP_PRECISION_NANO;
    }
    return PCAP_TSTAMP_PRECISION_MICRO;
}

void note_input_identity(int fd) {
    struct stat st{};
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        input_is_file = true;
        input_device = st.st_dev;
        input_inode = st.st_ino;
    }
}

// The input as a stream positioned at its first byte, its head already read.
FILE *input_stream(int fd, replayed_input &r) {
    if (lseek(fd, -static_cast<off_t>(r.head_length), SEEK_CUR) != -1) {
        return fdopen(fd, "rb");
    }
    r.fd = fd;
    r.head_given = 0;
    return fopencookie(&r, "rb", cookie_io_functions_t{read_replayed, nullptr, nullptr, close_replayed});
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

void deal_packet(const pcap_pkthdr *header, const u_char *data) {
    if (deterministic) {
        write_placed_packet(place_packet(packet_bytes(data, header->caplen)), header, data);
    } else {
        hold_packet(header, data);
    }
}

void deal_held_packets() {
    write_held_packets();
}

void open_trace_files() {
    const bool from_stdin = std::strcmp(readfile, "-") == 0;
    const int fd = from_stdin ? STDIN_FILENO : open(readfile, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        fatal("error opening tracefile %s: %s: %s\n", readfile, readfile, std::strerror(errno));
    }
    note_input_identity(fd);
    replay.head_length = read_head(fd, replay.head);
    FILE *stream = input_stream(fd, replay);
    if (stream == nullptr) {
        fatal("error opening tracefile %s: %s: %s\n", readfile, readfile, std::strerror(errno));
    }
    char errbuf[PCAP_ERRBUF_SIZE] = "";
    input_trace = pcap_fopen_offline_with_tstamp_precision(stream, precision_of(replay.head, replay.head_length),
                                                           errbuf);
    if (input_trace == nullptr) {
        fatal("error opening tracefile %s: %s\n", readfile, errbuf);
    }
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
        deal_packet(header, data);
    }
    deal_held_packets();
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
    // Every output is closed, so all but a failing one are complete; the
    // first failure is reported after.
    int failed_index = 0;
    int failure = 0;
    for (int i = 0; i < num_files; ++i) {
        const int error = close_output(output_files[i].stream);
        if (error != 0 && failure == 0) {
            failed_index = i;
            failure = error;
        }
    }
    const int error = close_output(weird_stream);
    if (error != 0 && failure == 0) {
        failed_index = WEIRD_INDEX;
        failure = error;
    }
    if (failure != 0) {
        report_write_error(failed_index, failure);
    }
}
