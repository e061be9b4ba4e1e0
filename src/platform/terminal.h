// Whether standard error is shown on a terminal (where a progress line
// makes sense) rather than a file or a pipe.
#pragma once

bool standardErrorIsTerminal();
