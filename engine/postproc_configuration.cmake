# Records the post-processing library's configuration when the build is configured
# and makes it available to info.cpp as WVC_POSTPROC_CONFIGURATION (a generated
# header in the build tree). The banner warns when the library loaded at run time
# reports a different configuration.
try_run(WVC_PPCONF_RUN WVC_PPCONF_COMPILE
  ${CMAKE_CURRENT_BINARY_DIR}/postproc_configuration_probe
  SOURCES ${PROJECT_SOURCE_DIR}/tools/postproc_configuration.c
  LINK_LIBRARIES PkgConfig::FFMPEG
  COMPILE_OUTPUT_VARIABLE WVC_PPCONF_COMPILE_LOG
  RUN_OUTPUT_VARIABLE WVC_POSTPROC_CONFIGURATION)
if(NOT WVC_PPCONF_COMPILE OR NOT WVC_PPCONF_RUN EQUAL 0)
  message(FATAL_ERROR "Could not read the post-processing library's configuration:\n"
                      "${WVC_PPCONF_COMPILE_LOG}")
endif()
configure_file(${CMAKE_CURRENT_LIST_DIR}/postproc_configuration.h.in
               ${CMAKE_CURRENT_BINARY_DIR}/generated/postproc_configuration.h @ONLY)
