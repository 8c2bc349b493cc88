# vlib_add_resources(<target> <file.rc>)
#
# Embeds the resources listed in the resource file into the target (an
# executable or a shared library), where FindResourceW and the other resource
# functions find them through the module's handle.  The resource file names
# one resource per line (NAME TYPE "file"; see platform/rc/vlib_rc.cpp); the
# resource compiler vlib-rc turns it into one generated source of assembler
# that includes the resources' bytes, and reruns whenever the resource file,
# a header it includes or a resource changes.  A module has one resource
# file: a second call for the same target is an error.
#
# Works in the library's own build (the vlib-rc target) and for projects that
# use the installed package (the imported VLibIncludes::vlib-rc).
function(vlib_add_resources target rcfile)
  if(TARGET vlib-rc)
    set(compiler vlib-rc)
  elseif(TARGET VLibIncludes::vlib-rc)
    set(compiler VLibIncludes::vlib-rc)
  else()
    message(FATAL_ERROR "vlib_add_resources: the resource compiler vlib-rc is not known (find_package(VLibIncludes) first)")
  endif()
  get_filename_component(rc "${rcfile}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
  get_target_property(previous ${target} VLIB_RESOURCE_FILE)
  if(previous)
    message(FATAL_ERROR "vlib_add_resources: ${target} already has its resources from ${previous}")
  endif()
  set_property(TARGET ${target} PROPERTY VLIB_RESOURCE_FILE "${rc}")
  set(output "${CMAKE_CURRENT_BINARY_DIR}/${target}_resources.cpp")
  add_custom_command(OUTPUT "${output}"
    COMMAND ${compiler} --depfile "${output}.d" "${rc}" "${output}"
    DEPENDS "${rc}" ${compiler}
    DEPFILE "${output}.d"
    COMMENT "Compiling the resources of ${target}"
    VERBATIM)
  target_sources(${target} PRIVATE "${output}")
endfunction()
