// Puts the program-wide settings back to their start-of-run values, so unit
// tests can call the placement functions directly.
#pragma once

#include "classify/classify.h"
#include "control/control.h"

inline void reset_settings(uint16_t files = 4, int linktype = 1) {
    use_ports = 1;
    v4_prefix_bytes = 4;
    v6_prefix_bytes = 16;
    deterministic = 0;
    num_files = files;
    for (output_file &f : output_files) {
        f = output_file{};
    }
    link_header_len = linktype == LINKTYPE_LINUX_SLL2 ? 20 : 14;
    ethertype_offset = linktype == LINKTYPE_LINUX_SLL2 ? 0 : 12;
    clear_pair_table();
}
