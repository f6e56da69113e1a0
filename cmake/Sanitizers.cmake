# Applied to every target of the build when BRENWICK_SANITIZE is set.
if(BRENWICK_SANITIZE)
  add_compile_options(-fsanitize=${BRENWICK_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${BRENWICK_SANITIZE})
endif()
