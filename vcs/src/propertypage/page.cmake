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
