# The Windows build's tests (make windows-check runs them under wine): the test
# programs that need no Linux facility (no pseudo-terminal, no libmodbus, no
# Python peer, no Linux program to start), and the Windows serial port's own.
# Left out: transport/test_net (it measures CPU time with std::clock, which is
# wall time on Windows, and a 40 ms pause against Windows' timer resolution) and
# sim/test_sim_net_server (its queue of eight waiting clients meets Windows'
# listen backlog), ui/test_dialogs (the static test programs start on the
# windows platform, which needs a display under wine).
set(QV_WIN_SUPPORT FakeUnit Gateway RecordingOperator RecordingViews ScriptedPort TableRig)
set(QV_SUPPORT_SRCS)
foreach(name ${QV_WIN_SUPPORT})
  list(APPEND QV_SUPPORT_SRCS ${CMAKE_CURRENT_SOURCE_DIR}/support/${name}.cpp
                              ${CMAKE_CURRENT_SOURCE_DIR}/support/${name}.h)
endforeach()
add_library(qv_testsupport STATIC ${QV_SUPPORT_SRCS})
target_include_directories(qv_testsupport PUBLIC ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/src)
target_link_libraries(qv_testsupport PUBLIC qv_table qv_commstest qv_connect qv_transport qv_modbus
                      qv_link qv_startup qv_sim Qt6::Test)

set(QV_WIN_TESTS
  commstest/test_commstest connect/test_registry link/test_crc link/test_link
  link/test_winserialport modbus/test_pdu sheet/test_sheet sim/test_sim_line
  startup/test_messagetext startup/test_sequence startup/test_unittext
  table/test_blockreads table/test_bulk table/test_editor table/test_historyfile
  table/test_messagetable table/test_rememberedtables table/test_roundtrip
  table/test_unitpreview table/test_unitsync transport/test_retry)
set(QV_WIN_TEST_TARGETS)
foreach(test ${QV_WIN_TESTS})
  string(REPLACE "/" "_" target ${test})
  list(APPEND QV_WIN_TEST_TARGETS ${target})
  add_executable(${target} ${CMAKE_CURRENT_SOURCE_DIR}/${test}.cpp)
  set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${QV_APP_DIR}/tests)
  target_link_libraries(${target} PRIVATE qv_testsupport qv_ui qv_line qv_scan qv_sheet)
  qt_import_plugins(${target} INCLUDE Qt6::QOffscreenIntegrationPlugin)
  add_dependencies(${target} qv_data)
endforeach()
add_custom_target(windows_tests DEPENDS ${QV_WIN_TEST_TARGETS})
