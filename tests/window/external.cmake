# Tests that drive the real window from outside, as a user does: xdotool sends keys and
# clicks on the virtual display, peek.exe reads the controls back, and the files and the
# registry are checked. They use the DISPLAY and WINEPREFIX that scripts/test exports.
add_executable(peek peek_win.cpp)
target_link_options(peek PRIVATE -municode)

set(external_dir ${CMAKE_CURRENT_SOURCE_DIR}/external)
foreach(name typing_and_tab remembered_path pickers enter_presses_nothing)
  add_test(NAME window_external_${name}
           COMMAND bash ${external_dir}/${name}.sh $<TARGET_FILE:veltrane> $<TARGET_FILE:peek>
                   $<TARGET_FILE:fake_archiver>)
  # The keys go to whichever window has the X focus, and any test that shows a window or
  # launches a console can take it, so these run alone. Start! uses the prefix's one
  # scratch map c:\temp.w3m.
  set_tests_properties(window_external_${name} PROPERTIES
    RUN_SERIAL TRUE RESOURCE_LOCK scratch_map TIMEOUT 120 LABELS window_external)
endforeach()
