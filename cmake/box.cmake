# The box binary as it is installed on the box, and the checks of the cross build.
#
# LUMETRA_STATIC_BOX links `lumetra` and `lumetra-convert` statically and strips
# them, so the box needs nothing beyond the kernel. CMake's FreeType target names
# the shared library and none of the libraries FreeType itself needs, so the
# archives are named here.
#
# When cross-compiling with an emulator (cmake/cross-toolchain.cmake) the tests
# run through it, the scenario and converter tests reach lumetra-sim and
# lumetra-convert through wrappers that start them under the emulator too (so the
# static converter's output is checked on the box's side), and more tests check
# the box binaries: they are static stripped executables for the box's
# architecture and the player fails cleanly without a framebuffer, the .ipk
# package holds what it should, and on MIPS (whose boxes have no FPU) only the
# frame-rate rescale and the conversion use the FPU.

option(LUMETRA_STATIC_BOX "Link the box binary statically and strip it" OFF)

if(LUMETRA_STATIC_BOX AND TARGET lumetra)
  set(_lumetra_static_libs)
  foreach(_lib freetype png16 z brotlidec brotlicommon)
    find_library(LUMETRA_STATIC_${_lib} NAMES lib${_lib}.a REQUIRED)
    list(APPEND _lumetra_static_libs ${LUMETRA_STATIC_${_lib}})
  endforeach()

  get_target_property(_lumetra_libs lumetra LINK_LIBRARIES)
  list(REMOVE_ITEM _lumetra_libs Freetype::Freetype)
  # FreeType first: the archives are searched once, in order.
  list(APPEND _lumetra_libs ${_lumetra_static_libs})
  set_property(TARGET lumetra PROPERTY LINK_LIBRARIES ${_lumetra_libs})
  target_include_directories(lumetra PRIVATE ${FREETYPE_INCLUDE_DIRS})
  target_link_options(lumetra PRIVATE -static -Wl,--gc-sections)

  if(NOT CMAKE_STRIP)
    message(FATAL_ERROR "LUMETRA_STATIC_BOX needs a strip program")
  endif()
  add_custom_command(TARGET lumetra POST_BUILD
    COMMAND "${CMAKE_STRIP}" --strip-all "$<TARGET_FILE:lumetra>"
    VERBATIM)

  # The converter goes on the box beside the player, static and stripped the same way.
  target_link_options(lumetra-convert PRIVATE -static -Wl,--gc-sections)
  add_custom_command(TARGET lumetra-convert POST_BUILD
    COMMAND "${CMAKE_STRIP}" --strip-all "$<TARGET_FILE:lumetra-convert>"
    VERBATIM)
endif()

if(CMAKE_CROSSCOMPILING AND CMAKE_CROSSCOMPILING_EMULATOR)
  # The scenario tests start lumetra-sim, and the converter's tests lumetra-convert,
  # as programs of the host; these scripts start the target's programs under the
  # emulator instead.
  set(_lumetra_emulator_sh "")
  foreach(_arg ${CMAKE_CROSSCOMPILING_EMULATOR})
    string(APPEND _lumetra_emulator_sh " '${_arg}'")
  endforeach()
  foreach(_program lumetra-sim:LUMETRA_SIM_BINARY lumetra-convert:LUMETRA_CONVERT_BINARY)
    string(REPLACE ":" ";" _program "${_program}")
    list(GET _program 0 _target)
    list(GET _program 1 _define)
    if(NOT TARGET lumetra_test_support OR NOT TARGET ${_target})
      continue()
    endif()
    set(_wrapper "${CMAKE_BINARY_DIR}/${_target}-emulated")
    file(GENERATE OUTPUT "${_wrapper}"
      CONTENT "#!/bin/sh\nexec${_lumetra_emulator_sh} '$<TARGET_FILE:${_target}>' \"$@\"\n"
      FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
        WORLD_READ WORLD_EXECUTE)
    foreach(_prop COMPILE_DEFINITIONS INTERFACE_COMPILE_DEFINITIONS)
      get_target_property(_defs lumetra_test_support ${_prop})
      if(_defs)
        list(TRANSFORM _defs REPLACE "^${_define}=.*$" "${_define}=\"${_wrapper}\"")
        set_property(TARGET lumetra_test_support PROPERTY ${_prop} ${_defs})
      endif()
    endforeach()
  endforeach()

  set(_lumetra_mips FALSE)
  if(CMAKE_SYSTEM_PROCESSOR MATCHES "^mips")
    set(_lumetra_mips TRUE)
    # The player's own objects, for scripts/check-fpu.sh; the box binary's other
    # two objects are found beside it.
    file(GENERATE OUTPUT "${CMAKE_BINARY_DIR}/box-objects.txt"
      CONTENT "$<JOIN:$<TARGET_OBJECTS:lumetra_player>,\n>\n")
  endif()

  if(LUMETRA_TESTS AND TARGET lumetra)
    if(LUMETRA_STATIC_BOX AND LUMETRA_CROSS_ARCH)
      add_test(NAME box.binary
        COMMAND sh "${CMAKE_SOURCE_DIR}/tests/box_binary_test.sh" ${LUMETRA_CROSS_ARCH}
          "$<TARGET_FILE:lumetra>" "$<TARGET_FILE:lumetra-convert>" ${CMAKE_CROSSCOMPILING_EMULATOR})
      set_tests_properties(box.binary PROPERTIES LABELS "box" SKIP_RETURN_CODE 77 TIMEOUT 60)
    endif()
    if(_lumetra_mips)
      add_test(NAME box.fpu
        COMMAND bash "${CMAKE_SOURCE_DIR}/scripts/check-fpu.sh" "${CMAKE_BINARY_DIR}")
      set_tests_properties(box.fpu PROPERTIES LABELS "box" TIMEOUT 120)
    endif()
    if(LUMETRA_STATIC_BOX AND LUMETRA_CROSS_ARCH)
      add_test(NAME box.package
        COMMAND sh "${CMAKE_SOURCE_DIR}/tests/box_package_test.sh" ${LUMETRA_CROSS_ARCH}
          "$<TARGET_FILE:lumetra>" "$<TARGET_FILE:lumetra-convert>")
      set_tests_properties(box.package PROPERTIES LABELS "box" TIMEOUT 120)
    endif()
  endif()

  if(TARGET lumetra AND LUMETRA_CROSS_ARCH)
    add_custom_target(box-package
      COMMAND bash "${CMAKE_SOURCE_DIR}/scripts/box-package.sh" --arch ${LUMETRA_CROSS_ARCH}
        --binary "$<TARGET_FILE:lumetra>" --converter "$<TARGET_FILE:lumetra-convert>"
        --out "${CMAKE_BINARY_DIR}"
      DEPENDS lumetra lumetra-convert
      COMMENT "Packing the box package"
      VERBATIM)
  endif()
endif()
