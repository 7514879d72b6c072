# One static library per folder of src/, and the direction of their dependencies:
#   shell -> skin, launch, download, content
#   content -> content_plan -> content_format -> paths, update
#   content -> content_fetch -> update
#   download -> paths, update -> settings -> common;  paths -> common
#   updater -> update, paths (the Updater program, beside the launcher's folders)
# (skin and download build on update for the launcher's version and the patch list; launch
# builds on settings alone. paths holds the name rules that zip extraction, the content mode and
# the Updater share. The content mode, opt-in, is four rooms: content_format, what is published
# and kept (release manifests, local state, cache records, the chunker, chunk and delta
# decoding), with update's hashes; content_plan, what a run fetches, reuses and deletes;
# content_fetch, range requests with their retries and mirrors, on update's HTTPS transfer; and
# content, the worker that surveys, fetches, builds and reports.) A folder's code may include
# the headers of its own folder and of the folders below it in this graph, and nothing else:
# each library is compiled against a view of src/ in the build tree that holds only those
# folders, so an include against the direction ("shell/..." from skin, say) stops the build
# with "No such file".
set(LAUNCHER_LAYERS common settings update paths download content_format content_plan content_fetch content
    skin launch shell updater)
set(LAUNCHER_LAYER_USES_common "")
set(LAUNCHER_LAYER_USES_settings common)
set(LAUNCHER_LAYER_USES_update settings)
set(LAUNCHER_LAYER_USES_paths common)
set(LAUNCHER_LAYER_USES_download update paths)
set(LAUNCHER_LAYER_USES_content_format update paths)
set(LAUNCHER_LAYER_USES_content_plan content_format)
set(LAUNCHER_LAYER_USES_content_fetch update)
set(LAUNCHER_LAYER_USES_content content_plan content_fetch)
set(LAUNCHER_LAYER_USES_skin update)
set(LAUNCHER_LAYER_USES_launch settings)
set(LAUNCHER_LAYER_USES_shell skin launch download content)
set(LAUNCHER_LAYER_USES_updater update paths)

# The folders a layer may include: itself and everything below it.
function(launcher_layer_reach layer out)
  set(reach ${layer})
  foreach(used IN LISTS LAUNCHER_LAYER_USES_${layer})
    launcher_layer_reach(${used} below)
    list(APPEND reach ${below})
  endforeach()
  list(REMOVE_DUPLICATES reach)
  set(${out} ${reach} PARENT_SCOPE)
endfunction()

# launcher_add_layers(PREFIX FLAGS SOURCES...): PREFIX_<folder> for every folder that has some
# of SOURCES, each linking the libraries of the folders it uses and the interface target FLAGS
# (compile options and definitions shared by all); PREFIX itself is an interface target that
# links them all and gives its users the whole of src/.
function(launcher_add_layers prefix flags)
  add_library(${prefix} INTERFACE)
  target_include_directories(${prefix} INTERFACE "${CMAKE_SOURCE_DIR}/src" "${CMAKE_BINARY_DIR}/generated")
  foreach(layer IN LISTS LAUNCHER_LAYERS)
    set(sources ${ARGN})
    list(FILTER sources INCLUDE REGEX "/src/${layer}/[^/]+$")
    if(sources)
      set(view "${CMAKE_BINARY_DIR}/layer-views/${prefix}/${layer}")
      file(REMOVE_RECURSE "${view}")
      file(MAKE_DIRECTORY "${view}")
      launcher_layer_reach(${layer} reach)
      foreach(folder IN LISTS reach)
        file(CREATE_LINK "${CMAKE_SOURCE_DIR}/src/${folder}" "${view}/${folder}" SYMBOLIC)
      endforeach()
      add_library(${prefix}_${layer} STATIC ${sources})
      target_include_directories(${prefix}_${layer} PRIVATE "${view}")
      target_link_libraries(${prefix}_${layer} PUBLIC ${flags})
      target_link_libraries(${prefix} INTERFACE ${prefix}_${layer})
    endif()
  endforeach()
  # Links in the graph's direction, among the folders that were built.
  foreach(layer IN LISTS LAUNCHER_LAYERS)
    if(TARGET ${prefix}_${layer})
      foreach(used IN LISTS LAUNCHER_LAYER_USES_${layer})
        launcher_layer_reach(${used} reach)
        foreach(folder IN LISTS reach)
          if(TARGET ${prefix}_${folder})
            target_link_libraries(${prefix}_${layer} PUBLIC ${prefix}_${folder})
          endif()
        endforeach()
      endforeach()
    endif()
  endforeach()
  # The settings' built-in values, the content texts, the content mirrors, the update check's
  # signing key and the Updater's Authenticode publisher come from headers generated at
  # configure time.
  foreach(layer settings update content content_fetch updater)
    if(TARGET ${prefix}_${layer})
      target_include_directories(${prefix}_${layer} PRIVATE "${CMAKE_BINARY_DIR}/generated")
    endif()
  endforeach()
endfunction()
