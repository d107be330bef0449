# The property-page library's dialog side: slider controllers, dialog
# controls, the property page and the in-process COM server.
#   camtovra_page_controllers  needs no Windows API, built in both trees: the
#                              mapping between control positions, texts and
#                              item values
#   camtovra_page_lib          the Windows part: controls, page, class factory
#   camtovra_propertypage      the COM server DLL

add_library(camtovra_page_controllers STATIC
  ${CMAKE_CURRENT_LIST_DIR}/range_slider_controller.cpp
  ${CMAKE_CURRENT_LIST_DIR}/abs_val_slider_controller.cpp
  ${CMAKE_CURRENT_LIST_DIR}/abs_val_exposure_slider_controller.cpp)
target_link_libraries(camtovra_page_controllers PUBLIC camtovra_propertypage_core)

camtovra_add_gtest(camtovra_page_controller_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/tests/slider_controller_tests.cpp
  LIBS camtovra_page_controllers)
target_include_directories(camtovra_page_controller_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR})

if(NOT CAMTOVRA_WINDOWS)
  return()
endif()
enable_language(RC)

add_library(camtovra_page_lib STATIC
  ${CMAKE_CURRENT_LIST_DIR}/item_slider_access.cpp
  ${CMAKE_CURRENT_LIST_DIR}/vcd_control_window.cpp
  ${CMAKE_CURRENT_LIST_DIR}/vcd_item_controls.cpp
  ${CMAKE_CURRENT_LIST_DIR}/vcd_slider_controls.cpp
  ${CMAKE_CURRENT_LIST_DIR}/page_module.cpp
  ${CMAKE_CURRENT_LIST_DIR}/property_page.cpp
  ${CMAKE_CURRENT_LIST_DIR}/page_layout.cpp
  ${CMAKE_CURRENT_LIST_DIR}/page_templates.cpp
  ${CMAKE_CURRENT_LIST_DIR}/class_factory.cpp
  ${CMAKE_CURRENT_LIST_DIR}/page_registration.cpp
  ${PROJECT_SOURCE_DIR}/platform/atl/dialog_size.cpp)
target_link_libraries(camtovra_page_lib PUBLIC
  camtovra_propertypage_lib camtovra_page_controllers comctl32 gdi32 user32 advapi32 ole32 oleaut32 uuid strmiids)

# The COM server. The resource script goes into every program that shows a
# page from the static library too (its dialog template and titles).
set(CAMTOVRA_PAGE_RESOURCES ${CMAKE_CURRENT_LIST_DIR}/camtovra_propertypage.rc)
add_library(camtovra_propertypage SHARED
  ${CMAKE_CURRENT_LIST_DIR}/dll_exports.cpp
  ${CAMTOVRA_PAGE_RESOURCES}
  ${CMAKE_CURRENT_LIST_DIR}/camtovra_propertypage.def)
set_target_properties(camtovra_propertypage PROPERTIES PREFIX "")
target_link_libraries(camtovra_propertypage PRIVATE camtovra_page_lib)

# The server as an application loads it.
camtovra_add_gtest(camtovra_page_server_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/tests/page_server_tests.cpp
  LIBS atl_lite ole32 oleaut32 uuid)
target_compile_definitions(camtovra_page_server_tests PRIVATE PAGE_DLL=L"$<TARGET_FILE:camtovra_propertypage>")
add_dependencies(camtovra_page_server_tests camtovra_propertypage)

# Registration writes to the prefix's shared class registry: one at a time.
# The test reads back all of HKEY_CLASSES_ROOT\CLSID, and a class that another
# process adds or removes meanwhile makes that walk pass over a key. The
# service's registration (-Service, -UnregServer, regsvr32 of its proxy/stub
# library) adds and removes classes, and the video-input category's writers
# create keys below CLSID, so it holds their locks as well.
add_executable(camtovra_page_registration_tests ${CMAKE_CURRENT_LIST_DIR}/tests/page_registration_tests.cpp)
target_link_libraries(camtovra_page_registration_tests PRIVATE camtovra_page_lib camtovra_test_support GTest::gtest_main)
target_compile_definitions(camtovra_page_registration_tests PRIVATE
  PAGE_DLL=L"$<TARGET_FILE:camtovra_propertypage>")
add_dependencies(camtovra_page_registration_tests camtovra_propertypage)
camtovra_discover_gtests(camtovra_page_registration_tests TIMEOUT 120
  RESOURCE_LOCK camtovra_page_registration camtovra_service_registration camtovra_video_input_category)

# The page in this process over the scripted test filter.
camtovra_add_gtest(camtovra_property_page_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/tests/property_page_tests.cpp ${CMAKE_CURRENT_LIST_DIR}/tests/page_controls_tests.cpp
          ${CAMTOVRA_PAGE_RESOURCES}
  LIBS camtovra_page_lib page_host_support propset comctl32)
target_include_directories(camtovra_property_page_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR})
# A library to copy under the rich-edit libraries' names.
target_compile_definitions(camtovra_property_page_tests PRIVATE PAGE_DLL=L"$<TARGET_FILE:camtovra_propertypage>")
add_dependencies(camtovra_property_page_tests camtovra_propertypage)
