# The Windows build (make windows): static programs with an icon and version
# information, the GUI one without a console window. Included by the top-level
# CMakeLists.txt when cross-compiling for Windows.
set(QV_ICON ${CMAKE_BINARY_DIR}/windows/qv840n.ico)
add_custom_command(OUTPUT ${QV_ICON}
  COMMAND python3 ${CMAKE_SOURCE_DIR}/windows/make_icon.py ${QV_ICON}
  DEPENDS ${CMAKE_SOURCE_DIR}/windows/make_icon.py
  COMMENT "Drawing the program icon")

function(qv_windows_resources target description)
  set(QV_RC_NAME ${target})
  set(QV_RC_DESCRIPTION ${description})
  configure_file(${CMAKE_SOURCE_DIR}/windows/qv840n.rc.in
                 ${CMAKE_BINARY_DIR}/windows/${target}.rc @ONLY)
  target_sources(${target} PRIVATE ${CMAKE_BINARY_DIR}/windows/${target}.rc ${QV_ICON})
endfunction()

qv_windows_resources(qv840n "QV840N message programmer")
qv_windows_resources(qv840ctl "QV840N command line")
set_target_properties(qv840n PROPERTIES WIN32_EXECUTABLE ON)
# Static Qt: the plugins the programs need are linked in. qv840ctl draws the
# printed sheet offscreen; qv840n also runs offscreen for its checks.
qt_import_plugins(qv840n INCLUDE Qt6::QWindowsIntegrationPlugin Qt6::QOffscreenIntegrationPlugin)
qt_import_plugins(qv840ctl INCLUDE Qt6::QOffscreenIntegrationPlugin)
