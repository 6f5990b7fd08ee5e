# The kiosk's message box on a real X server (Xvfb, no window manager) at
# 1024x768 and 1920x1080: its caption drawn in the box, long lines in full,
# the box on the screen; pictures in <build>/msgbox-screenshots/. Runs
# through the screenshot test's Xvfb script. Included from
# tests/kiosk/screenshots.cmake.
add_executable(msgbox_x11 ${CMAKE_CURRENT_LIST_DIR}/msgbox_driver.cpp)
set_target_properties(msgbox_x11 PROPERTIES AUTOMOC ON)
target_include_directories(msgbox_x11 PRIVATE ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(msgbox_x11 PRIVATE grazulo_dialogs_ui Qt6::Test)
target_compile_definitions(msgbox_x11 PRIVATE GRAZULO_ASSETS_DIR="${CMAKE_SOURCE_DIR}/assets")

add_test(NAME dialogs/msgbox_x11
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/../kiosk/screenshots.sh $<TARGET_FILE:msgbox_x11>
                 ${CMAKE_BINARY_DIR}/msgbox-screenshots)
set_tests_properties(dialogs/msgbox_x11 PROPERTIES TIMEOUT 300 SKIP_RETURN_CODE 77)
