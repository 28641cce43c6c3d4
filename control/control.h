// Control: the run sequence, the traces it reads and writes, and the packet loop.
#pragma once

#include "control/fatal.h"
#include "control/outputs.h"
#include "control/settings.h"

#include <pcap/pcap.h>

#include <array>
#include <cstdint>
#include <cstdio>

constexpr const char *FLOWDEAL_VERSION = FLOWDEAL_VERSION_TEXT;  // the CMake project version

extern pcap_t *input_trace;

// Command line.
void parse_command_line(int argc, char **argv);
[[noreturn]] void show_usage(const char *program_name);
uint16_t parse_prefix(const char *text, int full_bits);

// Run sequence.
void open_trace_files();
void set_link_offsets();
void process_packets();
void close_trace_files();

// The input: opened at the precision its first bytes name (input_stream.cpp).
pcap_t *open_input_trace();

// Output names, and the guard that keeps any of them from being the input.
void note_input_identity(int fd);
const char *output_name(int output);  // UNPLACED names the unclassified output
void refuse_input_as_output(const char *name);

// The write path: one packet to output k (or UNPLACED), counted; and closing.
void write_packet(int output, const pcap_pkthdr *header, const u_char *data);
[[noreturn]] void report_write_error(int output, int error);
int close_output(FILE *stream);

// The packet loop's body: places the packet and writes it, or holds it to be
// written by a later call; deal_held_packets writes what is held.
void deal_packet(const pcap_pkthdr *header, const u_char *data);
void deal_held_packets();
