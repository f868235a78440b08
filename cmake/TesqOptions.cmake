# Warning and sanitizer settings shared by every target of the project.
function(tesq_target_defaults target)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
  if(TESQ_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

if(TESQ_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
