# Helpers shared by every target this project builds.

# Warnings are applied per target so that consumers of the installed package
# never inherit them.
function(qel_enable_warnings target)
  if(QEL_WARNINGS)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic)
  endif()
  if(QEL_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

# Sanitizers are global: a sanitized test that links unsanitized libraries
# would miss every fault inside them.
macro(qel_setup_sanitizers)
  if(QEL_SANITIZE AND QEL_SANITIZE_THREAD)
    message(FATAL_ERROR "QEL_SANITIZE and QEL_SANITIZE_THREAD exclude each other")
  endif()
  if(QEL_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined -fno-sanitize-recover=all)
  endif()
  if(QEL_SANITIZE_THREAD)
    add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
    add_link_options(-fsanitize=thread)
  endif()
endmacro()

# One shared library with its namespaced alias; users always link the alias.
function(qel_add_library target alias)
  cmake_parse_arguments(ARG "" "EXPORT_NAME" "SOURCES;HEADERS" ${ARGN})
  add_library(${target} SHARED ${ARG_SOURCES} ${ARG_HEADERS})
  add_library(${alias} ALIAS ${target})
  set_target_properties(${target} PROPERTIES
    VERSION ${PROJECT_VERSION}
    SOVERSION ${PROJECT_VERSION_MAJOR}
    EXPORT_NAME ${ARG_EXPORT_NAME}
    PUBLIC_HEADER "${ARG_HEADERS}")
  # Exported functions are not interposed by design, so calls between them
  # inside a library may be direct and inlined instead of going through the PLT.
  target_compile_options(${target} PRIVATE -fno-semantic-interposition)
  # A missing symbol should fail when the library links, not when it loads.
  if(NOT QEL_SANITIZE AND NOT QEL_SANITIZE_THREAD)
    target_link_options(${target} PRIVATE -Wl,--no-undefined)
  endif()
  qel_enable_warnings(${target})
endfunction()
