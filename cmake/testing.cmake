# GoogleTest: Debian's libgtest-dev natively; for the Windows build it is compiled
# from the sources that Debian's googletest package installs in /usr/src/googletest.
if(CMAKE_CROSSCOMPILING)
  set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
else()
  find_package(GTest REQUIRED)
endif()
include(GoogleTest)

# The Windows tests share one wine prefix, created once per test run by a fixture.
if(CMAKE_CROSSCOMPILING)
  set(LUM_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
  add_test(NAME wine_prefix_setup COMMAND ${CMAKE_CROSSCOMPILING_EMULATOR} --init)
  set_tests_properties(wine_prefix_setup PROPERTIES FIXTURES_SETUP wine_prefix
                       ENVIRONMENT "WINEPREFIX=${LUM_WINEPREFIX};WINEDEBUG=-all")
endif()

# lum_add_test(name SOURCES ... LIBS ... [LABELS ...]): one GoogleTest executable registered
# with CTest; its tests carry the LABELS (such as "slow", see tests/CMakeLists.txt).
function(lum_add_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main lum::warnings)
  if(CMAKE_CROSSCOMPILING)
    # Under wine every process start costs, so each test program runs whole, once.
    add_test(NAME ${name} COMMAND ${name} --gtest_brief=1)
    set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine_prefix
                         ENVIRONMENT "WINEPREFIX=${LUM_WINEPREFIX};WINEDEBUG=-all")
    if(T_LABELS)
      set_tests_properties(${name} PROPERTIES LABELS "${T_LABELS}")
    endif()
  elseif(T_LABELS)
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
                         PROPERTIES LABELS "${T_LABELS}")
  else()
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60)
  endif()
endfunction()
