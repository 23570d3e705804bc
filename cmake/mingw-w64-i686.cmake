# Cross build for 32-bit Windows: the same toolchain, i686.
set(QM_TARGET_PROCESSOR i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
