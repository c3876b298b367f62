# Builds the per-chip intermediate-code libraries, asking the driver which
# ones there are (cmake -P, at build time):
#
#   ZEPH, ROOK   the driver and the librarian just built
#   LIB_DIR      the library folder of the installation tree
#   WORK_DIR     a scratch folder of the build tree
#   SOURCE_DIR   the folder of the runtime sources
#   SOURCES      the per-chip modules' sources, relative to SOURCE_DIR
#   C_LIBRARIES  the file names of the C libraries, built apart
#   STAMP        the file listing the libraries built, one name a line
#
# 1. List the chips of the database (zeph --chipinfo).
# 2. For each chip, let the driver show without running them the programs
#    it would run (-V --noexec); the libraries it hands the code generator,
#    less the C libraries, are the chip's own.
# 3. Build each name once, with the first chip that asks for it: the driver
#    compiles SOURCES for that chip into it, or with no sources the
#    librarian makes it empty.
# 4. Remove the libraries of the last run that no chip asks for any more.
cmake_minimum_required(VERSION 3.25)
foreach(v ZEPH ROOK LIB_DIR WORK_DIR SOURCE_DIR C_LIBRARIES STAMP)
  if(NOT DEFINED ${v})
    message(FATAL_ERROR "chiplibs.cmake: ${v} is not set")
  endif()
endforeach()
file(MAKE_DIRECTORY ${WORK_DIR} ${LIB_DIR})
set(ENV{TEMP} ${WORK_DIR})

# Runs a program of the chain in `dir`; its output in `out_var`, fatal when
# it fails.
function(chain_run dir out_var)
  execute_process(COMMAND ${ARGN} WORKING_DIRECTORY ${dir}
    OUTPUT_VARIABLE out ERROR_VARIABLE out RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    list(JOIN ARGN " " command)
    message(FATAL_ERROR "${command}\n${out}")
  endif()
  set(${out_var} "${out}" PARENT_SCOPE)
endfunction()

# 1. "name:romsize:banks" lines after a ";" heading.
chain_run(${WORK_DIR} listing ${ZEPH} -Q --chipinfo)
string(REGEX MATCHALL "\n[^;:\n]+:" names "\n${listing}")
set(chips)
foreach(n IN LISTS names)
  string(REGEX REPLACE "[\n:]" "" n "${n}")
  list(APPEND chips ${n})
endforeach()
if(NOT chips)
  message(FATAL_ERROR "chiplibs.cmake: zeph --chipinfo listed no chip:\n${listing}")
endif()

# 2. The probe file need not exist: nothing runs.
set(libraries)
foreach(chip IN LISTS chips)
  chain_run(${WORK_DIR} shown ${ZEPH} -Q -V --noexec --chip=${chip} probe.c)
  string(REGEX MATCHALL "(^|\n)kestrel [^\n]*" lines "${shown}")
  foreach(line IN LISTS lines)
    string(STRIP "${line}" line)
    separate_arguments(words UNIX_COMMAND "${line}")
    foreach(w IN LISTS words)
      cmake_path(GET w FILENAME name)
      if(name MATCHES "\\.lpp$" AND NOT name IN_LIST C_LIBRARIES AND NOT name IN_LIST libraries)
        list(APPEND libraries ${name})
        set(chip_of_${name} ${chip})
      endif()
    endforeach()
  endforeach()
endforeach()

# 3. Each library made anew: the librarian keeps the modules of an existing
# one that are not replaced.
foreach(name IN LISTS libraries)
  file(REMOVE ${LIB_DIR}/${name})
  string(REGEX REPLACE "\\.lpp$" "" stem ${name})
  if(SOURCES)
    file(MAKE_DIRECTORY ${WORK_DIR}/${stem})
    chain_run(${SOURCE_DIR} ignored ${ZEPH} -Q --chip=${chip_of_${name}} --output=lpp
      --objdir=${WORK_DIR}/${stem} --outdir=${LIB_DIR} -O${stem} ${SOURCES})
  else()
    chain_run(${WORK_DIR} ignored ${ROOK} r ${LIB_DIR}/${name})
  endif()
endforeach()

# 4.
if(EXISTS ${STAMP})
  file(STRINGS ${STAMP} before)
  foreach(name IN LISTS before)
    if(NOT name IN_LIST libraries)
      file(REMOVE ${LIB_DIR}/${name})
    endif()
  endforeach()
endif()
list(JOIN libraries "\n" text)
file(WRITE ${STAMP} "${text}\n")
