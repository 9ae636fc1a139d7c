# The version is set once, in project(). The program's resource script and its C++ code read it
# from a generated Version.h; its manifest, generated too, names the same version.
set(NVR_VERSION_FOUR "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}.0")
set(NVR_GENERATED_DIR ${CMAKE_BINARY_DIR}/generated)
configure_file(${PROJECT_SOURCE_DIR}/app/Version.h.in ${NVR_GENERATED_DIR}/Version.h @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/app/NimbraVIZRecorder.manifest.in
               ${NVR_GENERATED_DIR}/NimbraVIZRecorder.manifest @ONLY)
target_include_directories(nvr_core PUBLIC ${NVR_GENERATED_DIR})
