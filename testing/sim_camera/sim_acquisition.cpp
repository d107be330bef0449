#include "sim_acquisition.h"

#include <algorithm>
#include <stdexcept>
#include <string>

namespace sim_camera {
namespace {

bool non_zero(std::span<const std::uint8_t> bytes)
{
    return std::any_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b != 0; });
}

// Removes the element `<tag Name="name">...</tag>` and the feature's line in
// the root category.
void remove_node(std::string& xml, const std::string& tag, const std::string& name)
{
    const std::string open = "<" + tag + " Name=\"" + name + "\">";
    const std::string close = "</" + tag + ">";
    const std::size_t start = xml.find(open);
    if (start == std::string::npos) {
        throw std::logic_error("no " + name + " in the description");
    }
    const std::size_t end = xml.find(close, start);
    xml.erase(start, end + close.size() - start);
    const std::string feature = "<pFeature>" + name + "</pFeature>";
    if (const std::size_t at = xml.find(feature); at != std::string::npos) {
        xml.erase(at, feature.size());
    }
}

void replace_all(std::string& text, const std::string& from, const std::string& to)
{
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
}

} // namespace

bytes description_xml(const description_variant& variant)
{
    std::string xml(description_xml_bytes().begin(), description_xml_bytes().end());
    if (!variant.acquisition_start) {
        remove_node(xml, "Command", "AcquisitionStart");
    }
    if (!variant.acquisition_stop) {
        remove_node(xml, "Command", "AcquisitionStop");
    }
    if (!variant.chunk_mode_active) {
        remove_node(xml, "Boolean", "ChunkModeActive");
    }
    if (!variant.chunk_block_id_register) {
        const std::string open = "<Register Name=\"ChunkBlockId\">";
        const std::size_t start = xml.find(open);
        if (start == std::string::npos) {
            throw std::logic_error("no ChunkBlockId register in the description");
        }
        const std::size_t end = xml.find("</Register>", start);
        std::string node = xml.substr(start, end + 11 - start);
        const std::string original = node;
        replace_all(node, "Register", "IntReg");
        replace_all(node, "</pPort>", "</pPort>\n    <Sign>Unsigned</Sign>\n    <Endianess>LittleEndian</Endianess>");
        xml.replace(start, original.size(), node);
    }
    return bytes(xml.begin(), xml.end());
}

manifest_file description_file(const bytes& xml, std::uint32_t tag)
{
    manifest_file file = gencp_responder::description_entry(tag, true);
    file.content = zip_archive({{"CamTovraSim_GenICam.xml", xml}});
    file.size.reset();
    return file;
}

void link_acquisition(gencp_responder& gencp, camera& cam, payload_source& source, bool starts_stopped)
{
    cam.set_acquiring(!starts_stopped);
    gencp.on_register_write(reg_acquisition_start, [&cam](std::span<const std::uint8_t> written) {
        if (non_zero(written)) {
            cam.set_acquiring(true);
        }
    });
    gencp.on_register_write(reg_acquisition_stop, [&cam](std::span<const std::uint8_t> written) {
        if (non_zero(written)) {
            cam.set_acquiring(false);
        }
    });
    gencp.on_register_write(reg_chunk_mode_active, [&source](std::span<const std::uint8_t> written) {
        source.set_chunk_mode(non_zero(written));
    });
}

} // namespace sim_camera
