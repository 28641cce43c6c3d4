// Puts the program-wide settings back to their start-of-run values, so unit
// tests can call the placement functions directly.
#pragma once

#include "classify/classify.h"
#include "control/control.h"

// linktype is a libpcap DLT_ value.
inline void reset_settings(uint16_t files = 4, int linktype = 1) {
    use_ports = 1;
    v4_prefix_bytes = 4;
    v6_prefix_bytes = 16;
    deterministic = 0;
    num_files = files;
    for (output_file &f : output_files) {
        f = output_file{};
    }
    choose_link_layout(linktype);
    clear_pair_table();
}
