# Install layout and the Debian package.
#   cmake --install build --prefix P
# puts the client and its two tools into P/bin, the noise-suppression program
# with its model into P/libexec/sonvira/deepfilternet (where the client looks
# when it is not next to the executable), and the desktop entry, icons and
# AppStream metainfo into P/share.
set(SONVIRA_LINUX_DIR ${PROJECT_SOURCE_DIR}/resources/linux)

foreach(program sonvira-desktop sonvira-headless sonvira-loudness sonvira-service)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION bin)
  endif()
endforeach()
if(TARGET deepfilternet)
  install(TARGETS deepfilternet RUNTIME DESTINATION libexec/sonvira/deepfilternet)
  install(FILES ${PROJECT_SOURCE_DIR}/tools/denoise/model/denoise.params
          DESTINATION libexec/sonvira/deepfilternet/model)
endif()

# The client without a window as a systemd user service (systemctl --user).
# The unit names the installed program by its full path, so it is written at
# install time from the prefix in force then (`cmake --install --prefix P`,
# or the package's /usr when CPack installs).
if(TARGET sonvira-headless)
  set(unit ${CMAKE_BINARY_DIR}/unit/sonvira-headless.service)
  install(CODE "
    set(SONVIRA_BIN_DIR \"\${CMAKE_INSTALL_PREFIX}/bin\")
    set(SONVIRA_DOC_DIR \"\${CMAKE_INSTALL_PREFIX}/share/doc/sonvira-desktop\")
    configure_file(\"${PROJECT_SOURCE_DIR}/headless/sonvira-headless.service.in\" \"${unit}\" @ONLY)
  ")
  install(FILES ${unit} DESTINATION lib/systemd/user)
endif()
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION share/doc/sonvira-desktop)
install(FILES ${SONVIRA_LINUX_DIR}/${SONVIRA_APP_ID}.desktop DESTINATION share/applications)
install(FILES ${SONVIRA_LINUX_DIR}/${SONVIRA_APP_ID}.metainfo.xml DESTINATION share/metainfo)
foreach(size 16 22 24 32 48 64 128 256)
  install(FILES ${SONVIRA_LINUX_DIR}/icons/${size}x${size}/sonvira-desktop.png
          DESTINATION share/icons/hicolor/${size}x${size}/apps)
endforeach()

# scripts/package runs CPack on the build folder. The package's library
# dependencies are read from the installed programs (dpkg-shlibdeps); the
# platform plugins and ffmpeg are run-time needs no library link shows.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME sonvira-desktop)
set(CPACK_PACKAGE_VENDOR Sonvira)
set(CPACK_PACKAGE_CONTACT "Sonvira <support@sonvira.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Desktop client of the Sonvira audio-processing service")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "ffmpeg")
include(CPack)
