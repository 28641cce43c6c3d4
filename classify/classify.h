// From a pair key to an output index.
#pragma once

#include "dissect/dissect.h"

#include <cstdint>

constexpr uint32_t PAIR_TABLE_SIZE = 48611;

uint32_t endpoint_weight(const endpoint &e);
uint32_t pair_hash(const endpoint &a, const endpoint &b);
uint16_t classify_pair(const endpoint &source, const endpoint &destination);

// Default mode: every pair, in either direction, keeps the output it was
// given at its first packet.
struct ip_pair {
    endpoint first;   // source of the pair's first packet
    endpoint second;  // destination of the pair's first packet
    uint16_t file;
};

void clear_pair_table();
uint16_t pair_table_lookup(const endpoint &source, const endpoint &destination);

// The same lookup in steps, so that the packet loop can start the memory
// reads for the packets it holds before it needs their answers. The hash is
// seeded per run and the same for both directions; it decides only where a
// pair is stored, never which output it gets.
uint32_t pair_key_hash(const endpoint &source, const endpoint &destination);
void prefetch_pair_slot(uint32_t hash);
void prefetch_pair_entry(uint32_t hash);
uint16_t pair_table_lookup_hashed(const endpoint &source, const endpoint &destination, uint32_t hash);
uint16_t least_loaded_file();
uint64_t pair_table_pairs();
