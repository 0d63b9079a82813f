# The whole program, started as users start it, typing into the delivery
# tests' window.
add_dependencies(integration_e2e velvox delivery_test_window)
target_compile_definitions(integration_e2e PRIVATE
                           VELVOX_BINARY="$<TARGET_FILE:velvox>"
                           VELVOX_DELIVERY_WINDOW="$<TARGET_FILE:delivery_test_window>")
# The same program in a Wayland session (sway, headless), for the tests made
# for it; the X11 session leaves them out.
set_property(TEST integration_e2e APPEND PROPERTY ENVIRONMENT
             "GTEST_FILTER=-WaylandEndToEndTest.*:DesktopEndToEndTest.*")
add_test(NAME integration_e2e_wayland
         COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/wayland-session.sh $<TARGET_FILE:integration_e2e>
                 --gtest_filter=WaylandEndToEndTest.*)
set_tests_properties(integration_e2e_wayland PROPERTIES RUN_SERIAL TRUE TIMEOUT 900
                     ENVIRONMENT "VELVOX_TEST_DATA=${CMAKE_SOURCE_DIR}/tests/data")
# And in the desktops most people run, each in its own headless session:
# GNOME Shell and KDE Plasma's KWin, as they ship.
foreach(desktop IN ITEMS gnome kde)
  add_test(NAME integration_e2e_${desktop}
           COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/${desktop}-session.sh $<TARGET_FILE:integration_e2e>
                   --gtest_filter=DesktopEndToEndTest.*)
  set_tests_properties(integration_e2e_${desktop} PROPERTIES RUN_SERIAL TRUE TIMEOUT 900
                       ENVIRONMENT "VELVOX_TEST_DATA=${CMAKE_SOURCE_DIR}/tests/data")
endforeach()
