# sonvira_add_test(NAME name SOURCES a.cpp b.cpp LIBS lib1 lib2 [TIMEOUT s] [LABELS l] [ARGS a b])
# Builds one Qt Test executable and registers it with CTest under the
# offscreen platform, so widget tests run without a display. ARGS go to
# the executable (for example the test functions to run).
function(sonvira_add_test)
  cmake_parse_arguments(T "" "NAME;TIMEOUT" "SOURCES;LIBS;LABELS;ARGS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE Qt6::Test ${T_LIBS})
  target_include_directories(${T_NAME} PRIVATE ${PROJECT_SOURCE_DIR})
  add_test(NAME ${T_NAME} COMMAND ${T_NAME} ${T_ARGS})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  # Sanitized builds run number-crunching code five to fifteen times slower.
  if(SONVIRA_SANITIZE OR SONVIRA_TSAN)
    math(EXPR T_TIMEOUT "${T_TIMEOUT} * 4")
  endif()
  set_tests_properties(${T_NAME} PROPERTIES
    TIMEOUT ${T_TIMEOUT}
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;QT_LOGGING_RULES=*.debug=false;LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/lsan.supp:print_suppressions=0")
  if(T_LABELS)
    set_tests_properties(${T_NAME} PROPERTIES LABELS "${T_LABELS}")
  endif()
endfunction()

# sonvira_library(name SOURCES ... LIBS ...): one static library per source folder.
# A folder without sources yet adds no target, and links only to the
# project libraries that exist, so folders can join the build one at a time.
function(sonvira_library name)
  cmake_parse_arguments(L "" "" "SOURCES;LIBS" ${ARGN})
  set(cpp ${L_SOURCES})
  list(FILTER cpp INCLUDE REGEX "\\.cpp$")
  if(NOT cpp)
    return()
  endif()
  set(libs)
  foreach(lib ${L_LIBS})
    if(NOT lib MATCHES "^sonvira_" OR TARGET ${lib})
      list(APPEND libs ${lib})
    endif()
  endforeach()
  add_library(${name} STATIC ${L_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${libs})
endfunction()

# sonvira_forbid_link(target forbidden): stops the configuration when
# `target` links `forbidden`, directly or through any library it links.
# Keeps the engine libraries free of Qt Widgets.
function(sonvira_forbid_link target forbidden)
  if(NOT TARGET ${target})
    return()
  endif()
  set(pending ${target})
  set(seen)
  while(pending)
    list(POP_FRONT pending current)
    if(current IN_LIST seen OR NOT TARGET ${current})
      continue()
    endif()
    list(APPEND seen ${current})
    # The target's own links (PRIVATE ones included), then what each library
    # it links passes on to its users.
    if(current STREQUAL target)
      get_target_property(links ${current} LINK_LIBRARIES)
    else()
      get_target_property(links ${current} INTERFACE_LINK_LIBRARIES)
    endif()
    if(NOT links)
      continue()
    endif()
    foreach(link ${links})
      if(link STREQUAL forbidden)
        message(FATAL_ERROR "${target} must not link ${forbidden} (through ${current})")
      endif()
      list(APPEND pending ${link})
    endforeach()
  endwhile()
endfunction()
