# headunit_add_test(<unit> [LIBS <targets>...] [SOURCES <files>...])
# One QtTest executable per unit, tests/<unit>/tst_<unit>.cpp by default, run by CTest
# headless and with a settings file of its own.
function(headunit_add_test unit)
    cmake_parse_arguments(T "" "TIMEOUT" "LIBS;SOURCES" ${ARGN})
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
endfunction()
