#include <cstdio>
#include <cstring>

#include "Application.h"
#include "common/Memory.h"
#include "common/Settings.h"

int main(int argc, char** argv)
{
    UseOneHeap();
    // For an administrator: "krel --autostart=system" writes the machine-wide start-at-boot entry and ends, so that
    // the whole program never has to run as root for it.
    if (argc == 2 && std::strcmp(argv[1], "--autostart=system") == 0) {
        if (SetMachineBootRun())
            return 0;
        std::fprintf(stderr, "krel: cannot write the machine-wide autostart entry (run this as root)\n");
        return 1;
    }
    // The start at log-in: where the session's user manager runs, the program runs as its unit, which starts it
    // again should it ever die.
    if (argc == 2 && std::strcmp(argv[1], "--autostart") == 0 && StartThroughUserManager())
        return 0;
    return RunApplication(argc, argv);
}
