# Include directories by layer: a library of folder F sees the headers of F and
# of the folders cmake/layers.txt lets F build on, and nothing else, so that an
# include against the direction of the layers does not compile.
#
# Includes name a header by its path from the top of the tree
# ("inventory/registry/registry_access.h"). Each target gets a directory of its
# own in the build tree that holds links to the headers of its allowed folders
# only (not their sub-folders, which are layers of their own).

file(STRINGS ${PROJECT_SOURCE_DIR}/cmake/layers.txt _glimmora_layer_lines)
set(GLIMMORA_LAYERS "")
foreach(line IN LISTS _glimmora_layer_lines)
  string(REGEX REPLACE "#.*" "" line "${line}")
  string(STRIP "${line}" line)
  if(line MATCHES "^([^:]+):(.*)$")
    string(STRIP "${CMAKE_MATCH_1}" folder)
    string(STRIP "${CMAKE_MATCH_2}" below)
    separate_arguments(below)
    string(MAKE_C_IDENTIFIER "${folder}" key)
    set(GLIMMORA_LAYER_${key} ${below})
    list(APPEND GLIMMORA_LAYERS ${folder})
  endif()
endforeach()

# The folder itself and every folder below it, into `out`.
function(glimmora_layer_closure folder out)
  set(result ${folder})
  set(pending ${folder})
  while(pending)
    list(POP_FRONT pending current)
    string(MAKE_C_IDENTIFIER "${current}" key)
    if(NOT current IN_LIST GLIMMORA_LAYERS)
      message(FATAL_ERROR "cmake/layers.txt does not list the folder ${current}")
    endif()
    foreach(below IN LISTS GLIMMORA_LAYER_${key})
      if(NOT below IN_LIST result)
        list(APPEND result ${below})
        list(APPEND pending ${below})
      endif()
    endforeach()
  endwhile()
  set(${out} ${result} PARENT_SCOPE)
endfunction()

# glimmora_layer(target folder): the target's code lives in `folder`.
function(glimmora_layer target folder)
  glimmora_layer_closure(${folder} folders)
  set(view ${CMAKE_BINARY_DIR}/layers/${target})
  foreach(allowed IN LISTS folders)
    file(GLOB headers CONFIGURE_DEPENDS
      ${PROJECT_SOURCE_DIR}/${allowed}/*.h ${PROJECT_SOURCE_DIR}/${allowed}/*.def)
    file(MAKE_DIRECTORY ${view}/${allowed})
    foreach(header IN LISTS headers)
      get_filename_component(name ${header} NAME)
      if(NOT EXISTS ${view}/${allowed}/${name})
        file(CREATE_LINK ${header} ${view}/${allowed}/${name} SYMBOLIC)
      endif()
    endforeach()
  endforeach()
  target_include_directories(${target} PRIVATE ${view})
endfunction()
