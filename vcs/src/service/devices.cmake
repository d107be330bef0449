# Discover service, client process tracker and the active device list.
add_library(service_devices STATIC
  ${CMAKE_CURRENT_LIST_DIR}/process_tracker.cpp
  ${CMAKE_CURRENT_LIST_DIR}/active_device_info.cpp
  ${CMAKE_CURRENT_LIST_DIR}/active_device_handle.cpp
  ${CMAKE_CURRENT_LIST_DIR}/active_device_list.cpp
  ${CMAKE_CURRENT_LIST_DIR}/discover_service.cpp)
target_include_directories(service_devices PUBLIC ${PROJECT_SOURCE_DIR}/vcs/src)
target_link_libraries(service_devices PUBLIC service_notification properties gen_utils device_impl_tools propset ole32)

camtovra_add_gtest(process_tracker_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/tests/process_tracker_tests.cpp
  LIBS service_devices fake_devices)
target_compile_definitions(process_tracker_tests PRIVATE
  WAIT_FOR_EVENT_EXE="$<TARGET_FILE:wait_for_event>")
add_dependencies(process_tracker_tests wait_for_event)

camtovra_add_gtest(active_device_list_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/tests/active_device_list_tests.cpp
          ${CMAKE_CURRENT_LIST_DIR}/tests/active_device_handle_tests.cpp
  LIBS service_devices fake_devices)
target_compile_definitions(active_device_list_tests PRIVATE
  EVENT_STATE_PROBE_EXE="$<TARGET_FILE:event_state_probe>")
add_dependencies(active_device_list_tests event_state_probe)

# The discover service touches the machine's one video-input category (a reset
# removes every marked instance): its cases run one at a time, beside nothing
# else that holds this lock.
add_executable(discover_service_tests ${CMAKE_CURRENT_LIST_DIR}/tests/discover_service_tests.cpp)
target_link_libraries(discover_service_tests PRIVATE service_devices fake_devices GTest::gtest_main GTest::gmock)
camtovra_discover_gtests(discover_service_tests TIMEOUT 120
  RESOURCE_LOCK camtovra_video_input_category)

# The client COM objects over fake cameras, in this process and from client
# processes through the proxy/stub library (whose registration the service's
# own tests change too).
add_executable(client_objects_tests ${CMAKE_CURRENT_LIST_DIR}/tests/client_objects_tests.cpp)
target_link_libraries(client_objects_tests PRIVATE camtovra_service_core fake_devices camtovra_test_service_host GTest::gtest_main GTest::gmock)
target_compile_definitions(client_objects_tests PRIVATE
  WAIT_FOR_EVENT_EXE="$<TARGET_FILE:wait_for_event>"
  DEVICE_CLIENT_EXE="$<TARGET_FILE:device_client>"
  PROXY_STUB_DLL="$<TARGET_FILE:CamTovraServicePS>")
add_dependencies(client_objects_tests wait_for_event device_client CamTovraServicePS)
camtovra_discover_gtests(client_objects_tests TIMEOUT 120
  RESOURCE_LOCK camtovra_video_input_category camtovra_service_registration)
