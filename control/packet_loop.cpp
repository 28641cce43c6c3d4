// The one pass over the input: every packet read is dealt to an output, in order.
#include "control/control.h"

#include <cstdio>

void process_packets() {
    pcap_pkthdr *header = nullptr;
    const u_char *data = nullptr;
    int status;
    while ((status = pcap_next_ex(input_trace, &header, &data)) == 1) {
        deal_packet(header, data);
    }
    deal_held_packets();
    if (status != PCAP_ERROR_BREAK) {
        // Keep what was read: the outputs are completed before the error is reported.
        char reason[PCAP_ERRBUF_SIZE];
        std::snprintf(reason, sizeof reason, "%s", pcap_geterr(input_trace));
        close_trace_files();
        fatal("error reading tracefile %s: %s\n", readfile, reason);
    }
}
