/*
 * aError.h - names and descriptions of aErr codes.
 */
#pragma once

#include "common/aDefs.h"

/* Name of the code ("aErrTimeout"); codes above 34 give "aErrUnknown". */
const char* aError_GetErrorText(uint32_t code);

/* Description of the code ("Timeout occurred"); codes above 34 give "Unknown error". */
const char* aError_GetErrorDescription(uint32_t code);
