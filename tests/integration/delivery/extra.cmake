# The GTK window the delivery tests and benchmarks type into: a program of its
# own, so that the accessibility bus and the clipboard see another application.
add_executable(delivery_test_window ${CMAKE_CURRENT_LIST_DIR}/window/DeliveryTestWindow.cpp)
target_link_libraries(delivery_test_window PRIVATE PkgConfig::DESKTOP)
add_dependencies(integration_delivery delivery_test_window)
target_compile_definitions(integration_delivery
                           PRIVATE VELVOX_DELIVERY_WINDOW="$<TARGET_FILE:delivery_test_window>")

# Stand-ins for what desktops run around the clipboard: a clipboard manager
# and a slow owner.
add_executable(clipboard_stand_in ${CMAKE_CURRENT_LIST_DIR}/clipboard/ClipboardStandIn.cpp)
target_link_libraries(clipboard_stand_in PRIVATE PkgConfig::DESKTOP)
add_dependencies(integration_delivery clipboard_stand_in)
target_compile_definitions(integration_delivery
                           PRIVATE VELVOX_CLIPBOARD_STAND_IN="$<TARGET_FILE:clipboard_stand_in>")
