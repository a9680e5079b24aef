/*
 * Params.h - turning command-line words into Parameters.
 */
#pragma once

#include <cstdint>

#include "app/Parameters.h"
#include "app/SimpleOpt.h"
#include "common/UpdaterDisplay.h"

enum OptionIdentifier { OPT_HELP = 0, OPT_COMMAND = 1, OPT_PARAMETER = 2, OPT_HTTPS = 3, OPT_HTTP = 4 };

extern const CSimpleOpt::SOption g_rgOptions[];

/* 0 when the command line is acceptable (or help was asked for), 1 otherwise;
 * every problem is reported before returning. */
int _get_params(UpdaterDisplayInterface& display, int argc, char* const* argv, Parameters& params);
int _validate_params(Parameters& params);

/* The whole text in base 16 / base 10, end past it; 0 with end untouched for a
 * text holding any other character or a value beyond 32 bits. */
uint32_t _get_hex_arg(const char* text, const char** end);
uint32_t _get_int_arg(const char* text, const char** end);
