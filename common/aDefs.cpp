#include "common/aDefs.h"

namespace {

/* Models 4, 5 and 13 to 27 have names; 6 to 12 were never released. */
const char* const kModelNames[] = {
    nullptr,   nullptr,    nullptr,   nullptr,  "QC-Hub2",  "QC-Hub4", nullptr,
    nullptr,   nullptr,    nullptr,   nullptr,  nullptr,    nullptr,   "QC-PD8",
    "QC-Hub8", "QC-Rtr",   "QC-IO16", "QC-Mtr", "QC-Hub3c", "QC-Pwr",  "QC-Eth4",
    "QC-Ser",  "QC-Hub12", "QC-Rly",  "QC-Adc", "QC-Hub3p", "QC-Mux",  "QC-Hub16",
};

}  // namespace

const char* aDefs_GetModelName(uint32_t model) {
    if (model < sizeof(kModelNames) / sizeof(kModelNames[0]) && kModelNames[model]) {
        return kModelNames[model];
    }
    return "Unknown";
}
