# Desktop integration, installed data and the Debian package.
set(ORVILOOP_DATADIR ${CMAKE_INSTALL_DATADIR}/orviloop)
install(FILES ${CMAKE_SOURCE_DIR}/assets/donation.jpg DESTINATION ${ORVILOOP_DATADIR})
# The player takes a lesson's ".srt" over by renaming it to ".srt1"; the installed data is not the
# learner's to rename, so the demo lesson ships with its subtitles taken over already.
install(DIRECTORY ${CMAKE_BINARY_DIR}/demo-dist/ DESTINATION ${ORVILOOP_DATADIR} PATTERN "*.srt" EXCLUDE)
foreach(lesson "OrviLoop Demo" "OrviLoop Demo Audio")
    install(FILES "${CMAKE_BINARY_DIR}/demo-dist/${lesson}.srt" DESTINATION ${ORVILOOP_DATADIR}
            RENAME "${lesson}.srt1")
endforeach()
install(FILES ${CMAKE_SOURCE_DIR}/assets/orviloop.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_SOURCE_DIR}/assets/org.orviloop.OrviLoop.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${CMAKE_SOURCE_DIR}/assets/orviloop.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/256x256/apps)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME orviloop)
set(CPACK_PACKAGE_CONTACT "OrviLoop developers <orviloop@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "libqt6core6 (>= 6.4), libqt6gui6 (>= 6.4), libqt6widgets6 (>= 6.4), libqt6network6 (>= 6.4), libqt6concurrent6 (>= 6.4), libqt6multimedia6 (>= 6.4), libqt6multimediawidgets6 (>= 6.4), qt6-qpa-plugins, qt6-image-formats-plugins | libqt6gui6, ffmpeg, fonts-wqy-microhei | fonts-noto-cjk, fonts-symbola")
if(ORVILOOP_HAVE_MPV)
    string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", libmpv2")
endif()
include(CPack)
