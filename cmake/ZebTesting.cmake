# zeb_add_gtest: one way to add a test program.
#
#   zeb_add_gtest(target SOURCES file... [LIBS lib...] [DEPENDS target...] [DEFINES def...]
#                 [LABELS label...] [TIMEOUT seconds] [ENV NAME=value...]
#                 [PRIVILEGED regex] [SLOW regex] [SERIAL regex] [QTEST] [COMMAND arg...]
#                 [PROPERTIES name value...] [CASE_LABELS label regex...])
#
# Builds target from the sources with GoogleTest (Qt Test with QTEST; no program at all with
# COMMAND, which runs as the test), links testsupport, finds its test cases after every build
# and gives each one the labels, the time-out and the loopback environment below. The cases
# whose full name matches PRIVILEGED also get the label "privileged" (they need root: network
# namespaces, mounts, privileged ports, capture, and skip without it), those matching SLOW the
# label "slow", those matching the regex after a label in CASE_LABELS that label, and those
# matching SERIAL run alone.
#
# Every test runs with the NetBIOS provider held to loopback (127.0.0.2, the loopback
# broadcast, unprivileged ports) and $WINDIR in the build tree, so that nothing can broadcast
# on the LAN or write to /var/log; tests that start stations give each its own settings.
set(ZEB_TEST_ENV
    NETBIOS_LANAS=127.0.0.2
    NETBIOS_BROADCAST=127.255.255.255
    NETBIOS_NAME_PORT=41137
    NETBIOS_SESSION_PORT=41139
    WINDIR=${PROJECT_BINARY_DIR}/test-windir
    QT_QPA_PLATFORM=offscreen)
file(MAKE_DIRECTORY ${PROJECT_BINARY_DIR}/test-windir)

function(zeb_add_gtest target)
  cmake_parse_arguments(PARSE_ARGV 1 T "QTEST" "TIMEOUT;PRIVILEGED;SLOW;SERIAL"
                        "SOURCES;LIBS;DEPENDS;DEFINES;LABELS;ENV;COMMAND;PROPERTIES;CASE_LABELS")
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  set(env ${ZEB_TEST_ENV} ${T_ENV})
  if(T_COMMAND)
    add_test(NAME ${target} COMMAND ${T_COMMAND})
    set(tests ${target})
  else()
    add_executable(${target} ${T_SOURCES})
    target_link_libraries(${target} PRIVATE zebtestsupport ${T_LIBS})
    target_compile_definitions(${target} PRIVATE ${T_DEFINES})
    if(T_QTEST)
      add_test(NAME ${target} COMMAND ${target})
    else()
      target_link_libraries(${target} PRIVATE GTest::gtest_main)
      # Parameterised cases are named by their name generators, without a dump of the value.
      gtest_discover_tests(${target} DISCOVERY_TIMEOUT 30 NO_PRETTY_VALUES)
    endif()
  endif()
  foreach(dependency IN LISTS T_DEPENDS)
    add_dependencies(${target} ${dependency})
  endforeach()

  # Discovered cases are known only when ctest runs: their properties are set by a script that
  # ctest includes after the list of cases (gtest_discover_tests cannot hand on lists). A
  # single test runs the same script now.
  if(T_COMMAND OR T_QTEST)
    set(cases "${target}")
  else()
    set(cases "\${${target}_TESTS}")
  endif()
  set(script ${CMAKE_CURRENT_BINARY_DIR}/${target}_properties.cmake)
  file(WRITE ${script} "foreach(case ${cases})\n  set(labels ${T_LABELS})\n  set(serial FALSE)\n")
  set(case_labels ${T_CASE_LABELS})
  if(T_PRIVILEGED)
    list(APPEND case_labels privileged "${T_PRIVILEGED}")
  endif()
  if(T_SLOW)
    list(APPEND case_labels slow "${T_SLOW}")
  endif()
  if(T_SERIAL)
    list(APPEND case_labels "" "${T_SERIAL}")
  endif()
  while(case_labels)
    list(POP_FRONT case_labels label regex)
    string(REPLACE "\\" "\\\\" regex "${regex}")
    if(label)
      set(action "list(APPEND labels ${label})")
    else()
      set(action "set(serial TRUE)")
    endif()
    file(APPEND ${script} "  if(case MATCHES \"${regex}\")\n    ${action}\n  endif()\n")
  endwhile()
  file(APPEND ${script}
       "  set_tests_properties(\${case} PROPERTIES LABELS \"\${labels}\" TIMEOUT ${T_TIMEOUT}\n"
       "    RUN_SERIAL \${serial} SKIP_REGULAR_EXPRESSION \"\\\\[  SKIPPED \\\\]\"\n"
       "    ENVIRONMENT \"${env}\" ${T_PROPERTIES})\n"
       "endforeach()\n")
  if(T_COMMAND OR T_QTEST)
    include(${script}) # one test, known now
  else()
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${script})
  endif()
endfunction()
