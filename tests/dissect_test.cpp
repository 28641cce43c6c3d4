// The header walk and pair key on crafted packet bytes.
#include "support/settings.h"
#include "support/traces.h"

#include <gtest/gtest.h>

#include <random>

namespace {

// Each packet is copied into a buffer of exactly its size, so that a read past
// caplen is caught by the sanitizer build.
network_header walk(const std::vector<uint8_t> &bytes) {
    const std::vector<uint8_t> exact(bytes);
    return find_network_header(packet_bytes(exact.data(), exact.size()));
}

std::vector<uint8_t> tags(std::initializer_list<uint16_t> types) {
    std::vector<uint8_t> out;
    for (const uint16_t t : types) {
        const auto b = be16(t);
        out.insert(out.end(), b.begin(), b.end());
    }
    return out;
}

std::vector<uint8_t> cut(std::vector<uint8_t> bytes, size_t caplen) {
    bytes.resize(caplen);
    return bytes;
}

// Ethernet: the first type at 12, each tag's next type in its last two bytes.
std::vector<uint8_t> frame(std::vector<uint16_t> chain, size_t caplen) {
    std::vector<uint8_t> f(12, 0xAA);
    for (size_t i = 0; i < chain.size(); ++i) {
        const auto t = be16(chain[i]);
        f.insert(f.end(), t.begin(), t.end());
        if (i + 1 < chain.size()) {
            const size_t body = chain[i] == 0x8926 ? 4 : 2;  // tag bytes before the next type
            f.insert(f.end(), body, 0x55);
        }
    }
    f.resize(caplen, 0);
    return f;
}

struct walk_case {
    const char *name;
    int linktype;
    std::vector<uint8_t> bytes;
    bool found;
    uint16_t protocol;
    uint16_t offset;
};

void PrintTo(const walk_case &c, std::ostream *os) {
    *os << c.name;
}

class header_walk : public testing::TestWithParam<walk_case> {};

TEST_P(header_walk, finds_the_network_header_or_fails) {
    const walk_case &c = GetParam();
    reset_settings(4, c.linktype);
    const network_header h = walk(c.bytes);
    EXPECT_EQ(h.found, c.found);
    if (c.found) {
        EXPECT_EQ(h.protocol, c.protocol);
        EXPECT_EQ(h.offset, c.offset);
    }
}

std::vector<uint8_t> sll2(uint16_t type, size_t caplen, std::vector<uint8_t> after = {}) {
    std::vector<uint8_t> f = be16(type);
    f.resize(20, 0x11);
    f.insert(f.end(), after.begin(), after.end());
    f.resize(caplen, 0);
    return f;
}

INSTANTIATE_TEST_SUITE_P(
    cases, header_walk,
    testing::Values(
        walk_case{"empty", 1, {}, false, 0, 0},
        walk_case{"ethernet_13_bytes", 1, frame({0x0800}, 13), false, 0, 0},
        walk_case{"ethernet_14_bytes_ipv4", 1, frame({0x0800}, 14), true, 0x0800, 14},
        walk_case{"ethernet_ipv6", 1, frame({0x86DD}, 60), true, 0x86DD, 14},
        walk_case{"vlan_ipv6", 1, frame({0x8100, 0x86DD}, 60), true, 0x86DD, 18},
        walk_case{"qinq_vlan_ipv4", 1, frame({0x88A8, 0x8100, 0x0800}, 60), true, 0x0800, 22},
        walk_case{"vntag_ipv4", 1, frame({0x8926, 0x0800}, 60), true, 0x0800, 20},
        walk_case{"tag_9100", 1, frame({0x9100, 0x0800}, 60), true, 0x0800, 18},
        walk_case{"tag_9200", 1, frame({0x9200, 0x0800}, 60), true, 0x0800, 18},
        walk_case{"tag_9300_vntag_vlan", 1, frame({0x9300, 0x8926, 0x8100, 0x86DD}, 60), true, 0x86DD, 28},
        walk_case{"arp", 1, frame({0x0806}, 60), false, 0, 0},
        walk_case{"mpls", 1, frame({0x8847}, 60), false, 0, 0},
        walk_case{"vlan_then_arp", 1, frame({0x8100, 0x0806}, 60), false, 0, 0},
        walk_case{"vlan_cut_at_17", 1, frame({0x8100, 0x0800}, 17), false, 0, 0},
        walk_case{"vlan_exactly_18", 1, frame({0x8100, 0x0800}, 18), true, 0x0800, 18},
        walk_case{"vntag_cut_at_19", 1, frame({0x8926, 0x0800}, 19), false, 0, 0},
        walk_case{"sll2_19_bytes", 276, sll2(0x0800, 19), false, 0, 0},
        walk_case{"sll2_ipv4", 276, sll2(0x0800, 40), true, 0x0800, 20},
        walk_case{"sll2_ipv6", 276, sll2(0x86DD, 60), true, 0x86DD, 20},
        walk_case{"sll2_arp", 276, sll2(0x0806, 60), false, 0, 0},
        // Under the cooked header a tag's next type follows its control field.
        walk_case{"sll2_vlan_ipv4", 276, sll2(0x8100, 60, {0x00, 0x64, 0x08, 0x00}), true, 0x0800, 24},
        walk_case{"sll2_vlan_cut_at_23", 276, sll2(0x8100, 23, {0x00, 0x64, 0x08}), false, 0, 0},
        walk_case{"sll2_vntag_vlan_ipv6", 276, sll2(0x8926, 60, {0, 0, 0, 0, 0x81, 0x00, 0, 0, 0x86, 0xDD}), true,
                  0x86DD, 30},
        // Link types without a layout of their own are read as Ethernet, whatever their bytes mean.
        walk_case{"user0_read_as_ethernet", DLT_USER0, ipv4_header("10.0.0.1", "10.0.0.2", 6), false, 0, 0},
        walk_case{"slip_with_0800_at_12", DLT_SLIP, frame({0x0800}, 40), true, 0x0800, 14}));

// The link layouts other than Ethernet: each family, each header one byte short.
std::vector<uint8_t> v4_bytes(size_t caplen = 40) {
    return cut(concat({ipv4_header("10.0.0.1", "10.0.0.2", 6), tcp_header(1, 2)}), caplen);
}
std::vector<uint8_t> v6_bytes(size_t caplen = 60) {
    return cut(concat({ipv6_header("2001:db8::1", "2001:db8::2", 6), tcp_header(1, 2)}), caplen);
}
std::vector<uint8_t> family(std::initializer_list<uint8_t> header, const std::vector<uint8_t> &ip) {
    return concat({std::vector<uint8_t>(header), ip});
}
std::vector<uint8_t> sll(std::vector<uint16_t> chain, size_t caplen) {
    auto f = frame(std::move(chain), caplen + 2);  // Ethernet's 12 address bytes, then the walk
    f.insert(f.begin(), {0x00, 0x04});             // 16 bytes up to the first type
    f.resize(caplen);
    return f;
}

INSTANTIATE_TEST_SUITE_P(
    layouts, header_walk,
    testing::Values(
        walk_case{"raw_ipv4", DLT_RAW, v4_bytes(), true, 0x0800, 0},
        walk_case{"raw_ipv6", DLT_RAW, v6_bytes(), true, 0x86DD, 0},
        walk_case{"raw_one_byte", DLT_RAW, {0x45}, true, 0x0800, 0},
        walk_case{"raw_empty", DLT_RAW, {}, false, 0, 0},
        walk_case{"raw_version_5", DLT_RAW, {0x55, 0, 0, 0}, false, 0, 0},
        walk_case{"raw_version_0", DLT_RAW, {0x00, 0, 0, 0}, false, 0, 0},
        walk_case{"ipv4_link_type", DLT_IPV4, v4_bytes(), true, 0x0800, 0},
        walk_case{"ipv6_link_type", DLT_IPV6, v6_bytes(), true, 0x86DD, 0},
        walk_case{"null_le_inet", DLT_NULL, family({2, 0, 0, 0}, v4_bytes()), true, 0x0800, 4},
        walk_case{"null_be_inet", DLT_NULL, family({0, 0, 0, 2}, v4_bytes()), true, 0x0800, 4},
        walk_case{"null_le_inet6_24", DLT_NULL, family({24, 0, 0, 0}, v6_bytes()), true, 0x86DD, 4},
        walk_case{"null_le_inet6_28", DLT_NULL, family({28, 0, 0, 0}, v6_bytes()), true, 0x86DD, 4},
        walk_case{"null_le_inet6_30", DLT_NULL, family({30, 0, 0, 0}, v6_bytes()), true, 0x86DD, 4},
        walk_case{"null_be_inet6_24", DLT_NULL, family({0, 0, 0, 24}, v6_bytes()), true, 0x86DD, 4},
        walk_case{"null_be_inet6_28", DLT_NULL, family({0, 0, 0, 28}, v6_bytes()), true, 0x86DD, 4},
        walk_case{"null_be_inet6_30", DLT_NULL, family({0, 0, 0, 30}, v6_bytes()), true, 0x86DD, 4},
        walk_case{"null_other_family", DLT_NULL, family({7, 0, 0, 0}, v4_bytes()), false, 0, 0},
        walk_case{"null_two_families_at_once", DLT_NULL, family({2, 0, 2, 0}, v4_bytes()), false, 0, 0},
        walk_case{"null_3_bytes", DLT_NULL, {2, 0, 0}, false, 0, 0},
        walk_case{"null_header_only", DLT_NULL, {2, 0, 0, 0}, true, 0x0800, 4},
        walk_case{"loop_inet", DLT_LOOP, family({0, 0, 0, 2}, v4_bytes()), true, 0x0800, 4},
        walk_case{"loop_inet6", DLT_LOOP, family({0, 0, 0, 24}, v6_bytes()), true, 0x86DD, 4},
        walk_case{"loop_is_never_little_endian", DLT_LOOP, family({2, 0, 0, 0}, v4_bytes()), false, 0, 0},
        walk_case{"loop_3_bytes", DLT_LOOP, {0, 0, 0}, false, 0, 0},
        walk_case{"ppp_ipv4", DLT_PPP, family({0x00, 0x21}, v4_bytes()), true, 0x0800, 2},
        walk_case{"ppp_ipv6", DLT_PPP, family({0x00, 0x57}, v6_bytes()), true, 0x86DD, 2},
        walk_case{"ppp_hdlc_ipv4", DLT_PPP, family({0xFF, 0x03, 0x00, 0x21}, v4_bytes()), true, 0x0800, 4},
        walk_case{"ppp_serial_hdlc_ipv6", DLT_PPP_SERIAL, family({0xFF, 0x03, 0x00, 0x57}, v6_bytes()), true,
                  0x86DD, 4},
        walk_case{"ppp_serial_ipv4", DLT_PPP_SERIAL, family({0x00, 0x21}, v4_bytes()), true, 0x0800, 2},
        walk_case{"ppp_lcp", DLT_PPP, family({0xFF, 0x03, 0xC0, 0x21}, v4_bytes()), false, 0, 0},
        walk_case{"ppp_1_byte", DLT_PPP, {0x00}, false, 0, 0},
        walk_case{"ppp_hdlc_3_bytes", DLT_PPP, {0xFF, 0x03, 0x00}, false, 0, 0},
        walk_case{"ppp_hdlc_header_only", DLT_PPP, {0xFF, 0x03, 0x00, 0x21}, true, 0x0800, 4},
        walk_case{"sll_ipv4", DLT_LINUX_SLL, sll({0x0800}, 60), true, 0x0800, 16},
        walk_case{"sll_15_bytes", DLT_LINUX_SLL, sll({0x0800}, 15), false, 0, 0},
        walk_case{"sll_16_bytes", DLT_LINUX_SLL, sll({0x0800}, 16), true, 0x0800, 16},
        walk_case{"sll_stacked_tags", DLT_LINUX_SLL, sll({0x88A8, 0x8100, 0x86DD}, 80), true, 0x86DD, 24},
        walk_case{"sll_vntag_vlan", DLT_LINUX_SLL, sll({0x8926, 0x8100, 0x0800}, 80), true, 0x0800, 26},
        walk_case{"sll_tag_cut_at_19", DLT_LINUX_SLL, sll({0x8100, 0x0800}, 19), false, 0, 0},
        walk_case{"sll_arp", DLT_LINUX_SLL, sll({0x0806}, 60), false, 0, 0},
        walk_case{"chdlc_ipv4", DLT_C_HDLC, family({0x0F, 0x00, 0x08, 0x00}, v4_bytes()), true, 0x0800, 4},
        walk_case{"chdlc_ipv6", DLT_C_HDLC, family({0x8F, 0x00, 0x86, 0xDD}, v6_bytes()), true, 0x86DD, 4},
        walk_case{"chdlc_vlan_ipv4", DLT_C_HDLC, family({0x0F, 0x00, 0x81, 0x00, 0x00, 0x05, 0x08, 0x00}, v4_bytes()),
                  true, 0x0800, 8},
        walk_case{"chdlc_3_bytes", DLT_C_HDLC, {0x0F, 0x00, 0x08}, false, 0, 0},
        walk_case{"chdlc_slarp", DLT_C_HDLC, family({0x8F, 0x00, 0x80, 0x35}, v4_bytes()), false, 0, 0}));

TEST(header_walk, tags_up_to_the_end_of_the_capture_fail) {
    reset_settings();
    std::vector<uint8_t> f(12, 0);
    while (f.size() < 1000) {
        const auto t = tags({0x8100, 0x8100});
        f.insert(f.end(), t.begin(), t.end());
    }
    EXPECT_FALSE(walk(f).found);
}

TEST(header_walk, offsets_past_65535_fail_and_stay_inside_the_capture) {
    reset_settings();
    // 0x8100 in every pair of bytes: each tag's last two bytes name another tag.
    std::vector<uint8_t> f;
    while (f.size() < 70000) {
        f.push_back(0x81);
        f.push_back(0x00);
    }
    EXPECT_FALSE(walk(f).found);
    // The deepest header the 16-bit offset can name is still found.
    const size_t tag_count = (65534 - 14) / 4;
    f.resize(14 + tag_count * 4 + 40);
    f[14 + tag_count * 4 - 2] = 0x08;
    f[14 + tag_count * 4 - 1] = 0x00;
    const network_header h = walk(f);
    EXPECT_TRUE(h.found);
    EXPECT_EQ(h.offset, 65534);
}

// Key extraction through the whole walk.
struct key_case {
    const char *name;
    std::vector<uint8_t> bytes;
    bool placed;
    std::vector<uint8_t> source_address;  // the bytes that lead the 16; the rest are 0
    uint16_t source_port;
    std::vector<uint8_t> destination_address;
    uint16_t destination_port;
};

void PrintTo(const key_case &c, std::ostream *os) {
    *os << c.name;
}

endpoint make_endpoint(const std::vector<uint8_t> &leading, uint16_t port) {
    endpoint e{};
    std::copy(leading.begin(), leading.end(), e.address.begin());
    e.port = port;
    return e;
}

class pair_key : public testing::TestWithParam<key_case> {};

TEST_P(pair_key, is_taken_from_the_captured_bytes) {
    const key_case &c = GetParam();
    reset_settings();
    const std::vector<uint8_t> exact(c.bytes);
    endpoint source{};
    endpoint destination{};
    ASSERT_EQ(get_pair_key(packet_bytes(exact.data(), exact.size()), source, destination), c.placed);
    if (c.placed) {
        EXPECT_EQ(source, make_endpoint(c.source_address, c.source_port));
        EXPECT_EQ(destination, make_endpoint(c.destination_address, c.destination_port));
    } else {
        EXPECT_EQ(source, endpoint{});
        EXPECT_EQ(destination, endpoint{});
    }
}

const std::vector<uint8_t> A1 = {10, 0, 0, 1};
const std::vector<uint8_t> A2 = {10, 0, 0, 2};
const std::vector<uint8_t> V6_1 = {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
const std::vector<uint8_t> V6_2 = {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2};

std::vector<uint8_t> ipv4_tcp(uint8_t ihl, size_t options, size_t caplen) {
    auto ip = ipv4_header("10.0.0.1", "10.0.0.2", 6, ihl);
    ip.insert(ip.end(), options, 0xEE);
    return cut(ethernet(0x0800, concat({ip, tcp_header(21, 25)})), caplen);
}

// An IPv6 extension header of the size its length field declares, naming the header after it.
struct extension_header {
    uint8_t type;
    std::vector<uint8_t> bytes;
};

extension_header extension(uint8_t type, uint8_t next, uint8_t length_field) {
    const size_t size = type == 51 ? (length_field + 2u) * 4 : (length_field + 1u) * 8;
    std::vector<uint8_t> h(size, 0x33);
    h[0] = next;
    h[1] = length_field;
    return {type, h};
}

extension_header fragment(uint8_t next, uint16_t offset_units, bool more) {
    const auto field = be16(static_cast<uint16_t>(offset_units << 3 | (more ? 1 : 0)));
    return {44, {next, 0, field[0], field[1], 0xDE, 0xAD, 0xBE, 0xEF}};
}

// An Ethernet IPv6 TCP packet (ports 1 and 2) behind the given headers.
std::vector<uint8_t> v6_chain(const std::vector<extension_header> &headers) {
    std::vector<uint8_t> payload;
    for (const auto &h : headers) {
        payload.insert(payload.end(), h.bytes.begin(), h.bytes.end());
    }
    payload = concat({payload, tcp_header(1, 2)});
    const uint8_t first = headers.empty() ? 6 : headers.front().type;
    return ethernet(0x86DD, concat({ipv6_header("2001:db8::1", "2001:db8::2", first), payload}));
}

std::vector<extension_header> full_chain() {
    return {extension(0, 60, 0), extension(60, 43, 1), extension(43, 51, 0), extension(51, 44, 3),
            fragment(60, 0, true), extension(60, 6, 0)};
}

std::vector<uint8_t> ipv4_fragment(uint16_t flags_and_offset) {
    auto ip = ipv4_header("10.0.0.1", "10.0.0.2", 6);
    const auto field = be16(flags_and_offset);
    ip[6] = field[0];
    ip[7] = field[1];
    return ethernet(0x0800, concat({ip, tcp_header(21, 25)}));
}

INSTANTIATE_TEST_SUITE_P(
    cases, pair_key,
    testing::Values(
        key_case{"ipv4_tcp", tcp4("10.0.0.1", 21, "10.0.0.2", 25).bytes, true, A1, 21, A2, 25},
        key_case{"ipv4_tcp_reply", tcp4("10.0.0.2", 25, "10.0.0.1", 21).bytes, true, A2, 25, A1, 21},
        key_case{"ipv4_udp_has_no_ports", udp4("10.0.0.1", "10.0.0.2").bytes, true, A1, 0, A2, 0},
        key_case{"ipv6_tcp", tcp6("2001:db8::1", 80, "2001:db8::2", 4000).bytes, true, V6_1, 80, V6_2, 4000},
        key_case{"ipv6_behind_vlan", concat({frame({0x8100}, 16), be16(0x86DD),
                                             ipv6_header("2001:db8::1", "2001:db8::2", 6), tcp_header(1, 2)}),
                 true, V6_1, 1, V6_2, 2},
        key_case{"ipv4_n_plus_19", cut(tcp4("10.0.0.1", 21, "10.0.0.2", 25).bytes, 14 + 19), false, {}, 0, {}, 0},
        key_case{"ipv4_n_plus_20", cut(tcp4("10.0.0.1", 21, "10.0.0.2", 25).bytes, 14 + 20), true, A1, 0, A2, 0},
        key_case{"ipv4_n_plus_33", ipv4_tcp(5, 0, 14 + 33), true, A1, 0, A2, 0},
        key_case{"ipv4_tcp_exactly_captured", ipv4_tcp(5, 0, 14 + 40), true, A1, 21, A2, 25},
        key_case{"ipv4_options_skipped", ipv4_tcp(6, 4, 14 + 44), true, A1, 21, A2, 25},
        key_case{"ipv4_ihl_15_short", ipv4_tcp(15, 40, 14 + 59), true, A1, 0, A2, 0},
        key_case{"ipv4_ihl_15", ipv4_tcp(15, 40, 14 + 80), true, A1, 21, A2, 25},
        // Header length 0: the "ports" are the first four bytes of the IPv4 header.
        key_case{"ipv4_ihl_0", ipv4_tcp(0, 0, 14 + 40), true, A1, 0x4000, A2, 0x0000},
        key_case{"ipv6_n_plus_39", cut(tcp6("2001:db8::1", 80, "2001:db8::2", 4000).bytes, 14 + 39), false, {}, 0,
                 {}, 0},
        key_case{"ipv6_n_plus_40", cut(tcp6("2001:db8::1", 80, "2001:db8::2", 4000).bytes, 14 + 40), true, V6_1, 0,
                 V6_2, 0},
        key_case{"ipv6_tcp_one_byte_short", cut(tcp6("2001:db8::1", 80, "2001:db8::2", 4000).bytes, 14 + 59), true,
                 V6_1, 0, V6_2, 0},
        // Extension headers between the fixed header and TCP are followed.
        key_case{"ipv6_hop_by_hop", v6_chain({extension(0, 6, 0)}), true, V6_1, 1, V6_2, 2},
        key_case{"ipv6_routing", v6_chain({extension(43, 6, 2)}), true, V6_1, 1, V6_2, 2},
        key_case{"ipv6_destination_options", v6_chain({extension(60, 6, 1)}), true, V6_1, 1, V6_2, 2},
        key_case{"ipv6_authentication", v6_chain({extension(51, 6, 4)}), true, V6_1, 1, V6_2, 2},
        key_case{"ipv6_first_fragment", v6_chain({fragment(6, 0, true)}), true, V6_1, 1, V6_2, 2},
        key_case{"ipv6_later_fragment", v6_chain({fragment(6, 185, false)}), true, V6_1, 0, V6_2, 0},
        key_case{"ipv6_chain", v6_chain(full_chain()), true, V6_1, 1, V6_2, 2},
        key_case{"ipv6_chain_to_udp", v6_chain({extension(0, 60, 0), extension(60, 17, 0)}), true, V6_1, 0, V6_2, 0},
        key_case{"ipv6_esp", v6_chain({extension(50, 6, 0)}), true, V6_1, 0, V6_2, 0},
        key_case{"ipv6_no_next_header", v6_chain({extension(60, 59, 0)}), true, V6_1, 0, V6_2, 0},
        // IPv4: only the first fragment holds the TCP header.
        key_case{"ipv4_first_fragment", ipv4_fragment(0x2000), true, A1, 21, A2, 25},
        key_case{"ipv4_dont_fragment", ipv4_fragment(0x4000), true, A1, 21, A2, 25},
        key_case{"ipv4_later_fragment", ipv4_fragment(0x2000 | 185), true, A1, 0, A2, 0},
        key_case{"ipv4_last_fragment", ipv4_fragment(1), true, A1, 0, A2, 0},
        key_case{"arp", arp_frame().bytes, false, {}, 0, {}, 0},
        key_case{"runt", {0x00, 0x01}, false, {}, 0, {}, 0}));

// Cut anywhere, the chain is read safely and gives ports only with the whole TCP header.
TEST(pair_key, ipv6_chain_cut_short_at_each_byte) {
    reset_settings();
    const auto whole = v6_chain(full_chain());
    for (size_t caplen = 14 + 40; caplen <= whole.size(); ++caplen) {
        const std::vector<uint8_t> exact(whole.begin(), whole.begin() + static_cast<long>(caplen));
        endpoint s{}, d{};
        ASSERT_TRUE(get_pair_key(packet_bytes(exact.data(), exact.size()), s, d)) << caplen;
        const uint16_t expected = caplen == whole.size() ? 1 : 0;
        EXPECT_EQ(s.port, expected) << caplen;
        EXPECT_EQ(d.port, expected ? 2 : 0) << caplen;
    }
}

// Headers of the largest size chained past the 16-bit offsets: the walk ends, inside the capture.
TEST(pair_key, ipv6_chain_past_65535_takes_no_ports) {
    reset_settings();
    std::vector<extension_header> chain;
    for (int i = 0; i < 33; ++i) {  // 33 * 2048 bytes
        chain.push_back(extension(60, i < 32 ? 60 : 6, 255));
    }
    const auto bytes = v6_chain(chain);
    ASSERT_GT(bytes.size(), 65536u);
    endpoint s{}, d{};
    ASSERT_TRUE(get_pair_key(packet_bytes(bytes.data(), bytes.size()), s, d));
    EXPECT_EQ(s.port, 0);
    // 31 of them still end below the limit, and the TCP header after them is read.
    chain.resize(31);
    chain.back() = extension(60, 6, 255);
    const auto shorter = v6_chain(chain);
    s = d = endpoint{};
    ASSERT_TRUE(get_pair_key(packet_bytes(shorter.data(), shorter.size()), s, d));
    EXPECT_EQ(s.port, 1);
}

TEST(pair_key, notcp_leaves_ports_zero) {
    reset_settings();
    use_ports = 0;
    const auto bytes = tcp4("10.0.0.1", 21, "10.0.0.2", 25).bytes;
    endpoint s{}, d{};
    ASSERT_TRUE(get_pair_key(packet_bytes(bytes), s, d));
    EXPECT_EQ(s, make_endpoint(A1, 0));
    EXPECT_EQ(d, make_endpoint(A2, 0));
}

TEST(pair_key, prefixes_mask_only_their_own_family) {
    reset_settings();
    use_ports = 0;
    v4_prefix_bytes = 3;
    v6_prefix_bytes = 2;
    const auto v4a = tcp4("10.1.2.3", 1, "10.1.2.200", 2).bytes;
    endpoint s{}, d{};
    ASSERT_TRUE(get_pair_key(packet_bytes(v4a), s, d));
    EXPECT_EQ(s, make_endpoint({10, 1, 2, 0}, 0));
    EXPECT_EQ(d, make_endpoint({10, 1, 2, 0}, 0));
    const auto v6 = tcp6("2001:db8::1", 80, "fe80::2", 4000).bytes;
    s = d = endpoint{};
    ASSERT_TRUE(get_pair_key(packet_bytes(v6), s, d));
    EXPECT_EQ(s, make_endpoint({0x20, 0x01}, 0));
    EXPECT_EQ(d, make_endpoint({0xfe, 0x80}, 0));
    v4_prefix_bytes = 0;
    s = d = endpoint{};
    ASSERT_TRUE(get_pair_key(packet_bytes(v4a), s, d));
    EXPECT_EQ(s, endpoint{});
    EXPECT_EQ(d, endpoint{});
}

TEST(pair_key, ipv6_address_equal_to_an_ipv4_one_is_the_same_endpoint) {
    reset_settings();
    const auto v4 = tcp4("10.0.0.1", 80, "10.0.0.2", 90).bytes;
    const auto v6 = tcp6("a00:1::", 80, "a00:2::", 90).bytes;
    endpoint s4{}, d4{}, s6{}, d6{};
    ASSERT_TRUE(get_pair_key(packet_bytes(v4), s4, d4));
    ASSERT_TRUE(get_pair_key(packet_bytes(v6), s6, d6));
    EXPECT_EQ(s4, s6);
    EXPECT_EQ(d4, d6);
}

TEST(mask_address, zeroes_from_the_first_byte_not_kept_to_the_family_length) {
    std::array<uint8_t, 16> a;
    a.fill(0xFF);
    mask_address(a, 1, 4);
    EXPECT_EQ(a[0], 0xFF);
    EXPECT_EQ(a[1] | a[2] | a[3], 0);
    EXPECT_EQ(a[4], 0xFF);  // past the IPv4 length: untouched
    a.fill(0xFF);
    mask_address(a, 16, 16);
    mask_address(a, 4, 4);
    EXPECT_EQ(std::count(a.begin(), a.end(), 0xFF), 16);
}

TEST(pair_key, arbitrary_bytes_of_any_length_are_read_safely) {
    std::mt19937 random(12345);
    for (const int linktype : {1, 276}) {
        reset_settings(4, linktype);
        for (int round = 0; round < 20000; ++round) {
            std::vector<uint8_t> bytes(random() % 120);
            for (auto &b : bytes) {
                b = static_cast<uint8_t>(random());
            }
            // Bias the type fields towards the ones the walk acts on.
            static constexpr uint16_t types[] = {0x0800, 0x86DD, 0x8100, 0x88A8, 0x8926, 0x9100};
            for (size_t at = linktype == 276 ? 0 : 12; at + 1 < bytes.size(); at += 4 + random() % 3) {
                if (random() % 2) {
                    const auto t = be16(types[random() % std::size(types)]);
                    bytes[at] = t[0];
                    bytes[at + 1] = t[1];
                }
            }
            endpoint s{}, d{};
            if (get_pair_key(packet_bytes(bytes.data(), bytes.size()), s, d)) {
                EXPECT_LT(classify_pair(s, d), num_files);
            }
        }
    }
}

}  // namespace
