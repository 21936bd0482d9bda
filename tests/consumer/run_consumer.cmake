# Install consumer test: installs the Velunor build into a scratch prefix and
# builds and runs a host against it, the way another project would.
#
#   cmake -DSTEP=install|cmake|pkgconfig -DBUILD_DIR=<velunor build> -DWORK_DIR=<scratch>
#         -DCONSUMER_DIR=<this folder> -DLIBDIR=<CMAKE_INSTALL_LIBDIR> -DBINDIR=<...>
#         -DC_COMPILER=<cc> -DGENERATOR=<generator> [-DPKG_CONFIG=<pkg-config>]
#         [-DC_FLAGS=<flags>] [-DLINK_FLAGS=<flags>] -P run_consumer.cmake
#
# STEP=install puts the build into WORK_DIR/prefix and checks what landed
# there; STEP=cmake builds the host with find_package(velunor) and STEP=pkgconfig
# with the compiler and `pkg-config --cflags --libs velunor`; both then run it.

set(prefix ${WORK_DIR}/prefix)
set(deck ${CONSUMER_DIR}/consumer.inp)
set(particle_count 8)
separate_arguments(c_flags UNIX_COMMAND "${C_FLAGS}")
separate_arguments(link_flags UNIX_COMMAND "${LINK_FLAGS}")

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE out
                  ERROR_VARIABLE out)
  if(NOT result EQUAL 0)
    string(REPLACE ";" " " command "${ARGN}")
    message(FATAL_ERROR "failed (${result}): ${command}\n${out}")
  endif()
  message("${out}")
endfunction()

# The installed binaries must find the library through their own RPATH, not
# through the build tree or the environment.
set(clean_env ${CMAKE_COMMAND} -E env --unset=LD_LIBRARY_PATH)

if(STEP STREQUAL "install")
  file(REMOVE_RECURSE ${prefix})
  run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
  foreach(file ${LIBDIR}/libvelunor_c.so ${LIBDIR}/libvelunor_c.so.0
               ${LIBDIR}/libvelunor_c.so.0.8.3 include/velunor.h ${BINDIR}/velunor
               ${LIBDIR}/cmake/velunor/velunor-config.cmake
               ${LIBDIR}/cmake/velunor/velunor-config-version.cmake
               ${LIBDIR}/pkgconfig/velunor.pc)
    if(NOT EXISTS ${prefix}/${file})
      message(FATAL_ERROR "not installed: ${file}")
    endif()
  endforeach()
  # Build-tree only: the static archive, tests, benchmarks and example hosts.
  file(GLOB_RECURSE stray LIST_DIRECTORIES false RELATIVE ${prefix} ${prefix}/*.a
       ${prefix}/*velunor_tests* ${prefix}/*c_host_test* ${prefix}/*coupled_plate*
       ${prefix}/*bench_*)
  if(stray)
    message(FATAL_ERROR "installed but build-tree only: ${stray}")
  endif()
  run(${clean_env} ${prefix}/${BINDIR}/velunor info ${deck})
elseif(STEP STREQUAL "cmake")
  set(build ${WORK_DIR}/cmake_build)
  file(REMOVE_RECURSE ${build})
  string(REPLACE ";" " " c_flags_text "${c_flags}")
  string(REPLACE ";" " " link_flags_text "${link_flags}")
  run(${CMAKE_COMMAND} -S ${CONSUMER_DIR} -B ${build} -G ${GENERATOR}
      -DCMAKE_C_COMPILER=${C_COMPILER} -DCMAKE_PREFIX_PATH=${prefix}
      -DCMAKE_FIND_PACKAGE_PREFER_CONFIG=ON "-DCMAKE_C_FLAGS=${c_flags_text}"
      "-DCMAKE_EXE_LINKER_FLAGS=${link_flags_text}")
  run(${CMAKE_COMMAND} --build ${build})
  run(${clean_env} ${build}/velunor_consumer ${deck} ${particle_count})
elseif(STEP STREQUAL "pkgconfig")
  set(build ${WORK_DIR}/pkgconfig_build)
  file(REMOVE_RECURSE ${build})
  file(MAKE_DIRECTORY ${build})
  set(pc_env ${CMAKE_COMMAND} -E env PKG_CONFIG_PATH=${prefix}/${LIBDIR}/pkgconfig)
  execute_process(COMMAND ${pc_env} ${PKG_CONFIG} --cflags --libs velunor
                  RESULT_VARIABLE result OUTPUT_VARIABLE pc_flags ERROR_VARIABLE pc_error
                  OUTPUT_STRIP_TRAILING_WHITESPACE)
  execute_process(COMMAND ${pc_env} ${PKG_CONFIG} --variable=libdir velunor
                  OUTPUT_VARIABLE pc_libdir OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT result EQUAL 0 OR NOT pc_libdir STREQUAL "${prefix}/${LIBDIR}")
    message(FATAL_ERROR "pkg-config velunor: ${pc_error} (libdir '${pc_libdir}')")
  endif()
  separate_arguments(pc_flags UNIX_COMMAND "${pc_flags}")
  run(${C_COMPILER} -std=c11 -Wall -Wextra -Werror ${c_flags} ${CONSUMER_DIR}/main.c
      -o ${build}/velunor_consumer ${pc_flags} -Wl,-rpath,${pc_libdir} ${link_flags} -lm)
  run(${clean_env} ${build}/velunor_consumer ${deck} ${particle_count})
else()
  message(FATAL_ERROR "unknown STEP '${STEP}'")
endif()
