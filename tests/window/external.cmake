# Tests that drive the real window from outside, as a user does: xdotool sends keys on the
# virtual display, peek.exe reads the controls back, and the files and registry are checked.
add_executable(peek peek_win.cpp)
target_link_options(peek PRIVATE -municode)
