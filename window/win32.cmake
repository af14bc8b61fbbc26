# The Windows front end: the same window on the platform's own controls, in
# one statically linked Norvale.exe. Included by CMakeLists.txt.
enable_language(RC)

set(NORVALE_WINDOW_SOURCES
  ${NORVALE_LAYOUT_SOURCES}
  dpi_win.cc
  dpi_win.h
  frm_norvale_win.cc
  frm_norvale_win.h
  run_progress_win.cc
  run_progress_win.h
  utf16_win.cc
  utf16_win.h
)

# The program's icon, made of the rendered sizes; the 256-pixel one stays a
# PNG, as Windows expects of that size.
find_program(NORVALE_ICOTOOL icotool REQUIRED)
set(NORVALE_ICO ${CMAKE_CURRENT_BINARY_DIR}/norvale.ico)
set(NORVALE_ICON_SMALL_PNGS ${NORVALE_ICON_PNGS})
list(FILTER NORVALE_ICON_SMALL_PNGS EXCLUDE REGEX "-256[.]png$")
add_custom_command(OUTPUT ${NORVALE_ICO}
  COMMAND ${NORVALE_ICOTOOL} -c -o ${NORVALE_ICO} ${NORVALE_ICON_SMALL_PNGS}
          --raw=${CMAKE_CURRENT_BINARY_DIR}/icons/norvale-256.png
  DEPENDS ${NORVALE_ICON_PNGS}
  VERBATIM)

# The version resource's numbers, from the project's version (1.00 is
# 1,0,0,0).
foreach(part MAJOR MINOR PATCH TWEAK)
  if(PROJECT_VERSION_${part} STREQUAL "")
    set(number_${part} 0)
  else()
    math(EXPR number_${part} "${PROJECT_VERSION_${part}}")
  endif()
endforeach()
set(NORVALE_VERSION_NUMBERS
    "${number_MAJOR},${number_MINOR},${number_PATCH},${number_TWEAK}")
configure_file(${PROJECT_SOURCE_DIR}/package/windows/norvale_version.h.in
               ${CMAKE_CURRENT_BINARY_DIR}/norvale_version.h @ONLY)
set(NORVALE_RC_INCLUDES
    ${CMAKE_CURRENT_BINARY_DIR} ${PROJECT_SOURCE_DIR}/package/windows)
set(NORVALE_RC_DEPENDS
    ${NORVALE_ICO} ${PROJECT_SOURCE_DIR}/package/windows/version_info.rc
    ${CMAKE_CURRENT_BINARY_DIR}/norvale_version.h)

add_executable(Norvale WIN32
  main_win.cc
  norvale.manifest
  norvale.rc
  ${NORVALE_ICO}
  ${NORVALE_WINDOW_SOURCES}
)
target_link_libraries(Norvale PRIVATE run terminal comctl32 ole32 shell32
  shlwapi)
# wWinMain: the program takes everything from the system as UTF-16.
target_link_options(Norvale PRIVATE -municode)
# windres finds the built icon and version through the include path.
set_source_files_properties(norvale.rc PROPERTIES
  OBJECT_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/norvale.manifest;${NORVALE_RC_DEPENDS}"
  INCLUDE_DIRECTORIES "${NORVALE_RC_INCLUDES}")

# Norvale.com, the console program that cmd and PowerShell start for a
# typed "Norvale" before Norvale.exe; built and installed beside it.
add_executable(NorvaleConsole
  ${PROJECT_SOURCE_DIR}/terminal/main_console_win.cc
  norvale_console.manifest
  norvale_console.rc
)
set_target_properties(NorvaleConsole PROPERTIES OUTPUT_NAME Norvale
  SUFFIX .com)
target_link_libraries(NorvaleConsole PRIVATE terminal)
# wmain: the arguments come as UTF-16, as every name does.
target_link_options(NorvaleConsole PRIVATE -municode)
set_source_files_properties(norvale_console.rc PROPERTIES
  OBJECT_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/norvale_console.manifest;${NORVALE_RC_DEPENDS}"
  INCLUDE_DIRECTORIES "${NORVALE_RC_INCLUDES}")

install(TARGETS Norvale NorvaleConsole RUNTIME DESTINATION .)

if(NORVALE_BUILD_TESTS)
  # Test builds of Norvale.com for the cmd test, each with a seam linked in:
  # every read blocks (slow_disk), it starts with Ctrl+C ignored
  # (ctrl_c_ignored), it sees marked files as online only (online_only).
  foreach(seam slow:slow_disk ignoring:ctrl_c_ignored online:online_only)
    string(REPLACE ":" ";" seam "${seam}")
    list(GET seam 0 name)
    list(GET seam 1 file)
    add_executable(norvale_${name}_test
      ${PROJECT_SOURCE_DIR}/terminal/main_console_win.cc
      ${PROJECT_SOURCE_DIR}/terminal/${file}_test_win.cc)
    set_target_properties(norvale_${name}_test PROPERTIES SUFFIX .com)
    target_link_libraries(norvale_${name}_test PRIVATE terminal)
    target_link_options(norvale_${name}_test PRIVATE -municode)
  endforeach()
  # Holds Wine's desktop while the tests run (./dev starts it).
  add_executable(keep_desktop_test WIN32 keep_desktop_test_win.cc)
  target_link_options(keep_desktop_test PRIVATE -municode)
endif()

if(NORVALE_BUILD_TESTS)
  # The test carries the program's resources, so it sees the window with
  # the same controls and manifest as Norvale.exe.
  add_executable(frm_norvale_win_test
    frm_norvale_win_test.cc
    norvale.rc
    ${NORVALE_ICO}
    ${NORVALE_WINDOW_SOURCES}
  )
  target_link_libraries(frm_norvale_win_test PRIVATE
    run comctl32 ole32 shell32 shlwapi GTest::gtest_main)
  # It needs a display, which Windows always has and Wine is given by
  # Xvfb; each test makes and removes its own window.
  gtest_discover_tests(frm_norvale_win_test)
endif()
include(${PROJECT_SOURCE_DIR}/package/windows/windows.cmake)
