# The code's layers, each a static library kxsane_<layer> made by
# src/<layer>/CMakeLists.txt, which lists the layer's sources and the layers it
# uses. From the bottom up:
#
#   common    uses nothing
#   models    uses common
#   registry  uses models and common
#   reports   uses registry, models and common
#   discovery uses registry, models and common
#   cli       uses all of them
#
# A layer's headers are included as "<layer>/<file>.h" through an include
# root of its own in the build tree, layers/<layer>/, which holds a single
# link <layer> -> src/<layer>. A library passes its root, and those of the
# layers it uses, on to whatever links it, and to nothing else: a header of a
# layer that is not used cannot even be found, and a call into one does not
# link. (Compiler messages and the dependency files therefore name headers by
# their path under layers/.)
function(kxsane_layer layer)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "SOURCES;USES")
  set(root "${PROJECT_BINARY_DIR}/layers/${layer}")
  file(MAKE_DIRECTORY "${root}")
  file(CREATE_LINK "${CMAKE_CURRENT_SOURCE_DIR}" "${root}/${layer}" SYMBOLIC)

  add_library(kxsane_${layer} STATIC ${arg_SOURCES})
  target_include_directories(kxsane_${layer} PUBLIC "${root}")
  list(TRANSFORM arg_USES PREPEND kxsane_)
  target_link_libraries(kxsane_${layer} PUBLIC ${arg_USES})
endfunction()
