// The link layout of a run, chosen once from the capture's link type: the one table of them.
#include "dissect/dissect.h"

#include <pcap/dlt.h>

void choose_link_layout(int datalink) {
    link_header_kind = link_kind::ethertype;
    link_header_len = 14;
    ethertype_offset = 12;
    switch (datalink) {
    case DLT_LINUX_SLL2:
        link_header_len = 20;
        ethertype_offset = 0;
        break;
    case DLT_LINUX_SLL:
        link_header_len = 16;
        ethertype_offset = 14;
        break;
    case DLT_C_HDLC:
        link_header_len = 4;
        ethertype_offset = 2;
        break;
    case DLT_RAW:
    case DLT_IPV4:
    case DLT_IPV6:
        link_header_kind = link_kind::ip_version;
        link_header_len = 0;
        break;
    case DLT_NULL:
        link_header_kind = link_kind::family_either;
        link_header_len = 4;
        break;
    case DLT_LOOP:
        link_header_kind = link_kind::family_big;
        link_header_len = 4;
        break;
    case DLT_PPP:
    case DLT_PPP_SERIAL:
        link_header_kind = link_kind::ppp;
        link_header_len = 2;
        break;
    default:  // Ethernet, and every link type not named above
        break;
    }
}
