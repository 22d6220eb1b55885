# The Python interpreter the tests' scripts run with (end-to-end, packaging,
# the benchmark runner, the PCX decoder's reference pictures). They read and
# compare pictures with Pillow, which Debian gives the system interpreter
# (python3-pil); an interpreter that comes earlier on PATH, a pyenv shim or
# a virtual environment, usually lacks it. So the first python3 on PATH that
# imports PIL is taken, and FindPython is told to use that one. Set
# Python3_EXECUTABLE to choose another.
function(velkorandi_python_has_pillow result candidate)
  execute_process(COMMAND ${candidate} -c "import PIL"
                  RESULT_VARIABLE status OUTPUT_QUIET ERROR_QUIET)
  if(NOT status EQUAL 0)
    set(${result} FALSE PARENT_SCOPE)
  endif()
endfunction()

find_program(Python3_EXECUTABLE NAMES python3 NAMES_PER_DIR
             VALIDATOR velkorandi_python_has_pillow
             DOC "Python 3 interpreter with Pillow, for the tests' scripts")
if(NOT Python3_EXECUTABLE)
  message(FATAL_ERROR "No python3 with Pillow on PATH (Debian: apt install python3-pil), "
                      "or set Python3_EXECUTABLE")
endif()
find_package(Python3 COMPONENTS Interpreter REQUIRED)
