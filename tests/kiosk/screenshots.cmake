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
