// The camera class's per-frame processing on the pipe's thread: chunk data,
// the header's processing block and the automatic tone mapping.

#include "device_impl/cam_tovra/cam_tovra.h"

#include <algorithm>
#include <cstring>

#include "device_impl/cam_tovra/chunk_trailers.h"
#include "device_impl/image/tonemap.h"
#include "genicam/iport.h"
#include "genicam/iregister.h"

namespace cam::impl {

namespace {

// Bytes of the data area that hold this frame's data and lie inside the
// buffer, whatever the record claims.
std::uint64_t valid_bytes(const frame_wrapper& frame) noexcept
{
    if (frame.offset > frame.capacity) {
        return 0;
    }
    return std::min(frame.valid_data_size_, frame.capacity - frame.offset);
}

} // namespace

void cam_tovra::process_frame(frame_wrapper& frame, img::image_desc& image)
{
    if (frame.buffer == nullptr || frame.header_size < frame_header_used_size) {
        return;
    }
    const std::uint64_t valid = valid_bytes(frame);
    if (chunk_mode_active_.load(std::memory_order_relaxed)) {
        read_chunk_data(frame, valid);
    }
    // Nothing past the frame's valid data is read, whatever the descriptor
    // says.
    image.buffer_size = static_cast<std::uint32_t>(std::min<std::uint64_t>(image.buffer_size, valid));

    processing_block block;
    block.fourcc = image.fourcc;
    block.width = image.width;
    block.height = image.height;
    block.stride = image.stride;
    block.plane_size = image.plane_size;
    block.processor_features = processor_features();
    // Set values never go negative; 0 lets the consumer choose.
    block.max_concurrency = static_cast<std::uint32_t>(std::max(0, debug_properties().max_concurrency()));
    const prop_emulation::per_frame_values values = emulated_.per_frame();
    block.procamp.saturation = values.saturation;
    block.procamp.hue = values.hue;
    block.procamp.brightness = values.brightness;
    block.procamp.sharpness = values.sharpness;
    block.procamp.denoise_level = values.denoise;
    block.procamp.gamma = values.gamma;
    if (color_transformation_.in_use) {
        block.color = processing_block::color_matrix{color_transformation_.enable, color_transformation_.coefficients};
    }
    block.pattern_fix = pattern_fix_.load(std::memory_order_relaxed);
    apply_tone_mapping(image, block);
    block.polarization_mode = polarization_mode_;
    write_processing_block(frame.buffer, block);
}

void cam_tovra::read_chunk_data(frame_wrapper& frame, std::uint64_t valid)
{
    std::uint8_t* data = frame.data() + frame.offset;
    // Waits at most for one request: the pipe keeps further reads queued.
    const auto lock = lock_requests();
    const std::size_t walked =
        walk_chunk_trailers({data, static_cast<std::size_t>(valid)}, [this](const chunk_view& chunk) {
            for (const chunk_adapter& adapter : chunk_adapters_) {
                if (adapter.chunk_id == static_cast<std::int64_t>(chunk.id)) {
                    // A second chunk of the same id finds the port taken and
                    // is skipped: the last one in the frame counts.
                    (void)adapter.port->attach_chunk(0, chunk.data.data(),
                                                     static_cast<std::int64_t>(chunk.data.size()));
                }
            }
        });
    if (walked > 1) {
        std::uint8_t* header = frame.buffer;
        std::uint32_t flags = 0;
        std::memcpy(&flags, header + frame_header::flags, sizeof flags);
        flags |= frame_header::flag_chunk_data;
        std::memcpy(header + frame_header::flags, &flags, sizeof flags);
        std::uint8_t block_id[8]{};
        if (chunk_block_id_ != nullptr && !chunk_block_id_->get_bytes(block_id, sizeof block_id)) {
            std::memcpy(header + frame_header::fid, block_id, sizeof block_id);
        }
    }
    for (const chunk_adapter& adapter : chunk_adapters_) {
        adapter.port->unbind();
    }
}

void cam_tovra::apply_tone_mapping(const img::image_desc& image, processing_block& block)
{
    genext::tone_mapping_settings& s = tone_mapping_;
    if (!s.state) {
        return;
    }
    processing_block::tone_mapping tone;
    tone.enable = s.enable;
    tone.intensity = s.intensity;
    tone.global_brightness = s.global_brightness;
    if (tone_mapped_format(image.fourcc)) {
        if (s.auto_mode) {
            cam::tonemap::tonemap_params params;
            params.enable = s.enable ? 1 : 0;
            params.intensity = s.intensity;
            params.global_brightness = s.global_brightness;
            if (cam::tonemap::process(*s.state, image, params)) {
                s.mul_factor = params.gain;
                s.add_factor = params.offset;
                s.pow_factor = params.key;
                s.lum_avg = params.lum_avg;
            }
        }
        tone.factors = std::array<float, 4>{s.mul_factor, s.add_factor, s.pow_factor, s.lum_avg};
    }
    block.tone = tone;
}

} // namespace cam::impl
