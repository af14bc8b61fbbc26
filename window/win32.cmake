# The Windows front end: the same window on the platform's own controls, in
# one statically linked Norvale.exe. Included by CMakeLists.txt.
enable_language(RC)

set(NORVALE_WINDOW_SOURCES
  ${NORVALE_LAYOUT_SOURCES}
  frm_norvale_win.cc
  frm_norvale_win.h
  run_progress_win.cc
  run_progress_win.h
)

add_executable(Norvale WIN32
  main_win.cc
  norvale.manifest
  norvale.rc
  ${NORVALE_WINDOW_SOURCES}
)
target_link_libraries(Norvale PRIVATE run comctl32 ole32 shell32 shlwapi)
# wWinMain: the program takes everything from the system as UTF-16.
target_link_options(Norvale PRIVATE -municode)
set_source_files_properties(norvale.rc PROPERTIES
  OBJECT_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/norvale.manifest)

install(TARGETS Norvale RUNTIME DESTINATION .)

if(NORVALE_BUILD_TESTS)
  # The test carries the program's resources, so it sees the window with
  # the same controls and manifest as Norvale.exe.
  add_executable(frm_norvale_win_test
    frm_norvale_win_test.cc
    norvale.rc
    ${NORVALE_WINDOW_SOURCES}
  )
  target_link_libraries(frm_norvale_win_test PRIVATE
    run comctl32 ole32 shell32 shlwapi GTest::gtest_main)
  # It needs a display, which Windows always has and Wine is given by
  # Xvfb; each test makes and removes its own window.
  gtest_discover_tests(frm_norvale_win_test)
endif()
