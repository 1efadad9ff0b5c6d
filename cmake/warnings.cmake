# Warnings are errors in our own code.
function(jtz_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
endfunction()
