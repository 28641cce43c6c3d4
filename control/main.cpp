// The run sequence: its phases, always in this order.
#include "classify/classify.h"
#include "control/control.h"

#include <cstdlib>

int main(int argc, char **argv) {
    parse_command_line(argc, argv);
    open_trace_files();
    clear_pair_table();
    set_link_offsets();
    process_packets();
    close_trace_files();
    std::exit(0);
}
