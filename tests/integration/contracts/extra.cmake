# The X11 session above leaves the Wayland clipboard, pill, keyboard and keys
# out; they run in a Wayland session of its own (sway, with Xvfb beside it).
set(wayland_drivers "*/DataControl.*:*/LayerShell.*:*/VirtualKeyboard.*:*/Wayland.*")
add_test(NAME integration_contracts_wayland
         COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/wayland-session.sh $<TARGET_FILE:integration_contracts>
                 --gtest_filter=${wayland_drivers})
set_tests_properties(integration_contracts_wayland PROPERTIES RUN_SERIAL TRUE TIMEOUT 900
                     ENVIRONMENT "VELVOX_TEST_DATA=${CMAKE_SOURCE_DIR}/tests/data")
# Another application copies through the clipboard stand-in.
add_dependencies(integration_contracts clipboard_stand_in)
target_compile_definitions(integration_contracts
                           PRIVATE VELVOX_DELIVERY_WINDOW="$<TARGET_FILE:delivery_test_window>")
set_property(TEST integration_contracts APPEND PROPERTY ENVIRONMENT "GTEST_FILTER=-${wayland_drivers}")
