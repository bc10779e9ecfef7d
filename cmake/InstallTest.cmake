# Installs a built tree into a scratch prefix, checks what landed there,
# builds examples/embed against the installed package and checks that it
# bakes the same placements as the installed tool. Run with cmake -P:
#
#   cmake -DBUILD_DIR=... -DSOURCE_DIR=... -DWORK_DIR=... -DGENERATOR=...
#         -DMAKE_PROGRAM=... -DCXX_COMPILER=... -DCXX_FLAGS=... -DLINKER_FLAGS=...
#         -DBUILD_TYPE=... -DBINDIR=bin -DLIBDIR=lib -DINCLUDEDIR=include
#         -DMANDIR=share/man -DDATADIR=share -P InstallTest.cmake

cmake_minimum_required(VERSION 3.25)

foreach(var BUILD_DIR SOURCE_DIR WORK_DIR GENERATOR CXX_COMPILER BINDIR LIBDIR INCLUDEDIR MANDIR DATADIR)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "InstallTest.cmake: -D${var}=... is required")
  endif()
endforeach()

function(run what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${what} failed (${rc}):\n${ARGN}\n${out}\n${err}")
  endif()
  set(run_output "${out}" PARENT_SCOPE)
endfunction()

function(expect_file path)
  if(NOT EXISTS "${path}")
    message(FATAL_ERROR "not installed: ${path}")
  endif()
endfunction()

set(prefix ${WORK_DIR}/prefix)
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})

# --- the install itself --------------------------------------------------------

run("cmake --install" ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})

set(strewmill ${prefix}/${BINDIR}/strewmill)
set(worldgen ${prefix}/${BINDIR}/strewmill-worldgen)
set(cmakedir ${prefix}/${LIBDIR}/cmake/strewmill)
expect_file(${strewmill})
expect_file(${worldgen})
foreach(tool strewmill-diff strewmill-view)
  expect_file(${prefix}/${BINDIR}/${tool})
endforeach()
if(NOT EXISTS ${prefix}/${MANDIR}/man1/strewmill.1.gz)
  expect_file(${prefix}/${MANDIR}/man1/strewmill.1)
endif()
expect_file(${prefix}/${DATADIR}/bash-completion/completions/strewmill)
foreach(f strewmill-config.cmake strewmill-config-version.cmake strewmill-targets.cmake)
  expect_file(${cmakedir}/${f})
endforeach()

run("strewmill --version" ${strewmill} --version)
if(NOT run_output MATCHES "0\\.1\\.0")
  message(FATAL_ERROR "unexpected version output: ${run_output}")
endif()

# Every installed header's own includes must be installed too, and the
# decoders' private helpers must not be.
set(incroot ${prefix}/${INCLUDEDIR}/strewmill)
file(GLOB_RECURSE headers RELATIVE ${incroot} ${incroot}/*.h)
foreach(must lib/common/result.h lib/dat/dat_database.h lib/engine/placement.h)
  if(NOT must IN_LIST headers)
    message(FATAL_ERROR "public header not installed: ${must}")
  endif()
endforeach()
foreach(private lib/dat/primitives.h lib/dat/geometry_read.h)
  if(private IN_LIST headers)
    message(FATAL_ERROR "private header installed: ${private}")
  endif()
endforeach()
foreach(h IN LISTS headers)
  file(STRINGS ${incroot}/${h} includes REGEX "^#include \"")
  foreach(line IN LISTS includes)
    string(REGEX REPLACE "^#include \"([^\"]+)\".*" "\\1" inc "${line}")
    if(NOT EXISTS ${incroot}/${inc})
      message(FATAL_ERROR "${h} includes ${inc}, which is not installed")
    endif()
  endforeach()
endforeach()

# --- a consumer project against the installed package ---------------------------

set(embed_build ${WORK_DIR}/embed)
set(configure_args -S ${SOURCE_DIR}/examples/embed -B ${embed_build} -G ${GENERATOR}
    -DCMAKE_PREFIX_PATH=${prefix} -Dstrewmill_DIR=${cmakedir}
    -DCMAKE_CXX_COMPILER=${CXX_COMPILER} "-DCMAKE_CXX_FLAGS=${CXX_FLAGS}"
    "-DCMAKE_EXE_LINKER_FLAGS=${LINKER_FLAGS}")
if(BUILD_TYPE)
  list(APPEND configure_args -DCMAKE_BUILD_TYPE=${BUILD_TYPE})
endif()
if(MAKE_PROGRAM)
  list(APPEND configure_args -DCMAKE_MAKE_PROGRAM=${MAKE_PROGRAM})
endif()
run("configure examples/embed" ${CMAKE_COMMAND} ${configure_args})
run("build examples/embed" ${CMAKE_COMMAND} --build ${embed_build})
set(embed ${embed_build}/strewmill-embed)

# --- same placements as the tool -------------------------------------------------

# A 2 x 2 world: its low corner always has buildings that block some of the
# scenery; landblocks without terrain are skipped by both sides.
set(world ${WORK_DIR}/world)
run("strewmill-worldgen" ${worldgen} --out ${world} --landblocks A9B4..AAB5)

set(compared 0)
foreach(mode ace-compat strict)
  set(out ${WORK_DIR}/out-${mode})
  run("strewmill (${mode})" ${strewmill} --dat-dir ${world} --landblocks 0xA9B4..0xAAB5
      --mode ${mode} --out ${out})
  file(GLOB baked RELATIVE ${out} ${out}/0x*.scenery.jsonl)
  if(NOT "0xA9B4.scenery.jsonl" IN_LIST baked)
    message(FATAL_ERROR "strewmill did not bake 0xA9B4 (${mode}): ${baked}")
  endif()
  foreach(file IN LISTS baked)
    string(SUBSTRING ${file} 2 4 lb)
    file(READ ${out}/${file} expected)
    run("strewmill-embed ${lb} ${mode}" ${embed} ${world} ${lb} ${mode})
    if(NOT run_output STREQUAL expected)
      file(WRITE ${WORK_DIR}/embed-${mode}-${lb}.jsonl "${run_output}")
      message(FATAL_ERROR "strewmill-embed disagrees with strewmill on 0x${lb} (${mode}): "
                          "compare ${out}/${file} with ${WORK_DIR}/embed-${mode}-${lb}.jsonl")
    endif()
    string(LENGTH "${expected}" length)
    math(EXPR compared "${compared} + ${length}")
  endforeach()
endforeach()
if(compared EQUAL 0)
  message(FATAL_ERROR "the generated world produced no placements: nothing was compared")
endif()

message(STATUS "install, package config and embed example agree with the tool (${compared} bytes compared)")
file(REMOVE_RECURSE ${WORK_DIR})
