# The hardening Debian builds its packages with (dpkg-buildflags with hardening=+all): position-independent
# executables, a stack protector, fortified libc calls, and a read-only relocation table bound at start (-z relro,
# -z now). Every build has them, so that a package made from any build folder is hardened, except the fortified
# calls in sanitizer and fuzzing builds, whose runtimes check those calls themselves.
include(CheckPIESupported)
check_pie_supported()
add_compile_options(-fstack-protector-strong -fstack-clash-protection -Wformat -Werror=format-security)
add_link_options(-Wl,-z,relro -Wl,-z,now)
if(NOT KREL_SANITIZE AND NOT KREL_FUZZ)
    # (Fortified calls need an optimised build.)
    add_compile_definitions($<$<NOT:$<CONFIG:Debug>>:_FORTIFY_SOURCE=2>)
endif()
