// Writing a packet to its output, and closing outputs, with every failure reported.
#include "control/control.h"

#include <cerrno>
#include <cstring>

void write_packet(int output, const pcap_pkthdr *header, const u_char *data) {
    const bool placed = output != UNPLACED;
    pcap_dumper_t *dumper = placed ? output_files[output].dumper : weird_file;
    FILE *stream = placed ? output_files[output].stream : weird_stream;
    pcap_dump(reinterpret_cast<u_char *>(dumper), header, data);
    // The stream's error flag is sticky and costs one load to test, so a full
    // disk stops the run at once instead of after reading the whole input.
    if (ferror_unlocked(stream)) {
        report_write_error(output, errno);
    }
    if (placed) {
        ++output_files[output].packets;  // before the next pair is given an output
    }
}

void report_write_error(int output, int error) {
    fatal("error writing %s: %s\n", output_name(output), std::strerror(error));
}

// The dumper's own close returns nothing, so the stream is flushed and closed
// here: an error that shows only then (a quota, a late I/O error) is not lost.
// Returns 0, or the error number of the first failure.
int close_output(FILE *stream) {
    errno = 0;
    const bool written = std::fflush(stream) == 0 && !ferror(stream);
    int error = written ? 0 : (errno != 0 ? errno : EIO);
    errno = 0;
    if (std::fclose(stream) != 0 && error == 0) {
        error = errno != 0 ? errno : EIO;
    }
    return error;
}
