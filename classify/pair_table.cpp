// Default mode: each pair keeps the output it was given at its first packet.
//
// Which output a pair gets depends only on the order of first packets and the
// packet counts, never on where the pair is stored. So the table is laid out
// for speed and safety: an open-addressing index (linear probing, at most 3/4
// full, doubled when needed) keyed by a seeded SipHash of the unordered pair,
// over entries kept in large blocks that never move. Crafted addresses cannot
// make probe runs long, since the seed is drawn afresh for every run.
#include "classify/classify.h"
#include "control/control.h"

#include <sys/mman.h>
#include <sys/random.h>

#include <cstring>
#include <ctime>
#include <unistd.h>

namespace {

struct pair_slot {
    uint32_t hash;   // low 32 bits of the pair's hash
    uint32_t entry;  // entry number + 1; 0 for an empty slot
};

constexpr uint64_t INITIAL_SLOTS = 1024;
constexpr uint64_t MAX_SLOTS = uint64_t{1} << 32;  // slot positions come from 32 hash bits
constexpr uint32_t PAIR_BLOCK_BITS = 16;
constexpr uint32_t PAIR_BLOCK_SIZE = uint32_t{1} << PAIR_BLOCK_BITS;
constexpr uint32_t MAX_PAIR_BLOCKS = uint32_t{1} << (32 - PAIR_BLOCK_BITS);
constexpr uint64_t MAX_PAIRS = uint64_t{UINT32_MAX} - 1;

// Big, randomly probed arrays: backed by huge pages where the kernel allows,
// which saves a TLB miss on most lookups of a large table.
constexpr size_t HUGE_PAGE_SIZE = size_t{2} << 20;

struct table_memory {
    void *base;
    size_t length;
};

pair_slot *pair_table = nullptr;
table_memory pair_table_memory{nullptr, 0};
uint64_t slot_mask = 0;
uint64_t pair_count = 0;
ip_pair *pair_blocks[MAX_PAIR_BLOCKS];
table_memory pair_block_memory[MAX_PAIR_BLOCKS];
uint64_t hash_key[2];

[[noreturn]] void out_of_pair_memory() {
    fatal("not enough memory to allocate another IP pair\n");
}

// Zeroed memory aligned to a huge page, or null when there is none.
void *allocate_table_memory(size_t bytes, table_memory &memory) {
    const size_t length = bytes + HUGE_PAGE_SIZE;
    void *base = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (base == MAP_FAILED) {
        return nullptr;
    }
    const uintptr_t aligned = (reinterpret_cast<uintptr_t>(base) + HUGE_PAGE_SIZE - 1) & ~(HUGE_PAGE_SIZE - 1);
    madvise(reinterpret_cast<void *>(aligned), bytes, MADV_HUGEPAGE);  // only advice: fine if refused
    memory = {base, length};
    return reinterpret_cast<void *>(aligned);
}

void free_table_memory(table_memory &memory) {
    if (memory.base != nullptr) {
        munmap(memory.base, memory.length);
    }
    memory = {nullptr, 0};
}

void seed_hash() {
    if (getrandom(hash_key, sizeof hash_key, 0) != static_cast<ssize_t>(sizeof hash_key)) {
        // No kernel entropy: still vary the seed between runs.
        hash_key[0] = static_cast<uint64_t>(std::time(nullptr)) * 0x9E3779B97F4A7C15u;
        hash_key[1] = static_cast<uint64_t>(getpid()) ^ reinterpret_cast<uintptr_t>(&hash_key);
    }
}

constexpr uint64_t rotl(uint64_t x, int b) {
    return (x << b) | (x >> (64 - b));
}

inline void sip_round(uint64_t &v0, uint64_t &v1, uint64_t &v2, uint64_t &v3) {
    v0 += v1; v1 = rotl(v1, 13); v1 ^= v0; v0 = rotl(v0, 32);
    v2 += v3; v3 = rotl(v3, 16); v3 ^= v2;
    v0 += v3; v3 = rotl(v3, 21); v3 ^= v0;
    v2 += v1; v1 = rotl(v1, 17); v1 ^= v2; v2 = rotl(v2, 32);
}

// SipHash-1-3 of a few whole message words.
template <size_t N>
inline uint64_t sip_hash(const std::array<uint64_t, N> &m) {
    uint64_t v0 = hash_key[0] ^ 0x736f6d6570736575u;
    uint64_t v1 = hash_key[1] ^ 0x646f72616e646f6du;
    uint64_t v2 = hash_key[0] ^ 0x6c7967656e657261u;
    uint64_t v3 = hash_key[1] ^ 0x7465646279746573u;
    for (const uint64_t word : m) {
        v3 ^= word;
        sip_round(v0, v1, v2, v3);
        v0 ^= word;
    }
    v2 ^= 0xff;
    sip_round(v0, v1, v2, v3);
    sip_round(v0, v1, v2, v3);
    sip_round(v0, v1, v2, v3);
    return v0 ^ v1 ^ v2 ^ v3;
}

struct endpoint_words {
    uint64_t first, second;
    uint16_t port;
};

endpoint_words words_of(const endpoint &e) {
    endpoint_words w;
    std::memcpy(&w.first, e.address.data(), 8);
    std::memcpy(&w.second, e.address.data() + 8, 8);
    w.port = e.port;
    return w;
}

// Any fixed total order will do: it only has to put both directions alike.
bool words_less(const endpoint_words &a, const endpoint_words &b) {
    if (a.first != b.first) {
        return a.first < b.first;
    }
    if (a.second != b.second) {
        return a.second < b.second;
    }
    return a.port < b.port;
}

ip_pair &pair_entry(uint32_t number) {
    return pair_blocks[number >> PAIR_BLOCK_BITS][number & (PAIR_BLOCK_SIZE - 1)];
}

void place_slot(pair_slot *table, uint64_t mask, pair_slot slot) {
    uint64_t i = slot.hash & mask;
    while (table[i].entry != 0) {
        i = (i + 1) & mask;
    }
    table[i] = slot;
}

void grow_pair_table() {
    const uint64_t old_slots = pair_table == nullptr ? 0 : slot_mask + 1;
    const uint64_t new_slots = old_slots == 0 ? INITIAL_SLOTS : old_slots * 2;
    if (new_slots > MAX_SLOTS) {
        out_of_pair_memory();
    }
    table_memory memory;
    auto *table = static_cast<pair_slot *>(allocate_table_memory(new_slots * sizeof(pair_slot), memory));
    if (table == nullptr) {
        out_of_pair_memory();
    }
    for (uint64_t i = 0; i < old_slots; ++i) {
        if (pair_table[i].entry != 0) {
            place_slot(table, new_slots - 1, pair_table[i]);
        }
    }
    free_table_memory(pair_table_memory);
    pair_table = table;
    pair_table_memory = memory;
    slot_mask = new_slots - 1;
}

uint32_t add_pair(const endpoint &source, const endpoint &destination) {
    if (pair_count >= MAX_PAIRS) {
        out_of_pair_memory();
    }
    const auto number = static_cast<uint32_t>(pair_count);
    ip_pair *&block = pair_blocks[number >> PAIR_BLOCK_BITS];
    if (block == nullptr) {
        block = static_cast<ip_pair *>(allocate_table_memory(sizeof(ip_pair) * PAIR_BLOCK_SIZE,
                                                             pair_block_memory[number >> PAIR_BLOCK_BITS]));
        if (block == nullptr) {
            out_of_pair_memory();
        }
    }
    ip_pair &entry = pair_entry(number);
    entry.first = source;
    entry.second = destination;
    entry.file = least_loaded_file();
    ++pair_count;
    return number;
}

}  // namespace

void clear_pair_table() {
    free_table_memory(pair_table_memory);
    pair_table = nullptr;
    slot_mask = 0;
    pair_count = 0;
    for (uint32_t i = 0; i < MAX_PAIR_BLOCKS && pair_blocks[i] != nullptr; ++i) {
        free_table_memory(pair_block_memory[i]);
        pair_blocks[i] = nullptr;
    }
    seed_hash();
}

// The same for both directions: the endpoints are put in a fixed order first.
// Keys whose upper address halves are zero (IPv4) are hashed as three words
// instead of five; the length word keeps the two encodings apart.
uint32_t pair_key_hash(const endpoint &a, const endpoint &b) {
    endpoint_words low = words_of(a);
    endpoint_words high = words_of(b);
    if (words_less(high, low)) {
        std::swap(low, high);
    }
    const uint64_t ports = uint64_t{low.port} | uint64_t{high.port} << 16;
    if ((low.second | high.second) == 0) {
        return static_cast<uint32_t>(sip_hash(std::array<uint64_t, 3>{low.first, high.first, ports | uint64_t{20} << 56}));
    }
    return static_cast<uint32_t>(
        sip_hash(std::array<uint64_t, 5>{low.first, low.second, high.first, high.second, ports | uint64_t{36} << 56}));
}

void prefetch_pair_slot(uint32_t hash) {
    if (pair_table != nullptr) {
        __builtin_prefetch(&pair_table[hash & slot_mask]);
    }
}

void prefetch_pair_entry(uint32_t hash) {
    if (pair_table != nullptr) {
        const pair_slot slot = pair_table[hash & slot_mask];
        if (slot.entry != 0 && slot.hash == hash) {
            __builtin_prefetch(&pair_entry(slot.entry - 1));
        }
    }
}

uint16_t pair_table_lookup(const endpoint &source, const endpoint &destination) {
    return pair_table_lookup_hashed(source, destination, pair_key_hash(source, destination));
}

uint16_t pair_table_lookup_hashed(const endpoint &source, const endpoint &destination, uint32_t hash) {
    if (pair_table == nullptr || (pair_count + 1) * 4 > (slot_mask + 1) * 3) {
        grow_pair_table();
    }
    uint64_t i = hash & slot_mask;
    for (; pair_table[i].entry != 0; i = (i + 1) & slot_mask) {
        if (pair_table[i].hash != hash) {
            continue;
        }
        const ip_pair &entry = pair_entry(pair_table[i].entry - 1);
        if ((entry.first == source && entry.second == destination) ||
            (entry.second == source && entry.first == destination)) {
            return entry.file;
        }
    }
    const uint32_t number = add_pair(source, destination);
    pair_table[i] = {hash, number + 1};
    return pair_entry(number).file;
}

uint16_t least_loaded_file() {
    uint16_t best = 0;
    for (uint16_t i = 0; i < num_files; ++i) {
        if (output_files[i].packets == 0) {
            return i;
        }
        if (output_files[i].packets < output_files[best].packets) {
            best = i;
        }
    }
    return best;
}

uint64_t pair_table_pairs() {
    return pair_count;
}
