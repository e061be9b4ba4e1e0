// The few samples of a channel the picture needs: the waveform around the
// onset and the whole recording's envelope, so that the samples
// themselves can be released before the picture is drawn.
#pragma once

#include <cstdint>
#include <vector>

#include "analysis/analysis_result.h"

namespace analyse {

// `centre` is the position the window is drawn around (the onset, or the
// first sound of a channel without a usable signal). The envelope is left
// empty unless asked for.
PlotTrace makePlotTrace(const std::vector<int32_t>& samples, int64_t centre, bool envelope);

}  // namespace analyse
