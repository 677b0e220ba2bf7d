# Windows tests of the job, run under Wine through the cross-compiling emulator.
add_executable(fake_archiver fake_archiver_win.cpp)
target_link_libraries(fake_archiver PRIVATE common mpq job)
target_link_options(fake_archiver PRIVATE -municode)

add_executable(job_win_tests job_host_win_test.cpp real_job_win_test.cpp drive_root_win_test.cpp
                             refusal_win_test.cpp job_watch_win_test.cpp)
target_link_libraries(job_win_tests PRIVATE job_host_win window_win ${VELTRANE_GTEST_MAIN})
target_include_directories(job_win_tests PRIVATE ${PROJECT_SOURCE_DIR})
add_dependencies(job_win_tests fake_archiver)
add_test(NAME job_win_tests COMMAND job_win_tests)
# The real job uses the fixed scratch map c:\temp.w3m of the shared prefix.
set_tests_properties(job_win_tests PROPERTIES RESOURCE_LOCK scratch_map)

# The program in a drive root, and a second drive letter onto it. Both tests must run and
# pass: a skip or an empty filter fails.
add_test(NAME job_win_drive_root
         COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/drive_root.sh $<TARGET_FILE:job_win_tests>
                 $<TARGET_FILE:fake_archiver>)
set_tests_properties(job_win_drive_root PROPERTIES RESOURCE_LOCK scratch_map
                     PASS_REGULAR_EXPRESSION "\\[  PASSED  \\] 2 tests\\.")
