// The run's settings: what the command line asked for, and how this capture's
// link header is read. Set once at start-up and read by every subsystem, so
// this header includes nothing of theirs.
#pragma once

#include <cstdint>

constexpr int MAX_OUTPUT_FILES = 256;

// Written only by parse_command_line.
extern const char *readfile;
extern char *writespec;
extern uint16_t num_files;
extern uint16_t use_ports;
extern uint16_t v4_prefix_bytes;
extern uint16_t v6_prefix_bytes;
extern uint16_t deterministic;

// How the link header names the network protocol. Written only by
// choose_link_layout, from the capture's link type.
enum class link_kind : uint8_t {
    ethertype,      // a 16-bit protocol type, then any VLAN-style tags (Ethernet, Linux cooked, Cisco HDLC)
    ip_version,     // no link header: the IP version nibble (raw IP)
    family_either,  // BSD loopback: a 32-bit address family in the capturing host's byte order
    family_big,     // OpenBSD loopback: the same family values, always big-endian
    ppp,            // a 16-bit PPP protocol, after an optional 0xFF 0x03
};

extern link_kind link_header_kind;
extern uint16_t link_header_len;   // for ethertype and the loopback families; PPP decides per packet
extern uint16_t ethertype_offset;  // for ethertype: where the first protocol type sits
