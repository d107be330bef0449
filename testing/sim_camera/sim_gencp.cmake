# The simulated camera's GenCP responder: its register map, its GenICam
# description (embedded at configure time, plain and as the zip archive made
# by another tool) and the archives it writes itself with libzip.
set(_embedded ${CMAKE_CURRENT_BINARY_DIR}/sim_gencp_embedded.cpp)
set(_text "// Generated from the files beside sim_gencp.cmake.\n#include \"sim_gencp.h\"\nnamespace sim_camera {\n")
foreach(_pair "description_xml_bytes;sim_camera_description.xml" "description_zip_by_other_tool_bytes;sim_camera_description_py.zip")
  list(GET _pair 0 _name)
  list(GET _pair 1 _file)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${_file})
  file(READ ${CMAKE_CURRENT_SOURCE_DIR}/${_file} _hex HEX)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," _hex "${_hex}")
  string(APPEND _text "const bytes& ${_name}()\n{\n    static const bytes data{${_hex}};\n    return data;\n}\n")
endforeach()
string(APPEND _text "} // namespace sim_camera\n")
file(CONFIGURE OUTPUT ${_embedded} CONTENT "${_text}")

target_sources(sim_camera PRIVATE sim_register_map.cpp sim_gencp.cpp sim_zip.cpp sim_acquisition.cpp ${_embedded})
target_link_libraries(sim_camera PUBLIC libzip::zip)
