#pragma once

// Gives the heap's free pages back to the system a moment after a burst of work ended (a video left, TV output
// ended, the start made the menu's font ready): a box that plays hundreds of videos would otherwise keep, resident,
// the high-water mark of every one of them, since the C library returns only the free memory at the top of its heaps
// by itself. The pages of the font files the program read are let go too (see ReleaseFontPages). Calls close
// together are served once. GUI thread.
void ReturnFreeMemorySoon();

// One heap for all of the program's threads. The C library gives each new thread that allocates one of up to eight
// heaps per core; the film player's decoding threads, started anew for every film, spread their buffers over all of
// them, and what each heap keeps (fragments around the few blocks still in use) added megabytes with every film,
// which trimming could not return. The program's threads allocate little at once, so they do not wait on the one
// heap. Call first thing in main, before any thread starts. Only this process: the browser it starts keeps its own.
void UseOneHeap();

// Lets go of the pages of the font files mapped into the process (the CJK faces are large files of which drawing
// the menu and the dialog touched megabytes). They stay in the system's file cache, so that drawing again maps them
// back at the cost of a page fault each, without reading the disk; only read-only mappings are let go, whose pages
// are always the file's own. Returns how many mappings were let go.
int ReleaseFontPages();
