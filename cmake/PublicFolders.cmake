# brenwick_public_folder(TARGET FOLDER): what the target's users may include. Headers are named by their path
# from the project root ("isofs/qrCompilation.h"), so instead of the root each library exports a folder of
# its own in the build tree that holds only a link to FOLDER: a source that includes a header of a module it
# does not link does not compile. Programs and tests keep the root as a private include folder.
function(brenwick_public_folder target folder)
  set(stage ${CMAKE_BINARY_DIR}/public/${target})
  get_filename_component(parent ${stage}/${folder} DIRECTORY)
  file(MAKE_DIRECTORY ${parent})
  if(NOT EXISTS ${stage}/${folder})
    file(CREATE_LINK ${BRENWICK_ROOT}/${folder} ${stage}/${folder} SYMBOLIC)
  endif()
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    target_include_directories(${target} INTERFACE ${stage})
  else()
    target_include_directories(${target} PUBLIC ${stage})
  endif()
endfunction()
