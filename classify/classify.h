// From a pair key to an output index.
#pragma once

#include "dissect/dissect.h"

#include <array>
#include <cstdint>

constexpr uint32_t PAIR_TABLE_SIZE = 48611;

uint32_t endpoint_weight(const endpoint &e);
uint32_t pair_hash(const endpoint &a, const endpoint &b);
uint16_t classify_pair(const endpoint &source, const endpoint &destination);

// Default mode: every pair, in either direction, keeps the output it was
// given at its first packet.
void clear_pair_table();

// A pair as the table stores it: the two endpoints in a fixed order, so that
// both directions are one key, and the key's hash. The hash is seeded per run;
// it decides only where a pair is stored, never which output it gets. Made
// once per packet, so that the packet loop can start the table's memory read
// for the packets it holds before it needs their answers.
struct table_key {
    std::array<uint64_t, 4> address;  // the lower endpoint's address words, then the higher one's
    std::array<uint16_t, 2> port;     // their ports, in the same order
    uint32_t hash;
};

table_key make_table_key(const endpoint &source, const endpoint &destination);
void prefetch_pair_slot(const table_key &key);
void prefetch_pair_entry(const table_key &key);
uint16_t pair_table_lookup(const table_key &key);
uint64_t pair_table_pairs();

uint16_t least_loaded_file();
// The counts were set anew: the next choice looks at all of them.
void forget_loads();
