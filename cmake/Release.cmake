# The release: a zip with the program, its banner, the user's guide and lsl.dll. The simulated sensor
# runtime and the encoder relay are test stand-ins and are never installed.
install(TARGETS NimbraVIZRecorder RUNTIME DESTINATION .)
install(FILES "${PROJECT_SOURCE_DIR}/app/Nimbra_Umbraline VIZ Banner small.bmp" DESTINATION .)
install(FILES "${PROJECT_SOURCE_DIR}/docs/USER-GUIDE.md" DESTINATION . RENAME "User's Guide.txt")
install(FILES "${PROJECT_SOURCE_DIR}/LICENSE" DESTINATION . RENAME "License.txt" OPTIONAL)
# Lab Streaming Layer's library and its licence, beside the program, when the build has them.
if(EXISTS "${NVR_LSL_DIR}/lsl.dll" AND EXISTS "${NVR_LSL_DIR}/LICENSE")
  install(FILES "${NVR_LSL_DIR}/lsl.dll" DESTINATION .)
  install(FILES "${NVR_LSL_DIR}/LICENSE" DESTINATION . RENAME "lsl.dll License.txt")
else()
  message(STATUS "No lsl.dll in ${NVR_LSL_DIR}: the release is made without it")
endif()

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME NimbraVIZRecorder)
set(CPACK_PACKAGE_VENDOR "Nimbra Umbraline")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_SYSTEM_NAME win64)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_PACKAGE_FILE_NAME "NimbraVIZRecorder-${PROJECT_VERSION}-win64")
set(CPACK_OUTPUT_FILE_PREFIX "${CMAKE_BINARY_DIR}/release")
include(CPack)
