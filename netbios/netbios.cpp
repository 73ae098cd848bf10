// The provider's C entry point.
#include "nbstack.h"

#include <exception>

extern "C" unsigned char Netbios(NCB* ncb) {
    if (ncb == nullptr) {
        return NRC_INVADDRESS;
    }
    try {
        return nb::RunCommand(ncb);
    } catch (const std::exception&) {
        // Out of memory or threads: nothing may escape into a C caller.
        ncb->ncb_retcode = NRC_SYSTEM;
        ncb->ncb_cmd_cplt = NRC_SYSTEM;
        return NRC_SYSTEM;
    }
}
