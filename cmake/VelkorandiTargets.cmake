# velkorandi_module_headers(folder)
#   The headers of one folder of src/ or ports/ (e.g. src/config), reached as
#   "config/name.h" through the interface target config_headers, and through
#   nothing else. Every folder's headers sit side by side under one root, so
#   that root cannot be an include directory without making every header
#   reachable from everywhere; instead each folder gets a root of its own in
#   the build tree holding a link named after the folder to the folder
#   itself. A library's dependents then see its folder's headers, and a
#   source that includes a header of a folder it does not link fails to
#   compile. The root's path keeps src/ or ports/ in it, which the
#   clang-tidy header filter goes by.
function(velkorandi_module_headers folder)
  get_filename_component(name ${folder} NAME)
  if(TARGET ${name}_headers)
    return()
  endif()
  set(root ${PROJECT_BINARY_DIR}/headers/${folder})
  file(MAKE_DIRECTORY ${root})
  file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${folder} ${root}/${name} SYMBOLIC)
  add_library(${name}_headers INTERFACE)
  target_include_directories(${name}_headers INTERFACE ${root})
endfunction()

# The folders whose headers others include. Made here, before any folder's
# own CMakeLists.txt, because a port or a tool may need a contract header
# (platform/platform.h, platform/audio_library.h) of a folder added after it.
foreach(folder src/platform src/app src/markup src/config src/resources src/timeline src/video
    ports/stdio ports/sdl2 ports/audio)
  velkorandi_module_headers(${folder})
endforeach()
# Headers that include another folder's headers bring that folder along: the
# time source, the window and the ports name the platform's types, and the
# texture set the presentation's fixed data (config/presentation.h).
foreach(folder timeline video sdl2 stdio audio)
  target_link_libraries(${folder}_headers INTERFACE platform_headers)
endforeach()
target_link_libraries(resources_headers INTERFACE config_headers)

# velkorandi_library(name sources...)
#   A static library of the folder it is made in. In src/ and ports/ its
#   dependents see that folder's headers; what it includes from other
#   folders comes from the libraries it links.
function(velkorandi_library name)
  if(VELKORANDI_LINK_CHECK)
    add_library(${name} SHARED ${ARGN})
    target_link_options(${name} PRIVATE -Wl,--no-undefined)
  else()
    add_library(${name} STATIC ${ARGN})
  endif()
  file(RELATIVE_PATH folder ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
  if(folder MATCHES "^(src|ports)/")
    get_filename_component(module ${folder} NAME)
    target_link_libraries(${name} PUBLIC ${module}_headers)
  endif()
endfunction()

# velkorandi_add_test(NAME name SOURCES ... LIBS ... [DISPLAY] [NO_LEAK_CHECK]
#               [WORKING_DIRECTORY dir] [ENV var=value...])
#   One GoogleTest executable; every test case in it is a ctest test of its
#   own, named name.Suite.Case, so that a failure names its case and
#   `ctest -R name` still selects the whole executable. Parameterised cases
#   keep GoogleTest's own names (name.Instance/Suite.Case/Param): a
#   parameter's printed value may hold addresses, which change every run.
#   DISPLAY: the test needs the X server that test.sh starts (xvfb-run), and
#   has it to itself. Its cases are listed when ctest runs, under that
#   server, rather than after the build, where there may be no display.
#   NO_LEAK_CHECK: the process makes a GL context; Mesa and libdbus leak small
#   blocks that LeakSanitizer cannot attribute (the driver is unloaded at exit),
#   so leak detection is switched off for that process only.
function(velkorandi_add_test)
  cmake_parse_arguments(T "DISPLAY;NO_LEAK_CHECK" "NAME;WORKING_DIRECTORY" "SOURCES;LIBS;ENV" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main GTest::gmock)
  # The shared helpers ("support/...", "fakes/..."); the program's headers
  # come with the libraries the test links.
  target_include_directories(${T_NAME} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
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
    # One at a time on that one server: a window that takes the focus or a
    # display mode that changes would reach whatever test runs beside it.
    list(APPEND properties LABELS display RESOURCE_LOCK test_display)
    set(mode PRE_TEST)
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

# velkorandi_install_program(target destination)
#   Installs a program with install(TARGETS), which strips it when the
#   install strips (cmake --install --strip, and cpack). The compiler's
#   .comment section goes too then, as Debian's packages drop it.
function(velkorandi_install_program target destination)
  install(TARGETS ${target} RUNTIME DESTINATION ${destination})
  set(installed "\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${destination}/$<TARGET_FILE_NAME:${target}>")
  install(CODE "
    if(CMAKE_INSTALL_DO_STRIP)
      execute_process(COMMAND \"${CMAKE_STRIP}\" --remove-section=.comment \"${installed}\"
                      COMMAND_ERROR_IS_FATAL ANY)
    endif()")
endfunction()
