#include "sim_camera_unit.h"

#include <descriptors.h>

namespace sim_devices {

namespace {

std::unique_ptr<sim_camera::payload_source> make_source(const sim_camera_options& options)
{
    sim_camera::payload_stream_config config;
    config.width = options.width;
    config.height = options.height;
    config.transfer_size = options.full_frame ? 0 : 16384;
    config.frames_per_second = options.frames_per_second;
    return std::make_unique<sim_camera::payload_source>(config);
}

} // namespace

sim_camera_unit::sim_camera_unit(const sim_camera_options& options)
    : options_(options), source(make_source(options))
{
    io.camera.configuration_bytes = sim_camera::uvc_camera_configuration("Y800");
    io.camera.set_completion_mode(sim_camera::completion_mode::deferred);
    io.camera.set_payload_generator(source->generator());
    io.camera.record_controls = options.record_requests;
    responder = std::make_unique<sim_camera::uvc_responder>(io.camera);
    // Room for the chunk trailers after the image; full frames: a payload
    // holds the whole frame and its header.
    const std::uint32_t frame_size = image_size() + sim_camera::payload_source::chunk_bytes;
    responder->set_stream_sizes(frame_size, options.full_frame ? frame_size + 512 : 16384);
    gencp = std::make_unique<sim_camera::gencp_responder>(io.camera);
    gencp->set_recording(options.record_requests);
    const sim_camera::bytes xml = sim_camera::description_xml(options.description);
    // Descriptions that differ get cache entries of their own.
    const std::uint32_t tag = 0x5100 | (options.description.acquisition_start ? 1 : 0) |
                              (options.description.acquisition_stop ? 2 : 0) |
                              (options.description.chunk_mode_active ? 4 : 0) |
                              (options.description.chunk_block_id_register ? 8 : 0);
    gencp->set_manifest({sim_camera::description_file(xml, tag)});
    sim_camera::link_acquisition(*gencp, io.camera, *source,
                                 options.description.acquisition_start && !options.acquiring);
}

bool sim_camera_unit::start()
{
    return io.start() == STATUS_SUCCESS;
}

std::size_t sim_camera_unit::writes_at(std::uint64_t address) const
{
    std::size_t n = 0;
    for (const auto& c : gencp->commands()) {
        n += c.command_id == 0x0802 && c.address == address ? 1 : 0;
    }
    return n;
}

} // namespace sim_devices
