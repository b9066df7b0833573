# Installs the build into a scratch prefix and checks the installed tree: programs in bin, the
# picture and the demo lesson in the data directory, its subtitles taken over already (the
# player renames nothing under /usr), and the desktop integration files.
# Usage: cmake -DBUILD_DIR=... -DPREFIX=... -P check_install.cmake
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND ${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix "${PREFIX}"
                RESULT_VARIABLE status OUTPUT_QUIET)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "cmake --install failed: ${status}")
endif()
include(GNUInstallDirs)
set(data "${PREFIX}/${CMAKE_INSTALL_DATADIR}")
set(expected
    "${PREFIX}/${CMAKE_INSTALL_BINDIR}/orviloop"
    "${PREFIX}/${CMAKE_INSTALL_BINDIR}/orviloop-align"
    "${PREFIX}/${CMAKE_INSTALL_BINDIR}/orviloop-export"
    "${PREFIX}/${CMAKE_INSTALL_BINDIR}/orviloop-srtdump"
    "${data}/orviloop/donation.jpg"
    "${data}/orviloop/OrviLoop Demo.mp4"
    "${data}/orviloop/OrviLoop Demo.srt1"
    "${data}/orviloop/OrviLoop Demo Audio.mp3"
    "${data}/orviloop/OrviLoop Demo Audio.srt1"
    "${data}/applications/orviloop.desktop"
    "${data}/metainfo/org.orviloop.OrviLoop.metainfo.xml"
    "${data}/icons/hicolor/256x256/apps/orviloop.png")
foreach(path IN LISTS expected)
    if(NOT EXISTS "${path}")
        message(FATAL_ERROR "not installed: ${path}")
    endif()
endforeach()
file(GLOB leftovers "${data}/orviloop/*.srt")
if(leftovers)
    message(FATAL_ERROR "subtitles the player would rename: ${leftovers}")
endif()
file(READ "${data}/orviloop/OrviLoop Demo.srt1" subtitle)
if(NOT subtitle MATCHES "-->")
    message(FATAL_ERROR "the demo subtitle is empty")
endif()
file(REMOVE_RECURSE "${PREFIX}")
