// Feeds arbitrary bytes to the descriptor tree as a configuration descriptor
// set, then reads every byte of everything the tree hands out, so that a view
// reaching past its descriptor or past the copy shows up under ASan.

#include <cstddef>
#include <cstdint>

#include "device_impl/uvc/uvc_descriptor_tree.h"
#include "gen_utils/log.h"

namespace {

unsigned touch(cam::uvc_cam::descriptor_bytes d)
{
    unsigned sum = 0;
    for (const std::uint8_t b : d) {
        sum += b;
    }
    return sum;
}

unsigned touch_units(const std::vector<cam::uvc_cam::unit_descriptor>& units, std::size_t limit)
{
    if (units.size() > limit) {
        __builtin_trap();
    }
    unsigned sum = 0;
    for (const auto& u : units) {
        sum += touch(u.bytes) + touch(u.controls);
        if (u.controls.size() > 0 && (u.controls.data() < u.bytes.data() ||
                                      u.controls.data() + u.controls.size() > u.bytes.data() + u.bytes.size())) {
            __builtin_trap();
        }
    }
    return sum;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    service_log_level = 3; // format every log line too
    using cam::uvc_cam::uvc_descriptor_tree;
    uvc_descriptor_tree tree;
    const bool built = tree.build({data, size});
    unsigned sum = 0;
    if (built) {
        sum += touch(tree.vc_interface()) + touch(tree.vc_header()) + touch(tree.vs_interface());
        sum += touch_units(tree.input_terminals(), uvc_descriptor_tree::max_units);
        sum += touch_units(tree.output_terminals(), uvc_descriptor_tree::max_units);
        sum += touch_units(tree.selector_units(), uvc_descriptor_tree::max_units);
        sum += touch_units(tree.processing_units(), uvc_descriptor_tree::max_units);
        sum += touch_units(tree.extension_units(), uvc_descriptor_tree::max_units);
        sum += touch(tree.vs_input_header().bytes);
        if (tree.formats().size() > uvc_descriptor_tree::max_formats ||
            tree.pipes().size() > uvc_descriptor_tree::max_pipes) {
            __builtin_trap();
        }
        for (const auto& f : tree.formats()) {
            sum += touch(f.bytes) + touch(f.color_matching);
            if (f.frames.size() > uvc_descriptor_tree::max_frames) {
                __builtin_trap();
            }
            for (const auto& fr : f.frames) {
                sum += touch(fr.bytes);
                // Every reported interval lies inside the frame descriptor.
                const std::size_t needed = fr.interval_count == 0 ? 38 : 26 + 4u * fr.interval_count;
                if (fr.bytes.size() < needed) {
                    __builtin_trap();
                }
            }
        }
        for (std::size_t i = 1; i < tree.pipes().size(); ++i) {
            if (tree.pipes()[i - 1].max_packet_size > tree.pipes()[i].max_packet_size) {
                __builtin_trap();
            }
        }
        // A copy outlives the original and still owns its bytes.
        const uvc_descriptor_tree copy = tree;
        tree.clear();
        sum += touch(copy.configuration()) + touch(copy.vc_interface());
    }
    // Keeps the reads from being optimised away.
    __asm__ volatile("" : : "r"(sum));
    return 0;
}
