// camtovra_service_sim: the camera service with a simulated camera in place of
// the system's device lists and the USB driver. The same service module and
// camera layer as CamTovraService; it registers under the same service name,
// AppID and classes, so its clients cannot tell the two apart.

#include <windows.h>

#include "gen_utils/debug_output_sink.h"
#include "service/service_components.h"
#include "service/service_main_module.h"
#include "sim_platform.h"

CServiceMainModule the_service_module;

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR command_line, int)
{
    if (!the_service_module.initialized()) {
        return -1;
    }
    try {
        utils::install_debug_output_sink();
    } catch (...) {
    }
    service::components::set_factory_maker(&service_sim::sim_factory_create);
    return the_service_module.win_main(command_line != nullptr ? command_line : L"");
}
