#include "support/traces.h"

#include <arpa/inet.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <gtest/gtest.h>
#include <pcap/pcap.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

bool operator==(const test_packet &a, const test_packet &b) {
    const uint32_t alen = a.len != 0 ? a.len : static_cast<uint32_t>(a.bytes.size());
    const uint32_t blen = b.len != 0 ? b.len : static_cast<uint32_t>(b.bytes.size());
    return a.seconds == b.seconds && a.micros == b.micros && alen == blen && a.bytes == b.bytes;
}

namespace {

void put_le32(std::vector<uint8_t> &out, uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        out.push_back(static_cast<uint8_t>(v >> (8 * i)));
    }
}

std::vector<uint8_t> address_bytes(const std::string &text) {
    std::vector<uint8_t> out(16);
    if (text.find(':') != std::string::npos) {
        EXPECT_EQ(inet_pton(AF_INET6, text.c_str(), out.data()), 1) << text;
    } else {
        EXPECT_EQ(inet_pton(AF_INET, text.c_str(), out.data()), 1) << text;
        out.resize(4);
    }
    return out;
}

}  // namespace

std::vector<uint8_t> savefile_bytes(const std::vector<test_packet> &packets, uint32_t linktype, uint32_t snaplen,
                                    bool nanoseconds) {
    std::vector<uint8_t> out;
    put_le32(out, nanoseconds ? 0xa1b23c4d : 0xa1b2c3d4);
    out.insert(out.end(), {2, 0, 4, 0});
    put_le32(out, 0);
    put_le32(out, 0);
    put_le32(out, snaplen);
    put_le32(out, linktype);
    for (const test_packet &p : packets) {
        put_le32(out, p.seconds);
        put_le32(out, p.micros);
        put_le32(out, static_cast<uint32_t>(p.bytes.size()));
        put_le32(out, p.len != 0 ? p.len : static_cast<uint32_t>(p.bytes.size()));
        out.insert(out.end(), p.bytes.begin(), p.bytes.end());
    }
    return out;
}

void write_file(const std::string &path, const std::vector<uint8_t> &bytes) {
    std::ofstream f(path, std::ios::binary);
    f.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(f.good()) << path;
}

void write_trace(const std::string &path, const std::vector<test_packet> &packets, uint32_t linktype) {
    write_file(path, savefile_bytes(packets, linktype));
}

std::vector<uint8_t> read_file(const std::string &path) {
    std::ifstream f(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

read_result read_trace(const std::string &path, bool nanoseconds) {
    read_result result;
    char errbuf[PCAP_ERRBUF_SIZE];
    pcap_t *p = pcap_open_offline_with_tstamp_precision(
        path.c_str(), nanoseconds ? PCAP_TSTAMP_PRECISION_NANO : PCAP_TSTAMP_PRECISION_MICRO, errbuf);
    EXPECT_NE(p, nullptr) << path << ": " << errbuf;
    if (p == nullptr) {
        return result;
    }
    result.linktype = pcap_datalink(p);
    pcap_pkthdr *h;
    const u_char *data;
    int status;
    while ((status = pcap_next_ex(p, &h, &data)) == 1) {
        test_packet t;
        t.seconds = static_cast<uint32_t>(h->ts.tv_sec);
        t.micros = static_cast<uint32_t>(h->ts.tv_usec);
        t.len = h->len;
        t.bytes.assign(data, data + h->caplen);
        result.packets.push_back(std::move(t));
    }
    result.read_error = status != PCAP_ERROR_BREAK;
    pcap_close(p);
    return result;
}

std::vector<uint8_t> pcapng_bytes(const std::vector<test_packet> &packets, int decimals, uint32_t linktype) {
    std::vector<uint8_t> out;
    const auto u32 = [&](uint32_t v) { put_le32(out, v); };
    u32(0x0A0D0D0A), u32(28), u32(0x1A2B3C4D), u32(0x00000001), u32(0xFFFFFFFF), u32(0xFFFFFFFF), u32(28);
    if (decimals == 6) {
        u32(1), u32(20), u32(linktype), u32(65535), u32(20);
    } else {  // if_tsresol (9), one byte, padded; then the end of options
        u32(1), u32(32), u32(linktype), u32(65535), u32(9 | 1 << 16), u32(static_cast<uint32_t>(decimals)), u32(0);
        u32(32);
    }
    uint64_t units = 1;
    for (int i = 0; i < decimals; ++i) {
        units *= 10;
    }
    for (const test_packet &p : packets) {
        const uint32_t padded = (static_cast<uint32_t>(p.bytes.size()) + 3) & ~3u;
        const uint64_t stamp = uint64_t{p.seconds} * units + p.micros;
        u32(6), u32(32 + padded), u32(0), u32(static_cast<uint32_t>(stamp >> 32)), u32(static_cast<uint32_t>(stamp));
        u32(static_cast<uint32_t>(p.bytes.size())), u32(p.len != 0 ? p.len : static_cast<uint32_t>(p.bytes.size()));
        out.insert(out.end(), p.bytes.begin(), p.bytes.end());
        out.resize(out.size() + padded - p.bytes.size(), 0);
        u32(32 + padded);
    }
    return out;
}

fifo_feeder::fifo_feeder(const std::string &fifo_path, const std::vector<uint8_t> &bytes) : path(fifo_path) {
    EXPECT_EQ(mkfifo(path.c_str(), 0600), 0) << path;
    pid = fork();
    if (pid == 0) {
        FILE *f = std::fopen(path.c_str(), "wb");
        if (f != nullptr) {
            std::fwrite(bytes.data(), 1, bytes.size(), f);
            std::fclose(f);
        }
        _exit(0);
    }
}

void fifo_feeder::wait() {
    if (pid > 0) {
        waitpid(pid, nullptr, 0);
        pid = -1;
    }
}

std::vector<uint8_t> be16(uint16_t value) {
    return {static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
}

std::vector<uint8_t> concat(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> out;
    for (const auto &p : parts) {
        out.insert(out.end(), p.begin(), p.end());
    }
    return out;
}

std::vector<uint8_t> ipv4_header(const std::string &source, const std::string &destination, uint8_t protocol,
                                 uint8_t ihl) {
    std::vector<uint8_t> h(20);
    h[0] = static_cast<uint8_t>(0x40 | ihl);
    h[8] = 64;
    h[9] = protocol;
    const auto s = address_bytes(source);
    const auto d = address_bytes(destination);
    std::copy(s.begin(), s.end(), h.begin() + 12);
    std::copy(d.begin(), d.end(), h.begin() + 16);
    return h;
}

std::vector<uint8_t> ipv6_header(const std::string &source, const std::string &destination, uint8_t next_header) {
    std::vector<uint8_t> h(40);
    h[0] = 0x60;
    h[6] = next_header;
    h[7] = 64;
    const auto s = address_bytes(source);
    const auto d = address_bytes(destination);
    std::copy(s.begin(), s.end(), h.begin() + 8);
    std::copy(d.begin(), d.end(), h.begin() + 24);
    return h;
}

std::vector<uint8_t> tcp_header(uint16_t source_port, uint16_t destination_port) {
    std::vector<uint8_t> h(20);
    h[0] = static_cast<uint8_t>(source_port >> 8);
    h[1] = static_cast<uint8_t>(source_port);
    h[2] = static_cast<uint8_t>(destination_port >> 8);
    h[3] = static_cast<uint8_t>(destination_port);
    h[12] = 0x50;
    return h;
}

std::vector<uint8_t> ethernet(uint16_t type, const std::vector<uint8_t> &payload) {
    std::vector<uint8_t> f = {0, 1, 2, 3, 4, 5, 0, 1, 2, 3, 4, 6};
    const auto t = be16(type);
    f.insert(f.end(), t.begin(), t.end());
    f.insert(f.end(), payload.begin(), payload.end());
    return f;
}

std::vector<uint8_t> link_frame(int datalink, const std::vector<uint8_t> &ip) {
    const bool v4 = !ip.empty() && ip[0] >> 4 == 4;
    const uint16_t ethertype = v4 ? 0x0800 : 0x86DD;
    switch (datalink) {
    case DLT_RAW:
    case DLT_IPV4:
    case DLT_IPV6:
        return ip;
    case DLT_NULL:  // captured on a little-endian host; 28 is FreeBSD's AF_INET6
        return concat({{static_cast<uint8_t>(v4 ? 2 : 28), 0, 0, 0}, ip});
    case DLT_LOOP:
        return concat({{0, 0, 0, static_cast<uint8_t>(v4 ? 2 : 24)}, ip});
    case DLT_PPP:
    case DLT_PPP_SERIAL:
        return concat({{0xFF, 0x03}, be16(v4 ? 0x0021 : 0x0057), ip});
    case DLT_C_HDLC:
        return concat({{0x0F, 0x00}, be16(ethertype), ip});
    case DLT_LINUX_SLL:
        return concat({std::vector<uint8_t>(14, 0x01), be16(ethertype), ip});
    case DLT_LINUX_SLL2:
        return concat({be16(ethertype), std::vector<uint8_t>(18, 0x02), ip});
    default:
        return ethernet(ethertype, ip);
    }
}

test_packet tcp4(const std::string &source, uint16_t sport, const std::string &destination, uint16_t dport) {
    return {0, 0, 0, ethernet(0x0800, concat({ipv4_header(source, destination, 6), tcp_header(sport, dport)}))};
}

test_packet udp4(const std::string &source, const std::string &destination) {
    return {0, 0, 0, ethernet(0x0800, concat({ipv4_header(source, destination, 17), std::vector<uint8_t>(8)}))};
}

test_packet tcp6(const std::string &source, uint16_t sport, const std::string &destination, uint16_t dport) {
    return {0, 0, 0, ethernet(0x86DD, concat({ipv6_header(source, destination, 6), tcp_header(sport, dport)}))};
}

test_packet arp_frame() {
    return {0, 0, 0, ethernet(0x0806, std::vector<uint8_t>(28, 1))};
}

scratch_dir::scratch_dir() {
    char pattern[] = "/tmp/flowdeal-test-XXXXXX";
    const char *made = mkdtemp(pattern);
    EXPECT_NE(made, nullptr);
    path = made != nullptr ? made : "/tmp";
}

scratch_dir::~scratch_dir() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}
