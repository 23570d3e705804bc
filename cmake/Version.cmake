# The product version is the project's (project() in CMakeLists.txt), written
# nowhere else: this stamps it, with the build's number, into the exes'
# resources and texts (generated/Version.h), their manifests, and the
# release's names (version.env, read by scripts/dist.sh).
#
# The build's number: -DQM_BUILD_NUMBER=N, else $QM_BUILD_NUMBER, else the
# count of commits, else 0 (a tree without its history).
if(NOT DEFINED QM_BUILD_NUMBER)
  if(DEFINED ENV{QM_BUILD_NUMBER})
    set(QM_BUILD_NUMBER $ENV{QM_BUILD_NUMBER})
  else()
    execute_process(COMMAND git rev-list --count HEAD WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
                    OUTPUT_VARIABLE QM_BUILD_NUMBER OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  endif()
endif()
if(NOT QM_BUILD_NUMBER MATCHES "^[0-9]+$")
  set(QM_BUILD_NUMBER 0)
endif()
set(QM_FILE_VERSION ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.0.${QM_BUILD_NUMBER})
# Who the files name as their maker: the holders named in LICENSE.
set(QM_COMPANY "the Quillmere authors")
set(QM_COPYRIGHT "Copyright (c) the Quillmere authors, MIT 许可证")

# Windows loads a manifest only when its architecture is the exe's own.
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(i.86|x86)$")
  set(QM_MANIFEST_ARCH x86)
  set(QM_DIST_ARCH win32)
else()
  set(QM_MANIFEST_ARCH amd64)
  set(QM_DIST_ARCH win64)
endif()

set(QM_GENERATED ${CMAKE_BINARY_DIR}/generated)
configure_file(${CMAKE_CURRENT_LIST_DIR}/Version.h.in ${QM_GENERATED}/Version.h @ONLY)
configure_file(${CMAKE_SOURCE_DIR}/app/Quillmere.manifest.in ${QM_GENERATED}/Quillmere.manifest @ONLY)
configure_file(${CMAKE_SOURCE_DIR}/cli/qmcopy.manifest.in ${QM_GENERATED}/qmcopy.manifest @ONLY)
configure_file(${CMAKE_CURRENT_LIST_DIR}/version.env.in ${CMAKE_BINARY_DIR}/version.env @ONLY)
# The resource scripts find the manifests here by name.
include_directories(${QM_GENERATED})
