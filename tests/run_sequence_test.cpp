// The run on the built binary: which files appear, what they hold, and how
// read and write failures end it.
#include "support/run.h"
#include "support/traces.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

namespace fs = std::filesystem;

namespace {

std::vector<std::string> files_in(const std::string &dir) {
    std::vector<std::string> names;
    for (const auto &e : fs::directory_iterator(dir)) {
        names.push_back(e.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// A few packets of different pairs, so that both outputs get some.
std::vector<test_packet> small_trace() {
    std::vector<test_packet> packets = {
        tcp4("10.0.0.1", 21, "10.0.0.2", 25), tcp4("10.0.0.2", 25, "10.0.0.1", 21), udp4("10.0.0.3", "10.0.0.4"),
        arp_frame(), tcp6("2001:db8::1", 80, "2001:db8::2", 4000), tcp4("10.0.0.1", 21, "10.0.0.2", 25),
    };
    for (size_t i = 0; i < packets.size(); ++i) {
        packets[i].seconds = 1000 + static_cast<uint32_t>(i);
        packets[i].micros = static_cast<uint32_t>(i * 7);
    }
    return packets;
}

std::vector<test_packet> all_packets(const std::vector<std::string> &paths) {
    std::vector<test_packet> all;
    for (const auto &p : paths) {
        const auto r = read_trace(p);
        EXPECT_FALSE(r.read_error) << p;
        all.insert(all.end(), r.packets.begin(), r.packets.end());
    }
    return all;
}

TEST(run_sequence, empty_input_gives_every_output_with_only_the_header) {
    scratch_dir dir;
    write_trace(dir / "in.pcap", {});
    const run_result r = run_flowdeal({"in.pcap", "out%d.pcap", "3"}, in_dir(dir.path));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out + r.err, "");
    const auto header = read_file(dir / "in.pcap");
    for (const char *name : {"out0.pcap", "out1.pcap", "out2.pcap", "outweird.pcap"}) {
        EXPECT_EQ(read_file(dir / name), header) << name;
    }
    EXPECT_EQ(files_in(dir.path).size(), 5u);
}

TEST(run_sequence, pattern_text_around_the_number_is_kept) {
    scratch_dir dir;
    write_trace(dir / "in.pcap", small_trace());
    const run_result r = run_flowdeal({"in.pcap", "a%db", "3"}, in_dir(dir.path));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(files_in(dir.path), (std::vector<std::string>{"a0b", "a1b", "a2b", "aweirdb", "in.pcap"}));
}

TEST(run_sequence, every_packet_lands_once_unchanged_with_the_input_link_type) {
    scratch_dir dir;
    auto packets = small_trace();
    packets[2].len = 1500;  // captured short of its wire length
    write_file(dir / "in.pcap", savefile_bytes(packets, 1, 96));
    const run_result r = run_flowdeal({"in.pcap", "out%d", "2"}, in_dir(dir.path));
    ASSERT_EQ(r.status, 0) << r.err;
    const auto weird = read_trace(dir / "outweird");
    ASSERT_EQ(weird.packets.size(), 1u);
    EXPECT_EQ(weird.packets[0], packets[3]);
    auto placed = all_packets({dir / "out0", dir / "out1"});
    placed.insert(placed.end(), weird.packets.begin(), weird.packets.end());
    std::sort(placed.begin(), placed.end(), [](auto &a, auto &b) { return a.seconds < b.seconds; });
    EXPECT_EQ(placed, packets);
    for (const char *name : {"out0", "out1", "outweird"}) {
        const auto bytes = read_file(dir / name);
        ASSERT_GE(bytes.size(), 24u);
        EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 16, bytes.begin() + 24),
                  (std::vector<uint8_t>{96, 0, 0, 0, 1, 0, 0, 0}))
            << name << ": snapshot length and link type of the input";
    }
}

// One pair into one output: the output is the input, byte for byte, at
// either timestamp precision.
TEST(run_sequence, single_pair_output_is_identical_to_the_input) {
    for (const bool nano : {false, true}) {
        scratch_dir dir;
        std::vector<test_packet> packets;
        for (uint32_t i = 0; i < 5; ++i) {
            packets.push_back(i % 2 ? tcp4("10.0.0.2", 80, "10.0.0.1", 999) : tcp4("10.0.0.1", 999, "10.0.0.2", 80));
            packets.back().seconds = 1700000000 + i;
            packets.back().micros = nano ? 999999999 - i : 999999 - i;
        }
        packets[2].len = 9000;
        const auto input = savefile_bytes(packets, 1, 65535, nano);
        write_file(dir / "in.pcap", input);
        const run_result r = run_flowdeal({"in.pcap", "out%d", "1"}, in_dir(dir.path));
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(read_file(dir / "out0"), input) << (nano ? "nanosecond" : "microsecond") << " capture";
    }
}

TEST(run_sequence, reads_the_trace_from_standard_input) {
    scratch_dir dir;
    write_trace(dir / "in.pcap", small_trace());
    const run_result r = run_flowdeal({"-", "out%d", "2"}, in_dir(dir.path, dir / "in.pcap"));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(all_packets({dir / "out0", dir / "out1", dir / "outweird"}).size(), small_trace().size());
}

TEST(run_sequence, missing_directory_names_output_zero) {
    scratch_dir dir;
    write_trace(dir / "in.pcap", small_trace());
    const run_result r = run_flowdeal({"in.pcap", "nodir/out%d", "2"}, in_dir(dir.path));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "cannot open nodir/out0 for writing: No such file or directory\n");
}

TEST(run_sequence, output_that_cannot_be_created_leaves_earlier_ones_and_no_weird_file) {
    scratch_dir dir;
    write_trace(dir / "in.pcap", small_trace());
    fs::create_directory(dir / "out2");
    const run_result r = run_flowdeal({"in.pcap", "out%d", "4"}, in_dir(dir.path));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "cannot open out2 for writing: Is a directory\n");
    EXPECT_EQ(files_in(dir.path), (std::vector<std::string>{"in.pcap", "out0", "out1", "out2"}));
}

TEST(run_sequence, unopenable_input_is_reported_with_the_library_text) {
    scratch_dir dir;
    write_file(dir / "text", {'h', 'e', 'l', 'l', 'o', '\n'});
    write_file(dir / "empty", {});
    EXPECT_EQ(run_flowdeal({"text", "o%d", "2"}, in_dir(dir.path)).err,
              "error opening tracefile text: unknown file format\n");
    const run_result r = run_flowdeal({"empty", "o%d", "2"}, in_dir(dir.path));
    EXPECT_EQ(r.err, "error opening tracefile empty: truncated dump file; tried to read 4 file header bytes, only got 0\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(files_in(dir.path), (std::vector<std::string>{"empty", "text"}));
}

// The input must survive any pattern that names it, however it is reached.
struct input_as_output_case {
    std::string input;     // argument naming the input, "-" for standard input
    std::string link;      // when set, out1 is a symlink to this
    std::string expected;  // the name the message gives
};

void PrintTo(const input_as_output_case &c, std::ostream *os) {
    *os << "input " << c.input << (c.link.empty() ? "" : " behind a link");
}

class input_as_output : public testing::TestWithParam<input_as_output_case> {};

TEST_P(input_as_output, is_refused_and_left_untouched) {
    const auto &c = GetParam();
    scratch_dir dir;
    write_trace(dir / "out1", small_trace());
    const auto before = read_file(dir / "out1");
    if (!c.link.empty()) {
        fs::rename(dir / "out1", dir / c.link);
        fs::create_symlink(c.link, dir / "out1");
    }
    const std::string stored = c.link.empty() ? dir / "out1" : dir / c.link;
    const run_result r = run_flowdeal({c.input, "out%d", "3"}, in_dir(dir.path, c.input == "-" ? stored : ""));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "cannot open " + c.expected + " for writing: it is the input trace\n");
    EXPECT_EQ(read_file(stored), before);
    EXPECT_FALSE(fs::exists(dir / "out2"));
}

INSTANTIATE_TEST_SUITE_P(cases, input_as_output,
                         testing::Values(input_as_output_case{"out1", "", "out1"},
                                         input_as_output_case{"./out1", "", "out1"},
                                         input_as_output_case{"stored.pcap", "stored.pcap", "out1"},
                                         input_as_output_case{"-", "", "out1"}));

TEST(run_sequence, input_from_a_pipe_matches_no_output) {
    scratch_dir dir;
    write_trace(dir / "in.pcap", small_trace());
    fifo_feeder feeder(dir / "fifo", read_file(dir / "in.pcap"));
    const run_result r = run_flowdeal({"-", "out%d", "2"}, in_dir(dir.path, feeder.path));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(all_packets({dir / "out0", dir / "out1", dir / "outweird"}).size(), small_trace().size());
}

// A full disk behind one output, found whenever it shows.
struct write_failure_case {
    std::string full_output;
    std::vector<test_packet> packets;
};

void PrintTo(const write_failure_case &c, std::ostream *os) {
    *os << c.full_output << " full, " << c.packets.size() << " packets";
}

class write_failure : public testing::TestWithParam<write_failure_case> {};

TEST_P(write_failure, is_reported_with_the_output_name) {
    const auto &c = GetParam();
    scratch_dir dir;
    write_trace(dir / "in.pcap", c.packets);
    fs::create_symlink("/dev/full", dir / c.full_output);
    const run_result r = run_flowdeal({"in.pcap", "out%d", "2"}, in_dir(dir.path));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "error writing " + c.full_output + ": No space left on device\n");
    // The outputs on disk are still whole savefiles, record by record.
    for (const char *name : {"out0", "out1", "outweird"}) {
        if (name != c.full_output) {
            EXPECT_FALSE(read_trace(dir / name).read_error) << name;
        }
    }
}

std::vector<test_packet> many_packets(size_t n) {
    std::vector<test_packet> packets;
    for (size_t i = 0; i < n; ++i) {
        packets.push_back(i % 2 ? arp_frame() : tcp4("10.0.0.1", 1, "10.0.0.2", 2));
        packets.back().bytes.resize(1000);
    }
    return packets;
}

INSTANTIATE_TEST_SUITE_P(cases, write_failure,
                         testing::Values(write_failure_case{"out0", {}},           // only the header, at close
                                         write_failure_case{"outweird", {}},
                                         write_failure_case{"out0", many_packets(200)},  // in the loop
                                         write_failure_case{"outweird", many_packets(200)}));

TEST(run_sequence, failed_write_stops_before_reading_the_rest) {
    scratch_dir dir;
    write_trace(dir / "in.pcap", many_packets(20000));
    fs::create_symlink("/dev/full", dir / "out0");
    const run_result r = run_flowdeal({"in.pcap", "out%d", "2"}, in_dir(dir.path));
    EXPECT_EQ(r.err, "error writing out0: No space left on device\n");
    // Output 1 got nothing, since output 0 took the only pair; the weird output
    // was flushed, and holds far fewer than the 10000 ARP frames of the input.
    const auto weird = read_trace(dir / "outweird");
    EXPECT_LT(weird.packets.size(), 100u);
}

// A trace cut inside a record: what came before is kept, the run fails.
struct truncation_case {
    size_t cut_from_end;
    std::string reason;
};

void PrintTo(const truncation_case &c, std::ostream *os) {
    *os << "cut " << c.cut_from_end << " bytes from the end";
}

class truncated_trace : public testing::TestWithParam<truncation_case> {};

TEST_P(truncated_trace, keeps_earlier_packets_and_reports_the_read_error) {
    scratch_dir dir;
    const auto packets = small_trace();
    auto bytes = savefile_bytes(packets);
    bytes.resize(bytes.size() - GetParam().cut_from_end);
    write_file(dir / "in.pcap", bytes);
    const run_result r = run_flowdeal({"in.pcap", "out%d", "2"}, in_dir(dir.path));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "error reading tracefile in.pcap: truncated dump file; " + GetParam().reason + "\n");
    const auto kept = all_packets({dir / "out0", dir / "out1", dir / "outweird"});
    EXPECT_EQ(kept.size(), packets.size() - 1);
}

// The last packet has 54 captured bytes; its record header is 16 bytes.
INSTANTIATE_TEST_SUITE_P(cases, truncated_trace,
                         testing::Values(truncation_case{10, "tried to read 54 captured bytes, only got 44"},
                                         truncation_case{54 + 6, "tried to read 16 header bytes, only got 10"}));

}  // namespace
