// Settings, trace handles and the per-output record shared by the whole run.
#pragma once

#include "dissect/dissect.h"

#include <pcap/pcap.h>

#include <array>
#include <cstdint>
#include <cstdio>

constexpr int MAX_OUTPUT_FILES = 256;
constexpr const char *FLOWDEAL_VERSION = "0.3";

// Settings, written only by parse_command_line.
extern const char *readfile;
extern char *writespec;
extern uint16_t num_files;
extern uint16_t use_ports;
extern uint16_t v4_prefix_bytes;
extern uint16_t v6_prefix_bytes;
extern uint16_t deterministic;

struct output_file {
    pcap_dumper_t *dumper;
    FILE *stream;  // the dumper's stdio stream, polled for write errors
    uint64_t packets;
};

extern pcap_t *input_trace;
extern std::array<output_file, MAX_OUTPUT_FILES> output_files;
extern pcap_dumper_t *weird_file;
extern FILE *weird_stream;

// Command line.
void parse_command_line(int argc, char **argv);
[[noreturn]] void show_usage(const char *program_name);
uint16_t parse_prefix(const char *text, int full_bits);

// Run sequence.
void open_trace_files();
void set_link_offsets();
void process_packets();
void close_trace_files();

// The packet loop's body: places the packet and writes it, or holds it to be
// written by a later call; deal_held_packets writes what is held.
void deal_packet(const pcap_pkthdr *header, const u_char *data);
void deal_held_packets();

// Dissects and classifies one packet: its output index, or -1 when it is unplaced.
int place_packet(packet_bytes packet);

// Prints the formatted message to standard error and exits with status 1.
[[noreturn]] void fatal(const char *format, ...) __attribute__((format(printf, 1, 2)));
