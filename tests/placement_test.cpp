// Whole runs of the built binary: which output each packet of a trace lands in.
#include "support/run.h"
#include "support/traces.h"

#include <gtest/gtest.h>
#include <pcap/pcap.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <random>

namespace fs = std::filesystem;

namespace {

// Tags each packet by its timestamp, splits, and reports each packet's output
// (-1 for the unclassified one), checking that every packet lands exactly once.
std::vector<int> split(std::vector<test_packet> packets, int files, std::vector<std::string> options = {},
                       uint32_t linktype = 1, uint32_t snaplen = 65535) {
    scratch_dir dir;
    for (size_t i = 0; i < packets.size(); ++i) {
        packets[i].seconds = static_cast<uint32_t>(i);
    }
    write_file(dir / "in.pcap", savefile_bytes(packets, linktype, snaplen));
    options.insert(options.end(), {"in.pcap", "out%d", std::to_string(files)});
    const run_result r = run_flowdeal(options, in_dir(dir.path));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out + r.err, "");
    std::vector<int> where(packets.size(), -2);
    const int datalink = read_trace(dir / "in.pcap").linktype;
    for (int k = -1; k < files; ++k) {
        const auto out = read_trace(dir / (k < 0 ? "outweird" : "out" + std::to_string(k)));
        EXPECT_EQ(out.linktype, datalink);
        uint32_t last = 0;
        for (const auto &p : out.packets) {
            EXPECT_TRUE(p.seconds < packets.size() && where[p.seconds] == -2) << "packet " << p.seconds;
            EXPECT_GE(p.seconds, last) << "order kept within an output";
            last = p.seconds;
            where[p.seconds] = k;
            EXPECT_EQ(p, packets[p.seconds]);
        }
    }
    for (size_t i = 0; i < packets.size(); ++i) {
        EXPECT_NE(where[i], -2) << "packet " << i << " missing";
    }
    return where;
}

const test_packet P = tcp4("10.0.0.1", 1000, "10.0.0.2", 80);
const test_packet P_REPLY = tcp4("10.0.0.2", 80, "10.0.0.1", 1000);
const test_packet Q = tcp4("10.0.0.3", 1001, "10.0.0.4", 80);
const test_packet R = udp4("10.0.0.5", "10.0.0.6");
const test_packet S = tcp6("2001:db8::1", 5000, "2001:db8::2", 22);
const test_packet S_REPLY = tcp6("2001:db8::2", 22, "2001:db8::1", 5000);

TEST(placement, default_mode_balances_new_pairs_by_packets) {
    const std::vector<test_packet> trace = {P, Q, R, P, P_REPLY, P, P_REPLY, P, Q, R, R, R, S, S_REPLY};
    const std::vector<int> expected = {0, 1, 2, 0, 0, 0, 0, 0, 1, 2, 2, 2, 1, 1};
    EXPECT_EQ(split(trace, 3), expected);
}

TEST(placement, deterministic_mode_is_the_hash_and_ignores_order) {
    const test_packet worked = tcp4("10.0.0.1", 21, "10.0.0.2", 25);     // hash 531
    const test_packet reply = tcp4("10.0.0.2", 25, "10.0.0.1", 21);
    const test_packet udp = udp4("192.168.1.1", "192.168.1.2");          // hash 725
    EXPECT_EQ(split({worked, reply, udp, arp_frame()}, 4, {"-d"}), (std::vector<int>{3, 3, 1, -1}));
    EXPECT_EQ(split({udp, arp_frame(), reply, worked}, 4, {"-d"}), (std::vector<int>{1, -1, 3, 3}));
    EXPECT_EQ(split({worked, udp}, 3, {"-d"}), (std::vector<int>{0, 2}));
}

TEST(placement, notcp_makes_all_traffic_of_two_hosts_one_pair) {
    const std::vector<test_packet> trace = {tcp4("10.0.0.1", 1, "10.0.0.2", 2), tcp4("10.0.0.1", 3, "10.0.0.2", 4),
                                            udp4("10.0.0.2", "10.0.0.1")};
    EXPECT_EQ(split(trace, 3), (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(split(trace, 3, {"--notcp"}), (std::vector<int>{0, 0, 0}));
}

TEST(placement, prefix_groups_hosts_and_drops_ports) {
    const std::vector<test_packet> trace = {tcp4("10.1.2.3", 1, "10.9.9.9", 2), tcp4("10.1.2.200", 3, "10.9.9.1", 4),
                                            tcp4("10.1.3.1", 1, "10.9.9.9", 2)};
    EXPECT_EQ(split(trace, 2, {"--p4", "24"}), (std::vector<int>{0, 0, 1}));
    // "-d" here is the prefix value 0, so all IPv4 traffic is one pair and the mode stays default.
    EXPECT_EQ(split(trace, 2, {"--p4", "-d"}), (std::vector<int>{0, 0, 0}));
}

TEST(placement, non_ip_and_too_short_packets_go_to_the_unclassified_output) {
    auto runt = P;
    runt.bytes.resize(14 + 19);
    auto short_but_placed = P;
    short_but_placed.bytes.resize(14 + 20);
    short_but_placed.len = 1514;
    const test_packet mpls = {0, 0, 0, ethernet(0x8847, std::vector<uint8_t>(40, 0))};
    const test_packet tiny = {0, 0, 0, {0x01, 0x02, 0x03}};
    const test_packet vlan_ip = {0, 0, 0, concat({ethernet(0x8100, {0, 5}), be16(0x0800),
                                                  ipv4_header("10.0.0.1", "10.0.0.2", 6), tcp_header(1000, 80)})};
    const std::vector<int> where = split({arp_frame(), mpls, runt, tiny, P, short_but_placed, vlan_ip}, 2);
    EXPECT_EQ(where, (std::vector<int>{-1, -1, -1, -1, 0, 1, 0}));
}

TEST(placement, cooked_v2_captures_use_their_own_header_layout) {
    auto cooked = [](uint16_t type, const std::vector<uint8_t> &payload) {
        std::vector<uint8_t> header = be16(type);
        header.resize(20, 0);
        return test_packet{0, 0, 0, concat({header, payload})};
    };
    const auto ip = concat({ipv4_header("10.0.0.1", "10.0.0.2", 6), tcp_header(1000, 80)});
    const auto where = split({cooked(0x0800, ip), cooked(0x0806, ip), P}, 2, {}, 276);
    // The Ethernet frame P reads as cooked: its first bytes are no protocol type.
    EXPECT_EQ(where, (std::vector<int>{0, -1, -1}));
}

// Every layout: IP packets are placed by their pair key alone, so with "-d"
// each lands where the same IP packet captured on Ethernet lands.
TEST(placement, every_link_layout_places_ip_packets_as_ethernet_does) {
    const std::vector<std::vector<uint8_t>> ip_packets = {
        concat({ipv4_header("10.0.0.1", "10.0.0.2", 6), tcp_header(1000, 80)}),
        concat({ipv4_header("10.0.0.2", "10.0.0.1", 6), tcp_header(80, 1000)}),
        concat({ipv4_header("192.168.1.1", "192.168.1.2", 17), std::vector<uint8_t>(8)}),
        concat({ipv6_header("2001:db8::1", "2001:db8::2", 6), tcp_header(5000, 22)}),
        concat({ipv6_header("2001:db8::2", "2001:db8::1", 6), tcp_header(22, 5000)}),
        concat({ipv6_header("2001:db8::7", "2001:db8::9", 58), std::vector<uint8_t>(8)}),
    };
    const auto trace_for = [&](int datalink) {
        std::vector<test_packet> trace;
        for (const auto &ip : ip_packets) {
            trace.push_back({0, 0, 0, link_frame(datalink, ip)});
        }
        return trace;
    };
    const auto on_ethernet = split(trace_for(DLT_EN10MB), 7, {"-d"});
    EXPECT_EQ(std::count(on_ethernet.begin(), on_ethernet.end(), -1), 0);
    // Each layout by libpcap's DLT_ value, with the number its savefiles hold.
    const std::vector<std::pair<int, uint32_t>> layouts = {
        {DLT_LINUX_SLL, 113}, {DLT_LINUX_SLL2, 276}, {DLT_C_HDLC, 104}, {DLT_RAW, 101}, {DLT_IPV4, 228},
        {DLT_IPV6, 229},      {DLT_NULL, 0},         {DLT_LOOP, 108},   {DLT_PPP, 9},   {DLT_PPP_SERIAL, 50}};
    for (const auto &[datalink, linktype] : layouts) {
        SCOPED_TRACE(pcap_datalink_val_to_name(datalink));
        const auto trace = trace_for(datalink);
        EXPECT_EQ(split(trace, 7, {"-d"}, linktype), on_ethernet);
        EXPECT_EQ(split(trace, 3, {}, linktype), (std::vector<int>{0, 0, 1, 2, 2, 1}));
    }
}

TEST(placement, non_ip_on_other_layouts_goes_to_the_unclassified_output) {
    const test_packet loop_unknown = {0, 0, 0, {0, 0, 0, 7, 0x45, 0, 0, 20}};
    const test_packet null_short = {0, 0, 0, {2, 0, 0}};
    EXPECT_EQ(split({loop_unknown}, 2, {}, DLT_LOOP), (std::vector<int>{-1}));
    EXPECT_EQ(split({null_short}, 2, {}, DLT_NULL), (std::vector<int>{-1}));
    const test_packet ppp_lcp = {0, 0, 0, {0xFF, 0x03, 0xC0, 0x21, 1, 1, 0, 4}};
    EXPECT_EQ(split({ppp_lcp}, 2, {}, DLT_PPP), (std::vector<int>{-1}));
    const test_packet raw_garbage = {0, 0, 0, {0x00, 1, 2, 3}};
    EXPECT_EQ(split({raw_garbage}, 2, {}, 101), (std::vector<int>{-1}));
}

// One IPv6 TCP connection whose packets carry extension headers only now and
// then stays whole.
TEST(placement, ipv6_connection_with_occasional_extension_headers_stays_whole) {
    const auto v6 = [](const std::string &s, uint16_t sp, const std::string &d, uint16_t dp, uint8_t first,
                       const std::vector<uint8_t> &extensions) {
        return test_packet{0, 0, 0,
                           ethernet(0x86DD, concat({ipv6_header(s, d, first), extensions, tcp_header(sp, dp)}))};
    };
    const std::vector<uint8_t> hop_by_hop = {6, 0, 1, 4, 0, 0, 0, 0};  // PadN
    const std::vector<uint8_t> destination = {6, 1, 1, 12, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    const std::vector<uint8_t> first_fragment = {6, 0, 0, 1, 0, 0, 0, 9};
    const std::vector<uint8_t> auth = {6, 4, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    const std::string a = "2001:db8::1", b = "2001:db8::2";
    const std::vector<test_packet> trace = {
        v6(a, 40000, b, 443, 6, {}),          v6(b, 443, a, 40000, 6, {}),
        v6(a, 40000, b, 443, 0, hop_by_hop),  v6(b, 443, a, 40000, 60, destination),
        v6(a, 40000, b, 443, 44, first_fragment), v6(b, 443, a, 40000, 51, auth),
        v6(a, 40001, b, 443, 6, {}),  // a second connection between the same hosts
        v6(a, 40000, b, 443, 6, {}),
    };
    EXPECT_EQ(split(trace, 4), (std::vector<int>{0, 0, 0, 0, 0, 0, 1, 0}));
    const auto where = split(trace, 4, {"-d"});
    for (size_t i = 0; i < trace.size(); ++i) {
        if (i != 6) {
            EXPECT_EQ(where[i], where[0]) << "packet " << i;
        }
    }
}

// Later fragments of IPv4 TCP datagrams hold no TCP header: whatever their
// payload, they go with the two hosts' portless traffic, not scattered by it.
TEST(placement, later_ipv4_fragments_are_placed_by_their_addresses) {
    const auto later_fragment = [](uint16_t fake_source_port, uint16_t fake_destination_port) {
        auto ip = ipv4_header("10.0.0.1", "10.0.0.2", 6);
        ip[6] = 0x00;
        ip[7] = 185;  // offset 1480 bytes
        return test_packet{0, 0, 0, ethernet(0x0800, concat({ip, tcp_header(fake_source_port, fake_destination_port)}))};
    };
    const std::vector<test_packet> trace = {udp4("10.0.0.1", "10.0.0.2"), tcp4("10.0.0.1", 999, "10.0.0.2", 80),
                                            later_fragment(0x1234, 0x5678), later_fragment(0x9ABC, 0xDEF0),
                                            later_fragment(7, 9)};
    EXPECT_EQ(split(trace, 2), (std::vector<int>{0, 1, 0, 0, 0}));
    const auto where = split(trace, 16, {"-d"});
    EXPECT_EQ(where[2], where[0]);
    EXPECT_EQ(where[3], where[0]);
    EXPECT_EQ(where[4], where[0]);
}

// The default mode holds packets in small groups; big packets bypass the
// group. Placement must still be that of one packet at a time, in order.
TEST(placement, held_packets_are_placed_as_if_one_at_a_time) {
    std::vector<test_packet> trace;
    std::vector<std::string> pair_of;
    std::mt19937 random(7);
    for (int i = 0; i < 600; ++i) {
        const int client = static_cast<int>(random() % 37);
        const bool reply = random() % 2;
        const std::string a = "10.0.1." + std::to_string(client), b = "10.0.2." + std::to_string(client % 5);
        const uint16_t pa = static_cast<uint16_t>(1000 + client), pb = 80;
        test_packet p = reply ? tcp4(b, pb, a, pa) : tcp4(a, pa, b, pb);
        const uint32_t r = random() % 10;
        p.bytes.resize(r == 0 ? 70000 : r == 1 ? 65536 - 10 : r == 2 ? 30000 : 60 + random() % 1400, 0x5A);
        trace.push_back(p);
        pair_of.push_back(a + ":" + b);
    }
    trace.push_back(arp_frame());
    pair_of.push_back("");
    // The same assignment, packet by packet: a new pair takes the output with
    // the fewest packets so far, the lowest index on ties.
    const int files = 5;
    std::map<std::string, int> given;
    std::vector<uint64_t> counts(files, 0);
    std::vector<int> expected;
    for (const std::string &pair : pair_of) {
        if (pair.empty()) {
            expected.push_back(-1);
            continue;
        }
        if (!given.count(pair)) {
            given[pair] = static_cast<int>(std::min_element(counts.begin(), counts.end()) - counts.begin());
        }
        ++counts[given[pair]];
        expected.push_back(given[pair]);
    }
    EXPECT_EQ(split(trace, files, {}, 1, 262144), expected);
}

// The table's hash is seeded afresh each run; no output may depend on it.
TEST(placement, two_runs_give_the_same_outputs_in_both_modes) {
    std::vector<test_packet> trace;
    for (int i = 0; i < 3000; ++i) {
        const int pair = (i * 7919) % 1500;  // 1500 pairs, enough to grow the table
        const std::string a = "10.1." + std::to_string(pair / 250) + "." + std::to_string(pair % 250);
        trace.push_back(i % 3 ? tcp4(a, 4000, "10.9.9.9", 443) : tcp4("10.9.9.9", 443, a, 4000));
    }
    for (const std::vector<std::string> &mode : {std::vector<std::string>{}, {"-d"}}) {
        const auto first = split(trace, 7, mode);
        EXPECT_EQ(split(trace, 7, mode), first);
    }
}

// For the link types that do not carry an Ethernet type at 12: whether the
// link header names IPv4 or IPv6, and the captured bytes hold that header
// whole. Tags are not stepped over here, so a tagged packet never counts.
bool holds_whole_ip_header(int datalink, const std::vector<uint8_t> &b) {
    size_t offset = 0;
    int version = 0;
    const auto family_version = [](uint32_t family) { return family == 2 ? 4 : family == 24 || family == 28 || family == 30 ? 6 : 0; };
    const auto type_version = [](uint32_t type) { return type == 0x0800 ? 4 : type == 0x86DD ? 6 : 0; };
    const auto be = [&](size_t at) { return b.size() >= at + 2 ? uint32_t{b[at]} << 8 | b[at + 1] : 0xFFFFFFFFu; };
    switch (datalink) {
    case DLT_RAW:
    case DLT_IPV4:
    case DLT_IPV6:
        version = b.empty() ? 0 : b[0] >> 4;
        break;
    case DLT_NULL:
    case DLT_LOOP:
        if (b.size() >= 4) {
            const uint32_t little = b[0] | b[1] << 8 | b[2] << 16 | uint32_t{b[3]} << 24;
            const uint32_t big = be(0) << 16 | be(2);
            version = family_version(datalink == DLT_NULL && little < 0x10000 ? little : big);
        }
        offset = 4;
        break;
    case DLT_PPP:
    case DLT_PPP_SERIAL:
        offset = b.size() >= 2 && b[0] == 0xFF && b[1] == 0x03 ? 4 : 2;
        version = be(offset - 2) == 0x21 ? 4 : be(offset - 2) == 0x57 ? 6 : 0;
        break;
    case DLT_LINUX_SLL:
        version = type_version(be(14));
        offset = 16;
        break;
    case DLT_C_HDLC:
        version = type_version(be(2));
        offset = 4;
        break;
    default:
        return false;
    }
    return (version == 4 && b.size() >= offset + 20) || (version == 6 && b.size() >= offset + 40);
}

// Real captures: whatever they hold, every packet the library can read lands in
// exactly one output, unchanged and in order, and the outputs keep the link type.
TEST(placement, real_captures_keep_every_packet) {
    const fs::path corpus = CORPUS_DIR;
    if (!fs::is_directory(corpus)) {
        GTEST_SKIP() << "no corpus at " << corpus;
    }
    int checked = 0;
    for (const auto &entry : fs::directory_iterator(corpus)) {
        const std::string name = entry.path().filename().string();
        if (name.find(".pcap") == std::string::npos) {
            continue;
        }
        SCOPED_TRACE(name);
        for (const std::vector<std::string> &options : {std::vector<std::string>{}, {"-d"}, {"--p6", "64"}}) {
            scratch_dir dir;
            std::vector<std::string> args = options;
            args.insert(args.end(), {entry.path().string(), "out%d", "4"});
            const run_result r = run_flowdeal(args, in_dir(dir.path));
            const read_result input = read_trace(entry.path());
            ASSERT_GE(input.linktype, 0);
            EXPECT_EQ(r.status, input.read_error ? 1 : 0) << r.err;
            if (input.read_error) {
                EXPECT_EQ(r.err.rfind("error reading tracefile " + entry.path().string() + ": ", 0), 0u) << r.err;
            } else {
                EXPECT_EQ(r.err, "");
            }
            std::vector<size_t> cursor(5, 0);
            std::vector<read_result> outputs;
            for (const char *out : {"out0", "out1", "out2", "out3", "outweird"}) {
                outputs.push_back(read_trace(dir / out));
                EXPECT_EQ(outputs.back().linktype, input.linktype);
            }
            for (const test_packet &p : outputs.back().packets) {
                EXPECT_FALSE(holds_whole_ip_header(input.linktype, p.bytes)) << "an IP packet left unplaced";
            }
            size_t total = 0;
            for (const auto &o : outputs) {
                total += o.packets.size();
            }
            ASSERT_EQ(total, input.packets.size());
            // Each input packet must be the next unread packet of some output.
            for (size_t i = 0; i < input.packets.size(); ++i) {
                bool found = false;
                for (size_t k = 0; k < outputs.size() && !found; ++k) {
                    if (cursor[k] < outputs[k].packets.size() && outputs[k].packets[cursor[k]] == input.packets[i]) {
                        ++cursor[k];
                        found = true;
                    }
                }
                ASSERT_TRUE(found) << "packet " << i;
            }
        }
        ++checked;
    }
    EXPECT_GT(checked, 0);
}

}  // namespace
