#pragma once
// The GenICam file inside the zip archive that a camera's manifest names:
// exactly one entry, read to its end with its CRC checked.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <system_error>
#include <vector>

namespace u3v_com {

// Largest unzipped file accepted; an archive may claim any size.
inline constexpr std::uint64_t max_unzipped_size = 64ull << 20;

// True when the memory block is a zip archive of exactly one entry that reads
// to its end without error (CRC included) and is no larger than
// max_unzipped_size; then `name` and `bytes` hold its name and contents.
// Otherwise both are left as they were.
bool zip_extract_single_file(const void* data, std::size_t size, std::string& name, std::vector<std::uint8_t>& bytes);

// Unpacks a zipped manifest file into `genicam_file`: E_INVALIDARG for an
// archive that does not extract, 0x8007007A for an empty file, both as HRESULTs
// of `category`. `genicam_file` changes only on success.
std::error_code extract_manifest_file(std::span<const std::uint8_t> blob, std::vector<std::uint8_t>& genicam_file,
                                      const std::error_category& category);

} // namespace u3v_com
