# The service executable CamTovraService (service module, COM server, type
# library) and its proxy/stub library CamTovraServicePS. Included by
# CMakeLists.txt of this folder, Windows build only.

# --- Interface definition: header, ids, type library, proxy/stub code -------
find_program(CAMTOVRA_WIDL NAMES x86_64-w64-mingw32-widl widl REQUIRED)
find_path(CAMTOVRA_WINE_IDL_DIR oaidl.idl PATHS /usr/include/wine/wine/windows NO_DEFAULT_PATH
  NO_CMAKE_FIND_ROOT_PATH REQUIRED)
find_path(CAMTOVRA_WINE_TLB_DIR stdole2.tlb PATHS /usr/lib/x86_64-linux-gnu/wine/x86_64-windows NO_DEFAULT_PATH
  NO_CMAKE_FIND_ROOT_PATH REQUIRED)

set(_idl ${CMAKE_CURRENT_SOURCE_DIR}/camtovra_service.idl)
set(_gen ${CMAKE_CURRENT_BINARY_DIR}/idl)
file(MAKE_DIRECTORY ${_gen})
set(_widl ${CAMTOVRA_WIDL} -I${CAMTOVRA_WINE_IDL_DIR} -L${CAMTOVRA_WINE_TLB_DIR})
add_custom_command(
  OUTPUT ${_gen}/camtovra_service.h ${_gen}/camtovra_service_i.c ${_gen}/camtovra_service_p.c
         ${_gen}/camtovra_service.tlb ${_gen}/dlldata.c
  COMMAND ${_widl} -h -o ${_gen}/camtovra_service.h ${_idl}
  COMMAND ${_widl} -u -o ${_gen}/camtovra_service_i.c ${_idl}
  COMMAND ${_widl} -t -o ${_gen}/camtovra_service.tlb ${_idl}
  COMMAND ${_widl} -Oif -p -o ${_gen}/camtovra_service_p.c ${_idl}
  COMMAND ${_widl} --dlldata-only -o ${_gen}/dlldata.c camtovra_service
  DEPENDS ${_idl}
  COMMENT "widl: camtovra_service.idl"
  VERBATIM)

add_library(camtovra_service_idl STATIC ${_gen}/camtovra_service_i.c ${_gen}/camtovra_service.h)
target_include_directories(camtovra_service_idl PUBLIC ${_gen})
target_link_libraries(camtovra_service_idl PUBLIC ole32 oleaut32 uuid)

# --- Service module and COM classes -----------------------------------------
add_library(camtovra_service_core STATIC
  ${CMAKE_CURRENT_LIST_DIR}/command_line.cpp
  ${CMAKE_CURRENT_LIST_DIR}/server_registration.cpp
  ${CMAKE_CURRENT_LIST_DIR}/service_installer.cpp
  ${CMAKE_CURRENT_LIST_DIR}/service_main_module.cpp
  ${CMAKE_CURRENT_LIST_DIR}/service_holders.cpp
  ${CMAKE_CURRENT_LIST_DIR}/service_components.cpp
  ${CMAKE_CURRENT_LIST_DIR}/service_properties.cpp
  ${CMAKE_CURRENT_LIST_DIR}/dshow_device_discover_service.cpp
  ${CMAKE_CURRENT_LIST_DIR}/dsdevice_handle.cpp
  ${CMAKE_CURRENT_LIST_DIR}/dsdevice_stream_channel.cpp
  ${CMAKE_CURRENT_LIST_DIR}/dshow_device_info.cpp)
target_include_directories(camtovra_service_core PUBLIC ${PROJECT_SOURCE_DIR}/vcs/src)
target_link_libraries(camtovra_service_core PUBLIC
  camtovra_service_idl atl_lite service_devices service_notification gen_utils properties_store advapi32 user32 wtsapi32)

set(CAMTOVRA_SERVICE_VERSION 1.0.0.1)
string(REPLACE "." "," _version_comma ${CAMTOVRA_SERVICE_VERSION})
add_executable(CamTovraService WIN32 main.cpp camtovra_service.rc)
target_link_libraries(CamTovraService PRIVATE camtovra_service_core camtovra_factory)
target_link_options(CamTovraService PRIVATE -municode)
target_include_directories(CamTovraService PRIVATE ${_gen})
file(CONFIGURE OUTPUT ${_gen}/camtovra_service_version.h CONTENT
  "#define CAMTOVRA_VERSION_COMMA ${_version_comma}\n#define CAMTOVRA_VERSION_TEXT \"${CAMTOVRA_SERVICE_VERSION}\"\n")
set_source_files_properties(camtovra_service.rc PROPERTIES
  OBJECT_DEPENDS "${_gen}/camtovra_service.tlb;${_gen}/camtovra_service_version.h")

# --- Proxy/stub library -----------------------------------------------------
add_library(CamTovraServicePS SHARED
  ${_gen}/camtovra_service_p.c ${_gen}/camtovra_service_i.c ${_gen}/dlldata.c camtovra_service_ps.def)
set_target_properties(CamTovraServicePS PROPERTIES PREFIX "" OUTPUT_NAME CamTovraServicePS)
target_include_directories(CamTovraServicePS PRIVATE ${_gen})
target_compile_definitions(CamTovraServicePS PRIVATE REGISTER_PROXY_DLL PROXY_DELEGATION)
target_compile_options(CamTovraServicePS PRIVATE
  -include ${CMAKE_CURRENT_LIST_DIR}/camtovra_service_ps_prototypes.h -Wno-unused-variable -Wno-missing-field-initializers)
target_link_libraries(CamTovraServicePS PRIVATE rpcrt4 ole32 oleaut32 uuid)

# --- Tests ------------------------------------------------------------------
camtovra_add_gtest(camtovra_service_tests
  SOURCES tests/command_line_tests.cpp tests/service_properties_tests.cpp
          tests/discover_service_object_tests.cpp tests/interface_records_tests.cpp tests/type_library.rc
  LIBS camtovra_service_core properties)
target_include_directories(camtovra_service_tests PRIVATE ${_gen})
set_source_files_properties(tests/type_library.rc PROPERTIES OBJECT_DEPENDS ${_gen}/camtovra_service.tlb)
