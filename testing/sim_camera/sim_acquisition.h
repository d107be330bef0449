#pragma once
// The simulated camera as a USB3 Vision camera streams: its GenICam
// acquisition and chunk registers drive the image data. Writing
// AcquisitionStart starts acquisition, AcquisitionStop stops it (transfers
// then stay pending), ChunkModeActive switches the payload source's chunk
// data on or off from its next frame. Also the variants of the camera's
// description that tests serve in place of the checked-in one.

#include "sim_gencp.h"
#include "sim_payload.h"

#include <cstdint>

namespace sim_camera {

// What a variant of the description leaves out or changes.
struct description_variant {
    bool acquisition_start = true;
    bool acquisition_stop = true;
    bool chunk_mode_active = true;
    // False: ChunkBlockId is an integer register (another node kind).
    bool chunk_block_id_register = true;
};

// The checked-in description with the variant's changes.
bytes description_xml(const description_variant& variant);

// A zipped manifest entry of a description text, under a hash made from
// `tag` (tests keep their cache entries apart by tag).
manifest_file description_file(const bytes& xml, std::uint32_t tag);

// Wires the registers to `cam` and `source` (both must outlive the
// responder's use). A camera whose description has AcquisitionStart idles
// until it is written: `starts_stopped`.
void link_acquisition(gencp_responder& gencp, camera& cam, payload_source& source, bool starts_stopped);

} // namespace sim_camera
