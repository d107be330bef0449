#pragma once
// Zip archives made at run time with libzip's writer, for the files the
// simulated camera serves through its manifest.

#include "descriptors.h"

#include <string>
#include <utility>
#include <vector>

namespace sim_camera {

struct zip_entry {
    std::string name;
    bytes content;
};

// An archive of the entries in order, deflated or stored. No entries gives
// the 22-byte archive of an empty central directory.
bytes zip_archive(const std::vector<zip_entry>& entries, bool deflate = true);

} // namespace sim_camera
