#include "common/aDebug.h"

uint8_t aQuillcoreDebuggingEnable = 0;
uint32_t aQuillcoreDebuggingLevel = 0;
