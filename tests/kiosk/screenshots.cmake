# The kiosk screens photographed under Xvfb at 1024x768 and 1920x1080, with
# their layout checked; the pictures are kept in <build>/screenshots/.
# Included from tests/CMakeLists.txt.
add_executable(kiosk_screenshots ${CMAKE_CURRENT_LIST_DIR}/screenshot_driver.cpp)
set_target_properties(kiosk_screenshots PROPERTIES AUTOMOC ON)
target_include_directories(kiosk_screenshots PRIVATE ${CMAKE_CURRENT_LIST_DIR} ${CMAKE_CURRENT_LIST_DIR}/../support)
target_link_libraries(kiosk_screenshots PRIVATE grazulo_kiosk_ui Qt6::Test)
target_compile_definitions(kiosk_screenshots PRIVATE GRAZULO_ASSETS_DIR="${CMAKE_SOURCE_DIR}/assets")

add_test(NAME kiosk/screenshots
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/screenshots.sh $<TARGET_FILE:kiosk_screenshots>
                 ${CMAKE_BINARY_DIR}/screenshots)
set_tests_properties(kiosk/screenshots PROPERTIES TIMEOUT 300 SKIP_RETURN_CODE 77)

# The message box's own check on the X server, run the same way.
include(${CMAKE_CURRENT_LIST_DIR}/../dialogs/msgbox_x11.cmake)

# The real program under Xvfb with the device simulator, touched with real
# pointer clicks: a box through a time-out and two boxes at once; and a short
# night of visits with faults mixed in (night_run.sh takes more visits by hand).
add_test(NAME kiosk/xvfb_faults
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/xvfb_kiosk_faults.sh $<TARGET_FILE:grazulo> $<TARGET_FILE:makedemo>
                 $<TARGET_FILE:devsim> $<TARGET_FILE:dbftool>)
set_tests_properties(kiosk/xvfb_faults PROPERTIES TIMEOUT 300 SKIP_RETURN_CODE 77)
add_test(NAME kiosk/night_run
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/night_run.sh $<TARGET_FILE:grazulo> $<TARGET_FILE:makedemo>
                 $<TARGET_FILE:devsim> $<TARGET_FILE:dbftool> 16)
set_tests_properties(kiosk/night_run PROPERTIES TIMEOUT 600 SKIP_RETURN_CODE 77)
# Touches and cards one driver after another on the real program: a second
# touch on Enter, a box of an earlier visit, a card during a box.
add_test(NAME kiosk/xvfb_touches
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/xvfb_kiosk_touches.sh $<TARGET_FILE:grazulo> $<TARGET_FILE:makedemo>
                 $<TARGET_FILE:devsim> $<TARGET_FILE:dbftool>)
set_tests_properties(kiosk/xvfb_touches PROPERTIES TIMEOUT 300 SKIP_RETURN_CODE 77)
