// Default mode: each pair keeps the output it was given at its first packet.
//
// Which output a pair gets depends only on the order of first packets and the
// packet counts, never on where the pair is stored. So the table is laid out
// for speed and safety: an open-addressing index (linear probing, at most 3/4
// full, doubled when needed) of 8-byte slots, each a key's hash and the number
// of its entry; entries hold the key and its output, in large blocks that
// never move. The index is small enough to stay mostly in the last-level
// cache even at millions of pairs, so a new pair is decided there and a known
// cold pair costs one miss, for its entry. (Slots that hold the whole key cost
// the same in a run and half as much memory again: measured, not kept.)
// Crafted addresses cannot make probe runs long, since the hash is keyed
// afresh for every run.
#include "classify/classify.h"
#include "control/fatal.h"

namespace {

struct pair_entry_record {
    std::array<uint64_t, 4> address;  // as in table_key
    std::array<uint16_t, 2> port;
    uint16_t file;
    uint16_t unused;
};

static_assert(sizeof(pair_entry_record) == 40, "an entry is the key, its output and two spare bytes");

struct pair_slot {
    uint32_t hash;   // the key's hash
    uint32_t entry;  // entry number + 1; 0 for an empty slot
};

constexpr uint64_t INITIAL_SLOTS = 1024;
constexpr uint64_t MAX_SLOTS = uint64_t{1} << 32;  // slot positions come from 32 hash bits
constexpr uint64_t MAX_PAIRS = MAX_SLOTS / 4 * 3;
constexpr uint32_t PAIR_BLOCK_BITS = 16;
constexpr uint32_t PAIR_BLOCK_SIZE = uint32_t{1} << PAIR_BLOCK_BITS;
constexpr uint32_t MAX_PAIR_BLOCKS = uint32_t{1} << (32 - PAIR_BLOCK_BITS);

pair_slot *pair_table = nullptr;
table_memory pair_table_memory{nullptr, 0};
uint64_t slot_mask = 0;
uint64_t pair_count = 0;
pair_entry_record *pair_blocks[MAX_PAIR_BLOCKS];
table_memory pair_block_memory[MAX_PAIR_BLOCKS];

[[noreturn]] void out_of_pair_memory() {
    fatal("not enough memory to allocate another IP pair\n");
}

// Word by word: a comparison of the arrays themselves becomes a call to memcmp.
bool holds(const pair_entry_record &slot, const table_key &key) {
    return slot.address[0] == key.address[0] && slot.address[2] == key.address[2] &&
           slot.port[0] == key.port[0] && slot.port[1] == key.port[1] && slot.address[1] == key.address[1] &&
           slot.address[3] == key.address[3];
}

pair_entry_record &pair_entry(uint32_t number) {
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

uint32_t add_pair(const table_key &key, uint16_t file) {
    const auto number = static_cast<uint32_t>(pair_count);
    pair_entry_record *&block = pair_blocks[number >> PAIR_BLOCK_BITS];
    if (block == nullptr) {
        block = static_cast<pair_entry_record *>(allocate_table_memory(sizeof(pair_entry_record) * PAIR_BLOCK_SIZE,
                                                                 pair_block_memory[number >> PAIR_BLOCK_BITS]));
        if (block == nullptr) {
            out_of_pair_memory();
        }
    }
    pair_entry(number) = {key.address, key.port, file, 0};
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
    seed_table_key();
    forget_loads();
}

void prefetch_pair_slot(const table_key &key) {
    if (pair_table != nullptr) {
        __builtin_prefetch(&pair_table[key.hash & slot_mask]);
    }
}

uint16_t pair_table_lookup(const table_key &key) {
    if (pair_table == nullptr || (pair_count + 1) * 4 > (slot_mask + 1) * 3) {
        if (pair_count >= MAX_PAIRS) {
            out_of_pair_memory();
        }
        grow_pair_table();
    }
    uint64_t i = key.hash & slot_mask;
    for (; pair_table[i].entry != 0; i = (i + 1) & slot_mask) {
        if (pair_table[i].hash == key.hash) {
            const pair_entry_record &entry = pair_entry(pair_table[i].entry - 1);
            if (holds(entry, key)) {
                return entry.file;
            }
        }
    }
    const uint16_t file = least_loaded_file();
    pair_table[i] = {key.hash, add_pair(key, file) + 1};
    return file;
}

void prefetch_pair_entry(const table_key &key) {
    if (pair_table != nullptr) {
        const pair_slot slot = pair_table[key.hash & slot_mask];
        if (slot.entry != 0 && slot.hash == key.hash) {
            __builtin_prefetch(&pair_entry(slot.entry - 1));
        }
    }
}

uint64_t pair_table_pairs() {
    return pair_count;
}
