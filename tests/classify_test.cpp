// Pair hash, deterministic choice and the pair table with least-loaded assignment.
#include "support/settings.h"

#include <gtest/gtest.h>

#include <map>
#include <random>

namespace {

endpoint v4(uint8_t a, uint8_t b, uint8_t c, uint8_t d, uint16_t port) {
    endpoint e{};
    e.address = {a, b, c, d};
    e.port = port;
    return e;
}

// An endpoint whose address bytes sum to `sum` (at most 16 * 255).
endpoint weighing(uint32_t sum, uint16_t port) {
    endpoint e{};
    for (auto &byte : e.address) {
        byte = static_cast<uint8_t>(std::min<uint32_t>(sum, 255));
        sum -= byte;
    }
    e.port = port;
    return e;
}

// Classifies one packet the way the packet loop does, counting it.
uint16_t send(const endpoint &source, const endpoint &destination) {
    const uint16_t k = classify_pair(source, destination);
    EXPECT_LT(k, num_files);
    ++output_files[k].packets;
    return k;
}

TEST(pair_hash, worked_examples) {
    const endpoint s = v4(10, 0, 0, 1, 21), d = v4(10, 0, 0, 2, 25);
    EXPECT_EQ(endpoint_weight(s), 231u);
    EXPECT_EQ(endpoint_weight(d), 300u);
    EXPECT_EQ(pair_hash(s, d), 531u);
    EXPECT_EQ(pair_hash(d, s), 531u);
    EXPECT_EQ(pair_hash(v4(192, 168, 1, 1, 0), v4(192, 168, 1, 2, 0)), 725u);
    EXPECT_EQ(pair_hash(weighing(1, 48610), weighing(1, 1)), 0u);
    EXPECT_EQ(pair_hash(weighing(1, 48610), weighing(6, 0)), 5u);
    // The largest sum does not overflow.
    const endpoint heavy = weighing(16 * 255, 65535);
    EXPECT_EQ(pair_hash(heavy, heavy), (2u * 16 * 255 * 65535) % PAIR_TABLE_SIZE);
    // Ports 0 and 1 weigh the same; all-zero addresses weigh nothing.
    EXPECT_EQ(endpoint_weight(v4(1, 2, 3, 4, 0)), endpoint_weight(v4(1, 2, 3, 4, 1)));
    EXPECT_EQ(endpoint_weight(v4(0, 0, 0, 0, 443)), 0u);
}

TEST(pair_hash, address_byte_sum_matches_a_plain_sum) {
    std::mt19937_64 random(3);
    for (int i = 0; i < 100000; ++i) {
        endpoint e{};
        uint32_t sum = 0;
        for (auto &byte : e.address) {
            byte = static_cast<uint8_t>(i % 7 == 0 ? 255 : random());
            sum += byte;
        }
        e.port = static_cast<uint16_t>(random());
        ASSERT_EQ(endpoint_weight(e), sum * (e.port == 0 ? 1 : e.port));
    }
}

TEST(deterministic, index_is_exactly_the_remainder_for_every_hash_and_file_count) {
    // An endpoint of weight h against one of weight 0 gives pair_hash h.
    reset_settings();
    deterministic = 1;
    const endpoint zero = weighing(0, 0);
    for (uint32_t files = 1; files <= 256; ++files) {
        num_files = static_cast<uint16_t>(files);
        for (uint32_t h = 0; h < PAIR_TABLE_SIZE; ++h) {
            const endpoint e = h == 0 ? zero : weighing(1, static_cast<uint16_t>(h));
            ASSERT_EQ(classify_pair(e, zero), h % files) << h << " over " << files;
        }
    }
}

struct deterministic_case {
    endpoint source, destination;
    uint16_t files, expected;
};

TEST(deterministic, is_the_hash_modulo_the_file_count_in_both_directions) {
    const std::vector<deterministic_case> cases = {
        {v4(10, 0, 0, 1, 21), v4(10, 0, 0, 2, 25), 3, 0},  {v4(10, 0, 0, 1, 21), v4(10, 0, 0, 2, 25), 4, 3},
        {v4(192, 168, 1, 1, 0), v4(192, 168, 1, 2, 0), 4, 1}, {v4(0, 0, 0, 0, 80), v4(0, 0, 0, 0, 9), 7, 0},
        {v4(10, 9, 8, 7, 6), v4(5, 4, 3, 2, 1), 1, 0},         {weighing(1, 48610), weighing(6, 0), 256, 5},
    };
    for (const auto &c : cases) {
        reset_settings(c.files);
        deterministic = 1;
        EXPECT_EQ(send(c.source, c.destination), c.expected);
        EXPECT_EQ(send(c.destination, c.source), c.expected);
        EXPECT_EQ(pair_table_pairs(), 0u) << "deterministic mode stores nothing";
    }
}

TEST(least_loaded_file, takes_the_first_empty_output_or_the_lowest_smallest) {
    struct load_case {
        std::vector<uint64_t> counts;
        uint16_t expected;
    };
    const std::vector<load_case> cases = {
        {{4, 2, 2}, 1}, {{5, 0, 0}, 1}, {{0, 0, 0}, 0}, {{3, 3, 3}, 0}, {{9, 8, 7, 6, 1}, 4},
        {{1, 2, 0, 1}, 2}, {{UINT64_MAX, UINT64_MAX - 1}, 1}, {{7}, 0},
    };
    for (const auto &c : cases) {
        reset_settings(static_cast<uint16_t>(c.counts.size()));
        for (size_t i = 0; i < c.counts.size(); ++i) {
            output_files[i].packets = c.counts[i];
        }
        EXPECT_EQ(least_loaded_file(), c.expected);
    }
}

// The plain scan: the first empty output, else the lowest with the smallest count.
uint16_t scanned_least_loaded() {
    uint16_t best = 0;
    for (uint16_t i = 0; i < num_files; ++i) {
        if (output_files[i].packets < output_files[best].packets) {
            best = i;
        }
    }
    return best;
}

// Writes as the loop makes them: to the chosen output (a new pair's first
// packet), to a few heavy outputs in bursts far past the level window, and
// anywhere; after each, the choice must be the scan's.
TEST(least_loaded_file, is_the_plain_scan_on_random_write_sequences) {
    for (const uint16_t files : {1, 2, 3, 16, 256}) {
        reset_settings(files);
        std::mt19937_64 random(files * 7 + 1);
        for (int step = 0; step < 200000; ++step) {
            const uint16_t chosen = least_loaded_file();
            ASSERT_EQ(chosen, scanned_least_loaded()) << files << " outputs, step " << step;
            const uint64_t r = random() % 100;
            uint16_t written = chosen;
            uint64_t burst = 1;
            if (r < 10) {
                written = static_cast<uint16_t>(random() % std::min<uint16_t>(files, 3));
                burst = 1 + random() % 200;
            } else if (r < 40) {
                written = static_cast<uint16_t>(random() % files);
            }
            output_files[written].packets += burst;
        }
    }
}

TEST(pair_table, new_pairs_go_to_the_least_loaded_output_and_keep_it) {
    reset_settings(3);
    const endpoint p1 = v4(10, 0, 0, 1, 1000), p2 = v4(10, 0, 0, 2, 80);
    const endpoint q1 = v4(10, 0, 0, 3, 1001), q2 = v4(10, 0, 0, 4, 80);
    const endpoint r1 = v4(10, 0, 0, 5, 1002), r2 = v4(10, 0, 0, 6, 80);
    const endpoint s1 = v4(10, 0, 0, 7, 1003), s2 = v4(10, 0, 0, 8, 80);
    EXPECT_EQ(send(p1, p2), 0);
    EXPECT_EQ(send(q1, q2), 1);
    EXPECT_EQ(send(r1, r2), 2);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(send(i % 2 ? p2 : p1, i % 2 ? p1 : p2), 0);
    }
    EXPECT_EQ(send(q2, q1), 1);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(send(r1, r2), 2);
    }
    EXPECT_EQ(output_files[0].packets, 6u);
    EXPECT_EQ(output_files[1].packets, 2u);
    EXPECT_EQ(output_files[2].packets, 4u);
    EXPECT_EQ(send(s1, s2), 1);
    EXPECT_EQ(send(s2, s1), 1);
    EXPECT_EQ(pair_table_pairs(), 4u);
}

TEST(pair_table, pairs_that_hash_alike_stay_distinct) {
    reset_settings(4);
    // Same pair_hash: ports 0 and 1 weigh alike, and so do rearranged bytes.
    const endpoint a0 = v4(10, 0, 0, 1, 0), b0 = v4(10, 0, 0, 2, 0);
    const endpoint a1 = v4(10, 0, 0, 1, 1), b1 = v4(10, 0, 0, 2, 1);
    const endpoint c = v4(0, 0, 10, 1, 0), d = v4(2, 10, 0, 0, 0);
    ASSERT_EQ(pair_hash(a0, b0), pair_hash(a1, b1));
    ASSERT_EQ(pair_hash(a0, b0), pair_hash(c, d));
    EXPECT_EQ(send(a0, b0), 0);
    EXPECT_EQ(send(a1, b1), 1);
    EXPECT_EQ(send(c, d), 2);
    EXPECT_EQ(send(b1, a1), 1);
    EXPECT_EQ(send(b0, a0), 0);
    EXPECT_EQ(send(d, c), 2);
    EXPECT_EQ(pair_table_pairs(), 3u);
    // A pair of one endpoint with itself is one pair too.
    EXPECT_EQ(send(a0, a0), 3);
    EXPECT_EQ(send(a0, a0), 3);
}

TEST(pair_table, with_one_output_every_pair_gets_it) {
    reset_settings(1);
    for (uint8_t i = 0; i < 50; ++i) {
        EXPECT_EQ(send(v4(10, 0, 0, i, 1), v4(10, 0, 1, i, 2)), 0);
    }
}

// A plain map of the unordered pair, assigning as the table must.
struct reference_model {
    std::map<std::pair<std::vector<uint8_t>, std::vector<uint8_t>>, uint16_t> pairs;
    std::vector<uint64_t> counts;

    static std::vector<uint8_t> key(const endpoint &e) {
        std::vector<uint8_t> k(e.address.begin(), e.address.end());
        k.push_back(static_cast<uint8_t>(e.port >> 8));
        k.push_back(static_cast<uint8_t>(e.port));
        return k;
    }

    uint16_t send(const endpoint &s, const endpoint &d) {
        auto a = key(s), b = key(d);
        if (b < a) {
            std::swap(a, b);
        }
        auto it = pairs.find({a, b});
        if (it == pairs.end()) {
            uint16_t best = 0;
            for (uint16_t i = 0; i < counts.size(); ++i) {
                if (counts[i] < counts[best]) {
                    best = i;
                }
            }
            it = pairs.emplace(std::make_pair(a, b), best).first;
        }
        ++counts[it->second];
        return it->second;
    }
};

TEST(pair_table, matches_a_plain_map_over_many_clustered_pairs) {
    for (const uint16_t files : {1, 3, 16, 256}) {
        reset_settings(files);
        reference_model model;
        model.counts.assign(files, 0);
        std::mt19937_64 random(files);
        std::vector<std::pair<endpoint, endpoint>> seen;
        // Addresses cluster in few bytes, so many pairs share pair_hash;
        // the table grows through several sizes on the way.
        for (int i = 0; i < 150000; ++i) {
            std::pair<endpoint, endpoint> p;
            if (!seen.empty() && random() % 3 == 0) {
                p = seen[random() % seen.size()];
                if (random() % 2) {
                    std::swap(p.first, p.second);
                }
            } else {
                const auto r = random();
                p = {v4(10, 0, r & 0x3F, (r >> 8) & 0xFF, static_cast<uint16_t>((r >> 16) % 40)),
                     v4(10, 1, (r >> 24) & 0x3, (r >> 32) & 0xFF, static_cast<uint16_t>(r % 2 ? 80 : 443))};
                if ((r >> 40) % 4 == 0) {
                    p.first.address = {};
                    p.first.address[15] = static_cast<uint8_t>(r >> 48);  // IPv6-style endpoint
                }
                seen.push_back(p);
            }
            ASSERT_EQ(send(p.first, p.second), model.send(p.first, p.second)) << "packet " << i;
        }
        EXPECT_EQ(pair_table_pairs(), model.pairs.size());
    }
}

}  // namespace
