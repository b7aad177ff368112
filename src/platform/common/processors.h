// How many cores this process may run on: the size of the imaging
// runtime's worker pool. Each system answers in its own way.
#pragma once

// At least 1.
unsigned ProcessorCount();
