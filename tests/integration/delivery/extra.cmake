# The GTK window the delivery tests and benchmarks type into: a program of its
# own, so that the accessibility bus and the clipboard see another application.
# Beside it, stand-ins for what desktops run around the clipboard: a clipboard
# manager and a slow owner.
add_executable(delivery_test_window ${CMAKE_CURRENT_LIST_DIR}/window/DeliveryTestWindow.cpp)
add_executable(clipboard_stand_in ${CMAKE_CURRENT_LIST_DIR}/clipboard/ClipboardStandIn.cpp)
target_link_libraries(delivery_test_window PRIVATE PkgConfig::GTK_DEPS)
target_link_libraries(clipboard_stand_in PRIVATE PkgConfig::X11_DEPS PkgConfig::GLIB)
target_include_directories(delivery_test_window PRIVATE ${CMAKE_SOURCE_DIR}/tests)
target_include_directories(clipboard_stand_in PRIVATE ${CMAKE_SOURCE_DIR}/tests)
add_dependencies(integration_delivery delivery_test_window clipboard_stand_in)
target_compile_definitions(integration_delivery
                           PRIVATE VELVOX_DELIVERY_WINDOW="$<TARGET_FILE:delivery_test_window>")
