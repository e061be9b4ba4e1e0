// The driver-to-host callbacks other than the plain buffer switch.
#pragma once

#include "driver/asio_interface.h"

void sampleRateDidChange(ASIOSampleRate sRate);
ASIOLong asioMessage(ASIOLong selector, ASIOLong value, void* message, double* opt);
ASIOTime* bufferSwitchTimeInfo(ASIOTime* params, ASIOLong doubleBufferIndex, ASIOBool directProcess);
