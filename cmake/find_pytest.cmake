# VMK_PYTEST_PYTHON: an interpreter that has pytest. Debian's python3-pytest serves
# /usr/bin/python3, which need not be the first python3 on the PATH.
if(NOT VMK_PYTEST_PYTHON)
  find_package(Python3 REQUIRED COMPONENTS Interpreter)
  foreach(candidate ${Python3_EXECUTABLE} /usr/bin/python3)
    execute_process(COMMAND ${candidate} -c "import pytest" RESULT_VARIABLE rc OUTPUT_QUIET
                    ERROR_QUIET)
    if(rc EQUAL 0)
      set(VMK_PYTEST_PYTHON ${candidate} CACHE FILEPATH "Python with pytest, for the tests")
      break()
    endif()
  endforeach()
  if(NOT VMK_PYTEST_PYTHON)
    message(FATAL_ERROR "the Python tests need pytest (Debian: python3-pytest)")
  endif()
endif()
