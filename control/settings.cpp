// The settings' start-of-run values: the defaults of the command line, and Ethernet.
#include "control/settings.h"

const char *readfile = nullptr;
char *writespec = nullptr;
uint16_t num_files = 0;
uint16_t use_ports = 1;
uint16_t v4_prefix_bytes = 4;
uint16_t v6_prefix_bytes = 16;
uint16_t deterministic = 0;

link_kind link_header_kind = link_kind::ethertype;
uint16_t link_header_len = 14;
uint16_t ethertype_offset = 12;
