# The core library needs neither widgets nor multimedia: none of its undefined symbols may name
# them. Run as: cmake -DNM=… -DLIBRARY=liborviloop_core.a -P check_layers.cmake
execute_process(COMMAND ${NM} --undefined-only --demangle ${LIBRARY}
                OUTPUT_VARIABLE symbols RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "nm could not read ${LIBRARY}")
endif()
string(REGEX MATCHALL "[^\n]*(QWidget|QMediaPlayer|QAudio[A-Za-z]*|QGraphics[A-Za-z]*|QVideo[A-Za-z]*)[^\n]*"
       layering_faults "${symbols}")
if(layering_faults)
    list(JOIN layering_faults "\n" listed)
    message(FATAL_ERROR "The core library uses widgets or multimedia:\n${listed}")
endif()
string(LENGTH "${symbols}" length)
if(length EQUAL 0)
    message(FATAL_ERROR "${LIBRARY} names no undefined symbols at all: not the library meant")
endif()
