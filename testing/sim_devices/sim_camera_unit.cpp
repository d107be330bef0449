#include "sim_camera_unit.h"

#include "test_uvc_camera.h"

namespace sim_devices {

sim_camera_unit::sim_camera_unit(const sim_camera_options& options) : options_(options)
{
    sim_camera::payload_stream_config config;
    config.width = options.width;
    config.height = options.height;
    config.transfer_size = options.full_frame ? 0 : 16384;
    config.frames_per_second = options.frames_per_second;
    source = std::make_unique<sim_camera::payload_source>(config);
    io.camera.set_completion_mode(sim_camera::completion_mode::deferred);
    io.camera.set_payload_generator(source->generator());
    responder = std::make_unique<sim_camera::uvc_responder>(io.camera);
    // Full frames: a payload may hold the whole image and its header.
    responder->set_stream_sizes(image_size(), options.full_frame ? image_size() + 512 : 16384);
}

bool sim_camera_unit::start()
{
    return io.start() == STATUS_SUCCESS;
}

camtovra::camera_maker sim_camera_unit::camera_maker()
{
    return [](cam::camera_creation creation) {
        return std::make_shared<uvc_test::test_uvc_camera>(std::move(creation));
    };
}

} // namespace sim_devices
