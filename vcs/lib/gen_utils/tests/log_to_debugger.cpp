// Test program: writes one line through the service's debugger-output sink.
// The test reads it back from Wine's debug channel.
#include "gen_utils/debug_output_sink.h"
#include "gen_utils/log.h"

int main()
{
    utils::install_debug_output_sink();
    service_log_level = 1;
    log_line(1, "[CamTovra] debugger sink reached by {}\n", "log_line");
    return 0;
}
