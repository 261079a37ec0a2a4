# The zip a Windows user downloads: the program, the README and a sample dosbox.conf.
set(CONFMEND_ZIP "${CMAKE_BINARY_DIR}/confmend-${PROJECT_VERSION}-windows.zip")
set(CONFMEND_STAGE "${CMAKE_BINARY_DIR}/package/confmend")
add_custom_command(
  OUTPUT ${CONFMEND_ZIP}
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${CONFMEND_STAGE}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CONFMEND_STAGE}
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:confmend> ${CONFMEND_STAGE}/
  COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_SOURCE_DIR}/README.md ${CONFMEND_STAGE}/README.md
  COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_SOURCE_DIR}/examples/reference/dosbox.conf
          ${CONFMEND_STAGE}/dosbox.conf
  COMMAND ${CMAKE_COMMAND} -E rm -f ${CONFMEND_ZIP}
  COMMAND ${CMAKE_COMMAND} -E chdir ${CMAKE_BINARY_DIR}/package
          ${CMAKE_COMMAND} -E tar cf ${CONFMEND_ZIP} --format=zip confmend
  DEPENDS confmend ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/examples/reference/dosbox.conf
  COMMENT "Packing ${CONFMEND_ZIP}"
)
add_custom_target(package_zip ALL DEPENDS ${CONFMEND_ZIP})
