// Opening and closing the run's traces: the input, the numbered outputs and the unclassified one.
#include "control/control.h"
#include "dissect/dissect.h"

#include <cerrno>
#include <cstring>

pcap_t *input_trace = nullptr;
std::array<output_file, MAX_OUTPUT_FILES> output_files{};
pcap_dumper_t *weird_file = nullptr;
FILE *weird_stream = nullptr;

namespace {

pcap_dumper_t *create_output(int output) {
    const char *name = output_name(output);
    refuse_input_as_output(name);
    FILE *file = std::fopen(name, "wb");
    if (file == nullptr) {
        fatal("cannot open %s for writing: %s\n", name, std::strerror(errno));
    }
    pcap_dumper_t *dumper = pcap_dump_fopen(input_trace, file);
    if (dumper == nullptr) {
        fatal("cannot open %s for writing: %s\n", name, pcap_geterr(input_trace));
    }
    return dumper;
}

}  // namespace

void open_trace_files() {
    input_trace = open_input_trace();
    for (int i = 0; i < num_files; ++i) {
        output_files[i].dumper = create_output(i);
        output_files[i].stream = pcap_dump_file(output_files[i].dumper);
        output_files[i].packets = 0;
    }
    weird_file = create_output(UNPLACED);
    weird_stream = pcap_dump_file(weird_file);
}

void set_link_offsets() {
    choose_link_layout(pcap_datalink(input_trace));
}

void close_trace_files() {
    pcap_close(input_trace);
    input_trace = nullptr;
    // Every output is closed, so all but a failing one are complete; the
    // first failure is reported after.
    int failed_output = 0;
    int failure = 0;
    for (int i = 0; i < num_files; ++i) {
        const int error = close_output(output_files[i].stream);
        if (error != 0 && failure == 0) {
            failed_output = i;
            failure = error;
        }
    }
    const int error = close_output(weird_stream);
    if (error != 0 && failure == 0) {
        failed_output = UNPLACED;
        failure = error;
    }
    if (failure != 0) {
        report_write_error(failed_output, failure);
    }
}
