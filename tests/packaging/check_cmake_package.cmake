# Installs a build tree into a fresh prefix, then configures, builds and runs the consumer
# project against that prefix alone. Usage:
#   cmake -DBUILD_DIR=... -DWORK_DIR=... -DCXX=... [-DGENERATOR=...] -P check_cmake_package.cmake
foreach(var BUILD_DIR WORK_DIR CXX)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "${var} is not set")
  endif()
endforeach()
if(NOT DEFINED GENERATOR)
  set(GENERATOR Ninja)
endif()

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    list(JOIN ARGN " " shown)
    message(FATAL_ERROR "failed (${rc}): ${shown}")
  endif()
endfunction()

set(prefix ${WORK_DIR}/prefix)
set(consumer ${WORK_DIR}/consumer)
file(REMOVE_RECURSE ${prefix} ${consumer})

run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
# The prefix is the only place to look: the checkout's headers must not be needed.
run(${CMAKE_COMMAND} -S ${CMAKE_CURRENT_LIST_DIR}/consumer -B ${consumer} -G ${GENERATOR}
    -DCMAKE_CXX_COMPILER=${CXX} -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF)
run(${CMAKE_COMMAND} --build ${consumer})
run(${consumer}/consumer)
