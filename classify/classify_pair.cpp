// Where the mode decides how a pair is placed: by hash alone ("-d") or through the pair table.
#include "classify/classify.h"

bool placement_waits_on_memory() {
    return !deterministic;
}

pair_placement prepare_pair(const endpoint &source, const endpoint &destination) {
    pair_placement pair{source, destination, {}};
    if (!deterministic) {
        pair.key = make_table_key(source, destination);
        prefetch_pair_slot(pair.key);
    }
    return pair;
}

void prefetch_pair(const pair_placement &pair) {
    if (!deterministic) {
        prefetch_pair_entry(pair.key);
    }
}

uint16_t place_pair(const pair_placement &pair) {
    if (deterministic) {
        return deterministic_file(pair_hash(pair.source, pair.destination));
    }
    return pair_table_lookup(pair.key);
}

uint16_t classify_pair(const endpoint &source, const endpoint &destination) {
    return place_pair(prepare_pair(source, destination));
}
