# torvanix_add_test(NAME <name> SOURCES <files...> LIBS <targets...> [GUI] [ENV <VAR=value>...])
# One GoogleTest executable run through ctest. The shared main creates a
# QCoreApplication (QApplication with GUI) so tests can run event loops.
function(torvanix_add_test)
    cmake_parse_arguments(T "GUI" "NAME;TIMEOUT" "SOURCES;LIBS;ENV" ${ARGN})
    add_executable(${T_NAME} ${T_SOURCES})
    set_target_properties(${T_NAME} PROPERTIES
        AUTOMOC ON
        RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
    if(T_GUI)
        target_link_libraries(${T_NAME} PRIVATE torvanix_test_main_gui)
    else()
        target_link_libraries(${T_NAME} PRIVATE torvanix_test_main)
    endif()
    target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock)
    target_compile_definitions(${T_NAME} PRIVATE
        TORVANIX_PROGRAM_DIR="${TORVANIX_PROGRAM_DIR}"
        TORVANIX_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
        TORVANIX_TEST_DATA_DIR="${CMAKE_CURRENT_SOURCE_DIR}/data")
    add_test(NAME ${T_NAME} COMMAND ${T_NAME})
    # Each test gets user folders of its own in the build tree: nothing it saves (boot-loader
    # table, browser storage, autostart entries) lands in the real home folder.
    set(home ${CMAKE_BINARY_DIR}/test-home/${T_NAME})
    set(env "QT_QPA_PLATFORM=offscreen" "QT_QUICK_BACKEND=software"
            "QTWEBENGINE_DISABLE_SANDBOX=1" "TORVANIX_NO_PAUSE=1"
            "XDG_DATA_HOME=${home}/share" "XDG_CONFIG_HOME=${home}/config"
            "XDG_STATE_HOME=${home}/state" "XDG_CACHE_HOME=${home}/cache" ${T_ENV})
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 300)
    endif()
    # Sanitizer trees run several times slower.
    if(TORVANIX_TEST_TIMEOUT_SCALE)
        math(EXPR T_TIMEOUT "${T_TIMEOUT} * ${TORVANIX_TEST_TIMEOUT_SCALE}")
    endif()
    set_tests_properties(${T_NAME} PROPERTIES ENVIRONMENT "${env}" TIMEOUT ${T_TIMEOUT})
endfunction()

# Adds a subdirectory only when it has a CMakeLists.txt, so areas can be
# filled in one by one.
function(torvanix_optional_subdirectory dir)
    if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/CMakeLists.txt)
        add_subdirectory(${dir})
    endif()
endfunction()

# Installs a folder's npm packages (npm ci) when its lock file changes. The stamp lives inside
# node_modules, so that removing node_modules also brings the install back. Sets
# <out_var> to the stamp, for DEPENDS of the steps that need the packages.
function(torvanix_npm_ci out_var dir what)
    find_program(NPM_EXECUTABLE npm)
    if(NOT NPM_EXECUTABLE)
        message(FATAL_ERROR "${what} need npm: run scripts/deps.sh")
    endif()
    set(stamp ${dir}/node_modules/.torvanix-installed)
    add_custom_command(OUTPUT ${stamp}
        COMMAND ${NPM_EXECUTABLE} ci --no-audit --no-fund --loglevel=error
        COMMAND ${CMAKE_COMMAND} -E touch ${stamp}
        DEPENDS ${dir}/package-lock.json ${dir}/package.json
        WORKING_DIRECTORY ${dir}
        COMMENT "Installing the packages of ${what} (npm ci)"
        VERBATIM)
    set(${out_var} ${stamp} PARENT_SCOPE)
endfunction()
