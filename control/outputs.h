// The outputs' records, whose packet counts classification balances on. A
// leaf, like the settings: it includes nothing of the subsystems.
#pragma once

#include "control/settings.h"

#include <pcap/pcap.h>

#include <array>
#include <cstdint>
#include <cstdio>

// The output index of a packet that cannot be placed: it goes to the
// unclassified-packets output, named with "weird".
constexpr int UNPLACED = -1;

struct output_file {
    pcap_dumper_t *dumper;
    FILE *stream;  // the dumper's stdio stream, polled for write errors
    uint64_t packets;
};

extern std::array<output_file, MAX_OUTPUT_FILES> output_files;
extern pcap_dumper_t *weird_file;
extern FILE *weird_stream;
