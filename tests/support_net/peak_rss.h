#pragma once

// Peak resident set size of this process in KiB, and a reset of it (Linux), for checks
// that a large download keeps memory flat.
long PeakRssKiB();
void ResetPeakRss();
