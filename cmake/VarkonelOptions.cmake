# Compiler warnings and sanitizers shared by every target of the project.
add_library(varkonel_options INTERFACE)
target_compile_options(varkonel_options INTERFACE -Wall -Wextra -Wpedantic)
if(VARKONEL_WERROR)
  target_compile_options(varkonel_options INTERFACE -Werror)
endif()

if(VARKONEL_SANITIZE)
  set(_san_flags -fsanitize=${VARKONEL_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_compile_options(${_san_flags})
  add_link_options(${_san_flags})
endif()
