# A test reaches the program through its public interface: no header of the program names a
# test or a benchmark as a friend. Run as: cmake -DSOURCE_DIR=… -P check_no_test_friends.cmake
cmake_minimum_required(VERSION 3.16)
file(GLOB_RECURSE headers RELATIVE ${SOURCE_DIR} ${SOURCE_DIR}/core/*.h ${SOURCE_DIR}/media/*.h
     ${SOURCE_DIR}/gui/*.h)
if(NOT headers)
    message(FATAL_ERROR "no header found under ${SOURCE_DIR}: not the source tree meant")
endif()
set(faults)
foreach(header IN LISTS headers)
    file(STRINGS ${SOURCE_DIR}/${header} friends REGEX "friend +(class|struct) +(tst_[A-Za-z0-9_]*|[A-Za-z0-9_]*(Test|Bench))[ ;]")
    foreach(line IN LISTS friends)
        list(APPEND faults "${header}: ${line}")
    endforeach()
endforeach()
if(faults)
    list(JOIN faults "\n" listed)
    message(FATAL_ERROR "Headers befriend tests or benchmarks:\n${listed}")
endif()
