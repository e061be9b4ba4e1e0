// Samples a run could not record because a recording could not grow.
#pragma once

// One warning line on standard error per channel that lost samples in the
// run just stopped. Main thread, after the driver has stopped.
void reportLostSamples();
