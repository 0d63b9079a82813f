# The whole program, started as users start it, typing into the delivery
# tests' window.
add_dependencies(integration_e2e velvox delivery_test_window)
target_compile_definitions(integration_e2e PRIVATE
                           VELVOX_BINARY="$<TARGET_FILE:velvox>"
                           VELVOX_DELIVERY_WINDOW="$<TARGET_FILE:delivery_test_window>")
