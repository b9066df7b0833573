# libmpv is opened once the program runs (media/mpvlibrary.h): the program must not name it among
# the libraries it is linked with, or its start waits for some two hundred of them again.
# Run as: cmake -DOBJDUMP=… -DPROGRAM=orviloop -P check_start_libraries.cmake
execute_process(COMMAND ${OBJDUMP} -p ${PROGRAM} OUTPUT_VARIABLE headers RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "objdump could not read ${PROGRAM}")
endif()
string(REGEX MATCHALL "NEEDED +[^\n]+" needed "${headers}")
if(NOT needed MATCHES "libQt6Core")
    message(FATAL_ERROR "${PROGRAM} names no Qt library: not the program meant")
endif()
if(needed MATCHES "libmpv")
    message(FATAL_ERROR "${PROGRAM} is linked with libmpv:\n${needed}")
endif()
