// Writes a synthetic Ethernet trace for benchmarks and the demo.
//
// Flows follow a skewed size law: every flow has at least one packet and the
// rest are drawn from a Zipf law over the flows, so a few flows are huge and
// most are tiny, as on real links. Both directions of each flow appear. The
// same arguments always give the same bytes: the generator uses its own
// random numbers, not the standard library's distributions.
#include <pcap/pcap.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct trace_settings {
    uint64_t packets = 1000;
    uint64_t flows = 100;
    uint32_t snaplen = 65535;
    double ipv6_share = 0.2;
    double vlan_share = 0.1;
    double other_share = 0.0;  // non-IP frames (ARP) among all packets
    double zipf = 1.1;
    uint64_t clients = 0;  // distinct client addresses; 0: a quarter of the flows
    uint64_t servers = 4096;
    uint64_t seed = 1;
    const char *output = nullptr;
};

uint64_t rng_state = 0;

uint64_t next_random() {  // splitmix64
    uint64_t z = (rng_state += 0x9E3779B97F4A7C15u);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
    return z ^ (z >> 31);
}

uint64_t random_below(uint64_t n) {
    return static_cast<uint64_t>((static_cast<unsigned __int128>(next_random()) * n) >> 64);
}

double random_unit() {
    return static_cast<double>(next_random() >> 11) * 0x1.0p-53;
}

uint64_t mix(uint64_t x) {
    x ^= x >> 33;
    x *= 0xFF51AFD7ED558CCDu;
    x ^= x >> 33;
    x *= 0xC4CEB9FE1A85EC53u;
    return x ^ (x >> 33);
}

enum class transport : uint8_t { tcp, udp, icmp };

struct flow {
    bool ipv6;
    bool vlan;
    transport proto;
    uint32_t client;  // address seed
    uint32_t server;
    uint16_t client_port;
    uint16_t server_port;
    uint32_t sent;  // packets so far, to alternate directions
};

[[noreturn]] void usage() {
    std::fprintf(stderr,
                 "usage: make_trace [--packets N] [--flows N] [--snaplen N] [--ipv6 SHARE] [--vlan SHARE]\n"
                 "                  [--other SHARE] [--zipf S] [--clients N] [--servers N] [--seed N] output.pcap\n");
    std::exit(2);
}

trace_settings parse_arguments(int argc, char **argv) {
    trace_settings s;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool has_value = i + 1 < argc;
        if (a == "--packets" && has_value) {
            s.packets = std::strtoull(argv[++i], nullptr, 10);
        } else if (a == "--flows" && has_value) {
            s.flows = std::strtoull(argv[++i], nullptr, 10);
        } else if (a == "--snaplen" && has_value) {
            s.snaplen = static_cast<uint32_t>(std::strtoul(argv[++i], nullptr, 10));
        } else if (a == "--ipv6" && has_value) {
            s.ipv6_share = std::strtod(argv[++i], nullptr);
        } else if (a == "--vlan" && has_value) {
            s.vlan_share = std::strtod(argv[++i], nullptr);
        } else if (a == "--other" && has_value) {
            s.other_share = std::strtod(argv[++i], nullptr);
        } else if (a == "--zipf" && has_value) {
            s.zipf = std::strtod(argv[++i], nullptr);
        } else if (a == "--clients" && has_value) {
            s.clients = std::strtoull(argv[++i], nullptr, 10);
        } else if (a == "--servers" && has_value) {
            s.servers = std::strtoull(argv[++i], nullptr, 10);
        } else if (a == "--seed" && has_value) {
            s.seed = std::strtoull(argv[++i], nullptr, 10);
        } else if (s.output == nullptr && a.size() > 0 && a[0] != '-') {
            s.output = argv[i];
        } else {
            usage();
        }
    }
    if (s.output == nullptr || s.flows == 0 || s.packets < s.flows || s.snaplen < 64 || s.servers == 0) {
        usage();
    }
    return s;
}

std::vector<flow> make_flows(const trace_settings &s) {
    static constexpr uint16_t server_ports[] = {80, 443, 443, 443, 22, 25, 53, 8080, 993, 3306};
    std::vector<flow> flows(s.flows);
    for (uint64_t i = 0; i < s.flows; ++i) {
        flow &f = flows[i];
        f.ipv6 = random_unit() < s.ipv6_share;
        f.vlan = random_unit() < s.vlan_share;
        const double kind = random_unit();
        f.proto = kind < 0.85 ? transport::tcp : kind < 0.97 ? transport::udp : transport::icmp;
        // Clients are many, servers few, as addresses cluster on real links.
        f.client = static_cast<uint32_t>(random_below(s.clients != 0 ? s.clients : s.flows / 4 + 16));
        f.server = static_cast<uint32_t>(random_below(s.servers));
        f.client_port = static_cast<uint16_t>(1024 + random_below(64512));
        f.server_port = server_ports[random_below(std::size(server_ports))];
        f.sent = 0;
    }
    return flows;
}

// Which flow each packet belongs to, in time order: one packet for every flow,
// the rest by the Zipf law, then shuffled.
std::vector<uint32_t> make_schedule(const trace_settings &s) {
    std::vector<double> cumulative(s.flows);
    double total = 0;
    for (uint64_t i = 0; i < s.flows; ++i) {
        total += 1.0 / std::pow(static_cast<double>(i + 1), s.zipf);
        cumulative[i] = total;
    }
    std::vector<uint32_t> schedule(s.packets);
    for (uint64_t i = 0; i < s.flows; ++i) {
        schedule[i] = static_cast<uint32_t>(i);
    }
    for (uint64_t i = s.flows; i < s.packets; ++i) {
        const double x = random_unit() * total;
        const auto it = std::lower_bound(cumulative.begin(), cumulative.end(), x);
        schedule[i] = static_cast<uint32_t>(std::min<uint64_t>(it - cumulative.begin(), s.flows - 1));
    }
    for (uint64_t i = s.packets - 1; i > 0; --i) {
        std::swap(schedule[i], schedule[random_below(i + 1)]);
    }
    return schedule;
}

// Frame length on the wire: many small acknowledgements, some mid-size, many full.
uint32_t draw_frame_length() {
    const double x = random_unit();
    if (x < 0.40) {
        return static_cast<uint32_t>(60 + random_below(20));
    }
    if (x < 0.55) {
        return static_cast<uint32_t>(100 + random_below(500));
    }
    if (x < 0.62) {
        return static_cast<uint32_t>(600 + random_below(900));
    }
    return 1514;
}

void put16(uint8_t *p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}

void put32(uint8_t *p, uint32_t v) {
    put16(p, v >> 16);
    put16(p + 2, v);
}

void put_address(uint8_t *p, bool ipv6, bool server, uint32_t seed) {
    if (ipv6) {
        const uint64_t h = mix(seed * 2 + server);
        put32(p, 0x20010db8);
        put32(p + 4, server ? 0x00000001 : 0x00010000 | (seed >> 16));
        put32(p + 8, static_cast<uint32_t>(h >> 32));
        put32(p + 12, server ? seed : static_cast<uint32_t>(h));
    } else {
        put32(p, server ? 0xC0A80000u | (seed & 0xFFFF) : 0x0A000000u | (seed & 0xFFFFFF));
    }
}

// Builds one frame of the flow in buffer and returns its length on the wire.
uint32_t build_ip_frame(flow &f, uint8_t *frame) {
    const bool from_client = f.sent == 0 || (f.sent % 2 == 0) != (random_unit() < 0.2);
    ++f.sent;
    uint32_t length = draw_frame_length();
    std::memset(frame, 0, 1514 + 4);
    put32(frame, 0x00163e00 | (f.server & 0xff));
    put16(frame + 4, f.client);
    put32(frame + 6, 0x00163e01);
    put16(frame + 10, f.server);
    uint8_t *p = frame + 12;
    if (f.vlan) {
        put16(p, 0x8100);
        put16(p + 2, 100 + (f.server % 100));
        p += 4;
        length += 4;
    }
    const uint8_t proto = f.proto == transport::tcp ? 6 : f.proto == transport::udp ? 17 : (f.ipv6 ? 58 : 1);
    uint8_t *ip = p + 2;
    uint8_t *l4;
    const uint32_t header_end = static_cast<uint32_t>(ip - frame);
    if (f.ipv6) {
        length = std::max<uint32_t>(length, header_end + 40 + 20);
        put16(p, 0x86DD);
        put32(ip, 0x60000000);
        put16(ip + 4, length - header_end - 40);
        ip[6] = proto;
        ip[7] = 64;
        put_address(ip + 8, true, !from_client, from_client ? f.client : f.server);
        put_address(ip + 24, true, from_client, from_client ? f.server : f.client);
        l4 = ip + 40;
    } else {
        length = std::max<uint32_t>(length, header_end + 20 + 20);
        put16(p, 0x0800);
        ip[0] = 0x45;
        put16(ip + 2, length - header_end);
        ip[8] = 64;
        ip[9] = proto;
        put_address(ip + 12, false, !from_client, from_client ? f.client : f.server);
        put_address(ip + 16, false, from_client, from_client ? f.server : f.client);
        l4 = ip + 20;
    }
    if (f.proto != transport::icmp) {
        put16(l4, from_client ? f.client_port : f.server_port);
        put16(l4 + 2, from_client ? f.server_port : f.client_port);
        if (f.proto == transport::tcp) {
            put32(l4 + 4, f.sent * 1448);
            l4[12] = 0x50;
            l4[13] = 0x10;
        } else {
            put16(l4 + 4, length - static_cast<uint32_t>(l4 - frame));
        }
    } else {
        l4[0] = f.ipv6 ? (from_client ? 128 : 129) : (from_client ? 8 : 0);
    }
    return length;
}

uint32_t build_arp_frame(uint8_t *frame) {
    std::memset(frame, 0, 60);
    std::memset(frame, 0xff, 6);
    put32(frame + 6, 0x00163e02);
    put16(frame + 12, 0x0806);
    put16(frame + 14, 1);
    put16(frame + 16, 0x0800);
    frame[18] = 6;
    frame[19] = 4;
    put16(frame + 20, 1);
    put32(frame + 28, 0x0A000000u | static_cast<uint32_t>(random_below(256)));
    put32(frame + 38, 0x0A000000u | static_cast<uint32_t>(random_below(256)));
    return 60;
}

}  // namespace

int main(int argc, char **argv) {
    const trace_settings s = parse_arguments(argc, argv);
    rng_state = s.seed;
    std::vector<flow> flows = make_flows(s);
    const std::vector<uint32_t> schedule = make_schedule(s);

    pcap_t *dead = pcap_open_dead(DLT_EN10MB, static_cast<int>(s.snaplen));
    pcap_dumper_t *out = pcap_dump_open(dead, s.output);
    if (out == nullptr) {
        std::fprintf(stderr, "make_trace: %s\n", pcap_geterr(dead));
        return 1;
    }
    static uint8_t frame[2048];
    pcap_pkthdr header{};
    header.ts.tv_sec = 1700000000;
    for (const uint32_t flow_index : schedule) {
        const bool other = s.other_share > 0 && random_unit() < s.other_share;
        header.len = other ? build_arp_frame(frame) : build_ip_frame(flows[flow_index], frame);
        header.caplen = std::min(header.len, s.snaplen);
        header.ts.tv_usec += static_cast<suseconds_t>(1 + random_below(200));
        if (header.ts.tv_usec >= 1000000) {
            header.ts.tv_usec -= 1000000;
            ++header.ts.tv_sec;
        }
        pcap_dump(reinterpret_cast<u_char *>(out), &header, frame);
    }
    if (pcap_dump_flush(out) != 0) {
        std::perror("make_trace");
        return 1;
    }
    pcap_dump_close(out);
    pcap_close(dead);
    return 0;
}
