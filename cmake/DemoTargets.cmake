# demo_add_test(NAME name SOURCES ... LIBS ... [DISPLAY] [NO_LEAK_CHECK] [WHOLE]
#               [WORKING_DIRECTORY dir] [ENV var=value...])
#   One GoogleTest executable; every test case in it is a ctest test of its
#   own, named name.Suite.Case, so that a failure names its case and
#   `ctest -R name` still selects the whole executable. Parameterised cases
#   keep GoogleTest's own names (name.Instance/Suite.Case/Param): a
#   parameter's printed value may hold addresses, which change every run.
#   DISPLAY: the test needs the X server that test.sh starts (xvfb-run). Its
#   cases are listed when ctest runs, under that server, rather than after
#   the build, where there may be no display.
#   NO_LEAK_CHECK: the process makes a GL context; Mesa and libdbus leak small
#   blocks that LeakSanitizer cannot attribute (the driver is unloaded at exit),
#   so leak detection is switched off for that process only.
#   WHOLE: the executable is one ctest test, its cases run in one process,
#   for cases that pass only after others have run (say which, and why).
function(demo_add_test)
  cmake_parse_arguments(T "DISPLAY;NO_LEAK_CHECK;WHOLE" "NAME;WORKING_DIRECTORY" "SOURCES;LIBS;ENV" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main GTest::gmock)
  target_include_directories(${T_NAME} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
  set(wd ${CMAKE_CURRENT_BINARY_DIR})
  if(T_WORKING_DIRECTORY)
    set(wd ${T_WORKING_DIRECTORY})
  endif()
  set(env "TEST_SOURCE_DIR=${PROJECT_SOURCE_DIR}" "TEST_BINARY_DIR=${PROJECT_BINARY_DIR}"
      "LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/lsan.supp:print_suppressions=0" ${T_ENV})
  if(T_NO_LEAK_CHECK)
    list(APPEND env "ASAN_OPTIONS=detect_leaks=0")
  endif()
  set(properties TIMEOUT 600)
  set(mode POST_BUILD)
  if(T_DISPLAY)
    list(APPEND properties LABELS display)
    set(mode PRE_TEST)
  endif()
  if(T_WHOLE)
    add_test(NAME ${T_NAME} COMMAND ${T_NAME} WORKING_DIRECTORY ${wd})
    set_tests_properties(${T_NAME} PROPERTIES ENVIRONMENT "${env}" ${properties})
    return()
  endif()
  # Listing the cases runs the executable; under the sanitizers on a busy
  # machine that can take longer than the module's 5 s default.
  gtest_discover_tests(${T_NAME}
    TEST_PREFIX "${T_NAME}."
    WORKING_DIRECTORY ${wd}
    DISCOVERY_TIMEOUT 120
    DISCOVERY_MODE ${mode}
    NO_PRETTY_VALUES
    PROPERTIES ${properties})
  # The environment is a list, which does not survive the way the discovery
  # passes its properties on, so it is set from a file of its own that ctest
  # reads after the discovered tests, from the list of their names.
  set(script ${CMAKE_CURRENT_BINARY_DIR}/${T_NAME}_environment.cmake)
  file(WRITE ${script}
    "if(${T_NAME}_TESTS)\n"
    "  set_tests_properties(\${${T_NAME}_TESTS} PROPERTIES ENVIRONMENT [==[${env}]==])\n"
    "endif()\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${script})
endfunction()

# Libraries of the program see each other through "folder/header.h".
function(demo_library name)
  add_library(${name} STATIC ${ARGN})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
endfunction()

# demo_install_program(target destination)
#   Installs a program with install(TARGETS), which strips it when the
#   install strips (cmake --install --strip, and cpack). The compiler's
#   .comment section goes too then, as Debian's packages drop it.
function(demo_install_program target destination)
  install(TARGETS ${target} RUNTIME DESTINATION ${destination})
  set(installed "\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${destination}/$<TARGET_FILE_NAME:${target}>")
  install(CODE "
    if(CMAKE_INSTALL_DO_STRIP)
      execute_process(COMMAND \"${CMAKE_STRIP}\" --remove-section=.comment \"${installed}\"
                      COMMAND_ERROR_IS_FATAL ANY)
    endif()")
endfunction()
