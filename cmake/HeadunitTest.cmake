# headunit_add_test(<unit> [LIBS <targets>...] [SOURCES <files>...] [TIMEOUT <s>] [BUILD_TREE_ONLY])
# One QtTest executable per unit, tests/<unit>/tst_<unit>.cpp by default, run by CTest
# headless and with a settings file of its own, and installed with the tests
# (headunit_install_test) unless it needs files that other tests write into
# the build tree (BUILD_TREE_ONLY).
function(headunit_add_test unit)
    cmake_parse_arguments(T "BUILD_TREE_ONLY" "TIMEOUT" "LIBS;SOURCES" ${ARGN})
    if(NOT T_SOURCES)
        set(T_SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/${unit}/tst_${unit}.cpp)
    endif()
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 120)
    endif()
    add_executable(tst_${unit} ${T_SOURCES})
    set_target_properties(tst_${unit} PROPERTIES AUTOMOC ON)
    target_link_libraries(tst_${unit} PRIVATE Qt::Test ${T_LIBS})
    target_compile_definitions(tst_${unit} PRIVATE QT_FORCE_ASSERTS)
    target_include_directories(tst_${unit} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/common ${CMAKE_CURRENT_BINARY_DIR}/common)
    add_test(NAME ${unit} COMMAND tst_${unit})
    set_tests_properties(${unit} PROPERTIES
        TIMEOUT ${T_TIMEOUT}
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;HEADUNIT_SETTINGS=${CMAKE_CURRENT_BINARY_DIR}/${unit}-settings.ini;XDG_STATE_HOME=${CMAKE_CURRENT_BINARY_DIR}/${unit}-state;LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/lsan.supp;TSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/tsan.supp")
    if(NOT T_BUILD_TREE_ONLY)
        headunit_install_test(${unit} tst_${unit} TIMEOUT ${T_TIMEOUT})
    endif()
endfunction()

# headunit_install_test(<name> <target> [TIMEOUT <s>] [ENV <VAR=value>...] [ARGS <words>...])
# In a build whose tests are installed (HEADUNIT_TEST_INSTALL_DIR), installs
# the test's program there and lists it for run-ptest (tests/ptest/), which
# runs it as CTest does, with the directory as working directory: ARGS that
# name files name them relative to it. Values in ENV hold no spaces.
function(headunit_install_test name target)
    if(NOT HEADUNIT_TEST_INSTALL_DIR)
        return()
    endif()
    cmake_parse_arguments(I "" "TIMEOUT" "ENV;ARGS" ${ARGN})
    if(NOT I_TIMEOUT)
        set(I_TIMEOUT 120)
    endif()
    # The tests' own libraries (fakewallclock) are installed beside them; the
    # host platform's library, when the tests link it, under the same prefix
    # (a board's is where the loader looks anyway).
    file(RELATIVE_PATH _to_libdir ${HEADUNIT_TEST_INSTALL_DIR} ${CMAKE_INSTALL_FULL_LIBDIR})
    set_target_properties(${target} PROPERTIES INSTALL_RPATH "$ORIGIN;$ORIGIN/${_to_libdir}")
    install(TARGETS ${target} RUNTIME DESTINATION ${HEADUNIT_TEST_INSTALL_DIR} COMPONENT ptest)
    list(JOIN I_ENV " " _env)
    list(JOIN I_ARGS " " _args)
    string(STRIP "${name} ${I_TIMEOUT} ${_env} ${target} ${_args}" _line)
    string(REGEX REPLACE "  +" " " _line "${_line}")
    set_property(GLOBAL APPEND PROPERTY HEADUNIT_INSTALLED_TESTS "${_line}")
endfunction()
