// Small traces written and read by the tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct test_packet {
    uint32_t seconds = 0;
    uint32_t micros = 0;
    uint32_t len = 0;  // on the wire; 0 means the size of bytes
    std::vector<uint8_t> bytes;  // captured bytes: caplen is their size
};

bool operator==(const test_packet &a, const test_packet &b);

// Writes a savefile byte by byte, so tests can also cut it anywhere.
// With nanoseconds set, the file has the nanosecond magic and `micros` holds nanoseconds.
std::vector<uint8_t> savefile_bytes(const std::vector<test_packet> &packets, uint32_t linktype = 1,
                                    uint32_t snaplen = 65535, bool nanoseconds = false);
void write_file(const std::string &path, const std::vector<uint8_t> &bytes);
void write_trace(const std::string &path, const std::vector<test_packet> &packets, uint32_t linktype = 1);
std::vector<uint8_t> read_file(const std::string &path);

// A pcapng file: one section, one interface of the given link type whose
// timestamps count 10^-`decimals` seconds (an if_tsresol option unless 6),
// and one enhanced packet block a packet; `micros` holds the fraction in those units.
std::vector<uint8_t> pcapng_bytes(const std::vector<test_packet> &packets, int decimals = 6, uint32_t linktype = 1);

// Reads a trace through libpcap; fails the test when it cannot be opened.
// With nanoseconds set, `micros` of each packet holds nanoseconds.
struct read_result {
    std::vector<test_packet> packets;
    int linktype = -1;
    bool read_error = false;
};
read_result read_trace(const std::string &path, bool nanoseconds = false);

// Writes bytes into a new FIFO from a child process; wait() reaps it.
struct fifo_feeder {
    std::string path;
    int pid = -1;
    fifo_feeder(const std::string &path, const std::vector<uint8_t> &bytes);
    void wait();
    ~fifo_feeder() { wait(); }
};

// Frame builders. Addresses are given as text ("10.0.0.1", "2001:db8::1").
std::vector<uint8_t> ipv4_header(const std::string &source, const std::string &destination, uint8_t protocol,
                                 uint8_t ihl = 5);
std::vector<uint8_t> ipv6_header(const std::string &source, const std::string &destination, uint8_t next_header);
std::vector<uint8_t> tcp_header(uint16_t source_port, uint16_t destination_port);
std::vector<uint8_t> ethernet(uint16_t type, const std::vector<uint8_t> &payload);
// An IP packet (IPv4 when its first nibble is 4, else IPv6) behind the link
// header of a libpcap DLT_ value, as a capture of that link type holds it.
std::vector<uint8_t> link_frame(int datalink, const std::vector<uint8_t> &ip);
std::vector<uint8_t> concat(std::initializer_list<std::vector<uint8_t>> parts);
std::vector<uint8_t> be16(uint16_t value);

test_packet tcp4(const std::string &source, uint16_t sport, const std::string &destination, uint16_t dport);
test_packet udp4(const std::string &source, const std::string &destination);
test_packet tcp6(const std::string &source, uint16_t sport, const std::string &destination, uint16_t dport);
test_packet arp_frame();

// A scratch directory removed when the test ends.
struct scratch_dir {
    std::string path;
    scratch_dir();
    ~scratch_dir();
    std::string operator/(const std::string &name) const { return path + "/" + name; }
};
