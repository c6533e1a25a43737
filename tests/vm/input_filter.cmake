# The input filter on real kernel input devices: a VM with evdev and uinput, devices made
# through uinput, the simulated device libraries.
find_program(TORVANIX_QEMU qemu-system-x86_64)
if(TORVANIX_QEMU AND TARGET torvanix_simulator)
    pkg_check_modules(PROBE_EVDEV REQUIRED IMPORTED_TARGET libevdev)
    add_executable(torvanix-vm-input input_probe.cpp)
    target_link_libraries(torvanix-vm-input PRIVATE torvanix_device PkgConfig::PROBE_EVDEV)
    set_target_properties(torvanix-vm-input PROPERTIES
        RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
    add_dependencies(torvanix-vm-input torvanix_simulator)
    add_test(NAME vm_input_filter
        COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/input_filter.sh ${CMAKE_BINARY_DIR})
    set_tests_properties(vm_input_filter PROPERTIES LABELS vm TIMEOUT 600)
    # The same test from a copy of the tree in /tmp, which the guest's own tmpfs covers.
    add_test(NAME vm_tmp_tree COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/tmp_tree.sh ${CMAKE_BINARY_DIR})
    set_tests_properties(vm_tmp_tree PROPERTIES LABELS vm TIMEOUT 600)
endif()


# The same filter behind the real window and browser view: a hot key reaches the hot-key page
# only. A program run inside the VM by input_hotkey_page.sh.
if(TORVANIX_QEMU AND TARGET torvanix_ui AND TARGET torvanix_packwriter AND TARGET torvanix_simulator)
    add_executable(torvanix-vm-hotkey-page input_hotkey_page.cpp)
    target_link_libraries(torvanix-vm-hotkey-page PRIVATE torvanix_test_main_gui torvanix_ui
        torvanix_packwriter PkgConfig::PROBE_EVDEV GTest::gtest GTest::gmock)
    set_target_properties(torvanix-vm-hotkey-page PROPERTIES AUTOMOC ON
        RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
    add_dependencies(torvanix-vm-hotkey-page torvanix_simulator)
    add_test(NAME vm_input_hotkey_page
        COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/input_hotkey_page.sh ${CMAKE_BINARY_DIR})
    set_tests_properties(vm_input_hotkey_page PROPERTIES LABELS vm TIMEOUT 900)
endif()
