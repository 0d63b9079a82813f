# The hotkey tests type into the delivery tests' window.
add_dependencies(integration_capture delivery_test_window)
target_compile_definitions(integration_capture
                           PRIVATE VELVOX_DELIVERY_WINDOW="$<TARGET_FILE:delivery_test_window>")
