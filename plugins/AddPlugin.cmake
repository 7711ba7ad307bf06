# Decoder plug-ins; each lands in ${RISTOVA_PLUGIN_DIR} as <Name>.so (on
# Windows <Name>.dll, with the compiler's runtime and threads inside, so that
# a plug-in folder needs nothing beside it).
function(ristova_add_plugin name outdir)
  add_library(${name} MODULE ${ARGN})
  target_include_directories(${name} PRIVATE ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/../include)
  if(WIN32)
    target_link_options(${name} PRIVATE -static)
  endif()
  set_target_properties(${name} PROPERTIES
    PREFIX "" SUFFIX ${CMAKE_SHARED_MODULE_SUFFIX}
    LIBRARY_OUTPUT_DIRECTORY ${outdir}
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON)
endfunction()
