// Opens the input trace at the timestamp precision its first bytes name, from a file or a pipe.
//
// libpcap hands out microsecond timestamps unless asked for more, which would
// drop the last three digits of every timestamp of a nanosecond capture. So the
// input's first four bytes are read before libpcap sees them, the precision
// they name is asked for, and the bytes are given back: by seeking where the
// input can seek, and through a stream that replays them first where it cannot
// (a pipe, a FIFO, a terminal).
#include "control/control.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

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

pcap_t *open_input_trace() {
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
    pcap_t *trace = pcap_fopen_offline_with_tstamp_precision(stream, precision_of(replay.head, replay.head_length),
                                                             errbuf);
    if (trace == nullptr) {
        fatal("error opening tracefile %s: %s\n", readfile, errbuf);
    }
    return trace;
}
