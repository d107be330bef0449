#include "noxkm_log.h"

namespace noxkm {

volatile ULONG log_setting = 0;

void log_print(ULONG level, PCSTR format, ...)
{
    ULONG print_level = DPFLTR_TRACE_LEVEL;
    switch (level) {
    case log_error:
        print_level = DPFLTR_ERROR_LEVEL;
        break;
    case log_warning:
        print_level = DPFLTR_WARNING_LEVEL;
        break;
    case log_info:
        print_level = DPFLTR_INFO_LEVEL;
        break;
    default:
        break;
    }
    va_list args;
    va_start(args, format);
    vDbgPrintEx(DPFLTR_IHVSTREAMING_ID, print_level, format, args);
    va_end(args);
}

} // namespace noxkm
