#pragma once

// Gives the heap's free pages back to the system a moment after a burst of work ended (a video left, TV output
// ended): a box that plays hundreds of videos would otherwise keep, resident, the high-water mark of every one of
// them, since the C library returns only the free memory at the top of its heaps by itself. Calls close together
// are served once. GUI thread.
void ReturnFreeMemorySoon();
