# Warnings and sanitizers, applied per target so that imported dependencies stay untouched.

function(vyr_cld_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion
                                             -Wnon-virtual-dtor -Wold-style-cast -Woverloaded-virtual)
    if(VYR_CLD_WERROR)
        target_compile_options(${target} PRIVATE -Werror)
    endif()
endfunction()

if(VYR_CLD_SANITIZERS)
    list(JOIN VYR_CLD_SANITIZERS "," vyr_cld_sanitize)
    add_compile_options(-fsanitize=${vyr_cld_sanitize} -fno-omit-frame-pointer -fno-sanitize-recover=all)
    add_link_options(-fsanitize=${vyr_cld_sanitize})
    add_compile_definitions(VYR_CLD_SANITIZED=1)
endif()
