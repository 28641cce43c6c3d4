// Classification: from a pair key to an output index.
#pragma once

#include "control/settings.h"
#include "dissect/dissect.h"

#include <array>
#include <cstddef>
#include <cstdint>

constexpr uint32_t PAIR_TABLE_SIZE = 48611;

// The symmetric hash of both modes, and "-d"'s output from it.
uint32_t endpoint_weight(const endpoint &e);
uint32_t pair_hash(const endpoint &a, const endpoint &b);
uint16_t deterministic_file(uint32_t hash);

// A pair as the table stores it: the two endpoints in a fixed order, so that
// both directions are one key, and the key's hash. The hash is keyed afresh
// every run; it decides only where a pair is stored, never which output it gets.
struct table_key {
    std::array<uint64_t, 4> address;  // the lower endpoint's address words, then the higher one's
    std::array<uint16_t, 2> port;     // their ports, in the same order
    uint32_t hash;
};

// One placed packet's pair on its way to an output: prepared when the packet
// is read, so that in the default mode the table's memory reads can start,
// and placed when it is written. In "-d" only the endpoints count.
struct pair_placement {
    endpoint source;
    endpoint destination;
    table_key key;  // default mode only
};

// The mode is decided in these, and nowhere else.
bool placement_waits_on_memory();  // the default mode: worth holding packets for
pair_placement prepare_pair(const endpoint &source, const endpoint &destination);
void prefetch_pair(const pair_placement &pair);
uint16_t place_pair(const pair_placement &pair);
// Both steps at once.
uint16_t classify_pair(const endpoint &source, const endpoint &destination);

// Default mode: every pair, in either direction, keeps the output it was
// given at its first packet.
void clear_pair_table();
void seed_table_key();
table_key make_table_key(const endpoint &source, const endpoint &destination);
void prefetch_pair_slot(const table_key &key);
void prefetch_pair_entry(const table_key &key);
uint16_t pair_table_lookup(const table_key &key);
uint64_t pair_table_pairs();

uint16_t least_loaded_file();
// The counts were set anew: the next choice looks at all of them.
void forget_loads();

// Memory for the table's big arrays: aligned for huge pages, zeroed, or null.
struct table_memory {
    void *base;
    size_t length;
};
void *allocate_table_memory(size_t bytes, table_memory &memory);
void free_table_memory(table_memory &memory);
