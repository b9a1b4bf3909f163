# KREL_SANITIZE: a comma-separated list of sanitizers (address, undefined, thread) applied to every target.
set(KREL_SANITIZE "" CACHE STRING "Sanitizers to build with: address,undefined or thread")
if(KREL_SANITIZE)
    add_compile_options(-fsanitize=${KREL_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
    add_link_options(-fsanitize=${KREL_SANITIZE})
endif()
