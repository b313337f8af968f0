# vz_add_release_resources(TARGET DESCRIPTION text [ELEVATED])
# Gives a program its version block and application manifest, both generated from
# the project version so that one number names the release everywhere. ELEVATED
# programs ask to run as administrator; the others run as the invoker.
#
# The manifest names no common-controls version: the dialogs keep the look they
# were laid out with. It declares the program DPI-unaware, so at 150 % Windows
# scales the whole window as a bitmap and the fixed 96-DPI layouts stay whole.
function(vz_add_release_resources target)
  cmake_parse_arguments(R "ELEVATED" "DESCRIPTION" "" ${ARGN})
  get_target_property(VZ_ORIGINAL_NAME ${target} OUTPUT_NAME)
  get_target_property(suffix ${target} SUFFIX)
  string(APPEND VZ_ORIGINAL_NAME ${suffix})
  set(VZ_FILE_DESCRIPTION ${R_DESCRIPTION})
  set(VZ_ASSEMBLY_NAME ${target})
  set(VZ_VERSION_MAJOR ${PROJECT_VERSION_MAJOR})
  set(VZ_VERSION_MINOR ${PROJECT_VERSION_MINOR})
  set(VZ_VERSION_PATCH ${PROJECT_VERSION_PATCH})
  set(VZ_VERSION_TEXT ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}.0)
  if(R_ELEVATED)
    set(VZ_EXECUTION_LEVEL requireAdministrator)
  else()
    set(VZ_EXECUTION_LEVEL asInvoker)
  endif()
  if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
    set(VZ_MANIFEST_ARCH amd64)
  else()
    set(VZ_MANIFEST_ARCH x86)
  endif()
  set(dir ${CMAKE_CURRENT_BINARY_DIR}/release-${target})
  set(VZ_MANIFEST_FILE ${target}.manifest)
  configure_file(${VZ_RELEASE_TEMPLATES}/app.manifest.in ${dir}/${target}.manifest @ONLY NEWLINE_STYLE CRLF)
  configure_file(${VZ_RELEASE_TEMPLATES}/versioninfo.rc.in ${dir}/${target}_version.rc @ONLY)
  # The manifest is named relative to the .rc so that no build path enters the program.
  set_source_files_properties(${dir}/${target}_version.rc PROPERTIES OBJECT_DEPENDS ${dir}/${target}.manifest
    INCLUDE_DIRECTORIES ${dir})
  target_sources(${target} PRIVATE ${dir}/${target}_version.rc)
  # The same sources give the same program: no link time in the PE header.
  target_link_options(${target} PRIVATE -Wl,--no-insert-timestamp)
endfunction()
set(VZ_RELEASE_TEMPLATES ${CMAKE_CURRENT_LIST_DIR})

# Nothing of the checkout's place enters the Windows programs (file names that
# __FILE__ or an assertion would carry are taken relative to the source tree).
if(WIN32)
  add_compile_options(-ffile-prefix-map=${CMAKE_SOURCE_DIR}/=)
endif()
