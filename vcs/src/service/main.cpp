// CamTovraService: the camera service and its out-of-process COM server.

#include <windows.h>

#include "device_impl/camtovra/factory.h"
#include "gen_utils/debug_output_sink.h"
#include "service/service_components.h"
#include "service/service_main_module.h"

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
    // The cameras come from the system's device lists and the USB driver.
    service::components::set_factory_maker(&device_factory_create);
    return the_service_module.win_main(command_line != nullptr ? command_line : L"");
}
