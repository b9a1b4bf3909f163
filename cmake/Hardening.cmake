# The hardening Debian builds its packages with (dpkg-buildflags with hardening=+all): position-independent
# executables, a stack protector, fortified libc calls, and a read-only relocation table bound at start (-z relro,
# -z now). Left out of sanitizer and fuzzing builds, whose runtimes bring their own checks.
if(NOT KREL_SANITIZE AND NOT KREL_FUZZ)
    include(CheckPIESupported)
    check_pie_supported()
    add_compile_options(-fstack-protector-strong -fstack-clash-protection -Wformat -Werror=format-security)
    # (Fortified calls need an optimised build.)
    add_compile_definitions($<$<NOT:$<CONFIG:Debug>>:_FORTIFY_SOURCE=2>)
    add_link_options(-Wl,-z,relro -Wl,-z,now)
endif()
