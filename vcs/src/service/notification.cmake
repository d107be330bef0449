# Camera registry entries, DirectShow filter instances and device-change
# notification.
#   service_mailslot_protocol  the list-changed message and mailslot names (both trees)
#   service_notification       notifier, sessions, registry entries, filter instances (Windows)

add_library(service_mailslot_protocol STATIC ${CMAKE_CURRENT_LIST_DIR}/session_mailslot.cpp)
target_include_directories(service_mailslot_protocol PUBLIC ${PROJECT_SOURCE_DIR}/vcs/src)

camtovra_add_gtest(session_mailslot_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/tests/session_mailslot_tests.cpp
  LIBS service_mailslot_protocol)

camtovra_add_fuzzer(session_mailslot_fuzzer
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/tests/session_mailslot_fuzzer.cpp
  LIBS service_mailslot_protocol
  CORPUS ${CMAKE_CURRENT_LIST_DIR}/tests/session_mailslot_corpus)

if(NOT CAMTOVRA_WINDOWS)
  return()
endif()

add_library(service_notification STATIC
  ${CMAKE_CURRENT_LIST_DIR}/list_changed_notifier.cpp
  ${CMAKE_CURRENT_LIST_DIR}/session_enumeration.cpp
  ${CMAKE_CURRENT_LIST_DIR}/session_proxy_start.cpp
  ${CMAKE_CURRENT_LIST_DIR}/device_registry.cpp
  ${CMAKE_CURRENT_LIST_DIR}/filter_instance_enumerator.cpp)
target_link_libraries(service_notification PUBLIC
  service_mailslot_protocol gen_utils wtsapi32 userenv shlwapi strmiids ole32 oleaut32 uuid advapi32)

# mailslot_reader and session_probe: test programs in testing/mailslot_tools.
camtovra_add_gtest(list_changed_notifier_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/tests/list_changed_notifier_tests.cpp
          ${CMAKE_CURRENT_LIST_DIR}/tests/session_proxy_start_tests.cpp
  LIBS service_notification camtovra_test_support)
target_compile_definitions(list_changed_notifier_tests PRIVATE
  MAILSLOT_READER_EXE="$<TARGET_FILE:mailslot_reader>"
  SESSION_PROBE_EXE="$<TARGET_FILE:session_probe>")
add_dependencies(list_changed_notifier_tests mailslot_reader session_probe)

# Every case touches the one video-input category of the machine and its
# instance keys (a reset removes every marked instance): the cases run one at a
# time, and beside nothing else that holds this lock.
add_executable(filter_instance_enumerator_tests
  ${CMAKE_CURRENT_LIST_DIR}/tests/filter_instance_enumerator_tests.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tests/device_registry_tests.cpp)
target_link_libraries(filter_instance_enumerator_tests PRIVATE service_notification GTest::gtest_main GTest::gmock)
camtovra_discover_gtests(filter_instance_enumerator_tests TIMEOUT 120
  RESOURCE_LOCK camtovra_video_input_category)
