# The downloads, made by CPack ("cpack" in the build folder, or the package target): the
# program, the README and the usage reference it links to (docs/usage.md), a sample
# dosbox.conf and a double-clickable command that takes the last run back, as
# confmend-<version>-linux-x86_64.tar.gz from the release build (statically linked, so that
# it runs where no C++ runtime is installed, such as on a Steam Deck) and as
# confmend-<version>-windows.zip from the Windows build.
install(TARGETS confmend RUNTIME DESTINATION .)
install(FILES README.md examples/reference/dosbox.conf DESTINATION .)
install(FILES docs/usage.md DESTINATION docs)
if(WIN32)
  install(FILES "driver/Undo last run.cmd" DESTINATION .)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME windows)
else()
  install(PROGRAMS driver/undo-last-run DESTINATION .)
  set(CPACK_GENERATOR TGZ)
  set(CPACK_SYSTEM_NAME linux-${CMAKE_SYSTEM_PROCESSOR})
endif()
set(CPACK_PACKAGE_FILE_NAME "confmend-${PROJECT_VERSION}-${CPACK_SYSTEM_NAME}")
set(CPACK_STRIP_FILES ON)
include(CPack)
