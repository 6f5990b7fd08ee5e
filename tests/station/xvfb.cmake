# The program under a real X server with no window manager, driven by real
# key presses. Included from tests/CMakeLists.txt.
add_test(NAME station/xvfb_focus
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/xvfb_station.sh $<TARGET_FILE:grazulo> $<TARGET_FILE:makedemo>
                 $<TARGET_FILE:devsim> $<TARGET_FILE:dbftool>)
set_tests_properties(station/xvfb_focus PROPERTIES TIMEOUT 120 SKIP_RETURN_CODE 77)
# Keys held down, with the X server's own key repeat.
add_test(NAME station/xvfb_held_keys
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/xvfb_held_keys.sh $<TARGET_FILE:grazulo> $<TARGET_FILE:makedemo>
                 $<TARGET_FILE:devsim> $<TARGET_FILE:dbftool>)
set_tests_properties(station/xvfb_held_keys PROPERTIES TIMEOUT 120 SKIP_RETURN_CODE 77)
