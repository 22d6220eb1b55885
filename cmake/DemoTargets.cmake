# demo_add_test(NAME name SOURCES ... LIBS ... [DISPLAY] [NO_LEAK_CHECK])
#   One GoogleTest executable registered as one ctest test.
#   DISPLAY: the test needs the X server that test.sh starts (xvfb-run).
#   NO_LEAK_CHECK: the process makes a GL context; Mesa and libdbus leak small
#   blocks that LeakSanitizer cannot attribute (the driver is unloaded at exit),
#   so leak detection is switched off for that process only.
function(demo_add_test)
  cmake_parse_arguments(T "DISPLAY;NO_LEAK_CHECK" "NAME;WORKING_DIRECTORY" "SOURCES;LIBS;ENV" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main GTest::gmock)
  target_include_directories(${T_NAME} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
  set(wd ${CMAKE_CURRENT_BINARY_DIR})
  if(T_WORKING_DIRECTORY)
    set(wd ${T_WORKING_DIRECTORY})
  endif()
  add_test(NAME ${T_NAME} COMMAND ${T_NAME} WORKING_DIRECTORY ${wd})
  set(env "TEST_SOURCE_DIR=${PROJECT_SOURCE_DIR}" "TEST_BINARY_DIR=${PROJECT_BINARY_DIR}"
      "LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/lsan.supp:print_suppressions=0" ${T_ENV})
  if(T_NO_LEAK_CHECK)
    list(APPEND env "ASAN_OPTIONS=detect_leaks=0")
  endif()
  set_tests_properties(${T_NAME} PROPERTIES ENVIRONMENT "${env}" TIMEOUT 600)
  if(T_DISPLAY)
    set_tests_properties(${T_NAME} PROPERTIES LABELS display)
  endif()
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
