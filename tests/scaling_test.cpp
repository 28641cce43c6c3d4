// With "-d" a pair's output depends on its key alone: two captures divided
// separately give, output by output, exactly the records of the two divided
// as one, so the work can be spread over files and machines.
#include "support/run.h"
#include "support/traces.h"

#include <gtest/gtest.h>

#include <random>

namespace {

// Pairs that recur across both captures, in both directions, with non-IP mixed in.
std::vector<test_packet> random_trace(std::mt19937 &random, uint32_t first_second, size_t count) {
    std::vector<test_packet> packets;
    for (size_t i = 0; i < count; ++i) {
        const int host = static_cast<int>(random() % 40);
        const std::string a = "10.1." + std::to_string(host % 4) + "." + std::to_string(host);
        const std::string b = "192.168.7." + std::to_string(host % 6);
        const uint16_t port = static_cast<uint16_t>(1024 + random() % 8);
        const bool reply = random() % 2;
        switch (random() % 6) {
        case 0:
            packets.push_back(udp4(reply ? b : a, reply ? a : b));
            break;
        case 1:
            packets.push_back(tcp6("2001:db8::" + std::to_string(host), reply ? 443 : port, "2001:db8:1::1",
                                   reply ? port : 443));
            break;
        case 2:
            packets.push_back(arp_frame());
            break;
        default:
            packets.push_back(reply ? tcp4(b, 80, a, port) : tcp4(a, port, b, 80));
        }
        packets.back().seconds = first_second + static_cast<uint32_t>(i);
    }
    return packets;
}

// The records of each output (the unclassified one last) of one "-d" run.
std::vector<std::vector<test_packet>> split_deterministic(const std::vector<test_packet> &trace, int files,
                                                          const std::vector<std::string> &options) {
    scratch_dir dir;
    write_trace(dir / "in.pcap", trace);
    std::vector<std::string> args = options;
    args.insert(args.end(), {"-d", "in.pcap", "out%d", std::to_string(files)});
    const run_result r = run_flowdeal(args, in_dir(dir.path));
    EXPECT_EQ(r.status, 0) << r.err;
    std::vector<std::vector<test_packet>> outputs;
    for (int k = 0; k <= files; ++k) {
        outputs.push_back(read_trace(dir / (k < files ? "out" + std::to_string(k) : "outweird")).packets);
    }
    return outputs;
}

TEST(scaling, separate_deterministic_runs_merge_into_the_joined_run) {
    std::mt19937 random(2026);
    const auto first = random_trace(random, 1000, 600);
    const auto second = random_trace(random, 5000, 600);
    std::vector<test_packet> joined = first;
    joined.insert(joined.end(), second.begin(), second.end());
    for (const std::vector<std::string> &options :
         {std::vector<std::string>{}, {"--notcp"}, {"--p4", "16", "--p6", "64"}}) {
        for (const int files : {1, 7, 256}) {
            SCOPED_TRACE(testing::Message() << files << " outputs, " << options.size() << " option words");
            const auto apart_first = split_deterministic(first, files, options);
            const auto apart_second = split_deterministic(second, files, options);
            const auto together = split_deterministic(joined, files, options);
            size_t used = 0;
            for (int k = 0; k <= files; ++k) {
                std::vector<test_packet> merged = apart_first[k];
                merged.insert(merged.end(), apart_second[k].begin(), apart_second[k].end());
                EXPECT_EQ(merged, together[k]) << "output " << k;
                used += together[k].empty() ? 0 : 1;
            }
            EXPECT_GT(used, files == 1 ? 1u : 2u) << "the records spread over several outputs";
        }
    }
}

}  // namespace
