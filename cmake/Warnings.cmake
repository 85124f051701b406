# Strict warnings for our own targets. Call kestrom_strict(<target>) on each.
function(kestrom_strict target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
    target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
endfunction()
