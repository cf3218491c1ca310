# cmake -DSIM=<mcu-sim> [-DEMULATOR=<runner>] -DPAGE=<mcu-sim.1> -P check_manpage_options.cmake
# Every option that `mcu-sim --help` lists must be in its man page, and every
# long option the page names must be one that --help lists, so that neither
# can gain or lose an option without the other.
cmake_policy(VERSION 3.18)
execute_process(COMMAND ${EMULATOR} "${SIM}" --help
    OUTPUT_VARIABLE help RESULT_VARIABLE status TIMEOUT 30)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "${SIM} --help exited with ${status}")
endif()
file(READ "${PAGE}" page)
# The page as a reader sees it: roff's minus signs and font changes undone.
string(REPLACE "\\-" "-" page "${page}")
string(REGEX REPLACE "\\\\f[BIRP]" "" page "${page}")

# Options as words: a dash or two, a letter, then letters and dashes.
function(options_in text out)
    # Brackets and semicolons would split or join CMake's list items.
    string(REGEX REPLACE "[][;]" " " text "${text}")
    string(REGEX MATCHALL "(^|[^A-Za-z0-9-])--?[a-z][a-z-]*" words "${text}")
    set(found "")
    foreach(word IN LISTS words)
        string(REGEX REPLACE "^[^-]" "" word "${word}")
        list(APPEND found "${word}")
    endforeach()
    list(REMOVE_DUPLICATES found)
    set(${out} "${found}" PARENT_SCOPE)
endfunction()
options_in("${help}" listed)
options_in("${page}" named)

set(wrong "")
foreach(option IN LISTS listed)
    if(NOT option IN_LIST named)
        list(APPEND wrong "${option} is listed by --help but not in the page")
    endif()
endforeach()
foreach(option IN LISTS named)
    if(option MATCHES "^--" AND NOT option STREQUAL "--help" AND NOT option IN_LIST listed)
        list(APPEND wrong "${option} is in the page but not listed by --help")
    endif()
endforeach()
list(LENGTH listed count)
if(count LESS 5)
    message(FATAL_ERROR "only ${count} options found in the output of --help: ${listed}")
endif()
if(wrong)
    list(JOIN wrong "\n  " text)
    message(FATAL_ERROR "${PAGE} is out of step with mcu-sim --help:\n  ${text}")
endif()
message(STATUS "${count} options of mcu-sim --help, all in ${PAGE}")
