# The release version lives in the top-level project() call and nowhere else. This makes
# it available to code (Version.h), to the release script (velkor-version.txt in the build
# folder) and to Windows version resources.
set(VELKOR_GENERATED_DIR ${CMAKE_BINARY_DIR}/generated)
configure_file(${CMAKE_CURRENT_LIST_DIR}/Version.h.in ${VELKOR_GENERATED_DIR}/Version.h @ONLY)
file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/velkor-version.txt CONTENT "${PROJECT_VERSION}\n")

add_library(velkor_version INTERFACE)
target_include_directories(velkor_version INTERFACE ${VELKOR_GENERATED_DIR})

# velkor_version_resource(TARGET DESCRIPTION): gives a Windows executable a version resource
# generated from the project version.
function(velkor_version_resource target description)
  set(VR_NAME ${target})
  set(VR_DESCRIPTION ${description})
  configure_file(${CMAKE_SOURCE_DIR}/cmake/version.rc.in ${VELKOR_GENERATED_DIR}/${target}.rc @ONLY)
  target_sources(${target} PRIVATE ${VELKOR_GENERATED_DIR}/${target}.rc)
  target_link_libraries(${target} PRIVATE velkor_version)
endfunction()
