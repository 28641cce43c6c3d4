// Hostile conditions on the built binary: each must end with its message, the
// right status and nothing lost that was already written.
#include "support/run.h"
#include "support/traces.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

namespace fs = std::filesystem;

namespace {

std::vector<test_packet> few_packets() {
    return {tcp4("10.0.0.1", 1, "10.0.0.2", 2), udp4("10.0.0.3", "10.0.0.4"), arp_frame()};
}

TEST(faults, output_directory_without_write_permission) {
    scratch_dir dir;
    fs::permissions(dir.path, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                  fs::perms::others_read | fs::perms::others_exec);
    write_trace(dir / "in.pcap", few_packets());
    fs::permissions(dir / "in.pcap", fs::perms::owner_read | fs::perms::owner_write | fs::perms::others_read);
    fs::create_directory(dir / "locked");
    run_options options = in_dir(dir.path);
    if (getuid() == 0) {
        options.as_nobody = true;  // root writes anywhere: run as a user for whom it is locked
    } else {
        fs::permissions(dir / "locked", fs::perms::owner_read | fs::perms::owner_exec);
    }
    const run_result r = run_flowdeal({"in.pcap", "locked/o%d", "2"}, options);
    if (options.as_nobody && r.status == 127 && r.err.empty()) {
        GTEST_SKIP() << "user nobody cannot run the binary from this checkout";
    }
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "cannot open locked/o0 for writing: Permission denied\n");
    EXPECT_TRUE(fs::is_empty(dir / "locked"));
}

// Outputs of a pcapng input are nanosecond savefiles, so no interface's resolution loses a digit.
TEST(faults, pcapng_input_is_split_into_savefiles) {
    scratch_dir dir;
    auto packets = few_packets();
    for (size_t i = 0; i < packets.size(); ++i) {
        packets[i].seconds = 50 + static_cast<uint32_t>(i);
        packets[i].micros = 123;
    }
    write_file(dir / "in.pcapng", pcapng_bytes(packets));
    const run_result r = run_flowdeal({"in.pcapng", "o%d", "2"}, in_dir(dir.path));
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<test_packet> all;
    for (const char *name : {"o0", "o1", "oweird"}) {
        const auto bytes = read_file(dir / name);
        ASSERT_GE(bytes.size(), 4u);
        EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 4), (std::vector<uint8_t>{0x4d, 0x3c, 0xb2, 0xa1}));
        const auto t = read_trace(dir / name);
        all.insert(all.end(), t.packets.begin(), t.packets.end());
    }
    std::sort(all.begin(), all.end(), [](auto &a, auto &b) { return a.seconds < b.seconds; });
    EXPECT_EQ(all, packets);
}

TEST(faults, too_few_open_files_for_256_outputs) {
    scratch_dir dir;
    write_trace(dir / "in.pcap", few_packets());
    run_options options = in_dir(dir.path);
    options.open_files_limit = 64;
    const run_result r = run_flowdeal({"in.pcap", "o%d", "256"}, options);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    const std::string head = "cannot open o", tail = " for writing: Too many open files\n";
    ASSERT_GT(r.err.size(), head.size() + tail.size());
    ASSERT_EQ(r.err.substr(0, head.size()), head);
    ASSERT_EQ(r.err.substr(r.err.size() - tail.size()), tail);
    const std::string number = r.err.substr(head.size(), r.err.size() - head.size() - tail.size());
    ASSERT_EQ(number.find_first_not_of("0123456789"), std::string::npos) << r.err;
    const int failed = std::stoi(number);
    EXPECT_GT(failed, 0);
    EXPECT_LT(failed, 64);
    for (int i = 0; i < failed; ++i) {
        EXPECT_TRUE(fs::exists(dir / ("o" + std::to_string(i)))) << i;
    }
    EXPECT_FALSE(fs::exists(dir / ("o" + std::to_string(failed))));
    EXPECT_FALSE(fs::exists(dir / "oweird"));
}

TEST(faults, memory_exhaustion_with_many_pairs) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer needs far more address space than the limit allows";
#endif
    scratch_dir dir;
    constexpr int PAIRS = 400000;
    std::vector<test_packet> packets;
    packets.reserve(PAIRS);
    for (int i = 0; i < PAIRS; ++i) {
        packets.push_back(tcp4("10." + std::to_string(i >> 16) + "." + std::to_string((i >> 8) & 255) + "." +
                                   std::to_string(i & 255),
                               static_cast<uint16_t>(1000 + i % 50000), "192.168.0.1", 80));
    }
    write_trace(dir / "in.pcap", packets);
    run_options options = in_dir(dir.path);
    options.memory_limit = 40L << 20;
    const run_result r = run_flowdeal({"in.pcap", "o%d", "4"}, options);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "not enough memory to allocate another IP pair\n");
    // What was written before is readable, record by record.
    size_t kept = 0;
    for (const char *name : {"o0", "o1", "o2", "o3"}) {
        const auto t = read_trace(dir / name);
        EXPECT_FALSE(t.read_error) << name;
        kept += t.packets.size();
    }
    EXPECT_GT(kept, 0u);
    EXPECT_LT(kept, static_cast<size_t>(PAIRS));
}

}  // namespace
