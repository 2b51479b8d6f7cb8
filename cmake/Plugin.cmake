# brindle_add_plugin(<name> TEMPLATE <manifest.toml.in> SOURCES <main.cc> LIBS <libs...>)
#
# Builds a plug-in executable with its manifest template compiled in, links
# the protocol library and mimalloc (the process allocator: it must come
# first so its malloc wins), writes the manifest beside the built executable
# by running it once in manifest mode, and installs it into
# lib/brindle/plugins with its manifest, as a packager would.
include(GNUInstallDirs)
set(BRINDLE_PLUGIN_DIR "${CMAKE_INSTALL_LIBDIR}/brindle/plugins")

# A plug-in is started for every preview, so its start-up counts: the C++
# runtime is linked statically (measured: about half the time from exec to
# hello, since fewer shared objects are mapped and relocated), and the
# executable is not position-independent, so the loader has no relative
# relocations to apply (exe-viewer, with LLVM inside, has over 20,000).
#
# Every plug-in allocates through mimalloc, except in sanitizer builds, where
# the sanitizer's allocator must see every allocation.
function(brindle_plugin_runtime target)
  if(NOT BRINDLE_SANITIZE)
    target_link_libraries(${target} PRIVATE mimalloc)
    target_link_options(${target} PRIVATE -static-libstdc++ -static-libgcc -no-pie)
    set_target_properties(${target} PROPERTIES POSITION_INDEPENDENT_CODE OFF)
  endif()
endfunction()

function(brindle_add_plugin name)
  cmake_parse_arguments(P "" "TEMPLATE" "SOURCES;LIBS" ${ARGN})
  set(gen_dir ${CMAKE_CURRENT_BINARY_DIR}/generated)
  set(header ${gen_dir}/manifest_template.h)
  file(READ ${P_TEMPLATE} content)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${P_TEMPLATE})
  file(CONFIGURE OUTPUT ${header} CONTENT
"// Generated from ${P_TEMPLATE}.
#pragma once
#include <string_view>
inline constexpr std::string_view MANIFEST_TEMPLATE = R\"MANIFEST(@content@)MANIFEST\";
" @ONLY)
  add_executable(${name} ${P_SOURCES})
  target_include_directories(${name} PRIVATE ${gen_dir})
  target_link_libraries(${name} PRIVATE plugin_protocol ${P_LIBS})
  brindle_plugin_runtime(${name})
  add_custom_command(TARGET ${name} POST_BUILD
    COMMAND $<TARGET_FILE:${name}> > /dev/null
    COMMENT "Writing ${name}.toml")
  install(TARGETS ${name} RUNTIME DESTINATION ${BRINDLE_PLUGIN_DIR})
  install(CODE "execute_process(COMMAND \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${BRINDLE_PLUGIN_DIR}/${name}\" RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR \"${name} could not write its manifest\")
endif()")
endfunction()
