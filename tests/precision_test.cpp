// Nothing of a record is lost on any route into the program: every timestamp
// digit from files, standard input and pipes, pcap or pcapng; and a failure to
// close an output is an error.
#include "support/run.h"
#include "support/traces.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

namespace fs = std::filesystem;

namespace {

const std::vector<std::string> OUTPUTS = {"o0", "o1", "o2", "oweird"};

// Packets whose seconds number them and whose fractions use every digit of `decimals`.
std::vector<test_packet> stamped_packets(int decimals) {
    std::vector<test_packet> packets = {tcp4("10.0.0.1", 21, "10.0.0.2", 25), tcp4("10.0.0.2", 25, "10.0.0.1", 21),
                                        udp4("10.0.0.3", "10.0.0.4"), arp_frame(),
                                        tcp6("2001:db8::1", 80, "2001:db8::2", 4000)};
    const uint32_t fractions[] = {123456789, 999999999, 1, 500000000, 987654321};
    uint32_t scale = 1;
    for (int i = decimals; i < 9; ++i) {
        scale *= 10;
    }
    for (size_t i = 0; i < packets.size(); ++i) {
        packets[i].seconds = 1700000000 + static_cast<uint32_t>(i);
        packets[i].micros = fractions[i] / scale;
    }
    return packets;
}

// All records of the outputs, at nanoseconds, in input order.
std::vector<test_packet> output_records(const scratch_dir &dir) {
    std::vector<test_packet> all;
    for (const std::string &name : OUTPUTS) {
        const auto t = read_trace(dir / name, true);
        EXPECT_FALSE(t.read_error) << name;
        all.insert(all.end(), t.packets.begin(), t.packets.end());
    }
    std::sort(all.begin(), all.end(), [](auto &a, auto &b) { return a.seconds < b.seconds; });
    return all;
}

std::vector<std::vector<uint8_t>> output_bytes(const scratch_dir &dir) {
    std::vector<std::vector<uint8_t>> all;
    for (const std::string &name : OUTPUTS) {
        all.push_back(read_file(dir / name));
    }
    return all;
}

enum class route { named_file, stdin_from_file, stdin_from_pipe, named_fifo };

struct route_case {
    const char *name;
    route how;
};

void PrintTo(const route_case &c, std::ostream *os) {
    *os << c.name;
}

// Runs the split with the input reaching the program by the given route.
run_result split_by(route how, const std::vector<uint8_t> &input, const scratch_dir &dir) {
    write_file(dir / "in", input);
    switch (how) {
    case route::named_file:
        return run_flowdeal({"in", "o%d", "3"}, in_dir(dir.path));
    case route::stdin_from_file:
        return run_flowdeal({"-", "o%d", "3"}, in_dir(dir.path, dir / "in"));
    case route::stdin_from_pipe: {
        fifo_feeder feeder(dir / "fifo", input);
        return run_flowdeal({"-", "o%d", "3"}, in_dir(dir.path, feeder.path));
    }
    case route::named_fifo: {
        fifo_feeder feeder(dir / "fifo", input);
        return run_flowdeal({"fifo", "o%d", "3"}, in_dir(dir.path));
    }
    }
    return {};
}

struct format_case {
    const char *name;
    std::vector<uint8_t> bytes;
};

class every_route : public testing::TestWithParam<route_case> {};

// Each capture format, by every route: the outputs hold exactly the input's
// records as libpcap reads them at nanoseconds, and are the very bytes that the
// same capture gives when named as a file.
TEST_P(every_route, keeps_every_timestamp_digit) {
    const std::vector<format_case> formats = {
        {"nanosecond pcap", savefile_bytes(stamped_packets(9), 1, 65535, true)},
        {"microsecond pcap", savefile_bytes(stamped_packets(6))},
        {"nanosecond pcapng", pcapng_bytes(stamped_packets(9), 9)},
        {"microsecond pcapng", pcapng_bytes(stamped_packets(6), 6)},
        {"millisecond pcapng", pcapng_bytes(stamped_packets(3), 3)},
    };
    for (const format_case &f : formats) {
        SCOPED_TRACE(f.name);
        scratch_dir direct, routed;
        ASSERT_EQ(split_by(route::named_file, f.bytes, direct).status, 0);
        const run_result r = split_by(GetParam().how, f.bytes, routed);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out + r.err, "");
        EXPECT_EQ(output_records(routed), read_trace(direct / "in", true).packets);
        EXPECT_EQ(output_bytes(routed), output_bytes(direct));
    }
}

INSTANTIATE_TEST_SUITE_P(routes, every_route,
                         testing::Values(route_case{"named_file", route::named_file},
                                         route_case{"stdin_from_file", route::stdin_from_file},
                                         route_case{"stdin_from_pipe", route::stdin_from_pipe},
                                         route_case{"named_fifo", route::named_fifo}));

TEST(precision, microsecond_pcap_through_a_pipe_gives_microsecond_outputs) {
    scratch_dir dir;
    ASSERT_EQ(split_by(route::stdin_from_pipe, savefile_bytes(stamped_packets(6)), dir).status, 0);
    for (const std::string &name : OUTPUTS) {
        const auto bytes = read_file(dir / name);
        ASSERT_GE(bytes.size(), 4u);
        EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 4), (std::vector<uint8_t>{0xd4, 0xc3, 0xb2, 0xa1}));
    }
}

// Input shorter than a magic number, or not a capture, by a pipe: the
// library's own refusal, as for a file.
TEST(precision, pipe_that_is_not_a_capture_is_refused_as_a_file_is) {
    for (const std::vector<uint8_t> &bytes : {std::vector<uint8_t>{}, {0xd4, 0xc3}, {'h', 'e', 'l', 'l', 'o', '\n'}}) {
        scratch_dir direct, piped;
        const run_result from_file = split_by(route::named_file, bytes, direct);
        const run_result from_pipe = split_by(route::stdin_from_pipe, bytes, piped);
        EXPECT_EQ(from_pipe.status, 1);
        EXPECT_EQ(from_file.err.substr(from_file.err.find(':')), from_pipe.err.substr(from_pipe.err.find(':')));
        EXPECT_FALSE(fs::exists(piped / "o0"));
    }
}

// The held-packet buffer filled to its last byte, then a record of no bytes.
TEST(precision, record_of_no_bytes_after_an_exactly_full_buffer) {
    scratch_dir dir;
    std::vector<test_packet> packets(3, tcp4("10.0.0.1", 1, "10.0.0.2", 2));
    packets[0].bytes.resize(32768, 0x11);
    packets[1].bytes.resize(32768, 0x22);
    packets[2].bytes.clear();
    packets[2].len = 60;
    for (uint32_t i = 0; i < packets.size(); ++i) {
        packets[i].seconds = i;
    }
    write_file(dir / "in", savefile_bytes(packets, 1, 262144));
    const run_result r = run_flowdeal({"in", "o%d", "3"}, in_dir(dir.path));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_trace(dir / "o0").packets, std::vector<test_packet>(packets.begin(), packets.begin() + 2));
    EXPECT_EQ(read_trace(dir / "oweird").packets, std::vector<test_packet>(packets.begin() + 2, packets.end()));
}

class close_failure : public testing::TestWithParam<std::string> {};

TEST_P(close_failure, is_reported_and_the_other_outputs_are_complete) {
    const std::string failing = GetParam();
    scratch_dir dir;
    const auto packets = stamped_packets(6);
    write_trace(dir / "in", packets);
    run_options options = in_dir(dir.path);
    // A sanitizer runtime would otherwise insist on being preloaded first.
    options.environment = {{"LD_PRELOAD", FAIL_CLOSE_LIBRARY},
                           {"FLOWDEAL_FAIL_CLOSE", failing},
                           {"ASAN_OPTIONS", "verify_asan_link_order=0"}};
    const run_result r = run_flowdeal({"in", "o%d", "3"}, options);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "error writing " + failing + ": Input/output error\n");
    size_t kept = 0;
    for (const std::string &name : OUTPUTS) {
        const auto t = read_trace(dir / name);
        EXPECT_FALSE(t.read_error) << name;
        kept += t.packets.size();
    }
    EXPECT_EQ(kept, packets.size()) << "the failing output was written whole before its close";
}

INSTANTIATE_TEST_SUITE_P(outputs, close_failure, testing::Values("o0", "o1", "oweird"));

}  // namespace
