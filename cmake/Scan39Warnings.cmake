# Warnings for our own targets only; third-party headers come in as SYSTEM includes.
function(scan39_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow)
endfunction()
